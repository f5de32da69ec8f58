#pragma once

// The write of one device among several, as `write` does it for each device it names: read, change,
// check again under the device's lock, write. Other verbs that write fields (`apply`) go through it too,
// so they share its checks, password handling, history and parallel devices.

#include "device/DeviceJobs.h"
#include "PasswordOnce.h"
#include "DeviceTargets.h"
#include "record/RecordEdit.h"
#include "record/EnvRecord.h"

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {
class Console;

/** What the write of one device found and did, for a verb that reports more than its result line. */
struct DeviceWrite
{
    /** In: write nothing (and ask no password) when the changes leave the device's settings as they are. */
    bool skipUnchanged = false;
    /** Out: the settings the changes were made on (after a check that made them again: the new ones) and
     *  the record written, or that would have been. Both stay empty when the device was not read. */
    EnvRecord before;
    EnvRecord after;
    /** Out: the record was made (`before` and `after` hold it). */
    bool made = false;
    /** Out: the device answered a write (whether it took it or not). */
    bool sent = false;
    /** Out: one line for each value the changes left as the device holds it although the form would
     *  refuse it. */
    QStringList warnings;
};

/** The write of one of several devices once `serveEach` has read it (`before`): change, check again under
 *  the device's lock, write; the outcome for its result line and whether the device took it. The device
 *  password is asked once, when the first device needs it. `report`, when given, says what was found and
 *  done. Runs beside other devices' writes, with an endpoint of its own. */
DeviceResult writeOneOfMany(const VerbRequest& request, const Target& target, const EnvRecord& before,
                            const QList<Change>& changes, PasswordOnce& password, QString& outcome,
                            DeviceWrite* report = nullptr);

/** The changes as `write --json` shows them: each field with its old and new value as read --json shows
 *  values (bytes no field interprets in hex). */
QJsonArray changesJson(const QList<record_fields::Difference>& differences, const EnvRecord& before,
                       const EnvRecord& after);
} // namespace cli
