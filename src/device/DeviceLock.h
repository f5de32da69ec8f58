#pragma once

// Writers on one machine take turns on a device: one lock file per device (by its MAC) in one folder for
// the whole machine, whoever runs the writer and from wherever (a login shell, cron, the desktop
// program), so two writers never miss each other's lock.

#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class QLockFile;

namespace device {
/** How long a writer waits for another one that holds the same device. */
constexpr int kLockWaitMs = 10000;

/** The folder of the device locks: $CORMAPMP_LOCK_DIR when set (a test, or an administrator who wants
 *  another place), else "cormapmp" in /run/lock, else "cormapmp-locks" in the temporary folder; made
 *  world-writable with the sticky bit, as /run/lock itself, so that every local user's writers share it.
 *  Empty when none can be had. */
QString lockFolder();

class DeviceLock
{
public:
    explicit DeviceLock(const std::array<std::uint8_t, 6>& mac);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    /** Takes the lock if nobody holds it; never waits. True also when no lock file can be made at all
     *  (no folder, a read-only one): the checks before and after the write still guard the device. */
    bool tryAcquire();
    /** Waits at most `waitMs` for the writer that holds the device; true once this one holds it. */
    bool acquire(int waitMs = kLockWaitMs);
    /** Gives the lock back (the destructor does too). */
    void release();
    /** Who holds the lock now, as "process 4242 (cormapmp-cli) on host", or empty when unknown. */
    QString holder() const;
    /** The lock file's path; empty when there is no folder for it. */
    const QString& path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_file;
};
} // namespace device
