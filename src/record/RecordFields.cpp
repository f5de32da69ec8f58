// The catalogue's table of fields, its list entries and the rules for when a field is in use.
#include "RecordFields.h"

#include <QRegularExpression>

#include <algorithm>
#include <bit>

namespace record_fields {
namespace {
// String numbers of the editor's captions and list entries.
constexpr int kStrLocalIpAddress = 117;
constexpr int kStrSubnetMask = 1003;
constexpr int kStrGateway = 1004;
constexpr int kStrMultiIp = 1005;
constexpr int kStrEapol = 1006;
constexpr int kStrPassword = 1007;
constexpr int kStrArp = 1008;
constexpr int kStrRemoteSearch = 1009;
constexpr int kStrTelnet = 1010;
constexpr int kStrSsl = 1011;
constexpr int kStrMode = 1014;
constexpr int kStrLocalPort = 1015;
constexpr int kStrPeerAddress = 1016;
constexpr int kStrPeerPort = 1017;
constexpr int kStrTimeout = 1018;
constexpr int kStrBaudrate = 1019;
constexpr int kStrParity = 1020;
constexpr int kStrDataBit = 1021;
constexpr int kStrStopBit = 1022;
constexpr int kStrFlowControl = 1023;
constexpr int kStrEventByte = 1024;
constexpr int kStrComment = 1025;
constexpr int kStrAccountId = 1046;

constexpr std::uint32_t kRateFallback = 19200;

constexpr Entry kIpv4Types[] = {
    {EnvRecord::kStatic, {"static", "0"}, 1030},
    {EnvRecord::kDhcp, {"DHCP", "1"}, 1031},
    {EnvRecord::kPppoe, {"PPPoE", "2"}, 1032},
};
constexpr Entry kMultiIp[] = {{0, {"Disable", nullptr}, 1033}, {1, {"Use", nullptr}, 1034}};
constexpr Entry kEapol[] = {{0, {"Disable", "0"}, 1033}, {1, {"MD5", "1"}, 1035}};
// The two states of every flag, as the command line takes them.
constexpr Entry kFlagStates[] = {{0, {"no", "0"}}, {1, {"yes", "1"}}, {0, {"false", "off"}}, {1, {"true", "on"}}};
constexpr Entry kModes[] = {
    {EnvPortBlock::kTcpServer, {"T2S", "0"}, 1036},
    {EnvPortBlock::kAtCommand, {"ATC", "1"}, 1037},
    {EnvPortBlock::kTcpClient, {"COD", "2"}, 1038},
    {EnvPortBlock::kUdp, {"U2S", "3"}, 1039},
};
// The serial rates, in list order; 230400 is offered too, so a record at that rate survives a write.
constexpr Entry kRates[] = {
    {600, {"600", nullptr}},       {1200, {"1200", nullptr}},     {2400, {"2400", nullptr}},
    {4800, {"4800", nullptr}},     {9600, {"9600", nullptr}},     {14400, {"14400", nullptr}},
    {19200, {"19200", nullptr}},   {38400, {"38400", nullptr}},   {57600, {"57600", nullptr}},
    {115200, {"115200", nullptr}}, {230400, {"230400", nullptr}},
};
// Position 2 is stored as code 3; code 2 reads as position 2 too.
constexpr Entry kParities[] = {
    {0, {"None", nullptr}, 1040}, {1, {"Odd", nullptr}, 1041}, {3, {"Even", nullptr}, 1042, 2}};
// Code 3 has a name of its own here ("Xon/Xoff"), so it shows and survives a write.
constexpr Entry kFlowControls[] = {
    {0, {"None", nullptr}, 1040}, {1, {"RTS/CTS", nullptr}, 1043}, {3, {"Xon/Xoff", nullptr}, 1044, 2}};
constexpr Entry kDataBits[] = {{0, {"5", nullptr}}, {1, {"6", nullptr}}, {2, {"7", nullptr}}, {3, {"8", nullptr}}};
constexpr Entry kStopBits[] = {{0, {"1", nullptr}}, {1, {"2", nullptr}}};

// Which modes use a port field: bit n for mode code n (T2S 0, ATC 1, COD 2, U2S 3).
constexpr std::uint8_t kT2S = 1u << EnvPortBlock::kTcpServer;
constexpr std::uint8_t kATC = 1u << EnvPortBlock::kAtCommand;
constexpr std::uint8_t kCOD = 1u << EnvPortBlock::kTcpClient;
constexpr std::uint8_t kU2S = 1u << EnvPortBlock::kUdp;
constexpr std::uint8_t kEveryMode = kT2S | kATC | kCOD | kU2S;

constexpr int kPortMin = 1;
constexpr int kNewPasswordMin = 4; // a password set by a password change has 4 to 8 characters
constexpr int kPortMax = 65534;

/** The row of a field a settings import carries from the file. */
constexpr Field imported(Field f)
{
    f.imported = true;
    return f;
}

/** The row of a word whose unnamed `bits` a settings import carries from the file. */
constexpr Field importedBits(Field f, std::uint32_t bits)
{
    f.importedBits = bits;
    return f;
}

/** The row of a field in use only on a device with `capability`; `absentWithout`: a device without it
 *  keeps no such field. */
constexpr Field needs(Id capability, bool absentWithout, Field f)
{
    f.use = Use::Capability;
    f.capability = capability;
    f.absentWithoutCapability = absentWithout;
    return f;
}

// Bits of the option word no named part holds that an import carries: 4-5, 8 and 12 (not bit 0 and not
// 16-31); bit 7 of a port's serial format.
constexpr std::uint32_t kFlagsImportedBits = 0x30 | 0x100 | 0x1000;
constexpr std::uint32_t kSerialFormatImportedBits = 0x80;

// One row per field: id, name, kind, per port, when in use, caption; then where a part of a word lives,
// its list entries, its range or width, and the modes that use a port field. A row in imported() is
// carried by a settings import; one in needs() is in use only with the device capability it names.
// clang-format off
const Field kFields[] = {
    {Id::Mac, "mac", Kind::Mac, false, Use::Never},
    {Id::ProductId, "productId", Kind::Word, false, Use::Never},
    {Id::ProductCode, "productCode", Kind::Number, false, Use::Never, 0, Id::ProductId, 0xF8},
    {Id::ProductInfo, "productInfo", Kind::Word, false, Use::Never},
    importedBits({Id::Flags, "flags", Kind::Word, false, Use::Never}, kFlagsImportedBits),
    imported({Id::MultiIp, "multiIp", Kind::Flag, false, Use::Always, kStrMultiIp,
     Id::Flags, EnvRecord::kFlagMultiIp, kMultiIp}),
    imported({Id::Ipv4Type, "ipv4Type", Kind::List, false, Use::Always, 0,
     Id::Flags, EnvRecord::kMaskIpv4Type, kIpv4Types}),
    imported({Id::Arp, "arp", Kind::Flag, false, Use::Always, kStrArp, Id::Flags, EnvRecord::kFlagArp}),
    imported({Id::Telnet, "telnet", Kind::Flag, false, Use::Always, kStrTelnet,
     Id::Flags, EnvRecord::kFlagTelnet}),
    imported({Id::Eapol, "eapol", Kind::List, false, Use::NoMultiIp, kStrEapol,
     Id::Flags, EnvRecord::kMaskEapol, kEapol}),
    imported({Id::Ssl, "ssl", Kind::Flag, false, Use::Never, kStrSsl, Id::Flags, EnvRecord::kFlagSsl}),
    {Id::CommentSupported, "commentSupported", Kind::Flag, false, Use::Never, 0,
     Id::Flags, EnvRecord::kFlagCommentSupported},
    {Id::RemoteSearchSupported, "remoteSearchSupported", Kind::Flag, false, Use::Never, 0,
     Id::Flags, EnvRecord::kFlagRemoteSearchSupported},
    imported(needs(Id::RemoteSearchSupported, false,
     {Id::RemoteSearch, "remoteSearch", Kind::Flag, false, Use::Always, kStrRemoteSearch,
      Id::Flags, EnvRecord::kFlagRemoteSearch})),
    imported({Id::IpAddress, "ipAddress", Kind::Address, false, Use::StaticIpv4, kStrLocalIpAddress}),
    imported({Id::SubnetMask, "subnetMask", Kind::Address, false, Use::StaticIpv4, kStrSubnetMask}),
    imported({Id::Gateway, "gateway", Kind::Address, false, Use::StaticIpv4, kStrGateway}),
    {Id::AccountId, "accountId", Kind::Text, false, Use::Account, kStrAccountId,
     Id::None, 0, {}, 0, int{EnvRecord::kAccountIdSize}},
    {Id::AccountPassword, "accountPassword", Kind::Text, false, Use::Account, kStrPassword,
     Id::None, 0, {}, 0, int{EnvRecord::kAccountPasswordMax}},
    {Id::PasswordSet, "passwordSet", Kind::Flag, false, Use::Never},
    {Id::Password, "password", Kind::Password, false, Use::Always, kStrPassword,
     Id::None, 0, {}, kNewPasswordMin, int{EnvRecord::kPasswordMax}},
    imported(needs(Id::CommentSupported, true,
     {Id::Comment, "comment", Kind::Text, false, Use::Always, kStrComment,
      Id::None, 0, {}, 0, int{EnvRecord::kCommentSize}})),
    {Id::SourceAddress, "sourceAddress", Kind::Address, false, Use::Never},
    importedBits({Id::SerialFormat, "serialFormat", Kind::Word, true, Use::Never}, kSerialFormatImportedBits),
    imported({Id::DataBits, "dataBits", Kind::List, true, Use::Always, kStrDataBit,
     Id::SerialFormat, 0x03, kDataBits}),
    imported({Id::StopBits, "stopBits", Kind::List, true, Use::Always, kStrStopBit,
     Id::SerialFormat, 0x04, kStopBits}),
    imported({Id::Parity, "parity", Kind::List, true, Use::Always, kStrParity, Id::SerialFormat, 0x18, kParities}),
    imported({Id::FlowControl, "flowControl", Kind::List, true, Use::Always, kStrFlowControl,
     Id::SerialFormat, 0x60, kFlowControls}),
    imported({Id::Mode, "mode", Kind::List, true, Use::Always, kStrMode, Id::None, 0, kModes}),
    imported({Id::LocalIp, "localIp", Kind::Address, true, Use::PortMultiIp, kStrLocalIpAddress}),
    imported({Id::PeerIp, "peerIp", Kind::Address, true, Use::PortMode, kStrPeerAddress,
     Id::None, 0, {}, 0, 0, kCOD | kU2S}),
    imported({Id::LocalPort, "localPort", Kind::Number, true, Use::PortMode, kStrLocalPort,
     Id::None, 0, {}, kPortMin, kPortMax, kT2S | kU2S}),
    imported({Id::PeerPort, "peerPort", Kind::Number, true, Use::PortMode, kStrPeerPort,
     Id::None, 0, {}, kPortMin, kPortMax, kCOD | kU2S}),
    imported({Id::BaudRate, "baudRate", Kind::List, true, Use::Always, kStrBaudrate, Id::None, 0, kRates}),
    imported({Id::Timeout, "timeout", Kind::Number, true, Use::PortMode, kStrTimeout,
     Id::None, 0, {}, 0, 3600, kEveryMode}),
    imported({Id::WaterMark, "waterMark", Kind::Number, true, Use::PortMode, kStrEventByte,
     Id::None, 0, {}, 0, 8192, kCOD | kU2S}),
};
// clang-format on

/** The flag's own entries (Multi IP's "Disable"/"Use"), then the states every flag takes. */
QList<const Entry*> namingEntries(const Field& field)
{
    QList<const Entry*> entries;
    for (const Entry& e : field.entries)
        entries << &e;
    if (field.kind == Kind::Flag) {
        for (const Entry& e : kFlagStates)
            entries << &e;
    }
    return entries;
}

QString modeName(int mode)
{
    const int position = positionOf(field(Id::Mode), mode);
    return position >= 0 ? QString::fromLatin1(kModes[position].names[0]) : QStringLiteral("code %1").arg(mode);
}

QString ipv4TypeName(int type)
{
    const int position = positionOf(field(Id::Ipv4Type), type);
    return position >= 0 ? QString::fromLatin1(kIpv4Types[position].names[0]) : QStringLiteral("code %1").arg(type);
}
} // namespace

std::span<const Field> all()
{
    return kFields;
}

const Field& field(Id id)
{
    for (const Field& f : kFields) {
        if (f.id == id)
            return f;
    }
    qFatal("record_fields: no field %d", int(id));
}

const Field* find(QStringView name, bool perPort)
{
    for (const Field& f : kFields) {
        if (f.perPort == perPort && name == QLatin1String(f.name))
            return &f;
    }
    return nullptr;
}

QString FieldRef::name() const
{
    const QString own = QString::fromLatin1(field->name);
    return port >= 0 ? QStringLiteral("com%1.").arg(port + 1) + own : own;
}

std::optional<FieldRef> resolve(QStringView name)
{
    static const QRegularExpression portName(QStringLiteral("\\A(?:com([1-4])|ports\\[([0-3])\\])\\.(\\w+)\\z"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = portName.match(name.toString());
    if (m.hasMatch()) {
        // "com" in any case; "ports" only as read --json writes it.
        if (!m.captured(2).isEmpty() && !name.startsWith(QLatin1String("ports[")))
            return std::nullopt;
        const int port = m.captured(1).isEmpty() ? m.captured(2).toInt() : m.captured(1).toInt() - 1;
        if (const Field* f = find(m.capturedView(3), true))
            return FieldRef{f, port};
        return std::nullopt;
    }
    if (const Field* f = find(name, false))
        return FieldRef{f, -1};
    return std::nullopt;
}

int positionOf(const Field& field, std::int64_t code)
{
    if (field.id == Id::BaudRate) {
        // A rate maps to the nearest listed one, as the editor shows it.
        const int index = baudToIndex(static_cast<std::uint32_t>(std::clamp<std::int64_t>(code, 0, UINT32_MAX)));
        return indexToBaud(index) == code ? index : -1;
    }
    for (std::size_t i = 0; i < field.entries.size(); ++i) {
        if (field.entries[i].code == code || field.entries[i].alsoCode == code)
            return static_cast<int>(i);
    }
    return -1;
}

std::int64_t codeAt(const Field& field, int position)
{
    if (position >= 0 && position < static_cast<int>(field.entries.size()))
        return field.entries[static_cast<std::size_t>(position)].code;
    if (field.id == Id::BaudRate)
        return kRateFallback;
    if (field.id == Id::Mode)
        return 0xFF;
    // All ones in the field's bits: a code the list does not offer (flow control 3) survives.
    return field.mask ? field.mask >> std::countr_zero(field.mask) : 0;
}

std::optional<std::int64_t> codeNamed(const Field& field, QStringView name)
{
    const QStringView typed = name.trimmed();
    for (const Entry* e : namingEntries(field)) {
        for (const char* n : e->names) {
            if (n && typed.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
                return e->code;
        }
    }
    return std::nullopt;
}

QStringList acceptedNames(const Field& field)
{
    QStringList names;
    for (const Entry* e : namingEntries(field)) {
        for (const char* n : e->names) {
            if (n)
                names << QString::fromLatin1(n);
        }
    }
    return names;
}

QStringList entryNames(const Field& field)
{
    QStringList names;
    for (const Entry& e : field.entries)
        names << QString::fromLatin1(e.names[0]);
    if (names.isEmpty() && field.kind == Kind::Flag)
        names << QStringLiteral("yes") << QStringLiteral("no");
    return names;
}

int baudToIndex(std::uint32_t rate)
{
    // Each rate up to one below the midpoint with the next rate maps to its own position.
    const std::span<const Entry> rates = kRates;
    for (std::size_t i = 0; i + 1 < rates.size(); ++i) {
        const auto midpoint = static_cast<std::uint32_t>((rates[i].code + rates[i + 1].code) / 2);
        if (rate < midpoint)
            return static_cast<int>(i);
    }
    return static_cast<int>(rates.size()) - 1;
}

std::uint32_t indexToBaud(int index)
{
    return static_cast<std::uint32_t>(codeAt(field(Id::BaudRate), index));
}

int parityToPosition(int code)
{
    return positionOf(field(Id::Parity), code);
}

int positionToParity(int position)
{
    return static_cast<int>(codeAt(field(Id::Parity), position));
}

int flowControlToPosition(int code)
{
    return positionOf(field(Id::FlowControl), code);
}

int positionToFlowControl(int position)
{
    return static_cast<int>(codeAt(field(Id::FlowControl), position));
}

Situation Situation::of(const EnvRecord& record)
{
    Situation s;
    s.ipv4Type = record.ipv4Type();
    s.multiIp = record.multiIp();
    s.eapol = record.eapol();
    s.commentSupported = record.commentSupported();
    s.remoteSearchSupported = record.remoteSearchSupported();
    for (int p = 0; p < EnvRecord::kPortCount; ++p)
        s.modes[static_cast<std::size_t>(p)] = record.port(p).mode();
    return s;
}

bool Situation::has(Id capability) const
{
    switch (capability) {
    case Id::CommentSupported:
        return commentSupported;
    case Id::RemoteSearchSupported:
        return remoteSearchSupported;
    default:
        return true;
    }
}

bool kept(const Field& f, const EnvRecord& record)
{
    return !f.absentWithoutCapability || value(FieldRef{&field(f.capability), -1}, record) != 0;
}

bool inUse(const FieldRef& ref, const Situation& s)
{
    const int mode = ref.port >= 0 ? s.modes[static_cast<std::size_t>(ref.port)] : -1;
    const bool knownMode = mode >= 0 && mode < static_cast<int>(std::size(kModes));
    switch (ref.field->use) {
    case Use::Never:
        return false;
    case Use::Always:
        return true;
    case Use::StaticIpv4:
        return s.ipv4Type == EnvRecord::kStatic;
    case Use::Account:
        return s.ipv4Type == EnvRecord::kPppoe || s.eapol == 1;
    case Use::NoMultiIp:
        return !s.multiIp;
    case Use::Capability:
        return s.has(ref.field->capability);
    case Use::PortMode:
        return knownMode && (ref.field->modes >> mode & 1u);
    case Use::PortMultiIp:
        return knownMode && s.multiIp;
    }
    return false;
}

QString whyNotInUse(const FieldRef& ref, const Situation& s)
{
    const QString name = ref.name();
    const int mode = ref.port >= 0 ? s.modes[static_cast<std::size_t>(ref.port)] : -1;
    switch (ref.field->use) {
    case Use::Never:
        return QStringLiteral("%1 is read-only: the settings editor does not write it").arg(name);
    case Use::StaticIpv4:
        return QStringLiteral("%1 is not used with the %2 IPv4 type (only with ipv4Type=static)")
            .arg(name, ipv4TypeName(s.ipv4Type));
    case Use::Account:
        return QStringLiteral("%1 is used only with PPPoE (ipv4Type=PPPoE) or EAPoL MD5 (eapol=MD5)").arg(name);
    case Use::NoMultiIp:
        return QStringLiteral("%1 is not used while Multi IP is on (multiIp=yes)").arg(name);
    case Use::Capability:
        if (ref.field->capability == Id::CommentSupported)
            return QStringLiteral("%1 is not used: this device keeps no comment (commentSupported is no)").arg(name);
        return QStringLiteral("%1 is not used: this device has no remote search (%2 is no)")
            .arg(name, QLatin1String(field(ref.field->capability).name));
    case Use::PortMultiIp:
        if (positionOf(field(Id::Mode), mode) >= 0)
            return QStringLiteral("%1 is used only with Multi IP (multiIp=yes)").arg(name);
        [[fallthrough]];
    case Use::PortMode:
        return positionOf(field(Id::Mode), mode) >= 0
                   ? QStringLiteral("%1 is not used in %2 mode").arg(name, modeName(mode))
                   : QStringLiteral("%1 is not used while the port's mode is %2").arg(name, modeName(mode));
    case Use::Always:
        break;
    }
    return {};
}

QString unstorableCharacters(QStringView text)
{
    // By code point, so a character outside the basic plane is named whole.
    QList<char32_t> bad;
    for (const char32_t c : text.toUcs4()) {
        if ((c == 0 || c > 0xFF) && !bad.contains(c))
            bad << c;
    }
    return QString::fromUcs4(bad.constData(), bad.size());
}
} // namespace record_fields
