#include "measure.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <cmath>

#include <sys/resource.h>
#include <unistd.h>

namespace bench {

namespace {

QByteArray readProcFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // /proc files report size 0: read until the end instead.
    return f.readAll();
}

// utime + stime of one /proc/.../stat line, in clock ticks; -1 if unreadable.
// The command name (field 2) sits in parentheses and may hold blanks or
// parentheses itself, so the fields are counted from the last ')'.
qint64 statTicks(const QByteArray &stat)
{
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // After the name: state is field 3, utime field 14, stime field 15.
    constexpr int utime = 14 - 3;
    constexpr int stime = 15 - 3;
    if (fields.size() <= stime)
        return -1;
    return fields.at(utime).toLongLong() + fields.at(stime).toLongLong();
}

// The /proc folders of the threads of a process (this one for 0).
QStringList taskDirs(qint64 pid = 0)
{
    const QDir tasks(pid > 0 ? QStringLiteral("/proc/%1/task").arg(pid)
                             : QStringLiteral("/proc/self/task"));
    QStringList dirs;
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        dirs << tasks.filePath(tid);
    return dirs;
}

bool taskNamed(const QString &dir, const QByteArray &name)
{
    return readProcFile(dir + QStringLiteral("/comm")).trimmed() == name;
}

} // namespace

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 processCpuNs()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto ns = [](const timeval &tv) {
        return qint64(tv.tv_sec) * 1000000000 + qint64(tv.tv_usec) * 1000;
    };
    return ns(ru.ru_utime) + ns(ru.ru_stime);
}

qint64 threadsCpuNs(const QByteArray &name)
{
    static const qint64 tick_ns = 1000000000 / sysconf(_SC_CLK_TCK);
    qint64 ticks = 0;
    for (const QString &dir : taskDirs()) {
        if (!taskNamed(dir, name))
            continue;
        const qint64 t = statTicks(readProcFile(dir + QStringLiteral("/stat")));
        if (t > 0)
            ticks += t;
    }
    return ticks * tick_ns;
}

qint64 otherProcessCpuNs(qint64 pid)
{
    static const qint64 tick_ns = 1000000000 / sysconf(_SC_CLK_TCK);
    const qint64 t = statTicks(readProcFile(QStringLiteral("/proc/%1/stat").arg(pid)));
    return t < 0 ? -1 : t * tick_ns;
}

qint64 runNs(qint64 pid, const QByteArray &excluded)
{
    const QStringList dirs = taskDirs(pid);
    if (dirs.isEmpty())
        return -1;
    qint64 ns = 0;
    for (const QString &dir : dirs) {
        if (!excluded.isEmpty() && taskNamed(dir, excluded))
            continue;
        // "time on a core, time waiting to run, time slices", in ns.
        ns += readProcFile(dir + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong();
    }
    return ns;
}

WindowedShare::WindowedShare(std::function<qint64()> sampler)
    : sampler(std::move(sampler))
{
    timer.setInterval(1000);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &WindowedShare::sample);
}

void WindowedShare::start()
{
    shares.clear();
    wall_last = steadyNs();
    run_last = sampler();
    ok = run_last >= 0;
    timer.start();
}

void WindowedShare::sample()
{
    const qint64 wall = steadyNs();
    const qint64 run = sampler();
    if (run < 0) {
        ok = false;
        return;
    }
    shares.push_back(double(run - run_last) / double(wall - wall_last));
    wall_last = wall;
    run_last = run;
}

void WindowedShare::stop()
{
    timer.stop();
}

double WindowedShare::median() const
{
    if (shares.empty())
        return 0;
    std::vector<double> sorted = shares;
    std::sort(sorted.begin(), sorted.end());
    const size_t mid = sorted.size() / 2;
    return sorted.size() % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

qint64 residentBytes(qint64 pid)
{
    const QList<QByteArray> fields
        = readProcFile(pid > 0 ? QStringLiteral("/proc/%1/statm").arg(pid)
                               : QStringLiteral("/proc/self/statm"))
              .split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

QStringList openGlDriversMapped(qint64 pid)
{
    static const QRegularExpression driver(QStringLiteral(
        "^(libLLVM|libGLX_mesa|libEGL_mesa|libglapi|libgbm|.*_dri\\.so|libqxcb-.*-integration)"));
    QStringList found;
    const QList<QByteArray> lines
        = readProcFile(QStringLiteral("/proc/%1/maps").arg(pid)).split('\n');
    for (const QByteArray &line : lines) {
        const int slash = line.lastIndexOf('/');
        if (slash < 0)
            continue;
        const QString file = QString::fromLocal8Bit(line.mid(slash + 1));
        if (driver.match(file).hasMatch() && !found.contains(file))
            found << file;
    }
    found.sort();
    return found;
}

QByteArray loadAverage()
{
    return readProcFile(QStringLiteral("/proc/loadavg")).split(' ').value(0);
}

qint64 machineBusyNs()
{
    static const qint64 tick_ns = 1000000000 / sysconf(_SC_CLK_TCK);
    // "cpu  user nice system idle iowait irq softirq steal ...": all but
    // idle and iowait is work.
    const QList<QByteArray> fields
        = readProcFile(QStringLiteral("/proc/stat")).split('\n').value(0).simplified().split(' ');
    qint64 busy = 0;
    for (int i = 1; i < fields.size() && i <= 8; ++i) {
        if (i != 4 && i != 5)
            busy += fields.at(i).toLongLong();
    }
    return busy * tick_ns;
}

void CpuShare::start()
{
    wall0 = steadyNs();
    process0 = processCpuNs();
    excluded0 = threadsCpuNs(excluded);
}

double CpuShare::stop()
{
    const double wall = double(steadyNs() - wall0);
    const double excluded_ns = double(threadsCpuNs(excluded) - excluded0);
    const double process_ns = double(processCpuNs() - process0);
    excluded_share = excluded_ns / wall;
    return std::max(0.0, process_ns - excluded_ns) / wall;
}

StallProbe::StallProbe()
{
    timer.setInterval(1);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] {
        const qint64 now = steadyNs();
        longest_ns = std::max(longest_ns, now - last_ns - 1000000);
        last_ns = now;
    });
}

void StallProbe::start()
{
    longest_ns = 0;
    last_ns = steadyNs();
    timer.start();
}

void StallProbe::stop()
{
    timer.stop();
    // A stall still going on when the probe stops counts too.
    longest_ns = std::max(longest_ns, steadyNs() - last_ns - 1000000);
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runUntil(const std::function<bool()> &pred, int timeout_ms)
{
    if (pred())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pred() || clock.elapsed() >= timeout_ms)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return pred();
}

double percentile(std::vector<double> &values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

} // namespace bench
