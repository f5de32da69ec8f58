#include "record/RecordEdit.h"

#include "protocol/Ipv4.h"

#include <QSet>

namespace record_edit {
namespace {
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
        v.localIp[at] = ipv4::dotted(p.localIp());
        v.peerIp[at] = ipv4::dotted(p.peerIp());
    }
    v.ipAddress = ipv4::dotted(r.ipAddress());
    v.subnetMask = ipv4::dotted(r.subnetMask());
    v.gateway = ipv4::dotted(r.gateway());
    v.situation = record_fields::Situation::of(r);
    return v;
}

QStringList importedFields(const EnvRecord& record)
{
    // A file whose every byte differs from the record: what the import takes from it is what it sets.
    EnvRecord different = record;
    for (std::uint8_t& byte : different.raw())
        byte = static_cast<std::uint8_t>(~byte);
    EnvRecord imported = record;
    mergeImportedRecord(imported, different);
    return record_fields::changedSettings(record, imported);
}

std::optional<QString> checkChanges(const QList<Change>& changes)
{
    QList<Resolved> resolved;
    return resolveAll(changes, resolved);
}

std::optional<QString> applyChanges(EnvRecord& record, const QList<Change>& changes)
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
    for (const Resolved& c : resolved) {
        if (!isChoice(c.ref))
            store(working, c);
    }
    if (const std::optional<form::Problem> problem = form::validate(formValues(working, QString())))
        return problem->describe();
    record = working;
    return std::nullopt;
}
} // namespace record_edit
