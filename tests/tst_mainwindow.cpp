// The window as a user first meets it: the selection page, the form, the
// menu, the about box and a clean exit.
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void opensOnSelectionPage();
    void formGeometry_data();
    void formGeometry();
    void formTextsAndTooltips();
    void menuOffersProductsAndAbout();
    void pagesAndSerialPort();
    void closesCleanlyWithoutGateway();
};

static QString statusText(const MainWindow &w)
{
    const auto labels = w.statusBar()->findChildren<QLabel *>();
    return labels.isEmpty() ? QString() : labels.first()->text();
}

void TestMainWindow::opensOnSelectionPage()
{
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tavix Gateway Tool v1.1 by Halvane"));
    auto *pages = w.findChild<QStackedWidget *>("stackedWidget");
    auto *tabs = w.findChild<QTabWidget *>("tabWidget");
    // The form leaves page 2 and tab 1 current; the window starts on page 0.
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("select"));
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(statusText(w), QStringLiteral(" Select your product by clicking on Sernix or Torvel"));
    QVERIFY(w.findChild<QWidget *>("sernix")->children().isEmpty());

    // Mode list filled, first mode described with its rate, in green.
    auto *modes = w.findChild<QComboBox *>("selectModeBox");
    QCOMPARE(modes->count(), 11);
    QCOMPARE(modes->itemText(9), QStringLiteral("14 - Full Mode"));
    auto *description = w.findChild<QLabel *>("conversionList");
    QVERIFY(
        description->text().startsWith(QStringLiteral("BaudRate: 4800\r\n\r\nTalker ID: Mixed")));
    QCOMPARE(description->styleSheet(), QStringLiteral("QLabel { color : green; }"));
    auto *change = w.findChild<QPushButton *>("changeModeButton");
    QCOMPARE(change->palette().color(QPalette::Active, QPalette::Button), QColor(Qt::green));

    for (const char *name : { "dataLabel", "heartbeatLabelDataTab", "heartbeatLabelConfigTab" })
        QVERIFY2(w.findChild<QLabel *>(name)->text().isEmpty(), name);

    // The product pictures, at their own size, as the buttons' only content.
    auto *sernix = w.findChild<QPushButton *>("SernixButton");
    auto *torvel = w.findChild<QPushButton *>("TorvelButton");
    QCOMPARE(sernix->iconSize(), QSize(217, 217));
    QCOMPARE(torvel->iconSize(), QSize(283, 217));
    QCOMPARE(sernix->icon().availableSizes().value(0), QSize(217, 217));
    QCOMPARE(torvel->icon().availableSizes().value(0), QSize(283, 217));
    QVERIFY(sernix->text().isEmpty() && torvel->text().isEmpty());

    // The console fills the data tab's left-hand column.
    auto *console = w.findChild<QPlainTextEdit *>();
    QVERIFY(console);
    QCOMPARE(console->parentWidget()->objectName(), QStringLiteral("verticalLayoutWidget"));
    QCOMPARE(w.findChild<QVBoxLayout *>("dataBox")->indexOf(console), 0);
    QCOMPARE(console->font().family(), QStringLiteral("Courier"));
    QVERIFY(console->font().italic());
    QCOMPARE(console->font().weight(), int(QFont::Light));
}

void TestMainWindow::formGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("stackedWidget") << "stackedWidget" << QRect(0, 0, 1200, 768);
    QTest::newRow("TorvelButton") << "TorvelButton" << QRect(430, 230, 283, 217);
    QTest::newRow("SernixButton") << "SernixButton" << QRect(90, 230, 217, 217);
    QTest::newRow("tabWidget") << "tabWidget" << QRect(0, 0, 1200, 768);
    QTest::newRow("selectMode") << "selectMode" << QRect(5, 5, 400, 400);
    QTest::newRow("FunctionsBox") << "FunctionsBox" << QRect(410, 5, 380, 400);
    QTest::newRow("verticalLayoutWidget") << "verticalLayoutWidget" << QRect(10, 10, 571, 561);
    QTest::newRow("dataStartStopButton") << "dataStartStopButton" << QRect(600, 10, 181, 30);
    QTest::newRow("tx_limitButtonDataTab") << "tx_limitButtonDataTab" << QRect(600, 50, 181, 30);
    QTest::newRow("restartButtonfromData") << "restartButtonfromData" << QRect(600, 90, 181, 30);
    QTest::newRow("logStartStopButton") << "logStartStopButton" << QRect(600, 250, 181, 30);
    QTest::newRow("heartbeatLabelDataTab") << "heartbeatLabelDataTab" << QRect(600, 300, 181, 231);
    QTest::newRow("lineEditDataTab") << "lineEditDataTab" << QRect(10, 580, 571, 31);
    QTest::newRow("sendButtonDataTab") << "sendButtonDataTab" << QRect(600, 580, 181, 30);
}

void TestMainWindow::formGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    MainWindow w;
    auto *widget = w.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
}

void TestMainWindow::formTextsAndTooltips()
{
    MainWindow w;
    auto button = [&w](const char *name) { return w.findChild<QPushButton *>(name); };
    const QString pre = QStringLiteral("<html><head/><body><p>");
    const QString post = QStringLiteral("</p></body></html>");
    QCOMPARE(button("SernixButton")->toolTip(),
             pre + "<span style=\" font-weight:600;\">Sernix</span>" + post);
    QCOMPARE(button("TorvelButton")->toolTip(),
             pre + "<span style=\" font-weight:600;\">Torvel</span>" + post);
    QCOMPARE(button("dataStartStopButton")->toolTip(),
             pre + "Start/Stop NMEA Data Output from the Gateway" + post);
    QCOMPARE(button("restartButtonfromData")->toolTip(), pre + "Restart the Gateway" + post);
    QCOMPARE(button("tx_limitButtonDataTab")->toolTip(),
             pre + "Switch TX Time Limit On and OFF" + post);
    QCOMPARE(button("logStartStopButton")->toolTip(),
             pre + "Start/Stop logging data to CSV file" + post);
    // Of the two Restart buttons only the data tab's explains itself.
    QVERIFY(button("restartButton")->toolTip().isEmpty());
    QVERIFY(button("sendButtonDataTab")->toolTip().isEmpty());

    QCOMPARE(button("dataStartStopButton")->text(), QStringLiteral("CMD ON"));
    QCOMPARE(button("tx_limitButtonConfigTab")->text(), QStringLiteral("Switch TX Time Limit OFF"));
    QCOMPARE(button("tx_limitButtonDataTab")->text(), QStringLiteral("TX Limit OFF"));
    QCOMPARE(button("initButtonConfigTab")->text(), QStringLiteral("Initialise"));
    QCOMPARE(button("changeModeButton")->text(), QStringLiteral("Change Mode"));
    QCOMPARE(button("logStartStopButton")->text(), QStringLiteral("LOG ON"));
    QCOMPARE(w.findChild<QGroupBox *>("selectMode")->title(), QStringLiteral("Conversion Mode:"));
    QCOMPARE(w.findChild<QGroupBox *>("FunctionsBox")->title(), QStringLiteral("Functions:"));
    auto *tabs = w.findChild<QTabWidget *>("tabWidget");
    QCOMPARE(tabs->tabText(0), QStringLiteral("Config"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Data"));
    auto *data_label = w.findChild<QLabel *>("dataLabel");
    QCOMPARE(data_label->font().family(), QStringLiteral("Courier New"));
    QVERIFY(data_label->font().bold());
    QCOMPARE(data_label->alignment() & (Qt::AlignLeft | Qt::AlignBottom),
             Qt::AlignLeft | Qt::AlignBottom);
    QCOMPARE(w.font().family(), QStringLiteral("Arial"));
    QCOMPARE(w.minimumSize(), QSize(1024, 768));
}

void TestMainWindow::menuOffersProductsAndAbout()
{
    MainWindow w;
    const QList<QAction *> menus = w.menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus.at(0)->text(), QStringLiteral("&Gateway"));
    QCOMPARE(menus.at(1)->text(), QStringLiteral("&Help"));
    QStringList gateway_items;
    for (QAction *a : menus.at(0)->menu()->actions())
        gateway_items << a->text();
    QCOMPARE(gateway_items, QStringList({ "Sernix", "Torvel" }));
    auto *about = w.findChild<QAction *>("actionAbout");
    QCOMPARE(about->shortcut(), QKeySequence(QStringLiteral("Alt+A")));
    QVERIFY(menus.at(1)->menu()->actions().contains(about));

    // The about box opens over the window.
    QWidget *box_parent = nullptr;
    QString box_title;
    QString box_text;
    QTimer::singleShot(0, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            box_parent = box->parentWidget();
            box_title = box->windowTitle();
            box_text = box->text();
            box->accept();
        }
    });
    about->trigger();
    QCOMPARE(box_parent, &w);
    QCOMPARE(box_title, QStringLiteral("About Tavix Gateway Tool v1.1 by Halvane"));
    QCOMPARE(box_text, QStringLiteral("<b>Tavix Gateway Tool for Sernix and Torvel by Yllenor<b>"));
}

void TestMainWindow::pagesAndSerialPort()
{
    Pty pty;
    QVERIFY(pty.isValid());
    MainWindow w;
    w.setPortLister([&pty] { return QList<tavix::SerialPortEntry>{ { pty.path, "FTDI" } }; });
    auto *port = w.findChild<QSerialPort *>();
    auto *pages = w.findChild<QStackedWidget *>("stackedWidget");
    w.loadSernix();
    QVERIFY(port->isOpen());
    const QString probing = statusText(w);
    QCOMPARE(probing, QStringLiteral(" Trying to connect Sernix via serial to USB 4800 baud"));

    // showInitDisplay changes the page and nothing else.
    pages->setCurrentIndex(2);
    w.showInitDisplay();
    QCOMPARE(pages->currentIndex(), 0);
    QVERIFY(port->isOpen());
    QCOMPARE(statusText(w), probing);

    // Going back closes the port and shows the prompt; again, with the port
    // closed, only page and text change.
    pages->setCurrentIndex(2);
    w.go_back_to_selectStackedWidget();
    QVERIFY(!port->isOpen());
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(statusText(w), QStringLiteral(" Select your product by clicking on Sernix or Torvel"));
    pages->setCurrentIndex(2);
    w.go_back_to_selectStackedWidget();
    QVERIFY(!port->isOpen());
    QCOMPARE(pages->currentIndex(), 0);
}

void TestMainWindow::closesCleanlyWithoutGateway()
{
    auto *w = new MainWindow;
    w->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<MainWindow> alive(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTimer::singleShot(50, w, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
    QTRY_VERIFY(alive.isNull());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
