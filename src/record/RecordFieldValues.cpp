// The catalogue's accessors: a field's value in a record, as `read --json` and `write` show it, and the
// fields that differ between two records.
#include "RecordFields.h"

#include "protocol/Ipv4.h"

#include <algorithm>
#include <bit>

namespace record_fields {
namespace {
// Ranges the record layout marks as not interpreted, including bytes 2-3 of each port block.
// Those a settings import carries: 120-151, 156-315 and the port area's (bytes 2-3 of each port block and
// the rest of the area up to 507).
constexpr ByteSpan kUninterpretedSpans[] = {
    {6, 11},          {14, 15},         {120, 151, true}, {156, 315, true}, {318, 319, true},
    {342, 343, true}, {366, 367, true}, {390, 391, true}, {412, 507, true}, {508, 511},
};
// The comment's bytes, uninterpreted on a device that keeps no comment.
constexpr ByteSpan kCommentSpan = {EnvRecord::kOffComment, EnvRecord::kOffComment + EnvRecord::kCommentSize - 1};

std::int64_t recordValue(Id id, const EnvRecord& r)
{
    switch (id) {
    case Id::Mac: {
        std::int64_t mac = 0;
        for (const std::uint8_t b : r.mac())
            mac = (mac << 8) | b;
        return mac;
    }
    case Id::ProductId:
        return r.productId();
    case Id::ProductInfo:
        return r.productInfo();
    case Id::Flags:
        return r.flags();
    case Id::PasswordSet:
        return r.hasPassword() ? 1 : 0;
    case Id::IpAddress:
        return r.ipAddress();
    case Id::SubnetMask:
        return r.subnetMask();
    case Id::Gateway:
        return r.gateway();
    case Id::SourceAddress:
        return r.sourceAddress();
    default:
        return 0;
    }
}

std::int64_t portValue(Id id, const EnvPortBlock& p)
{
    switch (id) {
    case Id::SerialFormat:
        return p.serialFormat();
    case Id::Mode:
        return p.mode();
    case Id::LocalIp:
        return p.localIp();
    case Id::PeerIp:
        return p.peerIp();
    case Id::LocalPort:
        return p.localPort();
    case Id::PeerPort:
        return p.peerPort();
    case Id::BaudRate:
        return p.baudRate();
    case Id::Timeout:
        return p.timeout();
    case Id::WaterMark:
        return p.waterMark();
    default:
        return 0;
    }
}

void setRecordValue(Id id, EnvRecord& r, std::int64_t v)
{
    const auto word = static_cast<std::uint32_t>(v);
    switch (id) {
    case Id::ProductId:
        r.setProductId(static_cast<std::uint8_t>(v));
        break;
    case Id::ProductInfo:
        r.setProductInfo(static_cast<std::uint8_t>(v));
        break;
    case Id::Flags:
        r.setFlags(word);
        break;
    case Id::IpAddress:
        r.setIpAddress(word);
        break;
    case Id::SubnetMask:
        r.setSubnetMask(word);
        break;
    case Id::Gateway:
        r.setGateway(word);
        break;
    case Id::SourceAddress:
        r.setSourceAddress(word);
        break;
    default:
        break;
    }
}

void setPortValue(Id id, EnvPortBlock& p, std::int64_t v)
{
    const auto number = static_cast<std::uint16_t>(v);
    switch (id) {
    case Id::SerialFormat:
        p.setSerialFormat(static_cast<std::uint8_t>(v));
        break;
    case Id::Mode:
        p.setMode(static_cast<std::uint8_t>(v));
        break;
    case Id::LocalIp:
        p.setLocalIp(static_cast<std::uint32_t>(v));
        break;
    case Id::PeerIp:
        p.setPeerIp(static_cast<std::uint32_t>(v));
        break;
    case Id::LocalPort:
        p.setLocalPort(number);
        break;
    case Id::PeerPort:
        p.setPeerPort(number);
        break;
    case Id::BaudRate:
        p.setBaudRate(static_cast<std::uint32_t>(v));
        break;
    case Id::Timeout:
        p.setTimeout(number);
        break;
    case Id::WaterMark:
        p.setWaterMark(number);
        break;
    default:
        break;
    }
}

/** The name of the list entry holding the value, or nothing for a code no entry holds. */
std::optional<QString> entryName(const FieldRef& ref, const EnvRecord& record)
{
    const int position = positionOf(*ref.field, value(ref, record));
    if (position < 0)
        return std::nullopt;
    return QString::fromLatin1(ref.field->entries[static_cast<std::size_t>(position)].names[0]);
}

QString hex(std::int64_t value, int digits)
{
    return QStringLiteral("0x%1").arg(static_cast<qulonglong>(value), digits, 16, QLatin1Char('0'));
}

/** The bits of a word that none of its named parts hold. */
std::uint32_t unnamedBits(Id word)
{
    std::uint32_t named = 0;
    for (const Field& f : all()) {
        if (f.partOf == word)
            named |= f.mask;
    }
    return ~named;
}

bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QByteArray bytes(const EnvRecord& r, std::size_t first, std::size_t last)
{
    return QByteArray(reinterpret_cast<const char*>(r.data() + first), static_cast<qsizetype>(last - first + 1));
}

/** The run from the first to the last byte that differ within `span`, as one difference. */
std::optional<Difference> spanDifference(const EnvRecord& a, const EnvRecord& b, const ByteSpan& span)
{
    std::optional<std::size_t> first;
    std::size_t last = span.first;
    for (std::size_t at = span.first; at <= span.last; ++at) {
        if (a.raw()[at] != b.raw()[at]) {
            first = first.value_or(at);
            last = at;
        }
    }
    if (!first)
        return std::nullopt;
    return Difference{QStringLiteral("uninterpreted %1-%2").arg(*first).arg(last),
                      QString::fromLatin1(bytes(a, *first, last).toHex()),
                      QString::fromLatin1(bytes(b, *first, last).toHex())};
}

/** The device password's difference: whether one is set, or that another is set. */
std::optional<Difference> passwordDifference(const EnvRecord& a, const EnvRecord& b)
{
    const auto yesNo = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
    if (a.hasPassword() != b.hasPassword())
        return Difference{QStringLiteral("passwordSet"), yesNo(a.hasPassword()), yesNo(b.hasPassword())};
    const std::size_t first = EnvRecord::kOffPassword;
    if (bytes(a, first, first + EnvRecord::kPasswordFieldSize - 1) ==
        bytes(b, first, first + EnvRecord::kPasswordFieldSize - 1))
        return std::nullopt;
    const QString state = a.hasPassword() ? QStringLiteral("set") : QStringLiteral("not set");
    return Difference{QStringLiteral("password"), state, state + QStringLiteral(" (other bytes)")};
}

void compareField(const FieldRef& ref, const EnvRecord& a, const EnvRecord& b, QList<Difference>& list)
{
    const Field& f = *ref.field;
    if (f.kind == Kind::Word) {
        if (((value(ref, a) ^ value(ref, b)) & unnamedBits(f.id)) == 0)
            return;
    } else if (f.kind == Kind::Text) {
        if (text(ref, a) == text(ref, b))
            return;
    } else if (value(ref, a) == value(ref, b)) {
        return;
    }
    list << Difference{ref.name(), valueText(ref, a), valueText(ref, b)};
}
} // namespace

std::int64_t value(const FieldRef& ref, const EnvRecord& record)
{
    const Field& f = *ref.field;
    if (f.partOf != Id::None) {
        const std::int64_t word = value(FieldRef{&field(f.partOf), ref.port}, record);
        return (word & f.mask) >> std::countr_zero(f.mask);
    }
    return ref.port >= 0 ? portValue(f.id, record.port(ref.port)) : recordValue(f.id, record);
}

void setValue(const FieldRef& ref, EnvRecord& record, std::int64_t v)
{
    const Field& f = *ref.field;
    if (f.partOf != Id::None) {
        const FieldRef word{&field(f.partOf), ref.port};
        const auto bits = (static_cast<std::uint32_t>(v) << std::countr_zero(f.mask)) & f.mask;
        setValue(word, record, (static_cast<std::uint32_t>(value(word, record)) & ~f.mask) | bits);
        return;
    }
    if (ref.port < 0) {
        setRecordValue(f.id, record, v);
        return;
    }
    EnvPortBlock block = record.port(ref.port);
    setPortValue(f.id, block, v);
    record.setPort(ref.port, block);
}

std::size_t textOffset(Id id)
{
    switch (id) {
    case Id::AccountId:
        return EnvRecord::kOffAccountId;
    case Id::AccountPassword:
        return EnvRecord::kOffAccountPassword;
    case Id::Password:
        return EnvRecord::kOffPassword;
    case Id::Comment:
        return EnvRecord::kOffComment;
    default:
        return 0;
    }
}

std::size_t textWidth(Id id)
{
    switch (id) {
    case Id::AccountId:
        return EnvRecord::kAccountIdSize;
    case Id::AccountPassword:
        return EnvRecord::kAccountPasswordSize;
    case Id::Password:
        return EnvRecord::kPasswordFieldSize;
    case Id::Comment:
        return EnvRecord::kCommentSize;
    default:
        return 0;
    }
}

std::string text(const FieldRef& ref, const EnvRecord& record)
{
    if (ref.field->id == Id::Mac)
        return record.macText();
    const std::size_t offset = textOffset(ref.field->id);
    const auto* begin = record.data() + offset;
    const auto* end = std::find(begin, begin + textWidth(ref.field->id), std::uint8_t{0});
    return std::string(begin, end);
}

void setText(const FieldRef& ref, EnvRecord& record, const std::string& bytes)
{
    switch (ref.field->id) {
    case Id::AccountId:
        record.setAccountId(bytes);
        break;
    case Id::AccountPassword:
        record.setAccountPassword(bytes);
        break;
    case Id::Password:
        record.setTypedPassword(bytes);
        break;
    case Id::Comment:
        record.setComment(bytes);
        break;
    default:
        break;
    }
}

QJsonValue jsonValue(const FieldRef& ref, const EnvRecord& record)
{
    const std::int64_t v = value(ref, record);
    switch (ref.field->kind) {
    case Kind::Mac:
    case Kind::Text:
        return QString::fromLatin1(text(ref, record));
    case Kind::Word:
    case Kind::Number:
        return static_cast<double>(v);
    case Kind::Flag:
        return v != 0;
    case Kind::Address:
        return ipv4::dotted(static_cast<std::uint32_t>(v));
    case Kind::List:
        if (const std::optional<QString> name = entryName(ref, record)) {
            // Entries named by numbers (data bits, stop bits, rates) show as numbers.
            bool numeric = false;
            const int number = name->toInt(&numeric);
            return numeric ? QJsonValue(number) : QJsonValue(*name);
        }
        return static_cast<double>(v); // a code the program does not name is shown as it is
    case Kind::Password:
        break;
    }
    return {};
}

QString valueText(const FieldRef& ref, const EnvRecord& record)
{
    const std::int64_t v = value(ref, record);
    switch (ref.field->kind) {
    case Kind::Mac:
        return QString::fromLatin1(text(ref, record));
    case Kind::Text:
        return quoted(QString::fromLatin1(text(ref, record)));
    case Kind::Word:
        return hex(v, ref.field->id == Id::Flags ? 8 : 2);
    case Kind::Number:
        return QString::number(v);
    case Kind::Flag:
        return v ? QStringLiteral("yes") : QStringLiteral("no");
    case Kind::Address:
        return ipv4::dotted(static_cast<std::uint32_t>(v));
    case Kind::List:
        if (const std::optional<QString> name = entryName(ref, record))
            return *name;
        return ref.field->id == Id::BaudRate ? QString::number(v) : QStringLiteral("code %1").arg(v);
    case Kind::Password:
        return record.hasPassword() ? QStringLiteral("set") : QStringLiteral("not set");
    }
    return {};
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

std::span<const ByteSpan> uninterpretedSpans()
{
    return kUninterpretedSpans;
}

QList<ByteSpan> uninterpretedSpans(const EnvRecord& record)
{
    QList<ByteSpan> spans(std::begin(kUninterpretedSpans), std::end(kUninterpretedSpans));
    if (!kept(field(Id::Comment), record)) {
        const auto after =
            std::find_if(spans.begin(), spans.end(), [](const ByteSpan& s) { return s.first > kCommentSpan.first; });
        spans.insert(after, kCommentSpan);
    }
    return spans;
}

QList<Difference> differences(const EnvRecord& before, const EnvRecord& after)
{
    // The comment is a field when either record's device keeps one; otherwise its bytes are a span.
    const bool comment = kept(field(Id::Comment), before) || kept(field(Id::Comment), after);
    QList<Difference> list;
    for (int port = -1; port < EnvRecord::kPortCount; ++port) {
        for (const Field& f : all()) {
            if (f.perPort != (port >= 0) || f.id == Id::PasswordSet || (f.id == Id::Comment && !comment))
                continue;
            if (f.kind == Kind::Password) {
                if (const std::optional<Difference> d = passwordDifference(before, after))
                    list << *d;
                continue;
            }
            compareField(FieldRef{&f, port}, before, after, list);
        }
    }
    QList<ByteSpan> spans(std::begin(kUninterpretedSpans), std::end(kUninterpretedSpans));
    if (!comment)
        spans << kCommentSpan;
    std::sort(spans.begin(), spans.end(), [](const ByteSpan& x, const ByteSpan& y) { return x.first < y.first; });
    for (const ByteSpan& span : spans) {
        if (const std::optional<Difference> d = spanDifference(before, after, span))
            list << *d;
    }
    return list;
}

QStringList changedSettings(const EnvRecord& before, const EnvRecord& after)
{
    static const QString kUninterpreted = QStringLiteral("uninterpreted");
    QStringList changed;
    for (const Difference& d : differences(before, after)) {
        if (d.field == QLatin1String("passwordSet") || d.field == QLatin1String("password") ||
            d.field == QLatin1String("sourceAddress"))
            continue;
        const QString name = d.field.startsWith(kUninterpreted) ? kUninterpreted : d.field;
        if (!changed.contains(name))
            changed << name;
    }
    return changed;
}
void mergeImported(EnvRecord& target, const EnvRecord& imported)
{
    for (const Field& f : all()) {
        for (int port = f.perPort ? 0 : -1; port < (f.perPort ? EnvRecord::kPortCount : 0); ++port) {
            const FieldRef ref{&f, port};
            if (f.importedBits) {
                const auto word = static_cast<std::uint32_t>(value(ref, target));
                const auto from = static_cast<std::uint32_t>(value(ref, imported));
                setValue(ref, target, (word & ~f.importedBits) | (from & f.importedBits));
            }
            if (!f.imported)
                continue;
            if (f.kind == Kind::Text) {
                // Every byte of the text's width, those after its end included.
                const auto at = static_cast<std::ptrdiff_t>(textOffset(f.id));
                std::copy_n(imported.raw().begin() + at, textWidth(f.id), target.raw().begin() + at);
            } else {
                setValue(ref, target, value(ref, imported));
            }
        }
    }
    for (const ByteSpan& span : kUninterpretedSpans) {
        if (span.imported)
            std::copy(imported.raw().begin() + static_cast<std::ptrdiff_t>(span.first),
                      imported.raw().begin() + static_cast<std::ptrdiff_t>(span.last + 1),
                      target.raw().begin() + static_cast<std::ptrdiff_t>(span.first));
    }
}

QStringList importedSettings(const EnvRecord& record)
{
    QStringList names;
    for (int port = -1; port < EnvRecord::kPortCount; ++port) {
        for (const Field& f : all()) {
            if (f.perPort == (port >= 0) && (f.imported || f.importedBits) && kept(f, record))
                names << FieldRef{&f, port}.name();
        }
    }
    if (std::any_of(std::begin(kUninterpretedSpans), std::end(kUninterpretedSpans),
                    [](const ByteSpan& span) { return span.imported; }))
        names << QStringLiteral("uninterpreted");
    return names;
}
} // namespace record_fields
