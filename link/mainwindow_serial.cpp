// The serial link to the Sernix: the adapter search, the baud probe, reading
// lines and losing the adapter.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "console/console.h"

#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QTcpSocket>

using namespace tavix;

namespace {

// After every open, the restart sequence goes out once the adapter has
// settled.
constexpr int restart_after_open_ms = 500;

#ifdef Q_OS_UNIX
// Where the port's device node lives: a name that is not a path is one of
// the system's device folder, as QSerialPort itself resolves it.
QString deviceNode(const QString &port_name)
{
    if (port_name.isEmpty() || port_name.startsWith(QLatin1Char('/'))
        || port_name.startsWith(QLatin1String("./")) || port_name.startsWith(QLatin1String("../")))
        return port_name;
    return QStringLiteral("/dev/") + port_name;
}
#endif

} // namespace

void MainWindow::loadSernix()
{
    releaseTcpLink();
    st.link_is_tcp = false;
    if (serial->isOpen())
        serial->close();
    // The probe runs again and lines wait for a fresh identity reply.
    startNewLink();
    setStatusText(tr(" Trying to connect Sernix via serial to USB connection..."));

    const QList<SerialPortEntry> ports = port_lister();
    const int adapter = findAdapter(ports);
    if (adapter >= 0)
        st.port_name = ports.at(adapter).port_name;

    try_connect_sernix_4800();
}

void MainWindow::probeStep(int baud, const QString &text, int next_step_ms,
                           void (MainWindow::*next)())
{
    if (st.sernix_identified)
        return;
    setStatusText(text);
    if (serial->isOpen())
        serial->close();
    // A port that cannot be opened ends the probe: the other rates would
    // only show the same box again.
    openSerialPort(baud);
    if (serial->isOpen())
        afterOnThisLink(next_step_ms, next);
}

void MainWindow::try_connect_sernix_4800()
{
    probeStep(4800, tr(" Trying to connect Sernix via serial to USB 4800 baud"), 3000,
              &MainWindow::try_connect_sernix_38400);
}

void MainWindow::try_connect_sernix_38400()
{
    probeStep(38400, tr(" Trying to connect Sernix via serial to USB 38400 baud"), 2000,
              &MainWindow::try_connect_sernix_230400);
}

void MainWindow::try_connect_sernix_230400()
{
    probeStep(230400, tr(" Trying to connect Sernix via serial to USB 230400 baud"), 2000,
              &MainWindow::try_connect_sernix_115200);
}

void MainWindow::try_connect_sernix_115200()
{
    probeStep(115200, tr(" Trying to connect Sernix via serial to USB 115200 baud"), 2000,
              &MainWindow::cant_connect_sernix);
}

void MainWindow::cant_connect_sernix()
{
    if (st.sernix_identified)
        return;
    setStatusAlert(tr(" Can`t connect Sernix. Make sure both cables are connected."));
}

void MainWindow::try_bauds()
{
    for (const int baud : { 4800, 38400, 230400, 115200 }) {
        if (st.sernix_identified)
            break;
        serial->setBaudRate(baud);
    }
}

void MainWindow::openSerialPort(int baud)
{
    if (serial->isOpen()) {
        serial->setBaudRate(baud);
        de_init_Gateway();
        return;
    }
    serial->setPortName(st.port_name);
    serial->setBaudRate(baud);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);
    if (!serial->open(QIODevice::ReadWrite)) {
        QMessageBox::critical(this, tr("Error opening serial port"), serial->errorString());
        setStatusAlert(tr(" Can`t open %1 serial port").arg(st.port_name));
        return;
    }
    // Whatever was half read belongs to another rate or another port.
    serial_framer.clear();
    afterOnThisLink(restart_after_open_ms, &MainWindow::de_init_Gateway);
}

void MainWindow::readData()
{
    // A command sent while a line is handled waits for its bytes to leave,
    // and that wait can deliver readyRead again: the nested call leaves the
    // new bytes to this loop, so lines keep their order.
    if (reading_serial)
        return;
    QScopedValueRollback<bool> guard(reading_serial, true);
    const Console::Batch batch(console); // one insert into the console for all
    // A mode acknowledgement sends the restart sequence and waits for it to
    // leave; an adapter pulled during that wait ends the link there
    // (handleError). The lines read with it came from a link that is gone.
    const quint64 generation = link_generation;
    // read() of what is there, not readAll(): readAll() takes a 16 KiB
    // buffer for each of the adapter's few-byte packets and then shrinks it.
    while (serial->isOpen() && serial->bytesAvailable() > 0) {
        const QList<QByteArray> lines = serial_framer.feed(serial->read(serial->bytesAvailable()));
        for (const QByteArray &line : lines) {
            if (link_generation != generation)
                return;
            process_line(line);
        }
    }
}

void MainWindow::handleError(QSerialPort::SerialPortError error)
{
#ifdef Q_OS_UNIX
    // An unplugged adapter hangs its line up: reads then find nothing and,
    // depending on what the last system call left behind, the port reports
    // a read error instead of a resource error, over and over. The device
    // node vanishing tells the two apart. Its path comes from the port's
    // name, not from the toolkit's list of ports: a device that is gone is
    // no longer listed, and a pseudo-terminal never is.
    const QString device = deviceNode(serial->portName());
    const bool adapter_gone
        = error == QSerialPort::ReadError && !device.isEmpty() && !QFileInfo::exists(device);
#else
    // Port names such as COM3 name no file; there the toolkit itself reports
    // a lost adapter as a resource error, and a read error is only that.
    const bool adapter_gone = false;
#endif
    if (error != QSerialPort::ResourceError && !adapter_gone)
        return;
    if (!serial->isOpen())
        return; // already handled
    const QString reason = adapter_gone
        ? tr("The serial port %1 is gone: the adapter was unplugged.").arg(st.port_name)
        : serial->errorString();
    // Closed before the box opens, so that a port still signalling errors
    // cannot stack further boxes from the box's own event loop; a probe
    // still running ends with the adapter.
    closeSerialPort();
    ++link_generation;
    QMessageBox::critical(this, tr("Critical Error"), reason);
    // Nothing can be sent any more: the working page would only pretend.
    ui->stackedWidget->setCurrentIndex(0);
    setStatusAlert(tr("   Sernix disconnected"));
}

void MainWindow::closeSerialPort()
{
    if (serial->isOpen())
        serial->close();
    if (socket && socket->isOpen())
        socket->close();
}
