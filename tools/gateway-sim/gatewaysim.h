#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

// Stand-ins for the two gateways, for tests and benchmarks. They speak only
// the wire protocol (CR LF ended ASCII lines): the Sernix over a
// pseudo-terminal, the Torvel over a loopback TCP socket. Each runs on a
// thread of its own, so it keeps answering while the caller's thread blocks.
// Every public method may be called from any thread other than the
// simulator's own; accessors return copies.
namespace gatewaysim {

// "$<body>" -> "$<body>*hh\r\n", hh being the XOR of the bytes after the
// leading '$' or '!', two upper-case hex digits.
QByteArray withChecksum(const QByteArray &body);
// True when the line (line end optional) carries "*hh" that matches its bytes.
bool checksumValid(const QByteArray &line);

// A numbered NMEA 0183 data line of 46 bytes (for sequence numbers up to ten
// digits), e.g. "$GPTXT,01,01,02,SEQ 0000000042 ABCDEFGHIJ*hh\r\n".
QByteArray numberedLine(quint64 seq);
// A numbered raw frame, "!PHLV,65300,35,<8 bytes little endian in Base64>\r\n",
// the form data takes in RAW mode.
QByteArray numberedFrame(quint64 seq);
// The seq-th data line of a gateway in a mode other than RAW, as the
// instruments on a boat's bus make it: the mode's own kinds of sentence
// (RMC, HDG, ...), each at its own share of the lines, with values that
// change as the boat goes.
QByteArray instrumentSentence(int mode, quint64 seq);
// The sequence number of a numbered line or frame (line end optional);
// nothing for any other line, a damaged one or one with a wrong checksum.
std::optional<quint64> sequenceOf(const QByteArray &line);

// Conversion modes the gateways know: 0 to 8, 14 and 15.
bool isValidMode(int mode);
// The Sernix's serial rate in a mode; 0 for an unknown mode.
int sernixBaudForMode(int mode);
// The default identity replies.
QByteArray sernixIdentityLine(int mode);
QByteArray torvelIdentityLine(int mode);

class GatewayBrain;

// What both gateways share. Not made directly: use one of the two below.
class GatewaySimulator : public QObject
{
    Q_OBJECT
public:
    ~GatewaySimulator() override;

    int mode() const;
    bool commandMode() const;
    bool rawInitialised() const;
    bool txLimitOff() const;
    // Between a restart and the identity reply that ends it.
    bool restarting() const;

    // Takes a mode at once, without acknowledgement or restart (test setup).
    void setMode(int mode);
    // In mode 15: takes the RAW initialisation at once, as if the tool had
    // sent it (test setup for a terminal that only listens).
    void setRawInitialised(bool on);
    // Period of the status sentence; 0 stops it. Default 1000 ms.
    void setStatusInterval(int ms);
    // Numbered data lines per second while data output runs; 0 (default) stops.
    void setDataRate(int lines_per_second);
    // Data lines are the mode's own sentences (instrumentSentence) rather
    // than numbered lines; RAW mode keeps its frames.
    void setInstrumentData(bool on);
    // Every n-th data line has one character garbled on the way, so that its
    // checksum no longer matches; 0 (default): none.
    void setNoise(int every_n);
    // Sequence number of the next numbered data line (default 0).
    void setNextSequence(quint64 seq);
    quint64 nextSequence() const;
    // Numbered data lines handed to the link so far.
    quint64 dataLinesSent() const;
    // false: a dead gateway, which reads (and records) but never sends.
    void setAnswering(bool on);
    // Exact bytes of the identity reply, line end included; empty: the default.
    void setIdentityLine(const QByteArray &line);
    // Delay from a restart sentence to the identity reply. Default 200 ms.
    void setRestartDelay(int ms);
    // Delay from a mode sentence to the identity reply in the new mode.
    // Default 1000 ms.
    void setModeChangeDelay(int ms);

    // Every complete line understood, in order, line end included.
    QList<QByteArray> received() const;
    void clearReceived();
    // Identity replies handed to an open link.
    int identityRepliesSent() const;

signals:
    // Emitted on the simulator object's own thread (queued from the
    // simulator's thread).
    void lineReceived(const QByteArray &line);
    // Every line the gateway itself sends except numbered data lines.
    void lineSent(const QByteArray &line);

protected:
    explicit GatewaySimulator(QObject *parent);
    struct Core;
    std::unique_ptr<Core> d;
};

class SernixLink;

class SernixSimulator : public GatewaySimulator
{
    Q_OBJECT
public:
    explicit SernixSimulator(int mode = 14, QObject *parent = nullptr);
    ~SernixSimulator() override;

    // Opens the pseudo-terminal and starts the gateway; false when no
    // pseudo-terminal could be made or the simulator was unplugged.
    bool start();
    // Path of the slave side, for QSerialPort::setPortName().
    QString portName() const;

    // The gateway's serial rate (follows the mode).
    int gatewayBaud() const;
    // The rate the tool's side of the pty is set to now; 0 when unknown.
    int toolBaud() const;
    // Whether the tool's side of the pty is open.
    bool portOpenedByTool() const;

    // Writes exactly these bytes, whatever rate the tool's side runs at;
    // paced at the gateway's rate, or at once. Dropped while the tool's side
    // is closed.
    void sendRaw(const QByteArray &bytes, bool paced = true);
    // Closes the master side: the tool's port sees a resource error. The
    // simulator stays dead afterwards.
    void unplug();
    bool unplugged() const;

    // Tool-side rate at which each line of received() arrived.
    QList<int> receivedRates() const;
    // Complete lines sent while the tool's rate differed from the gateway's
    // (not understood), with the tool's rate for each.
    QList<QByteArray> misheard() const;
    QList<int> misheardRates() const;
    // Bytes that arrived at a wrong rate.
    quint64 droppedBytes() const;

private:
    SernixLink *m_link = nullptr;
};

class TorvelLink;
class WriteTimes;

class TorvelSimulator : public GatewaySimulator
{
    Q_OBJECT
public:
    explicit TorvelSimulator(int mode = 3, QObject *parent = nullptr);
    ~TorvelSimulator() override;

    // Listens on 127.0.0.1 unless told otherwise; port 0 picks a free one.
    bool start(quint16 port = 0,
               const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
    quint16 port() const;
    // Stops listening and closes the client's connection.
    void stop();

    bool clientConnected() const;
    // Connections accepted so far; a new client replaces the previous one.
    int connectionCount() const;
    void disconnectClient();

    // Exactly these bytes in one write; dropped without a client.
    void sendRaw(const QByteArray &bytes);
    // Writes count numbered lines, first_seq onwards, as fast as the socket
    // takes them. Returns at once; floodDone() tells when all are written.
    void flood(quint64 first_seq, quint64 count);
    bool floodDone() const;
    quint64 floodLinesWritten() const;

    // steady_clock time (ns since its epoch) at which the numbered line seq
    // (data or flood) was written to the socket; the last 100,000 or more
    // are kept.
    std::optional<qint64> writeTimeNs(quint64 seq) const;

private:
    TorvelLink *m_link = nullptr;
    std::shared_ptr<WriteTimes> m_times;
};

} // namespace gatewaysim
