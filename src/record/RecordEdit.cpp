#include "record/RecordEdit.h"

#include "text/StringTable.h"

#include <QLocale>
#include "protocol/Ipv4.h"

#include <QSet>

namespace record_edit {
namespace {
constexpr int kStrHoldsOutside = 2250;
constexpr int kStrLeftAsIs = 2251;

/** A warning's text in the user's language. */
QString leftAsIsText(int id)
{
    return StringTable(StringTable::languageFor(QLocale::system())).text(id);
}

using record_fields::FieldRef;
using record_fields::Kind;

/** A change matched to its field. */
struct Resolved
{
    FieldRef ref;
    QString value;
};

std::optional<QString> refusal(const FieldRef& ref)
{
    if (ref.field->kind == Kind::Password)
        return QStringLiteral("password: the device password never comes from the arguments (set %1, use "
                              "--password-stdin or type it at the prompt)")
            .arg(QLatin1String("CORMAPMP_PASSWORD"));
    if (ref.field->readOnly())
        return QStringLiteral("%1: read-only, the settings editor does not write it").arg(ref.name());
    return std::nullopt;
}

/** Matches each change to its field and checks what needs no record. */
std::optional<QString> resolveAll(const QList<Change>& changes, QList<Resolved>& resolved)
{
    QSet<QString> seen;
    for (const Change& change : changes) {
        const std::optional<FieldRef> ref = record_fields::resolve(change.field);
        if (!ref)
            return QStringLiteral("%1: no such field (the fields are those read --json shows; a port's fields as "
                                  "com1.baudRate to com4.baudRate)")
                .arg(change.field);
        if (const std::optional<QString> refused = refusal(*ref))
            return refused;
        if (seen.contains(ref->name()))
            return QStringLiteral("%1: named twice").arg(ref->name());
        seen.insert(ref->name());
        if (const std::optional<form::Problem> problem = form::checkTyped(*ref, change.value))
            return problem->describe();
        resolved << Resolved{*ref, change.value};
    }
    return std::nullopt;
}

bool isChoice(const FieldRef& ref)
{
    return ref.field->kind == Kind::List || ref.field->kind == Kind::Flag;
}

/** Stores an already checked value. */
void store(EnvRecord& r, const Resolved& c)
{
    switch (c.ref.field->kind) {
    case Kind::List:
    case Kind::Flag:
        setValue(c.ref, r, record_fields::codeNamed(*c.ref.field, c.value).value_or(0));
        break;
    case Kind::Text:
        setText(c.ref, r, c.value.toLatin1().toStdString());
        break;
    case Kind::Address:
        setValue(c.ref, r, ipv4::parse(c.value).value_or(0)); // blank is 0.0.0.0
        break;
    case Kind::Number:
        setValue(c.ref, r, form::readInteger(c.value).value_or(0) & 0xFFFF);
        break;
    default:
        break;
    }
}

/** True when the two records hold different values in the field. */
bool differs(const FieldRef& ref, const EnvRecord& before, const EnvRecord& after)
{
    if (ref.field->kind == Kind::Text)
        return record_fields::text(ref, before) != record_fields::text(ref, after);
    return record_fields::value(ref, before) != record_fields::value(ref, after);
}

/** True when the write sets the field a problem names or puts it in use. The combinations stand for the
 *  fields that make them: the IPv4 type, Multi IP and EAPoL. */
bool touched(const form::Problem& problem, const EnvRecord& before, const EnvRecord& after, const QStringList& named)
{
    const auto setsField = [&](const FieldRef& ref) {
        return named.contains(ref.name()) || differs(ref, before, after);
    };
    if (problem.rule == form::Rule::MultiIpNeedsStatic || problem.rule == form::Rule::Md5ExcludesPppoe) {
        for (const record_fields::Id id :
             {record_fields::Id::MultiIp, record_fields::Id::Ipv4Type, record_fields::Id::Eapol}) {
            if (setsField(FieldRef{&record_fields::field(id), -1}))
                return true;
        }
        return false;
    }
    const FieldRef ref = problem.ref();
    if (ref.field->kind == Kind::Password || setsField(ref))
        return true;
    return !record_fields::inUse(ref, record_fields::Situation::of(before));
}

/** The line that says a value the write leaves alone breaks a rule of the form. */
QString leftAsIsText(const form::Problem& problem)
{
    if (problem.rule == form::Rule::OutOfRange)
        return leftAsIsText(kStrHoldsOutside)
            .arg(problem.fieldName(), problem.text.trimmed())
            .arg(problem.min)
            .arg(problem.max);
    return leftAsIsText(kStrLeftAsIs).arg(problem.describe());
}
} // namespace

std::optional<Change> parseChange(const QString& argument, QString* error)
{
    const qsizetype eq = argument.indexOf(QLatin1Char('='));
    if (eq <= 0) {
        *error = QStringLiteral("\"%1\" is not a change: write field=value, like ipAddress=10.1.0.7").arg(argument);
        return std::nullopt;
    }
    return Change{argument.left(eq).trimmed(), argument.mid(eq + 1)};
}

std::optional<QString> checkChanges(const QList<Change>& changes)
{
    QList<Resolved> resolved;
    return resolveAll(changes, resolved);
}

std::optional<QString> checkWrite(const EnvRecord& before, const EnvRecord& after, const QString& password,
                                  const QStringList& named, QStringList* warnings)
{
    QStringList left;
    for (const form::Problem& problem : form::problems(form::formValues(after, password))) {
        if (touched(problem, before, after, named))
            return problem.describe();
        left << leftAsIsText(problem);
    }
    if (warnings)
        *warnings << left;
    return std::nullopt;
}

std::optional<QString> applyChanges(EnvRecord& record, const QList<Change>& changes, QStringList* warnings)
{
    QList<Resolved> resolved;
    if (const std::optional<QString> error = resolveAll(changes, resolved))
        return error;
    // The lists and flags first: they decide which of the other fields are in use.
    EnvRecord working = record;
    for (const Resolved& c : resolved) {
        if (isChoice(c.ref))
            store(working, c);
    }
    const record_fields::Situation situation = record_fields::Situation::of(working);
    for (const Resolved& c : resolved) {
        if (!record_fields::inUse(c.ref, situation))
            return record_fields::whyNotInUse(c.ref, situation);
    }
    QStringList named;
    for (const Resolved& c : resolved) {
        named << c.ref.name();
        if (!isChoice(c.ref))
            store(working, c);
    }
    if (const std::optional<QString> refused = checkWrite(record, working, QString(), named, warnings))
        return refused;
    record = working;
    return std::nullopt;
}
} // namespace record_edit
