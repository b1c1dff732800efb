#include "gatewaysim.h"

#include "gatewaybrain.h"
#include "sernixlink.h"
#include "torvellink.h"

#include <QThread>

#include <type_traits>

namespace gatewaysim {

// The simulator's thread, and what lives on it. Everything below `root` is
// created, used and destroyed on that thread only; the public methods reach
// it by blocking queued calls.
struct GatewaySimulator::Core
{
    QThread thread;
    QObject *context = nullptr; // target of the queued calls
    QObject *root = nullptr; // parent of the link and the brain
    GatewayBrain *brain = nullptr;

    // Runs f in the simulator's thread without waiting for it.
    template<typename F> void post(F &&f)
    {
        if (QThread::currentThread() == &thread || !thread.isRunning())
            f();
        else
            QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
    }

    template<typename F> auto run(F &&f) -> decltype(f())
    {
        using R = decltype(f());
        if (QThread::currentThread() == &thread || !thread.isRunning()) {
            return f();
        } else if constexpr (std::is_void_v<R>) {
            QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::BlockingQueuedConnection);
        } else {
            R result{};
            QMetaObject::invokeMethod(
                context, [&] { result = f(); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }
};

GatewaySimulator::GatewaySimulator(QObject *parent)
    : QObject(parent)
    , d(new Core)
{
    d->thread.setObjectName(QStringLiteral("gateway-sim"));
    d->context = new QObject;
    d->context->moveToThread(&d->thread);
    d->thread.start();
    d->run([this] { d->root = new QObject; });
}

GatewaySimulator::~GatewaySimulator()
{
    d->run([this] {
        delete d->root;
        d->root = nullptr;
        d->brain = nullptr;
    });
    d->thread.quit();
    d->thread.wait();
    delete d->context;
}

int GatewaySimulator::mode() const
{
    return d->run([this] { return d->brain->mode(); });
}

bool GatewaySimulator::commandMode() const
{
    return d->run([this] { return d->brain->commandMode(); });
}

bool GatewaySimulator::rawInitialised() const
{
    return d->run([this] { return d->brain->rawInitialised(); });
}

bool GatewaySimulator::txLimitOff() const
{
    return d->run([this] { return d->brain->txLimitOff(); });
}

bool GatewaySimulator::restarting() const
{
    return d->run([this] { return d->brain->restarting(); });
}

void GatewaySimulator::setMode(int mode)
{
    d->run([this, mode] { d->brain->setMode(mode); });
}

void GatewaySimulator::setRawInitialised(bool on)
{
    d->run([this, on] { d->brain->setRawInitialised(on); });
}

void GatewaySimulator::setStatusInterval(int ms)
{
    d->run([this, ms] { d->brain->setStatusInterval(ms); });
}

void GatewaySimulator::setDataRate(int lines_per_second)
{
    d->run([this, lines_per_second] { d->brain->setDataRate(lines_per_second); });
}

void GatewaySimulator::setInstrumentData(bool on)
{
    d->run([this, on] { d->brain->setInstrumentData(on); });
}

void GatewaySimulator::setNoise(int every_n)
{
    d->run([this, every_n] { d->brain->setNoise(every_n); });
}

void GatewaySimulator::setNextSequence(quint64 seq)
{
    d->run([this, seq] { d->brain->setNextSequence(seq); });
}

quint64 GatewaySimulator::nextSequence() const
{
    return d->run([this] { return d->brain->nextSequence(); });
}

quint64 GatewaySimulator::dataLinesSent() const
{
    return d->run([this] { return d->brain->dataLinesSent(); });
}

void GatewaySimulator::setAnswering(bool on)
{
    d->run([this, on] { d->brain->setAnswering(on); });
}

void GatewaySimulator::setIdentityLine(const QByteArray &line)
{
    d->run([this, line] { d->brain->setIdentityLine(line); });
}

void GatewaySimulator::setRestartDelay(int ms)
{
    d->run([this, ms] { d->brain->setRestartDelay(ms); });
}

void GatewaySimulator::setModeChangeDelay(int ms)
{
    d->run([this, ms] { d->brain->setModeChangeDelay(ms); });
}

QList<QByteArray> GatewaySimulator::received() const
{
    return d->run([this] { return d->brain->received(); });
}

void GatewaySimulator::clearReceived()
{
    d->run([this] { d->brain->clearReceived(); });
}

int GatewaySimulator::identityRepliesSent() const
{
    return d->run([this] { return d->brain->identityRepliesSent(); });
}

// ---------------------------------------------------------------------------

SernixSimulator::SernixSimulator(int mode, QObject *parent)
    : GatewaySimulator(parent)
{
    d->run([this, mode] {
        m_link = new SernixLink(d->root);
        d->brain = new GatewayBrain(GatewayBrain::Model::Sernix, mode, m_link, d->root);
        m_link->setBrain(d->brain);
        connect(d->brain, &GatewayBrain::lineReceived, this, &GatewaySimulator::lineReceived);
        connect(d->brain, &GatewayBrain::lineSent, this, &GatewaySimulator::lineSent);
    });
}

SernixSimulator::~SernixSimulator() = default;

bool SernixSimulator::start()
{
    return d->run([this] {
        if (!m_link->open())
            return false;
        d->brain->start();
        return true;
    });
}

QString SernixSimulator::portName() const
{
    return d->run([this] { return m_link->portName(); });
}

int SernixSimulator::gatewayBaud() const
{
    return d->run([this] { return d->brain->baud(); });
}

int SernixSimulator::toolBaud() const
{
    return d->run([this] { return m_link->toolBaud(); });
}

bool SernixSimulator::portOpenedByTool() const
{
    return d->run([this] { return m_link->slaveOpen(); });
}

void SernixSimulator::sendRaw(const QByteArray &bytes, bool paced)
{
    d->run([this, bytes, paced] { m_link->sendRaw(bytes, paced); });
}

void SernixSimulator::unplug()
{
    d->run([this] { m_link->unplug(); });
}

bool SernixSimulator::unplugged() const
{
    return d->run([this] { return m_link->unplugged(); });
}

QList<int> SernixSimulator::receivedRates() const
{
    return d->run([this] { return d->brain->receivedRates(); });
}

QList<QByteArray> SernixSimulator::misheard() const
{
    return d->run([this] { return m_link->misheard(); });
}

QList<int> SernixSimulator::misheardRates() const
{
    return d->run([this] { return m_link->misheardRates(); });
}

quint64 SernixSimulator::droppedBytes() const
{
    return d->run([this] { return m_link->droppedBytes(); });
}

// ---------------------------------------------------------------------------

TorvelSimulator::TorvelSimulator(int mode, QObject *parent)
    : GatewaySimulator(parent)
    , m_times(std::make_shared<WriteTimes>())
{
    d->run([this, mode] {
        m_link = new TorvelLink(m_times.get(), d->root);
        d->brain = new GatewayBrain(GatewayBrain::Model::Torvel, mode, m_link, d->root);
        m_link->setBrain(d->brain);
        connect(d->brain, &GatewayBrain::lineReceived, this, &GatewaySimulator::lineReceived);
        connect(d->brain, &GatewayBrain::lineSent, this, &GatewaySimulator::lineSent);
    });
}

TorvelSimulator::~TorvelSimulator()
{
    // The link writes into m_times until it is gone.
    d->run([this] {
        delete d->root;
        d->root = nullptr;
        d->brain = nullptr;
        m_link = nullptr;
    });
}

bool TorvelSimulator::start(quint16 port, const QHostAddress &address)
{
    return d->run([this, port, address] {
        if (!m_link->listen(port, address))
            return false;
        d->brain->start();
        return true;
    });
}

quint16 TorvelSimulator::port() const
{
    return d->run([this] { return m_link->port(); });
}

void TorvelSimulator::stop()
{
    d->run([this] { m_link->stop(); });
}

bool TorvelSimulator::clientConnected() const
{
    return d->run([this] { return m_link->clientConnected(); });
}

int TorvelSimulator::connectionCount() const
{
    return d->run([this] { return m_link->connectionCount(); });
}

void TorvelSimulator::disconnectClient()
{
    d->run([this] { m_link->disconnectClient(); });
}

void TorvelSimulator::sendRaw(const QByteArray &bytes)
{
    d->run([this, bytes] { m_link->sendRaw(bytes); });
}

void TorvelSimulator::flood(quint64 first_seq, quint64 count)
{
    // Not waited for: the first megabyte is written at once, and a caller
    // that waited would be kept from its own event loop meanwhile.
    d->post([this, first_seq, count] { m_link->flood(first_seq, count); });
}

bool TorvelSimulator::floodDone() const
{
    return d->run([this] { return m_link->floodDone(); });
}

quint64 TorvelSimulator::floodLinesWritten() const
{
    return d->run([this] { return m_link->floodLinesWritten(); });
}

std::optional<qint64> TorvelSimulator::writeTimeNs(quint64 seq) const
{
    return m_times->lookup(seq);
}

} // namespace gatewaysim
