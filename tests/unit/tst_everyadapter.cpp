// A request from every adapter: one socket per adapter, each sending the broadcast, the answers merged
// into one table. Runs on the loopback profile with in-process simulated devices at a port of its own;
// the two "adapters" are two loopback addresses, so nothing leaves the machine.
#include "SimExchange.h"
#include "TesselSim.h"
#include "net/CNetEnv.h"
#include "net/LocalAdapters.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr std::uint16_t kDevicePort = 52613;
constexpr int kDevices = 3;
constexpr std::uint32_t kFirstLoopback = 0x7F000001;  // 127.0.0.1
constexpr std::uint32_t kSecondLoopback = 0x7F0000C8; // 127.0.0.200, clear of the devices' addresses
constexpr std::uint32_t kNotLocal = 0xC0000201;       // 192.0.2.1 (TEST-NET-1): no adapter carries it

NetworkProfile testProfile()
{
    return simtest::loopbackProfile(kDevicePort);
}

QString loopbackName()
{
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        if (nic.flags().testFlag(QNetworkInterface::IsLoopBack))
            return nic.name();
    }
    return {};
}
} // namespace

class TestEveryAdapter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void searchFromTwoAdaptersListsEachDeviceOnce();
    void readByMacFromTwoAdaptersTakesTheDevicesAnswer();
    void adapterThatCannotBeBoundIsLeftOut();
    void noAdapterAtAllFailsToOpenWithItsReason();
    void loopbackProfileMeansTheLoopbackAdapterAlone();
    void realProfileNeverListsTheLoopbackAdapter();

private:
    std::unique_ptr<TesselSim> m_sim;
};

void TestEveryAdapter::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(kDevices);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestEveryAdapter::cleanup()
{
    m_sim.reset();
}

void TestEveryAdapter::searchFromTwoAdaptersListsEachDeviceOnce()
{
    CNetEnv env(testProfile());
    QVERIFY(
        env.OpenEveryAdapter({{QStringLiteral("first"), kFirstLoopback}, {QStringLiteral("second"), kSecondLoopback}}));
    QCOMPARE(env.openSocketCount(), 2);
    QSignalSpy accepted(&env, &CNetEnv::replyAccepted);
    env.requestFrame().fill(0);
    env.setCount(0);
    env.setLimit(CNetEnv::kTableSize);
    env.setCommand(frame::kSearch);
    env.SendBroadcast();
    // Each device answers both copies from both adapters: four replies each, every one taken in.
    QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 4 * kDevices, 3000);
    env.Close();
    QCOMPARE(env.count(), kDevices);
    env.sortByMac();
    for (int i = 0; i < kDevices; ++i) {
        QCOMPARE(env.record(i).ipAddress(), simtest::deviceAddress(i));
        QCOMPARE(env.heardOn(env.record(i)), loopbackName());
    }
    // A restarted table forgets where its devices were heard.
    env.setCount(0);
    QCOMPARE(env.heardOn(env.record(0)), QString());
}

void TestEveryAdapter::readByMacFromTwoAdaptersTakesTheDevicesAnswer()
{
    CNetEnv env(testProfile());
    QVERIFY(
        env.OpenEveryAdapter({{QStringLiteral("first"), kFirstLoopback}, {QStringLiteral("second"), kSecondLoopback}}));
    const EnvRecord wanted = m_sim->device(1).record;
    env.requestFrame().fill(0);
    std::copy_n(wanted.data(), 6, env.requestBody());
    env.setCount(0);
    env.setLimit(CNetEnv::kTableSize);
    env.setCommand(frame::kRead);
    env.SendBroadcast();
    QTRY_VERIFY_WITH_TIMEOUT(env.answered(), 2000);
    env.Close();
    QCOMPARE(env.count(), 1);
    QCOMPARE(env.record(0).macText(), wanted.macText());
    QCOMPARE(env.record(0).ipAddress(), simtest::deviceAddress(1));
}

void TestEveryAdapter::adapterThatCannotBeBoundIsLeftOut()
{
    CNetEnv env(testProfile());
    QVERIFY(env.OpenEveryAdapter({{QStringLiteral("gone"), kNotLocal}, {QStringLiteral("first"), kFirstLoopback}}));
    QCOMPARE(env.openSocketCount(), 1);
    QCOMPARE(env.openError(), QString());
    QCOMPARE(simtest::search(env, kDevices), kDevices);

    CNetEnv alone(testProfile());
    QVERIFY(!alone.OpenEveryAdapter({{QStringLiteral("gone"), kNotLocal}}));
    QVERIFY(!alone.isOpen());
    QVERIFY2(alone.openError().startsWith(QStringLiteral("gone: bind 192.0.2.1")), qPrintable(alone.openError()));
}

void TestEveryAdapter::noAdapterAtAllFailsToOpenWithItsReason()
{
    CNetEnv env(testProfile());
    QVERIFY(!env.OpenEveryAdapter(QList<LocalAdapter>{}));
    QVERIFY(!env.isOpen());
    QCOMPARE(env.openSocketCount(), 0);
    QCOMPARE(env.openError(), QStringLiteral("no network adapter is up with an IPv4 address"));
}

void TestEveryAdapter::loopbackProfileMeansTheLoopbackAdapterAlone()
{
    const QList<LocalAdapter> adapters = broadcastAdapters(testProfile());
    QCOMPARE(adapters.size(), 1);
    QCOMPARE(adapters.constFirst().name, loopbackName());
    QCOMPARE(adapters.constFirst().address, kFirstLoopback);
    // And a search from it finds the simulated devices.
    CNetEnv env(testProfile());
    QVERIFY(env.OpenEveryAdapter());
    QCOMPARE(simtest::search(env, kDevices), kDevices);
}

void TestEveryAdapter::realProfileNeverListsTheLoopbackAdapter()
{
    // Listing only: nothing is sent on the real profile here.
    for (const LocalAdapter& adapter : broadcastAdapters(NetworkProfile::real())) {
        QVERIFY2((adapter.address >> 24) != 127, qPrintable(adapter.name));
        const QNetworkInterface nic = QNetworkInterface::interfaceFromName(adapter.name);
        QVERIFY(nic.flags().testFlag(QNetworkInterface::IsUp));
        QVERIFY(!nic.flags().testFlag(QNetworkInterface::IsLoopBack));
        QVERIFY(nic.flags().testFlag(QNetworkInterface::CanBroadcast));
        bool carries = false;
        for (const QNetworkAddressEntry& entry : nic.addressEntries())
            carries = carries || entry.ip() == QHostAddress(adapter.address);
        QVERIFY2(carries, qPrintable(adapter.name));
    }
}

QTEST_GUILESS_MAIN(TestEveryAdapter)
#include "tst_everyadapter.moc"
