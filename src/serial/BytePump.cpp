#include "BytePump.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace serial {
namespace {
// One read's worth: a terminal hands out a few KiB at a time, a socket up to this much.
constexpr std::size_t kChunk = 64 * 1024;

QString reasonOf(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}
} // namespace

BytePump::BytePump(int terminalFd, int socketFd, const QByteArray& toPort, const QByteArray& toTerminal,
                   std::function<void(const QString&)> ended)
    : m_terminal(terminalFd), m_socket(socketFd), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_toPort(toPort),
      m_toTerminal(toTerminal), m_ended(std::move(ended))
{
    if (m_wake < 0) {
        // Without a way to wake the threads they could not be stopped: carry nothing, say why.
        end(reasonOf(errno));
        return;
    }
    m_up = std::thread([this] { run(m_terminal, m_socket, false, m_toPort, m_fromTerminal); });
    m_down = std::thread([this] { run(m_socket, m_terminal, true, m_toTerminal, m_fromPort); });
}

BytePump::~BytePump()
{
    stop();
    if (m_wake >= 0)
        ::close(m_wake);
}

BytePump::Leftovers BytePump::stop()
{
    if (m_wake >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
    }
    if (m_up.joinable())
        m_up.join();
    if (m_down.joinable())
        m_down.join();
    Leftovers left{m_toPort, m_toTerminal};
    m_toPort.clear();
    m_toTerminal.clear();
    return left;
}

bool BytePump::wait(int fd, short events) const
{
    pollfd fds[2] = {{fd, events, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[1].revents & POLLIN))
            return false;
        // An error or hang-up on the descriptor is ready too: the next read or write says which.
        return true;
    }
}

void BytePump::end(const QString& reason)
{
    std::call_once(m_endedOnce, [&] {
        if (m_ended)
            m_ended(reason);
    });
}

void BytePump::run(int from, int to, bool fromSocket, QByteArray& held, std::atomic<std::uint64_t>& count)
{
    const bool toSocket = !fromSocket;
    // What `held` had at the start goes first; from then on the bytes pass through `buffer`.
    std::vector<char> buffer(kChunk);
    const char* data = held.constData();
    std::size_t size = static_cast<std::size_t>(held.size());
    bool fromHeld = size > 0;
    for (;;) {
        if (size > 0) {
            const ssize_t n = toSocket ? ::send(to, data, size, MSG_NOSIGNAL) : ::write(to, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (wait(to, POLLOUT))
                    continue;
                break; // stopped
            }
            end(reasonOf(n < 0 ? errno : EPIPE));
            wait(-1, 0); // hold what is left until stopped
            break;
        }
        if (fromHeld) {
            fromHeld = false;
            held.clear();
        }
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n > 0) {
            count.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
            data = buffer.data();
            size = static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (wait(from, POLLIN))
                continue;
            break; // stopped
        }
        // The device closed the connection (0), or it failed; a terminal does not end while we hold it.
        end(n == 0 ? QString() : reasonOf(errno));
        wait(-1, 0);
        break;
    }
    // Keep what was taken and not handed on, for the next connection or the terminal.
    held = size > 0 ? QByteArray(data, static_cast<qsizetype>(size)) : QByteArray();
}
} // namespace serial
