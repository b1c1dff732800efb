// The two worker classes on threads of their own, as the window runs them:
// what they emit, in which order, how they end, and that the endless one
// never floods its receiver's event queue.
#include "link/countworker.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
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
    void reversedRangeOnlyFinishes();
    void endlessTicksCountFromZeroUntilStopped();
};

void TestCountWorker::countsOneStepASecond()
{
    CountWorker worker(1, 3);
    Receiver r;
    r.listenTo(&worker);
    WorkerThread wt;
    wt.run(&worker);

    QTRY_VERIFY_WITH_TIMEOUT(r.finished_at_ms >= 0, 10000);
    QCOMPARE(r.values, QList<int>({ 1, 2, 3 }));
    // A pause of about a second follows every value, the last one included.
    QVERIFY2(r.at_ms[1] - r.at_ms[0] >= 900, qPrintable(QString::number(r.at_ms[1] - r.at_ms[0])));
    QVERIFY2(r.at_ms[2] - r.at_ms[1] >= 900, qPrintable(QString::number(r.at_ms[2] - r.at_ms[1])));
    QVERIFY2(r.finished_at_ms - r.at_ms[2] >= 900,
             qPrintable(QString::number(r.finished_at_ms - r.at_ms[2])));
    QVERIFY(wt.thread.wait(5000));
}

void TestCountWorker::reversedRangeOnlyFinishes()
{
    CountWorker worker(3, 1);
    Receiver r;
    r.listenTo(&worker);
    WorkerThread wt;
    wt.run(&worker);

    QTRY_VERIFY(r.finished_at_ms >= 0);
    QVERIFY(wt.thread.wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(r.values, QList<int>());
}

void TestCountWorker::endlessTicksCountFromZeroUntilStopped()
{
    auto *worker = new InfiniteCountWorker;
    Receiver r;
    r.listenTo(worker);
    WorkerThread wt;
    connect(worker, &InfiniteCountWorker::finished, worker, &QObject::deleteLater);
    QSignalSpy destroyed(worker, &QObject::destroyed);
    wt.endless = worker;
    wt.run(worker);

    QTRY_VERIFY(r.values.size() >= 5);
    QCOMPARE(r.values.mid(0, 5), QList<int>({ 0, 1, 2, 3, 4 }));

    // While the receiving thread is stuck, the worker must not pile up
    // ticks for it: emitted back to back they number hundreds of thousands
    // in this time, paced they stay in the tens.
    QThread::msleep(500);
    const int before = r.values.size();
    QCoreApplication::processEvents();
    const int piled_up = r.values.size() - before;
    QVERIFY2(piled_up < 5000, qPrintable(QString::number(piled_up)));

    // Every tick carries the next number.
    for (int i = 0; i < r.values.size(); ++i)
        QCOMPARE(r.values[i], i);

    // A queued stop ends the loop: finished() comes, the thread ends and
    // the worker is deleted on it.
    QMetaObject::invokeMethod(worker, "stopWork", Qt::QueuedConnection);
    QTRY_VERIFY(r.finished_at_ms >= 0);
    QVERIFY(wt.thread.wait(5000));
    QCOMPARE(destroyed.size(), 1);
    const int ticks = r.values.size();
    QTest::qWait(50);
    QCOMPARE(r.values.size(), ticks);
}

QTEST_GUILESS_MAIN(TestCountWorker)
#include "tst_countworker.moc"
