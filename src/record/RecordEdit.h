#pragma once

// How the command-line tool changes a device record: `field=value` arguments named as `read --json` names
// the fields (the catalogue of fields), applied the way the settings editor builds a record, and checked
// by the same rules that stop the editor's Write, so the tool never writes a record the editor would
// refuse.

#include "record/EnvRecord.h"
#include "record/FormValidation.h"
#include "record/RecordFields.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace record_edit {
/** One change as typed: the field's name ("ipAddress", "com2.baudRate"; "COM2.baudRate" and
 *  "ports[1].baudRate" name the same field) and its value. */
struct Change
{
    QString field;
    QString value;
};

/** Reads "name=value" (the value may be empty). Nothing, and the reason in `error`, for text without
 *  "=" or with an empty name. */
std::optional<Change> parseChange(const QString& argument, QString* error);

/** The checks that need no record, run before anything is sent: unknown and read-only fields (named as
 *  typed; the device password never comes from here), a field named twice, and each value's own rule
 *  (a number's range, an address, a text's width and characters, a list's names). Why the changes
 *  cannot be made, or nothing. */
std::optional<QString> checkChanges(const QList<Change>& changes);

/** Applies `changes` to `record` as the settings editor would store them, or returns why not: every
 *  refusal of checkChanges; a field the resulting settings do not use (the editor greys it out: a port's
 *  peer port in ATC mode, the addresses without the static IPv4 type, the account without PPPoE or
 *  EAPoL MD5, …), unless the same changes put it in use; and every refusal of checkWrite for the fields
 *  the changes name or put in use. A field the changes leave alone goes back as the device holds it, even
 *  where the form would refuse its value: each such value is a line in `warnings` (when given). `record`
 *  changes only on success; fields not named keep their bytes. */
std::optional<QString> applyChanges(EnvRecord& record, const QList<Change>& changes, QStringList* warnings = nullptr);

/** The form's checks on a record about to be written (`after`) over the one the device holds (`before`),
 *  with `password` typed: a field the write sets (named in `named` as read --json names it, or holding
 *  another value than the device's), and a field it puts in use (in use with `after`'s settings, not with
 *  `before`'s), is refused when the form would refuse it: why, or nothing. A field the write leaves as the
 *  device holds it is never refused: each one whose value the form would refuse adds one line to
 *  `warnings` (when given): "com2.localPort holds 0, outside 1 to 65534; left as the device has it". */
std::optional<QString> checkWrite(const EnvRecord& before, const EnvRecord& after, const QString& password,
                                  const QStringList& named, QStringList* warnings);
} // namespace record_edit
