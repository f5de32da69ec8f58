#include "BoundedRead.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bounded_read {
namespace {
constexpr qint64 kChunk = 64 * 1024;

#ifdef Q_OS_UNIX
/** Reads a regular file to its end, stopping one byte past `limit`. */
void readRegular(int fd, qint64 limit, Result& result)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    for (;;) {
        const qint64 before = result.bytes.size();
        const qint64 want = std::min(kChunk, limit + 1 - before);
        result.bytes.resize(before + want);
        const ssize_t n = ::read(fd, result.bytes.data() + before, static_cast<std::size_t>(want));
        result.bytes.resize(before + std::max<ssize_t>(n, 0));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = errno;
            return;
        }
        if (n == 0)
            return;
        if (result.bytes.size() > limit) {
            result.tooLarge = true;
            return;
        }
    }
}

/** Reads a stream to its end, stopping one byte past `limit` or after `idleMs` without a byte. The file
 *  stays non-blocking: every wait is a poll with a deadline. */
void readStream(int fd, qint64 limit, int idleMs, Result& result)
{
    for (;;) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, idleMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            result.error = errno;
            return;
        }
        if (ready == 0) {
            result.stalled = true;
            return;
        }
        const qint64 before = result.bytes.size();
        const qint64 want = std::min(kChunk, limit + 1 - before);
        result.bytes.resize(before + want);
        const ssize_t n = ::read(fd, result.bytes.data() + before, static_cast<std::size_t>(want));
        result.bytes.resize(before + std::max<ssize_t>(n, 0));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0) {
            result.error = errno;
            return;
        }
        // The end: the writer has closed (a hang-up with nothing left to read).
        if (n == 0)
            return;
        if (result.bytes.size() > limit) {
            result.tooLarge = true;
            return;
        }
    }
}
#endif
} // namespace

#ifdef Q_OS_UNIX
Result read(const QString& path, qint64 limit, int idleMs)
{
    Result result;
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        result.error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        result.error = EISDIR;
    } else if (S_ISREG(info.st_mode) && info.st_size > limit) {
        result.tooLarge = true;
        result.size = info.st_size;
    } else if (S_ISREG(info.st_mode)) {
        readRegular(fd, limit, result);
        result.size = result.bytes.size();
    } else {
        result.stream = true;
        readStream(fd, limit, idleMs, result);
        result.size = result.bytes.size();
    }
    ::close(fd);
    if (!result.complete())
        result.bytes.clear();
    return result;
}
#else
Result read(const QString& path, qint64 limit, int /*idleMs*/)
{
    // Elsewhere only regular files are read; the system's length decides before anything is read.
    Result result;
    const QFileInfo info(path);
    if (info.isDir()) {
        result.error = EISDIR;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = errno ? errno : ENOENT;
        return result;
    }
    result.size = file.size();
    if (result.size > limit) {
        result.tooLarge = true;
        return result;
    }
    result.bytes = file.read(limit + 1);
    result.tooLarge = result.bytes.size() > limit;
    if (result.tooLarge)
        result.bytes.clear();
    return result;
}
#endif

QString systemErrorText(int error)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    text.remove(QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QStringLiteral("[%1] %2").arg(error).arg(text.trimmed());
}
} // namespace bounded_read
