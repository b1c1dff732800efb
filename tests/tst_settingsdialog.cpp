#include "settings/settingsdialog.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

// The whole record in one comparable line.
QString describe(const SerialSettings &s)
{
    return QStringList{ QString::number(s.baud),
                        s.baud_text,
                        QString::number(s.data_bits),
                        s.data_bits_text,
                        QString::number(s.parity),
                        s.parity_text,
                        QString::number(s.stop_bits),
                        s.stop_bits_text,
                        QString::number(s.flow_control),
                        s.flow_control_text,
                        QString::number(s.local_echo) + QString::number(s.normal_mode)
                            + QString::number(s.base64) + QString::number(s.hide_nsm) }
        .join(QLatin1Char('|'));
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void recordAfterConstructionAndApply();
    void customBaudRatePolicy();
};

void TestSettingsDialog::recordAfterConstructionAndApply()
{
    QPointer<SettingsDialog> dialog = new SettingsDialog;
    // The first item of every list and the form's check boxes; the rate shown
    // is the rate stored.
    QCOMPARE(describe(dialog->serialSettings()),
             QStringLiteral("115200|115200|8|8|0|None|1|1|0|None|1100"));
    QCOMPARE(child<QComboBox>(*dialog, "baudRateBox")->currentText(), QStringLiteral("115200"));

    dialog->show();
    child<QComboBox>(*dialog, "parityBox")->setCurrentIndex(3);
    child<QComboBox>(*dialog, "stopBitsBox")->setCurrentIndex(1);
    child<QComboBox>(*dialog, "flowControlBox")->setCurrentIndex(2);
    child<QCheckBox>(*dialog, "localEchoCheckBox")->setChecked(false);
    child<QCheckBox>(*dialog, "ShowNSMCheckBox")->setChecked(true);
    // Choices reach the record only through OK, which hides the dialog and
    // leaves it alive.
    QCOMPARE(describe(dialog->serialSettings()),
             QStringLiteral("115200|115200|8|8|0|None|1|1|0|None|1100"));
    QTest::mouseClick(child<QPushButton>(*dialog, "applyButton"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog);
    QVERIFY(dialog->isHidden());
    const QString applied = QStringLiteral("115200|115200|8|8|5|Mark|3|1.5|2|XON/XOFF|0101");
    QCOMPARE(describe(dialog->serialSettings()), applied);

    // A second OK on an unchanged form changes nothing.
    dialog->apply();
    QCOMPARE(describe(dialog->serialSettings()), applied);
    delete dialog;
}

void TestSettingsDialog::customBaudRatePolicy()
{
    SettingsDialog dialog;
    auto *baud = child<QComboBox>(dialog, "baudRateBox");
    dialog.checkCustomBaudRatePolicy(0);
    QVERIFY(!baud->isEditable());

    // An item without a rate opens the box for typing, bounded by the
    // dialog's validator; typed text never becomes an item.
    baud->addItem(QStringLiteral("Custom"));
    dialog.checkCustomBaudRatePolicy(1);
    QVERIFY(baud->isEditable());
    QCOMPARE(baud->currentText(), QString());
    QTest::keyClicks(baud->lineEdit(), QStringLiteral("40000019"));
    QCOMPARE(baud->currentText(), QStringLiteral("4000001"));
    baud->lineEdit()->clear();
    QTest::keyClicks(baud->lineEdit(), QStringLiteral("57600"));
    QTest::keyClick(baud->lineEdit(), Qt::Key_Return);
    QCOMPARE(baud->count(), 2);

    dialog.checkCustomBaudRatePolicy(0);
    QVERIFY(!baud->isEditable());
    QCOMPARE(baud->currentText(), QStringLiteral("115200"));
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
