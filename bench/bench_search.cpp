// bench-search: does a search answered by 256 devices at once store every one of them, and how long after
// the request's second copy does the last reply land? Starts `tessel-sim --loopback` with 256 devices as a
// child process on a device port of its own, runs 20 searches with CNetEnv (each until 256 records are
// stored or 3 s have passed, not the window's full 3 s) and prints per search the devices found and the
// time from the second copy of the request (SendBroadcast returns right after it) to the last reply
// stored, then min/median/max. Exits 1 if any search found fewer than 256 devices, 2 if it cannot run.

#include "net/CNetEnv.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <vector>

#include <csignal>
#include <sys/prctl.h>

namespace {
constexpr int kDevices = 256;
constexpr int kSearches = 20;
constexpr int kSearchLimitMs = 3000;
constexpr int kSimStartMs = 20000;
constexpr std::uint16_t kDefaultDevicePort = 52515;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

struct Search
{
    int found = 0;   // the simulator's devices among the records stored
    int foreign = 0; // records of devices that are not the simulator's
    int storedBeforeSecondCopy = 0;
    double lastAfterSecondCopyMs = 0; // negative: the last reply was stored before the second copy went
    double lastAfterFirstCopyMs = 0;
};

/** Starts the simulator and waits until it has listed all its devices (it prints one line per device,
 *  its MAC first, once they listen). Their MACs, or nothing when it did not start. */
QSet<QString> startSimulator(QProcess& sim, const QString& path, std::uint16_t port, int delayMs)
{
    // The simulator must not outlive a benchmark that is killed.
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    // Notes to the bench's error stream: a pipe nobody reads once the devices are listed would fill.
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(path, {QStringLiteral("--loopback"), QStringLiteral("--device-port"), QString::number(port),
                     QStringLiteral("--devices"), QString::number(kDevices), QStringLiteral("--delay"),
                     QString::number(delayMs), QStringLiteral("--no-serial")});
    QByteArray printed;
    QDeadlineTimer deadline(kSimStartMs);
    while (printed.count('\n') < kDevices && !deadline.hasExpired() && sim.state() != QProcess::NotRunning) {
        sim.waitForReadyRead(100);
        printed += sim.readAllStandardOutput();
    }
    QSet<QString> macs;
    for (const QByteArray& line : printed.split('\n')) {
        if (!line.isEmpty())
            macs.insert(QString::fromLatin1(line.split(' ').constFirst()));
    }
    if (macs.size() == kDevices)
        return macs;
    out() << "tessel-sim did not list its " << kDevices << " devices:\n"
          << printed << Qt::endl;
    return {};
}

/** One search (command 1) that ends when kDevices records are stored or after 3 s. */
std::optional<Search> runSearch(const NetworkProfile& profile, const QSet<QString>& ours)
{
    CNetEnv env(profile);
    if (!env.OpenLocal(0))
        return std::nullopt;
    env.requestFrame().fill(0);
    env.setCount(0);
    env.setLimit(CNetEnv::kTableSize);
    env.setCommand(frame::kSearch);

    QEventLoop loop;
    QElapsedTimer clock;
    qint64 lastStoredNs = -1;
    QObject::connect(&env, &CNetEnv::replyAccepted, &loop, [&](int index) {
        if (index < 0)
            return;
        lastStoredNs = clock.nsecsElapsed();
        if (env.count() >= kDevices)
            loop.quit();
    });
    clock.start();
    env.SendBroadcast();
    const qint64 secondCopyNs = clock.nsecsElapsed();
    Search search;
    search.storedBeforeSecondCopy = env.count();
    if (env.count() < kDevices) {
        QTimer::singleShot(std::max<qint64>(0, kSearchLimitMs - clock.elapsed()), &loop, &QEventLoop::quit);
        loop.exec();
    }
    env.Close();
    // Only the simulator's devices count: anything else answering on this port took a place in the table.
    for (int i = 0; i < env.count(); ++i)
        search.found += ours.contains(QString::fromStdString(env.record(i).macText())) ? 1 : 0;
    search.foreign = env.count() - search.found;
    search.lastAfterSecondCopyMs = static_cast<double>(lastStoredNs - secondCopyNs) / 1e6;
    search.lastAfterFirstCopyMs = static_cast<double>(lastStoredNs) / 1e6;
    return search;
}

void printSummary(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    out() << QStringLiteral("last reply after the second copy: min %1 ms, median %2 ms, max %3 ms")
                 .arg(times.front(), 0, 'f', 3)
                 .arg(median, 0, 'f', 3)
                 .arg(times.back(), 0, 'f', 3)
          << Qt::endl;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("20 searches answered by 256 simulated devices at once."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("device-port"), QStringLiteral("device port of the run"),
                                        QStringLiteral("P"), QString::number(kDefaultDevicePort));
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("tessel-sim executable"),
                                       QStringLiteral("PATH"), QStringLiteral(TESSEL_SIM_PATH));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("devices delay every reply by MS (tessel-sim --delay); more "
                                                        "than 10 lands the whole burst after the second copy"),
                                         QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOptions({portOption, simOption, delayOption});
    parser.process(app);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        out() << "--device-port: not a port number" << Qt::endl;
        return 2;
    }
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = static_cast<std::uint16_t>(port);

    QProcess sim;
    const auto stopSim = qScopeGuard([&sim] {
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        sim.waitForFinished(5000);
    });
    const int delayMs = parser.value(delayOption).toInt(&ok);
    if (!ok || delayMs < 0) {
        out() << "--delay: not a number of milliseconds" << Qt::endl;
        return 2;
    }
    const QSet<QString> ours = startSimulator(sim, parser.value(simOption), profile.devicePort, delayMs);
    if (ours.isEmpty())
        return 2;

    out() << kDevices << " devices (tessel-sim --loopback, device port " << port << ", reply delay " << delayMs
          << " ms), " << kSearches << " searches; times in ms, negative: stored before the second copy was sent"
          << Qt::endl;
    std::vector<double> times;
    int short_ = 0;
    for (int i = 1; i <= kSearches; ++i) {
        const std::optional<Search> s = runSearch(profile, ours);
        if (!s) {
            out() << "SOCK_DGRAM: can't open socket" << Qt::endl;
            return 2;
        }
        if (s->found < kDevices)
            ++short_;
        times.push_back(s->lastAfterSecondCopyMs);
        out() << QStringLiteral("search %1: %2 devices found; last reply stored %3 ms after the second copy "
                                "(%4 ms after the first; %5 stored before the second copy)%6")
                     .arg(i, 2)
                     .arg(s->found)
                     .arg(s->lastAfterSecondCopyMs, 8, 'f', 3)
                     .arg(s->lastAfterFirstCopyMs, 0, 'f', 3)
                     .arg(s->storedBeforeSecondCopy)
                     .arg((s->foreign ? QStringLiteral("  %1 FOREIGN").arg(s->foreign) : QString()) +
                          (s->found < kDevices ? QStringLiteral("  FEWER THAN %1").arg(kDevices) : QString()))
              << Qt::endl;
    }
    printSummary(times);
    if (short_ > 0) {
        out() << short_ << " of " << kSearches << " searches found fewer than " << kDevices << " devices" << Qt::endl;
        return 1;
    }
    return 0;
}
