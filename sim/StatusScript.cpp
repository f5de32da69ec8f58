#include "StatusScript.h"

#include "StatusItems.h"
#include "protocol/Codec.h"

#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QRegularExpression>

#include <array>
#include <map>

namespace sim {
namespace {
constexpr qsizetype kMaxItemValue = 253; // L is one byte and counts the two header bytes

struct Counter
{
    std::uint8_t type;
    int bytes; // 4 or 2
};

const std::map<QByteArray, Counter>& counters()
{
    static const std::map<QByteArray, Counter> table = {
        {"uptime", {kStatusUptime, 4}},      {"com1.rx", {kStatusComRx, 4}},     {"com2.rx", {kStatusComRx + 1, 4}},
        {"com3.rx", {kStatusComRx + 2, 4}},  {"com4.rx", {kStatusComRx + 3, 4}}, {"com1.tx", {kStatusComTx, 4}},
        {"com2.tx", {kStatusComTx + 1, 4}},  {"com3.tx", {kStatusComTx + 2, 4}}, {"com4.tx", {kStatusComTx + 3, 4}},
        {"lan.rx", {kStatusLanRx, 4}},       {"lan.tx", {kStatusLanTx, 4}},      {"lan.crc", {kStatusLanCrc, 2}},
        {"lan.align", {kStatusLanAlign, 2}}, {"lan.lost", {kStatusLanLost, 2}},
    };
    return table;
}

const std::map<QByteArray, std::uint8_t> kIdentity = {
    {"mac", kStatusMac}, {"ip", kStatusIp}, {"mask", kStatusMask}, {"gateway", kStatusGateway}};

std::optional<quint64> number(const QByteArray& text, quint64 max)
{
    bool ok = false;
    const quint64 value = text.toULongLong(&ok, 0);
    if (!ok || value > max)
        return std::nullopt;
    return value;
}

QByteArray littleEndian(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

/** A quoted text with C escapes; nothing when it is not one. */
std::optional<QByteArray> quotedText(const QByteArray& text)
{
    if (text.size() < 2 || !text.startsWith('"') || !text.endsWith('"'))
        return std::nullopt;
    QByteArray out;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 2 < text.size()) {
            const char e = text[++i];
            static const std::map<char, char> escapes = {{'r', '\r'},  {'n', '\n'}, {'t', '\t'},
                                                         {'\\', '\\'}, {'"', '"'},  {'0', '\0'}};
            if (e == 'x' && i + 3 < text.size()) {
                bool ok = false;
                c = static_cast<char>(text.mid(i + 1, 2).toUInt(&ok, 16));
                if (!ok)
                    return std::nullopt;
                i += 2;
            } else if (const auto it = escapes.find(e); it != escapes.end()) {
                c = it->second;
            } else {
                return std::nullopt;
            }
        }
        out.append(c);
    }
    return out;
}

std::optional<QByteArray> identityValue(std::uint8_t type, const QByteArray& text)
{
    if (type == kStatusMac) {
        static const QRegularExpression mac(QStringLiteral("\\A[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}\\z"));
        if (!mac.match(QString::fromLatin1(text)).hasMatch())
            return std::nullopt;
        return QByteArray::fromHex(QByteArray(text).replace(':', ""));
    }
    // Four numbers: the shorthand forms an address parser also takes ("10.1") are more often typos.
    static const QRegularExpression quad(QStringLiteral("\\A\\d{1,3}(\\.\\d{1,3}){3}\\z"));
    QHostAddress address;
    if (!quad.match(QString::fromLatin1(text)).hasMatch() || !address.setAddress(QString::fromLatin1(text)) ||
        address.protocol() != QAbstractSocket::IPv4Protocol)
        return std::nullopt;
    std::array<std::uint8_t, 4> bytes{};
    frame::writeBe32(bytes.data(), address.toIPv4Address());
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), 4);
}

std::optional<QByteArray> hexBytes(const QByteArray& text)
{
    static const QRegularExpression hex(QStringLiteral("\\A([0-9A-Fa-f]{2}\\s*)*\\z"));
    if (!hex.match(QString::fromLatin1(text)).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(text);
}

/** "version MAJOR MINOR REV MHZ", the revision a letter A-Z or a number. */
std::optional<ScriptLine> parseVersion(const QByteArray& rest, QString& why)
{
    const QList<QByteArray> parts = rest.simplified().split(' ');
    std::array<std::uint8_t, 4> v{};
    bool ok = parts.size() == 4;
    for (int i = 0; ok && i < 4; ++i) {
        const QByteArray& p = parts[i];
        const bool letter = i == 2 && p.size() == 1 && p[0] >= 'A' && p[0] <= 'Z';
        const std::optional<quint64> n = letter ? std::optional<quint64>(p[0] - 'A') : number(p, 255);
        ok = n.has_value();
        v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n.value_or(0));
    }
    if (!ok) {
        why = QStringLiteral("version needs major, minor, revision (a letter or a number) and MHz");
        return std::nullopt;
    }
    return ScriptLine{ScriptLine::Item, kStatusVersion, QByteArray(reinterpret_cast<const char*>(v.data()), 4)};
}

constexpr qint64 kLongestStepMs = 86400000; // a day
constexpr qint64 kShortestStepMs = 100;

/** Seconds as milliseconds, from 0.1 s to a day; nothing for anything else. */
std::optional<qint64> secondsText(const QByteArray& text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    // Range first: a huge number does not fit an integer, and converting it would be undefined.
    if (!ok || !(seconds > 0) || seconds * 1000.0 > double(kLongestStepMs))
        return std::nullopt;
    const auto ms = static_cast<qint64>(seconds * 1000.0 + 0.5);
    if (ms < kShortestStepMs || ms > kLongestStepMs)
        return std::nullopt;
    return ms;
}

/** "rate COUNTER B/S [B/S...] [every SECONDS]" for the serial counters com1.rx .. com4.tx. */
bool parseRate(const QByteArray& rest, SerialTraffic& traffic, QString& why)
{
    why = QStringLiteral("rate needs a serial counter (com1.rx .. com4.tx), bytes a second (0 to 4294967295) and, "
                         "for several, \"every\" and 0.1 to 86400 seconds");
    const QList<QByteArray> words = rest.simplified().split(' ');
    const auto c = counters().find(words.value(0));
    if (c == counters().end() || c->second.type < kStatusComRx || c->second.type >= kStatusComTx + 4)
        return false;
    CounterRate rate;
    rate.type = c->second.type;
    qsizetype i = 1;
    for (; i < words.size() && words[i] != "every"; ++i) {
        const std::optional<quint64> bytes = number(words[i], 0xFFFFFFFFull);
        if (!bytes)
            return false;
        rate.bytesPerSecond.push_back(static_cast<std::uint32_t>(*bytes));
    }
    if (rate.bytesPerSecond.empty())
        return false;
    if (i < words.size()) { // "every SECONDS", the last two words
        const std::optional<qint64> every = i + 2 == words.size() ? secondsText(words[i + 1]) : std::nullopt;
        if (!every)
            return false;
        rate.everyMs = *every;
    }
    why.clear();
    traffic.rates.push_back(rate);
    return true;
}

/** "restart every SECONDS". */
bool parseRestart(const QByteArray& rest, SerialTraffic& traffic, QString& why)
{
    const QList<QByteArray> words = rest.simplified().split(' ');
    const std::optional<qint64> every = words.size() == 2 && words[0] == "every" ? secondsText(words[1]) : std::nullopt;
    if (!every) {
        why = QStringLiteral("restart needs \"every\" and 0.1 to 86400 seconds");
        return false;
    }
    traffic.restartEveryMs = *every;
    return true;
}

/** One line, without its comment; `why` says what is wrong when nothing comes back. */
std::optional<ScriptLine> parseLine(const QByteArray& key, const QByteArray& rest, StatusScript& script, QString& why)
{
    if (const auto c = counters().find(key); c != counters().end()) {
        const std::optional<quint64> v = number(rest, c->second.bytes == 4 ? 0xFFFFFFFFull : 0xFFFFull);
        if (!v)
            why = QStringLiteral("%1 needs a number from 0 to %2")
                      .arg(QString::fromLatin1(key))
                      .arg(c->second.bytes == 4 ? 4294967295ull : 65535ull);
        return v ? std::optional(ScriptLine{ScriptLine::Item, c->second.type, littleEndian(*v, c->second.bytes)})
                 : std::nullopt;
    }
    if (const auto id = kIdentity.find(key); id != kIdentity.end()) {
        if (rest.isEmpty())
            return ScriptLine{ScriptLine::Identity, id->second, {}};
        const std::optional<QByteArray> value = identityValue(id->second, rest);
        if (!value)
            why =
                QStringLiteral("%1: \"%2\" is not an address").arg(QString::fromLatin1(key), QString::fromLatin1(rest));
        return value ? std::optional(ScriptLine{ScriptLine::Item, id->second, *value}) : std::nullopt;
    }
    if (key == "version")
        return parseVersion(rest, why);
    if (key == "text") {
        const std::optional<QByteArray> text = quotedText(rest);
        if (!text || text->size() > kMaxItemValue)
            why = QStringLiteral("text needs a quoted text of at most 253 bytes");
        return text && text->size() <= kMaxItemValue ? std::optional(ScriptLine{ScriptLine::Item, kStatusText, *text})
                                                     : std::nullopt;
    }
    if (key == "separator" && rest.isEmpty())
        return ScriptLine{ScriptLine::Item, kStatusSeparator, {}};
    if (key == "item") {
        const qsizetype space = rest.indexOf(' ');
        const std::optional<quint64> type = number(rest.left(space < 0 ? rest.size() : space), 255);
        const std::optional<QByteArray> value = hexBytes(space < 0 ? QByteArray() : rest.mid(space + 1));
        if (!type || *type == 0 || !value || value->size() > kMaxItemValue)
            why = QStringLiteral("item needs a type 1 to 255 and at most 253 value bytes in hex");
        else
            return ScriptLine{ScriptLine::Item, static_cast<std::uint8_t>(*type), *value};
        return std::nullopt;
    }
    if (key == "raw") {
        const std::optional<QByteArray> bytes = hexBytes(rest);
        if (!bytes)
            why = QStringLiteral("raw needs bytes in hex");
        return bytes ? std::optional(ScriptLine{ScriptLine::Raw, 0, *bytes}) : std::nullopt;
    }
    if (key == "live" && (rest == "on" || rest == "off")) {
        script.live = rest == "on";
        return ScriptLine{ScriptLine::Raw, 0, {}};
    }
    if (key == "rate" || key == "restart") {
        const bool ok = key == "rate" ? parseRate(rest, script.traffic, why) : parseRestart(rest, script.traffic, why);
        return ok ? std::optional(ScriptLine{ScriptLine::Raw, 0, {}}) : std::nullopt;
    }
    why = QStringLiteral("\"%1\" is not a status item").arg(QString::fromLatin1(key + ' ' + rest).trimmed());
    return std::nullopt;
}
} // namespace

std::optional<StatusScript> parseStatusScript(const QByteArray& text, QString* error)
{
    StatusScript script;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = space < 0 ? line : line.left(space);
        const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
        QString why;
        const std::optional<ScriptLine> parsed = parseLine(key, rest, script, why);
        if (!parsed) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(n + 1).arg(why);
            return std::nullopt;
        }
        script.lines.push_back(*parsed);
    }
    const qsizetype size = statusItemsFor(script, EnvRecord()).size();
    if (size > static_cast<qsizetype>(frame::kMaxStatusItems)) {
        if (error)
            *error = QStringLiteral("%1 bytes of items; a status reply carries at most %2")
                         .arg(size)
                         .arg(frame::kMaxStatusItems);
        return std::nullopt;
    }
    return script;
}

std::optional<StatusScript> loadStatusScript(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const std::optional<StatusScript> script = parseStatusScript(file.readAll(), error);
    if (!script && error)
        error->prepend(path + QStringLiteral(": "));
    return script;
}

QByteArray statusItemsFor(const StatusScript& script, const EnvRecord& record)
{
    QByteArray items;
    for (const ScriptLine& line : script.lines) {
        switch (line.kind) {
        case ScriptLine::Raw:
            items.append(line.bytes);
            break;
        case ScriptLine::Item:
            appendItem(items, line.type, line.bytes);
            break;
        case ScriptLine::Identity:
            if (line.type == kStatusMac) {
                const std::array<std::uint8_t, 6> mac = record.mac();
                appendItem(items, line.type, QByteArrayView(mac.data(), mac.size()));
            } else {
                const std::uint32_t address = line.type == kStatusIp     ? record.ipAddress()
                                              : line.type == kStatusMask ? record.subnetMask()
                                                                         : record.gateway();
                appendAddressItem(items, line.type, address);
            }
            break;
        }
    }
    for (const CounterRate& rate : script.traffic.rates) {
        if (findItemValue(items, rate.type, 4) < 0)
            appendU32Item(items, rate.type, 0);
    }
    return items;
}
} // namespace sim
