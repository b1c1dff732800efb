// The tool measured against the limits of its links: the real window,
// offscreen, fed by the gateway simulator through a real loopback socket or
// a real pseudo-terminal. Prints one table, each figure with its goal and
// the command that measures it alone.
//
//   tavix-bench                 every figure
//   tavix-bench NAME...         only those (names as in the table's commands)
//
// SOAK_SECONDS sets the length of the soak (default 600). CuteCom's figures
// are taken when cutecom, Xvfb and xdotool are installed; the figures taken
// under X need Xvfb (and xev, of x11-utils, for the start time). Each runs
// on a display of its own, the first free from XVFB_FIRST_DISPLAY on
// (default 90).

#include "app/mainwindow.h"
#include "console/sentencesmodel.h"
#include "console/sentencesview.h"
#include "gatewaysim.h"
#include "measure.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <unordered_set>
#include <vector>

#include <sys/types.h>
#include <unistd.h>

using namespace bench;

namespace {

// The simulator's thread, whose work is the gateway's, not the tool's.
const QByteArray sim_thread = "gateway-sim";
constexpr int measure_ms = 10000;
constexpr double mb = 1e6;

QString program; // as invoked, for the commands shown

struct Row
{
    QString figure;
    QString measured;
    QString goal;
    QString verdict; // "met", "MISSED", or "-" where there is no goal
    QString command;
};

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

QString commandFor(const char *name)
{
    return program + QLatin1Char(' ') + QLatin1String(name);
}

QString pct(double share)
{
    return QString::number(share * 100, 'f', 2) + QLatin1Char('%');
}

// A share of a core: the median of its 1 s windows, which the verdicts go
// by, and the mean over the whole stretch.
struct Share
{
    double median = 0;
    double mean = 0;
};

QString shareText(const Share &s)
{
    return QStringLiteral("%1 of one core (median of 1 s windows; mean %2)")
        .arg(pct(s.median), pct(s.mean));
}

// What the window's process costs over measure_ms, less the simulator.
Share toolShare()
{
    CpuShare whole(sim_thread);
    WindowedShare windows([] { return runNs(0, sim_thread); });
    whole.start();
    windows.start();
    runFor(measure_ms);
    windows.stop();
    const double mean = whole.stop();
    return { windows.valid() ? windows.median() : mean, mean };
}

QPlainTextEdit *consoleOf(MainWindow &w)
{
    return w.findChild<QPlainTextEdit *>();
}

// Counts the paint events of a widget: where a link's lines go on screen
// one pass of the event loop at a time, repaints are most of the cost.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// What a user watching traffic has in front: the shown window, Data tab.
void showDataTab(MainWindow &w)
{
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    tabs->setCurrentWidget(tabs->findChild<QWidget *>(QStringLiteral("dataTab")));
}

// Sequence numbers of a saved log, in file order. Each record is the line as
// received, then the tool's own line feed.
std::vector<quint64> sequencesInLog(const QString &path)
{
    std::vector<quint64> seqs;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return seqs;
    const QByteArray all = f.readAll();
    for (const QByteArray &line : all.split('\n')) {
        if (const std::optional<quint64> seq = gatewaysim::sequenceOf(line))
            seqs.push_back(*seq);
    }
    return seqs;
}

struct OrderCheck
{
    quint64 lost = 0; // numbers in [first, first + count) never seen
    quint64 out_of_order = 0; // lines behind a higher number already seen
    quint64 duplicated = 0;
};

OrderCheck checkOrder(const std::vector<quint64> &seqs, quint64 first, quint64 count)
{
    OrderCheck c;
    std::unordered_set<quint64> seen;
    seen.reserve(seqs.size());
    std::optional<quint64> highest;
    for (quint64 seq : seqs) {
        if (!seen.insert(seq).second)
            ++c.duplicated;
        if (highest && seq < *highest)
            ++c.out_of_order;
        highest = highest ? std::max(*highest, seq) : seq;
    }
    for (quint64 seq = first; seq < first + count; ++seq)
        c.lost += seen.count(seq) ? 0 : 1;
    return c;
}

// A Torvel on loopback and the window connected to it, identified.
struct TorvelRig
{
    gatewaysim::TorvelSimulator sim;
    MainWindow w;

    // status_ms: the gateway's status period (0: none).
    bool connect(int status_ms, bool shown)
    {
        sim.setStatusInterval(status_ms);
        if (!sim.start(0))
            return false;
        w.setTorvelEndpoint(QStringLiteral("127.0.0.1"), sim.port());
        if (shown)
            w.show();
        w.loadTorvel();
        if (!runUntil([this] { return w.state().torvel_identified; }, 5000))
            return false;
        if (shown)
            showDataTab(w);
        return true;
    }
};

bool fail(std::vector<Row> &rows, const QString &figure, const QString &why, const char *name)
{
    rows.push_back(
        { figure, QStringLiteral("could not run: ") + why, {}, verdict(false), commandFor(name) });
    return false;
}

// ---------------------------------------------------------------------------

bool tcpFlood(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("TCP flood, 200,000 lines");
    constexpr quint64 n = 200000;
    TorvelRig rig;
    if (!rig.connect(0, true))
        return fail(rows, figure, QStringLiteral("no identity reply"), "tcp-flood");
    QTemporaryDir dir;
    const QString log_path = dir.filePath(QStringLiteral("flood.csv"));
    rig.w.setSaveNameAsker([log_path] { return log_path; });
    rig.w.start_logging();

    // The last line shown: the last change of the console's document that
    // came with more logged lines. A line is logged as it is handled and
    // shown, at the latest, when the pass of the event loop that handled it
    // ends. Which lines came, and in which order, the saved log tells.
    qint64 last_change_ns = 0;
    qint64 logged = 0;
    QObject::connect(consoleOf(rig.w)->document(), &QTextDocument::contentsChange, &rig.w, [&] {
        const qint64 now_logged = rig.w.state().log_lines.size();
        if (now_logged != logged) {
            logged = now_logged;
            last_change_ns = steadyNs();
        }
    });
    StallProbe stall;
    stall.start();
    const qint64 t0 = steadyNs();
    rig.sim.flood(0, n);
    // The simulator keeps only the newest write times: the first is taken
    // while it is there.
    std::optional<qint64> first_write;
    runUntil(
        [&] {
            if (!first_write)
                first_write = rig.sim.writeTimeNs(0);
            if (rig.w.state().log_lines.size() >= qint64(n))
                return true;
            // Lines lost: nothing more will come once the writer is done.
            return rig.sim.floodDone() && steadyNs() - last_change_ns > 2000000000;
        },
        120000);
    // Shown one by one, a line is logged after its insert: the last one
    // then moves the count after the last change. Its time is about now.
    if (rig.w.state().log_lines.size() > logged)
        last_change_ns = steadyNs();
    stall.stop();
    const qint64 first_write_ns = first_write.value_or(t0);
    rig.w.start_logging(); // saves
    const std::vector<quint64> seqs = sequencesInLog(log_path);
    const OrderCheck c = checkOrder(seqs, 0, n);
    const double secs = double(last_change_ns - first_write_ns) / 1e9;
    const double rate = double(seqs.size()) / secs;
    rows.push_back({ figure,
                     QStringLiteral("%1 lines/s (%2 lines in %3 s), %4 lost, %5 out of order, "
                                    "%6 duplicated; longest stall %7 ms")
                         .arg(rate, 0, 'f', 0)
                         .arg(seqs.size())
                         .arg(secs, 0, 'f', 2)
                         .arg(c.lost)
                         .arg(c.out_of_order)
                         .arg(c.duplicated)
                         .arg(stall.longestMs(), 0, 'f', 0),
                     QStringLiteral(">= 150,000 lines/s, 0 lost, 0 out of order, no stall > 50 ms"),
                     verdict(rate >= 150000 && c.lost == 0 && c.out_of_order == 0
                             && c.duplicated == 0 && stall.longestMs() <= 50),
                     commandFor("tcp-flood") });
    return true;
}

bool tcpBusRate(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("TCP at 2,000 lines/s, 10 s");
    TorvelRig rig;
    if (!rig.connect(1000, true))
        return fail(rows, figure, QStringLiteral("no identity reply"), "tcp-bus-rate");
    rig.sim.setDataRate(2000);
    runFor(1000);
    const quint64 sent0 = rig.sim.dataLinesSent();
    PaintCounter paints(consoleOf(rig.w)->viewport());
    const Share share = toolShare();
    const int repaints = paints.count;
    const quint64 sent = rig.sim.dataLinesSent() - sent0;
    // The stall probe wakes the loop every millisecond, which the CPU
    // figure must not carry: its own 10 s.
    StallProbe stall;
    stall.start();
    runFor(measure_ms);
    stall.stop();
    rows.push_back({ figure,
                     QStringLiteral("%1; %2 lines taken in 10 s, %3 console repaints/s; "
                                    "longest stall %4 ms")
                         .arg(shareText(share))
                         .arg(sent)
                         .arg(repaints / 10)
                         .arg(stall.longestMs(), 0, 'f', 1),
                     QStringLiteral("<= 5% of one core, no stall > 50 ms"),
                     verdict(share.median <= 0.05 && stall.longestMs() <= 50),
                     commandFor("tcp-bus-rate") });
    return true;
}

// Children still running when the bench is stopped (Ctrl+C, kill): CuteCom
// left behind keeps a third of a core busy and spoils every figure taken
// after it, so they are killed on the way out.
std::atomic<pid_t> running_children[4];

extern "C" void killChildrenAndExit(int sig)
{
    for (std::atomic<pid_t> &child : running_children) {
        const pid_t pid = child.load();
        if (pid > 0)
            ::kill(pid, SIGKILL);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// A child process that is ended, if still running, with this object.
struct Child : QProcess
{
    Child()
    {
        connect(this, &QProcess::started, this, [this] {
            for (std::atomic<pid_t> &child : running_children) {
                pid_t none = 0;
                if (child.compare_exchange_strong(none, pid_t(processId()))) {
                    slot = &child;
                    break;
                }
            }
        });
    }
    ~Child() override
    {
        if (slot)
            slot->store(0);
        if (state() == QProcess::NotRunning)
            return;
        terminate();
        if (!waitForFinished(3000)) {
            kill();
            waitForFinished(3000);
        }
    }
    std::atomic<pid_t> *slot = nullptr;
};

// The programs the figures taken on an X display need, as found on PATH.
struct XPrograms
{
    QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    QString cutecom = QStandardPaths::findExecutable(QStringLiteral("cutecom"));
    QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    QString xev = QStandardPaths::findExecutable(QStringLiteral("xev"));

    // Empty when all of `needed` are installed, else why the figure is
    // skipped.
    QString missing(const QStringList &needed) const
    {
        struct Program
        {
            const QString &path;
            const char *name;
            const char *package;
        };
        const Program programs[] = { { xvfb, "Xvfb", "xvfb" },
                                     { cutecom, "cutecom", "cutecom" },
                                     { xdotool, "xdotool", "xdotool" },
                                     { xev, "xev", "x11-utils" } };
        QStringList names, packages;
        for (const Program &p : programs) {
            if (p.path.isEmpty() && needed.contains(QLatin1String(p.name))) {
                names << QLatin1String(p.name);
                packages << QLatin1String(p.package);
            }
        }
        if (names.isEmpty())
            return {};
        return QStringLiteral("skipped: %1 not installed (apt-get install %2)")
            .arg(names.join(QStringLiteral(", ")), packages.join(QLatin1Char(' ')));
    }
};

// A virtual X display of its own while this object lives: the first free
// number from XVFB_FIRST_DISPLAY on (default 90).
class XDisplay
{
public:
    bool start(const QString &xvfb, QString *note)
    {
        bool set = false;
        int display = qEnvironmentVariableIntValue("XVFB_FIRST_DISPLAY", &set);
        if (!set)
            display = 90;
        const auto socket = [](int n) { return QStringLiteral("/tmp/.X11-unix/X%1").arg(n); };
        while (display < 200
               && (QFile::exists(socket(display))
                   || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display))))
            ++display;
        name = QStringLiteral(":%1").arg(display);
        x.start(xvfb,
                QStringList{ name, QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                             QStringLiteral("tcp") });
        if (!runUntil([&] { return QFile::exists(socket(display)); }, 5000)) {
            *note = QStringLiteral("Xvfb did not start");
            return false;
        }
        return true;
    }
    // The bench's own environment, with this display and the toolkit's X11
    // platform instead of the bench's offscreen one.
    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("DISPLAY"), name);
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return e;
    }
    QString name;

private:
    Child x;
};

// A home of CuteCom's own whose one session names the serial port `port` at
// `baud`, 8N1; the environment that makes CuteCom take it.
bool cutecomHome(const QTemporaryDir &home, const QString &port, int baud, QProcessEnvironment *env)
{
    QDir(home.path()).mkpath(QStringLiteral(".config/CuteCom"));
    QFile conf(home.filePath(QStringLiteral(".config/CuteCom/CuteCom5.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return false;
    conf.write("[sessions]\n1\\BaudRate=" + QByteArray::number(baud)
               + "\n1\\DataBits=8\n1\\Parity=0\n1\\StopBits=1\n"
                 "1\\FlowControl=0\n1\\OpenMode=3\n1\\autoReconnect=false\n1\\name=Default\n"
                 "1\\showCtrlCharacters=false\n1\\showTimestamp=false\n1\\Device="
               + QFile::encodeName(port) + "\nsize=1\n");
    env->insert(QStringLiteral("HOME"), home.path());
    env->insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    return true;
}

// Waits for CuteCom's main window, then clicks its Open button, at the top
// left under the menu. On a pseudo-terminal CuteCom's modem-line request
// fails and it says so in a message box; closing the box closes the port,
// so the box stays while the data flows and is shown behind it.
bool clickCutecomOpen(const XPrograms &xp, const QProcessEnvironment &env, qint64 pid)
{
    QProcess find;
    find.setProcessEnvironment(env);
    find.start(xp.xdotool,
               { QStringLiteral("search"), QStringLiteral("--sync"),
                 QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid),
                 QStringLiteral("--name"), QStringLiteral("CuteCom") });
    find.waitForFinished(10000);
    const QByteArray window = find.readAllStandardOutput().split('\n').value(0).trimmed();
    if (window.isEmpty()) {
        find.kill();
        find.waitForFinished(1000);
        return false;
    }
    QProcess click;
    click.setProcessEnvironment(env);
    click.start(xp.xdotool,
                { QStringLiteral("mousemove"), QStringLiteral("--window"),
                  QString::fromLatin1(window), QStringLiteral("50"), QStringLiteral("43"),
                  QStringLiteral("click"), QStringLiteral("1") });
    return click.waitForFinished(5000);
}

// CuteCom, the general serial terminal people watch a gateway with, on the
// same stream as the tool: a simulated Sernix in RAW mode at 230400 baud,
// the line kept full. It runs as a user runs it, on a virtual X display of
// its own: its session names the pseudo-terminal and the rate, and its Open
// button is clicked. Its share of a core over 10 s; nothing when it cannot
// be run, with the reason in *note.
std::optional<Share> cutecomShare(QString *note, double *frames_per_s)
{
    const XPrograms xp;
    *note = xp.missing(
        { QStringLiteral("cutecom"), QStringLiteral("Xvfb"), QStringLiteral("xdotool") });
    if (!note->isEmpty())
        return std::nullopt;
    gatewaysim::SernixSimulator sim(15);
    if (!sim.start()) {
        *note = QStringLiteral("no pseudo-terminal");
        return std::nullopt;
    }
    // CuteCom only listens: the gateway is put in RAW output as the tool
    // would have it.
    sim.setRawInitialised(true);

    XDisplay display;
    if (!display.start(xp.xvfb, note))
        return std::nullopt;
    QProcessEnvironment env = display.env();
    QTemporaryDir home;
    if (!cutecomHome(home, sim.portName(), 230400, &env)) {
        *note = QStringLiteral("cannot write CuteCom's settings");
        return std::nullopt;
    }
    Child cutecom;
    cutecom.setProcessEnvironment(env);
    cutecom.setStandardOutputFile(QProcess::nullDevice());
    cutecom.setStandardErrorFile(QProcess::nullDevice());
    cutecom.start(xp.cutecom, QStringList());
    if (!cutecom.waitForStarted(5000)) {
        *note = QStringLiteral("CuteCom did not start");
        return std::nullopt;
    }
    if (!clickCutecomOpen(xp, env, cutecom.processId())) {
        *note = QStringLiteral("CuteCom's window did not show");
        return std::nullopt;
    }
    if (!runUntil([&] { return sim.portOpenedByTool() && sim.toolBaud() == 230400; }, 5000)) {
        *note = QStringLiteral("CuteCom did not open the port at 230400 baud");
        return std::nullopt;
    }
    sim.setDataRate(1000);
    runFor(1500);
    const qint64 pid = cutecom.processId();
    const quint64 sent0 = sim.dataLinesSent();
    const qint64 cpu0 = otherProcessCpuNs(pid);
    const qint64 wall0 = steadyNs();
    WindowedShare windows([pid] { return runNs(pid); });
    windows.start();
    runFor(measure_ms);
    windows.stop();
    const qint64 cpu1 = otherProcessCpuNs(pid);
    const double wall = double(steadyNs() - wall0);
    *frames_per_s = double(sim.dataLinesSent() - sent0) / (wall / 1e9);
    sim.setDataRate(0);
    if (cpu0 < 0 || cpu1 < 0 || cutecom.state() != QProcess::Running) {
        *note = QStringLiteral("CuteCom ended during the measurement");
        return std::nullopt;
    }
    const double mean = double(cpu1 - cpu0) / wall;
    return Share{ windows.valid() ? windows.median() : mean, mean };
}

// A simulated Sernix on a pseudo-terminal at its mode's rate, with the
// window shown, connected and logging, and the gateway sending more data
// than the line carries. In RAW mode, the one that runs at 230400 baud, the
// gateway is initialised and the data are numbered frames: the bench's
// serial stream. In the other modes the data are the mode's instrument
// sentences.
struct SernixRig
{
    explicit SernixRig(int mode = 15)
        : sim(mode)
        , raw(mode == 15)
    { }

    gatewaysim::SernixSimulator sim;
    const bool raw;
    MainWindow w;
    QTemporaryDir dir;
    QString log_path = dir.filePath(QStringLiteral("serial.csv"));
    quint64 first = 0;
    QElapsedTimer flowing;

    // Empty when the stream flows, otherwise why not.
    QString start()
    {
        if (!sim.start())
            return QStringLiteral("no pseudo-terminal");
        const QString port = sim.portName();
        w.setPortLister([port] {
            return QList<tavix::SerialPortEntry>{ { port, QStringLiteral("FTDI") } };
        });
        w.show();
        w.loadSernix();
        // Straight to the gateway's rate rather than through the whole probe.
        w.openSerialPort(sim.gatewayBaud());
        if (!runUntil([&] { return w.state().sernix_identified; }, 5000))
            return QStringLiteral("no identity reply");
        // The probe's own restart sequence still goes out once; let its
        // identity reply come before the gateway is initialised.
        runFor(1000);
        if (raw) {
            w.init_raw_mode();
            if (!runUntil([&] { return sim.rawInitialised(); }, 3000))
                return QStringLiteral("RAW initialisation not taken");
            runFor(800); // the address-claim request and its answers
        }
        sim.setInstrumentData(!raw);
        showDataTab(w);
        w.setSaveNameAsker([this] { return log_path; });
        w.start_logging();
        first = sim.nextSequence();
        // More than the line carries: the gateway sheds what it cannot send,
        // so the line runs full.
        flowing.start();
        sim.setDataRate(1000);
        runFor(500);
        return QString();
    }

    // Stops the stream and saves the log; the data lines sent, and which of
    // them the log lacks or has out of order (instrument sentences carry no
    // number: only how many are missing).
    OrderCheck stop(quint64 *count, double *flow_s)
    {
        sim.setDataRate(0);
        *flow_s = flowing.nsecsElapsed() / 1e9;
        runFor(500); // what is still on the line
        w.start_logging();
        *count = sim.nextSequence() - first;
        if (raw)
            return checkOrder(sequencesInLog(log_path), first, *count);
        QFile f(log_path);
        quint64 logged = 0;
        if (f.open(QIODevice::ReadOnly)) {
            for (const QByteArray &record : f.readAll().split('\n'))
                logged += (record.startsWith('$') || record.startsWith('!'))
                        && !record.startsWith("$PHLV")
                    ? 1
                    : 0;
        }
        OrderCheck c;
        c.lost = *count > logged ? *count - logged : 0;
        return c;
    }
};

bool serialLineRate(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("serial at 230400 baud, 10 s");
    SernixRig rig;
    const QString why = rig.start();
    if (!why.isEmpty())
        return fail(rows, figure, why, "serial-230400");
    PaintCounter paints(consoleOf(rig.w)->viewport());
    const Share share = toolShare();
    const int repaints = paints.count;
    quint64 count = 0;
    double flow_s = 0;
    const OrderCheck c = rig.stop(&count, &flow_s);
    rows.push_back(
        { figure,
          QStringLiteral("%1; logging on; %2 frames, %3/s; %4 console "
                         "repaints/s; %5 lost, %6 out of order")
              .arg(shareText(share))
              .arg(count)
              .arg(double(count) / flow_s, 0, 'f', 0)
              .arg(repaints / 10)
              .arg(c.lost)
              .arg(c.out_of_order),
          QStringLiteral("<= 3% of one core, 0 lost"),
          verdict(share.median <= 0.03 && c.lost == 0 && c.out_of_order == 0 && count > 0),
          commandFor("serial-230400") });

    // The peer, right after, so that the ratio comes from one run.
    std::fprintf(stderr, "measuring CuteCom on the same stream...\n");
    QString note;
    double peer_rate = 0;
    const std::optional<Share> peer = cutecomShare(&note, &peer_rate);
    const QString peer_figure = QStringLiteral("CuteCom on the same serial stream, 10 s");
    if (!peer) {
        rows.push_back({ peer_figure, note, QStringLiteral("tool <= 0.5 x CuteCom"),
                         QStringLiteral("-"), commandFor("serial-230400") });
        return true;
    }
    const double ratio = peer->median > 0 ? share.median / peer->median : 0;
    const double mean_ratio = peer->mean > 0 ? share.mean / peer->mean : 0;
    rows.push_back({ peer_figure,
                     QStringLiteral("%1; %2 frames/s, no logging, under Xvfb; the tool takes "
                                    "%3 x its share (%4 x by the means)")
                         .arg(shareText(*peer))
                         .arg(peer_rate, 0, 'f', 0)
                         .arg(ratio, 0, 'f', 2)
                         .arg(mean_ratio, 0, 'f', 2),
                     QStringLiteral("tool <= 0.5 x CuteCom"),
                     verdict(peer->median > 0 && ratio <= 0.5), commandFor("serial-230400") });
    return true;
}

// What a process holds resident 10 s after its start, and the OpenGL
// drivers it has mapped then.
struct Footprint
{
    qint64 rss = 0;
    QStringList gl;
};

QString footprintText(const Footprint &f)
{
    return QStringLiteral("%1 MB, %2")
        .arg(double(f.rss) / mb, 0, 'f', 1)
        .arg(f.gl.isEmpty() ? QStringLiteral("no OpenGL driver mapped")
                            : QStringLiteral("OpenGL mapped: ") + f.gl.join(QStringLiteral(", ")));
}

// Resident memory 10 s after start under X, as a user runs each program:
// the tool's own binary on its selection page; the tool's window with a
// simulated Sernix connected and the Data tab shown, started like the tool
// by this program (the tool itself cannot be pointed at a pseudo-terminal);
// CuteCom with its port open on the same kind of stream. All three at once;
// CuteCom on a display of its own, where no other window can take the click
// on its Open button.
bool memoryAfterStart(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("resident memory 10 s after start, under Xvfb");
    const QString goal = QStringLiteral("working page <= 45 MB and <= 0.5 x CuteCom; no OpenGL "
                                        "driver mapped");
    const XPrograms xp;
    QString note = xp.missing({ QStringLiteral("Xvfb") });
    if (!note.isEmpty()) {
        rows.push_back({ figure, note, goal, QStringLiteral("-"), commandFor("memory") });
        return true;
    }
    XDisplay display, peer_display;
    gatewaysim::SernixSimulator tool_sim(0), peer_sim(0);
    if (!display.start(xp.xvfb, &note) || !peer_display.start(xp.xvfb, &note) || !tool_sim.start()
        || !peer_sim.start())
        return fail(rows, figure, note.isEmpty() ? QStringLiteral("no pseudo-terminal") : note,
                    "memory");
    const QString peer_note = xp.missing({ QStringLiteral("cutecom"), QStringLiteral("xdotool") });
    QTemporaryDir home;
    QProcessEnvironment peer_env = peer_display.env();
    Child tool, window, cutecom;
    for (Child *c : { &tool, &window, &cutecom }) {
        c->setProcessEnvironment(display.env());
        c->setStandardErrorFile(QProcess::nullDevice());
    }
    tool.setStandardOutputFile(QProcess::nullDevice());
    cutecom.setStandardOutputFile(QProcess::nullDevice());
    const qint64 t0 = steadyNs();
    tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../tavix-gateway-tool"),
               QStringList());
    window.start(QCoreApplication::applicationFilePath(),
                 { QStringLiteral("--window"), tool_sim.portName() });
    if (peer_note.isEmpty() && cutecomHome(home, peer_sim.portName(), 4800, &peer_env)) {
        cutecom.setProcessEnvironment(peer_env);
        cutecom.start(xp.cutecom, QStringList());
        // A click while CuteCom is still setting its window up can go
        // nowhere: again, until the port is open.
        for (int click = 0; click < 3 && !peer_sim.portOpenedByTool(); ++click) {
            clickCutecomOpen(xp, peer_env, cutecom.processId());
            runUntil([&] { return peer_sim.portOpenedByTool(); }, 2000);
        }
    }
    runUntil([&] { return steadyNs() - t0 >= qint64(measure_ms) * 1000000; }, measure_ms + 1000);
    const auto footprint = [](const Child &c) {
        return Footprint{ residentBytes(c.processId()), openGlDriversMapped(c.processId()) };
    };
    const Footprint own = footprint(tool), shown = footprint(window), peer = footprint(cutecom);
    const bool data_tab = window.readAllStandardOutput().contains("data tab shown");
    if (tool.state() != QProcess::Running || window.state() != QProcess::Running || !data_tab)
        return fail(rows, figure,
                    QStringLiteral("the tool did not start, or its Data tab did not show"),
                    "memory");
    const bool peer_ran = cutecom.state() == QProcess::Running && peer_sim.portOpenedByTool();
    const double ratio = peer_ran ? double(shown.rss) / double(peer.rss) : 0;
    QString measured = QStringLiteral("working page (Data tab, simulated Sernix): %1; the tool's "
                                      "own binary, selection page: %2; ")
                           .arg(footprintText(shown), footprintText(own));
    if (peer_ran)
        measured += QStringLiteral("CuteCom, port open: %1; the tool takes %2 x its memory")
                        .arg(footprintText(peer))
                        .arg(ratio, 0, 'f', 2);
    else
        measured
            += QStringLiteral("CuteCom %1")
                   .arg(peer_note.isEmpty() ? QStringLiteral("did not open its port") : peer_note);
    const bool met = shown.rss <= 45 * mb && shown.gl.isEmpty() && own.gl.isEmpty()
        && (!peer_ran || ratio <= 0.5);
    rows.push_back({ figure, measured, goal, verdict(met), commandFor("memory") });
    return true;
}

// Reports, through xev, when the X server maps a top-level window on a
// display (override-redirect ones, such as tooltips, aside).
class MapWatcher
{
public:
    bool start(const QString &xev, const QProcessEnvironment &env)
    {
        QObject::connect(&watcher, &QProcess::readyReadStandardOutput, [this] {
            const qint64 now = steadyNs();
            text += watcher.readAllStandardOutput();
            static const QRegularExpression map(
                QStringLiteral("MapNotify event.*\\n.*override NO"));
            QRegularExpressionMatch m;
            while ((m = map.match(text)).hasMatch()) {
                maps.push_back(now);
                text.remove(0, m.capturedEnd());
            }
        });
        watcher.setProcessEnvironment(env);
        watcher.start(
            xev,
            { QStringLiteral("-root"), QStringLiteral("-event"), QStringLiteral("substructure") });
        if (!watcher.waitForStarted(5000))
            return false;
        // xev says nothing when it is ready to report: give it time to
        // connect, well before the first window can be up.
        runFor(500);
        return watcher.state() == QProcess::Running;
    }
    // Milliseconds from `t0` to the first map after it; -1 if none came
    // within `timeout_ms`.
    double msToMap(qint64 t0, int timeout_ms)
    {
        maps.clear();
        if (!runUntil([this] { return !maps.empty(); }, timeout_ms))
            return -1;
        return double(maps.front() - t0) / 1e6;
    }

private:
    QString text;
    std::vector<qint64> maps;
    Child watcher; // ended first, while what it writes to still exists
};

// From start to a mapped window: the tool's own binary and CuteCom, in
// turn on one display, each started five times after one start that warms
// the file cache.
bool startToWindow(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("start to a mapped window, under Xvfb");
    const QString goal = QStringLiteral("tool <= CuteCom");
    const XPrograms xp;
    QString note = xp.missing({ QStringLiteral("Xvfb"), QStringLiteral("xev") });
    if (!note.isEmpty()) {
        rows.push_back({ figure, note, goal, QStringLiteral("-"), commandFor("start-time") });
        return true;
    }
    XDisplay display;
    MapWatcher watcher;
    if (!display.start(xp.xvfb, &note))
        return fail(rows, figure, note, "start-time");
    if (!watcher.start(xp.xev, display.env()))
        return fail(rows, figure, QStringLiteral("xev did not start"), "start-time");
    const QString peer_note = xp.missing({ QStringLiteral("cutecom") });
    QTemporaryDir home;
    QProcessEnvironment peer_env = display.env();
    // A session that names no port: CuteCom opens none at start.
    cutecomHome(home, QStringLiteral("/dev/null"), 4800, &peer_env);
    const auto timeStart = [&](const QString &exe, const QProcessEnvironment &env) {
        Child c;
        c.setProcessEnvironment(env);
        c.setStandardOutputFile(QProcess::nullDevice());
        c.setStandardErrorFile(QProcess::nullDevice());
        const qint64 t0 = steadyNs();
        c.start(exe, QStringList());
        return watcher.msToMap(t0, 20000);
    };
    const QString tool_exe
        = QCoreApplication::applicationDirPath() + QStringLiteral("/../tavix-gateway-tool");
    std::vector<double> tool_ms, peer_ms;
    constexpr int starts = 5;
    for (int i = 0; i <= starts; ++i) {
        const double t = timeStart(tool_exe, display.env());
        if (t < 0)
            return fail(rows, figure, QStringLiteral("the tool's window did not map"),
                        "start-time");
        if (i > 0)
            tool_ms.push_back(t);
        if (!peer_note.isEmpty())
            continue;
        const double p = timeStart(xp.cutecom, peer_env);
        if (p < 0)
            return fail(rows, figure, QStringLiteral("CuteCom's window did not map"), "start-time");
        if (i > 0)
            peer_ms.push_back(p);
    }
    const auto spread = [](std::vector<double> &ms) {
        const double median = percentile(ms, 50);
        return QStringLiteral("%1 ms (%2 to %3)")
            .arg(median, 0, 'f', 0)
            .arg(ms.front(), 0, 'f', 0)
            .arg(ms.back(), 0, 'f', 0);
    };
    QString measured
        = QStringLiteral("median of %1 starts: the tool %2").arg(starts).arg(spread(tool_ms));
    if (peer_ms.empty()) {
        rows.push_back({ figure, measured + QStringLiteral("; CuteCom ") + peer_note, goal,
                         QStringLiteral("-"), commandFor("start-time") });
        return true;
    }
    measured += QStringLiteral(", CuteCom %1").arg(spread(peer_ms));
    rows.push_back({ figure, measured, goal,
                     verdict(percentile(tool_ms, 50) <= percentile(peer_ms, 50)),
                     commandFor("start-time") });
    return true;
}

bool idleLink(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("idle connected Torvel, 10 s");
    TorvelRig rig;
    if (!rig.connect(1000, true))
        return fail(rows, figure, QStringLiteral("no identity reply"), "idle");
    runFor(1000);
    PaintCounter paints(consoleOf(rig.w)->viewport());
    const Share share = toolShare();
    rows.push_back({ figure,
                     QStringLiteral("%1; status sentence once a second; %2 console "
                                    "repaints in 10 s")
                         .arg(shareText(share))
                         .arg(paints.count),
                     QStringLiteral("<= 0.5% of one core"), verdict(share.median <= 0.005),
                     commandFor("idle") });
    return true;
}

// Stamps each numbered line when the console's document takes it in, and
// again at the first repaint of the pane after that: the moment the user
// can see it.
class ShownTimes : public QObject
{
public:
    ShownTimes(QPlainTextEdit *console, gatewaysim::TorvelSimulator *sim)
        : sim(sim)
        , newest_inserted(sim->nextSequence())
        , newest_painted(newest_inserted)
    {
        console->viewport()->installEventFilter(this);
        QTextDocument *doc = console->document();
        QObject::connect(
            doc, &QTextDocument::contentsChange, this, [this, doc](int from, int, int added) {
                const qint64 now = steadyNs();
                const QTextBlock last = doc->findBlock(from + added);
                for (QTextBlock b = doc->findBlock(from); b.isValid(); b = b.next()) {
                    const std::optional<quint64> seq = gatewaysim::sequenceOf(b.text().toLatin1());
                    if (seq && seen.insert(*seq).second) {
                        newest_inserted = std::max(newest_inserted, *seq + 1);
                        if (const std::optional<qint64> written = this->sim->writeTimeNs(*seq)) {
                            inserted_ms.push_back(double(now - *written) / 1e6);
                            unpainted.push_back(*written);
                        }
                    }
                    if (b == last)
                        break;
                }
            });
    }
    std::vector<double> inserted_ms; // write to insert
    std::vector<double> shown_ms; // write to the repaint that shows it
    // Every line from the first written on, shown or not: write to the
    // first repaint that shows it or a newer line. In a flood most lines
    // are passed over; what a user sees late is the newest one.
    std::vector<double> newest_ms;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const qint64 now = steadyNs();
            for (qint64 written : unpainted)
                shown_ms.push_back(double(now - written) / 1e6);
            unpainted.clear();
            for (; newest_painted < newest_inserted; ++newest_painted) {
                if (const std::optional<qint64> written = sim->writeTimeNs(newest_painted))
                    newest_ms.push_back(double(now - *written) / 1e6);
            }
        }
        return false;
    }

private:
    gatewaysim::TorvelSimulator *sim;
    std::unordered_set<quint64> seen;
    std::vector<qint64> unpainted;
    quint64 newest_inserted; // one past the newest line in the document
    quint64 newest_painted; // one past the newest line on screen
};

// What a latency row makes of the times of the lines written: median, 99th
// percentile and longest, and whether every line was timed.
struct Latency
{
    QString text; // ends inside an open parenthesis, for the row to add to
    double p99;
    bool all;
};

Latency latencyOf(std::vector<double> &ms, quint64 sent, int decimals)
{
    const double p99 = percentile(ms, 99);
    return { QStringLiteral("median %1 ms, p99 %2 ms, max %3 ms (%4 of %5 lines")
                 .arg(percentile(ms, 50), 0, 'f', decimals)
                 .arg(p99, 0, 'f', decimals)
                 .arg(ms.empty() ? 0 : ms.back(), 0, 'f', decimals)
                 .arg(ms.size())
                 .arg(sent),
             p99, !ms.empty() && ms.size() == sent };
}

bool latency(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("latency at 10 lines/s, 10 s (TCP)");
    TorvelRig rig;
    if (!rig.connect(1000, true))
        return fail(rows, figure, QStringLiteral("no identity reply"), "latency");
    // From the simulator's write of a line to the repaint of the console
    // that shows it. Nothing is added to the tool for this.
    ShownTimes times(consoleOf(rig.w), &rig.sim);
    rig.sim.setDataRate(10);
    runFor(measure_ms);
    rig.sim.setDataRate(0);
    runFor(200);
    const quint64 sent = rig.sim.dataLinesSent();
    const Latency shown = latencyOf(times.shown_ms, sent, 2);
    rows.push_back({ figure,
                     QStringLiteral("on screen: %1; in the document after a median %2 ms)")
                         .arg(shown.text)
                         .arg(percentile(times.inserted_ms, 50), 0, 'f', 2),
                     QStringLiteral("p99 < 30 ms"), verdict(shown.p99 < 30 && shown.all),
                     commandFor("latency") });
    return true;
}

// A flood: lines at the bus's full rate, far faster than anyone reads them,
// so the pane moves a page at a time and passes most of them over. How old
// the newest line is when it, or a newer one, reaches the screen.
bool floodLatency(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("newest line on screen in a flood of 2,000 lines/s, "
                                          "10 s (TCP)");
    TorvelRig rig;
    if (!rig.connect(1000, true))
        return fail(rows, figure, QStringLiteral("no identity reply"), "flood-latency");
    ShownTimes times(consoleOf(rig.w), &rig.sim);
    PaintCounter paints(consoleOf(rig.w)->viewport());
    rig.sim.setDataRate(2000);
    runFor(measure_ms);
    const int repaints = paints.count;
    rig.sim.setDataRate(0);
    runFor(1500); // the last page
    const quint64 sent = rig.sim.dataLinesSent();
    const Latency newest = latencyOf(times.newest_ms, sent, 1);
    rows.push_back({ figure,
                     QStringLiteral("%1; %2 of them shown, the others passed over); %3 console "
                                    "repaints/s")
                         .arg(newest.text)
                         .arg(times.shown_ms.size())
                         .arg(repaints / 10),
                     QStringLiteral("p99 <= 150 ms"), verdict(newest.p99 <= 150 && newest.all),
                     commandFor("flood-latency") });
    return true;
}

// A night of logging, shortened: the Torvel link at the bus's full rate with
// logging on, SOAK_SECONDS long (default 600).
bool soak(std::vector<Row> &rows)
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("SOAK_SECONDS", &ok);
    const int soak_s = ok && seconds > 0 ? seconds : 600;
    const QString figure = QStringLiteral("soak, %1 min at 2,000 lines/s, logging on")
                               .arg(soak_s / 60.0, 0, 'f', soak_s % 60 ? 1 : 0);
    TorvelRig rig;
    if (!rig.connect(1000, true))
        return fail(rows, figure, QStringLiteral("no identity reply"), "soak");
    QTemporaryDir dir;
    const QString log_path = dir.filePath(QStringLiteral("soak.csv"));
    rig.w.setSaveNameAsker([log_path] { return log_path; });
    rig.w.start_logging();
    const quint64 first = rig.sim.nextSequence();
    StallProbe stall;
    stall.start();
    rig.sim.setDataRate(2000);
    // Memory is counted from the end of a warm-up in which the toolkit's
    // caches and the allocator's pools find their size.
    const int warm_s = std::min(60, soak_s / 5);
    runFor(warm_s * 1000);
    const qint64 rss_warm = residentBytes();
    qint64 rss_peak = rss_warm;
    CpuShare cpu(sim_thread);
    cpu.start();
    for (int done = warm_s; done < soak_s; done += 10) {
        runFor(std::min(10, soak_s - done) * 1000);
        rss_peak = std::max(rss_peak, residentBytes());
        if ((done + 10) % 60 == 0)
            std::fprintf(stderr, "  soak: %d of %d s, RSS %+.1f MB since warm-up\n", done + 10,
                         soak_s, double(residentBytes() - rss_warm) / mb);
    }
    const double share = cpu.stop();
    rig.sim.setDataRate(0);
    runFor(500); // what is still on its way
    stall.stop();
    const qint64 rss_end = residentBytes();
    const quint64 count = rig.sim.nextSequence() - first;
    rig.w.start_logging(); // saves
    const std::vector<quint64> seqs = sequencesInLog(log_path);
    const OrderCheck c = checkOrder(seqs, first, count);
    const double growth = double(rss_end - rss_warm) / mb;
    rows.push_back({ figure,
                     QStringLiteral("RSS %1 MB after %2 s of warm-up, %3 MB at the end "
                                    "(%4%5 MB, peak %6%7 MB); %8 lines (%9/s), %10 lost, %11 out "
                                    "of order; longest stall %12 ms; %13 of one core with the "
                                    "stall probe running")
                         .arg(double(rss_warm) / mb, 0, 'f', 1)
                         .arg(warm_s)
                         .arg(double(rss_end) / mb, 0, 'f', 1)
                         .arg(growth < 0 ? QString() : QStringLiteral("+"))
                         .arg(growth, 0, 'f', 1)
                         .arg(rss_peak < rss_warm ? QString() : QStringLiteral("+"))
                         .arg(double(rss_peak - rss_warm) / mb, 0, 'f', 1)
                         .arg(count)
                         .arg(double(count) / soak_s, 0, 'f', 0)
                         .arg(c.lost)
                         .arg(c.out_of_order)
                         .arg(stall.longestMs(), 0, 'f', 1)
                         .arg(pct(share)),
                     QStringLiteral("< 5 MB growth after warm-up, 0 lost, 0 out of order"),
                     verdict(growth < 5 && c.lost == 0 && c.out_of_order == 0 && c.duplicated == 0
                             && count > 0),
                     QStringLiteral("SOAK_SECONDS=%1 ").arg(soak_s) + commandFor("soak") });
    return true;
}

bool loggingMemory(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("logging 1,000,000 lines");
    constexpr quint64 n = 1000000;
    MainWindow w;
    w.process_line(gatewaysim::torvelIdentityLine(3));
    if (!w.state().torvel_identified)
        return fail(rows, figure, QStringLiteral("identity line not taken"), "logging-memory");
    // The console fills to its block limit first, so its size is the same
    // before and after.
    for (quint64 seq = 0; seq < 10000; ++seq)
        w.process_line(gatewaysim::numberedLine(seq));
    QTemporaryDir dir;
    const QString log_path = dir.filePath(QStringLiteral("big.csv"));
    w.setSaveNameAsker([log_path] { return log_path; });

    const qint64 rss0 = residentBytes();
    w.start_logging();
    QElapsedTimer clock;
    clock.start();
    for (quint64 seq = 0; seq < n; ++seq) {
        w.process_line(gatewaysim::numberedLine(seq));
        // The tool's loop runs between passes of at most one ring of lines;
        // without it the widgets' posted events would pile up here and be
        // counted as the log's.
        if (seq % 200 == 199)
            QCoreApplication::processEvents();
    }
    const double feed_s = clock.nsecsElapsed() / 1e9;
    const qint64 rss1 = residentBytes();
    clock.restart();
    w.start_logging(); // saves
    const double save_s = clock.nsecsElapsed() / 1e9;
    const qint64 rss2 = residentBytes();
    const qint64 file_size = QFileInfo(log_path).size();
    const std::vector<quint64> seqs = sequencesInLog(log_path);
    const OrderCheck c = checkOrder(seqs, 0, n);
    const double growth = double(rss1 - rss0) / mb;
    rows.push_back({ figure,
                     QStringLiteral("RSS +%1 MB after the lines (%2 s, %3 us/line), +%4 MB after "
                                    "the save; save %5 s for %6 MB; %7 lines in the file, %8 lost, "
                                    "%9 out of order")
                         .arg(growth, 0, 'f', 1)
                         .arg(feed_s, 0, 'f', 1)
                         .arg(feed_s * 1e6 / double(n), 0, 'f', 1)
                         .arg(double(rss2 - rss0) / mb, 0, 'f', 1)
                         .arg(save_s, 0, 'f', 2)
                         .arg(double(file_size) / mb, 0, 'f', 1)
                         .arg(seqs.size())
                         .arg(c.lost)
                         .arg(c.out_of_order),
                     QStringLiteral("< 20 MB growth"),
                     verdict(growth < 20 && c.lost == 0 && c.out_of_order == 0),
                     commandFor("logging-memory") });
    return true;
}

// Cost of one call of take() a line, in us: the median of several rounds,
// and the fastest and slowest. The machine is shared and virtual: the
// median of several rounds is steadier than one long round.
struct PerLine
{
    static constexpr int warm = 2000;
    static constexpr int rounds = 7;
    static constexpr int per_round = 4000;
    double median = 0, fastest = 0, slowest = 0;

    PerLine(const std::function<QByteArray(quint64)> &line,
            const std::function<void(const QByteArray &)> &take)
    {
        std::vector<QByteArray> lines;
        for (int i = 0; i < warm + rounds * per_round; ++i)
            lines.push_back(line(quint64(i)));
        size_t next = 0;
        for (; next < size_t(warm); ++next)
            take(lines[next]);
        std::vector<double> us;
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < per_round; ++i)
                take(lines[next++]);
            us.push_back(double(clock.nsecsElapsed()) / 1e3 / per_round);
            // Between rounds, as between passes of the tool's event loop.
            QCoreApplication::processEvents();
        }
        fastest = *std::min_element(us.begin(), us.end());
        slowest = *std::max_element(us.begin(), us.end());
        median = percentile(us, 50);
    }

    QString text(const char *note) const
    {
        return QStringLiteral("%1 us/line (median of %2 rounds of %3 lines, %4 to %5; %6)")
            .arg(median, 0, 'f', 2)
            .arg(rounds)
            .arg(per_round)
            .arg(fastest, 0, 'f', 2)
            .arg(slowest, 0, 'f', 2)
            .arg(QLatin1String(note));
    }
};

bool perLine(std::vector<Row> &rows)
{
    MainWindow w; // never shown: no repaint in the figure
    w.process_line(gatewaysim::torvelIdentityLine(3));
    if (!w.state().torvel_identified)
        return fail(rows, QStringLiteral("process_line per line"),
                    QStringLiteral("identity line not taken"), "per-line");
    struct Kind
    {
        const char *name;
        std::function<QByteArray(quint64)> line;
    };
    const Kind kinds[] = {
        { "status sentence",
          [](quint64 i) { return "$PHLV,000000,12,0,5," + QByteArray::number(i) + ",34\r\n"; } },
        { "NMEA 0183 data sentence", gatewaysim::numberedLine },
        { "raw frame", gatewaysim::numberedFrame },
    };
    for (const Kind &kind : kinds) {
        const PerLine cost(kind.line, [&w](const QByteArray &line) { w.process_line(line); });
        rows.push_back({ QStringLiteral("process_line, ") + QLatin1String(kind.name),
                         cost.text("window not shown"), QStringLiteral("-"), QStringLiteral("-"),
                         commandFor("per-line") });
    }
    return true;
}

// What the Sentences tab's bookkeeping adds to every line, whether the tab
// is shown or not, and what a peer that makes up kinds without end costs.
bool sentencesPerLine(std::vector<Row> &rows)
{
    struct Kind
    {
        const char *name;
        std::function<QByteArray(quint64)> line;
    };
    const Kind kinds[] = {
        { "instrument sentences of mode 14",
          [](quint64 i) { return gatewaysim::instrumentSentence(14, i); } },
        { "raw frames", gatewaysim::numberedFrame },
    };
    for (const Kind &kind : kinds) {
        SentencesModel model;
        const PerLine cost(kind.line, [&model](const QByteArray &line) { model.note(line); });
        rows.push_back({ QStringLiteral("Sentences bookkeeping, ") + QLatin1String(kind.name),
                         cost.text("SentencesModel::note alone"), QStringLiteral("< 0.3 us/line"),
                         verdict(cost.median < 0.3), commandFor("sentences-per-line") });
    }

    // Ten lines each of 10,000 kinds, and the table refreshed after them.
    SentencesModel model;
    const qint64 rss0 = residentBytes();
    for (int round = 0; round < 10; ++round) {
        for (int kind = 0; kind < 10000; ++kind)
            model.note("$X" + QByteArray::number(kind) + ",1,2,3*00\r\n");
    }
    model.refresh();
    const double growth = double(residentBytes() - rss0) / mb;
    rows.push_back({ QStringLiteral("Sentences, 10,000 distinct kinds"),
                     QStringLiteral("%1 rows after 100,000 lines; RSS +%2 MB")
                         .arg(model.rowCount())
                         .arg(growth, 0, 'f', 1),
                     QStringLiteral("<= 501 rows, < 5 MB"),
                     verdict(model.rowCount() <= 501 && growth < 5),
                     commandFor("sentences-per-line") });
    return true;
}

// What one refresh of the shown Sentences tab costs, with the table redrawn,
// while lines come at 800 a second: the refresh alone, on top of the
// bookkeeping, and with the table at its bound.
bool sentencesRefresh(std::vector<Row> &rows)
{
    const QString figure = QStringLiteral("Sentences refresh at 800 lines/s, %1");
    MainWindow w;
    w.show();
    w.process_line(gatewaysim::torvelIdentityLine(14));
    auto *view = w.findChild<SentencesView *>();
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    tabs->setCurrentWidget(view);
    quint64 seq = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, &w, [&] {
        for (int i = 0; i < 8; ++i)
            w.process_line(gatewaysim::instrumentSentence(14, seq++));
    });
    feed.start(10);
    const auto measure = [&](bool at_bound) {
        runFor(1000);
        std::vector<double> ms, refresh_ms;
        for (int i = 0; i < 20; ++i) {
            runFor(SentencesView::refresh_ms);
            QElapsedTimer clock;
            clock.start();
            view->refresh();
            refresh_ms.push_back(double(clock.nsecsElapsed()) / 1e6);
            // The repaint the refresh asked for.
            QCoreApplication::sendPostedEvents();
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        const double worst = *std::max_element(ms.begin(), ms.end());
        const double median = percentile(ms, 50);
        const double model_median = percentile(refresh_ms, 50);
        const QString what = at_bound
            ? QStringLiteral("the table at its bound of %1 rows").arg(view->model()->rowCount())
            : QStringLiteral("%1 kinds").arg(view->model()->rowCount());
        rows.push_back({ figure.arg(what),
                         QStringLiteral("%1 ms a refresh with the table redrawn, %2 ms of it the "
                                        "rows (medians of 20; max %3 ms): %4 of one core at two "
                                        "refreshes a second")
                             .arg(median, 0, 'f', 2)
                             .arg(model_median, 0, 'f', 2)
                             .arg(worst, 0, 'f', 2)
                             .arg(pct(median * 2 / 1000)),
                         QStringLiteral("-"), QStringLiteral("-"),
                         commandFor("sentences-refresh") });
    };
    measure(false);
    for (int kind = 0; kind < 1000; ++kind)
        w.process_line("$X" + QByteArray::number(kind) + ",1,2,3*00\r\n");
    measure(true);
    feed.stop();
    return true;
}

// The CPU share on a serial stream with the Sentences tab in front against
// the Data tab, in turns on one stream, so that the machine's drift falls on
// both alike: the bench's serial stream (RAW mode, one kind of line), and
// the Full Mode's instrument sentences (a dozen kinds).
bool sentencesSerial(std::vector<Row> &rows)
{
    for (const int mode : { 15, 14 }) {
        const QString figure
            = QStringLiteral("serial, %1, Sentences tab against Data tab, 4 x 10 s")
                  .arg(mode == 15 ? QStringLiteral("RAW mode at 230400 baud")
                                  : QStringLiteral("Full Mode sentences at 115200 baud"));
        SernixRig rig(mode);
        const QString why = rig.start();
        if (!why.isEmpty())
            return fail(rows, figure, why, "sentences-serial");
        auto *tabs = rig.w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        auto *view = rig.w.findChild<SentencesView *>();
        std::vector<Share> data_tab, sentences_tab;
        for (int turn = 0; turn < 4; ++turn) {
            const bool sentences = turn % 2 == 1;
            if (sentences)
                tabs->setCurrentWidget(view);
            else
                showDataTab(rig.w);
            runFor(1000);
            (sentences ? sentences_tab : data_tab).push_back(toolShare());
        }
        const int kinds = view->model()->rowCount();
        quint64 count = 0;
        double flow_s = 0;
        const OrderCheck c = rig.stop(&count, &flow_s);
        const auto mean = [](const std::vector<Share> &shares) {
            double sum = 0;
            for (const Share &s : shares)
                sum += s.median;
            return sum / double(shares.size());
        };
        const double data_share = mean(data_tab);
        const double rise = data_share > 0 ? mean(sentences_tab) / data_share - 1 : 0;
        rows.push_back(
            { figure,
              QStringLiteral("Data tab %1 and %2, Sentences tab %3 and %4 of one core (medians of "
                             "1 s windows): %5%6% with the Sentences tab; %7 rows; logging on, %8 "
                             "lines, %9/s, %10 lost, %11 out of order")
                  .arg(pct(data_tab[0].median), pct(data_tab[1].median),
                       pct(sentences_tab[0].median), pct(sentences_tab[1].median),
                       rise < 0 ? QString() : QStringLiteral("+"))
                  .arg(rise * 100, 0, 'f', 0)
                  .arg(kinds)
                  .arg(count)
                  .arg(double(count) / flow_s, 0, 'f', 0)
                  .arg(c.lost)
                  .arg(c.out_of_order),
              QStringLiteral("Sentences tab <= 1.1 x Data tab, 0 lost"),
              verdict(data_share > 0 && rise <= 0.1 && c.lost == 0 && c.out_of_order == 0),
              commandFor("sentences-serial") });
    }
    return true;
}

struct Scenario
{
    const char *name;
    bool (*run)(std::vector<Row> &);
};

const Scenario scenarios[] = {
    { "tcp-flood", tcpFlood },
    { "tcp-bus-rate", tcpBusRate },
    { "serial-230400", serialLineRate },
    { "memory", memoryAfterStart },
    { "start-time", startToWindow },
    { "idle", idleLink },
    { "latency", latency },
    { "flood-latency", floodLatency },
    { "logging-memory", loggingMemory },
    { "per-line", perLine },
    { "sentences-per-line", sentencesPerLine },
    { "sentences-refresh", sentencesRefresh },
    { "sentences-serial", sentencesSerial },
    { "soak", soak },
};

QString cell(QString text)
{
    return text.replace(QLatin1Char('|'), QStringLiteral("\\|"));
}

void printTable(const std::vector<Row> &rows)
{
    std::printf("| figure | measured | goal | verdict | command |\n|---|---|---|---|---|\n");
    for (const Row &r : rows) {
        std::printf("| %s | %s | %s | %s | `%s` |\n", qPrintable(cell(r.figure)),
                    qPrintable(cell(r.measured)), qPrintable(cell(r.goal)),
                    qPrintable(cell(r.verdict)), qPrintable(r.command));
    }
}

// `tavix-bench --window PORT`: the tool's window in a process of its own,
// started as the tool starts, connected to the simulated Sernix on the
// pseudo-terminal PORT, with its Data tab shown a second after the gateway
// answered; it then says "data tab shown".
int toolWindow(int argc, char *argv[])
{
    MainWindow::prepareApplication();
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("tavix-gateway-tool"));
    QApplication::setWindowIcon(MainWindow::toolIcon());
    MainWindow w;
    const QString port = QString::fromLocal8Bit(argv[2]);
    w.setPortLister([port] {
        return QList<tavix::SerialPortEntry>{ { port, QStringLiteral("FTDI") } };
    });
    w.show();
    w.loadSernix();
    QTimer answered;
    QObject::connect(&answered, &QTimer::timeout, &w, [&] {
        if (!w.state().sernix_identified)
            return;
        answered.stop();
        QTimer::singleShot(1000, &w, [&w] {
            showDataTab(w);
            std::printf("data tab shown\n");
            std::fflush(stdout);
        });
    });
    answered.start(50);
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--window") == 0)
        return toolWindow(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    QApplication app(argc, argv);
    program = QString::fromLocal8Bit(argv[0]);
    for (int sig : { SIGINT, SIGTERM, SIGHUP })
        std::signal(sig, killChildrenAndExit);

    QStringList wanted = app.arguments().mid(1);
    for (const QString &name : wanted) {
        if (std::none_of(std::begin(scenarios), std::end(scenarios),
                         [&](const Scenario &s) { return name == QLatin1String(s.name); })) {
            std::fprintf(stderr, "unknown figure %s; known:", qPrintable(name));
            for (const Scenario &s : scenarios)
                std::fprintf(stderr, " %s", s.name);
            std::fprintf(stderr, "\n");
            return 2;
        }
    }

    const QByteArray load_before = loadAverage();
    const qint64 wall0 = steadyNs();
    const qint64 busy0 = machineBusyNs();
    const qint64 own0 = processCpuNs();
    std::vector<Row> rows;
    bool all_ran = true;
    for (const Scenario &s : scenarios) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(s.name)))
            continue;
        std::fprintf(stderr, "measuring %s...\n", s.name);
        all_ran = s.run(rows) && all_ran;
    }
    // CPU shares and latencies suffer when others share the machine: say
    // how busy they kept it.
    const int cores = QThread::idealThreadCount();
    const double others = double(machineBusyNs() - busy0 - (processCpuNs() - own0))
        / double(steadyNs() - wall0) / cores;
    std::printf("\nTavix Gateway Tool benchmarks: Qt %s, platform %s, %d cores; load average "
                "(1 min) %s before, %s after; other processes kept the cores %.0f%% busy\n\n",
                qVersion(), qPrintable(QGuiApplication::platformName()), cores,
                load_before.constData(), loadAverage().constData(), std::max(0.0, others) * 100);
    printTable(rows);
    return all_ran ? 0 : 1;
}
