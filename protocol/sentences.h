#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The gateways' wire protocol: fixed command sentences and the reading of
// received lines. Every line is a byte string with its line end attached.
namespace tavix {

namespace cmd {
inline constexpr char command_mode[] = "$PHLV,CMD\r\n";
inline constexpr char exit_command_mode[] = "$PHLV,EXIT\r\n";
inline constexpr char restart_cmd_block[] = "$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n";
inline constexpr char restart_offline_block[] = "$PHLV,TAVIX_OFFLINE,\r\n$PHLV,TAVIX_OFFLINE,\r\n";
inline constexpr char offline[] = "$PHLV,TAVIX_OFFLINE,\r\n";
inline constexpr char init_all[] = "$PHLV,TAVIX_INIT,ALL,\r\n";
inline constexpr char init_normal[] = "$PHLV,TAVIX_INIT,NORMAL\r\n";
inline constexpr char reset[] = "$PHLV,TAVIX_RESET,\r\n";
inline constexpr char tx_limit_off[] = "$PHLV,TX_LIMIT,OFF\r\n";
inline constexpr char tx_limit_on[] = "$PHLV,TX_LIMIT,ON\r\n";
inline constexpr char get_errors[] = "$PHLV,GET_TAVIX_ERRORS\r\n";
inline constexpr char show_devices[] = "$PHLV,SHOW_DEVICES\r\n";
} // namespace cmd

// ISO Request payloads: the requested PGN, 24-bit little endian, in Base64.
namespace iso {
inline constexpr char address_claim[] = "AO4A"; // PGN 60928
inline constexpr char product_info[] = "FPAB"; // PGN 126996
inline constexpr char config_info[] = "FvAB"; // PGN 126998
inline constexpr char pgn_list[] = "AO4B"; // PGN 126464
} // namespace iso

// "!PHLV,59904,<destination>,<payload>\r\n"
QByteArray isoRequest(const QByteArray &destination, const char *payload);

// The bytes before the first zero byte, decoded as UTF-8; the line end stays.
QString lineToText(const QByteArray &line);

enum class Gateway { None, Sernix, Torvel };

// Which gateway an identity reply comes from. "Halvane_S" anywhere in the
// line wins over "Halvane_Tor".
Gateway identityOf(const QByteArray &line);

// Conversion mode carried by an identity reply: the text after the first ':'
// up to the next ':'. The two gateways write it differently. A reply without
// a readable number gives 0.
int sernixModeFromIdentity(const QByteArray &line);
int torvelModeFromIdentity(const QByteArray &line);

// What a line that passed the sentence filter asks of the window.
enum class Reply {
    Status, // "$PHLV,000000,"
    ModeAck, // "$PHLV,ACK,TAVIX_M"
    TxLimitOffAck, // "$PHLV,ACK,TX_LIMIT,OFF"
    InitAck, // "$PHLV,ACK,TAVIX_INIT"
    TxLimitOnAck, // "$PHLV,ACK,TX_LIMIT,ON"
    Devices, // "$PHLV,TAVIX_DEVICES"
    Blacklist, // "$PHLV,SHOW_BLACKLIST"
    Other,
};
Reply classify(const QByteArray &line);

// A line worth showing at all: its first byte is '$' or '!'.
bool isSentence(const QByteArray &line);

// The fields of a status sentence that the window shows, exactly as received
// (the last one keeps the line end when it ends the line).
struct StatusFields
{
    QString bus_load; // field 2
    QString devices; // field 4
    QString uptime; // field 5, seconds
    QString address; // field 6
};

// The status sentence's "empty status": the three bytes after the prefix
// (offsets 13 to 15) are all ','.
bool isEmptyStatus(const QByteArray &line);

// Fields of a status sentence; nothing when the line has fewer than seven
// fields, so that a short sentence never reads beyond what arrived.
std::optional<StatusFields> parseStatus(const QByteArray &line);

// "Bus Load: %1, Devices: %2, Uptime: %3 sec, Address: %4", translated,
// without the line end that the address may carry.
QString statusOneLine(const StatusFields &f);
// The four-line form of the heartbeat labels, translated.
QString statusFourLines(const StatusFields &f);

} // namespace tavix
