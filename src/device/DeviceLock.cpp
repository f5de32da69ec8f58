#include "device/DeviceLock.h"

#include "device/DeviceName.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace device {
namespace {
/** Makes `folder` (if missing) shared by every local user: rwx for all, with the sticky bit so that only
 *  a lock's owner can remove it. True when it is a real folder (not a link) afterwards. */
bool sharedFolder(const QString& folder)
{
    const QFileInfo before(folder);
    if (before.isSymLink())
        return false;
    if (!before.exists() && !QDir().mkpath(folder))
        return false;
#ifdef Q_OS_UNIX
    constexpr mode_t kShared = S_ISVTX | S_IRWXU | S_IRWXG | S_IRWXO;
    struct stat st{};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if ((st.st_mode & 07777) != kShared && st.st_uid == ::geteuid())
        ::chmod(QFile::encodeName(folder).constData(), kShared);
    return true;
#else
    return QFileInfo(folder).isDir();
#endif
}
} // namespace

QString lockFolder()
{
    const QString chosen = qEnvironmentVariable("CORMAPMP_LOCK_DIR");
    if (!chosen.isEmpty())
        return QDir().mkpath(chosen) && QFileInfo(chosen).isDir() ? chosen : QString();
    const QStringList candidates{QStringLiteral("/run/lock/cormapmp"),
                                 QDir(QDir::tempPath()).filePath(QStringLiteral("cormapmp-locks"))};
    for (const QString& folder : candidates) {
        if (QFileInfo(QFileInfo(folder).path()).isDir() && sharedFolder(folder) &&
            QFileInfo(folder).isWritable())
            return folder;
    }
    return {};
}

DeviceLock::DeviceLock(const std::array<std::uint8_t, 6>& mac)
{
    const QString folder = lockFolder();
    if (!folder.isEmpty())
        m_path = QDir(folder).filePath(QStringLiteral("cormapmp-%1.lock").arg(macText(mac).replace(u':', u'-')));
}

DeviceLock::~DeviceLock() = default;

bool DeviceLock::tryAcquire()
{
    return acquire(0);
}

bool DeviceLock::acquire(int waitMs)
{
    if (m_path.isEmpty())
        return true;
    if (m_file && m_file->isLocked())
        return true;
    m_file = std::make_unique<QLockFile>(m_path);
    if (m_file->tryLock(waitMs))
        return true;
    // A lock file that cannot be made at all (a read-only folder) is no reason to refuse the write.
    return m_file->error() == QLockFile::PermissionError;
}

void DeviceLock::release()
{
    if (m_file)
        m_file->unlock();
}

QString DeviceLock::holder() const
{
    QLockFile probe(m_path);
    qint64 pid = 0;
    QString host;
    QString program;
    if (m_path.isEmpty() || !probe.getLockInfo(&pid, &host, &program))
        return {};
    return program.isEmpty() ? QStringLiteral("process %1 on %2").arg(pid).arg(host)
                             : QStringLiteral("process %1 (%2) on %3").arg(pid).arg(program, host);
}
} // namespace device
