// tessel-sim: simulated Tessel devices for trying the program and for its end-to-end tests.

#include "SimFirmware.h"
#include "SimOptions.h"
#include "SimSerial.h"
#include "StatusScript.h"
#include "TesselSim.h"

#include "CormapVersion.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kExitStartFailed = 1;
constexpr int kExitUsage = 2;

// SIGINT and SIGTERM reach the event loop through a socket pair: the handler only writes one byte.
int g_signalFds[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[0], &byte, 1);
}

bool quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        return false;
    auto* notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalFds[1], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void printErr(const QString& text)
{
    std::fprintf(stderr, "tessel-sim: %s\n", qPrintable(text));
}

bool setUp(TesselSim& sim, const SimOptions& options)
{
    QString error;
    std::optional<sim::StatusScript> script;
    if (!options.statusFile.isEmpty() && !(script = sim::loadStatusScript(options.statusFile, &error))) {
        printErr(error);
        return false;
    }
    for (int i = 0; i < options.devices; ++i) {
        SimDevice device =
            TesselSim::makeDevice(options.firstNumber - 1 + i, options.firstAddress + static_cast<std::uint32_t>(i));
        device.setPassword(options.password);
        if (script) {
            device.statusItems = sim::statusItemsFor(*script, device.record);
            device.liveStatus = script->live;
            device.traffic = script->traffic;
        }
        sim.addDevice(device);
    }
    sim.setFaults(options.faults);
    if (!options.stateFile.isEmpty() && !sim.setStateFile(options.stateFile, &error)) {
        printErr(error);
        return false;
    }
    if (!sim.start(&error)) {
        printErr(error);
        return false;
    }
    return true;
}

// The firmware side runs beside the device protocol; when its ports are taken the devices still answer.
void startFirmware(SimFirmware& firmware, TesselSim& sim, const SimOptions& options)
{
    if (!options.firmware)
        return;
    std::vector<std::uint32_t> addresses;
    for (int i = 0; i < sim.deviceCount(); ++i)
        addresses.push_back(sim.device(i).address);
    QString error;
    if (!firmware.start(addresses, options.firmwareOptions, &error)) {
        printErr(QStringLiteral("firmware side not started: %1").arg(error));
        return;
    }
    QObject::connect(&firmware, &SimFirmware::firmwareReceived, &firmware,
                     [&sim](int device, const QByteArray& fileName, const QByteArray& image) {
                         const QByteArray sha = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
                         std::printf("firmware %s %s %lld %s\n", sim.device(device).record.macText().c_str(),
                                     fileName.toPercentEncoding("/.-_()").constData(),
                                     static_cast<long long>(image.size()), sha.constData());
                         std::fflush(stdout);
                     });
}
// The serial side runs beside the device protocol; a port that cannot open says so and stays idle.
void startSerial(SimSerial& serial, TesselSim& sim)
{
    QObject::connect(&serial, &SimSerial::note, &serial, [](const QString& text) { printErr(text); });
    QString error;
    if (!serial.start(&error)) {
        printErr(QStringLiteral("serial side not started: %1").arg(error));
        return;
    }
    for (int i = 0; i < sim.deviceCount(); ++i) {
        for (int port = 0; port < 4; ++port) {
            const QString path = serial.terminalPath(i, port);
            if (!path.isEmpty())
                std::printf("serial %s COM%d %s\n", sim.device(i).record.macText().c_str(), port + 1, qPrintable(path));
        }
    }
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(CORMAPMP_VERSION));
    if (app.arguments().contains(QStringLiteral("--version"))) {
        std::printf("tessel-sim %s\n", CORMAPMP_VERSION);
        return 0;
    }
    const std::variant<SimOptions, QString> parsed = parseSimOptions(app.arguments().mid(1));
    if (const QString* error = std::get_if<QString>(&parsed)) {
        printErr(*error);
        std::fprintf(stderr, "Try tessel-sim --help.\n");
        return kExitUsage;
    }
    const SimOptions& options = std::get<SimOptions>(parsed);
    if (options.help) {
        std::fputs(qPrintable(simUsage()), stdout);
        return 0;
    }
    if (!quitOnSignals(app)) {
        printErr(QStringLiteral("cannot install the signal handlers"));
        return kExitStartFailed;
    }

    TesselSim sim(options.profile);
    if (!setUp(sim, options))
        return kExitStartFailed;
    for (int i = 0; i < sim.deviceCount(); ++i) {
        const SimDevice& device = sim.device(i);
        std::printf("%s %s\n", device.record.macText().c_str(), qPrintable(QHostAddress(device.address).toString()));
    }
    std::fflush(stdout);
    SimFirmware firmware(options.profile);
    startFirmware(firmware, sim, options);

    SimSerial serial(sim, options.serialOptions);
    if (options.serial)
        startSerial(serial, sim);

    const int status = app.exec();
    serial.stop();
    firmware.stop();
    sim.stop();
    ::close(g_signalFds[0]);
    ::close(g_signalFds[1]);
    return status;
}
