#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

namespace gatewaysim {

// The link a gateway talks through. Calls come from the gateway's thread.
class GatewayTransport
{
public:
    virtual ~GatewayTransport() = default;
    // Hands one line to the link, to go out at the gateway rate baud (0 on a
    // link without rates); false when the tool's side is not there to get it.
    virtual bool sendLine(const QByteArray &line, int baud) = 0;
    virtual bool sendDataLine(quint64 seq, const QByteArray &line, int baud) = 0;
    // false while the link is closed or its backlog is full: a gateway drops
    // data it cannot get rid of rather than queueing it without end.
    virtual bool canTakeData() const = 0;
    // After a batch of data lines: push them out.
    virtual void endDataBatch() { }
};

// What a gateway does with the lines it receives and what it sends by itself
// (identity, status, data), without knowing how the bytes travel. Lives on
// the simulator's thread.
class GatewayBrain : public QObject
{
    Q_OBJECT
public:
    enum class Model { Sernix, Torvel };

    GatewayBrain(Model model, int mode, GatewayTransport *link, QObject *parent = nullptr);

    void start();
    // Silent for good: the device is gone.
    void stop();

    // One complete line, line end included, received at the tool's rate
    // rx_baud (0 on a link without rates).
    void handleLine(const QByteArray &line, int rx_baud);

    int mode() const { return m_mode; }
    // The serial rate of the current mode (Sernix); 0 for the Torvel.
    int baud() const;
    bool commandMode() const { return m_commandMode; }
    bool rawInitialised() const { return m_rawInitialised; }
    bool txLimitOff() const { return m_txLimitOff; }
    bool restarting() const { return m_bootTimer.isActive(); }

    void setMode(int mode);
    void setRawInitialised(bool on) { m_rawInitialised = on && m_mode == 15; }
    void setStatusInterval(int ms);
    void setDataRate(int lines_per_second);
    void setInstrumentData(bool on) { m_instruments = on; }
    void setNoise(int every_n) { m_noiseEvery = qMax(0, every_n); }
    void setNextSequence(quint64 seq) { m_nextSeq = seq; }
    quint64 nextSequence() const { return m_nextSeq; }
    quint64 dataLinesSent() const { return m_dataSent; }
    void setAnswering(bool on);
    void setIdentityLine(const QByteArray &line) { m_identityOverride = line; }
    void setRestartDelay(int ms) { m_restartDelay = qMax(0, ms); }
    void setModeChangeDelay(int ms) { m_modeChangeDelay = qMax(0, ms); }

    QList<QByteArray> received() const { return m_received; }
    QList<int> receivedRates() const { return m_receivedRates; }
    void clearReceived();
    int identityRepliesSent() const { return m_identitySent; }

    QByteArray identityLine() const;
    QByteArray statusLine() const;

signals:
    void lineReceived(const QByteArray &line);
    void lineSent(const QByteArray &line);

private:
    void restart(int delay_ms, int for_mode);
    void finishRestart();
    void sendStatus();
    void dataTick();
    void reply(const QByteArray &line, int baud);
    bool dataFlowing() const;
    void resetDataClock();
    QByteArray dataLine(quint64 seq) const;

    const Model m_model;
    GatewayTransport *const m_link;
    int m_mode;
    bool m_running = false;
    bool m_answering = true;
    bool m_commandMode = false;
    bool m_rawInitialised = false;
    bool m_txLimitOff = false;
    int m_restartDelay = 200;
    int m_modeChangeDelay = 1000;
    int m_statusInterval = 1000;
    int m_dataRate = 0;
    bool m_instruments = false;
    int m_noiseEvery = 0;
    // The mode a pending restart belongs to, so that the second copy of a
    // mode sentence is acknowledged without starting the change again.
    int m_restartForMode = -1;
    int m_identitySent = 0;
    QByteArray m_identityOverride;
    QList<QByteArray> m_received;
    QList<int> m_receivedRates;
    QElapsedTimer m_uptime;
    QTimer m_statusTimer;
    QTimer m_bootTimer;
    QTimer m_dataTimer;
    qint64 m_dataEpochNs = 0;
    quint64 m_dataDue = 0;
    quint64 m_nextSeq = 0;
    quint64 m_dataSent = 0;
};

} // namespace gatewaysim
