// The network link to the Torvel and the count worker whose ticks hand the
// received lines on to the line handler.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "console/console.h"
#include "link/countworker.h"
#include "link/torvelendpoint.h"

#include <QLabel>
#include <QPointer>
#include <QTcpSocket>
#include <QThread>

using namespace tavix;

namespace {

// About 1,400 lines, some 20 ms of work for the window.
constexpr qint64 tcp_read_bite = 64 * 1024;

} // namespace

void MainWindow::loadTorvel()
{
    st.link_is_tcp = true;
    // One link at a time: a running Sernix probe ends here, and an earlier
    // socket and its worker are released.
    if (serial->isOpen())
        serial->close();
    releaseTcpLink();
    startNewLink();

    socket = new QTcpSocket(this);
    // A flood is taken a bounded bite at a time, so that the window keeps
    // repainting and answering between bites; the peer waits meanwhile and
    // nothing is lost.
    socket->setReadBufferSize(tcp_read_bite);
    connect(socket, &QTcpSocket::disconnected, this, &MainWindow::disconnected);
    connect(socket, &QTcpSocket::readyRead, this, &MainWindow::readyRead);
    socket->connectToHost(torvel_host, torvel_port, QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
    if (socket->waitForConnected(torvel_connect_timeout_ms)) {
        startInfiniteCount();
        send_restart_command();
    } else {
        setStatusAlert(tr(" Can`t connect Torvel. Make sure you are using TCP connection"));
    }
}

void MainWindow::connected() { }

void MainWindow::readyRead()
{
    if (!socket)
        return;
    // As on the serial link: exactly what is there, no 16 KiB buffer a read.
    const QList<QByteArray> lines = tcp_framer.feed(socket->read(socket->bytesAvailable()));
    for (const QByteArray &line : lines) {
        // A full ring hands its oldest lines on first; none is overwritten.
        if (!st.tcp_line_ring.put(line)) {
            handOnWaitingTcpLines();
            st.tcp_line_ring.put(line);
        }
    }
    if (count_worker && !lines.isEmpty())
        count_worker->wake();
}

void MainWindow::disconnected()
{
    // Lines that came in before the loss are still shown and logged.
    handOnWaitingTcpLines();
    stopCountWorker();
    setStatusAlert(tr("   Torvel disconnected"));
    ui->stackedWidget->setCurrentIndex(0);
}

void MainWindow::releaseTcpLink()
{
    stopCountWorker();
    if (socket) {
        // Quietly: this is the user's choice, not a lost connection.
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
    tcp_framer.clear();
    st.tcp_line_ring.clear();
}

void MainWindow::handOnWaitingTcpLines()
{
    // All of them go into the console in one insert.
    const Console::Batch batch(console);
    QByteArray line;
    while (st.tcp_line_ring.take(&line))
        process_line(std::move(line));
}

void MainWindow::startInfiniteCount()
{
    stopCountWorker();
    auto *thread = new QThread;
    auto *worker = new InfiniteCountWorker;
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &InfiniteCountWorker::doWork);
    connect(worker, &InfiniteCountWorker::finished, thread, &QThread::quit);
    connect(worker, &InfiniteCountWorker::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &InfiniteCountWorker::finished, this, &MainWindow::infiniteCountFinished);
    connect(worker, &InfiniteCountWorker::updateCount, this, &MainWindow::updateInfiniteCount);
    connect(this, SIGNAL(repeatSec(int)), worker, SLOT(repeat_sec(int)));
    thread->start(QThread::InheritPriority);
    count_thread = thread;
    count_worker = worker;
    emit repeatSec(0);
}

void MainWindow::stopCountWorker()
{
    if (!count_thread)
        return;
    QThread *thread = count_thread;
    QPointer<InfiniteCountWorker> worker = count_worker;
    count_thread = nullptr;
    count_worker = nullptr;
    // The worker stops at its next pass; its thread then ends at once, as
    // nothing in it waits for the queued quit.
    QMetaObject::invokeMethod(worker, "stopWork", Qt::QueuedConnection);
    if (worker)
        worker->wake(); // not to wait out an idle pause
    thread->quit();
    thread->wait();
    delete worker.data(); // already gone if its deferred deletion ran
    delete thread;
}

void MainWindow::updateInfiniteCount(int cnt)
{
    Q_UNUSED(cnt)
    handOnWaitingTcpLines();
}

void MainWindow::infiniteCountFinished() { }
