// The two worker classes on threads of their own, as the window runs them:
// what they emit, in which order, how they end, and that the endless one
// never floods its receiver's event queue.
#include "link/countworker.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QThread>

namespace {

// Receives a worker's signals on the test's thread, as the window does.
class Receiver : public QObject
{
public:
    QList<int> values;
    QList<qint64> at_ms; // when each value arrived
    qint64 finished_at_ms = -1;
    QElapsedTimer clock;

    Receiver() { clock.start(); }

    template<typename W> void listenTo(W *worker)
    {
        connect(worker, &W::updateCount, this, [this](int v) {
            values << v;
            at_ms << clock.elapsed();
        });
        connect(worker, &W::finished, this, [this] { finished_at_ms = clock.elapsed(); });
    }
};

// Runs a worker on a thread of its own, started by the thread's started().
struct WorkerThread
{
    QThread thread;
    QPointer<InfiniteCountWorker> endless; // stopped before the thread is joined

    template<typename W> void run(W *worker)
    {
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, worker, &W::doWork);
        QObject::connect(worker, &W::finished, &thread, &QThread::quit);
        thread.start();
    }
    ~WorkerThread()
    {
        if (endless)
            QMetaObject::invokeMethod(endless, "stopWork", Qt::QueuedConnection);
        thread.quit();
        thread.wait();
    }
};

} // namespace

class TestCountWorker : public QObject
{
    Q_OBJECT

private slots:
    void countsOneStepASecond();
    void endlessTicksCountFromZeroUntilStopped();
};

void TestCountWorker::countsOneStepASecond()
{
    // Side by side: a range and a reversed one, which only finishes.
    CountWorker worker(1, 3);
    CountWorker reversed(3, 1);
    Receiver r;
    Receiver none;
    r.listenTo(&worker);
    none.listenTo(&reversed);
    WorkerThread wt;
    WorkerThread wt_reversed;
    wt.run(&worker);
    wt_reversed.run(&reversed);

    QTRY_VERIFY_WITH_TIMEOUT(r.finished_at_ms >= 0, 10000);
    QCOMPARE(r.values, QList<int>({ 1, 2, 3 }));
    // A pause of about a second follows every value, the last one included.
    for (const qint64 gap :
         { r.at_ms[1] - r.at_ms[0], r.at_ms[2] - r.at_ms[1], r.finished_at_ms - r.at_ms[2] })
        QVERIFY2(gap >= 900, qPrintable(QString::number(gap)));
    QVERIFY(wt.thread.wait(5000));
    QVERIFY(none.finished_at_ms >= 0);
    QCOMPARE(none.values, QList<int>());
}

void TestCountWorker::endlessTicksCountFromZeroUntilStopped()
{
    InfiniteCountWorker worker;
    Receiver r;
    r.listenTo(&worker);
    WorkerThread wt;
    wt.endless = &worker;
    wt.run(&worker);
    QTRY_VERIFY(r.values.size() >= 5);

    // While the receiving thread is stuck, the worker must not pile up
    // ticks for it: emitted back to back they number hundreds of thousands
    // in this time, paced they stay in the tens.
    QThread::msleep(500);
    const int before = r.values.size();
    QCoreApplication::processEvents();
    const int piled_up = r.values.size() - before;
    QVERIFY2(piled_up < 5000, qPrintable(QString::number(piled_up)));

    // Every tick carries the next number, from 0.
    for (int i = 0; i < r.values.size(); ++i)
        QCOMPARE(r.values[i], i);

    // A queued stop ends the loop: finished() comes, the thread ends and no
    // tick follows.
    QMetaObject::invokeMethod(&worker, "stopWork", Qt::QueuedConnection);
    QTRY_VERIFY(r.finished_at_ms >= 0);
    QVERIFY(wt.thread.wait(5000));
    const int ticks = r.values.size();
    QTest::qWait(50);
    QCOMPARE(r.values.size(), ticks);
}

QTEST_GUILESS_MAIN(TestCountWorker)
#include "tst_countworker.moc"
