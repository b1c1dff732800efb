#pragma once

// What the benchmarks measure the tool with: CPU time of the process and of
// chosen threads, resident memory, the event loop's longest stall, and
// waiting on the event loop without spinning (a busy wait would show up in
// the very CPU figures being taken).

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

namespace bench {

// Monotonic clock in ns, the one the gateway simulator stamps its writes with.
qint64 steadyNs();

// CPU time (user + system) of the whole process, threads that have ended
// included.
qint64 processCpuNs();

// CPU time of the live threads of this process whose name is `name` (the
// simulator names its thread, so that its work can be taken out of the
// tool's). Clock-tick resolution: 10 ms on most systems.
qint64 threadsCpuNs(const QByteArray &name);

// CPU time (user + system) of another process, all its threads; -1 when it
// cannot be read. Clock-tick resolution.
qint64 otherProcessCpuNs(qint64 pid);

// Time on a core, as the scheduler counts it (ns resolution), of the live
// threads of a process (`pid`, or this one for 0) other than those named
// `excluded`; -1 when it cannot be read.
qint64 runNs(qint64 pid, const QByteArray &excluded = QByteArray());

// A CPU share taken in 1 s windows, from a sampler such as runNs(). On a
// virtual machine a stretch of the host's own work is charged to whichever
// thread it interrupted, in bursts that make a 10 s figure wander by a
// factor of two; the median of the windows leaves the bursts out, a mean
// over the stretch (CpuShare) keeps them.
class WindowedShare : public QObject
{
public:
    explicit WindowedShare(std::function<qint64()> sampler);
    void start();
    void stop();
    bool valid() const { return ok && !shares.empty(); }
    double median() const;

private:
    void sample();
    std::function<qint64()> sampler;
    QTimer timer;
    qint64 wall_last = 0, run_last = 0;
    std::vector<double> shares;
    bool ok = true;
};

// Resident set of this process, or of another one by pid, in bytes; 0 when
// it cannot be read.
qint64 residentBytes(qint64 pid = 0);

// The OpenGL drivers mapped into a process, by file name: Mesa's, the LLVM
// it compiles shaders with, the toolkit's GL integration plugins. Not the
// vendor-neutral dispatch libraries (libGL, libGLX, libEGL, libGLdispatch):
// the toolkit's Gui library links them, and they load no driver by
// themselves.
QStringList openGlDriversMapped(qint64 pid);

// The system's one-minute load average, as /proc/loadavg has it.
QByteArray loadAverage();

// CPU time all cores have been busy since boot, whoever kept them busy.
qint64 machineBusyNs();

// CPU share of one core taken by the process minus the named threads, over
// the stretch between start() and stop().
class CpuShare
{
public:
    explicit CpuShare(QByteArray excluded_thread)
        : excluded(std::move(excluded_thread))
    { }
    void start();
    // Share of one core, 0.25 meaning a quarter of a core.
    double stop();
    double excludedShare() const { return excluded_share; }

private:
    QByteArray excluded;
    qint64 wall0 = 0, process0 = 0, excluded0 = 0;
    double excluded_share = 0;
};

// The longest gap between two ticks of a 1 ms timer on the thread it lives
// on, less the interval: how long the event loop was kept from its timers.
// It costs the thread a wake-up a millisecond, so CPU figures are taken
// without it.
class StallProbe : public QObject
{
public:
    StallProbe();
    void start();
    void stop();
    // Longest stall in ms since start().
    double longestMs() const { return longest_ns / 1e6; }

private:
    QTimer timer;
    qint64 last_ns = 0;
    qint64 longest_ns = 0;
};

// Runs the event loop for ms milliseconds.
void runFor(int ms);
// Runs the event loop until pred() holds or timeout_ms pass; pred is looked
// at every 5 ms. Returns pred()'s last value.
bool runUntil(const std::function<bool()> &pred, int timeout_ms);

// Nearest-rank percentile (p in 0..100) of values, which it sorts.
double percentile(std::vector<double> &values, double p);

} // namespace bench
