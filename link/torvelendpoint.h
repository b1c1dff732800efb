#pragma once

#include <QtGlobal>

namespace tavix {

// The Torvel serves its own network: it always sits at this address and
// listens on this port.
inline constexpr char torvel_address[] = "192.168.4.1";
inline constexpr quint16 torvel_tcp_port = 2000;

// Longest a connection attempt may block the window.
inline constexpr int torvel_connect_timeout_ms = 2000;

} // namespace tavix
