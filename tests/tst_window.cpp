// The window as a user meets it: its pages driven by received lines, the
// bytes every button sends, a change of gateway, the log and its save step,
// the Sentences tab over both links, screen readers and the keyboard, and
// the serial settings dialog.
#include "app/accessibility.h"
#include "app/mainwindow.h"
#include "console/sentencesmodel.h"
#include "console/sentencesview.h"
#ifdef Q_OS_UNIX
#include "gatewaysim.h"
#endif
#include "settings/settingsdialog.h"
#include "testsupport.h"

#include <cerrno>
#include <cstring>
#include <functional>

namespace {

template<typename T> QString textOf(const QWidget &w, const char *name)
{
    return child<T>(w, name)->text();
}
void feed(MainWindow &w, const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines)
        w.process_line(line);
}

// A window whose network link is a loopback peer that records every byte,
// and whose save step takes its file names from a queue (then cancels).
struct TcpWindow
{
    LoopbackPeer peer;
    MainWindow w;
    QStringList names;
    int asked = 0;
    std::function<void()> while_asking;

    TcpWindow()
    {
        w.setTorvelEndpoint(QStringLiteral("127.0.0.1"), peer.server.serverPort());
        w.setSaveNameAsker([this] {
            ++asked;
            if (while_asking)
                while_asking();
            return names.isEmpty() ? QString() : names.takeFirst();
        });
        w.loadTorvel();
    }
    // What the peer got, once it is at least as long as expected.
    QByteArray sent(const QByteArray &expected)
    {
        (void)QTest::qWaitFor([&] { return peer.bytes.size() >= expected.size(); }, 5000);
        return std::exchange(peer.bytes, QByteArray());
    }
    // The connection, and the restart sentence first on it.
    bool ready() { return sent(wire::offline) == wire::offline && peer.client; }
    QByteArray clicked(const char *button, const QByteArray &expected)
    {
        child<QPushButton>(w, button)->click();
        return sent(expected);
    }
    // Starts a log, feeds the lines and saves them under the names given.
    void log(const QList<QByteArray> &lines, const QStringList &save_as)
    {
        if (!w.state().logging_on)
            child<QPushButton>(w, "logStartStopButton")->click();
        feed(w, lines);
        names = save_as;
        child<QPushButton>(w, "logStartStopButton")->click();
    }
};

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    // Files the tests write, and the save dialog's relative name, land in a
    // folder of the test's own.
    void initTestCase() { QVERIFY(tmp.isValid() && QDir::setCurrent(tmp.path())); }
    void shellPagesAndNewProduct();
    void identityStatusAndRawMode();
    void screenReaderAndKeyboard();
    void trafficCommandsAndToggles();
    void logFileButtonAndFailedSaves();
    void closingAndDefaultDialog();
    void sentencesTabOverBothLinks();
    void settingsDialog();

private:
    QTemporaryDir tmp;
};

void TestWindow::shellPagesAndNewProduct()
{
    LoopbackPeer peer;
    MainWindow &w = *new MainWindow; // closed and deleted at the end
    w.setTorvelEndpoint(QStringLiteral("127.0.0.1"), peer.server.serverPort());
    auto *pages = child<QStackedWidget>(w, "stackedWidget");

    // The form leaves page 2 current; the window starts on page 0.
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(statusText(w), select_text);
    // The tool's own icon, from the bundle when none is installed.
    QCOMPARE(w.windowIcon().pixmap(48).size(), QSize(48, 48));

    // The about box opens over the window.
    ModalCloser closer;
    child<QAction>(w, "actionAbout")->trigger();
    QCOMPARE(closer.parents, QList<QWidget *>{ &w });
    QCOMPARE(closer.titles, QStringList{ "About Tavix Gateway Tool v1.1 by Halvane" });

    // Choosing a product starts afresh.
    const auto startsClean = [&w] {
        const WindowState &st = w.state();
        return !st.raw_mode && !st.tx_limit_off && !st.command_mode
            && textOf<QPushButton>(w, "initButtonConfigTab") == "Initialise"
            && child<QPushButton>(w, "changeModeButton")->isEnabled()
            && textOf<QPushButton>(w, "tx_limitButtonConfigTab") == "Switch TX Time Limit OFF"
            && textOf<QPushButton>(w, "tx_limitButtonDataTab") == "TX Limit OFF"
            && textOf<QPushButton>(w, "dataStartStopButton") == "CMD ON"
            && textOf<QLabel>(w, "heartbeatLabelConfigTab").isEmpty()
            && textOf<QLabel>(w, "heartbeatLabelDataTab").isEmpty();
    };

#ifdef Q_OS_UNIX
    // A pseudo-terminal stands in for the Sernix's adapter; Windows has
    // none, and the serial link is tried there by hand.
    Pty pty;
    w.setPortLister(adapterAt(pty.path));
    auto *port = w.findChild<QSerialPort *>();

    // Going back closes the port and shows the prompt.
    w.loadSernix();
    pages->setCurrentIndex(2);
    QVERIFY(port->isOpen());
    w.go_back_to_selectStackedWidget();
    QVERIFY(!port->isOpen());
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(statusText(w), select_text);

    // A Sernix in mode 14 is asked for mode 15, then reports it, is
    // initialised, has its TX limit off and its output stopped.
    w.loadSernix();
    w.process_line(wire::sernix_14);
    child<QComboBox>(w, "selectModeBox")->setCurrentIndex(10);
    child<QPushButton>(w, "changeModeButton")->click();
    feed(w,
         { wire::sernix_15, wire::status, "$PHLV,ACK,TX_LIMIT,OFF\r\n",
           "$PHLV,ACK,TAVIX_INIT\r\n" });
    child<QPushButton>(w, "dataStartStopButton")->click();
    QVERIFY(w.state().raw_mode && w.state().tx_limit_off && w.state().command_mode);

    // Choosing a product again starts afresh, and the rate switch and the
    // address-claim request still pending come to nothing: the new probe
    // stays at 4800 baud and its port hears only the restart sequence.
    QVERIFY(!pty.readAvailable(100).isEmpty());
    w.loadSernix();
    QVERIFY(startsClean());
    QTest::qWait(800);
    QCOMPARE(int(port->baudRate()), 4800);
    QCOMPARE(pty.readAvailable(), wire::restart);
#endif

    // The same when the Torvel is chosen.
    feed(w, { wire::sernix_15, wire::status, "$PHLV,ACK,TX_LIMIT,OFF\r\n" });
    child<QPushButton>(w, "dataStartStopButton")->click();
    QVERIFY(w.state().raw_mode && w.state().tx_limit_off && w.state().command_mode);
    w.loadTorvel();
    QVERIFY(startsClean());

    // Closing the window ends the event loop and destroys it cleanly.
    w.setAttribute(Qt::WA_DeleteOnClose);
    QPointer<MainWindow> alive(&w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTimer::singleShot(50, &w, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
    QTRY_VERIFY(alive.isNull());
}

void TestWindow::identityStatusAndRawMode()
{
    // Each identity reply: the mode, the list's row (kept for a mode not
    // offered), the working page on its Config tab, the RAW button for mode
    // 15 only, the connected text, the button green when the row matches.
    MainWindow w;
    w.show();
    auto *modes = child<QComboBox>(w, "selectModeBox");
    auto *pages = child<QStackedWidget>(w, "stackedWidget");
    auto *tabs = child<QTabWidget>(w, "tabWidget");
    auto *init = child<QPushButton>(w, "initButtonConfigTab");
    auto *change = child<QPushButton>(w, "changeModeButton");
    const QList<std::tuple<QByteArray, int, int>> replies
        = { { wire::sernix_14, 14, 9 },
            { wire::sernix_15, 15, 10 },
            { wire::torvel_3, 3, 3 },
            { "$PHLV,Halvane_Torvel:9*00\r\n", 9, 5 } };
    for (const auto &[line, mode, index] : replies) {
        modes->setCurrentIndex(5);
        pages->setCurrentIndex(0);
        tabs->setCurrentIndex(1);
        w.process_line(line);
        const bool sernix = line.contains("Sernix");
        QCOMPARE(w.state().conversion_mode, mode);
        QCOMPARE(modes->currentIndex(), index);
        QCOMPARE(pages->currentIndex() + tabs->currentIndex(), 2);
        QCOMPARE(init->isVisible(), mode == 15);
        QCOMPARE(statusText(w),
                 QStringLiteral(" %1 is connected in conversion mode: %2")
                     .arg(sernix ? "Sernix" : "Torvel")
                     .arg(mode));
        QCOMPARE(change->palette().color(QPalette::Button).hslHue(), index == 5 ? 0 : 120);
    }

    // The description loses the Sernix's rate line once a Torvel is known;
    // row 2 has a single line break after the talker with it.
    auto *description = child<QLabel>(w, "conversionList");
    modes->setCurrentIndex(2);
    QCOMPARE(description->text(),
             QStringLiteral("The gateway is in mode 9, not this one.\r\n\r\n"
                            "Talker ID: GP\r\n\r\nNMEA Data: RMC,GSA,GSV,ZDA"));
    w.process_line("$PHLV,Halvane_Sernix:2*00\r\n");
    QCOMPARE(description->text(),
             QStringLiteral("The gateway is in this mode.\r\n\r\n"
                            "BaudRate: 4800\r\n\r\nTalker ID: GP\r\nNMEA Data: RMC,GSA,GSV,ZDA"));

    // Status fields as received, never read as markup; the status bar's one
    // line without the line end.
    const auto labels = [&w] {
        return QStringList{ textOf<QLabel>(w, "heartbeatLabelDataTab"),
                            textOf<QLabel>(w, "heartbeatLabelConfigTab") };
    };
    feed(w, { wire::torvel_3, wire::status });
    QCOMPARE(statusText(w),
             QStringLiteral("Bus Load: 12, Devices: 5, Uptime: 3601 sec, Address: 34"));
    const QString four
        = QStringLiteral("Bus Load: 12\r\nDevices: 5\r\nUptime: 3601 sec\r\nAddress: 34\r\n");
    QCOMPARE(labels(), (QStringList{ four, four }));
    w.process_line("$PHLV,000000,<b>5</b>,0,1,2,3\r\n");
    QCOMPARE(statusLabel(w)->textFormat(), Qt::PlainText);
    QCOMPARE(child<QLabel>(w, "heartbeatLabelDataTab")->textFormat(), Qt::PlainText);
    QCOMPARE(child<QLabel>(w, "heartbeatLabelConfigTab")->textFormat(), Qt::PlainText);
    // A short sentence reaches the console but leaves the labels alone.
    w.process_line("$PHLV,000000,99,0\r\n");
    QVERIFY(labels().first().startsWith("Bus Load: <b>5</b>\r\n"));
    QVERIFY(consoleText(w).endsWith("$PHLV,000000,99,0\n"));

    // Only in mode 15 does a status with data initialise; an empty one ends
    // it and keeps the labels.
    feed(w, { wire::sernix_14, wire::status });
    QVERIFY(!w.state().raw_mode);
    feed(w, { wire::empty_status, wire::sernix_15, wire::empty_status });
    QVERIFY(!w.state().raw_mode);
    w.process_line(wire::status);
    QVERIFY(w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("De-init"));
    QVERIFY(!change->isEnabled());
    w.process_line(wire::empty_status);
    QVERIFY(!w.state().raw_mode);
    QCOMPARE(init->text(), QStringLiteral("Initialise"));
    QVERIFY(change->isEnabled());
    QCOMPARE(labels(), (QStringList{ four, four }));

    // A write on the serial path blanks both labels, even with no port open
    // to take it; what went nowhere is not shown as sent.
    const QString shown = consoleText(w);
    w.send_tx_limit();
    QCOMPARE(labels(), (QStringList{ " ", " " }));
    QCOMPARE(consoleText(w), shown);
}

void TestWindow::screenReaderAndKeyboard()
{
    // What a screen reader hears through the toolkit's own interfaces, and
    // where Tab goes, on each page.
    MainWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const auto a11y = [](QWidget *widget) { return QAccessible::queryAccessibleInterface(widget); };
    // The names heard once round from the given control; a description with
    // markup left in marks its name.
    const auto round = [&a11y](QWidget *first) {
        QStringList heard;
        first->setFocus();
        do {
            QAccessibleInterface *control = a11y(QApplication::focusWidget());
            heard << control->text(QAccessible::Name)
                    + (control->text(QAccessible::Description).contains('<') ? "<" : "");
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != first && heard.size() < 20);
        return heard;
    };
    QCOMPARE(round(child<QWidget>(w, "SernixButton")),
             (QStringList{ "Connect to the Sernix (USB)", "Connect to the Torvel (Wi-Fi)" }));
    w.process_line(wire::sernix_15);
    auto *tab_bar = child<QTabWidget>(w, "tabWidget")->tabBar();
    // The toolkit names a list by its choice on Linux, by its group's title
    // on Windows (where the choice is its value).
#ifdef Q_OS_WIN
    const char *const mode_list = "Conversion Mode:";
#else
    const char *const mode_list = "15 - RAW Mode";
#endif
    QCOMPARE(round(tab_bar),
             (QStringList{ "Config", mode_list, "Change Mode", "Initialise",
                           "Switch TX Time Limit OFF", "Restart" }));
    tab_bar->setCurrentIndex(1);
    QCOMPARE(round(tab_bar),
             (QStringList{ "Data", "Traffic", "CMD ON", "TX Limit OFF", "Restart", "LOG ON",
                           "Line to send", "Send" }));
    QVERIFY(a11y(w.findChild<Console *>())->state().readOnly);
    // Ctrl+Tab turns the tab from anywhere, the console too.
    QTest::keyClick(w.findChild<Console *>(), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(tab_bar->currentIndex(), 2);
    QCOMPARE(round(tab_bar),
             (QStringList{ "Sentences", "What the gateway's mode delivers",
                           "Clear the sentence table", "Sentences received" }));

    // The match in words, and in red and green that read on the background
    // as text and as the button's face with its text, after each of the
    // gateway's replies and the user's choices.
    auto *button = child<QPushButton>(w, "changeModeButton");
    auto *label = child<QLabel>(w, "conversionList");
    QCOMPARE(qRound(tavix::contrastRatio(Qt::red, Qt::white) * 100), 400);
    const QList<std::tuple<QByteArray, int, int, const char *, const char *>> cases = {
        { wire::sernix_15, 10, 120, "The gateway is in this mode.",
          "Sends nothing: the gateway is already in mode 15." },
        { wire::sernix_15, 9, 0, "The gateway is in mode 15, not this one.",
          "Sends mode 14 to the gateway, which is in mode 15." },
        { wire::sernix_14, 10, 0, "The gateway is in mode 14, not this one.",
          "Sends mode 15 to the gateway, which is in mode 14." },
    };
    for (const auto &[reply, row, hue, heard, will] : cases) {
        w.process_line(reply);
        child<QComboBox>(w, "selectModeBox")->setCurrentIndex(row);
        QVERIFY(a11y(label)->text(QAccessible::Name).startsWith(heard));
        QCOMPARE(a11y(button)->text(QAccessible::Description), QString(will));
        const QColor background = label->palette().color(QPalette::Window);
        const QColor text = label->palette().color(QPalette::WindowText);
        const QColor face = button->palette().color(QPalette::Button);
        QCOMPARE(text.hslHue(), hue);
        for (const auto &[a, b] :
             { std::pair{ text, background }, std::pair{ face, background },
               std::pair{ button->palette().color(QPalette::ButtonText), face } })
            QVERIFY2(tavix::contrastRatio(a, b) >= 4.5, qPrintable(a.name() + " on " + b.name()));
    }
}

void TestWindow::trafficCommandsAndToggles()
{
    TcpWindow t;
    QVERIFY(t.ready());
    // Before any identity reply nothing is shown, logged or acted on.
    t.log({ wire::status, "$PHLV,ACK,TX_LIMIT,OFF\r\n", wire::raw_frame }, {});
    QVERIFY(consoleLines(t.w) == QStringList{ "$PHLV,TAVIX_OFFLINE," });
    QVERIFY(!t.w.state().tx_limit_off);
    QVERIFY(textOf<QLabel>(t.w, "heartbeatLabelDataTab").isEmpty());

    // After one, received sentences are shown and logged; not the identity
    // replies (a Sernix's is not even shown), what the tool sends, what is
    // no sentence, nor what comes while the save dialog is open.
    t.w.process_line(wire::sernix_14);
    QCOMPARE(consoleLines(t.w).size(), 1);
    t.w.process_line(wire::empty_status);
    child<QPushButton>(t.w, "logStartStopButton")->click();
    feed(t.w, { wire::torvel_3, "no sentence\r\n", QByteArray(), wire::sernix_14 });
    t.clicked("restartButtonfromData", wire::restart);
    t.while_asking = [&t] { t.w.process_line("$PHLV,DURING_DIALOG\r\n"); };
    t.log({ wire::raw_frame }, { "first.csv" });
    QCOMPARE(fileBytes("first.csv"), wire::raw_frame + '\n');
    QCOMPARE(consoleLines(t.w).mid(1),
             (QStringList{ "$PHLV,000000,,,,3601,34", "$PHLV,Halvane_Torvel,FW 1.4.2:3*2B",
                           "$PHLV,CMD", "$PHLV,CMD", "$PHLV,CMD", "$PHLV,TAVIX_OFFLINE,",
                           "$PHLV,TAVIX_OFFLINE,", "!PHLV,127250,1,AAAA", "$PHLV,DURING_DIALOG" }));

    // The exact bytes of every command.
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
    }
    t.w.send_adiso_request(); // no device addresses known: nothing to ask
    t.w.send_rxtxlist_request(35);
    QCOMPARE(t.sent("!PHLV,59904,35,AO4B\r\n"), QByteArray("!PHLV,59904,35,AO4B\r\n"));
    QCOMPARE(t.clicked("sendButtonDataTab", "\r\n"), QByteArray("\r\n"));
    child<QLineEdit>(t.w, "lineEditDataTab")->setText(QStringLiteral("$PHLV,ÄÖ"));
    QCOMPARE(t.clicked("sendButtonDataTab", "$PHLV,\xc3\x84\xc3\x96\r\n"),
             QByteArray("$PHLV,\xc3\x84\xc3\x96\r\n"));

    // Until acknowledged, every click of either TX limit button asks for
    // OFF again.
    t.w.process_line(wire::torvel_3);
    const QByteArray off = "$PHLV,TX_LIMIT,OFF\r\n";
    const QByteArray on = "$PHLV,TX_LIMIT,ON\r\n";
    const auto tx_texts = [&t] {
        return textOf<QPushButton>(t.w, "tx_limitButtonConfigTab") + '|'
            + textOf<QPushButton>(t.w, "tx_limitButtonDataTab");
    };
    QCOMPARE(t.clicked("tx_limitButtonConfigTab", off), off);
    QCOMPARE(t.clicked("tx_limitButtonDataTab", off), off);
    t.w.process_line("$PHLV,ACK,TX_LIMIT,OFF\r\n");
    QCOMPARE(tx_texts(), QStringLiteral("Switch TX Time Limit ON|TX Limit ON"));
    QCOMPARE(t.clicked("tx_limitButtonDataTab", on), on);
    t.w.process_line("$PHLV,ACK,TX_LIMIT,ON\r\n");
    QCOMPARE(tx_texts(), QStringLiteral("Switch TX Time Limit OFF|TX Limit OFF"));
    QCOMPARE(t.clicked("tx_limitButtonConfigTab", off), off);

    // The CMD button toggles; a restart clears command mode but keeps the
    // button's text, so the next click asks for command mode again.
    const QByteArray cmd = "$PHLV,CMD\r\n";
    QCOMPARE(t.clicked("dataStartStopButton", cmd), cmd);
    QCOMPARE(textOf<QPushButton>(t.w, "dataStartStopButton"), QStringLiteral("CMD OFF"));
    QCOMPARE(t.clicked("dataStartStopButton", "$PHLV,EXIT\r\n"), QByteArray("$PHLV,EXIT\r\n"));
    QCOMPARE(textOf<QPushButton>(t.w, "dataStartStopButton"), QStringLiteral("CMD ON"));
    QCOMPARE(t.clicked("dataStartStopButton", cmd), cmd);
    QCOMPARE(t.clicked("restartButton", wire::restart), wire::restart);
    QCOMPARE(textOf<QPushButton>(t.w, "dataStartStopButton"), QStringLiteral("CMD OFF"));
    QCOMPARE(t.clicked("dataStartStopButton", cmd), cmd);

    // INIT acknowledged: the address-claim request follows, not at once.
    t.w.process_line("$PHLV,ACK,TAVIX_INIT\r\n");
    QTest::qWait(200);
    QVERIFY(t.peer.bytes.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(t.peer.bytes, QByteArray("!PHLV,59904,255,AO4A\r\n"), 2000);
    t.peer.bytes.clear();
    // A mode acknowledgement restarts the gateway at once, and so does the
    // button of an initialised RAW gateway.
    t.w.process_line("$PHLV,ACK,TAVIX_MODE,15\r\n");
    QCOMPARE(t.sent(wire::restart), wire::restart);
    feed(t.w, { "$PHLV,Halvane_Torvel:15\r\n", wire::status });
    QCOMPARE(t.clicked("initButtonConfigTab", wire::restart), wire::restart);
    feed(t.w, { wire::empty_status, wire::torvel_3 });

    // The row of the mode the gateway reported sends nothing.
    child<QComboBox>(t.w, "selectModeBox")->setCurrentIndex(3);
    child<QPushButton>(t.w, "changeModeButton")->click();
    QTest::qWait(100);
    QVERIFY(t.peer.bytes.isEmpty());
}

void TestWindow::logFileButtonAndFailedSaves()
{
    // Line ends as they came, the log's own line feed after each, text cut
    // at a zero byte, non-ASCII text and a byte that is not UTF-8.
    const QList<QByteArray> lines = {
        wire::status,
        "$PHLV,ACK,TX_LIMIT,OFF\r\n",
        wire::raw_frame,
        QByteArray("$PHLV,TAVIX_DEVICES,3\0,junk after the zero\r\n", 45),
        "$GPXDR,C,21.5,C,Kaj\xc3\xbcte \xc2\xb0\r\n",
        "$IIMTW,12.5,C\n",
        "$PHLV,RAW,\xff\r\n",
        "$PHLV,SHOW_BLACKLIST\r\n",
        "$PHLV,ACK,TX_LIMIT,ON\r\n",
    };
    const QByteArray golden = fileBytes(QStringLiteral(":/data/log-golden.csv"));
    TcpWindow t;
    t.w.process_line(wire::torvel_3);
    auto *b = child<QPushButton>(t.w, "logStartStopButton");
    // The button's solid background in every colour group.
    const auto background = [b] {
        QStringList colours;
        for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
            const QBrush brush = b->palette().brush(group, QPalette::Button);
            const bool solid = b->autoFillBackground() && brush.style() == Qt::SolidPattern;
            colours << (solid ? brush.color().name() : QString());
        }
        return colours.join(' ');
    };
    QCOMPARE(b->text(), QStringLiteral("LOG ON"));
    QCOMPARE(background(), QStringLiteral("  "));

    b->click();
    QCOMPARE(b->text(), QStringLiteral("LOG OFF"));
    QCOMPARE(background(), QStringLiteral("#ff0000 #ff0000 #ff0000"));
    t.log(lines, { "log.csv" });
    QCOMPARE(fileBytes("log.csv"), golden);
    QCOMPARE(b->text(), QStringLiteral("LOG ON"));
    QCOMPARE(background(), QStringLiteral("#ffffff #ffffff #ffffff"));

    // A ".zip" name gets the same text; an empty log empties the file.
    t.log(lines, { "log.zip" });
    QCOMPARE(fileBytes("log.zip"), golden);
    t.log({}, { "log.csv" });
    QCOMPARE(fileBytes("log.csv"), QByteArray());

    // Two long logs in a row, each more than waits in memory: the second
    // file holds the second log's lines only.
    for (const char *name : { "long1.csv", "long2.csv" }) {
        QList<QByteArray> input;
        QByteArray expected;
        for (int i = 0; i < 4000; ++i) {
            input << "$PHLV," + QByteArray(name) + ',' + QByteArray::number(i) + "\r\n";
            expected += input.last() + '\n';
        }
        t.log(input, { name });
        QCOMPARE(fileBytes(name), expected);
    }

    // A save that fails (no such folder, a full device, and a log so large
    // that the failure comes in the middle of the copy) says why and offers
    // another name; giving up discards the log, and the next starts empty.
    // The reason is the system's own words, whatever its language.
    QFile missing(QStringLiteral("no-such-folder/log.csv"));
    QVERIFY(!missing.open(QIODevice::WriteOnly));
    QList<std::tuple<QString, int, QString>> failures
        = { { missing.fileName(), 3, missing.errorString() } };
#ifdef Q_OS_UNIX
    const QString no_space = QString::fromLocal8Bit(std::strerror(ENOSPC));
    failures << std::make_tuple(QStringLiteral("/dev/full"), 3, no_space)
             << std::make_tuple(QStringLiteral("/dev/full"), 20000, no_space);
#endif
    for (const auto &[bad, count, reason] : failures) {
        QList<QByteArray> input;
        QByteArray expected;
        for (int i = 0; i < count; ++i) {
            input << "$PHLV,LINE," + QByteArray::number(i) + "\r\n";
            expected += input.last() + '\n';
        }
        ModalCloser boxes;
        t.asked = 0;
        t.log(input, { bad, "good.csv" });
        QCOMPARE(t.asked, 2);
        QCOMPARE(boxes.titles, QStringList{ QStringLiteral("Error saving CSV file") });
        for (const QString &part :
             { reason, QDir::toNativeSeparators(bad), QStringLiteral("another file") })
            QVERIFY2(boxes.texts.first().contains(part), qPrintable(boxes.texts.first()));
        QCOMPARE(fileBytes("good.csv"), expected);
        t.log(input, { bad });
        QCOMPARE(t.asked, 4);
        QVERIFY(!t.w.state().logging_on);
        t.log({ wire::status }, { "next.csv" });
        QCOMPARE(fileBytes("next.csv"), wire::status + '\n');
    }
}

void TestWindow::closingAndDefaultDialog()
{
    // Closing while logging saves on the way out, or, cancelled, closes all
    // the same; not logging, nothing is asked.
    for (const QString &name : QStringList{ "closing.csv", QString(), "unused.csv" }) {
        TcpWindow t;
        t.w.show();
        if (name != "unused.csv")
            child<QPushButton>(t.w, "logStartStopButton")->click();
        feed(t.w, { wire::torvel_3, wire::status, wire::raw_frame });
        t.names = QStringList{ name };
        QVERIFY(t.w.close());
        QCOMPARE(t.asked, name == "unused.csv" ? 0 : 1);
    }
    QCOMPARE(fileBytes("closing.csv"), wire::status + '\n' + wire::raw_frame + '\n');
    QVERIFY(!QFile::exists("unused.csv"));

    // The real dialog, seen from its own event loop, then cancelled: the
    // name proposed lands in the working folder; the filter shows CSV files.
#ifdef Q_OS_WIN
    // Windows' own dialog is no widget of the process, and cannot be
    // cancelled from inside it.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
#endif
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.process_line(wire::sernix_14);
    ModalCloser dialogs;
    child<QPushButton>(w, "logStartStopButton")->click();
    w.process_line(wire::status);
    child<QPushButton>(w, "logStartStopButton")->click();
    QCOMPARE(dialogs.titles, QStringList{ "Save CSV file" });
    QCOMPARE(dialogs.texts.value(0),
             QDir(tmp.path()).absoluteFilePath("test.csv") + " CSV files (*.csv)");
    QVERIFY(!QFile::exists("test.csv"));
}

void TestWindow::settingsDialog()
{
    // The whole record in one comparable line.
    const auto describe = [](const SerialSettings &s) {
        const auto n = [](int i) { return QString::number(i); };
        return QStringList({ n(s.baud), s.baud_text, n(s.data_bits), s.data_bits_text, n(s.parity),
                             s.parity_text, n(s.stop_bits), s.stop_bits_text, n(s.flow_control),
                             s.flow_control_text,
                             n(s.local_echo) + n(s.normal_mode) + n(s.base64) + n(s.hide_nsm) })
            .join('|');
    };
    QPointer<SettingsDialog> dialog = new SettingsDialog;
    // The first item of every list and the form's check boxes; the rate
    // shown is the rate stored.
    const QString initial = QStringLiteral("115200|115200|8|8|0|None|1|1|0|None|1100");
    QCOMPARE(describe(dialog->serialSettings()), initial);
    auto *baud = child<QComboBox>(*dialog, "baudRateBox");
    QCOMPARE(baud->currentText(), QStringLiteral("115200"));

    // Choices reach the record only through OK, which hides the dialog and
    // leaves it alive.
    dialog->show();
    child<QComboBox>(*dialog, "parityBox")->setCurrentIndex(3);
    child<QComboBox>(*dialog, "stopBitsBox")->setCurrentIndex(1);
    child<QComboBox>(*dialog, "flowControlBox")->setCurrentIndex(2);
    child<QCheckBox>(*dialog, "localEchoCheckBox")->setChecked(false);
    child<QCheckBox>(*dialog, "ShowNSMCheckBox")->setChecked(true);
    QCOMPARE(describe(dialog->serialSettings()), initial);
    QTest::mouseClick(child<QPushButton>(*dialog, "applyButton"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog && dialog->isHidden());
    const QString applied = QStringLiteral("115200|115200|8|8|5|Mark|3|1.5|2|XON/XOFF|0101");
    QCOMPARE(describe(dialog->serialSettings()), applied);

    // An item without a rate opens the box for typing, bounded by the
    // validator; typed text never becomes an item.
    baud->addItem(QStringLiteral("Custom"));
    dialog->checkCustomBaudRatePolicy(1);
    QVERIFY(baud->isEditable());
    QTest::keyClicks(baud->lineEdit(), QStringLiteral("40000019"));
    QCOMPARE(baud->currentText(), QStringLiteral("4000001"));
    QTest::keyClick(baud->lineEdit(), Qt::Key_Return);
    QCOMPARE(baud->count(), 2);
    dialog->checkCustomBaudRatePolicy(0);
    QVERIFY(!baud->isEditable());
    delete dialog;
}

#ifdef Q_OS_UNIX
namespace {

// The Sentences tab's rows as shown, by the text of their first column.
QMap<QString, QStringList> sentenceRows(const QAbstractItemModel &m)
{
    QMap<QString, QStringList> rows;
    for (int r = 0; r < m.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < m.columnCount(); ++c)
            cells << m.index(r, c).data().toString();
        rows.insert(cells.first(), cells);
    }
    return rows;
}

} // namespace
#endif

// The instruments' lines through both links into the Sentences tab: what it
// counts (what the log takes, never what the tool sends), how it reads them,
// that it sorts by number, stands still while hidden, and starts afresh with
// Clear and with a new choice of product.
void TestWindow::sentencesTabOverBothLinks()
{
#ifndef Q_OS_UNIX
    QSKIP("the simulator needs pseudo-terminals");
#else
    gatewaysim::TorvelSimulator torvel(0);
    torvel.setRestartDelay(20);
    torvel.setStatusInterval(200);
    torvel.setInstrumentData(true);
    torvel.setNoise(5);
    QVERIFY(torvel.start());
    MainWindow w;
    w.setTorvelEndpoint(QStringLiteral("127.0.0.1"), torvel.port());
    w.show();
    auto *tabs = child<QTabWidget>(w, "tabWidget");
    auto *view = child<SentencesView>(w, "sentencesTab");
    auto *table = child<QTableView>(w, "sentencesTable");
    SentencesModel *model = view->model();
    QCOMPARE(tabs->tabText(tabs->indexOf(view)), QStringLiteral("Sentences"));
    child<QPushButton>(w, "logStartStopButton")->click();
    w.loadTorvel();
    QTRY_VERIFY(w.state().torvel_identified);
    tabs->setCurrentWidget(view);
    torvel.setDataRate(60);
    const QString mode_0 = QStringLiteral(
        "Mode 0 delivers 12 kinds of sentence, with mixed talker IDs: 9 seen, not seen yet: APB, "
        "RMB, XTE (these come only when a device on the bus sends their source data).");
    auto *summary = child<QLabel>(w, "sentencesSummary");
    QTRY_COMPARE_WITH_TIMEOUT(summary->text(), mode_0, 5000);
    QTest::qWait(1500);
    torvel.setDataRate(0);
    torvel.setStatusInterval(0);
    QTest::qWait(2 * SentencesView::refresh_ms);

    // Every line the log took, one in five damaged on the way.
    QMap<QString, QStringList> rows = sentenceRows(*model);
    quint64 counted = 0, bad = 0;
    for (const QStringList &row : qAsConst(rows)) {
        counted += row.at(SentencesModel::Count).toULongLong();
        if (row.at(SentencesModel::Checksum).startsWith(QLatin1String("BAD ")))
            bad += row.at(SentencesModel::Checksum).mid(4).toULongLong();
    }
    QCOMPARE(counted, quint64(w.state().log_lines.size()));
    QCOMPARE(bad, torvel.dataLinesSent() / 5);
    QVERIFY(!rows.contains(QStringLiteral("$PHLV")));
    const QStringList mtw = rows.value(QStringLiteral("$YXMTW"));
    QCOMPARE(mtw.mid(SentencesModel::InMode, 2),
             (QStringList{ "listed", "transducer: water temperature" }));
    QVERIFY(mtw.at(SentencesModel::Latest).startsWith(QStringLiteral("water temperature 17.4 °C")));
    QCOMPARE(rows.value(QStringLiteral("$PHLV status")).at(SentencesModel::InMode),
             QStringLiteral("no"));
    // Sorted by number, the compass comes first: four lines a turn of the
    // instruments, the others two or one.
    table->sortByColumn(SentencesModel::Rate, Qt::DescendingOrder);
    QCOMPARE(table->model()->index(0, 0).data().toString(), QStringLiteral("$HCHDG"));
    table->sortByColumn(SentencesModel::Count, Qt::DescendingOrder);
    QCOMPARE(table->model()->index(0, 0).data().toString(), QStringLiteral("$HCHDG"));

    // Hidden, the tab shows nothing new until it is shown again.
    tabs->setCurrentIndex(1);
    torvel.sendRaw(gatewaysim::withChecksum("$IIXDR,C,19.5,C,AIR"));
    QTRY_VERIFY(consoleText(w).contains(QLatin1String("$IIXDR")));
    QTest::qWait(2 * SentencesView::refresh_ms);
    QVERIFY(!sentenceRows(*model).contains(QStringLiteral("$IIXDR")));
    tabs->setCurrentWidget(view);
    QCOMPARE(sentenceRows(*model).value(QStringLiteral("$IIXDR")).at(SentencesModel::Latest),
             QStringLiteral("C, 19.5, C, AIR"));

    child<QPushButton>(w, "sentencesClearButton")->click();
    QCOMPARE(model->rowCount(), 0);

    // The Sernix, chosen next, starts from an empty table.
    gatewaysim::SernixSimulator sernix(8);
    sernix.setInstrumentData(true);
    QVERIFY(sernix.start());
    w.setPortLister(adapterAt(sernix.portName()));
    torvel.sendRaw(gatewaysim::withChecksum("$IIXDR,C,19.5,C,AIR"));
    QTRY_COMPARE(model->rowCount(), 1);
    w.loadSernix();
    QCOMPARE(model->rowCount(), 0);
    QTRY_VERIFY(w.state().sernix_identified);
    tabs->setCurrentWidget(view);
    sernix.setDataRate(10);
    QTRY_COMPARE_WITH_TIMEOUT(
        summary->text(),
        QStringLiteral("Mode 8 delivers 5 kinds of sentence, with talker ID SD: all 5 seen."),
        5000);
    QVERIFY(!sentenceRows(*model).contains(QStringLiteral("$IIXDR")));
#endif
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
