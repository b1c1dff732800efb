#include "torvellink.h"

#include "gatewaysim.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>

namespace gatewaysim {

namespace {

// Lines per flood write, and how much may wait in the socket's own buffer:
// enough to keep loopback busy without holding a huge flood in memory.
constexpr quint64 flood_chunk_lines = 1024;
constexpr qint64 flood_max_buffered = 1 << 20;
// Beyond this backlog a gateway drops data lines rather than queue them.
constexpr qint64 data_max_buffered = 4 << 20;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

WriteTimes::WriteTimes()
    : m_slots(capacity, { 0, 0 })
{ }

void WriteTimes::record(quint64 first_seq, quint64 count, qint64 ns)
{
    QMutexLocker lock(&m_mutex);
    for (quint64 i = 0; i < count; ++i) {
        const quint64 seq = first_seq + i;
        m_slots[seq % capacity] = { seq + 1, ns };
    }
}

void WriteTimes::record(const std::vector<quint64> &seqs, qint64 ns)
{
    QMutexLocker lock(&m_mutex);
    for (quint64 seq : seqs)
        m_slots[seq % capacity] = { seq + 1, ns };
}

std::optional<qint64> WriteTimes::lookup(quint64 seq) const
{
    QMutexLocker lock(&m_mutex);
    const auto &slot = m_slots[seq % capacity];
    if (slot.first != seq + 1)
        return std::nullopt;
    return slot.second;
}

TorvelLink::TorvelLink(WriteTimes *times, QObject *parent)
    : QObject(parent)
    , m_times(times)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TorvelLink::onNewConnection);
}

bool TorvelLink::listen(quint16 port, const QHostAddress &address)
{
    if (m_server->isListening())
        return true;
    return m_server->listen(address, port);
}

quint16 TorvelLink::port() const
{
    return m_server->isListening() ? m_server->serverPort() : 0;
}

void TorvelLink::stop()
{
    m_server->close();
    disconnectClient();
}

bool TorvelLink::clientConnected() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

void TorvelLink::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        QTcpSocket *old = m_client;
        m_client = socket;
        m_splitter.reset();
        m_flooding = false;
        if (old) {
            old->abort();
            old->deleteLater();
        }
        connect(socket, &QTcpSocket::readyRead, this, &TorvelLink::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &TorvelLink::pumpFlood);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_client == socket) {
                m_client = nullptr;
                m_flooding = false;
                socket->deleteLater();
            }
        });
    }
}

void TorvelLink::disconnectClient()
{
    QTcpSocket *socket = m_client;
    m_client = nullptr;
    m_flooding = false;
    if (socket) {
        socket->abort();
        socket->deleteLater();
    }
}

void TorvelLink::onReadyRead()
{
    if (!m_client)
        return;
    const QByteArray bytes = m_client->readAll();
    m_splitter.feed(bytes.constData(), bytes.size(), true, [&](const QByteArray &line, bool) {
        if (m_brain)
            m_brain->handleLine(line, 0);
    });
}

bool TorvelLink::sendRaw(const QByteArray &bytes)
{
    if (!clientConnected())
        return false;
    m_client->write(bytes);
    m_client->flush();
    return true;
}

bool TorvelLink::sendLine(const QByteArray &line, int)
{
    return sendRaw(line);
}

bool TorvelLink::sendDataLine(quint64 seq, const QByteArray &line, int)
{
    if (!clientConnected())
        return false;
    m_client->write(line);
    m_batchSeqs.push_back(seq);
    return true;
}

bool TorvelLink::canTakeData() const
{
    return clientConnected() && m_client->bytesToWrite() < data_max_buffered;
}

void TorvelLink::endDataBatch()
{
    if (m_batchSeqs.empty())
        return;
    const qint64 now = steadyNs();
    if (m_client)
        m_client->flush();
    m_times->record(m_batchSeqs, now);
    m_batchSeqs.clear();
}

void TorvelLink::flood(quint64 first_seq, quint64 count)
{
    m_floodNext = first_seq;
    m_floodEnd = first_seq + count;
    m_floodWritten = 0;
    m_flooding = count > 0 && clientConnected();
    pumpFlood();
}

void TorvelLink::pumpFlood()
{
    if (m_pumping)
        return;
    m_pumping = true;
    QByteArray chunk;
    while (m_flooding && clientConnected() && m_client->bytesToWrite() < flood_max_buffered) {
        const quint64 lines = qMin(flood_chunk_lines, m_floodEnd - m_floodNext);
        chunk.clear();
        chunk.reserve(int(lines * 48));
        for (quint64 i = 0; i < lines; ++i)
            chunk.append(numberedLine(m_floodNext + i));
        m_times->record(m_floodNext, lines, steadyNs());
        m_client->write(chunk);
        m_client->flush();
        m_floodNext += lines;
        m_floodWritten += lines;
        if (m_floodNext >= m_floodEnd)
            m_flooding = false;
    }
    if (m_flooding && !clientConnected())
        m_flooding = false;
    m_pumping = false;
}

} // namespace gatewaysim
