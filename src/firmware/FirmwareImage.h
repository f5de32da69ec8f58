#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

/** A firmware file read whole into memory, or why it could not be. */
struct FirmwareImage
{
    QByteArray bytes;
    /** The system error code (errno) of a failed open or read; 0 when loaded. */
    int errorCode = 0;
    /** True when the file is longer than one upload can carry (tftp::kMaxImageLength); then it was
     *  not read and `size` says how long it is. */
    bool tooLarge = false;
    qint64 size = 0;

    bool loaded() const { return errorCode == 0 && !tooLarge; }
    /** Crc16 (CRC-16/X-25) of the image as the dialog shows it: four upper-case hex digits. */
    QString crcText() const;

    /** Reads the file at `path` as raw bytes. A file too long for one upload is refused after its
     *  length has been looked at, before anything is read. */
    static FirmwareImage load(const QString& path);
};

/** "[%d] %s": the system's text for an error code, its line breaks removed. Empty when the system has
 *  no text for the code. */
QString systemErrorMessage(int errorCode);
