#include "SettingsFile.h"

#include "protocol/Codec.h"

#include <QtEndian>

#include <span>

namespace settings_file {
namespace {
constexpr int kSavedAtLength = 19;

std::uint16_t crcOf(QByteArrayView bytes)
{
    return Crc16(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::size_t>(bytes.size())));
}

template <typename T> void append(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T> T readAt(QByteArrayView in, qsizetype offset)
{
    return qFromLittleEndian<T>(in.data() + offset);
}

QByteArray trailerBytes(const Trailer& t)
{
    QByteArray trailer;
    trailer.append(static_cast<char>(t.marker));
    for (std::uint8_t b : t.writerTag)
        trailer.append(static_cast<char>(b));
    append<std::uint16_t>(trailer, t.productCode);
    trailer.append(static_cast<char>(t.productSubCode));
    trailer.append(static_cast<char>(t.productInfoHigh));
    trailer.append(static_cast<char>(t.productInfoLow));
    // The trailer's size is fixed: the timestamp takes exactly its 19 bytes.
    trailer.append(t.savedAt.leftJustified(kSavedAtLength, '\0', true));
    return trailer;
}

QByteArray savedAtText(const QDateTime& savedAt)
{
    const QDate d = savedAt.date();
    const QTime t = savedAt.time();
    return QString::asprintf("%d/%.2d/%.2d %.2d:%.2d:%.2d", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second())
        .toLatin1();
}

Trailer readTrailer(QByteArrayView t)
{
    Trailer trailer;
    trailer.trailerLength = readAt<std::uint32_t>(t, 0);
    trailer.marker = static_cast<std::uint8_t>(t[4]);
    for (int i = 0; i < 3; ++i)
        trailer.writerTag[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(t[5 + i]);
    trailer.productCode = readAt<std::uint16_t>(t, 8);
    trailer.productSubCode = static_cast<std::uint8_t>(t[10]);
    trailer.productInfoHigh = static_cast<std::uint8_t>(t[11]);
    trailer.productInfoLow = static_cast<std::uint8_t>(t[12]);
    trailer.savedAt = t.sliced(13, kSavedAtLength).toByteArray();
    trailer.trailerCrc = readAt<std::uint16_t>(t, 4 + kTrailerLength);
    return trailer;
}
} // namespace

Product Product::of(const EnvRecord& record)
{
    return Product{record.productId() >> 3, record.productId() & 7, record.productInfo() >> 4,
                   record.productInfo() & 15};
}

EnvRecord exportedRecord(EnvRecord record)
{
    if (IsPasswordSet(record.passwordField()))
        HashPassword(record.passwordField());
    record.setMac({});
    return record;
}

QByteArray encode(QByteArrayView record, const Product& product, const QDateTime& savedAt)
{
    Trailer trailer;
    trailer.trailerLength = kTrailerLength;
    trailer.marker = kMarker;
    trailer.writerTag = kWriterTag;
    trailer.productCode = static_cast<std::uint16_t>(product.code);
    trailer.productSubCode = static_cast<std::uint8_t>(product.subCode);
    trailer.productInfoHigh = static_cast<std::uint8_t>(product.infoHigh);
    trailer.productInfoLow = static_cast<std::uint8_t>(product.infoLow);
    trailer.savedAt = savedAtText(savedAt);
    return encode(record, trailer);
}

QByteArray encode(QByteArrayView record, const Trailer& trailer)
{
    QByteArray file;
    append<std::uint32_t>(file, static_cast<std::uint32_t>(record.size()));
    file.append(record.data(), record.size());
    append<std::uint16_t>(file, crcOf(record));
    append<std::uint32_t>(file, trailer.trailerLength);
    const QByteArray bytes = trailerBytes(trailer);
    file.append(bytes);
    append<std::uint16_t>(file, crcOf(bytes));
    return file;
}

Decoded decode(QByteArrayView file)
{
    Decoded decoded;
    const qsizetype length = file.size();
    if (length < 4)
        return decoded;
    const auto n = static_cast<qint64>(readAt<std::int32_t>(file, 0));
    if (n <= 0 || n > kMaxRecordLength || length < n + 6)
        return decoded;
    const QByteArrayView record = file.sliced(4, n);
    if (crcOf(record) != readAt<std::uint16_t>(file, 4 + n) || length != n + kOverhead) {
        decoded.outcome = kDamaged;
        return decoded;
    }
    decoded.trailer = readTrailer(file.sliced(6 + n, 4 + kTrailerLength + 2));
    if (decoded.trailer.marker != kMarker) {
        decoded.outcome = kNotSettingsFile;
        return decoded;
    }
    decoded.outcome = kRead;
    decoded.record = record.toByteArray();
    return decoded;
}
bounded_read::Result readFile(const QString& path)
{
    return bounded_read::read(path, kMaxRecordLength + kOverhead);
}
} // namespace settings_file
