#include "sernixlink.h"

#include <QSocketNotifier>

#include <chrono>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace gatewaysim {

namespace {

// Pacing resolution: at 230400 baud about 46 bytes leave per tick.
constexpr int tx_tick_ms = 2;
// While the tool's side is closed the master reports a hang-up at once on
// every poll; look again at this pace instead of spinning.
constexpr int reopen_check_ms = 20;
constexpr int max_misheard = 10000;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int baudOf(speed_t speed)
{
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

} // namespace

SernixLink::SernixLink(QObject *parent)
    : QObject(parent)
    , m_reopenTimer(this)
    , m_txTimer(this)
{
    m_reopenTimer.setInterval(reopen_check_ms);
    connect(&m_reopenTimer, &QTimer::timeout, this, &SernixLink::checkReopened);
    m_txTimer.setInterval(tx_tick_ms);
    m_txTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_txTimer, &QTimer::timeout, this, &SernixLink::transmit);
}

SernixLink::~SernixLink()
{
    delete m_notifier;
    if (m_master >= 0)
        ::close(m_master);
}

bool SernixLink::open()
{
    if (m_master >= 0)
        return true;
    if (m_unplugged)
        return false;
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    // A fresh pty is cooked and echoes: the tool's first bytes would come
    // straight back to it before its port is configured.
    termios tio{};
    if (::tcgetattr(master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master, TCSANOW, &tio);
    }
    // Only the tool may hold the slave, or its close would go unseen.
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SernixLink::onReadable);
    // Nobody has the slave open yet.
    onSlaveClosed();
    return true;
}

int SernixLink::toolBaud() const
{
    termios tio{};
    if (m_master < 0 || ::tcgetattr(m_master, &tio) != 0)
        return 0;
    return baudOf(::cfgetospeed(&tio));
}

int SernixLink::toolReceiveBaud() const
{
    termios tio{};
    if (m_master < 0 || ::tcgetattr(m_master, &tio) != 0)
        return 0;
    const speed_t in = ::cfgetispeed(&tio);
    // An input speed of 0 means "same as output".
    return baudOf(in == B0 ? ::cfgetospeed(&tio) : in);
}

bool SernixLink::slaveOpen() const
{
    if (m_master < 0)
        return false;
    pollfd p{ m_master, POLLOUT, 0 };
    if (::poll(&p, 1, 0) < 0)
        return false;
    return !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

int SernixLink::listenBaud() const
{
    // The UART switches rate only once what it was sending at the old rate
    // has gone out.
    if (!m_queue.empty() && m_queue.front().paced)
        return m_queue.front().baud;
    return m_brain ? m_brain->baud() : 0;
}

void SernixLink::onReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            const int tool = toolBaud();
            const bool understood = tool != 0 && tool == listenBaud();
            if (!understood)
                m_droppedBytes += quint64(n);
            m_splitter.feed(buf, n, understood, [&](const QByteArray &line, bool ok) {
                if (ok) {
                    if (m_brain)
                        m_brain->handleLine(line, tool);
                    return;
                }
                if (m_misheard.size() >= max_misheard) {
                    m_misheard.removeFirst();
                    m_misheardRates.removeFirst();
                }
                m_misheard.append(line);
                m_misheardRates.append(tool);
            });
            if (m_master < 0)
                return; // unplugged while handling a line
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO (or end of file): the tool has closed its side.
        onSlaveClosed();
        return;
    }
}

void SernixLink::onSlaveClosed()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    m_splitter.reset();
    dropOutput();
    if (m_master >= 0)
        m_reopenTimer.start();
}

void SernixLink::checkReopened()
{
    if (m_master < 0) {
        m_reopenTimer.stop();
        return;
    }
    if (!slaveOpen())
        return;
    m_reopenTimer.stop();
    m_notifier->setEnabled(true);
}

void SernixLink::dropOutput()
{
    m_queue.clear();
    m_frontOffset = 0;
    m_queuedBytes = 0;
    m_txTimer.stop();
}

bool SernixLink::enqueue(const QByteArray &bytes, int baud, bool exact, bool paced)
{
    // Bytes written while the slave is closed would wait in the pty and reach
    // the next opener as stale replies: a real line just loses them.
    if (m_master < 0 || bytes.isEmpty() || !slaveOpen())
        return false;
    if (m_queue.empty())
        m_txFreeNs = steadyNs();
    m_queue.push_back(Chunk{ bytes, baud > 0 ? baud : 4800, exact, paced });
    m_queuedBytes += bytes.size();
    if (!m_txTimer.isActive())
        m_txTimer.start();
    if (!paced && m_queue.size() == 1)
        transmit();
    return true;
}

QByteArray SernixLink::noise(qint64 size)
{
    QByteArray out(int(size), '\0');
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(m_noise() & 0xff);
    return out;
}

void SernixLink::transmit()
{
    if (m_queue.empty()) {
        m_txTimer.stop();
        return;
    }
    if (!slaveOpen()) {
        dropOutput();
        return;
    }
    const qint64 now = steadyNs();
    const int tool_rx = toolReceiveBaud();
    while (!m_queue.empty()) {
        const Chunk &chunk = m_queue.front();
        const bool paced = chunk.paced;
        const int baud = chunk.baud;
        const qint64 remaining = chunk.bytes.size() - m_frontOffset;
        qint64 count = remaining;
        if (paced) {
            // 8N1: ten bits on the line for every byte.
            const qint64 ready = (now - m_txFreeNs) * baud / 10'000'000'000LL;
            if (ready <= 0)
                break;
            count = qMin(remaining, ready);
        }
        const QByteArray out = chunk.exact || tool_rx == baud
            ? chunk.bytes.mid(int(m_frontOffset), int(count))
            : noise(count);
        const ssize_t written = ::write(m_master, out.constData(), size_t(out.size()));
        if (written < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                // The tool is not reading: the line stalls, it does not bank time.
                m_txFreeNs = now;
                break;
            }
            dropOutput();
            return;
        }
        m_frontOffset += written;
        m_queuedBytes -= written;
        if (paced)
            m_txFreeNs += qint64(written) * 10'000'000'000LL / baud;
        else
            m_txFreeNs = qMax(m_txFreeNs, now); // paced bytes behind it start now
        if (m_frontOffset >= chunk.bytes.size()) {
            m_queue.pop_front();
            m_frontOffset = 0;
        }
        if (written < count) {
            m_txFreeNs = now;
            break;
        }
    }
    if (m_queue.empty())
        m_txTimer.stop();
}

void SernixLink::sendRaw(const QByteArray &bytes, bool paced)
{
    enqueue(bytes, m_brain ? m_brain->baud() : 0, true, paced);
}

bool SernixLink::sendLine(const QByteArray &line, int baud)
{
    return enqueue(line, baud, false, true);
}

bool SernixLink::sendDataLine(quint64, const QByteArray &line, int baud)
{
    return enqueue(line, baud, false, true);
}

bool SernixLink::canTakeData() const
{
    if (m_master < 0 || !slaveOpen())
        return false;
    // About 100 ms of output: a gateway on a slow line sheds data instead of
    // falling ever further behind.
    const int baud = m_brain ? m_brain->baud() : 4800;
    return m_queuedBytes < qMax(64, baud / 100);
}

void SernixLink::unplug()
{
    m_unplugged = true;
    if (m_brain)
        m_brain->stop();
    m_reopenTimer.stop();
    dropOutput();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

} // namespace gatewaysim
