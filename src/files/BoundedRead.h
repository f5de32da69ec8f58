#pragma once

// Reading a whole file of bounded length that may also be a stream (a pipe, a FIFO, a device such as
// /dev/stdin): read once, with the limit applied while reading, and never waiting forever.

#include <QByteArray>
#include <QString>

namespace bounded_read {
/** How long a stream may deliver nothing before the read gives up. */
constexpr int kStreamIdleMs = 10000;

struct Result
{
    /** What was read: the whole content when complete(). */
    QByteArray bytes;
    /** The system's error number of a failed open or read (EISDIR for a folder); 0 otherwise. */
    int error = 0;
    /** More than the limit: a regular file whose length says so is not read at all, a stream is read
     *  only up to one byte beyond the limit. */
    bool tooLarge = false;
    /** A stream that delivered nothing for kStreamIdleMs (a FIFO nobody writes to, a terminal). */
    bool stalled = false;
    /** Not a regular file: a pipe, FIFO, socket or device. */
    bool stream = false;
    /** The length of a regular file as the system gives it, or the bytes a stream delivered. */
    qint64 size = 0;

    bool complete() const { return error == 0 && !tooLarge && !stalled; }
};

/**
 * Reads the file at `path`, at most `limit` bytes. A regular file longer than `limit` is refused from its
 * length; one that grows while it is read is refused when it passes `limit`. Anything else is read as a
 * stream until its end, refused once it passes `limit`, and given up when nothing comes for `idleMs`.
 * Opening never blocks (a FIFO without a writer opens at once and then waits like any silent stream).
 */
Result read(const QString& path, qint64 limit, int idleMs = kStreamIdleMs);

/** "[2] No such file or directory": the system's number and text for `error`, its line breaks removed. */
QString systemErrorText(int error);
} // namespace bounded_read
