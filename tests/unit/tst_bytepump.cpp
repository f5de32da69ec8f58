// The pump between a terminal and a connection: bytes pass both ways at once, every value unchanged and
// in order, with what it was handed at the start going first; the device's last bytes before it closes
// reach the terminal and the close is said once; and a pump stopped while neither side takes anything
// returns at once and loses nothing: what it held comes back as leftovers, in order. The connection is a
// local socket pair, the terminal a raw pseudo-terminal whose slave the test plays.

#include "serial/BytePump.h"
#include "serial/Pty.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using serial::BytePump;

namespace {
constexpr int kWaitMs = 10000;

/** `size` bytes running through every value, different for each `seed`. */
QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

/** Reads from `fd` until `size` bytes are in or the wait ends. */
QByteArray readUntil(int fd, qsizetype size)
{
    QByteArray got;
    char buffer[65536];
    QElapsedTimer clock;
    clock.start();
    while (got.size() < size && clock.elapsed() < kWaitMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, n);
    }
    return got;
}

/** Everything `fd` holds now (non-blocking). */
QByteArray drain(int fd)
{
    QByteArray got;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    return got;
}

/** Writes all of `bytes` to `fd`, waiting when it is full. */
bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype at = 0;
    QElapsedTimer clock;
    clock.start();
    while (at < bytes.size() && clock.elapsed() < kWaitMs) {
        const ssize_t n = ::write(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
        if (n > 0) {
            at += n;
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
    return at == bytes.size();
}

/** Writes to `fd` until it takes no more; what it took. */
QByteArray fill(int fd, int seed)
{
    const QByteArray chunk = pattern(4096, seed);
    QByteArray taken;
    for (ssize_t n; (n = ::write(fd, chunk.constData(), static_cast<size_t>(chunk.size()))) > 0;)
        taken.append(chunk.constData(), n);
    return taken;
}
} // namespace

class TestBytePump : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bothWaysAtOnceWithWhatWasHeldFirst();
    void theDevicesLastBytesArriveAndTheCloseIsSaidOnce();
    void stoppedWhileNothingMovesLosesNothing();

private:
    serial::Pty m_pty;
    int m_terminal = -1;            // the slave: what a program using the serial device has
    int m_connection[2] = {-1, -1}; // [0] the pump's end, [1] the device's
};

void TestBytePump::init()
{
    QString error;
    QVERIFY2(m_pty.open(&error), qPrintable(error));
    m_terminal = ::open(m_pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(m_terminal >= 0);
    QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_connection) == 0);
    setNonBlocking(m_connection[0]);
    setNonBlocking(m_connection[1]);
}

void TestBytePump::cleanup()
{
    for (int* fd : {&m_terminal, &m_connection[0], &m_connection[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_pty.close();
}

void TestBytePump::bothWaysAtOnceWithWhatWasHeldFirst()
{
    const QByteArray heldForPort = pattern(3000, 11);
    const QByteArray heldForTerminal = pattern(5000, 12);
    const QByteArray up = pattern(1 << 20, 1);   // a program writes to the serial device
    const QByteArray down = pattern(1 << 20, 2); // the device sends
    std::atomic<int> ends{0};
    BytePump pump(m_pty.masterFd(), m_connection[0], heldForPort, heldForTerminal, [&](const QString&) { ++ends; });

    // Each side writes and reads at the same time, as a program and a device do.
    QByteArray atDevice, atTerminal;
    bool deviceWrote = false;
    std::thread device([&] {
        std::thread reader([&] { atDevice = readUntil(m_connection[1], heldForPort.size() + up.size()); });
        deviceWrote = writeAll(m_connection[1], down);
        reader.join();
    });
    std::thread reader([&] { atTerminal = readUntil(m_terminal, heldForTerminal.size() + down.size()); });
    const bool terminalWrote = writeAll(m_terminal, up);
    reader.join();
    device.join();

    QVERIFY(terminalWrote);
    QVERIFY(deviceWrote);
    QCOMPARE(atDevice.size(), heldForPort.size() + up.size());
    QVERIFY(atDevice == heldForPort + up);
    QCOMPARE(atTerminal.size(), heldForTerminal.size() + down.size());
    QVERIFY(atTerminal == heldForTerminal + down);
    // Counted as read: what came from each side, not what the pump was handed.
    QCOMPARE(pump.fromTerminal(), std::uint64_t(up.size()));
    QCOMPARE(pump.fromPort(), std::uint64_t(down.size()));
    const BytePump::Leftovers left = pump.stop();
    QVERIFY(left.toPort.isEmpty());
    QVERIFY(left.toTerminal.isEmpty());
    QCOMPARE(ends.load(), 0);
}

void TestBytePump::theDevicesLastBytesArriveAndTheCloseIsSaidOnce()
{
    std::atomic<int> ends{0};
    QString reason = QStringLiteral("not said");
    BytePump pump(m_pty.masterFd(), m_connection[0], {}, {}, [&](const QString& why) {
        reason = why;
        ++ends;
    });
    const QByteArray last = pattern(200 * 1024, 3);
    std::thread reader;
    QByteArray atTerminal;
    reader = std::thread([&] { atTerminal = readUntil(m_terminal, last.size()); });
    QVERIFY(writeAll(m_connection[1], last));
    ::close(m_connection[1]);
    m_connection[1] = -1;
    reader.join();
    QCOMPARE(atTerminal.size(), last.size());
    QVERIFY(atTerminal == last);
    QVERIFY(QTest::qWaitFor([&] { return ends.load() > 0; }, kWaitMs));
    QCOMPARE(reason, QString()); // an orderly close: no system error to name
    // The terminal's side goes on after the close: what a program writes now waits for the next pump.
    const QByteArray after = pattern(100, 4);
    QVERIFY(writeAll(m_terminal, after));
    QTest::qWait(50);
    const BytePump::Leftovers left = pump.stop();
    QCOMPARE(ends.load(), 1);
    QVERIFY(left.toTerminal.isEmpty());
    // Either the pump took it (and the closed connection refused it) or it still waits in the terminal.
    QVERIFY(left.toPort + drain(m_pty.masterFd()) == after);
}

void TestBytePump::stoppedWhileNothingMovesLosesNothing()
{
    // Neither the device nor the program reads: each side fills until the pump holds a read's worth.
    BytePump pump(m_pty.masterFd(), m_connection[0], {}, {}, [](const QString&) {});
    QByteArray fromProgram, fromDevice;
    for (int round = 0; round < 50; ++round) {
        fromProgram += fill(m_terminal, 5 + round);
        fromDevice += fill(m_connection[1], 50 + round);
        QTest::qWait(5);
    }
    QVERIFY(fromProgram.size() > 64 * 1024);
    QVERIFY(fromDevice.size() > 64 * 1024);

    QElapsedTimer clock;
    clock.start();
    const BytePump::Leftovers left = pump.stop();
    QVERIFY2(clock.elapsed() < 2000, "stop() waited for a side that does not move");

    // Each way: what the far side got, then what the pump held, then what it never read is the whole.
    const QByteArray deviceGot = drain(m_connection[1]);
    const QByteArray stillInTerminal = drain(m_pty.masterFd());
    QCOMPARE(deviceGot.size() + left.toPort.size(), qsizetype(pump.fromTerminal()));
    QVERIFY(deviceGot + left.toPort + stillInTerminal == fromProgram);

    const QByteArray programGot = drain(m_terminal);
    const QByteArray stillInConnection = drain(m_connection[0]);
    QCOMPARE(programGot.size() + left.toTerminal.size(), qsizetype(pump.fromPort()));
    QVERIFY(programGot + left.toTerminal + stillInConnection == fromDevice);
}

QTEST_GUILESS_MAIN(TestBytePump)
#include "tst_bytepump.moc"
