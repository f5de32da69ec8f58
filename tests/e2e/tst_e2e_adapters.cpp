// Searches from a client with two adapters, each on a LAN of its own (TwoLanFixture.h), on the real
// profile: broadcasts to 255.255.255.255 inside network namespaces this test makes and removes. An unbound
// broadcast leaves by the default route's adapter only; a broadcast from every adapter reaches both LANs.

#include "NetnsFixture.h"
#include "TwoLanFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <memory>

using netns::Run;

namespace {
const QString kCli = QStringLiteral(CORMAPMP_CLI_PATH);
const QString kSim = QStringLiteral(TESSEL_SIM_PATH);
constexpr int kCliMs = 20000; // one run of the tool (a search waits 3 s)
const QString kCsvHeader = QStringLiteral("MAC,IP address,Product,Comment,Source address,Adapter");

/** The MACs at the start of the lines of a search's text output, in order. */
QStringList listedMacs(const QString& out)
{
    QStringList macs;
    static const QRegularExpression line(QStringLiteral("^([0-9a-f]{2}(?::[0-9a-f]{2}){5})\\s"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();)
        macs << it.next().captured(1);
    return macs;
}
} // namespace

class TestE2eAdapters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void unboundSearchFindsOnlyTheDevicesBehindTheDefaultRoute();
    void everyAdapterSearchFindsEveryDeviceOnce();
    void everyAdapterCsvNamesTheAdapterEachDeviceWasHeardOn();
    void readByMacReachesTheSecondLanOnlyFromEveryAdapter();
    void writeToEveryDeviceFoundOnEveryAdapter();

private:
    Run cli(const QStringList& args);
    QStringList macsOf(const netns::TwoLans::Lan& lan) const;

    std::unique_ptr<netns::TwoLans> m_lans;
};

void TestE2eAdapters::initTestCase()
{
    if (const QString reason = netns::unavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_lans = std::make_unique<netns::TwoLans>(QStringLiteral("cormap-e2e-lans-"));
    const QString error = m_lans->setUp(kSim);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestE2eAdapters::cleanupTestCase()
{
    m_lans.reset();
}

Run TestE2eAdapters::cli(const QStringList& args)
{
    return netns::runProgram(QStringLiteral("ip"),
                             QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_lans->client, kCli} + args,
                             kCliMs);
}

QStringList TestE2eAdapters::macsOf(const netns::TwoLans::Lan& lan) const
{
    QStringList macs;
    for (const QString& address : lan.deviceAddresses)
        macs << m_lans->macByAddress().value(address);
    return macs;
}

void TestE2eAdapters::unboundSearchFindsOnlyTheDevicesBehindTheDefaultRoute()
{
    const Run run = cli({QStringLiteral("search")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(listedMacs(run.out), macsOf(m_lans->lanA));
}

void TestE2eAdapters::everyAdapterSearchFindsEveryDeviceOnce()
{
    const Run run = cli({QStringLiteral("search"), QStringLiteral("--all-adapters")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    // Sorted by MAC: LAN A's devices are numbers 1 and 2, LAN B's number 3.
    QCOMPARE(listedMacs(run.out), macsOf(m_lans->lanA) + macsOf(m_lans->lanB));
    QVERIFY2(run.out.contains(QStringLiteral("10.251.2.10")), qPrintable(run.out));
}

void TestE2eAdapters::everyAdapterCsvNamesTheAdapterEachDeviceWasHeardOn()
{
    const Run run = cli({QStringLiteral("search"), QStringLiteral("--all-adapters"), QStringLiteral("--csv")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QStringList rows = run.out.split(QStringLiteral("\r\n"));
    QCOMPARE(rows.takeLast(), QString()); // every row ends in CR LF
    QCOMPARE(rows.takeFirst(), kCsvHeader);
    QStringList expected;
    for (const netns::TwoLans::Lan* lan : {&m_lans->lanA, &m_lans->lanB}) {
        for (const QString& address : lan->deviceAddresses)
            expected << QStringLiteral("%1,%2,8,Tessel sim %3,%2,%4")
                            .arg(m_lans->macByAddress().value(address), address)
                            .arg(expected.size() + 1)
                            .arg(lan->adapter);
    }
    QCOMPARE(rows, expected);
}

void TestE2eAdapters::readByMacReachesTheSecondLanOnlyFromEveryAdapter()
{
    const QString mac = macsOf(m_lans->lanB).constFirst();
    const Run unbound = cli({QStringLiteral("read"), mac});
    QCOMPARE(unbound.status, 1);
    QVERIFY2(unbound.err.startsWith(QStringLiteral("No response from the Tessel(s).")), qPrintable(unbound.err));

    const Run every = cli({QStringLiteral("read"), mac, QStringLiteral("--all-adapters")});
    QCOMPARE(every.err, QString());
    QCOMPARE(every.status, 0);
    QVERIFY2(every.out.contains(QRegularExpression(QStringLiteral("^ipAddress\\s+10\\.251\\.2\\.10$"),
                                                   QRegularExpression::MultilineOption)),
             qPrintable(every.out));
}

void TestE2eAdapters::writeToEveryDeviceFoundOnEveryAdapter()
{
    const Run run = cli({QStringLiteral("write"), QStringLiteral("--all"), QStringLiteral("--yes"),
                         QStringLiteral("--all-adapters"), QStringLiteral("comment=Bench")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QStringList expected;
    for (const QString& mac : macsOf(m_lans->lanA) + macsOf(m_lans->lanB))
        expected << mac + QStringLiteral(": written");
    expected << QStringLiteral("3 Tessel(s) written, 0 failed.") << QString();
    QCOMPARE(run.out.split(u'\n'), expected);

    const Run after = cli({QStringLiteral("search"), QStringLiteral("--all-adapters")});
    QCOMPARE(after.status, 0);
    QCOMPARE(after.out.count(QStringLiteral("\"Bench\"")), 3);
}

QTEST_GUILESS_MAIN(TestE2eAdapters)
#include "tst_e2e_adapters.moc"
