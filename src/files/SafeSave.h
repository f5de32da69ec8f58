#pragma once

// Saving a whole file so that it never ends up half written: the bytes go to a new file beside it, every
// write, the flush to the disk and the close are checked, and only a complete file replaces the old one.

#include <QByteArrayView>
#include <QString>

namespace safe_save {
/** How a save ended: 0, or the system's error number of the step that failed. */
struct Outcome
{
    int error = 0;
    bool saved() const { return error == 0; }
    /** "[28] No space left on device": the system's number and text, as the program shows system errors. */
    QString errorText() const;
};

/**
 * Writes `bytes` as the whole content of the file at `path`. A regular file (or a new one) is written to
 * a temporary file in the same folder and renamed over the old one only when every byte has been written
 * and flushed to the disk, so on any failure (a full disk, a file-size limit, an I/O error) the old file
 * stays as it was and no temporary file is left. A symbolic link is followed (the file it names is
 * replaced, the link stays); a replaced file keeps its permissions. Something that is not a regular file
 * (a device, a pipe) is written in place, each write checked; a pipe nobody reads fails at once rather
 * than waiting. A file-size limit makes the write fail (EFBIG) instead of ending the program.
 */
Outcome save(const QString& path, QByteArrayView bytes);
} // namespace safe_save
