// Which answers the command-line tool takes on a loopback profile: an answer that did not come from the
// address asked is never printed, whether a test sends it on purpose to the port of the tool's exchange
// or a second cormapmp-cli run is at work at the same time.

#include "CliTestSupport.h"
#include "DeviceLogic.h"
#include "device/DeviceRequests.h"
#include "TesselSim.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <set>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52605; // this test's own device port on the loopback profile
constexpr std::uint32_t kFirstAddress = 0x7F000002;
constexpr int kDevices = 3;
constexpr std::uint32_t kStrayAddress = 0x7F000007; // 127.0.0.7: no simulated device lives there
const QString kNoResponse = u"No response from the Tessel(s).\n"
                            u"Please check the LAN cable and the setting of the firewall on your PC.\n"_s;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

/** The inodes of the sockets this process holds. */
std::set<QString> socketInodes()
{
    std::set<QString> inodes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(u"socket:["_s))
            inodes.insert(target.section(u'[', 1).chopped(1));
    }
    return inodes;
}

/** The local ports of this process's UDP sockets bound to the wildcard address: the tool's exchange
 *  (the simulated devices bind their own addresses). */
std::set<std::uint16_t> wildcardPorts()
{
    const std::set<QString> ours = socketInodes();
    std::set<std::uint16_t> ports;
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return ports;
    table.readLine(); // the column heads
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() < 10 || !columns.at(1).startsWith("00000000:") ||
            !ours.count(QString::fromLatin1(columns.at(9))))
            continue;
        ports.insert(static_cast<std::uint16_t>(columns.at(1).mid(9).toUInt(nullptr, 16)));
    }
    return ports;
}

/** A valid unicast read answer carrying `record`, as another device would send it. */
QByteArray answerOf(const EnvRecord& record)
{
    frame::Frame request{};
    request[frame::kOffFlags] = frame::kFlagsUnicastRequest;
    request[frame::kOffCommand] = frame::kRead;
    return sim::buildReply(request, record, frame::kResultOk, {}, {});
}
} // namespace

class TestCliAddressing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readByIpIgnoresAnAnswerFromAnotherAddress_data();
    void readByIpIgnoresAnAnswerFromAnotherAddress();
    void answerFromTheDeviceAsked_data();
    void answerFromTheDeviceAsked();
    void twoRunsAtOnceNeverPrintTheOtherDevice();

private:
    /** Sends `record`'s answer from kStrayAddress to the port of the tool's exchange as soon as the tool
     *  has opened it, i.e. while it waits for its own answer. */
    void sendStrayAnswerDuringTheWait(const EnvRecord& record);

    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<QUdpSocket> m_stray;
    std::unique_ptr<QTimer> m_strayTimer;
    bool m_straySent = false;
};

void TestCliAddressing::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(kDevices, kFirstAddress);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_stray = std::make_unique<QUdpSocket>();
    QVERIFY(m_stray->bind(QHostAddress(kStrayAddress), 0));
}

void TestCliAddressing::cleanup()
{
    m_strayTimer.reset();
    m_stray.reset();
    m_sim.reset();
}

void TestCliAddressing::sendStrayAnswerDuringTheWait(const EnvRecord& record)
{
    const QByteArray answer = answerOf(record);
    const std::set<std::uint16_t> before = wildcardPorts();
    m_straySent = false;
    m_strayTimer = std::make_unique<QTimer>();
    connect(m_strayTimer.get(), &QTimer::timeout, m_stray.get(), [this, answer, before] {
        for (const std::uint16_t port : wildcardPorts()) {
            if (before.count(port))
                continue;
            m_stray->writeDatagram(answer, QHostAddress(QHostAddress::LocalHost), port);
            m_straySent = true;
            m_strayTimer->stop();
        }
    });
    m_strayTimer->start(2);
}

void TestCliAddressing::readByIpIgnoresAnAnswerFromAnotherAddress_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printedMac"); // empty: nothing printed
    const QString device2 = u"127.0.0.3"_s;
    const QString mac2 = QString::fromStdString(TesselSim::makeDevice(1, kFirstAddress + 1).record.macText());
    QTest::newRow("read, nobody at the address")
        << QStringList{u"read"_s, u"--json"_s, u"127.0.0.9"_s} << 1 << QString();
    QTest::newRow("search --ip, nobody at the address")
        << QStringList{u"search"_s, u"--json"_s, u"--ip"_s, u"127.0.0.9"_s} << 1 << QString();
    QTest::newRow("read, the stray comes before the answer")
        << QStringList{u"read"_s, u"--json"_s, device2} << 0 << mac2;
    QTest::newRow("search --ip, the stray comes before the answer")
        << QStringList{u"search"_s, u"--json"_s, u"--ip"_s, device2} << 0 << mac2;
}

void TestCliAddressing::readByIpIgnoresAnAnswerFromAnotherAddress()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, printedMac);
    SimFaults faults;
    faults.delayMs = 150; // the device's own answer comes well after the stray one
    m_sim->setFaults(faults);
    EnvRecord other = TesselSim::makeDevice(7, kStrayAddress).record;
    sendStrayAnswerDuringTheWait(other);
    const clitest::CliRun run = clitest::runCli(testProfile(), args);
    QVERIFY2(m_straySent, "the stray answer reached the port of the tool's exchange");
    QCOMPARE(run.status, status);
    QVERIFY2(!run.out.contains(QString::fromStdString(other.macText())), qPrintable(run.out));
    if (printedMac.isEmpty()) {
        QCOMPARE(run.err, kNoResponse);
        QCOMPARE(run.out, QString());
        return;
    }
    QCOMPARE(run.err, QString());
    const QJsonDocument doc = QJsonDocument::fromJson(run.out.toUtf8());
    const QJsonObject device = doc.isArray() ? doc.array().at(0).toObject() : doc.object();
    if (doc.isArray())
        QCOMPARE(doc.array().size(), 1);
    QCOMPARE(device.value(u"mac"_s).toString(), printedMac);
    QCOMPARE(device.value(u"sourceAddress"_s).toString(), u"127.0.0.3"_s);
}

void TestCliAddressing::answerFromTheDeviceAsked_data()
{
    QTest::addColumn<bool>("multiIp");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("taken");
    // The device: ipAddress 10.0.0.1, COM2 at 10.0.0.2.
    QTest::newRow("from the address asked") << false << u"10.0.0.9"_s << u"10.0.0.9"_s << true;
    QTest::newRow("from elsewhere") << false << u"10.0.0.9"_s << u"10.0.0.8"_s << false;
    QTest::newRow("single-IP device from its own address, asked at another")
        << false << u"10.0.0.2"_s << u"10.0.0.1"_s << false;
    QTest::newRow("multi-IP asked at a port, answers from its main address")
        << true << u"10.0.0.2"_s << u"10.0.0.1"_s << true;
    QTest::newRow("multi-IP asked at its main address, answers from a port")
        << true << u"10.0.0.1"_s << u"10.0.0.2"_s << true;
    QTest::newRow("multi-IP asked elsewhere, answers from its main address")
        << true << u"10.0.0.9"_s << u"10.0.0.1"_s << false;
    QTest::newRow("multi-IP asked at a port, answer from a stranger")
        << true << u"10.0.0.2"_s << u"10.0.0.8"_s << false;
}

void TestCliAddressing::answerFromTheDeviceAsked()
{
    QFETCH(bool, multiIp);
    QFETCH(QString, asked);
    QFETCH(QString, from);
    QFETCH(bool, taken);
    EnvRecord record = EnvRecord::defaultRecord();
    record.setIpAddress(0x0A000001);
    record.setMultiIp(multiIp);
    EnvPortBlock com2 = record.port(1);
    com2.setLocalIp(0x0A000002);
    record.setPort(1, com2);
    record.setSourceAddress(QHostAddress(from).toIPv4Address());
    QCOMPARE(device::cameFromAsked(record, QHostAddress(asked).toIPv4Address()), taken);
}

void TestCliAddressing::twoRunsAtOnceNeverPrintTheOtherDevice()
{
    // Two separate programs at once, each on an exchange of its own: each reads its own device.
    const QString program = QStringLiteral(CORMAPMP_CLI_PATH);
    for (int round = 0; round < 3; ++round) {
        std::array<QProcess, 2> runs;
        std::array<QString, 2> addresses = {u"127.0.0.2"_s, u"127.0.0.4"_s};
        for (std::size_t i = 0; i < runs.size(); ++i) {
            runs[i].start(program, {u"read"_s, u"--json"_s, u"--loopback"_s, u"--device-port"_s,
                                    QString::number(kDevicePort), addresses[i]});
        }
        // The simulated devices answer from this test's event loop, so wait by polling it.
        QTRY_VERIFY_WITH_TIMEOUT(runs[0].state() == QProcess::NotRunning && runs[1].state() == QProcess::NotRunning,
                                 10000);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const QString out = QString::fromUtf8(runs[i].readAllStandardOutput());
            const QString err = QString::fromUtf8(runs[i].readAllStandardError());
            const int device = i == 0 ? 0 : 2;
            const QString mac = QString::fromStdString(m_sim->device(device).record.macText());
            QVERIFY2(runs[i].exitCode() == 0, qPrintable(err));
            const QJsonObject json = clitest::jsonObject(out);
            QCOMPARE(json.value(u"mac"_s).toString(), mac);
            QCOMPARE(json.value(u"sourceAddress"_s).toString(), addresses[i]);
        }
    }
}

QTEST_GUILESS_MAIN(TestCliAddressing)
#include "tst_cliaddressing.moc"
