#pragma once

// The settings file (".kvx"): one device record with its CRC, then a 28-byte trailer naming the writer,
// the product and the time of saving, with a CRC of its own. Integers are little-endian. Reading checks
// the file in a fixed order and gives one outcome; a file that fails a check is never partly used.

#include "files/BoundedRead.h"
#include "record/EnvRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <array>
#include <cstdint>

namespace settings_file {
constexpr int kWrittenRecordLength = 512;
constexpr int kTrailerLength = 28;
/** Bytes around the record: its length (4), its CRC (2), the trailer length (4), the trailer (28) and
 *  the trailer's CRC (2). */
constexpr int kOverhead = 40;
/** The longest record a reader takes. */
constexpr int kMaxRecordLength = 65536;
constexpr char kMarker = '2';
constexpr std::array<std::uint8_t, 3> kWriterTag = {0x04, 0x01, 0x05};

/** What saving or reading a file ended in, as reported to the settings editor. */
enum Outcome
{
    kCannotOpen = 1, // detail: the system's error number
    kWritten = 2,
    kRead = 3,
    kDamaged = 4,         // record CRC wrong, or the length is not exactly N + 40
    kDamagedTooShort = 5, // shorter than 4 bytes, N not positive (or above the longest record), or
                          // shorter than N + 6
    kNotSettingsFile = 6, // the marker is not "2"
    kStalled = 7,         // a stream (a pipe, a FIFO) that delivered nothing for bounded_read::kStreamIdleMs
};

// The texts of settings files (string numbers): the export and import commands, which also title their
// file choosers, and the messages a refused file is answered with. Korean readers see the Korean texts
// the program always had; the English and Chinese tables carry their own.
constexpr int kStrExport = 1450;
constexpr int kStrImport = 1451;
constexpr int kStrDamaged = 1452;
constexpr int kStrNotSettingsFile = 1453;
constexpr int kStrOtherProduct = 1454;

struct Trailer
{
    std::uint32_t trailerLength = 0;
    std::uint8_t marker = 0;
    std::array<std::uint8_t, 3> writerTag{};
    std::uint16_t productCode = 0;
    std::uint8_t productSubCode = 0;
    std::uint8_t productInfoHigh = 0;
    std::uint8_t productInfoLow = 0;
    QByteArray savedAt;           // "2013/06/04 09:05:07", no terminator
    std::uint16_t trailerCrc = 0; // as read; the reader does not compare it
};

/** The product numbers a file carries, taken from a record. */
struct Product
{
    int code = 0;
    int subCode = 0;
    int infoHigh = 0;
    int infoLow = 0;

    static Product of(const EnvRecord& record);
};

/** The record as a file keeps it: the MAC zeroed, the password field hashed when a password is set. */
EnvRecord exportedRecord(EnvRecord record);

/** A whole settings file for `record` (any length above 0), saved at `savedAt` (local time). */
QByteArray encode(QByteArrayView record, const Product& product, const QDateTime& savedAt);

/** A whole settings file for `record` with the fields of `trailer` as they are (its savedAt padded with
 *  zeros or cut to 19 bytes) and the trailer's CRC computed: what decode read from a file whose trailer
 *  CRC is right writes that file back byte for byte. */
QByteArray encode(QByteArrayView record, const Trailer& trailer);

struct Decoded
{
    Outcome outcome = kDamagedTooShort;
    QByteArray record; // N bytes when the outcome is kRead
    Trailer trailer;
};

/** Reads the file at `path` (or the stream: a pipe, a FIFO) once, at most the longest settings file,
 *  never waiting forever; what decode then checks. */
bounded_read::Result readFile(const QString& path);

/** Reads a settings file's bytes with the checks in order: at least 4 bytes; N > 0, N at most 65536 and
 *  the file at least N + 6 bytes; the record CRC and the exact length N + 40; then the marker. The
 *  trailer's other fields and its CRC are read but not compared with anything. */
Decoded decode(QByteArrayView file);
} // namespace settings_file
