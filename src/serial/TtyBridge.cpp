#include "TtyBridge.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>

#include <unistd.h>

namespace serial {
namespace {
constexpr qint64 kChunk = 64 * 1024;
// Held back while this much waits for the other side: the slower side sets the pace.
constexpr qint64 kHighWater = 1024 * 1024;
} // namespace

TtyBridge::TtyBridge(const PortTarget& target, QObject* parent)
    : QObject(parent), m_link(std::make_unique<PortLink>(target)), m_retry(std::make_unique<QTimer>())
{
    m_retry->setSingleShot(true);
    connect(m_retry.get(), &QTimer::timeout, m_link.get(), &PortLink::open);
    connect(m_link.get(), &PortLink::opened, this, &TtyBridge::onOpened);
    connect(m_link.get(), &PortLink::failed, this, &TtyBridge::onFailure);
    connect(m_link.get(), &PortLink::lost, this,
            [this](const QString& detail) { onFailure(Problem::Lost, detail); });
    connect(m_link.get(), &PortLink::received, this, &TtyBridge::deliver);
    connect(m_link.get(), &PortLink::bytesWritten, this, &TtyBridge::updateReading);
}

TtyBridge::~TtyBridge()
{
    stop();
}

bool TtyBridge::start(const QString& linkPath, QString* error)
{
    stop();
    if (!m_pty.open(error))
        return false;
    const QFileInfo existing(linkPath);
    if (existing.exists() || existing.isSymLink()) {
        if (!existing.isSymLink()) {
            if (error)
                *error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
            m_pty.close();
            return false;
        }
    }
    // Made beside the path and renamed over it, so the path never names nothing or something half made.
    const QByteArray target = m_pty.slavePath().toLocal8Bit();
    const QByteArray path = linkPath.toLocal8Bit();
    const QByteArray temporary = path + ".new-" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    if (::symlink(target.constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), path.constData()) != 0) {
        const int number = errno;
        ::unlink(temporary.constData());
        if (error)
            *error = systemReason(number);
        m_pty.close();
        return false;
    }
    m_linkPath = linkPath;
    m_readable = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
    m_readable->setEnabled(false);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &TtyBridge::readTerminal);
    m_writable = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &TtyBridge::writeTerminal);
    m_nextRetryMs = kFirstRetryMs;
    m_everConnected = false;
    m_interrupted = false;
    m_link->open();
    return true;
}

void TtyBridge::stop()
{
    stopPump();
    m_heldForPort.clear();
    m_retry->stop();
    m_link->close();
    m_readable.reset();
    m_writable.reset();
    if (!m_linkPath.isEmpty()) {
        // Only our own link: another run may have taken the path since.
        if (QFileInfo(m_linkPath).symLinkTarget() == m_pty.slavePath())
            ::unlink(m_linkPath.toLocal8Bit().constData());
        m_linkPath.clear();
    }
    m_pty.close();
    m_toTerminal.clear();
    m_written = 0;
}

void TtyBridge::onOpened()
{
    const bool again = m_everConnected || m_interrupted;
    m_everConnected = true;
    m_interrupted = false;
    m_nextRetryMs = kFirstRetryMs;
    startPump(); // over TCP; a UDP link stays with the event loop
    updateReading();
    emit connected(again);
}

void TtyBridge::startPump()
{
    QByteArray early;
    const int socket = m_link->releaseTcp(&early);
    if (socket < 0)
        return; // the link stays with the event loop
    m_fromPort += static_cast<quint64>(early.size());
    // The terminal's bytes not yet written go through the pump now, ahead of what the device sends next.
    QByteArray toTerminal = m_toTerminal.mid(m_written) + early;
    m_toTerminal.clear();
    m_written = 0;
    m_writable->setEnabled(false);
    m_pumpSocket = socket;
    const unsigned run = ++m_pumpRun;
    // Said from a pump thread; heard here on the event loop, unless that pump has been stopped since.
    m_pump = std::make_unique<BytePump>(
        m_pty.masterFd(), socket, m_heldForPort, toTerminal, [this, run](const QString& reason) {
            QMetaObject::invokeMethod(
                this, [this, run, reason] { onPumpEnded(run, reason); }, Qt::QueuedConnection);
        });
    m_heldForPort.clear();
}

void TtyBridge::onPumpEnded(unsigned run, const QString& reason)
{
    if (run != m_pumpRun || !m_pump)
        return;
    stopPump();
    // An orderly close has no system error to name: say it as a closed socket says it.
    onFailure(Problem::Lost, reason.isEmpty() ? QStringLiteral("The remote host closed the connection") : reason);
}

void TtyBridge::stopPump()
{
    if (!m_pump)
        return;
    const BytePump::Leftovers left = m_pump->stop();
    m_toPort += m_pump->fromTerminal();
    m_fromPort += m_pump->fromPort();
    m_pump.reset();
    ::close(m_pumpSocket);
    m_pumpSocket = -1;
    m_heldForPort = left.toPort + m_heldForPort;
    // The pump took what waited for the terminal when it started: what it hands back is all there is.
    if (!left.toTerminal.isEmpty()) {
        m_toTerminal = left.toTerminal;
        m_written = 0;
        writeTerminal();
    }
}

void TtyBridge::onFailure(Problem problem, const QString& detail)
{
    if (!m_pty.isOpen())
        return;
    m_link->close();
    m_interrupted = true;
    updateReading();
    const int retryMs = m_nextRetryMs;
    m_nextRetryMs = std::min(m_nextRetryMs * 2, kLastRetryMs);
    m_retry->start(retryMs);
    emit interrupted(problem, detail, retryMs);
}

void TtyBridge::updateReading()
{
    if (m_readable)
        m_readable->setEnabled(!m_pump && m_link->isOpen() && m_link->bytesToWrite() < kHighWater);
}

void TtyBridge::readTerminal()
{
    // A terminal hands out a few KiB a read: gather what is there (up to kChunk) and send it as one, so
    // a fast writer costs one turn of the event loop per kChunk, not one per read.
    char buffer[kChunk];
    qint64 taken = 0;
    while (taken < kChunk) {
        const ssize_t n = ::read(m_pty.masterFd(), buffer + taken, static_cast<size_t>(kChunk - taken));
        if (n <= 0)
            break; // EAGAIN: all there is. EIO cannot come while our own slave descriptor is open.
        taken += n;
    }
    if (taken == 0)
        return;
    m_toPort += static_cast<quint64>(taken);
    m_link->send(QByteArrayView(buffer, taken));
    updateReading();
}

void TtyBridge::deliver(const QByteArray& bytes)
{
    m_fromPort += static_cast<quint64>(bytes.size());
    m_toTerminal += bytes;
    writeTerminal();
}

void TtyBridge::writeTerminal()
{
    // Written from an offset and compacted now and then: a terminal takes a few KiB at a time, and
    // removing each piece from the front would move the rest every time.
    while (m_written < m_toTerminal.size()) {
        const ssize_t n = ::write(m_pty.masterFd(), m_toTerminal.constData() + m_written,
                                  static_cast<size_t>(m_toTerminal.size() - m_written));
        if (n <= 0)
            break;
        m_written += n;
    }
    if (m_written == m_toTerminal.size()) {
        m_toTerminal.clear();
        m_written = 0;
    } else if (m_written >= kChunk && m_written * 2 >= m_toTerminal.size()) {
        m_toTerminal.remove(0, m_written);
        m_written = 0;
    }
    const qint64 waiting = m_toTerminal.size() - m_written;
    m_writable->setEnabled(waiting > 0);
    m_link->setReading(waiting < kHighWater);
}
} // namespace serial
