#include "SafeSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace safe_save {
QString Outcome::errorText() const
{
    return QStringLiteral("[%1] %2").arg(error).arg(QString::fromLocal8Bit(std::strerror(error)).remove(u'\n'));
}

#ifdef Q_OS_UNIX
namespace {
/** Writes every byte to `fd`; 0 or the errno of the write that failed. A write that takes nothing
 *  counts as a full device. */
int writeAll(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    return 0;
}

/** Writes into something that is not a regular file (a device, a pipe): in place, as there is nothing
 *  to keep. */
int writeInPlace(const QByteArray& target, QByteArrayView bytes)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Blocking writes from here on: a pipe whose reader is slow is waited for, not refused.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

/** Creates a new file beside `target`, with `mode` (the umask applies); its path in `temporary`. */
int createBeside(const QByteArray& target, mode_t mode, QByteArray& temporary, int& fd)
{
    const QFileInfo info(QFile::decodeName(target));
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = QFile::encodeName(
            info.dir().filePath(QStringLiteral(".%1.%2.part")
                                    .arg(info.fileName())
                                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))));
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd >= 0 ? 0 : errno;
    }
    return EEXIST;
}

/** Writes, flushes and closes the new file; 0 or the first failure's errno. The file descriptor is
 *  closed either way. */
int fill(int fd, QByteArrayView bytes, const struct stat* old)
{
    int error = writeAll(fd, bytes);
    if (error == 0 && old) {
        // The replacement keeps the old file's permissions and, where the process may, its owner.
        if (::fchmod(fd, old->st_mode & 07777) != 0)
            error = errno;
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
            // Not owning the old file is no reason to refuse the save.
        }
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

void syncFolder(const QByteArray& target)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void ignoreFileSizeSignal()
{
    // Past a file-size limit the system sends SIGXFSZ, which would end the program in the middle of the
    // write; ignored, the write fails with EFBIG and the old file is kept.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}
} // namespace

Outcome save(const QString& path, QByteArrayView bytes)
{
    ignoreFileSizeSignal();
    QByteArray target = QFile::encodeName(path);
    struct stat old = {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return {S_ISDIR(old.st_mode) ? EISDIR : writeInPlace(target, bytes)};
    // Through a symbolic link, the file it names is the one replaced.
    if (exists && QFileInfo(path).isSymLink())
        target = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    QByteArray temporary;
    int fd = -1;
    if (const int error = createBeside(target, exists ? (old.st_mode & 07777) : 0666, temporary, fd))
        return {error};
    int error = fill(fd, bytes, exists ? &old : nullptr);
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return {error};
    }
    syncFolder(target);
    return {};
}
#else
Outcome save(const QString& path, QByteArrayView bytes)
{
    // Elsewhere QSaveFile replaces the file; each step is checked, and the result read back.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {errno ? errno : EIO};
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush()) {
        const int error = errno ? errno : EIO;
        file.cancelWriting();
        return {error};
    }
    if (!file.commit())
        return {errno ? errno : EIO};
    return {QFileInfo(path).size() == bytes.size() ? 0 : EIO};
}
#endif
} // namespace safe_save
