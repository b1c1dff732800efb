// The window's side of the gateway protocol: the send path, the command
// slots, the handling of every received line and the conversion modes.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/accessibility.h"
#include "console/console.h"
#include "console/sentencesmodel.h"
#include "protocol/modes.h"
#include "protocol/sentences.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QTcpSocket>

using namespace tavix;

namespace {

// Longest a serial write may block the window waiting for its bytes to leave.
constexpr int serial_write_timeout_ms = 1500;
// Delay before the follow-ups of a mode change and an initialisation.
constexpr int follow_up_delay_ms = 500;

} // namespace

void MainWindow::writeData(QByteArray data)
{
    bool sent = false;
    if (st.link_is_tcp) {
        sent = socket && socket->state() == QAbstractSocket::ConnectedState
            && socket->write(data) == data.size();
    } else {
        // The status shown is the gateway's answer to the last command;
        // it is blanked until the next status sentence arrives.
        ui->heartbeatLabelDataTab->setText(QStringLiteral(" "));
        ui->heartbeatLabelConfigTab->setText(QStringLiteral(" "));
        if (serial->isOpen()) {
            sent = serial->write(data) == data.size();
            // Sent once every byte has left within the wait: not when the
            // time ran out, nor when the port failed (and was closed) in it.
            const QDeadlineTimer deadline(serial_write_timeout_ms);
            while (sent && serial->bytesToWrite() > 0)
                sent = serial->waitForBytesWritten(int(deadline.remainingTime()));
        }
    }
    // The console shows what went out, never what only would have.
    if (sent)
        console->showData(data);
}

void MainWindow::start_stop_data()
{
    if (!st.command_mode) {
        writeData(cmd::command_mode);
        setCommandMode(true);
    } else {
        writeData(cmd::exit_command_mode);
        setCommandMode(false);
    }
}

void MainWindow::setCommandMode(bool on)
{
    st.command_mode = on;
    ui->dataStartStopButton->setText(on ? QStringLiteral("CMD OFF") : QStringLiteral("CMD ON"));
}

void MainWindow::setRawMode(bool on)
{
    st.raw_mode = on;
    ui->initButtonConfigTab->setText(on ? QStringLiteral("De-init") : QStringLiteral("Initialise"));
    // The conversion mode of a RAW gateway changes only after De-init.
    ui->changeModeButton->setEnabled(!on);
}

void MainWindow::setTxLimitOff(bool off)
{
    st.tx_limit_off = off;
    ui->tx_limitButtonConfigTab->setText(off ? QStringLiteral("Switch TX Time Limit ON")
                                             : QStringLiteral("Switch TX Time Limit OFF"));
    ui->tx_limitButtonDataTab->setText(off ? QStringLiteral("TX Limit ON")
                                           : QStringLiteral("TX Limit OFF"));
}

void MainWindow::de_init_Gateway()
{
    writeData(cmd::restart_cmd_block);
    writeData(cmd::restart_offline_block);
    st.command_mode = false;
}

void MainWindow::init_raw_mode()
{
    if (!st.raw_mode)
        writeData(cmd::init_all);
    else
        de_init_Gateway();
}

void MainWindow::send_iso_request()
{
    writeData(isoRequest("255", iso::address_claim));
}

void MainWindow::send_tx_limit()
{
    writeData(st.tx_limit_off ? cmd::tx_limit_on : cmd::tx_limit_off);
}

void MainWindow::send_line()
{
    writeData(ui->lineEditDataTab->text().toUtf8() + "\r\n");
}

void MainWindow::reset()
{
    writeData(cmd::reset);
}

void MainWindow::send_restart_command()
{
    writeData(cmd::offline);
    st.command_mode = false;
}

void MainWindow::send_error_request()
{
    writeData(cmd::get_errors);
}

void MainWindow::send_show_devices()
{
    writeData(cmd::show_devices);
}

void MainWindow::send_init_command()
{
    writeData(cmd::init_normal);
}

void MainWindow::send_init_command_allmode()
{
    writeData(cmd::init_all);
}

void MainWindow::send_adiso_request()
{
    for (const QString &address : qAsConst(st.device_addresses)) {
        writeData(isoRequest(address.toUtf8(), iso::product_info));
        writeData(isoRequest(address.toUtf8(), iso::config_info));
    }
}

void MainWindow::send_rxtxlist_request(int address)
{
    writeData(isoRequest(QByteArray::number(address), iso::pgn_list));
}

void MainWindow::init_Gateway()
{
    if (serial->isOpen())
        serial->close();
}

void MainWindow::process_line(QByteArray buf)
{
    // An identity reply is recognised before anything else, wherever its
    // token stands in the line.
    const Gateway gateway = identityOf(buf);
    if (gateway != Gateway::None) {
        QString connected_text;
        if (gateway == Gateway::Sernix) {
            st.sernix_identified = true;
            st.torvel_identified = false;
            st.conversion_mode = sernixModeFromIdentity(buf);
            connected_text = tr(" Sernix is connected in conversion mode: %1");
        } else {
            st.torvel_identified = true;
            st.sernix_identified = false;
            console->showData(buf);
            st.conversion_mode = torvelModeFromIdentity(buf);
            connected_text = tr(" Torvel is connected in conversion mode: %1");
        }
        ui->initButtonConfigTab->setVisible(st.conversion_mode == 15);
        sentences->setConversionMode(st.conversion_mode);
        setStatusText(connected_text.arg(st.conversion_mode));
        const int index = indexForMode(st.conversion_mode);
        if (index >= 0)
            ui->selectModeBox->setCurrentIndex(index);
        ui->stackedWidget->setCurrentIndex(2);
        ui->tabWidget->setCurrentIndex(0);
        showConversionList();
        return;
    }

    if (!isSentence(buf))
        return;
    // Nothing is shown or logged until a gateway has said who it is.
    if (!st.sernix_identified && !st.torvel_identified)
        return;

    console->showData(buf);
    if (st.logging_on)
        st.log_lines.append(buf);
    sentences->note(buf);

    switch (classify(buf)) {
    case Reply::Status:
        if (isEmptyStatus(buf)) {
            if (st.raw_mode)
                setRawMode(false);
            return;
        }
        if (!st.raw_mode && st.conversion_mode == 15)
            setRawMode(true);
        // A sentence cut short keeps the labels as they were.
        if (const std::optional<StatusFields> fields = parseStatus(buf)) {
            setStatusText(statusOneLine(*fields));
            const QString four_lines = statusFourLines(*fields);
            ui->heartbeatLabelDataTab->setText(four_lines);
            ui->heartbeatLabelConfigTab->setText(four_lines);
        }
        break;
    case Reply::ModeAck:
        de_init_Gateway();
        break;
    case Reply::TxLimitOffAck:
        setTxLimitOff(true);
        break;
    case Reply::InitAck:
        afterOnThisLink(follow_up_delay_ms, &MainWindow::send_iso_request);
        break;
    case Reply::TxLimitOnAck:
        setTxLimitOff(false);
        break;
    case Reply::Devices:
    case Reply::Blacklist:
    case Reply::Other:
        break;
    }
}

void MainWindow::setButtonColour(QPushButton *button, const QColor &colour)
{
    QPalette palette = button->palette();
    palette.setBrush(QPalette::All, QPalette::Button, QBrush(colour, Qt::SolidPattern));
    // A disabled button keeps the style's grey text.
    const QColor text = buttonTextColour(button, colour);
    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive })
        palette.setColor(group, QPalette::ButtonText, text);
    button->setAutoFillBackground(true);
    button->setPalette(palette);
    button->update();
}

void MainWindow::showConversionList()
{
    const int index = ui->selectModeBox->currentIndex();
    const int mode = modeForIndex(index);
    // Green: the row chosen is the mode the gateway reported. Said in words
    // as well, and in shades that stand out from the window's background.
    const bool matches = mode == st.conversion_mode;
    const QColor hue = matches ? Qt::green : Qt::red;
    const QColor background = ui->conversionList->palette().color(QPalette::Window);
    setButtonColour(ui->changeModeButton, readableShade(hue, background, ui->changeModeButton));
    QPalette text = ui->conversionList->palette();
    text.setColor(QPalette::WindowText, readableShade(hue, background));
    ui->conversionList->setPalette(text);
    ui->changeModeButton->setAccessibleDescription(
        matches ? tr("Sends nothing: the gateway is already in mode %1.").arg(mode)
                : tr("Sends mode %1 to the gateway, which is in mode %2.")
                      .arg(mode)
                      .arg(st.conversion_mode));
    // Only the Sernix's modes come with a serial rate.
    if (index >= 0 && index < mode_count)
        ui->conversionList->setText(
            (matches ? tr("The gateway is in this mode.")
                     : tr("The gateway is in mode %1, not this one.").arg(st.conversion_mode))
            + QStringLiteral("\r\n\r\n") + modeDescription(index, !st.torvel_identified));
}

void MainWindow::changeMode()
{
    const int mode = modeForIndex(ui->selectModeBox->currentIndex());
    if (mode < 0 || mode == st.conversion_mode)
        return;
    if (!st.link_is_tcp)
        st.baud_rate = baudForMode(mode);
    writeData(modeSentence(mode));
    // The gateway switches its rate once the sentence has gone out at the
    // old one.
    afterOnThisLink(follow_up_delay_ms, &MainWindow::changeBaud);
}

void MainWindow::changeBaud()
{
    if (st.link_is_tcp)
        return;
    if (serial->isOpen()) {
        serial->setBaudRate(st.baud_rate);
        // Half a line read at the old rate would join the first line of the
        // new one; a new rate starts afresh, as a new open does.
        serial_framer.clear();
    }
}
