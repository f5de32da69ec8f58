#pragma once

// Two writers on one device must not silently undo each other: every write sends the whole record, so
// before it goes out the device is read again and compared with the record the changes were made on.
// Command-line runs on one machine also take turns on a device through a lock file.

#include "EditorRequests.h"
#include "record/EnvRecord.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class CNetEnv;
class QLockFile;

namespace cli {
/** How long a run waits for another run on the same device to finish. */
constexpr int kLockWaitMs = 10000;

/** This machine's command-line runs take turns on one device: one lock file per device (by its MAC) in
 *  the user's runtime folder (XDG_RUNTIME_DIR, else a folder of the user's own in the temporary folder).
 *  The lock ends with the object, or with the process. */
class DeviceLock
{
public:
    explicit DeviceLock(const std::array<std::uint8_t, 6>& mac);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    /** Waits at most `waitMs` for another run that holds the device; true once this run holds it. True
     *  also when no lock file can be made at all: the check before the write still guards the device. */
    bool acquire(int waitMs = kLockWaitMs);
    /** The lock file's path; empty when there is no folder for it. */
    const QString& path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_file;
};

/** Makes a run's changes on a record of the device's settings; why they cannot be made, or nothing. */
using MakeChanges = std::function<std::optional<QString>(EnvRecord&)>;

/** What the check before a write found. */
struct WriteCheck
{
    enum Result
    {
        Unchanged, // the device still holds `before`: write `after`
        Remade,    // changed in other fields: the changes were made again on the new settings
        Conflict,  // changed in a field the changes touch, or changed again: nothing may be written
        Refused,   // the changes cannot be made on the new settings (`reason`)
        NoAnswer,  // the device did not answer the read
    } result = Unchanged;
    /** The fields changed since `before` was read (by read --json's names). */
    QStringList changed;
    QString reason;

    bool mayWrite() const { return result == Unchanged || result == Remade; }
};

/**
 * Before a write: reads the device again and compares it with `before`, the record the changes were made
 * on, apart from what the device changes by itself (its password field, the source address). Unchanged:
 * `after` is to be written. Changed only in fields the changes do not touch: the changes are made again
 * on the new settings (`before` and `after` are replaced) and the device is checked once more; a second
 * change in between, or a change in a field the changes touch, is a Conflict. The changes touch the
 * fields that differ between `before` and `after` and the fields `claimed` (those they set even where
 * the value stays the same, e.g. every field a settings file carries).
 */
WriteCheck checkBeforeWrite(CNetEnv& env, const Target& target, EnvRecord& before, EnvRecord& after,
                            const MakeChanges& makeChanges, const QStringList& claimed = {});

/** The fields an import of a settings file sets on `record` (by read --json's names). */
QStringList importedFields(const EnvRecord& record);

/** The line that says why nothing was written to the device `device` (a Conflict, Refused or NoAnswer;
 *  a lock not had within its wait when `locked` is false). */
QString notWrittenText(const WriteCheck& check, const QString& device, bool locked = true);

/** The line that says the changes were made again on settings someone else had changed (Remade). */
QString remadeText(const WriteCheck& check, const QString& device);
} // namespace cli
