#include "RecordFormat.h"

#include "CliArguments.h"

#include <QJsonArray>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <array>

namespace cli {
// Ranges the record layout marks as not interpreted, including bytes 2-3 of each port block.
const std::array<ByteSpan, 10> kUninterpretedSpans = {{
    {6, 11},
    {14, 15},
    {120, 151},
    {156, 315},
    {318, 319},
    {342, 343},
    {366, 367},
    {390, 391},
    {412, 507},
    {508, 511},
}};

namespace {
// The comment field, uninterpreted on a device that does not keep a comment.
constexpr ByteSpan kCommentSpan = {EnvRecord::kOffComment, EnvRecord::kOffComment + EnvRecord::kCommentSize - 1};
constexpr int kLabelWidth = 24;
constexpr int kHexBytesPerLine = 32;

/** One field: its accessor name, its JSON value and its readable text; indent applies to text only. */
struct Field
{
    QString name;
    QJsonValue json;
    QString text;
    int indent = 0;
};
using Fields = QList<Field>;

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

QString deviceText(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

/** A device text in quotes, its control characters escaped, so empty and padded texts show. */
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
    const QString dotted = dottedAddress(address);
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

void appendText(QString& out, const Fields& fields, int extraIndent)
{
    for (const Field& f : fields) {
        const QString label = QString(2 * (f.indent + extraIndent), QLatin1Char(' ')) + f.name;
        out += label.leftJustified(kLabelWidth - 1) + QLatin1Char(' ') + f.text + QLatin1Char('\n');
    }
}

QString spanKey(const ByteSpan& span)
{
    return QStringLiteral("%1-%2").arg(span.first).arg(span.last);
}

QByteArray spanBytes(const EnvRecord& r, const ByteSpan& span)
{
    return QByteArray(reinterpret_cast<const char*>(r.data() + span.first),
                      static_cast<qsizetype>(span.last - span.first + 1));
}

QString portName(int index)
{
    return QStringLiteral("COM%1").arg(index + 1);
}
} // namespace

QJsonObject recordJson(const EnvRecord& record)
{
    QJsonObject object = toJson(recordFields(record));
    QJsonArray ports;
    for (int i = 0; i < EnvRecord::kPortCount; ++i)
        ports.append(toJson(portFields(record.port(i))));
    object.insert(QStringLiteral("ports"), ports);
    QJsonObject uninterpreted;
    for (const ByteSpan& span : uninterpretedSpans(record))
        uninterpreted.insert(spanKey(span), QString::fromLatin1(spanBytes(record, span).toHex()));
    object.insert(QStringLiteral("uninterpreted"), uninterpreted);
    return object;
}

QString recordText(const EnvRecord& record)
{
    QString out;
    appendText(out, recordFields(record), 0);
    for (int i = 0; i < EnvRecord::kPortCount; ++i) {
        out += QStringLiteral("ports[%1] (%2)\n").arg(i).arg(portName(i));
        appendText(out, portFields(record.port(i)), 0);
    }
    out += QStringLiteral("uninterpreted\n");
    for (const ByteSpan& span : uninterpretedSpans(record)) {
        const QByteArray bytes = spanBytes(record, span);
        for (qsizetype at = 0; at < bytes.size(); at += kHexBytesPerLine) {
            const QString label = at == 0 ? QStringLiteral("  ") + spanKey(span) : QString();
            out += label.leftJustified(kLabelWidth - 1) + QLatin1Char(' ') +
                   QString::fromLatin1(bytes.mid(at, kHexBytesPerLine).toHex()) + QLatin1Char('\n');
        }
    }
    return out;
}

QJsonObject summaryJson(const EnvRecord& record)
{
    QJsonObject device = {
        {QStringLiteral("mac"), deviceText(record.macText())},
        {QStringLiteral("ipAddress"), dottedAddress(record.ipAddress())},
        {QStringLiteral("productId"), record.productId()},
        {QStringLiteral("productCode"), record.productCode()},
        {QStringLiteral("sourceAddress"), dottedAddress(record.sourceAddress())},
    };
    if (record.commentSupported())
        device.insert(QStringLiteral("comment"), deviceText(record.comment()));
    return device;
}

QString summaryLine(const QString& first, const EnvRecord& record)
{
    const QString line = QStringLiteral("%1  %2  product %3")
                             .arg(first.leftJustified(17), dottedAddress(record.ipAddress()).leftJustified(15),
                                  QString::number(record.productCode()).leftJustified(2));
    if (!record.commentSupported())
        return line.trimmed();
    return line + QStringLiteral("  ") + quoted(deviceText(record.comment()));
}

QList<ByteSpan> uninterpretedSpans(const EnvRecord& record)
{
    QList<ByteSpan> spans(kUninterpretedSpans.begin(), kUninterpretedSpans.end());
    if (!record.commentSupported()) {
        const auto after =
            std::find_if(spans.begin(), spans.end(), [](const ByteSpan& s) { return s.first > kCommentSpan.first; });
        spans.insert(after, kCommentSpan);
    }
    return spans;
}

QString jsonText(const QJsonDocument& document)
{
    // Control characters can only stand inside JSON strings, where \u escapes mean the same characters;
    // the JSON writer escapes the C0 controls but passes DEL and the C1 controls through.
    const QString text = QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x7F && c.unicode() <= 0x9F)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}
} // namespace cli
