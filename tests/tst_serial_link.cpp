// The serial link end to end: real windows on simulated Sernix
// pseudo-terminals, from the adapter search and the baud probe through lines,
// a mode change and a second probe to a lost adapter.
#include "app/mainwindow.h"
#include "gatewaysim.h"
#include "testsupport.h"

#include <deque>

using gatewaysim::SernixSimulator;
using Ports = QList<tavix::SerialPortEntry>;

namespace {

const QString no_answer_text
    = QStringLiteral(" Can`t connect Sernix. Make sure both cables are connected.");
const QList<int> probe_order = { 4800, 38400, 230400, 115200 };
// A port that cannot be opened, unique so that runs side by side do not meet
// on its lock file.
const QString no_port
    = QStringLiteral("/dev/tavix-test-no-such-port-%1").arg(QCoreApplication::applicationPid());
// Adapters that only look like ours, all at the port that cannot be opened:
// taking one for the adapter shows a box.
const Ports look_alikes = { { no_port, QStringLiteral("ftdi") },
                            { no_port, QStringLiteral("FTDI Ltd") },
                            { no_port, QStringLiteral(" FTDI") } };

QString stepText(int baud)
{
    return QStringLiteral(" Trying to connect Sernix via serial to USB %1 baud").arg(baud);
}
QString connectedText(int mode)
{
    return QStringLiteral(" Sernix is connected in conversion mode: %1").arg(mode);
}
// A window whose adapter is a simulated Sernix among look-alikes and before
// a second adapter of the same make, and its status texts in order, sampled
// every 2 ms (each probe text stays for seconds). The simulator outlives the
// window, so the window's port never sees it vanish by accident.
struct Rig
{
    explicit Rig(int mode)
        : sim(mode)
    {
        // Status sentences would replace the texts the probe leaves behind.
        sim.setStatusInterval(0);
        started = sim.start();
        w.setPortLister([this] {
            return look_alikes
                + Ports{ { sim.portName(), QStringLiteral("FTDI") }, { no_port, "FTDI" } };
        });
        clock.start();
        QObject::connect(&timer, &QTimer::timeout, [this] { texts(); });
        timer.start(2);
        texts();
    }
    bool press()
    {
        child<QPushButton>(w, "SernixButton")->click();
        texts(); // the first step's text comes with the press
        return started;
    }
    QStringList texts()
    {
        if (seen.isEmpty() || statusText(w) != seen.last()) {
            seen << statusText(w);
            at_ms << clock.elapsed();
        }
        return seen;
    }
    qint64 firstSeen(const QString &text) const { return at_ms.value(seen.indexOf(text), -1); }

    SernixSimulator sim;
    MainWindow w;
    QSerialPort *port = w.findChild<QSerialPort *>();
    bool started = false;
    QElapsedTimer clock;
    QTimer timer;
    QStringList seen;
    QList<qint64> at_ms;
};

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void probeAtEachRateAndFailures();
    void sessionFromLinesToUnplug();
};

void TestSerialLink::probeAtEachRateAndFailures()
{
    // Five windows probe at once, each with a gateway of its own: four that
    // answer at their modes' rates, 4800, 38400, 230400 and 115200, and a
    // fifth that never answers; a sixth window's port cannot be opened.
    const QList<int> modes = { 0, 1, 15, 14, 14 };
    QSerialPort reference(no_port);
    QVERIFY(!reference.open(QIODevice::ReadWrite));
    ModalCloser closer;
    Rig unopenable(0);
    unopenable.w.setPortLister(adapterAt(no_port));
    std::deque<Rig> rigs;
    for (int i = 0; i < modes.size(); ++i) {
        rigs.emplace_back(modes[i]);
        rigs.back().sim.setAnswering(i < 4);
        QVERIFY(rigs.back().press());
    }
    unopenable.press();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rigs.back().w), no_answer_text, 13000);
    // Every window was pressed before the last one: all their timers are due.
    QTest::qWait(300);

    for (int i = 0; i < modes.size(); ++i) {
        Rig &rig = rigs[i];
        const bool answering = i < 4;
        const int baud = gatewaysim::sernixBaudForMode(modes[i]);
        QStringList expected_texts{ select_text };
        QList<int> misheard_rates;
        for (int s = 0; s <= probe_order.indexOf(baud); ++s) {
            expected_texts << stepText(probe_order.at(s));
            if (probe_order.at(s) != baud)
                misheard_rates += QVector<int>(5, probe_order.at(s)).toList();
        }
        expected_texts << (answering ? connectedText(modes[i]) : no_answer_text);
        QVERIFY2(rig.texts() == expected_texts, qPrintable(rig.texts().join('|')));

        // The port stays open at the rate tried last; the restart sequence
        // went out once at each rate tried, understood only at the gateway's.
        QVERIFY(rig.port->isOpen());
        QCOMPARE(int(rig.port->baudRate()), baud);
        QCOMPARE(rig.sim.received().join(), wire::restart);
        QCOMPARE(rig.sim.receivedRates(), QVector<int>(5, baud).toList());
        QCOMPARE(rig.sim.misheardRates(), misheard_rates);
        QCOMPARE(child<QStackedWidget>(rig.w, "stackedWidget")->currentIndex(), answering ? 2 : 0);
    }

    // The unanswered probe's pace: 3 s at 4800 baud, 2 s at each other rate,
    // the failure text at 9 s. Counted from the press, as a busy event loop
    // may see a text late; timers this long may fire up to 5% early.
    const Rig &silent = rigs.back();
    const QStringList later{ stepText(38400), stepText(230400), stepText(115200), no_answer_text };
    for (int s = 0; s < later.size(); ++s)
        QVERIFY(silent.firstSeen(later[s]) - silent.firstSeen(stepText(4800)) >= 950 * (3 + 2 * s));

    // The port that cannot be opened: the test's one box, with the port's own
    // reason, and its text stays (the other rates would only fail alike).
    QCOMPARE(closer.titles, QStringList{ QStringLiteral("Error opening serial port") });
    QCOMPARE(closer.texts, QStringList{ reference.errorString() });
    QCOMPARE(unopenable.texts(),
             (QStringList{ select_text, stepText(4800),
                           QStringLiteral(" Can`t open %1 serial port").arg(no_port) }));
}

void TestSerialLink::sessionFromLinesToUnplug()
{
    ModalCloser closer;
    Rig rig(0);
    QVERIFY(rig.press());
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);

    // A line cut between its CR and LF is handed on once, whole, when its
    // end arrives; a burst in one write comes out in order, each line whole.
    const QByteArray split = "$GPTXT,01,01,02,SPLIT ACROSS TWO READS*00\r\n";
    rig.sim.sendRaw(split.chopped(1), false);
    QTest::qWait(200);
    QVERIFY(!consoleText(rig.w).contains("SPLIT"));
    QByteArray burst = split.right(1);
    QStringList expected{ QString::fromLatin1(split.trimmed()) };
    for (quint64 seq = 0; seq < 40; ++seq) {
        burst += gatewaysim::numberedLine(1000 + seq);
        expected << QString::fromLatin1(gatewaysim::numberedLine(1000 + seq).trimmed());
    }
    rig.sim.sendRaw(burst, false);
    QTRY_COMPARE_WITH_TIMEOUT(consoleLines(rig.w).mid(consoleLines(rig.w).size() - 41), expected,
                              2000);

    // A mode change: both mode sentences leave at the old rate, the port
    // follows the gateway to its new rate half a second later, and every
    // acknowledgement restarts the gateway, which comes back in mode 15.
    // Half a line that came at the old rate after the acknowledgements is
    // dropped at the switch: the first line at the new rate stands alone.
    child<QComboBox>(rig.w, "selectModeBox")->setCurrentIndex(10);
    rig.sim.clearReceived();
    const QByteArray cut = "$GPTXT,01,01,02,CUT SHORT AT THE OLD RATE";
    const QByteArray whole = "$GPTXT,01,01,02,WHOLE AT THE NEW RATE*00\r\n";
    int acks = 0;
    QObject::connect(&rig.sim, &SernixSimulator::lineSent, &rig.sim, [&](const QByteArray &line) {
        if (line.startsWith("$PHLV,ACK,TAVIX_MODE,") && ++acks == 2)
            rig.sim.sendRaw(cut, false);
    });
    const QMetaObject::Connection at_switch = QObject::connect(
        rig.port, &QSerialPort::baudRateChanged, [&] { rig.sim.sendRaw(whole, false); });
    const qint64 clicked_at = rig.clock.elapsed();
    child<QPushButton>(rig.w, "changeModeButton")->click();
    const QByteArray mode_sentence = "$PHLV,TAVIX_MODE,15,\r\n";
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.received().mid(0, 2),
                              (QList<QByteArray>{ mode_sentence, mode_sentence }), 1000);
    QCOMPARE(rig.sim.receivedRates().mid(0, 2), (QList<int>{ 4800, 4800 }));
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.toolBaud(), 230400, 2000);
    QObject::disconnect(at_switch);
    QVERIFY(rig.clock.elapsed() - clicked_at >= 450);
    QTRY_COMPARE_WITH_TIMEOUT(rig.w.state().conversion_mode, 15, 3000);
    QCOMPARE(acks, 2);
    const QString shown = consoleLines(rig.w).join('|');
    const QString sent = "|$PHLV,TAVIX_MODE,15,|$PHLV,TAVIX_MODE,15,";
    const QString ack = "|$PHLV,ACK,TAVIX_MODE,15|$PHLV,CMD|$PHLV,CMD|$PHLV,CMD"
                        "|$PHLV,TAVIX_OFFLINE,|$PHLV,TAVIX_OFFLINE,";
    QVERIFY2(shown.endsWith(sent + ack + ack + '|' + whole.trimmed()), qPrintable(shown));
    QCOMPARE(statusText(rig.w), connectedText(15));

    // The gateway now runs at 38400 and reports its status often. A second
    // press, with only look-alikes listed, probes the port found before and
    // drops what comes until the new identity, and what the old port left.
    rig.sim.sendRaw("$GPTXT,MARK*00\r\n$PHLV,Halvane_Sernix,FW 2.1.0:9", false);
    QTRY_VERIFY(consoleText(rig.w).contains(QStringLiteral("MARK")));
    rig.sim.setMode(1);
    int status_heard_before_identity = 0;
    QObject::connect(&rig.sim, &SernixSimulator::lineSent, &rig.sim, [&](const QByteArray &line) {
        if (line.startsWith("$PHLV,000000,") && rig.sim.identityRepliesSent() == 2
            && rig.sim.toolBaud() == 38400)
            ++status_heard_before_identity;
    });
    rig.sim.setStatusInterval(100);
    rig.w.setPortLister([] { return look_alikes; });
    rig.press();
    QTRY_VERIFY_WITH_TIMEOUT(rig.w.state().sernix_identified, 6000);
    QVERIFY(status_heard_before_identity > 0);
    // (The new identity's text may give way to a status before it is seen.)
    const QStringList history{ select_text,       stepText(4800), connectedText(0),
                               connectedText(15), stepText(4800), stepText(38400) };
    QVERIFY2(rig.texts().mid(0, 6) == history, qPrintable(rig.texts().join('|')));
    QCOMPARE(rig.w.state().conversion_mode, 1);
    QTRY_VERIFY_WITH_TIMEOUT(statusText(rig.w).startsWith(QStringLiteral("Bus Load: 12,")), 2000);
    const QStringList lines = consoleLines(rig.w);
    const int restart_at = lines.lastIndexOf(QStringLiteral("$PHLV,TAVIX_OFFLINE,"));
    QVERIFY(restart_at > 0);
    for (int i = 0; i < restart_at; ++i)
        QVERIFY2(!lines.at(i).startsWith(QStringLiteral("$PHLV,000000,")), qPrintable(lines[i]));

    // Unplugged: the session's one box, the port closed, back on the
    // selection page, and a command now goes nowhere and is not shown as sent.
    rig.sim.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(closer.titles, QStringList{ QStringLiteral("Critical Error") }, 3000);
    QVERIFY(!rig.port->isOpen());
    QTest::qWait(500);
    QCOMPARE(closer.titles.size(), 1);
    QCOMPARE(statusText(rig.w), QStringLiteral("   Sernix disconnected"));
    QCOMPARE(child<QStackedWidget>(rig.w, "stackedWidget")->currentIndex(), 0);
    const QString console_before = consoleText(rig.w);
    child<QPushButton>(rig.w, "restartButtonfromData")->click();
    QCOMPARE(consoleText(rig.w), console_before);

    // Plugged in again, and pulled while the restart that a mode
    // acknowledgement starts goes out, a status sentence and an identity
    // reply having come in the same read: the link ends there. Neither of
    // them is handled, the selection page and its text stay, and of the
    // restart only the bytes that left are shown.
    SernixSimulator replugged(0);
    replugged.setStatusInterval(0);
    QVERIFY(replugged.start());
    rig.w.setPortLister(adapterAt(replugged.portName()));
    rig.press();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);
    QObject::connect(rig.port, &QSerialPort::bytesWritten, &replugged, [&replugged] {
        if (!replugged.unplugged())
            replugged.unplug(); // once the restart's first sentences have left
    });
    replugged.sendRaw("$PHLV,ACK,TAVIX_MODE,15\r\n" + wire::status + wire::sernix_15, false);
    QTRY_COMPARE_WITH_TIMEOUT(closer.titles.size(), 2, 3000);
    QTest::qWait(200);
    QCOMPARE(statusText(rig.w), QStringLiteral("   Sernix disconnected"));
    QCOMPARE(child<QStackedWidget>(rig.w, "stackedWidget")->currentIndex(), 0);
    const QString shown_at_pull = consoleLines(rig.w).join('|');
    QVERIFY2(shown_at_pull.endsWith("|$PHLV,ACK,TAVIX_MODE,15|$PHLV,CMD|$PHLV,CMD|$PHLV,CMD"),
             qPrintable(shown_at_pull));
}

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
