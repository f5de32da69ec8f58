// The command-line tool against simulated devices on the real profile: broadcasts to 255.255.255.255 at a
// random port and unicasts to the device port, inside two network namespaces that this test makes and
// removes (a client namespace and a device namespace joined by a veth pair, 10.250.0.0/24). Nothing of
// it is visible in, or sent from, the machine's own namespace.

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {
const QString kCli = QStringLiteral(CORMAPMP_CLI_PATH);
const QString kSim = QStringLiteral(TESSEL_SIM_PATH);
const QString kPrefix = QStringLiteral("cormap-e2e-cli-"); // namespaces: PREFIX + c|d + "-" + pid
constexpr int kCommandMs = 10000;                          // any one `ip` command
constexpr int kCliMs = 15000;                              // one run of the tool (a search waits 3 s)
constexpr int kSimStartMs = 10000;
const QStringList kDeviceAddresses = {QStringLiteral("10.250.0.10"), QStringLiteral("10.250.0.11"),
                                      QStringLiteral("10.250.0.12")};

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

/** Runs a program to its end within `timeoutMs`; a program still running then is killed. */
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

/** Removes the namespaces of earlier runs of this test that were killed before their cleanup. */
void removeStaleNamespaces()
{
    const QRegularExpression ours(QStringLiteral("^%1[cd]-(\\d+)\\b").arg(QRegularExpression::escape(kPrefix)));
    for (const QString& line : ip({QStringLiteral("netns"), QStringLiteral("list")}).out.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = ours.match(line);
        if (m.hasMatch() && !QFile::exists(QStringLiteral("/proc/") + m.captured(1)))
            ip({QStringLiteral("netns"), QStringLiteral("delete"), line.section(QLatin1Char(' '), 0, 0)});
    }
}

/** Two namespaces joined by a veth pair, removed with everything in them when this object goes. */
class NamespacePair final
{
public:
    const QString client = kPrefix + QStringLiteral("c-") + QString::number(getpid());
    const QString devices = kPrefix + QStringLiteral("d-") + QString::number(getpid());

    ~NamespacePair()
    {
        for (const QString& ns : {client, devices}) {
            if (m_made.contains(ns))
                ip({QStringLiteral("netns"), QStringLiteral("delete"), ns});
        }
    }

    /** Makes the namespaces; the error text of the first command that failed, or empty. */
    QString make()
    {
        for (const QString& ns : {client, devices}) {
            const Run run = ip({QStringLiteral("netns"), QStringLiteral("add"), ns});
            if (run.status != 0)
                return run.err;
            m_made << ns;
        }
        return {};
    }

    /** Client 10.250.0.1 with a default route over its veth (so 255.255.255.255 has a route), the
     *  device addresses on the other end. */
    QString configure()
    {
        QStringList commands = {
            QStringLiteral("-n {c} link add vcli type veth peer name vdev netns {d}"),
            QStringLiteral("-n {c} link set lo up"),
            QStringLiteral("-n {c} addr add 10.250.0.1/24 dev vcli"),
            QStringLiteral("-n {c} link set vcli up"),
            QStringLiteral("-n {c} route add default dev vcli"),
            QStringLiteral("-n {d} link set lo up"),
            QStringLiteral("-n {d} link set vdev up"),
        };
        for (const QString& address : kDeviceAddresses)
            commands << QStringLiteral("-n {d} addr add %1/24 dev vdev").arg(address);
        for (QString command : commands) {
            command.replace(QStringLiteral("{c}"), client).replace(QStringLiteral("{d}"), devices);
            const QStringList args = command.split(QLatin1Char(' '));
            const Run run = ip(args);
            if (run.status != 0)
                return QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')), run.err);
        }
        return {};
    }

private:
    QStringList m_made;
};

void dieWithParent()
{
    // `ip netns exec` replaces itself with the program, so this reaches the simulator: it must not
    // outlive a test that was killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}
} // namespace

class TestE2eCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void searchFindsTheThreeDevicesSortedByMac();
    void searchByIpListsTheAddressTheAnswerCameFrom();
    void readByIpDecodesThatDevice();
    void readByMacDecodesThatDevice();

private:
    Run cli(const QStringList& args);
    bool startSimulator(QString& error);

    std::unique_ptr<NamespacePair> m_namespaces;
    std::unique_ptr<QProcess> m_sim;
    QMap<QString, QString> m_macByAddress; // as the simulator printed its devices
};

void TestE2eCli::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root: the test makes its own network namespaces with `ip netns`");
    const Run probe = ip({QStringLiteral("netns"), QStringLiteral("list")});
    if (probe.status != 0)
        QSKIP(qPrintable(QStringLiteral("`ip netns` is unavailable: %1").arg(probe.err.trimmed())));
    removeStaleNamespaces();
    m_namespaces = std::make_unique<NamespacePair>();
    if (const QString error = m_namespaces->make(); !error.isEmpty()) {
        m_namespaces.reset();
        QSKIP(qPrintable(QStringLiteral("cannot make network namespaces: %1").arg(error.trimmed())));
    }
    const QString error = m_namespaces->configure();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QString simError;
    QVERIFY2(startSimulator(simError), qPrintable(simError));
}

void TestE2eCli::cleanupTestCase()
{
    if (m_sim) {
        m_sim->terminate();
        if (!m_sim->waitForFinished(kCommandMs))
            m_sim->kill();
        m_sim->waitForFinished(kCommandMs);
        m_sim.reset();
    }
    m_namespaces.reset();
}

bool TestE2eCli::startSimulator(QString& error)
{
    m_sim = std::make_unique<QProcess>();
    m_sim->setChildProcessModifier(dieWithParent);
    m_sim->start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), m_namespaces->devices, kSim,
                                        QStringLiteral("--devices"), QStringLiteral("3"),
                                        QStringLiteral("--first-address"), kDeviceAddresses.constFirst()});
    // The simulator prints one line per device (MAC and address) once its sockets are open.
    const QRegularExpression device(QStringLiteral("([0-9a-f]{2}(?::[0-9a-f]{2}){5}).*\\b(10\\.250\\.0\\.\\d+)\\b"));
    QString printed;
    QDeadlineTimer deadline(kSimStartMs);
    while (m_macByAddress.size() < kDeviceAddresses.size() && !deadline.hasExpired() &&
           m_sim->state() != QProcess::NotRunning) {
        m_sim->waitForReadyRead(100);
        printed += QString::fromUtf8(m_sim->readAllStandardOutput());
        for (auto it = device.globalMatch(printed); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            m_macByAddress.insert(m.captured(2), m.captured(1));
        }
    }
    if (m_macByAddress.keys() != kDeviceAddresses) {
        error = QStringLiteral("tessel-sim did not list its 3 devices; it printed:\n%1\n%2")
                    .arg(printed, QString::fromUtf8(m_sim->readAllStandardError()));
        return false;
    }
    return true;
}

Run TestE2eCli::cli(const QStringList& args)
{
    return runProgram(QStringLiteral("ip"),
                      QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_namespaces->client, kCli} + args,
                      kCliMs);
}

void TestE2eCli::searchFindsTheThreeDevicesSortedByMac()
{
    const Run run = cli({QStringLiteral("search")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QStringList expected = m_macByAddress.values();
    expected.sort();
    QStringList listed;
    for (const QString& line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        listed << line.section(QLatin1Char(' '), 0, 0);
    QCOMPARE(listed, expected);
    for (const QString& line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString address = m_macByAddress.key(line.section(QLatin1Char(' '), 0, 0));
        QVERIFY2(line.contains(QLatin1Char(' ') + address + QLatin1Char(' ')), qPrintable(line));
    }
}

void TestE2eCli::searchByIpListsTheAddressTheAnswerCameFrom()
{
    const Run run = cli({QStringLiteral("search"), QStringLiteral("--ip"), QStringLiteral("10.250.0.12")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("10.250.0.12 ")), qPrintable(run.out));
    QCOMPARE(run.out.count(QLatin1Char('\n')), 1);
}

void TestE2eCli::readByIpDecodesThatDevice()
{
    const Run run = cli({QStringLiteral("read"), QStringLiteral("--json"), QStringLiteral("10.250.0.11")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    const QJsonObject record = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(record.value(QStringLiteral("mac")).toString(), m_macByAddress.value(QStringLiteral("10.250.0.11")));
    QCOMPARE(record.value(QStringLiteral("ipAddress")).toString(), QStringLiteral("10.250.0.11"));
    QCOMPARE(record.value(QStringLiteral("sourceAddress")).toString(), QStringLiteral("10.250.0.11"));
    QCOMPARE(record.value(QStringLiteral("ports")).toArray().size(), 4);

    const Run text = cli({QStringLiteral("read"), QStringLiteral("10.250.0.11")});
    QCOMPARE(text.status, 0);
    QVERIFY2(text.out.contains(QRegularExpression(QStringLiteral("^ipAddress +10\\.250\\.0\\.11$"),
                                                  QRegularExpression::MultilineOption)),
             qPrintable(text.out));
}

void TestE2eCli::readByMacDecodesThatDevice()
{
    const QString mac = m_macByAddress.value(QStringLiteral("10.250.0.12"));
    const Run run = cli({QStringLiteral("read"), QStringLiteral("--json"), mac.toUpper()});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    const QJsonObject record = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(record.value(QStringLiteral("mac")).toString(), mac);
    QCOMPARE(record.value(QStringLiteral("ipAddress")).toString(), QStringLiteral("10.250.0.12"));
}

QTEST_GUILESS_MAIN(TestE2eCli)
#include "tst_e2e_cli.moc"
