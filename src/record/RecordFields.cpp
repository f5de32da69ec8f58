#include "RecordFields.h"

#include "protocol/Ipv4.h"

#include <algorithm>
#include <array>

namespace record_fields {
namespace {
const std::array<const char*, 3> kIpv4Types = {"static", "DHCP", "PPPoE"};
const std::array<const char*, 2> kEapolModes = {"Disable", "MD5"};
const std::array<const char*, 4> kParities = {"None", "Odd", "Even", "Even"};                 // code 2 reads as Even
const std::array<const char*, 4> kFlowControls = {"None", "RTS/CTS", "Xon/Xoff", "Xon/Xoff"}; // 2 like 3
const std::array<const char*, 4> kModes = {"T2S", "ATC", "COD", "U2S"};
const std::array<const char*, 4> kModeMeanings = {"TCP server", "AT command", "TCP client", "UDP"};

template <std::size_t N> QJsonValue nameOrCode(const std::array<const char*, N>& names, unsigned code)
{
    if (code < N)
        return QString::fromLatin1(names[code]);
    return static_cast<int>(code); // a code the program does not name is shown as it is
}

/** C0 controls, DEL and the C1 controls (device bytes 0x80..0x9F): none of them may reach a terminal. */
bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString hex(unsigned value, int digits)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

QString yesNo(bool on)
{
    return on ? QStringLiteral("yes") : QStringLiteral("no");
}

Field bitField(const char* name, bool on)
{
    return {QString::fromLatin1(name), on, yesNo(on), 1};
}

Field addressField(const char* name, std::uint32_t address, int indent = 0)
{
    const QString dotted = ipv4::dotted(address);
    return {QString::fromLatin1(name), dotted, dotted, indent};
}

Field textField(const char* name, const std::string& bytes)
{
    const QString text = deviceText(bytes);
    return {QString::fromLatin1(name), text, quoted(text)};
}

Field numberField(const char* name, double value, const QString& text, int indent = 0)
{
    return {QString::fromLatin1(name), value, text, indent};
}

Field codeField(const char* name, const QJsonValue& value, int indent)
{
    return {QString::fromLatin1(name), value,
            value.isString() ? value.toString() : QStringLiteral("code %1").arg(value.toInt()), indent};
}

Fields flagFields(const EnvRecord& r)
{
    return {
        numberField("flags", r.flags(), hex(r.flags(), 8)),
        bitField("multiIp", r.multiIp()),
        codeField("ipv4Type", nameOrCode(kIpv4Types, static_cast<unsigned>(r.ipv4Type())), 1),
        bitField("arp", r.arp()),
        bitField("telnet", r.telnet()),
        codeField("eapol", nameOrCode(kEapolModes, static_cast<unsigned>(r.eapol())), 1),
        bitField("ssl", r.ssl()),
        bitField("commentSupported", r.commentSupported()),
        bitField("remoteSearchSupported", r.remoteSearchSupported()),
        bitField("remoteSearch", r.remoteSearch()),
    };
}

} // namespace

QString deviceText(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (isControl(c))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

Fields recordFields(const EnvRecord& r)
{
    const QString mac = deviceText(r.macText());
    Fields fields = {
        {QStringLiteral("mac"), mac, mac},
        numberField("productId", r.productId(), hex(r.productId(), 2)),
        numberField("productCode", r.productCode(), QString::number(r.productCode())),
        numberField("productInfo", r.productInfo(),
                    QStringLiteral("%1 (%2, %3)")
                        .arg(hex(r.productInfo(), 2))
                        .arg(r.productInfo() >> 4)
                        .arg(r.productInfo() & 0x0F)),
    };
    fields << flagFields(r);
    fields << addressField("ipAddress", r.ipAddress()) << addressField("subnetMask", r.subnetMask())
           << addressField("gateway", r.gateway());
    fields << textField("accountId", r.accountId()) << textField("accountPassword", r.accountPassword());
    fields << Field{QStringLiteral("passwordSet"), r.hasPassword(), yesNo(r.hasPassword())};
    // A device without the comment capability keeps no comment: its bytes are shown as uninterpreted.
    if (r.commentSupported())
        fields << textField("comment", r.comment());
    fields << addressField("sourceAddress", r.sourceAddress());
    return fields;
}

namespace {
QString serialFormatText(const EnvPortBlock& p)
{
    const int dataBits = p.dataBits() + 5;
    const int stopBits = p.stopBits() + 1;
    return QStringLiteral("%1: %2 data bits, %3 stop bit%4, parity %5, flow control %6")
        .arg(hex(p.serialFormat(), 2))
        .arg(dataBits)
        .arg(stopBits)
        .arg(stopBits == 1 ? QString() : QStringLiteral("s"))
        .arg(QString::fromLatin1(kParities[static_cast<std::size_t>(p.parity())]),
             QString::fromLatin1(kFlowControls[static_cast<std::size_t>(p.flowControl())]));
}

QString modeText(unsigned mode)
{
    if (mode < kModes.size())
        return QStringLiteral("%1 (%2)").arg(QString::fromLatin1(kModes[mode]),
                                             QString::fromLatin1(kModeMeanings[mode]));
    return QStringLiteral("code %1").arg(mode);
}

} // namespace

Fields portFields(const EnvPortBlock& p)
{
    const auto number = [](const char* name, unsigned value) {
        return numberField(name, value, QString::number(value), 1);
    };
    return {
        numberField("serialFormat", p.serialFormat(), serialFormatText(p), 1),
        number("dataBits", static_cast<unsigned>(p.dataBits() + 5)),
        number("stopBits", static_cast<unsigned>(p.stopBits() + 1)),
        codeField("parity", QString::fromLatin1(kParities[static_cast<std::size_t>(p.parity())]), 1),
        codeField("flowControl", QString::fromLatin1(kFlowControls[static_cast<std::size_t>(p.flowControl())]), 1),
        {QStringLiteral("mode"), nameOrCode(kModes, p.mode()), modeText(p.mode()), 1},
        addressField("localIp", p.localIp(), 1),
        addressField("peerIp", p.peerIp(), 1),
        number("localPort", p.localPort()),
        number("peerPort", p.peerPort()),
        number("baudRate", p.baudRate()),
        number("timeout", p.timeout()),
        number("waterMark", p.waterMark()),
    };
}

QJsonObject toJson(const Fields& fields)
{
    QJsonObject object;
    for (const Field& f : fields)
        object.insert(f.name, f.json);
    return object;
}

namespace {
/** The byte span of the password field and of the source address: what the device changes itself. */
bool isDevicesOwnByte(std::size_t offset)
{
    return (offset >= EnvRecord::kOffPassword && offset < EnvRecord::kOffPassword + EnvRecord::kPasswordFieldSize) ||
           (offset >= EnvRecord::kOffSourceAddress && offset < EnvRecord::kOffSourceAddress + 4);
}

bool sameSettings(const EnvRecord& a, const EnvRecord& b)
{
    for (std::size_t i = 0; i < EnvRecord::kSize; ++i) {
        if (!isDevicesOwnByte(i) && a.data()[i] != b.data()[i])
            return false;
    }
    return true;
}

/** "com2." of "com2.timeout", empty for the record's own fields. */
QString groupOf(const QString& field)
{
    const qsizetype dot = field.indexOf(u'.');
    return dot < 0 ? QString() : field.left(dot + 1);
}

bool isTotal(const QString& field)
{
    return field == QLatin1String("flags") || field.endsWith(QLatin1String(".serialFormat"));
}
} // namespace

QList<Difference> differences(const EnvRecord& before, const EnvRecord& after)
{
    QList<Difference> list;
    const auto compare = [&list](const Fields& x, const Fields& y, const QString& prefix) {
        for (qsizetype i = 0; i < x.size(); ++i) {
            const auto other = std::find_if(y.begin(), y.end(), [&](const Field& f) { return f.name == x[i].name; });
            const QJsonValue then = other == y.end() ? QJsonValue() : other->json;
            if (x[i].json != then)
                list << Difference{prefix + x[i].name, x[i].json, then};
        }
    };
    compare(recordFields(before), recordFields(after), QString());
    for (int p = 0; p < EnvRecord::kPortCount; ++p)
        compare(portFields(before.port(p)), portFields(after.port(p)), QStringLiteral("com%1.").arg(p + 1));
    return list;
}

QStringList changedSettings(const EnvRecord& before, const EnvRecord& after)
{
    if (sameSettings(before, after))
        return {};
    QStringList named;
    for (const Difference& d : differences(before, after)) {
        if (d.field != QLatin1String("passwordSet") && d.field != QLatin1String("sourceAddress"))
            named << d.field;
    }
    QStringList changed;
    for (const QString& field : named) {
        const bool explained = isTotal(field) && std::any_of(named.begin(), named.end(), [&](const QString& other) {
                                   return other != field && !isTotal(other) && groupOf(other) == groupOf(field);
                               });
        if (!explained)
            changed << field;
    }
    if (changed.isEmpty())
        changed << QStringLiteral("uninterpreted");
    return changed;
}
} // namespace record_fields
