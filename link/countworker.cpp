#include "link/countworker.h"

#include <QCoreApplication>
#include <QThread>

#include <climits>

int repeat_seconds = 1;

InfiniteCountWorker::InfiniteCountWorker() = default;

InfiniteCountWorker::~InfiniteCountWorker() = default;

void InfiniteCountWorker::doWork()
{
    int count = 0;
    while (keep_running) {
        // Word given before this tick is answered by it.
        wakeups.tryAcquire(wakeups.available());
        emit updateCount(count);
        count = count == INT_MAX ? 0 : count + 1;
        QThread::msleep(tick_interval_ms);
        wakeups.tryAcquire(1, idle_tick_interval_ms - tick_interval_ms);
        // Queued stopWork and repeat_sec calls reach us here.
        QCoreApplication::processEvents();
    }
    emit finished();
}

void InfiniteCountWorker::stopWork()
{
    keep_running = false;
}

void InfiniteCountWorker::repeat_sec(int repeatsec)
{
    repeat_seconds = repeatsec;
}

CountWorker::CountWorker(int from, int to)
    : count_from(from)
    , count_to(to)
{ }

void CountWorker::doWork()
{
    for (int value = count_from; value <= count_to;) {
        emit updateCount(value);
        QCoreApplication::processEvents();
        QThread::msleep(1000);
        if (value == INT_MAX)
            break;
        ++value;
    }
    emit finished();
}
