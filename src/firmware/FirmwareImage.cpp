#include "FirmwareImage.h"

#include "TftpPacket.h"
#include "files/BoundedRead.h"
#include "protocol/Codec.h"
#include "text/StringTable.h"

#include <QLocale>

#include <cstring>
#include <span>

namespace {
constexpr int kStrTooLarge = 923;
constexpr int kStrStreamTooLarge = 1100;
constexpr int kStrStalled = 1101;
constexpr int kStrEmptyStream = 1102;
constexpr int kMsPerSecond = 1000;
} // namespace

QString FirmwareImage::crcText() const
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(data, static_cast<std::size_t>(bytes.size())));
    return QStringLiteral("%1").arg(crc, 4, 16, QLatin1Char('0')).toUpper();
}

QString FirmwareImage::problemText(const StringTable& strings, const QLocale& locale, const QString& fileName) const
{
    if (errorCode != 0)
        return systemErrorMessage(errorCode);
    if (tooLarge && stream)
        return strings.text(kStrStreamTooLarge).arg(fileName, locale.toString(tftp::kMaxImageLength));
    if (tooLarge)
        return strings.text(kStrTooLarge).arg(fileName, locale.toString(size), locale.toString(tftp::kMaxImageLength));
    if (stalled)
        return strings.text(kStrStalled).arg(fileName).arg(bounded_read::kStreamIdleMs / kMsPerSecond);
    if (emptyStream())
        return strings.text(kStrEmptyStream).arg(fileName);
    return {};
}

FirmwareImage FirmwareImage::load(const QString& path)
{
    const bounded_read::Result read = bounded_read::read(path, tftp::kMaxImageLength);
    FirmwareImage image;
    image.bytes = read.bytes;
    image.errorCode = read.error;
    image.tooLarge = read.tooLarge;
    image.stalled = read.stalled;
    image.stream = read.stream;
    image.size = read.size;
    return image;
}

QString systemErrorMessage(int errorCode)
{
    if (QString::fromLocal8Bit(std::strerror(errorCode)).isEmpty())
        return {};
    return bounded_read::systemErrorText(errorCode);
}
