#include "FileFaults.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace filetest {
namespace {
QString reason(const char* step)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(errno)));
}

/** Gives the calling thread a mount namespace of its own, once, where mounts do not propagate back. */
QString privateMounts()
{
    static const QString why = [] {
        if (::geteuid() != 0)
            return QStringLiteral("needs root to mount a small file system");
        if (::unshare(CLONE_NEWNS) != 0)
            return reason("unshare(CLONE_NEWNS)");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return reason("making mounts private");
        return QString();
    }();
    return why;
}
} // namespace

FullTmpfs::FullTmpfs(const QString& folder) : m_folder(folder)
{
    m_why = privateMounts();
    if (!m_why.isEmpty())
        return;
    if (::mount("cormaptest", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") != 0) {
        m_why = reason("mount tmpfs");
        return;
    }
    m_mounted = true;
}

FullTmpfs::~FullTmpfs()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

bool FullTmpfs::place(const QString& name, const QByteArray& bytes)
{
    QFile file(QDir(m_folder).filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

void FullTmpfs::fill()
{
    QFile filler(QDir(m_folder).filePath(QStringLiteral(".filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(512, 'f');
    while (filler.write(block) == block.size()) {
    }
    const QByteArray byte(1, 'f');
    while (filler.write(byte) == 1) {
    }
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &m_before);
    rlimit limit = m_before;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_before);
    std::signal(SIGXFSZ, m_handler);
}

QString makeFullDevice(const QString& path)
{
    constexpr unsigned kMemoryDevices = 1; // the major number of /dev/null, /dev/zero and /dev/full
    constexpr unsigned kFull = 7;
    if (::geteuid() != 0)
        return QStringLiteral("needs root to make a device node");
    if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(kMemoryDevices, kFull)) != 0)
        return reason("mknod");
    return {};
}

QStringList entries(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}
Fifo::Fifo(const QString& path) : m_path(path)
{
    std::signal(SIGPIPE, SIG_IGN);
    m_made = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

Fifo::~Fifo()
{
    if (m_writer.joinable())
        m_writer.join();
    QFile::remove(m_path);
}

void Fifo::write(const QByteArray& bytes, int holdMs)
{
    const QByteArray path = QFile::encodeName(m_path);
    m_writer = std::thread([path, bytes, holdMs] {
        const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        if (holdMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        ::close(fd);
    });
}
} // namespace filetest
