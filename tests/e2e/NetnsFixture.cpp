#include "NetnsFixture.h"

#include "LinkRelay.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace netns {
namespace {
constexpr int kSimStartMs = 10000;

void dieWithParent()
{
    // `ip netns exec` replaces itself with the program, so this reaches the simulator: it must not
    // outlive a test that was killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

/** Removes the namespaces of earlier runs of a test that were killed before their cleanup. */
void removeStaleNamespaces(const QString& prefix)
{
    const QRegularExpression ours(QStringLiteral("^%1[cdr]-(\\d+)\\b").arg(QRegularExpression::escape(prefix)));
    for (const QString& line : ip({QStringLiteral("netns"), QStringLiteral("list")}).out.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = ours.match(line);
        if (m.hasMatch() && !QFile::exists(QStringLiteral("/proc/") + m.captured(1)))
            ip({QStringLiteral("netns"), QStringLiteral("delete"), line.section(QLatin1Char(' '), 0, 0)});
    }
}
} // namespace

Run runProgram(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    Run run;
    if (!p.waitForStarted(timeoutMs)) {
        run.err = p.errorString();
        return run;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(kCommandMs);
        run.err = QStringLiteral("%1 did not end within %2 ms").arg(program).arg(timeoutMs);
        return run;
    }
    run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

Run ip(const QStringList& args)
{
    return runProgram(QStringLiteral("ip"), args, kCommandMs);
}

QString unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root: the test makes its own network namespaces with `ip netns`");
    const Run probe = ip({QStringLiteral("netns"), QStringLiteral("list")});
    if (probe.status != 0)
        return QStringLiteral("`ip netns` is unavailable: %1").arg(probe.err.trimmed());
    return {};
}

NamespacePair::NamespacePair(const QString& prefix)
    : client(prefix + QStringLiteral("c-") + QString::number(getpid())),
      devices(prefix + QStringLiteral("d-") + QString::number(getpid())),
      relay(prefix + QStringLiteral("r-") + QString::number(getpid())), m_prefix(prefix)
{
    removeStaleNamespaces(prefix);
}

NamespacePair::~NamespacePair()
{
    stopSimulator();
    m_relay.reset();
    for (const QString& ns : {client, devices, relay}) {
        if (m_made.contains(ns))
            ip({QStringLiteral("netns"), QStringLiteral("delete"), ns});
    }
}

const QStringList& NamespacePair::deviceAddresses()
{
    static const QStringList addresses = {QStringLiteral("10.250.0.10"), QStringLiteral("10.250.0.11"),
                                          QStringLiteral("10.250.0.12")};
    return addresses;
}

QString NamespacePair::make()
{
    for (const QString& ns : {client, devices}) {
        const Run run = ip({QStringLiteral("netns"), QStringLiteral("add"), ns});
        if (run.status != 0)
            return run.err;
        m_made << ns;
    }
    return {};
}

bool NamespacePair::hasNetem()
{
    const QStringList add = {QStringLiteral("netns"), QStringLiteral("exec"),  client,
                             QStringLiteral("tc"),    QStringLiteral("qdisc"), QStringLiteral("add"),
                             QStringLiteral("dev"),   QStringLiteral("lo"),    QStringLiteral("root"),
                             QStringLiteral("netem")};
    if (ip(add).status != 0)
        return false;
    QStringList del = add.mid(0, 5) << QStringLiteral("del") << QStringLiteral("dev") << QStringLiteral("lo")
                                    << QStringLiteral("root");
    ip(del);
    return true;
}

QString NamespacePair::useRelay()
{
    const Run run = ip({QStringLiteral("netns"), QStringLiteral("add"), relay});
    if (run.status != 0)
        return run.err;
    m_made << relay;
    m_relayed = true;
    return {};
}

QString NamespacePair::configure()
{
    QStringList commands = m_relayed ? QStringList{
        QStringLiteral("-n {c} link add vcli type veth peer name vrc netns {r}"),
        QStringLiteral("-n {d} link add vdev type veth peer name vrd netns {r}"),
        QStringLiteral("-n {r} link set vrc up"),
        QStringLiteral("-n {r} link set vrd up"),
    } : QStringList{QStringLiteral("-n {c} link add vcli type veth peer name vdev netns {d}")};
    commands << QStringList{
        QStringLiteral("-n {c} link set lo up"),   QStringLiteral("-n {c} addr add 10.250.0.1/24 dev vcli"),
        QStringLiteral("-n {c} link set vcli up"), QStringLiteral("-n {c} route add default dev vcli"),
        QStringLiteral("-n {d} link set lo up"),   QStringLiteral("-n {d} link set vdev up"),
    };
    for (const QString& address : deviceAddresses())
        commands << QStringLiteral("-n {d} addr add %1/24 dev vdev").arg(address);
    for (QString command : commands) {
        command.replace(QStringLiteral("{c}"), client)
            .replace(QStringLiteral("{d}"), devices)
            .replace(QStringLiteral("{r}"), relay);
        const QStringList args = command.split(QLatin1Char(' '));
        const Run run = ip(args);
        if (run.status != 0)
            return QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')), run.err);
    }
    if (m_relayed) {
        m_relay = std::make_unique<LinkRelay>(relay, QStringLiteral("vrc"), QStringLiteral("vrd"));
        return m_relay->error();
    }
    return {};
}

QString NamespacePair::setNetem(const QStringList& netem)
{
    if (m_relay) {
        const std::optional<LinkFaults> faults = LinkFaults::fromNetem(netem);
        if (!faults)
            return QStringLiteral("the relay does not know netem %1").arg(netem.join(QLatin1Char(' ')));
        m_relay->setFaults(*faults);
        return {};
    }
    const std::pair<QString, QString> ends[] = {{client, QStringLiteral("vcli")}, {devices, QStringLiteral("vdev")}};
    for (const auto& [ns, dev] : ends) {
        QStringList args = {QStringLiteral("netns"), QStringLiteral("exec"), ns, QStringLiteral("tc"),
                            QStringLiteral("qdisc")};
        args << (netem.isEmpty()
                     ? QStringList{QStringLiteral("del"), QStringLiteral("dev"), dev, QStringLiteral("root")}
                     : QStringList{QStringLiteral("replace"), QStringLiteral("dev"), dev, QStringLiteral("root"),
                                   QStringLiteral("netem")} +
                           netem);
        const Run run = ip(args);
        // Taking off a discipline that is not there is no failure.
        if (run.status != 0 && !(netem.isEmpty() && run.err.contains(QStringLiteral("No such file"))))
            return QStringLiteral("ip %1: %2%3").arg(args.join(QLatin1Char(' ')), run.err, run.out);
    }
    return {};
}

QString NamespacePair::startSimulator(const QString& simulatorPath, const QStringList& extraArgs)
{
    m_sim = std::make_unique<QProcess>();
    m_sim->setChildProcessModifier(dieWithParent);
    const QStringList args = QStringList{QStringLiteral("netns"),
                                         QStringLiteral("exec"),
                                         devices,
                                         simulatorPath,
                                         QStringLiteral("--devices"),
                                         QString::number(deviceAddresses().size()),
                                         QStringLiteral("--first-address"),
                                         deviceAddresses().constFirst()} +
                             extraArgs;
    m_sim->start(QStringLiteral("ip"), args);
    // The simulator prints one line per device (MAC and address) once its sockets are open.
    const QRegularExpression device(QStringLiteral("([0-9a-f]{2}(?::[0-9a-f]{2}){5}).*\\b(10\\.250\\.0\\.\\d+)\\b"));
    QString printed;
    QDeadlineTimer deadline(kSimStartMs);
    while (m_macByAddress.size() < deviceAddresses().size() && !deadline.hasExpired() &&
           m_sim->state() != QProcess::NotRunning) {
        m_sim->waitForReadyRead(100);
        printed += QString::fromUtf8(m_sim->readAllStandardOutput());
        for (auto it = device.globalMatch(printed); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            m_macByAddress.insert(m.captured(2), m.captured(1));
        }
    }
    if (m_macByAddress.keys() != deviceAddresses()) {
        return QStringLiteral("tessel-sim did not list its devices; it printed:\n%1\n%2")
            .arg(printed, QString::fromUtf8(m_sim->readAllStandardError()));
    }
    return {};
}

QString NamespacePair::waitForSimulatorLine(const QString& prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_sim) {
        m_later += QString::fromUtf8(m_sim->readAllStandardOutput());
        qsizetype end;
        while ((end = m_later.indexOf(QLatin1Char('\n'))) >= 0) {
            const QString line = m_later.first(end).trimmed();
            m_later.remove(0, end + 1);
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || m_sim->state() == QProcess::NotRunning)
            break;
        m_sim->waitForReadyRead(100);
    }
    return {};
}

void NamespacePair::stopSimulator()
{
    if (!m_sim)
        return;
    m_sim->terminate();
    if (!m_sim->waitForFinished(kCommandMs))
        m_sim->kill();
    m_sim->waitForFinished(kCommandMs);
    m_sim.reset();
}

namespace {
Setup setUpPair(const QString& prefix, const QString& simulatorPath, const QStringList& simulatorArgs, bool badLink)
{
    Setup setup;
    setup.skipReason = unavailableReason();
    if (!setup.skipReason.isEmpty())
        return setup;
    auto pair = std::make_unique<NamespacePair>(prefix);
    if (const QString error = pair->make(); !error.isEmpty()) {
        setup.skipReason = QStringLiteral("cannot make network namespaces: %1").arg(error.trimmed());
        return setup;
    }
    if (badLink && !pair->hasNetem())
        setup.error = pair->useRelay();
    if (setup.error.isEmpty())
        setup.error = pair->configure();
    if (setup.error.isEmpty())
        setup.error = pair->startSimulator(simulatorPath, simulatorArgs);
    setup.pair = std::move(pair);
    return setup;
}
} // namespace

Setup setUp(const QString& prefix, const QString& simulatorPath, const QStringList& simulatorArgs)
{
    return setUpPair(prefix, simulatorPath, simulatorArgs, false);
}

Setup setUpBadLink(const QString& prefix, const QString& simulatorPath, const QStringList& simulatorArgs)
{
    return setUpPair(prefix, simulatorPath, simulatorArgs, true);
}

ThreadInNamespace::ThreadInNamespace(const QString& name)
    : m_home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC))
{
    const QByteArray path = QFile::encodeName(QStringLiteral("/var/run/netns/") + name);
    const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_home < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0)
        m_error = QStringLiteral("cannot enter network namespace %1: %2").arg(name, qt_error_string(errno));
    if (target >= 0)
        ::close(target);
}

ThreadInNamespace::~ThreadInNamespace()
{
    if (m_home >= 0) {
        ::setns(m_home, CLONE_NEWNET);
        ::close(m_home);
    }
}
} // namespace netns
