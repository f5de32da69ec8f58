// The simulator's status file. Checks: a file it accepts gives items that fit a status reply for any
// device, the same number of bytes whatever the record, and items the program's decoder walks without
// reading outside them; the items carry the file's values, byte for byte, as a reading of the file made
// here apart from the simulator's parser expects them (numbers little-endian, addresses first octet
// first, texts unescaped, the device's own identity where no value is given), and the program's decoder
// shows each serial counter the file sets; a refusal names its line.

#include "FuzzCheck.h"
#include "StatusScript.h"
#include "protocol/Codec.h"
#include "status/StatusReport.h"

#include <QHostAddress>
#include <QList>
#include <QRegularExpression>

#include <array>
#include <map>
#include <memory>
#include <optional>

namespace {
QByteArray item(std::uint8_t type, const QByteArray& value)
{
    return QByteArray(1, static_cast<char>(type)) + static_cast<char>(value.size() + 2) + value;
}

QByteArray le(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

QByteArray be32(std::uint32_t value)
{
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(value >> shift);
    return out;
}

/** The counter lines: item type and width. */
const std::map<QByteArray, std::pair<std::uint8_t, int>>& counters()
{
    using namespace status;
    static const std::map<QByteArray, std::pair<std::uint8_t, int>> table = {
        {"uptime", {kUptime, 4}},      {"com1.rx", {kCom1Rx, 4}},     {"com2.rx", {kCom1Rx + 1, 4}},
        {"com3.rx", {kCom1Rx + 2, 4}}, {"com4.rx", {kCom1Rx + 3, 4}}, {"com1.tx", {kCom1Tx, 4}},
        {"com2.tx", {kCom1Tx + 1, 4}}, {"com3.tx", {kCom1Tx + 2, 4}}, {"com4.tx", {kCom1Tx + 3, 4}},
        {"lan.rx", {kLanRx, 4}},       {"lan.tx", {kLanTx, 4}},       {"lan.crc", {kLanCrc, 2}},
        {"lan.align", {kLanAlign, 2}}, {"lan.lost", {kLanLost, 2}},
    };
    return table;
}

/** A quoted text's bytes: \r \n \t \\ \" \0 and \xHH; a backslash just before the closing quote is itself. */
QByteArray unquoted(const QByteArray& quoted)
{
    const QByteArray inner = quoted.mid(1, quoted.size() - 2);
    static const std::map<char, char> escapes = {{'r', '\r'},  {'n', '\n'}, {'t', '\t'},
                                                 {'\\', '\\'}, {'"', '"'},  {'0', '\0'}};
    QByteArray out;
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] != '\\' || i + 1 == inner.size()) {
            out += inner[i];
        } else if (inner[++i] == 'x') {
            out += static_cast<char>(inner.mid(i + 1, 2).toUInt(nullptr, 16));
            i += 2;
        } else {
            out += escapes.at(inner[i]);
        }
    }
    return out;
}

QByteArray identity(const QByteArray& key, const QByteArray& value, const EnvRecord& r)
{
    using namespace status;
    if (key == "mac") {
        const auto mac = r.mac();
        return item(kMac, value.isEmpty() ? QByteArray(reinterpret_cast<const char*>(mac.data()), 6)
                                          : QByteArray::fromHex(QByteArray(value).replace(':', "")));
    }
    const std::uint8_t type = key == "ip" ? kLocalIp : key == "mask" ? kSubnet : kGateway;
    const std::uint32_t own = key == "ip" ? r.ipAddress() : key == "mask" ? r.subnetMask() : r.gateway();
    return item(type, be32(value.isEmpty() ? own : QHostAddress(QString::fromLatin1(value)).toIPv4Address()));
}

QByteArray version(const QByteArray& rest)
{
    const QList<QByteArray> parts = rest.simplified().split(' ');
    QByteArray value;
    for (int i = 0; i < 4; ++i) {
        const bool letter = i == 2 && parts[i].size() == 1 && parts[i][0] >= 'A' && parts[i][0] <= 'Z';
        value += static_cast<char>(letter ? parts[i][0] - 'A' : parts[i].toULongLong(nullptr, 0));
    }
    return item(status::kVersion, value);
}

/** What the accepted file stands for, read line by line here; the serial counters it sets, by field, the
 *  counters a "rate" line makes move (in order), and whether every item is one of the named kinds (no
 *  "item" or "raw" line that may reshape the walk). */
QByteArray expectedItems(const QByteArray& text, const EnvRecord& record, std::map<status::Field, quint64>& com,
                         QList<std::uint8_t>& rates, bool& named)
{
    named = true;
    QByteArray items;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = space < 0 ? line : line.left(space);
        const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
        if (const auto c = counters().find(key); c != counters().end()) {
            const quint64 value = rest.toULongLong(nullptr, 0);
            items += item(c->second.first, le(value, c->second.second));
            const std::uint8_t type = c->second.first;
            if (type >= status::kCom1Rx && type < status::kCom1Rx + 8)
                com[status::comField((type - status::kCom1Rx) % 4, type >= status::kCom1Tx)] = value;
        } else if (key == "mac" || key == "ip" || key == "mask" || key == "gateway") {
            items += identity(key, rest, record);
        } else if (key == "version") {
            items += version(rest);
        } else if (key == "text") {
            items += item(status::kText, unquoted(rest));
        } else if (key == "separator") {
            items += item(status::kSeparator, {});
        } else if (key == "item") {
            const qsizetype gap = rest.indexOf(' ');
            items += item(static_cast<std::uint8_t>(rest.left(gap < 0 ? rest.size() : gap).toULongLong(nullptr, 0)),
                          gap < 0 ? QByteArray() : QByteArray::fromHex(rest.mid(gap + 1)));
            named = false;
        } else if (key == "raw") {
            items += QByteArray::fromHex(rest);
            named = false;
        } else if (key == "rate") {
            rates << counters().at(rest.simplified().split(' ').value(0)).first;
        } else if (key != "live" && key != "restart") {
            FUZZ_CHECK(false, QStringLiteral("accepted a line read here as none: ") + QString::fromLatin1(line));
        }
    }
    return items;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < EnvRecord::kSize)
        return 0;
    const EnvRecord record(data);
    const QByteArray text(reinterpret_cast<const char*>(data + EnvRecord::kSize),
                          static_cast<qsizetype>(size - EnvRecord::kSize));
    QString error;
    const std::optional<sim::StatusScript> script = sim::parseStatusScript(text, &error);
    if (!script) {
        static const QRegularExpression named(QStringLiteral("\\A(line \\d+: .+|\\d+ bytes of items; .+)\\z"),
                                              QRegularExpression::DotMatchesEverythingOption);
        FUZZ_CHECK(named.match(error).hasMatch(), error);
        return 0;
    }
    const QByteArray items = sim::statusItemsFor(*script, record);
    FUZZ_CHECK(items.size() <= static_cast<qsizetype>(frame::kMaxStatusItems), QString::number(items.size()));
    FUZZ_CHECK(items.size() == sim::statusItemsFor(*script, EnvRecord()).size(), QString::fromLatin1(text));
    std::map<status::Field, quint64> com;
    bool named = true;
    QList<std::uint8_t> rates;
    QByteArray expected = expectedItems(text, record, com, rates, named);
    // A counter that moves at a rate and that no line sets starts at 0, in an item added after the file's.
    QList<std::uint8_t> added;
    for (const std::uint8_t type : rates) {
        const bool set = com.count(status::comField((type - status::kCom1Rx) % 4, type >= status::kCom1Tx)) > 0;
        if (!set && !added.contains(type))
            added << type;
    }
    if (!named && !added.isEmpty()) {
        // "item" and "raw" lines may reshape the walk, hiding a counter a line sets or showing one: the
        // file's items come first, then zeroed counters that move at a rate, at most one per "rate" line.
        FUZZ_CHECK(items.startsWith(expected), QString::fromLatin1(text.left(300)));
        QList<std::uint8_t> moving = rates;
        for (qsizetype at = expected.size(); at < items.size(); at += 6) {
            const auto type = static_cast<std::uint8_t>(items[at]);
            FUZZ_CHECK(moving.contains(type) && items.mid(at, 6) == item(type, le(0, 4)),
                       QString::fromLatin1(items.toHex(' ')));
            moving.removeOne(type);
        }
        expected = items;
    } else {
        for (const std::uint8_t type : added)
            expected += item(type, le(0, 4));
    }
    FUZZ_CHECK(items == expected, QString::fromLatin1(text.left(300)) + QStringLiteral("\nitems    ") +
                                      QString::fromLatin1(items.toHex(' ')) + QStringLiteral("\nexpected ") +
                                      QString::fromLatin1(expected.toHex(' ')));
    // Exactly the items, on the heap: the decoder must not read past them.
    const auto copy = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(items.size()));
    std::copy(items.begin(), items.end(), copy.get());
    status::StatusFields fields;
    status::decode({copy.get(), static_cast<std::size_t>(items.size())}, fields);
    // Raw bytes, or a counter's type with a short value ("item 64 01"), may reshape the walk.
    if (!named)
        return 0;
    for (const auto& [field, value] : com)
        FUZZ_CHECK(fields[field] == QString::number(value),
                   fields[field] + QStringLiteral(" for ") + QString::number(value));
    return 0;
}
