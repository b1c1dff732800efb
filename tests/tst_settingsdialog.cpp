#include "settings/settingsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

bool sameRecord(const SerialSettings &a, const SerialSettings &b)
{
    return a.baud == b.baud && a.baud_text == b.baud_text && a.data_bits == b.data_bits
        && a.data_bits_text == b.data_bits_text && a.parity == b.parity
        && a.parity_text == b.parity_text && a.stop_bits == b.stop_bits
        && a.stop_bits_text == b.stop_bits_text && a.flow_control == b.flow_control
        && a.flow_control_text == b.flow_control_text && a.local_echo == b.local_echo
        && a.normal_mode == b.normal_mode && a.base64 == b.base64 && a.hide_nsm == b.hide_nsm;
}

template<typename T> T *child(const QObject &parent, const char *name)
{
    T *found = parent.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qWarning("missing %s", name);
    return found;
}

using Items = QList<QPair<QString, int>>;

Items itemsOf(const QComboBox *box)
{
    Items items;
    for (int i = 0; i < box->count(); ++i)
        items.append({ box->itemText(i), box->itemData(i).toInt() });
    return items;
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void recordAfterConstruction();
    void form();
    void applyRefreshesAndHides();
    void customBaudRatePolicy();
    void idleSlotsAndSignals();
};

void TestSettingsDialog::recordAfterConstruction()
{
    SettingsDialog dialog;
    QVERIFY(dialog.isHidden());

    const SerialSettings s = dialog.serialSettings();
    QCOMPARE(s.baud, 115200);
    QCOMPARE(s.baud_text, QString("115200"));
    QCOMPARE(s.data_bits, 8);
    QCOMPARE(s.data_bits_text, QString("8"));
    QCOMPARE(s.parity, 0);
    QCOMPARE(s.parity_text, QString("None"));
    QCOMPARE(s.stop_bits, 1);
    QCOMPARE(s.stop_bits_text, QString("1"));
    QCOMPARE(s.flow_control, 0);
    QCOMPARE(s.flow_control_text, QString("None"));
    QCOMPARE(s.local_echo, true);
    QCOMPARE(s.normal_mode, true);
    QCOMPARE(s.base64, false);
    QCOMPARE(s.hide_nsm, false);

    // The shown baud text and the stored rate agree.
    auto *baud = child<QComboBox>(dialog, "baudRateBox");
    QVERIFY(baud);
    QCOMPARE(baud->currentText(), s.baud_text);
}

void TestSettingsDialog::form()
{
    SettingsDialog dialog;
    QCOMPARE(dialog.objectName(), QString("SettingsDialog"));
    QCOMPARE(dialog.windowTitle(), QString("Settings"));
    QCOMPARE(dialog.size(), QSize(1020, 640));

    auto *outer = child<QGridLayout>(dialog, "gridLayout_3");
    auto *box = child<QGroupBox>(dialog, "parametersBox");
    auto *grid = child<QGridLayout>(dialog, "gridLayout_2");
    auto *buttons = child<QHBoxLayout>(dialog, "horizontalLayout");
    auto *ok = child<QPushButton>(dialog, "applyButton");
    QVERIFY(outer && box && grid && buttons && ok);
    QCOMPARE(dialog.layout(), outer);
    QCOMPARE(box->layout(), grid);
    QCOMPARE(box->title(), QString("Select Port Parameters"));
    QCOMPARE(ok->text(), QString("OK"));

    int row, column, rowSpan, columnSpan;
    outer->getItemPosition(outer->indexOf(box), &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({ row, column, rowSpan, columnSpan }), QList<int>({ 0, 0, 1, 1 }));
    int buttonsIndex = -1;
    for (int i = 0; i < outer->count(); ++i) {
        if (outer->itemAt(i)->layout() == buttons)
            buttonsIndex = i;
    }
    QVERIFY(buttonsIndex >= 0);
    outer->getItemPosition(buttonsIndex, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({ row, column, rowSpan, columnSpan }), QList<int>({ 6, 0, 1, 4 }));
    QCOMPARE(buttons->count(), 2);
    QVERIFY(buttons->itemAt(0)->spacerItem());
    QCOMPARE(buttons->itemAt(0)->sizeHint(), QSize(96, 20));
    QVERIFY(buttons->itemAt(0)->expandingDirections() & Qt::Horizontal);
    QCOMPARE(buttons->itemAt(1)->widget(), ok);

    const struct
    {
        const char *label;
        const char *text;
        const char *list;
    } rows[] = { { "baudRateLabel", "BaudRate:", "baudRateBox" },
                 { "dataBitsLabel", "Data bits:", "dataBitsBox" },
                 { "parityLabel", "Parity:", "parityBox" },
                 { "stopBitsLabel", "Stop bits:", "stopBitsBox" },
                 { "flowControlLabel", "Flow control:", "flowControlBox" } };
    for (int r = 0; r < 5; ++r) {
        auto *label = child<QLabel>(dialog, rows[r].label);
        auto *list = child<QComboBox>(dialog, rows[r].list);
        QVERIFY(label && list);
        QCOMPARE(label->text(), QString(rows[r].text));
        QCOMPARE(grid->itemAtPosition(r, 0)->widget(), label);
        QCOMPARE(grid->itemAtPosition(r, 1)->widget(), list);
        QVERIFY(!list->isEditable());
    }
    QVERIFY(!grid->itemAtPosition(5, 0));
    QVERIFY(!grid->itemAtPosition(5, 1));

    const struct
    {
        const char *name;
        const char *text;
        bool checked;
    } checks[] = { { "localEchoCheckBox", "Local echo", true },
                   { "NormalModeCheckBox", "Normal mode", true },
                   { "Base64CheckBox", "Base64", false },
                   { "ShowNSMCheckBox", "Hide N.S.M.", false } };
    for (int i = 0; i < 4; ++i) {
        auto *check = child<QCheckBox>(dialog, checks[i].name);
        QVERIFY(check);
        QCOMPARE(check->text(), QString(checks[i].text));
        QCOMPARE(check->isChecked(), checks[i].checked);
        QCOMPARE(grid->itemAtPosition(6 + i, 0)->widget(), check);
    }
    QLayoutItem *spacer = grid->itemAtPosition(10, 0);
    QVERIFY(spacer && spacer->spacerItem());
    QCOMPARE(spacer->sizeHint(), QSize(20, 40));
    QVERIFY(spacer->expandingDirections() & Qt::Vertical);

    // Values are QSerialPort's codes, in the order the lists show them.
    QCOMPARE(itemsOf(child<QComboBox>(dialog, "baudRateBox")), Items({ { "115200", 115200 } }));
    QCOMPARE(itemsOf(child<QComboBox>(dialog, "dataBitsBox")), Items({ { "8", 8 } }));
    QCOMPARE(itemsOf(child<QComboBox>(dialog, "parityBox")),
             Items({ { "None", 0 }, { "Even", 2 }, { "Odd", 3 }, { "Mark", 5 }, { "Space", 4 } }));
    QCOMPARE(itemsOf(child<QComboBox>(dialog, "stopBitsBox")),
             Items({ { "1", 1 }, { "1.5", 3 }, { "2", 2 } }));
    QCOMPARE(itemsOf(child<QComboBox>(dialog, "flowControlBox")),
             Items({ { "None", 0 }, { "RTS/CTS", 1 }, { "XON/XOFF", 2 } }));
    QCOMPARE(child<QComboBox>(dialog, "baudRateBox")->insertPolicy(), QComboBox::NoInsert);
}

void TestSettingsDialog::applyRefreshesAndHides()
{
    QPointer<SettingsDialog> dialog = new SettingsDialog;
    const SerialSettings initial = dialog->serialSettings();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));

    auto *parity = child<QComboBox>(*dialog, "parityBox");
    auto *stop = child<QComboBox>(*dialog, "stopBitsBox");
    auto *flow = child<QComboBox>(*dialog, "flowControlBox");
    auto *echo = child<QCheckBox>(*dialog, "localEchoCheckBox");
    auto *nsm = child<QCheckBox>(*dialog, "ShowNSMCheckBox");
    QVERIFY(parity && stop && flow && echo && nsm);
    parity->setCurrentIndex(3);
    stop->setCurrentIndex(1);
    flow->setCurrentIndex(2);
    echo->setChecked(false);
    nsm->setChecked(true);

    // Choices reach the record only through OK.
    QVERIFY(sameRecord(dialog->serialSettings(), initial));

    QTest::mouseClick(child<QPushButton>(*dialog, "applyButton"), Qt::LeftButton);
    QVERIFY(dialog);
    QVERIFY(dialog->isHidden());
    const SerialSettings s = dialog->serialSettings();
    QCOMPARE(s.parity, 5);
    QCOMPARE(s.parity_text, QString("Mark"));
    QCOMPARE(s.stop_bits, 3);
    QCOMPARE(s.stop_bits_text, QString("1.5"));
    QCOMPARE(s.flow_control, 2);
    QCOMPARE(s.flow_control_text, QString("XON/XOFF"));
    QCOMPARE(s.local_echo, false);
    QCOMPARE(s.hide_nsm, true);
    QCOMPARE(s.normal_mode, true);
    QCOMPARE(s.base64, false);
    QCOMPARE(s.baud, 115200);
    QCOMPARE(s.data_bits, 8);

    // Hiding is not closing: the dialog stays alive, even after the event
    // loop has run, and a second OK on an unchanged form changes nothing.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog);
    dialog->apply();
    QVERIFY(dialog->isHidden());
    QVERIFY(sameRecord(dialog->serialSettings(), s));

    // Leaving without OK keeps the last applied record.
    dialog->show();
    parity->setCurrentIndex(1);
    dialog->reject();
    QVERIFY(sameRecord(dialog->serialSettings(), s));

    delete dialog;
}

void TestSettingsDialog::customBaudRatePolicy()
{
    SettingsDialog dialog;
    auto *baud = child<QComboBox>(dialog, "baudRateBox");
    QVERIFY(baud);

    dialog.checkCustomBaudRatePolicy(0);
    QVERIFY(!baud->isEditable());

    // An item without a rate opens the box for typing, bounded by the
    // dialog's validator.
    baud->addItem(QStringLiteral("Custom"));
    dialog.checkCustomBaudRatePolicy(1);
    QVERIFY(baud->isEditable());
    QCOMPARE(baud->currentText(), QString());
    QVERIFY(baud->lineEdit());
    auto *validator = qobject_cast<const QIntValidator *>(baud->lineEdit()->validator());
    QVERIFY(validator);
    QCOMPARE(validator->parent(), &dialog);
    QCOMPARE(validator->bottom(), 0);
    QCOMPARE(validator->top(), 4000000);
    int pos = 0;
    QString typed = QStringLiteral("4000001");
    QCOMPARE(validator->validate(typed, pos), QValidator::Intermediate);
    typed = QStringLiteral("57600");
    QCOMPARE(validator->validate(typed, pos), QValidator::Acceptable);
    QCOMPARE(baud->count(), 2);

    dialog.checkCustomBaudRatePolicy(0);
    QVERIFY(!baud->isEditable());
    QCOMPARE(baud->currentText(), QString("115200"));
}

void TestSettingsDialog::idleSlotsAndSignals()
{
    SettingsDialog dialog;
    const SerialSettings before = dialog.serialSettings();
    QSignalSpy table(&dialog, &SettingsDialog::call_table_query);
    QSignalSpy rx(&dialog, &SettingsDialog::call_send_rx_list);
    QSignalSpy reset(&dialog, &SettingsDialog::call_reset);
    QSignalSpy config(&dialog, &SettingsDialog::call_config_serial);

    // Other code reaches these by signature, so look them up the same way.
    const QMetaObject *mo = dialog.metaObject();
    const char *const slotNames[] = { "showPortInfo(int)",
                                      "apply()",
                                      "checkCustomBaudRatePolicy(int)",
                                      "checkCustomDevicePathPolicy(int)",
                                      "updateSettings()",
                                      "readReply(QByteArray,QByteArray)" };
    int previous = -1;
    for (const char *slot : slotNames) {
        const int index = mo->indexOfSlot(slot);
        QVERIFY2(index > previous, slot);
        previous = index;
    }
    for (const char *signal :
         { "call_table_query()", "call_send_rx_list()", "call_reset()", "call_config_serial()" })
        QVERIFY2(mo->indexOfSignal(signal) >= 0, signal);

    for (int idx : { -1, 0, 7, 100000 }) {
        dialog.showPortInfo(idx);
        dialog.checkCustomDevicePathPolicy(idx);
    }
    dialog.readReply(QByteArray(), QByteArray());
    dialog.readReply(QByteArray("$PHLV,000000,x\r\n"), QByteArray(70000, '\0'));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "readReply", Q_ARG(QByteArray, "a"),
                                      Q_ARG(QByteArray, "b")));

    QVERIFY(dialog.isHidden());
    QVERIFY(sameRecord(dialog.serialSettings(), before));
    QVERIFY(!child<QComboBox>(dialog, "baudRateBox")->isEditable());
    QCOMPARE(table.count() + rx.count() + reset.count() + config.count(), 0);
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
