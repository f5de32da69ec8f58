#include "WriteGuard.h"

#include "CliMessages.h"
#include "DeviceTargets.h"
#include "net/CNetEnv.h"
#include "record/RecordFields.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace cli {
namespace {
constexpr int kStrConflict = 1104;
constexpr int kStrRemade = 1105;
constexpr int kStrLockTimeout = 1106;
constexpr int kMsPerSecond = 1000;

QString userTag()
{
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#endif
}

/** The folder of the lock files: the user's runtime folder, else a folder of the user's own (made
 *  private) in the temporary folder; empty when neither can be had. */
QString lockFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                               .filePath(QStringLiteral("cormapmp-") + userTag());
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QFileInfo info(folder);
#ifdef Q_OS_UNIX
    // A folder of that name made by someone else is not used.
    if (!info.isDir() || info.ownerId() != ::getuid())
        return {};
#endif
    return info.isDir() ? folder : QString();
}

bool overlap(const QStringList& ours, const QStringList& theirs)
{
    return std::any_of(ours.begin(), ours.end(), [&theirs](const QString& f) { return theirs.contains(f); });
}
} // namespace

DeviceLock::DeviceLock(const std::array<std::uint8_t, 6>& mac)
{
    const QString folder = lockFolder();
    if (!folder.isEmpty())
        m_path = QDir(folder).filePath(QStringLiteral("cormapmp-%1.lock").arg(macText(mac).replace(u':', u'-')));
}

DeviceLock::~DeviceLock() = default;

bool DeviceLock::acquire(int waitMs)
{
    if (m_path.isEmpty())
        return true;
    m_file = std::make_unique<QLockFile>(m_path);
    if (m_file->tryLock(waitMs))
        return true;
    // A lock file that cannot be made at all (a read-only folder) is no reason to refuse the write.
    return m_file->error() == QLockFile::PermissionError;
}

WriteCheck checkBeforeWrite(CNetEnv& env, const Target& target, EnvRecord& before, EnvRecord& after,
                            const MakeChanges& makeChanges, const QStringList& claimed)
{
    WriteCheck check;
    for (int attempt = 0;; ++attempt) {
        if (readTarget(env, target) != Outcome::Answered) {
            check.result = WriteCheck::NoAnswer;
            return check;
        }
        const EnvRecord now = env.record(0);
        const QStringList changed = record_fields::changedSettings(before, now);
        if (changed.isEmpty()) {
            check.result = attempt == 0 ? WriteCheck::Unchanged : WriteCheck::Remade;
            return check;
        }
        check.changed = changed;
        if (attempt > 0 || overlap(record_fields::changedSettings(before, after) + claimed, changed)) {
            check.result = WriteCheck::Conflict;
            return check;
        }
        EnvRecord remade = now;
        if (const std::optional<QString> refused = makeChanges(remade)) {
            check.result = WriteCheck::Refused;
            check.reason = *refused;
            return check;
        }
        before = now;
        after = remade;
    }
}

QStringList importedFields(const EnvRecord& record)
{
    return record_fields::importedSettings(record);
}

QString notWrittenText(const WriteCheck& check, const QString& device, bool locked)
{
    if (!locked)
        return programText(kStrLockTimeout).arg(device).arg(kLockWaitMs / kMsPerSecond);
    switch (check.result) {
    case WriteCheck::NoAnswer:
        return failureLine(Outcome::NoAnswer, {});
    case WriteCheck::Refused:
        return check.reason;
    default:
        return programText(kStrConflict).arg(device, check.changed.join(QStringLiteral(", ")));
    }
}

QString remadeText(const WriteCheck& check, const QString& device)
{
    return programText(kStrRemade).arg(device, check.changed.join(QStringLiteral(", ")));
}
} // namespace cli
