// The window: the selection page as a user first meets it, moving between
// pages and a clean exit; the working page driven by received lines; and the
// exact bytes every button and slot sends through a real link.
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QStackedWidget>
#include <QTabWidget>

namespace {

const QString select_text = QStringLiteral(" Select your product by clicking on Sernix or Torvel");

// A window whose network link is a loopback peer that records every byte.
struct TcpWindow
{
    LoopbackPeer peer;
    MainWindow w;

    TcpWindow()
    {
        w.setTorvelEndpoint(QStringLiteral("127.0.0.1"), peer.port());
        w.loadTorvel();
    }
    // Waits until the peer has the connection and the restart sentence.
    bool ready()
    {
        const bool ok
            = QTest::qWaitFor([this] { return peer.client && peer.bytes == wire::offline; }, 3000);
        peer.bytes.clear();
        return ok;
    }
    // What the peer got, once it is at least as long as expected.
    QByteArray sent(const QByteArray &expected)
    {
        (void)QTest::qWaitFor([&] { return peer.bytes.size() >= expected.size(); }, 2000);
        const QByteArray got = peer.bytes;
        peer.bytes.clear();
        return got;
    }
    QByteArray clicked(QPushButton *button, const QByteArray &expected)
    {
        button->click();
        return sent(expected);
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void opensOnSelectionPage();
    void pagesAndSerialPort();
    void nothingPassesBeforeIdentity();
    void identityReply_data();
    void identityReply();
    void statusSentences();
    void rawModeFollowsStatus();
    void commandBytes();
    void togglesFollowClicksAndAcknowledgements();
    void followUpsAfterHalfASecond();
    void modeDescriptionFollowsGateway();
    void closesCleanlyWithoutGateway();
};

void TestMainWindow::opensOnSelectionPage()
{
    MainWindow w;
    // The form leaves page 2 and tab 1 current; the window starts on page 0.
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
    QCOMPARE(child<QTabWidget>(w, "tabWidget")->currentIndex(), 1);
    QCOMPARE(statusText(w), select_text);
    // The tool's own icon for the task bar, from the bundle when none is installed.
    QCOMPARE(w.windowIcon().pixmap(48).size(), QSize(48, 48));

    // Mode list filled, first mode described with its rate, in green.
    QCOMPARE(child<QComboBox>(w, "selectModeBox")->count(), 11);
    auto *description = child<QLabel>(w, "conversionList");
    QVERIFY(
        description->text().startsWith(QStringLiteral("BaudRate: 4800\r\n\r\nTalker ID: Mixed")));
    QCOMPARE(description->styleSheet(), QStringLiteral("QLabel { color : green; }"));
    QCOMPARE(child<QPushButton>(w, "changeModeButton")->palette().color(QPalette::Button),
             QColor(Qt::green));

    // The about box opens over the window.
    ModalCloser closer;
    child<QAction>(w, "actionAbout")->trigger();
    QCOMPARE(closer.parents, QList<QWidget *>{ &w });
    QCOMPARE(closer.titles, QStringList{ "About Tavix Gateway Tool v1.1 by Halvane" });
    QCOMPARE(closer.texts,
             QStringList{ "<b>Tavix Gateway Tool for Sernix and Torvel by Yllenor<b>" });
}

void TestMainWindow::pagesAndSerialPort()
{
    Pty pty;
    QVERIFY(pty.isValid());
    MainWindow w;
    w.setPortLister(adapterAt(pty.path));
    auto *port = w.findChild<QSerialPort *>();
    auto *pages = child<QStackedWidget>(w, "stackedWidget");
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
    QCOMPARE(statusText(w), select_text);
    pages->setCurrentIndex(2);
    w.go_back_to_selectStackedWidget();
    QVERIFY(!port->isOpen());
    QCOMPARE(pages->currentIndex(), 0);
}

void TestMainWindow::nothingPassesBeforeIdentity()
{
    MainWindow w;
    child<QPushButton>(w, "logStartStopButton")->click();
    for (const QByteArray &line :
         { wire::status, QByteArray("$PHLV,ACK,TX_LIMIT,OFF\r\n"), wire::raw_frame })
        w.process_line(line);
    QVERIFY(consoleText(w).isEmpty());
    QCOMPARE(w.state().log_lines.size(), 0);
    QVERIFY(!w.state().tx_limit_off);
    QVERIFY(child<QLabel>(w, "heartbeatLabelDataTab")->text().isEmpty());

    // After identity: lines are shown and logged; a Sernix identity is not
    // even shown, and lines that are no sentence are dropped.
    w.process_line(wire::sernix_14);
    QVERIFY(consoleText(w).isEmpty());
    w.process_line(wire::status);
    w.process_line("garbage without a sentence start\r\n");
    w.process_line(QByteArray());
    w.process_line(wire::raw_frame);
    QCOMPARE(consoleText(w), QStringLiteral("$PHLV,000000,12,0,5,3601,34\n!PHLV,127250,1,AAAA\n"));
    QCOMPARE(w.state().log_lines.size(), 2);
}

void TestMainWindow::identityReply_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("index"); // -1: the list keeps its row
    QTest::addColumn<bool>("init_visible");
    QTest::addColumn<QString>("status");

    QTest::newRow("sernix 14") << wire::sernix_14 << 14 << 9 << false
                               << " Sernix is connected in conversion mode: 14";
    QTest::newRow("sernix 15") << wire::sernix_15 << 15 << 10 << true
                               << " Sernix is connected in conversion mode: 15";
    QTest::newRow("torvel 3") << wire::torvel_3 << 3 << 3 << false
                              << " Torvel is connected in conversion mode: 3";
    QTest::newRow("mode 9 keeps row") << QByteArray("$PHLV,Halvane_Torvel:9*00\r\n") << 9 << -1
                                      << false << " Torvel is connected in conversion mode: 9";
}

void TestMainWindow::identityReply()
{
    QFETCH(QByteArray, line);
    QFETCH(int, mode);
    QFETCH(int, index);
    QFETCH(bool, init_visible);
    QFETCH(QString, status);

    MainWindow w;
    w.show();
    auto *modes = child<QComboBox>(w, "selectModeBox");
    modes->setCurrentIndex(5);
    w.process_line(line);

    QCOMPARE(w.state().conversion_mode, mode);
    QCOMPARE(modes->currentIndex(), index < 0 ? 5 : index);
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 2);
    QCOMPARE(child<QTabWidget>(w, "tabWidget")->currentIndex(), 0);
    QCOMPARE(child<QPushButton>(w, "initButtonConfigTab")->isVisible(), init_visible);
    QCOMPARE(statusText(w), status);
    // Only the Torvel's identity is shown in the console.
    const bool sernix = status.contains("Sernix");
    QCOMPARE(consoleText(w).isEmpty(), sernix);
    QCOMPARE(w.state().sernix_identified, sernix);
    QCOMPARE(w.state().torvel_identified, !sernix);
    // The button is green exactly when the list shows the reported mode.
    QCOMPARE(child<QPushButton>(w, "changeModeButton")->palette().color(QPalette::Button),
             index < 0 ? QColor(Qt::red) : QColor(Qt::green));
}

void TestMainWindow::statusSentences()
{
    MainWindow w;
    w.process_line(wire::torvel_3);
    w.process_line(wire::status);
    QCOMPARE(statusText(w),
             QStringLiteral("Bus Load: 12, Devices: 5, Uptime: 3601 sec, Address: 34\r\n"));
    const QString four
        = QStringLiteral("Bus Load: 12\r\nDevices: 5\r\nUptime: 3601 sec\r\nAddress: 34\r\n");
    QCOMPARE(child<QLabel>(w, "heartbeatLabelDataTab")->text(), four);
    QCOMPARE(child<QLabel>(w, "heartbeatLabelConfigTab")->text(), four);

    // A short sentence reaches the console but leaves the labels alone.
    w.process_line("$PHLV,000000,99,0\r\n");
    QCOMPARE(child<QLabel>(w, "heartbeatLabelDataTab")->text(), four);
    QVERIFY(consoleText(w).endsWith("$PHLV,000000,99,0\n"));

    // Fields are shown as the characters they are, never as markup.
    w.process_line("$PHLV,000000,<img src=x>,0,<b>5</b>,1,2\r\n");
    QCOMPARE(child<QLabel>(w, "heartbeatLabelDataTab")->textFormat(), Qt::PlainText);
    QCOMPARE(child<QLabel>(w, "heartbeatLabelConfigTab")->textFormat(), Qt::PlainText);
    QCOMPARE(statusLabel(w)->textFormat(), Qt::PlainText);
    QCOMPARE(
        statusText(w),
        QStringLiteral("Bus Load: <img src=x>, Devices: <b>5</b>, Uptime: 1 sec, Address: 2\r\n"));

    // A write on the serial path blanks both labels, even with no port open
    // to take it; the console shows the sentence all the same.
    w.send_tx_limit();
    QCOMPARE(child<QLabel>(w, "heartbeatLabelDataTab")->text(), QStringLiteral(" "));
    QCOMPARE(child<QLabel>(w, "heartbeatLabelConfigTab")->text(), QStringLiteral(" "));
    QVERIFY(consoleText(w).endsWith("$PHLV,TX_LIMIT,OFF\n"));
}

void TestMainWindow::rawModeFollowsStatus()
{
    MainWindow w;
    auto *init = child<QPushButton>(w, "initButtonConfigTab");
    auto *change = child<QPushButton>(w, "changeModeButton");
    auto *label = child<QLabel>(w, "heartbeatLabelDataTab");

    // Outside mode 15 the empty status changes nothing and data never
    // initialises.
    w.process_line(wire::sernix_14);
    w.process_line(wire::status);
    w.process_line(wire::empty_status);
    QVERIFY(!w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("Initialise"));

    w.process_line(wire::sernix_15);
    const QString labels_before = label->text();
    w.process_line(wire::empty_status);
    QVERIFY(!w.state().raw_mode);
    QCOMPARE(label->text(), labels_before);

    w.process_line(wire::status);
    QVERIFY(w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("De-init"));
    QVERIFY(!change->isEnabled());
    w.process_line(wire::status);
    QVERIFY(w.state().raw_mode);

    w.process_line(wire::empty_status);
    QVERIFY(!w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("Initialise"));
    QVERIFY(change->isEnabled());
    // The empty status kept the labels of the last status with data.
    QVERIFY(label->text().startsWith("Bus Load: 12"));
}

void TestMainWindow::commandBytes()
{
    TcpWindow t;
    QVERIFY(t.ready());
    const QList<QPair<const char *, QByteArray>> commands = {
        { "de_init_Gateway", wire::restart },
        { "init_raw_mode", "$PHLV,TAVIX_INIT,ALL,\r\n" },
        { "send_iso_request", "!PHLV,59904,255,AO4A\r\n" },
        { "send_tx_limit", "$PHLV,TX_LIMIT,OFF\r\n" },
        { "reset", "$PHLV,TAVIX_RESET,\r\n" },
        { "send_restart_command", wire::offline },
        { "send_error_request", "$PHLV,GET_TAVIX_ERRORS\r\n" },
        { "send_show_devices", "$PHLV,SHOW_DEVICES\r\n" },
        { "send_init_command", "$PHLV,TAVIX_INIT,NORMAL\r\n" },
        { "send_init_command_allmode", "$PHLV,TAVIX_INIT,ALL,\r\n" },
    };
    for (const auto &command : commands) {
        QVERIFY(QMetaObject::invokeMethod(&t.w, command.first));
        QCOMPARE(t.sent(command.second), command.second);
        // What was sent shows in the console too.
        QVERIFY(
            consoleText(t.w).endsWith(QString::fromLatin1(command.second).replace("\r\n", "\n")));
    }
    // No device addresses known: nothing to ask.
    t.w.send_adiso_request();
    // Argument-taking and typed-line slots; the network path leaves the
    // status labels alone.
    t.w.send_rxtxlist_request(35);
    QCOMPARE(t.sent("!PHLV,59904,35,AO4B\r\n"), QByteArray("!PHLV,59904,35,AO4B\r\n"));
    QVERIFY(child<QLabel>(t.w, "heartbeatLabelDataTab")->text().isEmpty());
    auto *send = child<QPushButton>(t.w, "sendButtonDataTab");
    QCOMPARE(t.clicked(send, "\r\n"), QByteArray("\r\n"));
    child<QLineEdit>(t.w, "lineEditDataTab")->setText(QStringLiteral("$PHLV,ÄÖ"));
    QCOMPARE(t.clicked(send, "$PHLV,\xc3\x84\xc3\x96\r\n"),
             QByteArray("$PHLV,\xc3\x84\xc3\x96\r\n"));
}

void TestMainWindow::togglesFollowClicksAndAcknowledgements()
{
    TcpWindow t;
    QVERIFY(t.ready());
    t.w.process_line(wire::torvel_3);
    auto *config_button = child<QPushButton>(t.w, "tx_limitButtonConfigTab");
    auto *data_button = child<QPushButton>(t.w, "tx_limitButtonDataTab");
    const QByteArray off = "$PHLV,TX_LIMIT,OFF\r\n";
    const QByteArray on = "$PHLV,TX_LIMIT,ON\r\n";

    // Until acknowledged, every click asks for OFF again.
    QCOMPARE(t.clicked(config_button, off), off);
    QCOMPARE(t.clicked(data_button, off), off);
    t.w.process_line("$PHLV,ACK,TX_LIMIT,OFF\r\n");
    QCOMPARE(config_button->text(), QStringLiteral("Switch TX Time Limit ON"));
    QCOMPARE(data_button->text(), QStringLiteral("TX Limit ON"));
    QCOMPARE(t.clicked(data_button, on), on);
    t.w.process_line("$PHLV,ACK,TX_LIMIT,ON\r\n");
    QCOMPARE(config_button->text(), QStringLiteral("Switch TX Time Limit OFF"));
    QCOMPARE(data_button->text(), QStringLiteral("TX Limit OFF"));
    QCOMPARE(t.clicked(config_button, off), off);

    // The CMD button toggles on its own clicks. A restart clears command
    // mode but keeps the button's text, so the next click asks for command
    // mode again.
    auto *cmd = child<QPushButton>(t.w, "dataStartStopButton");
    const QByteArray cmd_on = "$PHLV,CMD\r\n";
    QCOMPARE(t.clicked(cmd, cmd_on), cmd_on);
    QCOMPARE(cmd->text(), QStringLiteral("CMD OFF"));
    QCOMPARE(t.clicked(cmd, "$PHLV,EXIT\r\n"), QByteArray("$PHLV,EXIT\r\n"));
    QCOMPARE(cmd->text(), QStringLiteral("CMD ON"));
    QCOMPARE(t.clicked(cmd, cmd_on), cmd_on);
    QCOMPARE(t.clicked(child<QPushButton>(t.w, "restartButtonfromData"), wire::restart),
             wire::restart);
    QCOMPARE(cmd->text(), QStringLiteral("CMD OFF"));
    QCOMPARE(t.clicked(cmd, cmd_on), cmd_on);
}

void TestMainWindow::followUpsAfterHalfASecond()
{
    TcpWindow t;
    QVERIFY(t.ready());
    t.w.process_line(wire::torvel_3);

    // INIT acknowledged: the address-claim request follows, not at once.
    t.w.process_line("$PHLV,ACK,TAVIX_INIT\r\n");
    QTest::qWait(200);
    QVERIFY(t.peer.bytes.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(t.peer.bytes, QByteArray("!PHLV,59904,255,AO4A\r\n"), 2000);
    t.peer.bytes.clear();

    // On the network link a mode change sends the sentence and keeps the
    // serial rate setting.
    child<QComboBox>(t.w, "selectModeBox")->setCurrentIndex(10);
    child<QPushButton>(t.w, "changeModeButton")->click();
    const QByteArray mode_15 = "$PHLV,TAVIX_MODE,15,\r\n$PHLV,TAVIX_MODE,15,\r\n";
    QCOMPARE(t.sent(mode_15), mode_15);
    QCOMPARE(t.w.state().baud_rate, 4800);
    // The row of the reported mode sends nothing.
    child<QComboBox>(t.w, "selectModeBox")->setCurrentIndex(3);
    child<QPushButton>(t.w, "changeModeButton")->click();
    QTest::qWait(100);
    QVERIFY(t.peer.bytes.isEmpty());
}

void TestMainWindow::modeDescriptionFollowsGateway()
{
    MainWindow w;
    auto *modes = child<QComboBox>(w, "selectModeBox");
    auto *description = child<QLabel>(w, "conversionList");
    modes->setCurrentIndex(2);
    QCOMPARE(description->text(),
             QStringLiteral("BaudRate: 4800\r\n\r\nTalker ID: GP\r\nNMEA Data: RMC,GSA,GSV,ZDA"));
    QCOMPARE(description->styleSheet(), QStringLiteral("QLabel { color : red; }"));

    w.process_line("$PHLV,Halvane_Torvel:2*00\r\n");
    QCOMPARE(description->text(),
             QStringLiteral("Talker ID: GP\r\n\r\nNMEA Data: RMC,GSA,GSV,ZDA"));
    QCOMPARE(description->styleSheet(), QStringLiteral("QLabel { color : green; }"));

    w.process_line("$PHLV,Halvane_Sernix:2*00\r\n");
    QVERIFY(description->text().startsWith("BaudRate: 4800\r\n"));
    modes->setCurrentIndex(10);
    QVERIFY(description->text().startsWith("BaudRate: 230400\r\n"));
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
