// bench-exchange: how long the command line takes for one exchange with a device, and for one field
// written to a fleet, against the floor. Starts `tessel-sim --loopback` (256 devices, a device port of its
// own), then runs, alternated round after round, the floor program (bench-floor: one datagram out, one
// answer in, process start included) and cormapmp-cli read, status and write by IP and by MAC, and prints
// each one's median beside the floor's with their ratio. Then `write --all` to the 256 devices at a few
// --jobs, against the floor times 256 / jobs. Run it in a network namespace of its own:
//     cmake/run-isolated.sh build/bench/bench-exchange
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <map>
#include <sys/prctl.h>
#include <vector>

namespace {
constexpr int kDevices = 256;
constexpr std::uint16_t kDefaultDevicePort = 52555;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/** Runs a program to its end; its time in ms, or -1 when it failed. */
double timed(const QString& program, const QStringList& args)
{
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        out() << "failed: " << program << ' ' << args.join(u' ') << '\n' << p.readAllStandardError() << Qt::endl;
        return -1;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

bool startSimulator(QProcess& sim, std::uint16_t port)
{
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    // The simulator's notes (one per device whose port may not connect) go to the bench's error stream:
    // a pipe nobody reads once the devices are listed would fill and stop the simulator.
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(TESSEL_SIM_PATH),
              {QStringLiteral("--loopback"), QStringLiteral("--device-port"), QString::number(port),
               QStringLiteral("--devices"), QString::number(kDevices), QStringLiteral("--no-serial")});
    QByteArray printed;
    QDeadlineTimer deadline(20000);
    while (printed.count('\n') < kDevices && !deadline.hasExpired() && sim.state() != QProcess::NotRunning) {
        sim.waitForReadyRead(100);
        printed += sim.readAllStandardOutput();
    }
    return printed.count('\n') >= kDevices;
}

struct Case
{
    QString name;
    QString program;
    QStringList args;
};

void row(const QString& name, double ms, double floorMs)
{
    out() << name.leftJustified(34) << QString::number(ms, 'f', 1).rightJustified(10) << " ms"
          << QString::number(floorMs, 'f', 1).rightJustified(10) << " ms"
          << QString::number(ms / floorMs, 'f', 2).rightJustified(8) << "x" << Qt::endl;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The writes keep their history, and take their locks, in folders of the bench's own: the user's
    // history gets no entries of simulated devices.
    const QTemporaryDir userFolders;
    qputenv("XDG_DATA_HOME", QFile::encodeName(userFolders.filePath(QStringLiteral("data"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(userFolders.path()));
    qputenv("CORMAPMP_LOCK_DIR", QFile::encodeName(userFolders.path()));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("One exchange and one field to 256 devices, against the floor."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("rounds of single exchanges"),
                                        QStringLiteral("N"), QStringLiteral("15"));
    const QCommandLineOption portOption(QStringLiteral("device-port"), QStringLiteral("device port of the run"),
                                        QStringLiteral("P"), QString::number(kDefaultDevicePort));
    parser.addOptions({runsOption, portOption});
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const QString port = parser.value(portOption);
    QProcess sim;
    const auto stopSim = qScopeGuard([&sim] {
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        sim.waitForFinished(5000);
    });
    if (!startSimulator(sim, static_cast<std::uint16_t>(port.toUInt()))) {
        out() << "tessel-sim did not start" << Qt::endl;
        return 2;
    }
    const QString cli = QStringLiteral(CORMAPMP_CLI_PATH);
    const QStringList common{QStringLiteral("--loopback"), QStringLiteral("--device-port"), port};
    const QString ip = QStringLiteral("127.0.0.2");
    const QString mac = QStringLiteral("02:7e:55:00:00:01");
    const std::vector<Case> cases{
        {QStringLiteral("floor (one datagram, one answer)"), QStringLiteral(BENCH_FLOOR_PATH), {ip, port}},
        {QStringLiteral("read IP"), cli, QStringList{QStringLiteral("read"), ip} + common},
        {QStringLiteral("read MAC"), cli, QStringList{QStringLiteral("read"), mac} + common},
        {QStringLiteral("status IP"), cli, QStringList{QStringLiteral("status"), ip} + common},
        {QStringLiteral("status MAC"), cli, QStringList{QStringLiteral("status"), mac} + common},
        {QStringLiteral("write IP comment=a"), cli,
         QStringList{QStringLiteral("write"), ip, QStringLiteral("comment=a")} + common},
        {QStringLiteral("write MAC comment=b"), cli,
         QStringList{QStringLiteral("write"), mac, QStringLiteral("comment=b")} + common},
    };
    std::map<QString, std::vector<double>> times;
    for (int round = 0; round < runs; ++round) {
        for (const Case& c : cases) {
            const double ms = timed(c.program, c.args);
            if (ms < 0)
                return 1;
            times[c.name].push_back(ms);
        }
    }
    const double floorMs = median(times[cases.front().name]);
    out() << "median of " << runs << " alternated runs, process start included\n"
          << QStringLiteral("what").leftJustified(34) << "      this"
          << "         floor"
          << "    ratio" << Qt::endl;
    for (const Case& c : cases)
        row(c.name, median(times[c.name]), floorMs);
    out() << "\none field to " << kDevices << " devices (write --all --yes comment=fleet), search included\n";
    for (const int jobs : {1, 16, 32}) {
        for (const bool expect : {false, true}) {
            QStringList args{QStringLiteral("write"), QStringLiteral("--all"),
                             QStringLiteral("--yes"), QStringLiteral("--jobs"),
                             QString::number(jobs),   QStringLiteral("comment=fleet%1").arg(jobs)};
            if (expect)
                args << QStringLiteral("--expect") << QString::number(kDevices);
            const double ms = timed(cli, args + common);
            if (ms < 0)
                return 1;
            row(QStringLiteral("--jobs %1%2").arg(jobs).arg(expect ? QStringLiteral(" --expect 256") : QString()), ms,
                floorMs * kDevices / jobs);
        }
    }
    return 0;
}
