#pragma once

#include <QString>

namespace serial {
/**
 * A pseudo-terminal in raw mode: no echo, no line editing, no translation of CR or LF, no signal
 * characters, no software flow control, 8 data bits; every byte value passes through as it is. The
 * master side is what the owner reads and writes (non-blocking); the slave side is the device a
 * program opens by its path. The owner keeps a slave descriptor open too, so the master never reads
 * end-of-file while no program has the device open, and the raw settings stay in force between users.
 */
class Pty final
{
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    /** Opens a new pseudo-terminal; false with the system's reason in `error`. */
    bool open(QString* error);
    void close();
    bool isOpen() const { return m_master >= 0; }

    int masterFd() const { return m_master; }
    /** The slave device's path, e.g. /dev/pts/3. */
    const QString& slavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

/** Puts the terminal open at `fd` in raw mode (as cfmakeraw, 8N1, reads return what is there). False
 *  with the system's reason in `error`. */
bool makeRaw(int fd, QString* error);

/** The system's text for errno `number`: "[2] No such file or directory". */
QString systemReason(int number);
} // namespace serial
