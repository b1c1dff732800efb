#include "gatewaybrain.h"

#include "gatewaysim.h"

#include <chrono>

namespace gatewaysim {

namespace {

// Enough for any test; a benchmark that never clears must not grow forever.
constexpr int max_recorded = 100000;
// Fixed values of the status sentence.
constexpr int bus_load = 12;
constexpr int devices = 5;
constexpr int address = 34;
// Resolution of the data clock; the lines due in each tick go out together.
constexpr int data_tick_ms = 10;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QByteArray stripped(const QByteArray &line)
{
    int end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r'))
        --end;
    return line.left(end);
}

// An ISO address claim answer: eight bytes of NAME from each device.
QByteArray addressClaim(int source)
{
    QByteArray name(8, '\0');
    for (int i = 0; i < 8; ++i)
        name[i] = char((source * 37 + i * 11) & 0xff);
    name[7] = char(0xc0 | (source & 0x0f));
    return "!PHLV,60928," + QByteArray::number(source) + "," + name.toBase64() + "\r\n";
}

} // namespace

GatewayBrain::GatewayBrain(Model model, int mode, GatewayTransport *link, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_link(link)
    , m_mode(isValidMode(mode) ? mode : 0)
    , m_statusTimer(this)
    , m_bootTimer(this)
    , m_dataTimer(this)
{
    m_statusTimer.setInterval(m_statusInterval);
    connect(&m_statusTimer, &QTimer::timeout, this, &GatewayBrain::sendStatus);
    m_bootTimer.setSingleShot(true);
    m_bootTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_bootTimer, &QTimer::timeout, this, &GatewayBrain::finishRestart);
    m_dataTimer.setInterval(data_tick_ms);
    m_dataTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_dataTimer, &QTimer::timeout, this, &GatewayBrain::dataTick);
}

void GatewayBrain::start()
{
    if (m_running)
        return;
    m_running = true;
    m_uptime.start();
    if (m_statusInterval > 0)
        m_statusTimer.start(m_statusInterval);
    if (m_dataRate > 0) {
        resetDataClock();
        m_dataTimer.start();
    }
}

void GatewayBrain::stop()
{
    m_running = false;
    m_statusTimer.stop();
    m_bootTimer.stop();
    m_dataTimer.stop();
}

int GatewayBrain::baud() const
{
    return m_model == Model::Sernix ? sernixBaudForMode(m_mode) : 0;
}

void GatewayBrain::setMode(int mode)
{
    if (!isValidMode(mode))
        return;
    m_mode = mode;
    if (mode != 15)
        m_rawInitialised = false;
}

void GatewayBrain::setStatusInterval(int ms)
{
    m_statusInterval = qMax(0, ms);
    m_statusTimer.stop();
    if (m_running && m_statusInterval > 0)
        m_statusTimer.start(m_statusInterval);
}

void GatewayBrain::setDataRate(int lines_per_second)
{
    m_dataRate = qMax(0, lines_per_second);
    resetDataClock();
    if (m_running && m_dataRate > 0)
        m_dataTimer.start();
    else
        m_dataTimer.stop();
}

void GatewayBrain::setAnswering(bool on)
{
    m_answering = on;
    if (!on)
        m_bootTimer.stop();
}

void GatewayBrain::clearReceived()
{
    m_received.clear();
    m_receivedRates.clear();
}

QByteArray GatewayBrain::identityLine() const
{
    if (!m_identityOverride.isEmpty())
        return m_identityOverride;
    return m_model == Model::Sernix ? sernixIdentityLine(m_mode) : torvelIdentityLine(m_mode);
}

QByteArray GatewayBrain::statusLine() const
{
    const QByteArray uptime
        = QByteArray::number(m_uptime.isValid() ? m_uptime.elapsed() / 1000 : 0);
    // A RAW gateway that has not been initialised has no bus view to report.
    if (m_mode == 15 && !m_rawInitialised)
        return "$PHLV,000000,,,," + uptime + "," + QByteArray::number(address) + "\r\n";
    return "$PHLV,000000," + QByteArray::number(bus_load) + ",0," + QByteArray::number(devices)
        + "," + uptime + "," + QByteArray::number(address) + "\r\n";
}

void GatewayBrain::handleLine(const QByteArray &line, int rx_baud)
{
    if (m_received.size() >= max_recorded) {
        m_received.removeFirst();
        m_receivedRates.removeFirst();
    }
    m_received.append(line);
    m_receivedRates.append(rx_baud);
    emit lineReceived(line);
    if (!m_running || !m_answering)
        return;

    // Replies go out at the rate the command was understood at: the second
    // copy of a mode sentence is still answered at the old rate.
    const int reply_baud = rx_baud > 0 ? rx_baud : baud();
    const QByteArray s = stripped(line);
    if (s == "$PHLV,CMD") {
        m_commandMode = true;
    } else if (s == "$PHLV,EXIT") {
        m_commandMode = false;
    } else if (s == "$PHLV,TAVIX_OFFLINE,") {
        restart(m_restartDelay, -1);
    } else if (s == "$PHLV,TX_LIMIT,OFF") {
        m_txLimitOff = true;
        reply("$PHLV,ACK,TX_LIMIT,OFF\r\n", reply_baud);
    } else if (s == "$PHLV,TX_LIMIT,ON") {
        m_txLimitOff = false;
        reply("$PHLV,ACK,TX_LIMIT,ON\r\n", reply_baud);
    } else if (s.startsWith("$PHLV,TAVIX_MODE,") && s.endsWith(',')) {
        const QByteArray number = s.mid(17, s.size() - 18);
        bool ok = false;
        const int mode = number.toInt(&ok);
        if (!ok || number.isEmpty() || number[0] < '0' || number[0] > '9' || !isValidMode(mode))
            return;
        reply("$PHLV,ACK,TAVIX_MODE," + number + "\r\n", reply_baud);
        if (restarting() && m_restartForMode == mode)
            return;
        m_mode = mode;
        restart(m_modeChangeDelay, mode);
    } else if (s == "$PHLV,TAVIX_INIT,ALL,") {
        reply("$PHLV,ACK,TAVIX_INIT\r\n", reply_baud);
        if (m_mode == 15)
            m_rawInitialised = true;
    } else if (s == "!PHLV,59904,255,AO4A") {
        if (m_rawInitialised) {
            for (int source : { 35, 36, 41 })
                reply(addressClaim(source), reply_baud);
        }
    }
}

void GatewayBrain::restart(int delay_ms, int for_mode)
{
    m_commandMode = false;
    m_rawInitialised = false;
    m_uptime.restart();
    if (for_mode >= 0) {
        // A mode change always starts its own, longer boot.
        m_restartForMode = for_mode;
        m_bootTimer.start(delay_ms);
    } else if (!m_bootTimer.isActive()) {
        // Restart sentences during a boot are not heard by anyone.
        m_restartForMode = -1;
        m_bootTimer.start(delay_ms);
    }
}

void GatewayBrain::finishRestart()
{
    m_restartForMode = -1;
    if (!m_running || !m_answering)
        return;
    const QByteArray line = identityLine();
    if (m_link->sendLine(line, baud())) {
        ++m_identitySent;
        emit lineSent(line);
    }
}

void GatewayBrain::sendStatus()
{
    if (!m_running || !m_answering || restarting())
        return;
    reply(statusLine(), baud());
}

void GatewayBrain::reply(const QByteArray &line, int baud)
{
    if (m_link->sendLine(line, baud))
        emit lineSent(line);
}

bool GatewayBrain::dataFlowing() const
{
    return m_running && m_answering && m_dataRate > 0 && !m_commandMode && !restarting()
        && (m_mode != 15 || m_rawInitialised);
}

void GatewayBrain::resetDataClock()
{
    m_dataEpochNs = steadyNs();
    m_dataDue = 0;
}

void GatewayBrain::dataTick()
{
    if (!dataFlowing()) {
        resetDataClock();
        return;
    }
    const qint64 elapsed = steadyNs() - m_dataEpochNs;
    const quint64 due = quint64(double(elapsed) * m_dataRate / 1e9);
    quint64 count = due - m_dataDue;
    m_dataDue = due;
    // After a stall, a gateway does not make up for lost time in one burst.
    count = qMin<quint64>(count, quint64(m_dataRate));
    bool sent_any = false;
    for (quint64 i = 0; i < count; ++i) {
        if (!m_link->canTakeData())
            break;
        const quint64 seq = m_nextSeq;
        if (!m_link->sendDataLine(seq, dataLine(seq), baud()))
            break;
        ++m_nextSeq;
        ++m_dataSent;
        sent_any = true;
    }
    if (sent_any)
        m_link->endDataBatch();
}

QByteArray GatewayBrain::dataLine(quint64 seq) const
{
    if (m_mode == 15)
        return numberedFrame(seq);
    QByteArray line = m_instruments ? instrumentSentence(m_mode, seq) : numberedLine(seq);
    if (m_noiseEvery > 0 && seq % quint64(m_noiseEvery) == quint64(m_noiseEvery) - 1) {
        // A bit flipped on the wire, in the first field.
        const int at = line.indexOf(',') + 1;
        if (at > 0 && at < line.size() - 5)
            line[at] = char(line[at] ^ 0x01);
    }
    return line;
}

} // namespace gatewaysim
