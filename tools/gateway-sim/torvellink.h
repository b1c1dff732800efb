#pragma once

#include "gatewaybrain.h"
#include "linesplitter.h"

#include <QHostAddress>
#include <QMutex>
#include <QObject>

#include <optional>
#include <utility>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace gatewaysim {

// When each numbered line went into the socket, by sequence number. Written
// on the simulator's thread, read by benchmarks on theirs. Keeps the last
// `capacity` sequence numbers (a ring indexed by the number itself).
class WriteTimes
{
public:
    static constexpr quint64 capacity = 131072;

    WriteTimes();
    void record(quint64 first_seq, quint64 count, qint64 ns);
    void record(const std::vector<quint64> &seqs, qint64 ns);
    std::optional<qint64> lookup(quint64 seq) const;

private:
    mutable QMutex m_mutex;
    // (seq + 1, time); 0 marks an empty slot.
    std::vector<std::pair<quint64, qint64>> m_slots;
};

// The Torvel's TCP side: a server on 127.0.0.1 that serves one client at a
// time. Lives on the simulator's thread.
class TorvelLink : public QObject, public GatewayTransport
{
    Q_OBJECT
public:
    TorvelLink(WriteTimes *times, QObject *parent = nullptr);

    void setBrain(GatewayBrain *brain) { m_brain = brain; }
    bool listen(quint16 port, const QHostAddress &address);
    quint16 port() const;
    void stop();

    bool clientConnected() const;
    int connectionCount() const { return m_connections; }
    void disconnectClient();
    bool sendRaw(const QByteArray &bytes);

    void flood(quint64 first_seq, quint64 count);
    bool floodDone() const { return !m_flooding; }
    quint64 floodLinesWritten() const { return m_floodWritten; }

    bool sendLine(const QByteArray &line, int baud) override;
    bool sendDataLine(quint64 seq, const QByteArray &line, int baud) override;
    bool canTakeData() const override;
    void endDataBatch() override;

private:
    void onNewConnection();
    void onReadyRead();
    void pumpFlood();

    GatewayBrain *m_brain = nullptr;
    WriteTimes *const m_times;
    QTcpServer *m_server;
    QTcpSocket *m_client = nullptr;
    int m_connections = 0;
    LineSplitter m_splitter;
    bool m_flooding = false;
    bool m_pumping = false;
    quint64 m_floodNext = 0;
    quint64 m_floodEnd = 0;
    quint64 m_floodWritten = 0;
    std::vector<quint64> m_batchSeqs;
};

} // namespace gatewaysim
