#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace serial {
/**
 * Moves bytes between a terminal and a TCP connection in both directions at once, one thread each way,
 * each reading straight into its buffer and writing it on: no event loop and no copy between a read and
 * its write, so a bulk transfer runs both ways on both processor cores and a single byte waits for no
 * other work. Both descriptors stay the caller's and must be non-blocking; the pump never closes them.
 *
 * A direction holds at most one read's worth of bytes: while the other side does not take them, it
 * reads no more, so a slow terminal holds the device back through TCP's own flow control, and a slow
 * connection holds the terminal's writer back.
 *
 * When the connection ends (closed by the device, or an error), `ended` is called once, from a pump
 * thread, with the system's reason. stop() then ends both threads; what each had taken and not yet
 * handed on stays in leftovers, so that nothing read is lost: the bytes for the port go out on the next
 * connection, the bytes for the terminal are written to it.
 */
class BytePump final
{
public:
    struct Leftovers
    {
        QByteArray toPort;     // read from the terminal, not taken by the connection
        QByteArray toTerminal; // read from the connection, not taken by the terminal
    };

    /** Starts both threads. `toPort` and `toTerminal` go out first, before anything read from then on. */
    BytePump(int terminalFd, int socketFd, const QByteArray& toPort, const QByteArray& toTerminal,
             std::function<void(const QString& reason)> ended);
    ~BytePump();
    BytePump(const BytePump&) = delete;
    BytePump& operator=(const BytePump&) = delete;

    /** Ends both threads (at once: neither waits for a side that does not move) and returns what they held. */
    Leftovers stop();

    /** Bytes read from the terminal, and from the connection, since the pump started. */
    std::uint64_t fromTerminal() const { return m_fromTerminal.load(std::memory_order_relaxed); }
    std::uint64_t fromPort() const { return m_fromPort.load(std::memory_order_relaxed); }

private:
    /** One direction: reads `from` into `held`, writes it to `to`, until stopped or the connection ends. */
    void run(int from, int to, bool fromSocket, QByteArray& held, std::atomic<std::uint64_t>& count);
    /** Waits until `fd` is ready for `events` or the pump is stopped; false when stopped. */
    bool wait(int fd, short events) const;
    void end(const QString& reason);

    int m_terminal;
    int m_socket;
    int m_wake = -1; // an eventfd, readable once stop() is called
    QByteArray m_toPort;
    QByteArray m_toTerminal;
    std::atomic<std::uint64_t> m_fromTerminal{0};
    std::atomic<std::uint64_t> m_fromPort{0};
    std::function<void(const QString&)> m_ended;
    std::once_flag m_endedOnce;
    std::thread m_up;   // terminal → connection
    std::thread m_down; // connection → terminal
};
} // namespace serial
