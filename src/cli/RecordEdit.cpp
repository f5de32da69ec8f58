#include "RecordEdit.h"

#include "CliArguments.h"
#include "RecordFormat.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <array>
#include <utility>

namespace cli {
namespace {
enum class Kind
{
    Address,        // checked by the form rules; blank is 0.0.0.0
    Number,         // checked by the form rules
    Text,           // the record's texts
    Choice,         // a list entry (names or codes), a flag
    ReadOnly,       // shown by read, never written by the editor
    DevicePassword, // never from the arguments
};

struct EditableField
{
    const char* name;
    Kind kind;
    bool perPort;
};

constexpr EditableField kEditableFields[] = {
    {"mac", Kind::ReadOnly, false},
    {"productId", Kind::ReadOnly, false},
    {"productCode", Kind::ReadOnly, false},
    {"productInfo", Kind::ReadOnly, false},
    {"flags", Kind::ReadOnly, false},
    {"ssl", Kind::ReadOnly, false},
    {"commentSupported", Kind::ReadOnly, false},
    {"remoteSearchSupported", Kind::ReadOnly, false},
    {"passwordSet", Kind::ReadOnly, false},
    {"sourceAddress", Kind::ReadOnly, false},
    {"password", Kind::DevicePassword, false},
    {"multiIp", Kind::Choice, false},
    {"ipv4Type", Kind::Choice, false},
    {"arp", Kind::Choice, false},
    {"telnet", Kind::Choice, false},
    {"eapol", Kind::Choice, false},
    {"remoteSearch", Kind::Choice, false},
    {"ipAddress", Kind::Address, false},
    {"subnetMask", Kind::Address, false},
    {"gateway", Kind::Address, false},
    {"accountId", Kind::Text, false},
    {"accountPassword", Kind::Text, false},
    {"comment", Kind::Text, false},
    {"serialFormat", Kind::ReadOnly, true},
    {"mode", Kind::Choice, true},
    {"localIp", Kind::Address, true},
    {"peerIp", Kind::Address, true},
    {"localPort", Kind::Number, true},
    {"peerPort", Kind::Number, true},
    {"timeout", Kind::Number, true},
    {"waterMark", Kind::Number, true},
    {"baudRate", Kind::Choice, true},
    {"parity", Kind::Choice, true},
    {"dataBits", Kind::Choice, true},
    {"stopBits", Kind::Choice, true},
    {"flowControl", Kind::Choice, true},
};

/** A change matched to its field: the field's description, the port (-1 for record fields) and the full name. */
struct Resolved
{
    const EditableField* field;
    int port;
    QString name;
    QString value;
};

using Entries = std::initializer_list<std::pair<const char*, int>>;

/** The code of `value` among named entries (case-insensitive); nothing when it is none of them. */
std::optional<int> lookup(const QString& value, Entries entries)
{
    for (const auto& [name, code] : entries) {
        if (value.trimmed().compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return code;
    }
    return std::nullopt;
}

QString entryNames(Entries entries)
{
    QStringList names;
    QSet<int> codes;
    for (const auto& [name, code] : entries) {
        if (!codes.contains(code))
            names << QString::fromLatin1(name);
        codes.insert(code);
    }
    return names.join(QStringLiteral(", "));
}

const Entries kFlag = {{"yes", 1}, {"no", 0}, {"true", 1}, {"false", 0}, {"on", 1}, {"off", 0}, {"1", 1}, {"0", 0}};
const Entries kMultiIp = {{"Use", 1}, {"Disable", 0}, {"yes", 1}, {"no", 0}, {"1", 1}, {"0", 0}};
const Entries kIpv4Types = {{"static", 0}, {"DHCP", 1}, {"PPPoE", 2}, {"0", 0}, {"1", 1}, {"2", 2}};
const Entries kEapol = {{"Disable", 0}, {"MD5", 1}, {"0", 0}, {"1", 1}};
const Entries kModes = {{"T2S", 0}, {"ATC", 1}, {"COD", 2}, {"U2S", 3}, {"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}};
const Entries kRates = {{"600", 600},     {"1200", 1200},     {"2400", 2400},    {"4800", 4800},
                        {"9600", 9600},   {"14400", 14400},   {"19200", 19200},  {"38400", 38400},
                        {"57600", 57600}, {"115200", 115200}, {"230400", 230400}};
const Entries kParities = {{"None", 0}, {"Odd", 1}, {"Even", 3}};
const Entries kFlowControls = {{"None", 0}, {"RTS/CTS", 1}, {"Xon/Xoff", 3}};
const Entries kDataBits = {{"5", 0}, {"6", 1}, {"7", 2}, {"8", 3}};
const Entries kStopBits = {{"1", 0}, {"2", 1}};

Entries choicesOf(const QString& field)
{
    static const std::pair<const char*, Entries> table[] = {
        {"multiIp", kMultiIp},
        {"ipv4Type", kIpv4Types},
        {"eapol", kEapol},
        {"mode", kModes},
        {"baudRate", kRates},
        {"parity", kParities},
        {"flowControl", kFlowControls},
        {"dataBits", kDataBits},
        {"stopBits", kStopBits},
    };
    for (const auto& [name, entries] : table) {
        if (field == QLatin1String(name))
            return entries;
    }
    return kFlag; // arp, telnet, remoteSearch
}

void setChoice(EnvRecord& r, const Resolved& c, int code)
{
    const QLatin1String f(c.field->name);
    if (c.port < 0) {
        if (f == QLatin1String("multiIp"))
            r.setMultiIp(code);
        else if (f == QLatin1String("ipv4Type"))
            r.setIpv4Type(code);
        else if (f == QLatin1String("eapol"))
            r.setEapol(code);
        else if (f == QLatin1String("arp"))
            r.setArp(code);
        else if (f == QLatin1String("telnet"))
            r.setTelnet(code);
        else if (f == QLatin1String("remoteSearch"))
            r.setRemoteSearch(code);
        return;
    }
    EnvPortBlock p = r.port(c.port);
    if (f == QLatin1String("mode"))
        p.setMode(static_cast<std::uint8_t>(code));
    else if (f == QLatin1String("baudRate"))
        p.setBaudRate(static_cast<std::uint32_t>(code));
    else if (f == QLatin1String("parity"))
        p.setParity(code);
    else if (f == QLatin1String("flowControl"))
        p.setFlowControl(code);
    else if (f == QLatin1String("dataBits"))
        p.setDataBits(code);
    else if (f == QLatin1String("stopBits"))
        p.setStopBits(code);
    r.setPort(c.port, p);
}

std::optional<Resolved> resolve(const Change& change, QString* error)
{
    static const QRegularExpression portName(QStringLiteral("\\Acom([1-4])\\.(\\w+)\\z"),
                                             QRegularExpression::CaseInsensitiveOption);
    int port = -1;
    QString field = change.field;
    if (const QRegularExpressionMatch m = portName.match(change.field); m.hasMatch()) {
        port = m.captured(1).toInt() - 1;
        field = m.captured(2);
    }
    for (const EditableField& candidate : kEditableFields) {
        if (field == QLatin1String(candidate.name) && candidate.perPort == (port >= 0)) {
            const QString name = port >= 0 ? QStringLiteral("com%1.%2").arg(port + 1).arg(field) : field;
            return Resolved{&candidate, port, name, change.value};
        }
    }
    *error = QStringLiteral("%1: no such field (the fields are those read --json shows; a port's fields as "
                            "com1.baudRate to com4.baudRate)")
                 .arg(change.field);
    return std::nullopt;
}

/** Why the settings editor would not take `c` for the settings `r` will have; nothing when it would. */
std::optional<QString> notTaken(const EnvRecord& r, const Resolved& c)
{
    const QLatin1String f(c.field->name);
    if (c.port < 0 && c.field->kind == Kind::Address && r.ipv4Type() != EnvRecord::kStatic)
        return QStringLiteral("%1: the network addresses are written only with the static IPv4 type "
                              "(ipv4Type=static)")
            .arg(c.name);
    if (f == QLatin1String("comment") && !r.commentSupported())
        return QStringLiteral("comment: this device keeps no comment (commentSupported is no)");
    if (f == QLatin1String("remoteSearch") && !r.remoteSearchSupported())
        return QStringLiteral("remoteSearch: this device has no remote search (remoteSearchSupported is no)");
    if ((f == QLatin1String("accountId") || f == QLatin1String("accountPassword")) &&
        r.ipv4Type() != EnvRecord::kPppoe && r.eapol() != 1)
        return QStringLiteral("%1: the account is used only with PPPoE (ipv4Type=PPPoE) or EAPoL MD5 (eapol=MD5)")
            .arg(c.name);
    if (f == QLatin1String("eapol") && r.multiIp())
        return QStringLiteral("eapol: EAPoL cannot be changed while Multi IP is on (multiIp=yes)");
    return std::nullopt;
}

/** Puts a typed address, number or text into the form values the editor would read. */
void typeInto(form::FormValues& v, const Resolved& c)
{
    const QLatin1String f(c.field->name);
    const auto port = static_cast<std::size_t>(std::max(c.port, 0));
    if (f == QLatin1String("comment"))
        v.comment = c.value;
    else if (f == QLatin1String("ipAddress"))
        v.ipAddress = c.value;
    else if (f == QLatin1String("subnetMask"))
        v.subnetMask = c.value;
    else if (f == QLatin1String("gateway"))
        v.gateway = c.value;
    else if (f == QLatin1String("localIp"))
        v.localIp[port] = c.value;
    else if (f == QLatin1String("peerIp"))
        v.peerIp[port] = c.value;
    else if (f == QLatin1String("localPort"))
        v.localPort[port] = c.value;
    else if (f == QLatin1String("peerPort"))
        v.peerPort[port] = c.value;
    else if (f == QLatin1String("timeout"))
        v.timeout[port] = c.value;
    else if (f == QLatin1String("waterMark"))
        v.eventByte[port] = c.value;
}

std::uint32_t addressValue(const QString& text)
{
    std::uint32_t address = 0;
    if (text.trimmed().isEmpty())
        return 0;
    for (const QString& octet : text.trimmed().split(QLatin1Char('.')))
        address = (address << 8) | octet.toUInt();
    return address;
}

/** Stores an already checked address, number or text. */
void store(EnvRecord& r, const Resolved& c)
{
    const QLatin1String f(c.field->name);
    if (c.field->kind == Kind::Text) {
        const QByteArray bytes = c.value.toLatin1();
        const std::string text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        if (f == QLatin1String("comment"))
            r.setComment(text);
        else if (f == QLatin1String("accountId"))
            r.setAccountId(text);
        else
            r.setAccountPassword(text);
        return;
    }
    if (c.port < 0) {
        const std::uint32_t a = addressValue(c.value);
        f == QLatin1String("ipAddress")    ? r.setIpAddress(a)
        : f == QLatin1String("subnetMask") ? r.setSubnetMask(a)
                                           : r.setGateway(a);
        return;
    }
    EnvPortBlock p = r.port(c.port);
    const auto number = static_cast<std::uint16_t>(form::readInteger(c.value).value_or(0));
    if (f == QLatin1String("localIp"))
        p.setLocalIp(addressValue(c.value));
    else if (f == QLatin1String("peerIp"))
        p.setPeerIp(addressValue(c.value));
    else if (f == QLatin1String("localPort"))
        p.setLocalPort(number);
    else if (f == QLatin1String("peerPort"))
        p.setPeerPort(number);
    else if (f == QLatin1String("timeout"))
        p.setTimeout(number);
    else if (f == QLatin1String("waterMark"))
        p.setWaterMark(number);
    r.setPort(c.port, p);
}

/** The checks of the account texts (the form checks the comment's length) and of their characters. */
std::optional<QString> checkText(const Resolved& c)
{
    for (const QChar ch : c.value) {
        if (ch.unicode() > 0xFF || ch.unicode() == 0)
            return QStringLiteral("%1: \"%2\" holds a character a device cannot store (Latin-1 only)")
                .arg(c.name, c.value);
    }
    const QLatin1String f(c.field->name);
    const qsizetype max = f == QLatin1String("accountId")         ? qsizetype{EnvRecord::kAccountIdSize}
                          : f == QLatin1String("accountPassword") ? qsizetype{EnvRecord::kAccountPasswordMax}
                                                                  : qsizetype{EnvRecord::kCommentSize};
    if (c.value.size() > max)
        return QStringLiteral("%1: at most %2 characters").arg(c.name).arg(max);
    return std::nullopt;
}

std::optional<QString> refusal(const Resolved& c)
{
    if (c.field->kind == Kind::DevicePassword)
        return QStringLiteral("password: the device password never comes from the arguments (set %1, use "
                              "--password-stdin or type it at the prompt)")
            .arg(QLatin1String("CORMAPMP_PASSWORD"));
    if (c.field->kind == Kind::ReadOnly)
        return QStringLiteral("%1: read-only, the settings editor does not write it").arg(c.name);
    return std::nullopt;
}
} // namespace

std::optional<Change> parseChange(const QString& argument, QString* error)
{
    const qsizetype eq = argument.indexOf(QLatin1Char('='));
    if (eq <= 0) {
        *error = QStringLiteral("\"%1\" is not a change: write field=value, like ipAddress=10.1.0.7").arg(argument);
        return std::nullopt;
    }
    QString field = argument.left(eq).trimmed();
    static const QRegularExpression portsIndex(QStringLiteral("\\Aports\\[([0-3])\\]\\.(\\w+)\\z"));
    if (const QRegularExpressionMatch m = portsIndex.match(field); m.hasMatch())
        field = QStringLiteral("com%1.%2").arg(m.captured(1).toInt() + 1).arg(m.captured(2));
    else if (field.startsWith(QStringLiteral("COM")))
        field = QStringLiteral("com") + field.mid(3);
    return Change{field, argument.mid(eq + 1)};
}

form::FormValues formValues(const EnvRecord& r, const QString& password)
{
    form::FormValues v;
    v.password = password;
    v.comment = QString::fromLatin1(r.comment());
    for (int i = 0; i < EnvRecord::kPortCount; ++i) {
        const EnvPortBlock p = r.port(i);
        const auto at = static_cast<std::size_t>(i);
        v.peerPort[at] = QString::number(p.peerPort());
        v.timeout[at] = QString::number(p.timeout());
        v.eventByte[at] = QString::number(p.waterMark());
        v.localPort[at] = QString::number(p.localPort());
        v.localIp[at] = dottedAddress(p.localIp());
        v.peerIp[at] = dottedAddress(p.peerIp());
    }
    v.ipAddress = dottedAddress(r.ipAddress());
    v.subnetMask = dottedAddress(r.subnetMask());
    v.gateway = dottedAddress(r.gateway());
    v.checkNetworkAddresses = r.ipv4Type() == EnvRecord::kStatic;
    v.multiIp = r.multiIp() ? 1 : 0;
    v.ipv4Type = r.ipv4Type();
    v.eapol = r.eapol();
    return v;
}

namespace {
/** Matches each change to its field and checks what needs no record: names, read-only fields, fields
 *  named twice, list values and the characters of texts. Choices are applied to `working` when given. */
std::optional<QString> resolveAll(const QList<Change>& changes, QList<Resolved>& resolved, EnvRecord* working)
{
    QSet<QString> seen;
    for (const Change& change : changes) {
        QString error;
        const std::optional<Resolved> c = resolve(change, &error);
        if (!c)
            return error;
        if (const std::optional<QString> refused = refusal(*c))
            return refused;
        if (seen.contains(c->name))
            return QStringLiteral("%1: named twice").arg(c->name);
        seen.insert(c->name);
        if (c->field->kind == Kind::Choice) {
            const Entries entries = choicesOf(QLatin1String(c->field->name));
            const std::optional<int> code = lookup(c->value, entries);
            if (!code)
                return QStringLiteral("%1: \"%2\" is not one of %3").arg(c->name, c->value, entryNames(entries));
            if (working)
                setChoice(*working, *c, *code);
        } else if (c->field->kind == Kind::Text) {
            if (const std::optional<QString> bad = checkText(*c))
                return bad;
        }
        resolved << *c;
    }
    return std::nullopt;
}
} // namespace

std::optional<QString> checkChanges(const QList<Change>& changes)
{
    QList<Resolved> resolved;
    return resolveAll(changes, resolved, nullptr);
}

std::optional<QString> applyChanges(EnvRecord& record, const QList<Change>& changes)
{
    EnvRecord working = record;
    QList<Resolved> resolved;
    if (const std::optional<QString> error = resolveAll(changes, resolved, &working))
        return error;
    form::FormValues values = formValues(working, QString());
    for (const Resolved& c : resolved) {
        if (const std::optional<QString> why = notTaken(working, c))
            return why;
        typeInto(values, c);
    }
    if (const std::optional<form::Problem> problem = form::validate(values))
        return problem->describe();
    for (const Resolved& c : resolved) {
        if (c.field->kind != Kind::Choice)
            store(working, c);
    }
    record = working;
    return std::nullopt;
}

QString valueText(const QString& field, const QJsonValue& value)
{
    if (value.isBool())
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    if (value.isDouble()) {
        const auto n = static_cast<qint64>(value.toDouble());
        if (field == QLatin1String("flags"))
            return QStringLiteral("0x%1").arg(n, 8, 16, QLatin1Char('0'));
        if (field.endsWith(QLatin1String(".serialFormat")))
            return QStringLiteral("0x%1").arg(n, 2, 16, QLatin1Char('0'));
        return QString::number(n);
    }
    const QString text = value.toString();
    if (field == QLatin1String("comment") || field == QLatin1String("accountId") ||
        field == QLatin1String("accountPassword"))
        return QLatin1Char('"') + text + QLatin1Char('"');
    return text;
}
} // namespace cli
