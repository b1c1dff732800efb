#pragma once

#include "gatewaybrain.h"
#include "linesplitter.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <random>

class QSocketNotifier;

namespace gatewaysim {

// The Sernix's serial line, played on the master side of a pseudo-terminal.
// The pty itself ignores rates, so the rate is enforced here: bytes the tool
// sends while its side runs at another rate than the gateway's are not
// understood, output is paced at the gateway's rate, and a tool listening at
// another rate gets noise instead of the bytes. Lives on the simulator's
// thread.
class SernixLink : public QObject, public GatewayTransport
{
    Q_OBJECT
public:
    explicit SernixLink(QObject *parent = nullptr);
    ~SernixLink() override;

    void setBrain(GatewayBrain *brain) { m_brain = brain; }
    bool open();
    QString portName() const { return m_slavePath; }

    // The rate the tool's side transmits at; 0 when it cannot be read.
    int toolBaud() const;
    bool slaveOpen() const;
    bool unplugged() const { return m_unplugged; }

    void sendRaw(const QByteArray &bytes, bool paced);
    void unplug();

    quint64 droppedBytes() const { return m_droppedBytes; }
    QList<QByteArray> misheard() const { return m_misheard; }
    QList<int> misheardRates() const { return m_misheardRates; }

    bool sendLine(const QByteArray &line, int baud) override;
    bool sendDataLine(quint64 seq, const QByteArray &line, int baud) override;
    bool canTakeData() const override;

private:
    struct Chunk
    {
        QByteArray bytes;
        int baud; // gateway rate the bytes go out at
        bool exact; // written as they are even at a wrong rate
        bool paced;
    };

    bool enqueue(const QByteArray &bytes, int baud, bool exact, bool paced);
    void onReadable();
    void onSlaveClosed();
    void checkReopened();
    void transmit();
    void dropOutput();
    int listenBaud() const;
    int toolReceiveBaud() const;
    QByteArray noise(qint64 size);

    GatewayBrain *m_brain = nullptr;
    int m_master = -1;
    QString m_slavePath;
    bool m_unplugged = false;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_reopenTimer;
    QTimer m_txTimer;
    std::deque<Chunk> m_queue;
    qint64 m_frontOffset = 0;
    qint64 m_queuedBytes = 0;
    // When the byte now on the line has left it (steady clock, ns).
    qint64 m_txFreeNs = 0;
    std::minstd_rand m_noise{ 0x5eed };
    LineSplitter m_splitter;
    quint64 m_droppedBytes = 0;
    QList<QByteArray> m_misheard;
    QList<int> m_misheardRates;
};

} // namespace gatewaysim
