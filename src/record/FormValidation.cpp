#include "FormValidation.h"

#include "protocol/Ipv4.h"

#include <QRegularExpression>

namespace form {
namespace {
using record_fields::FieldRef;
using record_fields::Id;
using record_fields::Kind;

// The order of the checks: the record's own fields, and a port's numbers four at a time (COM1..COM4).
constexpr Id kFirstChecks[] = {Id::Password, Id::PeerPort,  Id::Timeout,    Id::WaterMark, Id::LocalPort,
                               Id::Comment,  Id::IpAddress, Id::SubnetMask, Id::Gateway};
// Then each port's two addresses, port by port.
constexpr Id kPortAddresses[] = {Id::LocalIp, Id::PeerIp};

Problem problem(const FieldRef& ref, Rule rule, const QString& text, int min = 0, int max = 0)
{
    return Problem{ref.field->id, ref.port, rule, min, max, text};
}

std::optional<Problem> checkNumber(const FieldRef& ref, const QString& text)
{
    const std::optional<qint64> value = readInteger(text);
    if (!value)
        return problem(ref, Rule::NotInteger, text, ref.field->min, ref.field->max);
    if (*value < ref.field->min || *value > ref.field->max)
        return problem(ref, Rule::OutOfRange, text, ref.field->min, ref.field->max);
    return std::nullopt;
}

std::optional<Problem> checkText(const FieldRef& ref, const QString& text)
{
    if (text.size() > ref.field->max)
        return problem(ref, Rule::TooLong, text, 0, ref.field->max);
    if (!record_fields::unstorableCharacters(text).isEmpty())
        return problem(ref, Rule::Unstorable, text);
    return std::nullopt;
}

/** The field's check when it is in use and the form holds it. */
std::optional<Problem> checkInUse(const FormValues& v, const FieldRef& ref)
{
    const QString* typed = v.typed(ref.field->id, ref.port);
    if (!typed || !record_fields::inUse(ref, v.situation))
        return std::nullopt;
    return checkTyped(ref, *typed);
}

/** The fields' checks in their order; stops at the first failure unless `all` is given. */
std::optional<Problem> checkFields(const FormValues& v, QList<Problem>* all = nullptr)
{
    const auto failed = [all](std::optional<Problem> p) {
        if (p && all)
            *all << *p;
        return p && !all;
    };
    for (const Id id : kFirstChecks) {
        const record_fields::Field& f = record_fields::field(id);
        for (int port = f.perPort ? 0 : -1; port < (f.perPort ? kPortCount : 0); ++port) {
            if (auto p = checkInUse(v, FieldRef{&f, port}); failed(p))
                return p;
        }
    }
    for (int port = 0; port < kPortCount; ++port) {
        for (const Id id : kPortAddresses) {
            if (auto p = checkInUse(v, FieldRef{&record_fields::field(id), port}); failed(p))
                return p;
        }
    }
    return std::nullopt;
}

/** The combinations the device cannot run, as problems of the field that stands for them. */
QList<Problem> combinationProblems(const FormValues& v)
{
    // The device runs one address per serial port only with a static main address, and an EAPoL
    // account (MD5) does not go with a PPPoE one.
    QList<Problem> list;
    if (!v.checkCombinations)
        return list;
    const record_fields::Situation& s = v.situation;
    if (s.multiIp && s.ipv4Type != EnvRecord::kStatic)
        list << Problem{Id::Ipv4Type, -1, Rule::MultiIpNeedsStatic, 0, 0, {}};
    if (s.eapol == 1 && s.ipv4Type == EnvRecord::kPppoe)
        list << Problem{Id::Eapol, -1, Rule::Md5ExcludesPppoe, 0, 0, {}};
    return list;
}
} // namespace

const QString* FormValues::typed(Id field, int port) const
{
    return const_cast<FormValues*>(this)->typed(field, port);
}

QString* FormValues::typed(Id field, int port)
{
    const auto at = static_cast<std::size_t>(port < 0 ? 0 : port);
    switch (field) {
    case Id::Password:
        return &password;
    case Id::Comment:
        return &comment;
    case Id::IpAddress:
        return &ipAddress;
    case Id::SubnetMask:
        return &subnetMask;
    case Id::Gateway:
        return &gateway;
    case Id::PeerPort:
        return &peerPort[at];
    case Id::Timeout:
        return &timeout[at];
    case Id::WaterMark:
        return &eventByte[at];
    case Id::LocalPort:
        return &localPort[at];
    case Id::LocalIp:
        return &localIp[at];
    case Id::PeerIp:
        return &peerIp[at];
    default:
        return nullptr;
    }
}

FormValues formValues(const TypedText& typed, const record_fields::Situation& situation)
{
    FormValues v;
    for (const record_fields::Field& f : record_fields::all()) {
        for (int port = f.perPort ? 0 : -1; port < (f.perPort ? kPortCount : 0); ++port) {
            if (QString* text = v.typed(f.id, port))
                *text = typed(FieldRef{&f, port});
        }
    }
    v.situation = situation;
    return v;
}

FormValues formValues(const EnvRecord& record, const QString& password)
{
    const auto shown = [&](const FieldRef& ref) {
        switch (ref.field->kind) {
        case Kind::Password:
            return password;
        case Kind::Text:
            return QString::fromLatin1(record_fields::text(ref, record));
        case Kind::Address:
            return ipv4::dotted(static_cast<std::uint32_t>(record_fields::value(ref, record)));
        default:
            return QString::number(record_fields::value(ref, record));
        }
    };
    return formValues(shown, record_fields::Situation::of(record));
}

std::optional<qint64> readInteger(const QString& text)
{
    static const QRegularExpression integer(QStringLiteral("\\A\\s*[-+]?\\d{1,12}\\s*\\z"));
    if (!integer.match(text).hasMatch())
        return std::nullopt;
    return text.trimmed().toLongLong();
}

std::optional<Problem> checkTyped(const FieldRef& ref, const QString& text)
{
    switch (ref.field->kind) {
    case Kind::Number:
        return checkNumber(ref, text);
    case Kind::Address:
        // A blank field stands for 0.0.0.0.
        if (text.isEmpty() || ipv4::parse(text))
            return std::nullopt;
        return problem(ref, Rule::NotAnAddress, text);
    case Kind::Text:
    case Kind::Password:
        return checkText(ref, text);
    case Kind::List:
    case Kind::Flag:
        if (record_fields::codeNamed(*ref.field, text))
            return std::nullopt;
        return problem(ref, Rule::NotAnEntry, text);
    case Kind::Mac:
    case Kind::Word:
        break;
    }
    return std::nullopt;
}

std::optional<Problem> validate(const FormValues& v)
{
    if (auto p = checkFields(v))
        return p;
    const QList<Problem> combinations = combinationProblems(v);
    if (!combinations.isEmpty())
        return combinations.constFirst();
    return std::nullopt;
}

QList<Problem> problems(const FormValues& v)
{
    QList<Problem> list;
    checkFields(v, &list);
    return list + combinationProblems(v);
}

QString Problem::describe() const
{
    const QString name = fieldName();
    switch (rule) {
    case Rule::TooLong:
        return QStringLiteral("%1: at most %2 characters").arg(name).arg(max);
    case Rule::Unstorable:
        return QStringLiteral("%1: \"%2\" holds characters a device cannot store: %3 (its texts are Latin-1)")
            .arg(name, text, unstorable());
    case Rule::NotInteger:
        return QStringLiteral("%1: \"%2\" is not an integer").arg(name, text);
    case Rule::OutOfRange:
        return QStringLiteral("%1: %2 is outside %3 to %4").arg(name, text.trimmed()).arg(min).arg(max);
    case Rule::NotAnAddress:
        return QStringLiteral("%1: \"%2\" is not a valid IPv4 address").arg(name, text);
    case Rule::NotAnEntry:
        return QStringLiteral("%1: \"%2\" is not one of %3")
            .arg(name, text, record_fields::entryNames(*ref().field).join(QStringLiteral(", ")));
    case Rule::MultiIpNeedsStatic:
        return QStringLiteral("%1: Multi IP needs the static IPv4 type (ipv4Type=0)").arg(name);
    case Rule::Md5ExcludesPppoe:
        return QStringLiteral("%1: EAPoL MD5 cannot be used with PPPoE (ipv4Type=2)").arg(name);
    }
    return name;
}
} // namespace form
