#pragma once

// How the command-line tool changes a device record: `field=value` arguments named by the record
// accessors (as `read --json` shows them), applied the way the settings editor builds a record, and
// checked by the same rules that stop the editor's Write, so the tool never writes a record the editor
// would refuse.

#include "record/EnvRecord.h"
#include "record/FormValidation.h"
#include "record/RecordFields.h"

#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace cli {
/** One change as typed: the field's name ("ipAddress", "com2.baudRate"; "ports[1].baudRate" is the same
 *  field) and its value. */
struct Change
{
    QString field;
    QString value;
};

/** Reads "name=value" (the value may be empty); the port prefix is normalised to "comN.". Nothing, and
 *  the reason in `error`, for text without "=" or with an empty name. */
std::optional<Change> parseChange(const QString& argument, QString* error);

/** The checks that need no record: unknown and read-only fields, a field named twice, list values, the
 *  characters of texts. Why the changes cannot be made, or nothing. */
std::optional<QString> checkChanges(const QList<Change>& changes);

/** Applies `changes` to `record` as the settings editor would store them, or returns why not, naming the
 *  field and the rule: unknown and read-only fields (the device password never comes from here), a field
 *  named twice, a value its list does not offer, a field the editor does not take for the resulting
 *  settings (addresses without the static IPv4 type, the comment without the device's comment support,
 *  remote search without its support, the account without PPPoE or EAPoL MD5), and every refusal of
 *  form::validate (checked on the whole resulting form, with an empty password). `record` changes only
 *  on success; fields not named keep their bytes. */
std::optional<QString> applyChanges(EnvRecord& record, const QList<Change>& changes);

/** The form values of `record` as the editor reads them from its controls, with `password` typed. */
form::FormValues formValues(const EnvRecord& record, const QString& password);

/** A field whose value differs between two records, by its accessor name ("com1.baudRate"). */
using FieldDifference = record_fields::Difference;

/** Every field (as `read --json` names them, ports as "comN.") whose value differs; option-word and
 *  serial-format totals included. */
using record_fields::differences;

/** A value of a difference as text: addresses and names plain, the three texts of the record quoted,
 *  yes/no for flags. */
QString valueText(const QString& field, const QJsonValue& value);
} // namespace cli
