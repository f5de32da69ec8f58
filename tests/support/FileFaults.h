#pragma once

// Files that are hard to read or write, for the tests of saving and loading: a small file system of the
// test's own that is full, a file-size limit, a FIFO with a writer that may fall silent. Each undoes
// itself when it goes out of scope.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <thread>

#include <sys/resource.h>

namespace filetest {
/**
 * A 64 KiB tmpfs mounted on `folder`, in a mount namespace of the calling thread's own (so nothing of it
 * is seen outside the test), then filled up to the last byte. Needs root; `ready()` false otherwise, with
 * the reason in `why()`. Unmounted when destroyed.
 */
class FullTmpfs
{
public:
    explicit FullTmpfs(const QString& folder);
    ~FullTmpfs();
    FullTmpfs(const FullTmpfs&) = delete;
    FullTmpfs& operator=(const FullTmpfs&) = delete;

    bool ready() const { return m_why.isEmpty(); }
    const QString& why() const { return m_why; }
    /** Writes `bytes` to `name` in the folder (before it is filled, e.g. an old file to keep). */
    bool place(const QString& name, const QByteArray& bytes);
    /** Takes every free byte that is left. */
    void fill();

private:
    QString m_folder;
    QString m_why;
    bool m_mounted = false;
};

/** A file-size limit of `bytes` for the process while it lives; SIGXFSZ is ignored meanwhile, so a write
 *  past the limit fails with EFBIG instead of ending the test. */
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_before{};
    void (*m_handler)(int) = nullptr;
};

/** Makes at `path` a device node that behaves as /dev/full (every write fails with ENOSPC), so that a
 *  save that wrongly replaces what it writes to cannot replace the system's /dev/full. Needs root; the
 *  reason it could not be made, or empty. */
QString makeFullDevice(const QString& path);

/** The names in `folder` (hidden ones too), sorted: to see that a failed save left nothing behind. */
QStringList entries(const QString& folder);

/** A FIFO at `path`, made now, and optionally a writer thread that opens it, writes bytes and then closes
 *  it at once or keeps it open for a while without writing more. Removed when destroyed (after the
 *  writer has ended). SIGPIPE is ignored, so a writer whose reader has gone ends with EPIPE. */
class Fifo
{
public:
    explicit Fifo(const QString& path);
    ~Fifo();
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    bool made() const { return m_made; }
    const QString& path() const { return m_path; }
    /** Starts the writer: `bytes`, then `holdMs` of silence before the close. */
    void write(const QByteArray& bytes, int holdMs = 0);

private:
    QString m_path;
    bool m_made = false;
    std::thread m_writer;
};
} // namespace filetest
