#pragma once

#include "console/csvlog.h"
#include "link/linering.h"

#include <QString>
#include <QStringList>

// State that the window's slots share. One instance lives in each
// MainWindow, so every window starts from the same state, as every run of
// the tool does. Touched only on the event-loop thread.
struct WindowState
{
    bool link_is_tcp = false; // writes go to the TCP socket, not the serial port
    bool sernix_identified = false;
    bool torvel_identified = false;
    int conversion_mode = 0; // as the gateway last reported it
    bool raw_mode = false; // a gateway in mode 15 has been initialised
    bool tx_limit_off = false;
    bool command_mode = false; // the gateway's data output is stopped
    int baud_rate = 4800; // serial rate to switch to after a mode change
    QString port_name = QStringLiteral("COM3");
    bool logging_on = false;
    tavix::CsvLog log_lines; // received lines collected while logging
    QStringList device_addresses; // nothing fills it yet
    tavix::LineRing tcp_line_ring; // TCP lines waiting for the worker's tick
};
