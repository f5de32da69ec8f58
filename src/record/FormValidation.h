#pragma once

// The checks that stop a write of a device's settings. The settings editor and the command-line tool
// both run them on the values as the user gave them (text, as typed), so neither can send a record the
// other would refuse. The checks run in a fixed order and stop at the first failure.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace form {
constexpr int kPortCount = 4;
constexpr int kPasswordMax = 8;
constexpr int kCommentMax = 32;
constexpr int kPortMin = 1;
constexpr int kPortMax = 65534;
constexpr int kTimeoutMin = 0;
constexpr int kTimeoutMax = 3600;
constexpr int kEventByteMin = 0;
constexpr int kEventByteMax = 8192;

/** The values a write takes from the user, as typed. Port numbers, timeouts and event bytes are text
 *  because "not a number" is one of the answers; addresses are text for the same reason (a blank
 *  address is 0.0.0.0). The three list positions are the record's codes (-1: no selection). */
struct FormValues
{
    QString password;
    QString comment;
    std::array<QString, kPortCount> peerPort;
    std::array<QString, kPortCount> timeout;
    std::array<QString, kPortCount> eventByte;
    std::array<QString, kPortCount> localPort;
    /** Checked only when `checkNetworkAddresses` is set (a static IPv4 type: the record takes them). */
    QString ipAddress;
    QString subnetMask;
    QString gateway;
    bool checkNetworkAddresses = true;
    std::array<QString, kPortCount> localIp;
    std::array<QString, kPortCount> peerIp;
    int multiIp = 0;
    int ipv4Type = 0;
    int eapol = 0;
    /** The settings editor corrects these combinations as they are chosen; a record set field by field
     *  (the command line) has them checked. */
    bool checkCombinations = true;
};

/** Which value failed, by the record accessor's name, and the rule it broke. */
enum class Rule
{
    TooLong,            // more characters than the field holds (`max`)
    NotInteger,         // text that is not an integer
    OutOfRange,         // an integer outside `min`..`max`
    NotAnAddress,       // text that is not four numbers 0..255
    MultiIpNeedsStatic, // Multi IP with an IPv4 type other than static
    Md5ExcludesPppoe,   // EAPoL MD5 with PPPoE
};

enum class Field
{
    Password,
    PeerPort,
    Timeout,
    EventByte,
    LocalPort,
    Comment,
    IpAddress,
    SubnetMask,
    Gateway,
    LocalIp,
    PeerIp,
    Ipv4Type,
    Eapol,
};

struct Problem
{
    Field field;
    int port = -1; // 0..3 for the per-port fields
    Rule rule;
    int min = 0;
    int max = 0;
    QString text; // the offending text, for addresses

    /** The record accessor's name: "password", "com2.peerPort", "ipAddress", … */
    QString fieldName() const;
    /** An English sentence naming the field and the rule, for the command line. */
    QString describe() const;
};

/** Checks in this order: the password length; the four peer ports (COM1..COM4); the four timeouts;
 *  the four event bytes; the four local ports; the comment length; the network addresses (when the
 *  IPv4 type is static); each port's local and peer address; Multi IP needing a static IPv4 type; EAPoL
 *  MD5 excluding PPPoE. The first failure is returned. */
std::optional<Problem> validate(const FormValues& values);

/** An integer as the form reads it (surrounding blanks allowed); nothing for other text. */
std::optional<qint64> readInteger(const QString& text);
} // namespace form
