#include "TwoLanFixture.h"

#include "NetnsFixture.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace netns {
namespace {
constexpr int kSimStartMs = 10000;

QString name(const QString& prefix, char role)
{
    return prefix + QLatin1Char(role) + QStringLiteral("-") + QString::number(::getpid());
}

void dieWithParent()
{
    // `ip netns exec` becomes the simulator: it must not outlive a test that was killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}
} // namespace

TwoLans::TwoLans(const QString& prefix)
    : client(name(prefix, 'c')), lanA{QStringLiteral("vla"),
                                      QStringLiteral("10.251.1.1"),
                                      name(prefix, 'a'),
                                      {QStringLiteral("10.251.1.10"), QStringLiteral("10.251.1.11")},
                                      1},
      lanB{QStringLiteral("vlb"), QStringLiteral("10.251.2.1"), name(prefix, 'b'), {QStringLiteral("10.251.2.10")}, 3}
{
}

TwoLans::~TwoLans()
{
    for (const std::unique_ptr<QProcess>& sim : m_sims) {
        sim->terminate();
        if (!sim->waitForFinished(kCommandMs))
            sim->kill();
        sim->waitForFinished(kCommandMs);
    }
    for (const QString& ns : m_made)
        ip({QStringLiteral("netns"), QStringLiteral("delete"), ns});
}

QString TwoLans::setUp(const QString& simulatorPath)
{
    for (const QString& ns : {client, lanA.devices, lanB.devices}) {
        const Run run = ip({QStringLiteral("netns"), QStringLiteral("add"), ns});
        if (run.status != 0)
            return QStringLiteral("ip netns add %1: %2").arg(ns, run.err);
        m_made << ns;
    }
    if (QString error = configure(); !error.isEmpty())
        return error;
    for (const Lan* lan : {&lanA, &lanB}) {
        if (QString error = startSimulator(simulatorPath, *lan); !error.isEmpty())
            return error;
    }
    return {};
}

QString TwoLans::configure()
{
    QStringList commands = {QStringLiteral("-n %1 link set lo up").arg(client)};
    for (const Lan* lan : {&lanA, &lanB}) {
        commands << QStringLiteral("-n %1 link add %2 type veth peer name vdev netns %3")
                        .arg(client, lan->adapter, lan->devices)
                 << QStringLiteral("-n %1 addr add %2/24 dev %3").arg(client, lan->clientAddress, lan->adapter)
                 << QStringLiteral("-n %1 link set %2 up").arg(client, lan->adapter)
                 << QStringLiteral("-n %1 link set lo up").arg(lan->devices)
                 << QStringLiteral("-n %1 link set vdev up").arg(lan->devices);
        for (const QString& address : lan->deviceAddresses)
            commands << QStringLiteral("-n %1 addr add %2/24 dev vdev").arg(lan->devices, address);
    }
    // The limited broadcast of an unbound socket leaves by the default route's adapter only.
    commands << QStringLiteral("-n %1 route add default dev %2").arg(client, lanA.adapter);
    for (const QString& command : commands) {
        const QStringList args = command.split(QLatin1Char(' '));
        const Run run = ip(args);
        if (run.status != 0)
            return QStringLiteral("ip %1: %2").arg(command, run.err);
    }
    return {};
}

QString TwoLans::startSimulator(const QString& simulatorPath, const Lan& lan)
{
    auto sim = std::make_unique<QProcess>();
    sim->setChildProcessModifier(dieWithParent);
    sim->start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), lan.devices, simulatorPath,
                                      QStringLiteral("--devices"), QString::number(lan.deviceAddresses.size()),
                                      QStringLiteral("--first-address"), lan.deviceAddresses.constFirst(),
                                      QStringLiteral("--first-number"), QString::number(lan.firstNumber)});
    // The simulator prints one line per device (MAC and address) once its sockets are open.
    const QRegularExpression device(QStringLiteral("([0-9a-f]{2}(?::[0-9a-f]{2}){5}).*\\b(10\\.251\\.\\d+\\.\\d+)\\b"));
    QString printed;
    int found = 0;
    QDeadlineTimer deadline(kSimStartMs);
    while (found < lan.deviceAddresses.size() && !deadline.hasExpired() && sim->state() != QProcess::NotRunning) {
        sim->waitForReadyRead(100);
        printed += QString::fromUtf8(sim->readAllStandardOutput());
        found = 0;
        for (auto it = device.globalMatch(printed); it.hasNext(); ++found) {
            const QRegularExpressionMatch m = it.next();
            m_macByAddress.insert(m.captured(2), m.captured(1));
        }
    }
    const QString errors = QString::fromUtf8(sim->readAllStandardError());
    m_sims.push_back(std::move(sim));
    if (found < lan.deviceAddresses.size())
        return QStringLiteral("tessel-sim in %1 did not list its devices; it printed:\n%2\n%3")
            .arg(lan.devices, printed, errors);
    return {};
}
} // namespace netns
