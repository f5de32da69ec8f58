#include "FirmwareImage.h"

#include "TftpPacket.h"
#include "protocol/Codec.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <span>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
/** Reads `size` bytes from `fd` into `out`; 0 or the errno of the failed read. A file that ends early
 *  was changed while it was read and counts as an I/O error. */
int readAll(int fd, char* out, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, out + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}
} // namespace

QString FirmwareImage::crcText() const
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(data, static_cast<std::size_t>(bytes.size())));
    return QStringLiteral("%1").arg(crc, 4, 16, QLatin1Char('0')).toUpper();
}

FirmwareImage FirmwareImage::load(const QString& path)
{
    FirmwareImage image;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        image.errorCode = errno;
        return image;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        image.errorCode = errno;
    } else if (S_ISDIR(info.st_mode)) {
        image.errorCode = EISDIR;
    } else if (info.st_size > static_cast<off_t>(tftp::kMaxImageLength)) {
        image.tooLarge = true;
        image.size = info.st_size;
    } else {
        image.size = info.st_size;
        image.bytes.resize(image.size);
        image.errorCode = readAll(fd, image.bytes.data(), image.size);
        if (image.errorCode != 0)
            image.bytes.clear();
    }
    ::close(fd);
    return image;
}

QString systemErrorMessage(int errorCode)
{
    QString text = QString::fromLocal8Bit(std::strerror(errorCode));
    if (text.isEmpty())
        return {};
    text.remove(QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QStringLiteral("[%1] %2").arg(errorCode).arg(text.trimmed());
}
