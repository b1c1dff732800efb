// gateway-sim: plays a Sernix on a pseudo-terminal or a Torvel on loopback
// TCP until SIGINT or SIGTERM, so that the real tool can be run against it.

#include "gatewaysim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
}

// Turns SIGINT and SIGTERM into a clean return from the event loop, so that
// the symlink and the pty are cleaned up.
bool quitOnSignals(QCoreApplication &app)
{
    if (::pipe(signal_pipe) != 0)
        return false;
    for (int fd : signal_pipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    auto *notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signal_pipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}

QByteArray printable(const QByteArray &line)
{
    QByteArray out;
    for (char c : line) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c >= 0x20 && c < 0x7f)
            out += c;
        else
            out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
    }
    return out;
}

// A symlink to the pty, e.g. /dev/COM3, for a tool that opens a fixed name.
// Never replaces anything but a symlink.
class PortLink
{
public:
    ~PortLink()
    {
        if (!m_path.isEmpty() && QFileInfo(m_path).symLinkTarget() == m_target)
            QFile::remove(m_path);
    }

    bool create(const QString &path, const QString &target, QString *error)
    {
        const QFileInfo info(path);
        if (info.isSymLink()) {
            if (!QFile::remove(path)) {
                *error = QStringLiteral("cannot remove the old symlink %1").arg(path);
                return false;
            }
        } else if (info.exists()) {
            *error = QStringLiteral("%1 exists and is not a symlink; not replacing it").arg(path);
            return false;
        }
        if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData())
            != 0) {
            *error = QStringLiteral("cannot create the symlink %1").arg(path);
            return false;
        }
        m_path = path;
        m_target = QFileInfo(target).canonicalFilePath();
        if (m_target.isEmpty())
            m_target = target;
        return true;
    }

private:
    QString m_path;
    QString m_target;
};

int fail(const QString &message)
{
    std::fprintf(stderr, "gateway-sim: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gateway-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays a gateway: 'sernix' on a pseudo-terminal, 'torvel' on "
                       "127.0.0.1. Runs until SIGINT or SIGTERM."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("gateway"), QStringLiteral("sernix or torvel"));
    const QCommandLineOption mode_opt(QStringLiteral("mode"),
                                      QStringLiteral("Conversion mode (0-8, 14, 15)."),
                                      QStringLiteral("N"));
    const QCommandLineOption link_opt(
        QStringLiteral("link"), QStringLiteral("sernix: also make PATH a symlink to the pty."),
        QStringLiteral("PATH"));
    const QCommandLineOption port_opt(QStringLiteral("port"),
                                      QStringLiteral("torvel: TCP port (default: any free)."),
                                      QStringLiteral("N"), QStringLiteral("0"));
    // Only for a network namespace of one's own whose loopback holds the
    // Torvel's address, so that the tool itself can dial it.
    const QCommandLineOption address_opt(
        QStringLiteral("address"),
        QStringLiteral("torvel: the local address to listen on (default: 127.0.0.1)."),
        QStringLiteral("IP"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption status_opt(QStringLiteral("status-ms"),
                                        QStringLiteral("Status sentence period, 0 for none."),
                                        QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption rate_opt(QStringLiteral("data-rate"),
                                      QStringLiteral("Numbered data lines per second."),
                                      QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption sentences_opt(
        QStringLiteral("sentences"),
        QStringLiteral("Data lines are the mode's own sentences (RMC, HDG, ...) with changing "
                       "values, not numbered lines."));
    const QCommandLineOption noise_opt(
        QStringLiteral("noise"),
        QStringLiteral("Garble one character of every N-th data line (its checksum fails)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption verbose_opt(QStringLiteral("verbose"),
                                         QStringLiteral("Log received and sent lines to stderr."));
    parser.addOptions({ mode_opt, link_opt, port_opt, address_opt, status_opt, rate_opt,
                        sentences_opt, noise_opt, verbose_opt });
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const QString kind = args.value(0);
    if (args.size() != 1 || (kind != QLatin1String("sernix") && kind != QLatin1String("torvel")))
        return fail(QStringLiteral("say 'sernix' or 'torvel' (see --help)"));
    const bool sernix = kind == QLatin1String("sernix");

    bool ok = true;
    const int mode = parser.isSet(mode_opt) ? parser.value(mode_opt).toInt(&ok) : (sernix ? 14 : 3);
    if (!ok || !gatewaysim::isValidMode(mode))
        return fail(QStringLiteral("unknown mode %1").arg(parser.value(mode_opt)));
    const int status_ms = parser.value(status_opt).toInt(&ok);
    if (!ok || status_ms < 0)
        return fail(QStringLiteral("bad --status-ms"));
    const int data_rate = parser.value(rate_opt).toInt(&ok);
    if (!ok || data_rate < 0)
        return fail(QStringLiteral("bad --data-rate"));
    const int noise = parser.value(noise_opt).toInt(&ok);
    if (!ok || noise < 0)
        return fail(QStringLiteral("bad --noise"));
    const uint port = parser.value(port_opt).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("bad --port"));
    if (!sernix && parser.isSet(link_opt))
        return fail(QStringLiteral("--link is for the sernix only"));
    const QHostAddress address(parser.value(address_opt));
    if (address.isNull())
        return fail(QStringLiteral("bad --address"));

    if (!quitOnSignals(app))
        return fail(QStringLiteral("cannot install signal handlers"));

    std::unique_ptr<gatewaysim::GatewaySimulator> sim;
    PortLink port_link;
    if (sernix) {
        auto *s = new gatewaysim::SernixSimulator(mode);
        sim.reset(s);
        if (!s->start())
            return fail(QStringLiteral("cannot make a pseudo-terminal"));
        if (parser.isSet(link_opt)) {
            QString error;
            if (!port_link.create(parser.value(link_opt), s->portName(), &error))
                return fail(error);
        }
        std::printf("%s\n", qPrintable(s->portName()));
    } else {
        auto *t = new gatewaysim::TorvelSimulator(mode);
        sim.reset(t);
        if (!t->start(quint16(port), address))
            return fail(QStringLiteral("cannot listen on %1:%2").arg(address.toString()).arg(port));
        std::printf("%u\n", unsigned(t->port()));
    }
    std::fflush(stdout);

    sim->setStatusInterval(status_ms);
    sim->setInstrumentData(parser.isSet(sentences_opt));
    sim->setNoise(noise);
    sim->setDataRate(data_rate);
    if (parser.isSet(verbose_opt)) {
        QObject::connect(sim.get(), &gatewaysim::GatewaySimulator::lineReceived,
                         [](const QByteArray &line) {
                             std::fprintf(stderr, "<- %s\n", printable(line).constData());
                         });
        QObject::connect(sim.get(), &gatewaysim::GatewaySimulator::lineSent,
                         [](const QByteArray &line) {
                             std::fprintf(stderr, "-> %s\n", printable(line).constData());
                         });
    }

    const int rc = app.exec();
    sim.reset();
    return rc;
}
