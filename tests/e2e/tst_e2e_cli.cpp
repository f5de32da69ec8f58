// The command-line tool against simulated devices on the real profile: broadcasts to 255.255.255.255 at a
// random port and unicasts to the device port from a port of each exchange's own, inside two network namespaces that
// this test makes and removes (a client namespace and a device namespace joined by a veth pair, 10.250.0.0/24). Nothing
// of it is visible in, or sent from, the machine's own namespace.

#include "NetnsFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

#include <memory>

using netns::Run;

namespace {
const QString kCli = QStringLiteral(CORMAPMP_CLI_PATH);
const QString kSim = QStringLiteral(TESSEL_SIM_PATH);
constexpr int kCliMs = 15000; // one run of the tool (a search waits 3 s)
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
    void anotherProgramOnTheDevicePortNeitherStopsNorHearsAnExchange();
    void twoReadsAtOnceEachReadTheirOwnDevice();

private:
    Run cli(const QStringList& args);

    std::unique_ptr<netns::NamespacePair> m_namespaces;
    QMap<QString, QString> m_macByAddress; // as the simulator printed its devices
};

void TestE2eCli::initTestCase()
{
    netns::Setup setup = netns::setUp(QStringLiteral("cormap-e2e-cli-"), kSim);
    if (!setup.skipReason.isEmpty())
        QSKIP(qPrintable(setup.skipReason));
    m_namespaces = std::move(setup.pair);
    QVERIFY2(setup.error.isEmpty(), qPrintable(setup.error));
    m_macByAddress = m_namespaces->macByAddress();
}

void TestE2eCli::cleanupTestCase()
{
    m_namespaces.reset();
}

Run TestE2eCli::cli(const QStringList& args)
{
    return netns::runProgram(
        QStringLiteral("ip"),
        QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_namespaces->client, kCli} + args, kCliMs);
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

void TestE2eCli::anotherProgramOnTheDevicePortNeitherStopsNorHearsAnExchange()
{
    // Another program holds the device port on the client host. No socket of ours uses or shares that
    // port: the read runs on a port of its own, and the device's answer never reaches the other program.
    QUdpSocket holder;
    {
        const netns::ThreadInNamespace inClient(m_namespaces->client);
        QVERIFY2(inClient.error().isEmpty(), qPrintable(inClient.error()));
        QVERIFY(holder.bind(QHostAddress(QHostAddress::AnyIPv4), 50005, QUdpSocket::DontShareAddress));
    }
    const Run run = cli({QStringLiteral("read"), QStringLiteral("--json"), QStringLiteral("10.250.0.11")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    const QJsonObject record = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(record.value(QStringLiteral("mac")).toString(), m_macByAddress.value(QStringLiteral("10.250.0.11")));
    QVERIFY(!holder.hasPendingDatagrams());
}

void TestE2eCli::twoReadsAtOnceEachReadTheirOwnDevice()
{
    // Two runs started together, each on an exchange of its own: both read the device they asked.
    const QStringList addresses = {QStringLiteral("10.250.0.11"), QStringLiteral("10.250.0.12")};
    for (int round = 0; round < 3; ++round) {
        std::array<QProcess, 2> runs;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            runs[i].start(QStringLiteral("ip"),
                          {QStringLiteral("netns"), QStringLiteral("exec"), m_namespaces->client, kCli,
                           QStringLiteral("read"), QStringLiteral("--json"), addresses[static_cast<qsizetype>(i)]});
        }
        for (QProcess& run : runs)
            QVERIFY(run.waitForFinished(kCliMs));
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const QString address = addresses[static_cast<qsizetype>(i)];
            const QString out = QString::fromUtf8(runs[i].readAllStandardOutput());
            const QString err = QString::fromUtf8(runs[i].readAllStandardError());
            QVERIFY2(runs[i].exitCode() == 0, qPrintable(err));
            const QJsonObject record = QJsonDocument::fromJson(out.toUtf8()).object();
            QCOMPARE(record.value(QStringLiteral("mac")).toString(), m_macByAddress.value(address));
            QCOMPARE(record.value(QStringLiteral("sourceAddress")).toString(), address);
        }
    }
}

QTEST_GUILESS_MAIN(TestE2eCli)
#include "tst_e2e_cli.moc"
