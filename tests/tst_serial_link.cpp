// The serial link end to end: the real window with its real QSerialPort on a
// simulated Sernix's pseudo-terminal, through the adapter search, the baud
// probe, reading lines, a change of mode and the loss of the adapter.
#include "app/mainwindow.h"
#include "gatewaysim.h"
#include "testsupport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using gatewaysim::SernixSimulator;

namespace {

const QString select_text = QStringLiteral(" Select your product by clicking on Sernix or Torvel");
const QString no_answer_text
    = QStringLiteral(" Can`t connect Sernix. Make sure both cables are connected.");
const QByteArray restart_cmd = "$PHLV,CMD\r\n";
const QByteArray restart_offline = "$PHLV,TAVIX_OFFLINE,\r\n";
const QList<QByteArray> restart_lines
    = { restart_cmd, restart_cmd, restart_cmd, restart_offline, restart_offline };
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

template<typename T> T *child(const MainWindow &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}
QLabel *statusLabel(const MainWindow &w)
{
    return w.statusBar()->findChildren<QLabel *>().first();
}
QString statusText(const MainWindow &w)
{
    return statusLabel(w)->text();
}
QStringList consoleLines(const MainWindow &w)
{
    QString text = w.findChild<QPlainTextEdit *>()->toPlainText();
    text.remove(QLatin1Char('\r'));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
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
template<typename T> QList<T> repeated(int count, const T &value)
{
    QList<T> out;
    for (int i = 0; i < count; ++i)
        out << value;
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
        const QString name = sim.portName();
        w.setPortLister([name] {
            return QList<tavix::SerialPortEntry>{ { name, QStringLiteral("FTDI") } };
        });
        port = w.findChild<QSerialPort *>();
    }
    void press() { child<QPushButton>(w, "SernixButton")->click(); }

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
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(2);
        connect(&timer, &QTimer::timeout, this, &StatusRecorder::sample);
        sample();
        timer.start();
        qApp->installEventFilter(this);
    }

    // Up to the text shown now, which the last sample may have missed.
    QStringList texts()
    {
        sample();
        QStringList out;
        for (const auto &entry : entries)
            out << entry.second;
        return out;
    }
    // When text was first seen, in ms since recording began; -1 if never.
    qint64 firstSeen(const QString &text)
    {
        sample();
        for (const auto &entry : entries) {
            if (entry.second == text)
                return entry.first;
        }
        return -1;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show && box->parentWidget() == window) {
            sample();
            entries.append({ clock.elapsed(), QStringLiteral("[box] ") + box->windowTitle() });
        }
        return false;
    }

private:
    void sample()
    {
        if (label->text() != last_text) {
            last_text = label->text();
            entries.append({ clock.elapsed(), last_text });
        }
    }

    const QWidget *window;
    QLabel *label;
    QElapsedTimer clock;
    QTimer timer;
    QString last_text;
    QList<QPair<qint64, QString>> entries;
};

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void probeAtEachRateAndWithoutAnswer();
    void unopenablePortReportsEveryStep();
    void adapterSearch();
    void linesWholeInOrderAndBounded();
    void modeChangeOverTheWire();
    void secondPressProbesAgain();
    void unplugClosesPortOnce();
};

void TestSerialLink::probeAtEachRateAndWithoutAnswer()
{
    // Five windows probe at once, each with a gateway of its own: four that
    // answer at one of the four rates and one that never answers.
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
    const QList<int> probe_order = { 4800, 38400, 230400, 115200 };

    std::vector<std::unique_ptr<Rig>> rigs;
    std::vector<std::unique_ptr<StatusRecorder>> recorders;
    for (const Case &c : cases) {
        rigs.push_back(std::make_unique<Rig>(c.mode));
        QVERIFY(rigs.back()->started);
        rigs.back()->sim.setAnswering(c.answering);
    }
    for (auto &rig : rigs) {
        recorders.push_back(std::make_unique<StatusRecorder>(rig->w));
        rig->press();
    }
    Rig &dead = *rigs.back();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(dead.w), no_answer_text, whole_probe_ms);
    // Every window was pressed before the dead one: all their timers are due.
    QTest::qWait(300);

    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        Rig &rig = *rigs[i];
        StatusRecorder &rec = *recorders[i];
        const QByteArray label = QByteArray::number(c.baud) + (c.answering ? "" : " dead");
        const int steps = probe_order.indexOf(c.baud) + 1;

        QStringList expected_texts{ select_text };
        for (int s = 0; s < steps; ++s)
            expected_texts << stepText(probe_order.at(s));
        expected_texts << (c.answering ? connectedText(c.mode) : no_answer_text);
        QVERIFY2(rec.texts() == expected_texts,
                 (label + ": " + rec.texts().join('|').toUtf8()).constData());

        // The port stays open at the rate that was tried last, and the
        // restart sequence went out once at each rate tried: understood at
        // the gateway's rate, not understood at the others.
        QVERIFY2(rig.port->isOpen(), label.constData());
        QCOMPARE(int(rig.port->baudRate()), c.baud);
        QCOMPARE(rig.sim.toolBaud(), c.baud);
        QCOMPARE(rig.sim.received(), restart_lines);
        QCOMPARE(rig.sim.receivedRates(), repeated(5, c.baud));
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
    // the failure text at 9 s. Timers this long may fire up to 5% early.
    StatusRecorder &rec = *recorders.back();
    const qint64 t4800 = rec.firstSeen(stepText(4800));
    QVERIFY(rec.firstSeen(stepText(38400)) - t4800 >= 2850);
    QVERIFY(rec.firstSeen(stepText(230400)) - rec.firstSeen(stepText(38400)) >= 1900);
    QVERIFY(rec.firstSeen(stepText(115200)) - rec.firstSeen(stepText(230400)) >= 1900);
    QVERIFY(rec.firstSeen(no_answer_text) - rec.firstSeen(stepText(115200)) >= 1900);
}

void TestSerialLink::unopenablePortReportsEveryStep()
{
    // Unique, so that runs side by side do not meet on the port's lock file.
    const QString name
        = QStringLiteral("/dev/tavix-test-no-such-port-%1").arg(QCoreApplication::applicationPid());
    QSerialPort reference(name);
    QVERIFY(!reference.open(QIODevice::ReadWrite));
    const QString reason = reference.errorString();
    QVERIFY(!reason.isEmpty());

    MainWindow w;
    w.setPortLister([name] {
        return QList<tavix::SerialPortEntry>{ { name, QStringLiteral("FTDI") } };
    });
    ModalCloser closer;
    StatusRecorder rec(w);
    child<QPushButton>(w, "SernixButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(w), no_answer_text, whole_probe_ms);

    const QString cant_open = QStringLiteral(" Can`t open %1 serial port").arg(name);
    QStringList expected{ select_text };
    for (const int baud : { 4800, 38400, 230400, 115200 })
        expected << stepText(baud) << QStringLiteral("[box] Error opening serial port")
                 << cant_open;
    expected << no_answer_text;
    QVERIFY2(rec.texts() == expected, rec.texts().join(QLatin1Char('|')).toUtf8().constData());
    QCOMPARE(closer.titles, QStringList(repeated(4, QStringLiteral("Error opening serial port"))));
    QCOMPARE(closer.texts, QStringList(repeated(4, reason)));
    QVERIFY(!w.findChild<QSerialPort *>()->isOpen());
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
    auto *port = w.findChild<QSerialPort *>();
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
    QVERIFY(port->isOpen());
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += second.readAvailable()).endsWith(restart_offline), 2000);
    QCOMPARE(got, restart_cmd.repeated(3) + restart_offline.repeated(2));
    QVERIFY(third.readAvailable().isEmpty());
    QVERIFY(first.readAvailable().isEmpty());

    // A later search without a match keeps the name found before.
    ports = { { first.path, QStringLiteral("ftdi") },
              { third.path, QStringLiteral("FTDI Ltd") },
              { third.path, QStringLiteral(" FTDI") },
              { third.path, QString() } };
    button->click();
    QCOMPARE(w.state().port_name, second.path);
    got.clear();
    QTRY_VERIFY_WITH_TIMEOUT((got += second.readAvailable()).endsWith(restart_offline), 2000);
    QVERIFY(third.readAvailable().isEmpty());
    QCOMPARE(closer.titles.size(), 1);
}

void TestSerialLink::linesWholeInOrderAndBounded()
{
    Rig rig(0);
    QVERIFY(rig.started);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString log_file = dir.filePath(QStringLiteral("lines.csv"));
    rig.w.setSaveNameAsker([log_file] { return log_file; });
    rig.press();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);
    auto *log_button = child<QPushButton>(rig.w, "logStartStopButton");
    log_button->click();
    QByteArray expected_log;

    // A line in two pieces, cut between its CR and LF, is handed on once,
    // whole, when its end arrives.
    const QByteArray split = "$GPTXT,01,01,02,SPLIT ACROSS TWO READS*00\r\n";
    rig.sim.sendRaw(split.left(20), false);
    QTest::qWait(200);
    rig.sim.sendRaw(split.mid(20, split.size() - 21), false);
    QTest::qWait(200);
    QVERIFY(!consoleLines(rig.w).join('\n').contains("SPLIT"));
    rig.sim.sendRaw(split.right(1), false);
    QTRY_COMPARE_WITH_TIMEOUT(consoleLines(rig.w).last(), QString::fromLatin1(split.trimmed()),
                              2000);
    expected_log += split + '\n';

    // A burst of lines in one write comes out in order, each one whole.
    QByteArray burst;
    QStringList burst_lines;
    for (quint64 seq = 0; seq < 40; ++seq) {
        const QByteArray line = gatewaysim::numberedLine(1000 + seq);
        burst += line;
        burst_lines << QString::fromLatin1(line.trimmed());
        expected_log += line + '\n';
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
    expected_log += after + '\n';
    const QStringList lines = consoleLines(rig.w);
    QCOMPARE(lines.at(lines.size() - 2), burst_lines.last());
    QVERIFY(rig.w.findChild<QPlainTextEdit *>()->toPlainText().size() < 10000);

    log_button->click();
    QFile file(log_file);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected_log);
}

void TestSerialLink::modeChangeOverTheWire()
{
    Rig rig(14);
    QVERIFY(rig.started);
    rig.press();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(14), 10000);
    QCOMPARE(int(rig.port->baudRate()), 115200);
    auto *modes = child<QComboBox>(rig.w, "selectModeBox");
    QCOMPARE(modes->currentIndex(), 9);
    QCOMPARE(buttonColour(rig.w, "changeModeButton"), QColor(Qt::green));

    modes->setCurrentIndex(10);
    QCOMPARE(buttonColour(rig.w, "changeModeButton"), QColor(Qt::red));
    rig.sim.clearReceived();
    QElapsedTimer since_click;
    since_click.start();
    child<QPushButton>(rig.w, "changeModeButton")->click();
    QCOMPARE(rig.w.state().baud_rate, 230400);
    // Both mode sentences leave at the old rate, and the gateway hears both.
    QCOMPARE(int(rig.port->baudRate()), 115200);
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.received().size() >= 2, 1000);
    const QByteArray mode_sentence = "$PHLV,TAVIX_MODE,15,\r\n";
    QCOMPARE(rig.sim.received().mid(0, 2), (QList<QByteArray>{ mode_sentence, mode_sentence }));
    QCOMPARE(rig.sim.receivedRates().mid(0, 2), (QList<int>{ 115200, 115200 }));

    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.toolBaud(), 230400, 2000);
    QVERIFY(since_click.elapsed() >= 450);
    QCOMPARE(int(rig.port->baudRate()), 230400);

    // Every acknowledgement restarts the gateway; it comes back in mode 15
    // at its new rate.
    QTRY_COMPARE_WITH_TIMEOUT(rig.w.state().conversion_mode, 15, 3000);
    QStringList lines = consoleLines(rig.w);
    lines = lines.mid(lines.indexOf(QStringLiteral("$PHLV,TAVIX_MODE,15,")));
    const int acks = lines.count(QStringLiteral("$PHLV,ACK,TAVIX_MODE,15"));
    QVERIFY(acks >= 1);
    QStringList expected{ "$PHLV,TAVIX_MODE,15,", "$PHLV,TAVIX_MODE,15," };
    for (int i = 0; i < acks; ++i)
        expected << "$PHLV,ACK,TAVIX_MODE,15"
                 << "$PHLV,CMD"
                 << "$PHLV,CMD"
                 << "$PHLV,CMD"
                 << "$PHLV,TAVIX_OFFLINE,"
                 << "$PHLV,TAVIX_OFFLINE,";
    QCOMPARE(lines, expected);
    QCOMPARE(rig.sim.identityRepliesSent(), 2);
    QCOMPARE(rig.sim.gatewayBaud(), 230400);
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
    QVERIFY(rig.started);
    rig.press();
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
    QCOMPARE(statusText(rig.w), stepText(4800));

    QTRY_VERIFY_WITH_TIMEOUT(rig.w.state().sernix_identified, 6000);
    QCOMPARE(rig.w.state().conversion_mode, 1);
    QCOMPARE(int(rig.port->baudRate()), 38400);
    QCOMPARE(rig.sim.identityRepliesSent(), 2);
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
    QVERIFY(rig.started);
    rig.press();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(rig.w), connectedText(0), 3000);
    QVERIFY(rig.port->isOpen());

    ModalCloser closer;
    rig.sim.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(closer.titles.size(), 1, 3000);
    QCOMPARE(closer.titles.first(), QStringLiteral("Critical Error"));
    QVERIFY(!closer.texts.first().isEmpty());
    QVERIFY(!rig.port->isOpen());
    // A dead line reports no further box, and the status text stays.
    QTest::qWait(500);
    QCOMPARE(closer.titles.size(), 1);
    QCOMPARE(statusText(rig.w), connectedText(0));
}

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
