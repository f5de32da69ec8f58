// bench-tty: the terminal bridge of `cormapmp-cli tty` against Debian's socat doing the same bridge
// (a raw pseudo-terminal to a TCP connection: socat PTY,link=...,raw,echo=0 TCP:ADDR:PORT), in one run
// side by side, both to the same TCP server port of a simulated device whose serial side loops back at
// once (tessel-sim --serial-unpaced, so the device is never what is measured). For each bridge, in
// alternating rounds: the time 16 MiB take through the terminal and back (written and read at once,
// checked byte for byte), and the round-trip time of one byte (the median of many). Prints both and
// the ratios: throughput ours / socat (goal >= 1) and round trip ours / socat (goal <= 1), of the
// medians over the rounds and of each side's best round (on a loaded machine the best round is the one
// least disturbed by others), and the processor time each bridge used for the same work.
//
//   bench-tty [--rounds N] [--mib M] [--trips N]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kDevicePort = 52961;
const char* const kDevice = "127.0.34.2";
constexpr int kTcpPort = 4002; // COM2 of a simulated device: a TCP server port

struct Figures
{
    double mibPerSecond = 0;
    double roundTripUs = 0;
    double cpuMs = 0; // the bridge's processor time (user and system) over the whole measurement
};

/** Processor time a process has used so far, in milliseconds (from /proc: robust against a loaded
 *  machine, where the times above depend on who else runs). */
double cpuMsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool fail(const char* what)
{
    std::fprintf(stderr, "bench-tty: %s\n", what);
    return false;
}

/** Opens the link as a program opens a serial device, raw, non-blocking. */
int openLink(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

/** Writes `data` and reads it back at the same time; seconds taken, or a negative number on failure. */
double throughput(int fd, const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> got(data.size());
    std::size_t sent = 0;
    std::size_t back = 0;
    QElapsedTimer clock;
    clock.start();
    while (back < data.size()) {
        pollfd p{fd, static_cast<short>(POLLIN | (sent < data.size() ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 10000) <= 0)
            return -1;
        if ((p.revents & POLLOUT) && sent < data.size()) {
            const ssize_t n = ::write(fd, data.data() + sent, std::min<std::size_t>(65536, data.size() - sent));
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(fd, got.data() + back, data.size() - back);
            if (n > 0)
                back += static_cast<std::size_t>(n);
        }
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return got == data ? seconds : -2;
}

/** The median round trip of one byte, in microseconds; negative on failure. */
double roundTrip(int fd, int trips)
{
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(trips));
    for (int i = 0; i < trips; ++i) {
        const unsigned char byte = static_cast<unsigned char>(i);
        QElapsedTimer clock;
        clock.start();
        if (::write(fd, &byte, 1) != 1)
            return -1;
        unsigned char echo = 0;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                return -1;
            if (::read(fd, &echo, 1) == 1)
                break;
        }
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1000.0);
        if (echo != byte)
            return -2;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

/** Starts a bridge, measures through its link, stops it. */
bool measure(const QString& program, const QStringList& args, const QString& link, const QString& ready,
             const std::vector<unsigned char>& data, int trips, Figures& out)
{
    QProcess bridge;
    bridge.setProcessChannelMode(QProcess::SeparateChannels);
    bridge.start(program, args);
    if (!bridge.waitForStarted(5000))
        return fail(qPrintable(QStringLiteral("cannot start %1").arg(program)));
    // Ours says when it is connected; socat connects before it makes its link.
    QElapsedTimer waited;
    waited.start();
    QByteArray said;
    while (waited.elapsed() < 10000) {
        bridge.waitForReadyRead(20);
        said += bridge.readAllStandardError();
        if (QFileInfo(link).isSymLink() && (ready.isEmpty() || said.contains(ready.toUtf8())))
            break;
    }
    const int fd = openLink(link);
    bool ok = fd >= 0;
    if (ok) {
        roundTrip(fd, 50); // both warmed up alike
        const double seconds = throughput(fd, data);
        out.roundTripUs = roundTrip(fd, trips);
        ok = seconds > 0 && out.roundTripUs > 0;
        out.mibPerSecond = seconds > 0 ? static_cast<double>(data.size()) / (1024.0 * 1024.0) / seconds : 0;
        ::close(fd);
    }
    out.cpuMs = cpuMsOf(bridge.processId());
    bridge.terminate();
    if (!bridge.waitForFinished(5000)) {
        bridge.kill();
        bridge.waitForFinished(5000);
    }
    if (!ok)
        return fail(qPrintable(QStringLiteral("%1: the bridge did not carry the data (%2)")
                                   .arg(program, QString::fromUtf8(said + bridge.readAllStandardError()))));
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int rounds = 5;
    int mib = 16;
    int trips = 2000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--mib"))
            mib = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--trips"))
            trips = std::max(10, args[i + 1].toInt());
    }
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        std::fprintf(stderr, "bench-tty: socat is not installed (Debian's socat)\n");
        return 2;
    }
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(TESSEL_SIM_PATH),
              {QStringLiteral("--loopback"), QStringLiteral("--devices"), QStringLiteral("1"),
               QStringLiteral("--first-address"), QString::fromLatin1(kDevice), QStringLiteral("--device-port"),
               QString::number(kDevicePort), QStringLiteral("--no-firmware"), QStringLiteral("--serial-unpaced")});
    if (!sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench-tty: tessel-sim did not start\n");
        return 1;
    }

    std::vector<unsigned char> data(static_cast<std::size_t>(mib) * 1024 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + i / 256);

    const QString ourLink = dir.filePath(QStringLiteral("ours"));
    const QString socatLink = dir.filePath(QStringLiteral("socat"));
    const QStringList ourArgs = {QStringLiteral("--loopback"),  QStringLiteral("--device-port"),
                                 QString::number(kDevicePort),  QStringLiteral("tty"),
                                 QString::fromLatin1(kDevice),  QStringLiteral("COM2"),
                                 QStringLiteral("--link"),      ourLink};
    const QStringList socatArgs = {QStringLiteral("PTY,link=%1,raw,echo=0").arg(socatLink),
                                   QStringLiteral("TCP:%1:%2").arg(QString::fromLatin1(kDevice)).arg(kTcpPort)};
    std::vector<double> ourRate, socatRate, ourTrip, socatTrip, ourCpu, socatCpu;
    for (int r = 0; r < rounds; ++r) {
        Figures ours, theirs;
        if (!measure(QStringLiteral(CORMAPMP_CLI_PATH), ourArgs, ourLink, QStringLiteral("Connected to"), data, trips,
                     ours))
            return 1;
        QThread::msleep(100); // the device's port takes one connection at a time
        if (!measure(socat, socatArgs, socatLink, QString(), data, trips, theirs))
            return 1;
        QThread::msleep(100);
        std::printf("round %d: ours %.1f MiB/s %.1f us %.0f ms CPU, socat %.1f MiB/s %.1f us %.0f ms CPU\n", r + 1,
                    ours.mibPerSecond, ours.roundTripUs, ours.cpuMs, theirs.mibPerSecond, theirs.roundTripUs,
                    theirs.cpuMs);
        std::fflush(stdout);
        ourRate.push_back(ours.mibPerSecond);
        socatRate.push_back(theirs.mibPerSecond);
        ourTrip.push_back(ours.roundTripUs);
        socatTrip.push_back(theirs.roundTripUs);
        ourCpu.push_back(ours.cpuMs);
        socatCpu.push_back(theirs.cpuMs);
    }
    sim.terminate();
    sim.waitForFinished(5000);

    const auto best = [](const std::vector<double>& v, bool highest) {
        return highest ? *std::max_element(v.begin(), v.end()) : *std::min_element(v.begin(), v.end());
    };
    const double rate = median(ourRate), socatRateMedian = median(socatRate);
    const double trip = median(ourTrip), socatTripMedian = median(socatTrip);
    const double rateBest = best(ourRate, true), socatRateBest = best(socatRate, true);
    const double tripBest = best(ourTrip, false), socatTripBest = best(socatTrip, false);
    std::printf("\n%-34s %16s %10s %8s\n", "", "cormapmp-cli tty", "socat", "ratio");
    const QString through = QStringLiteral("throughput, %1 MiB (MiB/s)").arg(mib);
    std::printf("%-34s %16.1f %10.1f %8.2f   (ours / socat, goal >= 1)\n", qPrintable(through + QStringLiteral(", median")),
                rate, socatRateMedian, rate / socatRateMedian);
    std::printf("%-34s %16.1f %10.1f %8.2f\n", qPrintable(through + QStringLiteral(", best")), rateBest,
                socatRateBest, rateBest / socatRateBest);
    std::printf("%-34s %16.1f %10.1f %8.2f   (ours / socat, goal <= 1)\n", "one-byte round trip (us), median", trip,
                socatTripMedian, trip / socatTripMedian);
    std::printf("%-34s %16.1f %10.1f %8.2f\n", "one-byte round trip (us), best", tripBest, socatTripBest,
                tripBest / socatTripBest);
    const double cpu = median(ourCpu), socatCpuMedian = median(socatCpu);
    std::printf("%-34s %16.0f %10.0f %8.2f   (ours / socat, the work each bridge did)\n", "bridge CPU time (ms), median",
                cpu, socatCpuMedian, socatCpuMedian > 0 ? cpu / socatCpuMedian : 0.0);
    return 0;
}
