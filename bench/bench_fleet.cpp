// bench-fleet: a thousand devices against one. Starts `tessel-sim --loopback` with 1000 devices (a device
// port of its own) and prints, side by side with their ratios, medians of alternated runs:
//  - cormapmp-cli apply on 1000 devices, a first run (every device changes) and a run with nothing to
//    change, against apply on one device;
//  - write --all (search included, --expect 1000) against one write by MAC;
//  - a status --watch round of 16 devices, half of them silent, against a round of one silent device;
//  - the Ansible fleet module against apply on the same 256 devices: in a play of one task
//    (ansible-playbook on localhost, where the task runs apply from Ansible's own process), and alone as
//    Ansible runs it on a managed host (python3 MODULE ARGS), beside a play of one ping task, Ansible's
//    own start (skipped without ansible-core).
// Each is compared with its goal. Run it in a network namespace of its own:
//     cmake/run-isolated.sh build/bench/bench-fleet
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <utility>
#include <vector>

namespace {
constexpr int kDevices = 1000;
constexpr int kAnsibleDevices = 256;
constexpr std::uint16_t kDefaultDevicePort = 52577;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? -1 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/** Runs a program to its end with `env`; its time in ms, or -1 when it failed (what it said printed). */
double timed(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        out() << "failed: " << QFileInfo(program).fileName() << ' ' << args.join(u' ') << '\n'
              << p.readAllStandardOutput().right(2000) << p.readAllStandardError().right(2000) << Qt::endl;
        return -1;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

/** Starts the simulator and waits until it has listed its devices. Its notes go to `log`: once the bench
 *  stops reading, a pipe would fill with a thousand devices' notes and stop the simulator mid-run. */
bool startSimulator(QProcess& sim, std::uint16_t port, const QString& log)
{
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    sim.setStandardErrorFile(log);
    sim.start(QStringLiteral(TESSEL_SIM_PATH),
              {QStringLiteral("--loopback"), QStringLiteral("--device-port"), QString::number(port),
               QStringLiteral("--devices"), QString::number(kDevices)});
    QByteArray printed;
    QDeadlineTimer deadline(60000);
    while (printed.count('\n') < kDevices && !deadline.hasExpired() && sim.state() != QProcess::NotRunning) {
        sim.waitForReadyRead(100);
        printed += sim.readAllStandardOutput();
    }
    return printed.count('\n') >= kDevices;
}

/** The MAC of simulated device `index` (0 is 02:7e:55:00:00:01). */
QString macOf(int index)
{
    const int n = index + 1;
    return QStringLiteral("02:7e:55:%1:%2:%3")
        .arg((n >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((n >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(n & 0xFF, 2, 16, QLatin1Char('0'));
}

/** A desired state for the first `count` devices, each with a comment of `variant` (so that a state and
 *  the next variant's differ in every device). */
QJsonObject desiredState(int count, int variant)
{
    QJsonObject devices;
    for (int i = 0; i < count; ++i)
        devices.insert(macOf(i),
                       QJsonObject{{QStringLiteral("comment"), QStringLiteral("Line %1 v%2").arg(i).arg(variant)}});
    return QJsonObject{{QStringLiteral("devices"), devices}};
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/** A playbook of one tessel_fleet task bringing the first `count` devices into `state`. */
QByteArray fleetPlaybook(const QJsonObject& state, const QString& port, const QString& cli)
{
    // JSON is YAML: the devices go in as the desired state's own object.
    const QByteArray devices =
        QJsonDocument(state.value(QStringLiteral("devices")).toObject()).toJson(QJsonDocument::Compact);
    return "- hosts: localhost\n  connection: local\n  gather_facts: false\n  tasks:\n"
           "    - varkon.cormapmp.tessel_fleet:\n        loopback: true\n        device_port: " +
           port.toUtf8() + "\n        cli: " + cli.toUtf8() + "\n        devices: " + devices + "\n";
}

struct Row
{
    QString what;
    double ms;
    QString against;
    double againstMs;
    QString goal;
    bool met;
};

void print(const Row& r)
{
    out() << r.what.leftJustified(38) << QString::number(r.ms, 'f', 0).rightJustified(8) << " ms  "
          << r.against.leftJustified(26) << QString::number(r.againstMs, 'f', 0).rightJustified(8) << " ms"
          << QString::number(r.ms / r.againstMs, 'f', 1).rightJustified(8) << "x   " << r.goal
          << (r.goal.isEmpty() ? QString()
              : r.met          ? QStringLiteral(" met")
                               : QStringLiteral(" NOT met"))
          << Qt::endl;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("1000 devices by apply and write --all against one device; the "
                                                    "Ansible fleet module against apply on 256."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("alternated rounds"),
                                        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption portOption(QStringLiteral("device-port"), QStringLiteral("device port of the run"),
                                        QStringLiteral("P"), QString::number(kDefaultDevicePort));
    parser.addOptions({runsOption, portOption});
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const QString port = parser.value(portOption);

    // History and locks in folders of the bench's own: the user's history gets no simulated devices. The
    // locks go where a session's runtime folder is, in memory, when the machine has one.
    const QTemporaryDir work;
    const QTemporaryDir runtime(
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/bench-fleet-XXXXXX") : QString());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), work.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("CORMAPMP_PASSWORD"), QString());

    QProcess sim;
    const auto stopSim = qScopeGuard([&sim] {
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        sim.waitForFinished(5000);
    });
    const QString simLog = work.filePath(QStringLiteral("tessel-sim.log"));
    if (!startSimulator(sim, static_cast<std::uint16_t>(port.toUInt()), simLog)) {
        QFile log(simLog);
        out() << "tessel-sim did not start\n" << (log.open(QIODevice::ReadOnly) ? log.readAll().right(2000) : QByteArray())
              << Qt::endl;
        return 2;
    }
    const QString cli = QStringLiteral(CORMAPMP_CLI_PATH);
    const QStringList common{QStringLiteral("--loopback"), QStringLiteral("--device-port"), port};
    // Desired states in two variants each, so that every "first run" changes every device.
    const auto stateFile = [&](int count, int variant) {
        const QString path = work.filePath(QStringLiteral("state-%1-%2.json").arg(count).arg(variant));
        if (!QFile::exists(path))
            writeFile(path, QJsonDocument(desiredState(count, variant)).toJson(QJsonDocument::Compact));
        return path;
    };
    // A watch round of 16 devices, 8 of them silent (addresses where no device lives), against a round of
    // one silent device.
    QStringList halfSilent;
    for (int i = 0; i < 8; ++i)
        halfSilent << QStringLiteral("127.0.0.%1").arg(2 + i) << QStringLiteral("127.1.0.%1").arg(2 + i);
    const QStringList watchOnce{QStringLiteral("--watch"), QStringLiteral("--count"), QStringLiteral("1")};
    std::vector<double> oneFirst, oneAgain, fleetFirst, fleetAgain, writeOne, writeAll, watchHalf, watchOne;
    int variant = 0;
    bool ok = true;
    const auto take = [&](std::vector<double>& into, const QString& program, const QStringList& args) {
        const double ms = timed(program, args, env);
        ok = ok && ms >= 0;
        into.push_back(ms);
    };
    const auto failing = [&](std::vector<double>& into, const QStringList& args) {
        // A watch with a silent device exits 1: its time counts all the same.
        QProcess p;
        p.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        p.start(cli, args);
        ok = ok && p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 1;
        into.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    };
    for (int round = 0; round < runs && ok; ++round) {
        ++variant;
        take(oneFirst, cli, QStringList{QStringLiteral("apply"), stateFile(1, variant)} + common);
        take(oneAgain, cli, QStringList{QStringLiteral("apply"), stateFile(1, variant)} + common);
        take(fleetFirst, cli, QStringList{QStringLiteral("apply"), stateFile(kDevices, variant)} + common);
        take(fleetAgain, cli, QStringList{QStringLiteral("apply"), stateFile(kDevices, variant)} + common);
        take(writeOne, cli,
             QStringList{QStringLiteral("write"), macOf(0), QStringLiteral("comment=one%1").arg(round)} + common);
        failing(watchHalf, QStringList{QStringLiteral("status")} + halfSilent + watchOnce + common);
        failing(watchOne, QStringList{QStringLiteral("status"), QStringLiteral("127.1.0.2")} + watchOnce + common);
        take(writeAll, cli,
             QStringList{QStringLiteral("write"), QStringLiteral("--all"), QStringLiteral("--yes"),
                         QStringLiteral("--expect"), QString::number(kDevices),
                         QStringLiteral("comment=all%1").arg(round)} +
                 common);
    }
    if (!ok)
        return 1;
    out() << "median of " << runs << " alternated runs, " << kDevices << " simulated devices, process start included\n"
          << QStringLiteral("what").leftJustified(38) << "    this      " << QStringLiteral("against").leftJustified(26)
          << "    that   ratio   goal" << Qt::endl;
    const double first = median(fleetFirst);
    const double again = median(fleetAgain);
    print({QStringLiteral("apply, 1000 devices, first run"), first, QStringLiteral("apply, 1 device, first run"),
           median(oneFirst), QStringLiteral("<= 5000 ms"), first <= 5000});
    print({QStringLiteral("apply, 1000 devices, nothing to change"), again,
           QStringLiteral("apply, 1 device, unchanged"), median(oneAgain), QStringLiteral("<= 1000 ms"),
           again <= 1000});
    print({QStringLiteral("write --all, 1000 devices"), median(writeAll), QStringLiteral("write, 1 device by MAC"),
           median(writeOne), QString(), true});

    const double half = median(watchHalf);
    const double one = median(watchOne);
    print({QStringLiteral("watch round, 16 devices, 8 silent"), half, QStringLiteral("watch round, 1 silent"), one,
           QStringLiteral("<= 1.5x"), half <= 1.5 * one});

    const QString playbook = QStandardPaths::findExecutable(QStringLiteral("ansible-playbook"));
    const QString galaxy = QStandardPaths::findExecutable(QStringLiteral("ansible-galaxy"));
    if (playbook.isEmpty() || galaxy.isEmpty()) {
        out() << "Ansible fleet module: skipped (ansible-playbook is not installed; Debian: ansible-core)" << Qt::endl;
        return 0;
    }
    QProcessEnvironment ansible = env;
    ansible.insert(QStringLiteral("HOME"), work.path());
    ansible.insert(QStringLiteral("ANSIBLE_COLLECTIONS_PATH"), work.filePath(QStringLiteral("collections")));
    ansible.insert(QStringLiteral("ANSIBLE_LOCAL_TEMP"), work.filePath(QStringLiteral("tmp")));
    ansible.insert(QStringLiteral("ANSIBLE_REMOTE_TEMP"), work.filePath(QStringLiteral("tmp")));
    ansible.insert(QStringLiteral("ANSIBLE_PYTHON_INTERPRETER"), QStringLiteral("/usr/bin/python3"));
    ansible.insert(QStringLiteral("ANSIBLE_LOCALHOST_WARNING"), QStringLiteral("0"));
    ansible.insert(QStringLiteral("ANSIBLE_INVENTORY_UNPARSED_WARNING"), QStringLiteral("0"));
    if (timed(galaxy,
              {QStringLiteral("collection"), QStringLiteral("build"), QStringLiteral(CORMAP_SOURCE_DIR "/ansible"),
               QStringLiteral("--output-path"), work.path(), QStringLiteral("--force")},
              ansible) < 0)
        return 1;
    const QStringList archives = QDir(work.path()).entryList({QStringLiteral("varkon-cormapmp-*.tar.gz")});
    if (archives.size() != 1 ||
        timed(galaxy,
              {QStringLiteral("collection"), QStringLiteral("install"), work.filePath(archives.constFirst()),
               QStringLiteral("-p"), work.filePath(QStringLiteral("collections")), QStringLiteral("--offline")},
              ansible) < 0)
        return 1;
    // Ansible's own start, to tell it from the task's part: a play of one ping task (a module sent and run),
    // and a play of one debug task (run in Ansible's own process, as the fleet task runs on localhost).
    const QString pingPlay = work.filePath(QStringLiteral("ping.yml"));
    writeFile(pingPlay, "- hosts: localhost\n  connection: local\n  gather_facts: false\n  tasks:\n"
                        "    - ansible.builtin.ping:\n");
    const QString debugPlay = work.filePath(QStringLiteral("debug.yml"));
    writeFile(debugPlay, "- hosts: localhost\n  connection: local\n  gather_facts: false\n  tasks:\n"
                         "    - ansible.builtin.debug: {msg: here}\n");
    // The module alone, as Ansible runs it on the managed host but without the play around it.
    const QString module =
        work.filePath(QStringLiteral("collections/ansible_collections/varkon/cormapmp/plugins/modules/"
                                     "tessel_fleet.py"));
    QProcessEnvironment moduleEnv = ansible;
    moduleEnv.insert(QStringLiteral("PYTHONPATH"), work.filePath(QStringLiteral("collections")));
    const auto moduleArgs = [&](int v) {
        QJsonObject args = desiredState(kAnsibleDevices, v);
        args.insert(QStringLiteral("loopback"), true);
        args.insert(QStringLiteral("device_port"), port.toInt());
        args.insert(QStringLiteral("cli"), cli);
        const QString path = work.filePath(QStringLiteral("module-%1.json").arg(v));
        writeFile(path, QJsonDocument(QJsonObject{{QStringLiteral("ANSIBLE_MODULE_ARGS"), args}}).toJson());
        return path;
    };
    std::vector<double> moduleFirst, moduleAgain, applyFirst, applyAgain, ping, debug, bareFirst, bareAgain;
    for (int round = 0; round < runs && ok; ++round) {
        // apply, then the module on the next variant, so that each first run changes all 256 devices.
        ++variant;
        take(applyFirst, cli, QStringList{QStringLiteral("apply"), stateFile(kAnsibleDevices, variant)} + common);
        take(applyAgain, cli, QStringList{QStringLiteral("apply"), stateFile(kAnsibleDevices, variant)} + common);
        ++variant;
        const QString play = work.filePath(QStringLiteral("fleet-%1.yml").arg(variant));
        writeFile(play, fleetPlaybook(desiredState(kAnsibleDevices, variant), port, cli));
        const QStringList args{QStringLiteral("-i"), QStringLiteral("localhost,"), play};
        for (const auto& [into, oneTask] : {std::pair{&ping, pingPlay}, std::pair{&debug, debugPlay}}) {
            const double ms = timed(playbook, {QStringLiteral("-i"), QStringLiteral("localhost,"), oneTask}, ansible);
            ok = ok && ms >= 0;
            into->push_back(ms);
        }
        const double firstMs = timed(playbook, args, ansible);
        const double againMs = timed(playbook, args, ansible);
        ok = ok && firstMs >= 0 && againMs >= 0;
        moduleFirst.push_back(firstMs);
        moduleAgain.push_back(againMs);
        ++variant;
        const QString bare = moduleArgs(variant);
        for (std::vector<double>* into : {&bareFirst, &bareAgain}) {
            const double ms = timed(QStringLiteral("/usr/bin/python3"), {module, bare}, moduleEnv);
            ok = ok && ms >= 0;
            into->push_back(ms);
        }
    }
    if (!ok)
        return 1;
    const double moduleMs = median(moduleFirst);
    const double applyMs = median(applyFirst);
    print({QStringLiteral("Ansible fleet module, 256, first run"), moduleMs, QStringLiteral("apply, 256, first run"),
           applyMs, QStringLiteral("<= 2x"), moduleMs <= 2 * applyMs});
    print({QStringLiteral("Ansible fleet module, 256, unchanged"), median(moduleAgain),
           QStringLiteral("apply, 256, unchanged"), median(applyAgain), QString(), true});
    // The module's own part: run alone (python3 MODULE ARGS, as on a managed host), and Ansible's own
    // start (a play of one ping task, and of one debug task: the least a play of one task takes).
    const double bareMs = median(bareFirst);
    print({QStringLiteral("fleet module alone, 256, first run"), bareMs, QStringLiteral("apply, 256, first run"),
           applyMs, QStringLiteral("<= 2x"), bareMs <= 2 * applyMs});
    print({QStringLiteral("fleet module alone, 256, unchanged"), median(bareAgain),
           QStringLiteral("apply, 256, unchanged"), median(applyAgain), QString(), true});
    print({QStringLiteral("Ansible play of one ping task"), median(ping), QStringLiteral("apply, 256, first run"),
           applyMs, QString(), true});
    print({QStringLiteral("Ansible play of one debug task"), median(debug), QStringLiteral("apply, 256, first run"),
           applyMs, QString(), true});
    return 0;
}
