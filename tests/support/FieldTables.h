#pragma once

// Tables the tests hold against the program, written out here by hand rather than taken from the
// program's catalogue of fields, so that a slip in the catalogue cannot agree with itself: which of a
// port's network fields each communication mode puts in use, the English texts of every list, and what
// the one address reader makes of typed texts.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace fieldtables {
/** One communication mode and the port fields it uses ("Local IP Address" follows Multi IP instead). */
struct ModeUse
{
    const char* name;
    int code;
    bool localPort;
    bool peerIp;
    bool peerPort;
    bool timeout;
    bool waterMark;
};
inline constexpr ModeUse kModeUse[] = {
    {"T2S", 0, true, false, false, true, false},
    {"ATC", 1, false, false, false, true, false},
    {"COD", 2, false, true, true, true, true},
    {"U2S", 3, true, true, true, true, true},
};

/** The port fields of the table, as `read --json` names them, with their column of a ModeUse row. */
struct PortField
{
    const char* name;
    bool ModeUse::*used;
};
inline constexpr PortField kPortFields[] = {
    {"localPort", &ModeUse::localPort}, {"peerIp", &ModeUse::peerIp},       {"peerPort", &ModeUse::peerPort},
    {"timeout", &ModeUse::timeout},     {"waterMark", &ModeUse::waterMark},
};

/** A list of the settings editor by its field's name, and its English entries in list order. */
struct ListTexts
{
    const char* field;
    QStringList english;
};
inline const std::vector<ListTexts>& listTexts()
{
    static const std::vector<ListTexts> lists = {
        {"ipv4Type",
         {QStringLiteral("Use static IP address"), QStringLiteral("Obtain an IP Automatically(DHCP)"),
          QStringLiteral("Obtain an IP Automatically(PPPoE)")}},
        {"multiIp", {QStringLiteral("Disable"), QStringLiteral("Use")}},
        {"eapol", {QStringLiteral("Disable"), QStringLiteral("MD5")}},
        {"mode",
         {QStringLiteral("T2S - TCP Server"), QStringLiteral("ATC - AT Command"), QStringLiteral("COD - TCP Client"),
          QStringLiteral("U2S - UDP")}},
        {"baudRate",
         {QStringLiteral("600"), QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
          QStringLiteral("9600"), QStringLiteral("14400"), QStringLiteral("19200"), QStringLiteral("38400"),
          QStringLiteral("57600"), QStringLiteral("115200"), QStringLiteral("230400")}},
        {"parity", {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even")}},
        {"dataBits", {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")}},
        {"stopBits", {QStringLiteral("1"), QStringLiteral("2")}},
        // The third flow-control mode is named here, so a record holding it shows and keeps it.
        {"flowControl", {QStringLiteral("None"), QStringLiteral("RTS/CTS"), QStringLiteral("Xon/Xoff")}},
    };
    return lists;
}

/** The names the command line takes for a list or flag field (any case), and the code each stores. */
struct CliNames
{
    const char* field;
    std::vector<std::pair<QString, int>> names;
};
inline const std::vector<CliNames>& cliNames()
{
    const auto flag = [](const char* field) {
        return CliNames{field,
                        {{QStringLiteral("yes"), 1},
                         {QStringLiteral("no"), 0},
                         {QStringLiteral("true"), 1},
                         {QStringLiteral("false"), 0},
                         {QStringLiteral("on"), 1},
                         {QStringLiteral("off"), 0},
                         {QStringLiteral("1"), 1},
                         {QStringLiteral("0"), 0}}};
    };
    static const std::vector<CliNames> lists = {
        {"ipv4Type",
         {{QStringLiteral("static"), 0},
          {QStringLiteral("DHCP"), 1},
          {QStringLiteral("PPPoE"), 2},
          {QStringLiteral("0"), 0},
          {QStringLiteral("1"), 1},
          {QStringLiteral("2"), 2}}},
        {"multiIp",
         {{QStringLiteral("Disable"), 0},
          {QStringLiteral("Use"), 1},
          {QStringLiteral("yes"), 1},
          {QStringLiteral("no"), 0},
          {QStringLiteral("true"), 1},
          {QStringLiteral("false"), 0},
          {QStringLiteral("on"), 1},
          {QStringLiteral("off"), 0},
          {QStringLiteral("1"), 1},
          {QStringLiteral("0"), 0}}},
        {"eapol",
         {{QStringLiteral("Disable"), 0},
          {QStringLiteral("MD5"), 1},
          {QStringLiteral("0"), 0},
          {QStringLiteral("1"), 1}}},
        flag("arp"),
        flag("telnet"),
        flag("remoteSearch"),
        {"mode",
         {{QStringLiteral("T2S"), 0},
          {QStringLiteral("ATC"), 1},
          {QStringLiteral("COD"), 2},
          {QStringLiteral("U2S"), 3},
          {QStringLiteral("0"), 0},
          {QStringLiteral("1"), 1},
          {QStringLiteral("2"), 2},
          {QStringLiteral("3"), 3}}},
        {"baudRate",
         {{QStringLiteral("600"), 600},
          {QStringLiteral("1200"), 1200},
          {QStringLiteral("2400"), 2400},
          {QStringLiteral("4800"), 4800},
          {QStringLiteral("9600"), 9600},
          {QStringLiteral("14400"), 14400},
          {QStringLiteral("19200"), 19200},
          {QStringLiteral("38400"), 38400},
          {QStringLiteral("57600"), 57600},
          {QStringLiteral("115200"), 115200},
          {QStringLiteral("230400"), 230400}}},
        // Even is stored as code 3, as the editor stores its third entry.
        {"parity", {{QStringLiteral("None"), 0}, {QStringLiteral("Odd"), 1}, {QStringLiteral("Even"), 3}}},
        {"dataBits",
         {{QStringLiteral("5"), 0}, {QStringLiteral("6"), 1}, {QStringLiteral("7"), 2}, {QStringLiteral("8"), 3}}},
        {"stopBits", {{QStringLiteral("1"), 0}, {QStringLiteral("2"), 1}}},
        {"flowControl", {{QStringLiteral("None"), 0}, {QStringLiteral("RTS/CTS"), 1}, {QStringLiteral("Xon/Xoff"), 3}}},
    };
    return lists;
}

/** What the one address reader makes of a typed text: the address (host order) or a refusal. Every text
 *  is a loopback address or could only become one, so a reader that wrongly accepts one sends nothing
 *  off the machine. */
struct AddressText
{
    const char* name;
    QString typed;
    std::optional<std::uint32_t> address;
};
inline const std::vector<AddressText>& addressTexts()
{
    static const std::vector<AddressText> texts = {
        {"plain", QStringLiteral("127.0.0.2"), 0x7F000002},
        {"spaces around", QStringLiteral(" 127.0.0.2 "), 0x7F000002},
        {"leading zero", QStringLiteral("127.0.0.010"), std::nullopt},
        // A two-digit part led by a zero, in each place: refused, however another reader would take it.
        {"two-digit last part led by a zero", QStringLiteral("127.0.0.02"), std::nullopt},
        {"two-digit second part led by a zero", QStringLiteral("127.00.0.2"), std::nullopt},
        {"two-digit third part led by a zero", QStringLiteral("127.0.01.2"), std::nullopt},
        // A tab is a blank as a space is; a line break is not.
        {"tab before", QStringLiteral("\t127.0.0.2"), 0x7F000002},
        {"tab after", QStringLiteral("127.0.0.2\t"), 0x7F000002},
        {"line break after", QStringLiteral("127.0.0.2\n"), std::nullopt},
        {"three numbers", QStringLiteral("127.0.0"), std::nullopt},
        {"five numbers", QStringLiteral("127.0.0.2.5"), std::nullopt},
        {"number above 255", QStringLiteral("127.0.0.256"), std::nullopt},
    };
    return texts;
}
} // namespace fieldtables
