// The working page driven by received lines, and the exact bytes every
// button and slot sends through a real link.
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>

namespace {

const QByteArray sernix_14 = "$PHLV,Halvane_Sernix,FW 2.1.0:14*3C\r\n";
const QByteArray torvel_3 = "$PHLV,Halvane_Torvel,FW 1.4.2:3*2B\r\n";
const QByteArray status_line = "$PHLV,000000,12,0,5,3601,34\r\n";
const QByteArray empty_status = "$PHLV,000000,,,,3601,34\r\n";

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
        const bool ok = QTest::qWaitFor(
            [this] { return peer.client && peer.bytes == "$PHLV,TAVIX_OFFLINE,\r\n"; }, 3000);
        peer.bytes.clear();
        return ok;
    }
    QByteArray sent(const QByteArray &expected)
    {
        // The peer may get more than expected: the comparison shows it.
        (void)QTest::qWaitFor([&] { return peer.bytes.size() >= expected.size(); }, 2000);
        const QByteArray got = peer.bytes;
        peer.bytes.clear();
        return got;
    }
};

template<typename T> T *child(const MainWindow &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}
QString consoleText(const MainWindow &w)
{
    return w.findChild<QPlainTextEdit *>()->toPlainText();
}
QString statusText(const MainWindow &w)
{
    return w.statusBar()->findChildren<QLabel *>().first()->text();
}

} // namespace

class TestWindowProtocol : public QObject
{
    Q_OBJECT

private slots:
    void nothingPassesBeforeIdentity();
    void identityReply_data();
    void identityReply();
    void statusSentences();
    void rawModeFollowsStatus();
    void commandBytes_data();
    void commandBytes();
    void txLimitFollowsAcknowledgement();
    void commandModeToggles();
    void followUpsAfterHalfASecond();
    void serialPathBlanksStatus();
    void modeDescriptionFollowsGateway();
    void changeModeOnSerialSwitchesRate();
};

void TestWindowProtocol::nothingPassesBeforeIdentity()
{
    MainWindow w;
    child<QPushButton>(w, "logStartStopButton")->click();
    QVERIFY(w.state().logging_on);
    for (const QByteArray &line : { status_line, QByteArray("$PHLV,ACK,TX_LIMIT,OFF\r\n"),
                                    QByteArray("!PHLV,127250,1,AAAA\r\n") })
        w.process_line(line);
    QVERIFY(consoleText(w).isEmpty());
    QCOMPARE(w.state().log_lines.size(), 0);
    QVERIFY(!w.state().tx_limit_off);
    QVERIFY(child<QLabel>(w, "heartbeatLabelDataTab")->text().isEmpty());

    // After identity: lines are shown and logged; the identity itself is
    // not logged, and a Sernix identity is not even shown.
    w.process_line(sernix_14);
    QVERIFY(consoleText(w).isEmpty());
    w.process_line(status_line);
    w.process_line("garbage without a sentence start\r\n");
    w.process_line(QByteArray());
    w.process_line("!PHLV,127250,1,AAAA\r\n");
    QCOMPARE(consoleText(w), QStringLiteral("$PHLV,000000,12,0,5,3601,34\n!PHLV,127250,1,AAAA\n"));
    QCOMPARE(w.state().log_lines.size(), 2);
}

void TestWindowProtocol::identityReply_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("index"); // -1: the list keeps its row
    QTest::addColumn<bool>("init_visible");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("shown_in_console");

    QTest::newRow("sernix 14") << sernix_14 << 14 << 9 << false
                               << " Sernix is connected in conversion mode: 14" << false;
    QTest::newRow("sernix 15") << QByteArray("$PHLV,Halvane_Sernix,FW 2.1.0:15*3D\r\n") << 15 << 10
                               << true << " Sernix is connected in conversion mode: 15" << false;
    QTest::newRow("sernix token mid-line") << QByteArray("xx Halvane_S:4*00\r\n") << 4 << 4 << false
                                           << " Sernix is connected in conversion mode: 4" << false;
    QTest::newRow("both tokens: sernix")
        << QByteArray("$Halvane_Tor Halvane_S:2*00\r\n") << 2 << 2 << false
        << " Sernix is connected in conversion mode: 2" << false;
    QTest::newRow("torvel 3") << torvel_3 << 3 << 3 << false
                              << " Torvel is connected in conversion mode: 3" << true;
    QTest::newRow("torvel 15 bare") << QByteArray("$PHLV,Halvane_Torvel:15\r\n") << 15 << 10 << true
                                    << " Torvel is connected in conversion mode: 15" << true;
    QTest::newRow("mode 9 keeps row")
        << QByteArray("$PHLV,Halvane_Torvel:9*00\r\n") << 9 << -1 << false
        << " Torvel is connected in conversion mode: 9" << true;
    QTest::newRow("no colon") << QByteArray("$PHLV,Halvane_Sernix\r\n") << 0 << 0 << false
                              << " Sernix is connected in conversion mode: 0" << false;
}

void TestWindowProtocol::identityReply()
{
    QFETCH(QByteArray, line);
    QFETCH(int, mode);
    QFETCH(int, index);
    QFETCH(bool, init_visible);
    QFETCH(QString, status);
    QFETCH(bool, shown_in_console);

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
    QCOMPARE(!consoleText(w).isEmpty(), shown_in_console);
    const bool sernix = status.contains("Sernix");
    QCOMPARE(w.state().sernix_identified, sernix);
    QCOMPARE(w.state().torvel_identified, !sernix);
    // The button is green exactly when the list shows the reported mode.
    const QColor expected = index < 0 ? QColor(Qt::red) : QColor(Qt::green);
    QCOMPARE(child<QPushButton>(w, "changeModeButton")->palette().color(QPalette::Button),
             expected);
}

void TestWindowProtocol::statusSentences()
{
    MainWindow w;
    w.process_line(torvel_3);
    w.process_line(status_line);
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
    auto *status_label = w.statusBar()->findChildren<QLabel *>().first();
    QCOMPARE(status_label->textFormat(), Qt::PlainText);
    QCOMPARE(
        statusText(w),
        QStringLiteral("Bus Load: <img src=x>, Devices: <b>5</b>, Uptime: 1 sec, Address: 2\r\n"));
}

void TestWindowProtocol::rawModeFollowsStatus()
{
    MainWindow w;
    auto *init = child<QPushButton>(w, "initButtonConfigTab");
    auto *change = child<QPushButton>(w, "changeModeButton");

    // Outside mode 15 the empty status changes nothing and data never
    // initialises.
    w.process_line(sernix_14);
    w.process_line(status_line);
    w.process_line(empty_status);
    QVERIFY(!w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("Initialise"));

    w.process_line("$PHLV,Halvane_Sernix,FW 2.1.0:15*3D\r\n");
    const QString labels_before = child<QLabel>(w, "heartbeatLabelDataTab")->text();
    w.process_line(empty_status);
    QVERIFY(!w.state().raw_mode);
    QCOMPARE(child<QLabel>(w, "heartbeatLabelDataTab")->text(), labels_before);

    w.process_line(status_line);
    QVERIFY(w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("De-init"));
    QVERIFY(!change->isEnabled());
    w.process_line(status_line);
    QVERIFY(w.state().raw_mode);

    w.process_line(empty_status);
    QVERIFY(!w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("Initialise"));
    QVERIFY(change->isEnabled());
    // The empty status kept the labels of the last status with data.
    QVERIFY(child<QLabel>(w, "heartbeatLabelDataTab")->text().startsWith("Bus Load: 12"));
}

void TestWindowProtocol::commandBytes_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("restart") << QByteArray("de_init_Gateway")
                             << QByteArray("$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n"
                                           "$PHLV,TAVIX_OFFLINE,\r\n$PHLV,TAVIX_OFFLINE,\r\n");
    QTest::newRow("init raw") << QByteArray("init_raw_mode")
                              << QByteArray("$PHLV,TAVIX_INIT,ALL,\r\n");
    QTest::newRow("iso request") << QByteArray("send_iso_request")
                                 << QByteArray("!PHLV,59904,255,AO4A\r\n");
    QTest::newRow("tx limit") << QByteArray("send_tx_limit")
                              << QByteArray("$PHLV,TX_LIMIT,OFF\r\n");
    QTest::newRow("reset") << QByteArray("reset") << QByteArray("$PHLV,TAVIX_RESET,\r\n");
    QTest::newRow("restart command")
        << QByteArray("send_restart_command") << QByteArray("$PHLV,TAVIX_OFFLINE,\r\n");
    QTest::newRow("errors") << QByteArray("send_error_request")
                            << QByteArray("$PHLV,GET_TAVIX_ERRORS\r\n");
    QTest::newRow("devices") << QByteArray("send_show_devices")
                             << QByteArray("$PHLV,SHOW_DEVICES\r\n");
    QTest::newRow("init normal") << QByteArray("send_init_command")
                                 << QByteArray("$PHLV,TAVIX_INIT,NORMAL\r\n");
    QTest::newRow("init all") << QByteArray("send_init_command_allmode")
                              << QByteArray("$PHLV,TAVIX_INIT,ALL,\r\n");
    QTest::newRow("address iso, no addresses") << QByteArray("send_adiso_request") << QByteArray();
}

void TestWindowProtocol::commandBytes()
{
    QFETCH(QByteArray, slot);
    QFETCH(QByteArray, bytes);
    TcpWindow t;
    QVERIFY(t.ready());
    QVERIFY(QMetaObject::invokeMethod(&t.w, slot.constData()));
    if (bytes.isEmpty()) {
        QTest::qWait(200);
        QVERIFY(t.peer.bytes.isEmpty());
    } else {
        QCOMPARE(t.sent(bytes), bytes);
        // What was sent shows in the console too.
        QVERIFY(consoleText(t.w).endsWith(QString::fromLatin1(bytes).replace("\r\n", "\n")));
    }
    // The network path leaves the status labels alone.
    QVERIFY(child<QLabel>(t.w, "heartbeatLabelDataTab")->text().isEmpty());

    // Argument-taking and typed-line slots.
    t.w.send_rxtxlist_request(35);
    QCOMPARE(t.sent("!PHLV,59904,35,AO4B\r\n"), QByteArray("!PHLV,59904,35,AO4B\r\n"));
    child<QLineEdit>(t.w, "lineEditDataTab")->setText(QString());
    child<QPushButton>(t.w, "sendButtonDataTab")->click();
    QCOMPARE(t.sent("\r\n"), QByteArray("\r\n"));
    child<QLineEdit>(t.w, "lineEditDataTab")->setText(QStringLiteral("$PHLV,ÄÖ"));
    child<QPushButton>(t.w, "sendButtonDataTab")->click();
    QCOMPARE(t.sent("$PHLV,\xc3\x84\xc3\x96\r\n"), QByteArray("$PHLV,\xc3\x84\xc3\x96\r\n"));
    QCOMPARE(child<QLineEdit>(t.w, "lineEditDataTab")->text(), QStringLiteral("$PHLV,ÄÖ"));
}

void TestWindowProtocol::txLimitFollowsAcknowledgement()
{
    TcpWindow t;
    QVERIFY(t.ready());
    t.w.process_line(torvel_3);
    auto *config_button = child<QPushButton>(t.w, "tx_limitButtonConfigTab");
    auto *data_button = child<QPushButton>(t.w, "tx_limitButtonDataTab");

    // Until acknowledged, every click asks for OFF again.
    config_button->click();
    data_button->click();
    QCOMPARE(t.sent("12345678901234567890123456789012345678"),
             QByteArray("$PHLV,TX_LIMIT,OFF\r\n$PHLV,TX_LIMIT,OFF\r\n"));
    t.w.process_line("$PHLV,ACK,TX_LIMIT,OFF\r\n");
    QCOMPARE(config_button->text(), QStringLiteral("Switch TX Time Limit ON"));
    QCOMPARE(data_button->text(), QStringLiteral("TX Limit ON"));
    data_button->click();
    QCOMPARE(t.sent("$PHLV,TX_LIMIT,ON\r\n"), QByteArray("$PHLV,TX_LIMIT,ON\r\n"));
    t.w.process_line("$PHLV,ACK,TX_LIMIT,ON\r\n");
    QCOMPARE(config_button->text(), QStringLiteral("Switch TX Time Limit OFF"));
    QCOMPARE(data_button->text(), QStringLiteral("TX Limit OFF"));
    config_button->click();
    QCOMPARE(t.sent("$PHLV,TX_LIMIT,OFF\r\n"), QByteArray("$PHLV,TX_LIMIT,OFF\r\n"));
}

void TestWindowProtocol::commandModeToggles()
{
    TcpWindow t;
    QVERIFY(t.ready());
    auto *cmd = child<QPushButton>(t.w, "dataStartStopButton");
    cmd->click();
    QCOMPARE(t.sent("$PHLV,CMD\r\n"), QByteArray("$PHLV,CMD\r\n"));
    QCOMPARE(cmd->text(), QStringLiteral("CMD OFF"));
    cmd->click();
    QCOMPARE(t.sent("$PHLV,EXIT\r\n"), QByteArray("$PHLV,EXIT\r\n"));
    QCOMPARE(cmd->text(), QStringLiteral("CMD ON"));

    // A restart clears command mode but keeps the button's text, so the
    // next click asks for command mode again.
    cmd->click();
    QCOMPARE(t.sent("$PHLV,CMD\r\n"), QByteArray("$PHLV,CMD\r\n"));
    child<QPushButton>(t.w, "restartButtonfromData")->click();
    t.sent(
        "$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,TAVIX_OFFLINE,\r\n$PHLV,TAVIX_OFFLINE,\r\n");
    QCOMPARE(cmd->text(), QStringLiteral("CMD OFF"));
    cmd->click();
    QCOMPARE(t.sent("$PHLV,CMD\r\n"), QByteArray("$PHLV,CMD\r\n"));
}

void TestWindowProtocol::followUpsAfterHalfASecond()
{
    TcpWindow t;
    QVERIFY(t.ready());
    t.w.process_line(torvel_3);

    // INIT acknowledged: the address-claim request follows, not at once.
    t.w.process_line("$PHLV,ACK,TAVIX_INIT\r\n");
    QTest::qWait(200);
    QVERIFY(t.peer.bytes.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(t.peer.bytes, QByteArray("!PHLV,59904,255,AO4A\r\n"), 2000);
    t.peer.bytes.clear();

    // A mode acknowledgement restarts the gateway at once.
    t.w.process_line("$PHLV,ACK,TAVIX_MODE,5\r\n");
    QCOMPARE(t.sent("$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,TAVIX_OFFLINE,\r\n$PHLV,TAVIX_"
                    "OFFLINE,\r\n"),
             QByteArray("$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n"
                        "$PHLV,TAVIX_OFFLINE,\r\n$PHLV,TAVIX_OFFLINE,\r\n"));

    // On the network link a mode change sends the sentence and keeps the
    // serial rate setting.
    child<QComboBox>(t.w, "selectModeBox")->setCurrentIndex(10);
    child<QPushButton>(t.w, "changeModeButton")->click();
    QCOMPARE(t.sent("$PHLV,TAVIX_MODE,15,\r\n$PHLV,TAVIX_MODE,15,\r\n"),
             QByteArray("$PHLV,TAVIX_MODE,15,\r\n$PHLV,TAVIX_MODE,15,\r\n"));
    QTest::qWait(700);
    QCOMPARE(t.w.state().baud_rate, 4800);
    // The row of the reported mode sends nothing.
    child<QComboBox>(t.w, "selectModeBox")->setCurrentIndex(3);
    child<QPushButton>(t.w, "changeModeButton")->click();
    QTest::qWait(100);
    QVERIFY(t.peer.bytes.isEmpty());
}

void TestWindowProtocol::serialPathBlanksStatus()
{
    // No port open: nothing can be written, yet the labels blank and the
    // console shows the sentence.
    MainWindow w;
    w.process_line(sernix_14);
    w.process_line(status_line);
    QVERIFY(!child<QLabel>(w, "heartbeatLabelDataTab")->text().trimmed().isEmpty());
    w.send_tx_limit();
    QCOMPARE(child<QLabel>(w, "heartbeatLabelDataTab")->text(), QStringLiteral(" "));
    QCOMPARE(child<QLabel>(w, "heartbeatLabelConfigTab")->text(), QStringLiteral(" "));
    QVERIFY(consoleText(w).endsWith("$PHLV,TX_LIMIT,OFF\n"));
}

void TestWindowProtocol::modeDescriptionFollowsGateway()
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
    QCOMPARE(description->text(),
             QStringLiteral(
                 "BaudRate: 230400\r\n\r\nTalker ID: !PHLV\r\n\r\nRAW NMEA2000 data over serial"));
}

void TestWindowProtocol::changeModeOnSerialSwitchesRate()
{
    Pty pty;
    QVERIFY(pty.isValid());
    MainWindow w;
    w.setPortLister([&pty] { return QList<tavix::SerialPortEntry>{ { pty.path, "FTDI" } }; });
    w.loadSernix();
    w.process_line(sernix_14);
    // The probe's restart sequence, half a second after the open.
    QByteArray written;
    QTRY_VERIFY_WITH_TIMEOUT(
        (written += pty.readAvailable()).contains("TAVIX_OFFLINE,\r\n$PHLV,TAVIX_OFFLINE"), 2000);
    QCOMPARE(pty.toolBaud(), 4800);

    child<QComboBox>(w, "selectModeBox")->setCurrentIndex(10);
    child<QPushButton>(w, "changeModeButton")->click();
    QCOMPARE(w.state().baud_rate, 230400);
    QCOMPARE(pty.readAvailable(500),
             QByteArray("$PHLV,TAVIX_MODE,15,\r\n$PHLV,TAVIX_MODE,15,\r\n"));
    QCOMPARE(pty.toolBaud(), 4800);
    QTRY_COMPARE_WITH_TIMEOUT(pty.toolBaud(), 230400, 2000);

    // changeBaud with the port closed does nothing.
    w.go_back_to_selectStackedWidget();
    w.changeBaud();
    QVERIFY(!w.findChild<QSerialPort *>()->isOpen());
}

QTEST_MAIN(TestWindowProtocol)
#include "tst_window_protocol.moc"
