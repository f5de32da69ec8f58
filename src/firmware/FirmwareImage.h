#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

class QLocale;
class StringTable;

/** A firmware file read whole into memory, or why it could not be. */
struct FirmwareImage
{
    QByteArray bytes;
    /** The system error code (errno) of a failed open or read; 0 when loaded. */
    int errorCode = 0;
    /** True when the file is longer than one upload can carry (tftp::kMaxImageLength); then nothing of it
     *  is kept. `size` says how long a regular file is; of a stream, only that it went past the limit. */
    bool tooLarge = false;
    /** A pipe, FIFO or device that delivered nothing for bounded_read::kStreamIdleMs. */
    bool stalled = false;
    /** Not a regular file (a pipe, FIFO or device). */
    bool stream = false;
    qint64 size = 0;

    /** A stream that ended without a byte: there is no image to send (an empty regular file is one). */
    bool emptyStream() const { return stream && errorCode == 0 && !tooLarge && !stalled && bytes.isEmpty(); }
    bool loaded() const { return errorCode == 0 && !tooLarge && !stalled && !emptyStream(); }
    /** Crc16 (CRC-16/X-25) of the image as the dialog shows it: four upper-case hex digits. */
    QString crcText() const;
    /** Why the image is not loaded, in the user's words (`fileName` names the file); empty when loaded. */
    QString problemText(const StringTable& strings, const QLocale& locale, const QString& fileName) const;

    /** Reads the file at `path` as raw bytes, once, as a stream if it is one: a regular file longer than
     *  one upload can carry is refused from its length, before anything is read; a stream is refused as
     *  soon as it passes that length, and given up when it delivers nothing for a while. The image sent
     *  is always exactly the bytes read. */
    static FirmwareImage load(const QString& path);
};

/** "[%d] %s": the system's text for an error code, its line breaks removed. Empty when the system has
 *  no text for the code. */
QString systemErrorMessage(int errorCode);
