// The settings-file reader and writer. Arbitrary bytes: the outcome follows the checks in their order,
// and a file the reader accepts is written back from what it read identically (but for the trailer's
// CRC when the file's own is wrong: the writer computes it). Fuzzed records, products and times: what
// the writer makes, the reader accepts with the same record, product and timestamp.

#include "FuzzCheck.h"
#include "record/SettingsFile.h"
#include "protocol/Codec.h"

#include <QtEndian>

#include <memory>

using namespace settings_file;

namespace {
QString hex(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().left(96).toHex()) + QStringLiteral("… (%1 bytes)").arg(bytes.size());
}

std::uint16_t crc(QByteArrayView b)
{
    return Crc16({reinterpret_cast<const std::uint8_t*>(b.data()), static_cast<std::size_t>(b.size())});
}

/** The outcome the checks give, worked out apart from decode. */
Outcome expectedOutcome(QByteArrayView file)
{
    const qsizetype length = file.size();
    if (length < 4)
        return kDamagedTooShort;
    const qint64 n = qFromLittleEndian<qint32>(file.data());
    if (n <= 0 || n > kMaxRecordLength || length < n + 6)
        return kDamagedTooShort;
    if (crc(file.sliced(4, n)) != qFromLittleEndian<quint16>(file.data() + 4 + n) || length != n + kOverhead)
        return kDamaged;
    return file[10 + n] == kMarker ? kRead : kNotSettingsFile;
}

void readAndWriteBack(QByteArrayView file)
{
    const Decoded decoded = decode(file);
    FUZZ_CHECK(decoded.outcome == expectedOutcome(file), hex(file));
    if (decoded.outcome != kRead) {
        FUZZ_CHECK(decoded.record.isEmpty(), hex(file));
        return;
    }
    const qsizetype n = decoded.record.size();
    FUZZ_CHECK(file.size() == n + kOverhead && decoded.record == file.sliced(4, n), hex(file));
    const QByteArray written = encode(decoded.record, decoded.trailer);
    const bool trailerCrcRight = crc(file.sliced(10 + n, kTrailerLength)) == decoded.trailer.trailerCrc;
    if (trailerCrcRight)
        FUZZ_CHECK(written == file, hex(file) + QStringLiteral("\nwritten back as\n") + hex(written));
    else
        FUZZ_CHECK(written.first(written.size() - 2) == file.first(file.size() - 2), hex(file));
    // What was written back reads the same again.
    const Decoded again = decode(written);
    FUZZ_CHECK(again.outcome == kRead && again.record == decoded.record, hex(written));
    FUZZ_CHECK(again.trailer.savedAt == decoded.trailer.savedAt &&
                   again.trailer.productCode == decoded.trailer.productCode,
               hex(written));
}

void writeAndRead(FuzzedDataProvider& in)
{
    const QByteArray record = fuzz::bytes(in, 700);
    if (record.isEmpty())
        return;
    Product product;
    product.code = in.ConsumeIntegralInRange(0, 31);
    product.subCode = in.ConsumeIntegralInRange(0, 7);
    product.infoHigh = in.ConsumeIntegralInRange(0, 15);
    product.infoLow = in.ConsumeIntegralInRange(0, 15);
    const QDate date(in.ConsumeIntegralInRange(1000, 9999), in.ConsumeIntegralInRange(1, 12),
                     in.ConsumeIntegralInRange(1, 28));
    const QTime time(in.ConsumeIntegralInRange(0, 23), in.ConsumeIntegralInRange(0, 59),
                     in.ConsumeIntegralInRange(0, 59));
    const QByteArray file = encode(record, product, QDateTime(date, time));
    FUZZ_CHECK(file.size() == record.size() + kOverhead, hex(file));
    const Decoded decoded = decode(file);
    FUZZ_CHECK(decoded.outcome == kRead && decoded.record == record, hex(file));
    const Trailer& t = decoded.trailer;
    FUZZ_CHECK(t.trailerLength == kTrailerLength && t.writerTag == kWriterTag, hex(file));
    FUZZ_CHECK(t.productCode == product.code && t.productSubCode == product.subCode &&
                   t.productInfoHigh == product.infoHigh && t.productInfoLow == product.infoLow,
               hex(file));
    const QByteArray stamp = QStringLiteral("%1/%2/%3 %4:%5:%6")
                                 .arg(date.year())
                                 .arg(date.month(), 2, 10, QLatin1Char('0'))
                                 .arg(date.day(), 2, 10, QLatin1Char('0'))
                                 .arg(time.hour(), 2, 10, QLatin1Char('0'))
                                 .arg(time.minute(), 2, 10, QLatin1Char('0'))
                                 .arg(time.second(), 2, 10, QLatin1Char('0'))
                                 .toLatin1();
    FUZZ_CHECK(t.savedAt == stamp, QString::fromLatin1(t.savedAt));
    FUZZ_CHECK(crc(QByteArrayView(file).sliced(10 + record.size(), kTrailerLength)) == t.trailerCrc, hex(file));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] == 'W') {
        FuzzedDataProvider in(data + 1, size - 1);
        writeAndRead(in);
        return 0;
    }
    // A heap copy of exactly the file, so a read past its end is a finding.
    const auto copy = std::make_unique<char[]>(size);
    std::copy(data, data + size, copy.get());
    readAndWriteBack(QByteArrayView(copy.get(), static_cast<qsizetype>(size)));
    return 0;
}
