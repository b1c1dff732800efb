#pragma once

#include <QObject>
#include <QSemaphore>

// Shared by every InfiniteCountWorker; stored by repeat_sec and read by
// nobody yet.
extern int repeat_seconds;

// Lives on a thread of its own and sends the window a steady stream of ticks
// through a queued connection; each tick makes the window hand on the TCP
// lines that are waiting. The ticks are paced: emitted back to back they pile
// up in the window's event queue and keep both cores busy on a silent link.
class InfiniteCountWorker : public QObject
{
    Q_OBJECT

public:
    // Between two ticks. Short enough that a line waits no more than a
    // screen refresh or two, long enough that an idle link costs next to no
    // CPU: every tick wakes two threads, and at 10 ms that alone took about
    // 1% of a core.
    static constexpr int tick_interval_ms = 20;
    // A silent link needs no tick every few milliseconds: without word of
    // lines the next tick waits this long. The sweep never stops.
    static constexpr int idle_tick_interval_ms = 250;

    InfiniteCountWorker();
    ~InfiniteCountWorker() override;

    // Word that lines wait for a tick: the next one comes without the idle
    // pause. Callable from any thread.
    void wake() { wakeups.release(); }

    bool keep_running = true;

signals:
    void updateCount(int count);
    void finished();

public slots:
    void doWork();
    void stopWork();

private slots:
    void repeat_sec(int repeatsec);

private:
    QSemaphore wakeups;
};

// Counts count_from..count_to (inclusive), one step a second.
class CountWorker : public QObject
{
    Q_OBJECT

public:
    CountWorker(int from, int to);

    int count_from;
    int count_to;

signals:
    void updateCount(int count);
    void finished();

public slots:
    void doWork();
};
