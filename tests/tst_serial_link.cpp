// The serial link end to end: the real window with its real QSerialPort on a
// simulated Sernix's pseudo-terminal, through the adapter search, the baud
// probe, reading lines, a change of mode and the loss of the adapter.
#include "app/mainwindow.h"
#include "gatewaysim.h"
#include "testsupport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSerialPort>
#include <QStackedWidget>
#include <QTabWidget>

#include <memory>
#include <vector>

using gatewaysim::SernixSimulator;

namespace {

const QString select_text = QStringLiteral(" Select your product by clicking on Sernix or Torvel");
const QString no_answer_text
    = QStringLiteral(" Can`t connect Sernix. Make sure both cables are connected.");
const QByteArray cmd = "$PHLV,CMD\r\n";
const QList<QByteArray> restart_lines = { cmd, cmd, cmd, wire::offline, wire::offline };
const QList<int> probe_order = { 4800, 38400, 230400, 115200 };
// Long enough for the whole unanswered probe (9 s) on a loaded machine.
constexpr int whole_probe_ms = 13000;

QString stepText(int baud)
{
    return QStringLiteral(" Trying to connect Sernix via serial to USB %1 baud").arg(baud);
}
QString connectedText(int mode)
{
    return QStringLiteral(" Sernix is connected in conversion mode: %1").arg(mode);
}
QColor buttonColour(const MainWindow &w, const char *name)
{
    return child<QPushButton>(w, name)->palette().color(QPalette::Button);
}
QList<int> distinctInOrder(const QList<int> &rates)
{
    QList<int> out;
    for (const int rate : rates) {
        if (out.isEmpty() || out.last() != rate)
            out << rate;
    }
    return out;
}

// A window whose only adapter is a simulated Sernix. The simulator outlives
// the window, so the window's port never sees it vanish by accident.
struct Rig
{
    explicit Rig(int mode)
        : sim(mode)
    {
        // Status sentences would replace the texts the probe leaves behind.
        sim.setStatusInterval(0);
        started = sim.start();
        w.setPortLister(adapterAt(sim.portName()));
        port = w.findChild<QSerialPort *>();
    }
    bool press()
    {
        child<QPushButton>(w, "SernixButton")->click();
        return started;
    }

    SernixSimulator sim;
    MainWindow w;
    QSerialPort *port = nullptr;
    bool started = false;
};

// Every text the status bar shows, in order, with the time since recording
// began, and every message box the window opens, as "[box] <title>". Texts
// are sampled every few milliseconds (each probe text stays for seconds); a
// box is caught as it is shown, whatever closes it and however soon.
class StatusRecorder : public QObject
{
public:
    explicit StatusRecorder(const MainWindow &w)
        : window(&w)
        , label(statusLabel(w))
    {
        clock.start();
        connect(&timer, &QTimer::timeout, this, &StatusRecorder::sample);
        sample();
        timer.start(2);
        qApp->installEventFilter(this);
    }
    // Up to the text shown now, which the last sample may have missed.
    QStringList texts()
    {
        sample();
        return seen;
    }
    // When text was first seen, in ms since recording began; -1 if never.
    qint64 firstSeen(const QString &text) const { return at_ms.value(seen.indexOf(text), -1); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show && box->parentWidget() == window) {
            sample();
            record(QStringLiteral("[box] ") + box->windowTitle());
        }
        return false;
    }

private:
    void sample()
    {
        if (seen.isEmpty() || label->text() != last_text)
            record(last_text = label->text());
    }
    void record(const QString &text)
    {
        seen << text;
        at_ms << clock.elapsed();
    }

    const QWidget *window;
    QLabel *label;
    QElapsedTimer clock;
    QTimer timer;
    QString last_text;
    QStringList seen;
    QList<qint64> at_ms;
};

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void probeAtEachRateAndFailures();
    void adapterSearch();
    void linesWholeInOrderAndBounded();
    void modeChangeOverTheWire();
    void secondPressProbesAgain();
    void unplugClosesPortOnce();
};

void TestSerialLink::probeAtEachRateAndFailures()
{
    // Five windows probe at once, each with a gateway of its own: four that
    // answer at one of the four rates and one that never answers; a sixth
    // window's port cannot be opened at all.
    struct Case
    {
        int mode;
        int baud;
        bool answering;
    };
    const std::vector<Case> cases = {
        { 0, 4800, true },    { 1, 38400, true },    { 15, 230400, true },
        { 14, 115200, true }, { 14, 115200, false },
    };
    std::vector<std::unique_ptr<Rig>> rigs;
    std::vector<std::unique_ptr<StatusRecorder>> recorders;
    for (const Case &c : cases) {
        rigs.push_back(std::make_unique<Rig>(c.mode));
        QVERIFY(rigs.back()->started);
        rigs.back()->sim.setAnswering(c.answering);
    }

    // Unique, so that runs side by side do not meet on the port's lock file.
    const QString name
        = QStringLiteral("/dev/tavix-test-no-such-port-%1").arg(QCoreApplication::applicationPid());
    QSerialPort reference(name);
    QVERIFY(!reference.open(QIODevice::ReadWrite));
    QVERIFY(!reference.errorString().isEmpty());
    MainWindow unopenable;
    unopenable.setPortLister(adapterAt(name));
    ModalCloser closer;
    StatusRecorder unopenable_rec(unopenable);

    for (auto &rig : rigs) {
        recorders.push_back(std::make_unique<StatusRecorder>(rig->w));
        rig->press();
        recorders.back()->texts(); // the first step's text comes with the press
    }
    child<QPushButton>(unopenable, "SernixButton")->click();
    Rig &dead = *rigs.back();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(dead.w), no_answer_text, whole_probe_ms);
    // Every window was pressed before the last one: all their timers are due.
    QTest::qWait(300);

    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        Rig &rig = *rigs[i];
        const QByteArray label = QByteArray::number(c.baud) + (c.answering ? "" : " dead");
        const int steps = probe_order.indexOf(c.baud) + 1;

        QStringList expected_texts{ select_text };
        for (int s = 0; s < steps; ++s)
            expected_texts << stepText(probe_order.at(s));
        expected_texts << (c.answering ? connectedText(c.mode) : no_answer_text);
        QVERIFY2(recorders[i]->texts() == expected_texts,
                 (label + ": " + recorders[i]->texts().join('|').toUtf8()).constData());

        // The port stays open at the rate that was tried last, and the
        // restart sequence went out once at each rate tried: understood at
        // the gateway's rate, not understood at the others.
        QVERIFY2(rig.port->isOpen(), label.constData());
        QCOMPARE(int(rig.port->baudRate()), c.baud);
        QCOMPARE(rig.sim.received(), restart_lines);
        QCOMPARE(distinctInOrder(rig.sim.receivedRates()), QList<int>{ c.baud });
        QCOMPARE(distinctInOrder(rig.sim.misheardRates()), probe_order.mid(0, steps - 1));
        QCOMPARE(rig.sim.misheard().size(), 5 * (steps - 1));

        QCOMPARE(rig.sim.identityRepliesSent(), c.answering ? 1 : 0);
        QCOMPARE(rig.w.state().sernix_identified, c.answering);
        QCOMPARE(child<QStackedWidget>(rig.w, "stackedWidget")->currentIndex(),
                 c.answering ? 2 : 0);
        if (c.answering) {
            QCOMPARE(rig.w.state().conversion_mode, c.mode);
            QCOMPARE(child<QTabWidget>(rig.w, "tabWidget")->currentIndex(), 0);
        }
    }

    // The unanswered probe's pace: 3 s at 4800 baud, 2 s at each other rate,
    // the failure text at 9 s. Timers this long may fire up to 5% early, and
    // a busy event loop may sample a text late, which shortens the next gap.
    StatusRecorder &rec = *recorders.back();
    QVERIFY(rec.firstSeen(stepText(38400)) - rec.firstSeen(stepText(4800)) >= 2850);
    QVERIFY(rec.firstSeen(stepText(230400)) - rec.firstSeen(stepText(38400)) >= 1700);
    QVERIFY(rec.firstSeen(stepText(115200)) - rec.firstSeen(stepText(230400)) >= 1700);
    QVERIFY(rec.firstSeen(no_answer_text) - rec.firstSeen(stepText(115200)) >= 1700);

    // The port that cannot be opened: one box with the port's own reason,
    // and its text stays; the other rates would only fail the same way.
    const QString cant_open = QStringLiteral(" Can`t open %1 serial port").arg(name);
    const QStringList expected{ select_text, stepText(4800),
                                QStringLiteral("[box] Error opening serial port"), cant_open };
    QVERIFY2(unopenable_rec.texts() == expected,
             unopenable_rec.texts().join(QLatin1Char('|')).toUtf8().constData());
    QCOMPARE(closer.texts, QStringList{ reference.errorString() });
    QVERIFY(!unopenable.findChild<QSerialPort *>()->isOpen());
}

void TestSerialLink::adapterSearch()
{
    Pty first;
    Pty second;
    Pty third;
    QVERIFY(first.isValid() && second.isValid() && third.isValid());
    QList<tavix::SerialPortEntry> ports;
    MainWindow w;
    w.setPortLister([&ports] { return ports; });
    auto *button = child<QPushButton>(w, "SernixButton");
    ModalCloser closer;

    // Look-alikes never match: the probe runs on the name the tool starts
    // with, which no machine here has.
    ports = { { first.path, QStringLiteral("ftdi") }, { second.path, QStringLiteral("FTDI Ltd") } };
    button->click();
    QCOMPARE(w.state().port_name, QStringLiteral("COM3"));
    QCOMPARE(closer.titles, QStringList{ QStringLiteral("Error opening serial port") });
    QCOMPARE(statusText(w), QStringLiteral(" Can`t open COM3 serial port"));

    // The first exact match wins; the restart sequence reaches it alone.
    ports = { { first.path, QStringLiteral("Prolific") },
              { second.path, QStringLiteral("FTDI") },
              { third.path, QStringLiteral("FTDI") } };
    button->click();
    QCOMPARE(w.state().port_name, second.path);
    QVERIFY(w.findChild<QSerialPort *>()->isOpen());
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += second.readAvailable()).endsWith(wire::offline), 2000);
    QCOMPARE(got, wire::restart);
    QVERIFY(third.readAvailable().isEmpty());
    QVERIFY(first.readAvailable().isEmpty());

    // A later search without a match keeps the name found before.
    ports = { { first.path, QStringLiteral("ftdi") }, { third.path, QStringLiteral(" FTDI") } };
    button->click();
    QCOMPARE(w.state().port_name, second.path);
    got.clear();
    QTRY_VERIFY_WITH_TIMEOUT((got += second.readAvailable()).endsWith(wire::offline), 2000);
    QVERIFY(third.readAvailable().isEmpty());
    QCOMPARE(closer.titles.size(), 1);
}

void TestSerialLink::linesWholeInOrderAndBounded()
{
    Rig rig(0);
    QVERIFY(rig.press());
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);

    // A line in two pieces, cut between its CR and LF, is handed on once,
    // whole, when its end arrives.
    const QByteArray split = "$GPTXT,01,01,02,SPLIT ACROSS TWO READS*00\r\n";
    rig.sim.sendRaw(split.left(20), false);
    QTest::qWait(200);
    rig.sim.sendRaw(split.mid(20, split.size() - 21), false);
    QTest::qWait(200);
    QVERIFY(!consoleText(rig.w).contains("SPLIT"));
    rig.sim.sendRaw(split.right(1), false);
    QTRY_COMPARE_WITH_TIMEOUT(consoleLines(rig.w).last(), QString::fromLatin1(split.trimmed()),
                              2000);

    // A burst of lines in one write comes out in order, each one whole.
    QByteArray burst;
    QStringList burst_lines;
    for (quint64 seq = 0; seq < 40; ++seq) {
        const QByteArray line = gatewaysim::numberedLine(1000 + seq);
        burst += line;
        burst_lines << QString::fromLatin1(line.trimmed());
    }
    rig.sim.sendRaw(burst, false);
    QTRY_COMPARE_WITH_TIMEOUT(consoleLines(rig.w).mid(consoleLines(rig.w).size() - 40), burst_lines,
                              2000);

    // A peer that never ends its line: past the bound the partial line is
    // dropped up to the next line end, and the line after it comes through.
    // Every piece starts with '$', so a fragment handed on would be shown.
    rig.sim.sendRaw(QByteArray(200 * 1024, '$'), false);
    rig.sim.sendRaw("$GPTXT,ENDS THE OVERLONG LINE*00\r\n", false);
    const QByteArray after = "$GPTXT,AFTER RESYNC*00\r\n";
    rig.sim.sendRaw(after, false);
    QTRY_COMPARE_WITH_TIMEOUT(consoleLines(rig.w).last(), QString::fromLatin1(after.trimmed()),
                              5000);
    const QStringList lines = consoleLines(rig.w);
    QCOMPARE(lines.at(lines.size() - 2), burst_lines.last());
    QVERIFY(consoleText(rig.w).size() < 10000);
}

void TestSerialLink::modeChangeOverTheWire()
{
    Rig rig(0);
    QVERIFY(rig.press());
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);
    auto *modes = child<QComboBox>(rig.w, "selectModeBox");
    QCOMPARE(buttonColour(rig.w, "changeModeButton"), QColor(Qt::green));

    modes->setCurrentIndex(10);
    QCOMPARE(buttonColour(rig.w, "changeModeButton"), QColor(Qt::red));
    rig.sim.clearReceived();
    QElapsedTimer since_click;
    since_click.start();
    child<QPushButton>(rig.w, "changeModeButton")->click();
    QCOMPARE(rig.w.state().baud_rate, 230400);
    // Both mode sentences leave at the old rate, and the gateway hears both.
    QCOMPARE(int(rig.port->baudRate()), 4800);
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.received().size() >= 2, 1000);
    const QByteArray mode_sentence = "$PHLV,TAVIX_MODE,15,\r\n";
    QCOMPARE(rig.sim.received().mid(0, 2), (QList<QByteArray>{ mode_sentence, mode_sentence }));
    QCOMPARE(rig.sim.receivedRates().mid(0, 2), (QList<int>{ 4800, 4800 }));

    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.toolBaud(), 230400, 2000);
    QVERIFY(since_click.elapsed() >= 450);
    QCOMPARE(int(rig.port->baudRate()), 230400);

    // Every acknowledgement restarts the gateway; it comes back in mode 15
    // at its new rate.
    QTRY_COMPARE_WITH_TIMEOUT(rig.w.state().conversion_mode, 15, 3000);
    const QString shown = consoleLines(rig.w).join('|');
    const QString sent = "|$PHLV,TAVIX_MODE,15,|$PHLV,TAVIX_MODE,15,";
    const QString ack = "|$PHLV,ACK,TAVIX_MODE,15|$PHLV,CMD|$PHLV,CMD|$PHLV,CMD"
                        "|$PHLV,TAVIX_OFFLINE,|$PHLV,TAVIX_OFFLINE,";
    const QString tail = shown.mid(shown.indexOf(sent));
    QVERIFY2(tail == sent + ack || tail == sent + ack + ack, qPrintable(shown));
    QCOMPARE(rig.sim.identityRepliesSent(), 2);
    QCOMPARE(statusText(rig.w), connectedText(15));
    QCOMPARE(modes->currentIndex(), 10);
    QCOMPARE(buttonColour(rig.w, "changeModeButton"), QColor(Qt::green));
    QVERIFY(!child<QPushButton>(rig.w, "initButtonConfigTab")->isHidden());
    QVERIFY(rig.port->isOpen());
    QCOMPARE(rig.sim.toolBaud(), 230400);
}

void TestSerialLink::secondPressProbesAgain()
{
    Rig rig(0);
    QVERIFY(rig.press());
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);

    // The gateway now runs at 38400 and reports its status often. A second
    // press must probe again, and drop what comes until the new identity.
    rig.sim.setMode(1);
    int status_heard_before_identity = 0;
    QObject::connect(&rig.sim, &SernixSimulator::lineSent, &rig.sim, [&](const QByteArray &line) {
        if (line.startsWith("$PHLV,000000,") && rig.sim.identityRepliesSent() == 1
            && rig.sim.toolBaud() == 38400)
            ++status_heard_before_identity;
    });
    rig.sim.setStatusInterval(100);
    StatusRecorder rec(rig.w);
    rig.press();
    QVERIFY(!rig.w.state().sernix_identified);
    QTRY_VERIFY_WITH_TIMEOUT(rig.w.state().sernix_identified, 6000);
    QCOMPARE(rig.w.state().conversion_mode, 1);
    QCOMPARE(int(rig.port->baudRate()), 38400);
    QVERIFY(status_heard_before_identity > 0);
    QCOMPARE(rec.texts().mid(0, 3),
             (QStringList{ connectedText(0), stepText(4800), stepText(38400) }));

    // Status sentences show once the gateway is known again, and none
    // before: the console has none ahead of the restart sequence that
    // brought the identity reply.
    QTRY_VERIFY_WITH_TIMEOUT(statusText(rig.w).startsWith(QStringLiteral("Bus Load: 12,")), 2000);
    const QStringList lines = consoleLines(rig.w);
    const int restart_at = lines.lastIndexOf(QStringLiteral("$PHLV,TAVIX_OFFLINE,"));
    QVERIFY(restart_at > 0);
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(!lines.at(i).startsWith(QStringLiteral("$PHLV,000000,")) || i > restart_at,
                 lines.join(QLatin1Char('|')).toUtf8().constData());
}

void TestSerialLink::unplugClosesPortOnce()
{
    Rig rig(0);
    QVERIFY(rig.press());
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);
    QVERIFY(rig.port->isOpen());

    ModalCloser closer;
    rig.sim.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(closer.titles.size(), 1, 3000);
    QCOMPARE(closer.titles.first(), QStringLiteral("Critical Error"));
    QVERIFY(!closer.texts.first().isEmpty());
    QVERIFY(!rig.port->isOpen());
    // Back on the selection page, as a lost Torvel, with no further box from
    // the dead line; a command now goes nowhere and is not shown as sent.
    QTest::qWait(500);
    QCOMPARE(closer.titles.size(), 1);
    QCOMPARE(statusText(rig.w), QStringLiteral("   Sernix disconnected"));
    QCOMPARE(child<QStackedWidget>(rig.w, "stackedWidget")->currentIndex(), 0);
    const QString console_before = consoleText(rig.w);
    child<QPushButton>(rig.w, "restartButtonfromData")->click();
    rig.w.send_line();
    QCOMPARE(consoleText(rig.w), console_before);
}

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
