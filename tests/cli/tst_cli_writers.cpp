// The command-line tool when one device is named twice, or written by two writers at once: each device
// is served once, and no writer silently undoes another's change. In-process against simulated devices
// on loopback (127.0.15.2 and up; device port 53415, TFTP 53479, shell 53433, this test's own).
#include "CliTestSupport.h"
#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "TesselSim.h"
#include "config/SettingsFile.h"
#include "protocol/Codec.h"

#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kFirstAddress = 0x7F000F02; // 127.0.15.2
const QString kDevice = u"127.0.15.2"_s;
const QString kDeviceMac = u"02:7e:55:00:00:01"_s;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 53415;
    p.tftpPort = 53479;
    p.shellPort = 53433;
    return p;
}

/** What another writer does to the device right after one of the tool's reads. */
using Meanwhile = std::function<void(EnvRecord&)>;

void setTimeout(EnvRecord& record, int port, std::uint16_t timeout)
{
    EnvPortBlock block = record.port(port);
    block.setTimeout(timeout);
    record.setPort(port, block);
}
} // namespace

Q_DECLARE_METATYPE(Meanwhile)

class TestCliWriters : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void oneDeviceNamedTwiceIsServedOnce_data();
    void oneDeviceNamedTwiceIsServedOnce();
    void firmwareToOneDeviceNamedTwiceIsUploadedOnce();
    void deviceChangedAfterTheReadIsNeverWrittenOver_data();
    void deviceChangedAfterTheReadIsNeverWrittenOver();
    void twoRunsWritingOneDeviceAtOnceKeepBothChanges();
    void twoRunsWritingOneFieldAtOnceNeverLoseSilently();
    void aRunWaitsForAnotherRunOnTheSameDevice_data();
    void aRunWaitsForAnotherRunOnTheSameDevice();

private:
    /** Runs cormapmp-cli `args` and `otherArgs` as two processes at once; their exit codes and errors. */
    std::array<std::pair<int, QString>, 2> runTwoAtOnce(const QStringList& args, const QStringList& otherArgs);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TesselSim> m_sim;
};

void TestCliWriters::init()
{
    QVERIFY(m_dir.isValid());
    // The runs' lock files go to a folder of this test's own (the child processes inherit it).
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(2, kFirstAddress);
    QString problem;
    QVERIFY2(m_sim->start(&problem), qPrintable(problem));
}

void TestCliWriters::cleanup()
{
    m_sim.reset();
}

void TestCliWriters::oneDeviceNamedTwiceIsServedOnce_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("secondName");
    const QString file = m_dir.filePath(u"settings.kvx"_s);
    QTest::newRow("write, one address twice")
        << QStringList{u"write"_s, kDevice, kDevice, u"comment=once"_s} << int(frame::kWrite) << kDevice;
    QTest::newRow("write, address and MAC")
        << QStringList{u"write"_s, kDevice, kDeviceMac, u"comment=once"_s} << int(frame::kWrite) << kDeviceMac;
    QTest::newRow("write, MAC and address, with another device between")
        << QStringList{u"write"_s, kDeviceMac, u"127.0.15.3"_s, kDevice, u"comment=once"_s} << int(frame::kWrite)
        << kDevice;
    QTest::newRow("passwd, address and MAC")
        << QStringList{u"passwd"_s, kDevice, kDeviceMac} << int(frame::kChangePassword) << kDeviceMac;
    QTest::newRow("import, MAC and address")
        << QStringList{u"import"_s, file, kDeviceMac, kDevice} << int(frame::kWrite) << kDevice;
}

void TestCliWriters::oneDeviceNamedTwiceIsServedOnce()
{
    QFETCH(QStringList, args);
    QFETCH(int, command);
    QFETCH(QString, secondName);
    EnvRecord saved = settings_file::exportedRecord(m_sim->device(0).record);
    saved.setComment("once");
    QFile file(m_dir.filePath(u"settings.kvx"_s));
    const QByteArray bytes =
        settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(saved.data()), EnvRecord::kSize),
                              settings_file::Product::of(saved), QDateTime::currentDateTime());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    clitest::FakeConsole console;
    console.env[u"CORMAPMP_NEW_PASSWORD"_s] = u"newpass1"_s;
    const clitest::CliRun run = clitest::runCli(args + QStringList{u"--yes"_s}, console, testProfile());
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    QCOMPARE(clitest::requestsOf(handled, command, 0), 1);
    const QString firstName = args.at(args.at(0) == u"import"_s ? 2 : 1);
    QVERIFY2(run.out.contains(u"%1: the same Tessel as %2 (served once, not again)\n"_s.arg(secondName, firstName)),
             qPrintable(run.out));
    if (command == frame::kWrite)
        QCOMPARE(m_sim->device(0).record.comment(), std::string("once"));
}

void TestCliWriters::firmwareToOneDeviceNamedTwiceIsUploadedOnce()
{
    SimFirmwareOptions options;
    options.flashMs = 10;
    SimFirmware firmware(testProfile());
    QString problem;
    QVERIFY2(firmware.start({kFirstAddress}, options, &problem), qPrintable(problem));
    QSignalSpy received(&firmware, &SimFirmware::firmwareReceived);
    QFile image(m_dir.filePath(u"fw.bin"_s));
    QVERIFY(image.open(QIODevice::WriteOnly) && image.write(fwtest::pattern(5000)) == 5000);
    image.close();
    const clitest::CliRun run = clitest::runCli(
        testProfile(), {u"firmware"_s, image.fileName(), kDevice, kDeviceMac, u"--yes"_s, u"--jobs"_s, u"2"_s});
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.out.contains(u"%1: Downloading firmware has been successfully completed.\n"_s.arg(kDevice)),
             qPrintable(run.out));
    QVERIFY(run.out.contains(u"%1: the same Tessel as %2 (served once, not again)\n"_s.arg(kDeviceMac, kDevice)));
    QTest::qWait(300); // a second upload, were there one, would arrive meanwhile
    QCOMPARE(received.size(), 1);
}

void TestCliWriters::deviceChangedAfterTheReadIsNeverWrittenOver_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Meanwhile>("first");  // after the tool's first read
    QTest::addColumn<Meanwhile>("second"); // after its second read
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");        // a line of the output or of the errors
    QTest::addColumn<std::string>("comment"); // the device's comment afterwards
    QTest::addColumn<int>("timeout1");        // COM1's timeout afterwards
    const Meanwhile nothing = [](EnvRecord&) {};
    const QString device = u"02:7e:55:00:00:01 (127.0.15.2)"_s;
    const QStringList write = {u"write"_s, kDevice, u"comment=mine"_s};
    QTest::newRow("another field: the change is made on the new settings")
        << write << Meanwhile([](EnvRecord& r) { setTimeout(r, 0, 99); }) << nothing << 0
        << u"The settings of the Tessel %1 changed since they were read (com1.timeout); the changes are made on "
           u"the new settings.\n"_s.arg(device)
        << std::string("mine") << 99;
    QTest::newRow("the same field: refused, naming it")
        << write << Meanwhile([](EnvRecord& r) { r.setComment("theirs"); }) << nothing << 1
        << u"The settings of the Tessel %1 changed since they were read (comment); nothing was written.\n"_s.arg(device)
        << std::string("theirs") << 60;
    QTest::newRow("changed again while the changes were made again: refused")
        << write << Meanwhile([](EnvRecord& r) { setTimeout(r, 0, 99); })
        << Meanwhile([](EnvRecord& r) { setTimeout(r, 1, 7); }) << 1
        << u"The settings of the Tessel %1 changed since they were read (com2.timeout); nothing was written.\n"_s.arg(
               device)
        << std::string("Tessel sim 1") << 99;
    QTest::newRow("one of several devices: its line says why")
        << QStringList{u"write"_s, kDevice, u"127.0.15.3"_s, u"comment=mine"_s, u"--yes"_s}
        << Meanwhile([](EnvRecord& r) { r.setComment("theirs"); }) << nothing << 1
        << u"127.0.15.2: The settings of the Tessel 127.0.15.2 changed since they were read (comment); nothing was "
           u"written.\n"_s
        << std::string("theirs") << 60;
    QTest::newRow("write, the same value into a field changed meanwhile: refused")
        << QStringList{u"write"_s, kDevice, u"comment=mine"_s, u"com1.timeout=60"_s}
        << Meanwhile([](EnvRecord& r) { setTimeout(r, 0, 99); }) << nothing << 1
        << u"The settings of the Tessel %1 changed since they were read (com1.timeout); nothing was written.\n"_s.arg(
               device)
        << std::string("Tessel sim 1") << 99;
    QTest::newRow("import, a field no settings file carries (the account)")
        << QStringList{u"import"_s, m_dir.filePath(u"mine.kvx"_s), kDevice}
        << Meanwhile([](EnvRecord& r) { r.setAccountId("theirs"); }) << nothing << 0 << u"127.0.15.2: written\n"_s
        << std::string("mine") << 60;
    QTest::newRow("import, a field the file carries with the value read: refused")
        << QStringList{u"import"_s, m_dir.filePath(u"mine.kvx"_s), kDevice}
        << Meanwhile([](EnvRecord& r) { setTimeout(r, 0, 99); }) << nothing << 1
        << u"127.0.15.2: The settings of the Tessel 127.0.15.2 changed since they were read (com1.timeout); nothing "
           u"was written.\n"_s
        << std::string("Tessel sim 1") << 99;
}

void TestCliWriters::deviceChangedAfterTheReadIsNeverWrittenOver()
{
    QFETCH(QStringList, args);
    QFETCH(Meanwhile, first);
    QFETCH(Meanwhile, second);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(std::string, comment);
    QFETCH(int, timeout1);
    setTimeout(m_sim->device(0).record, 0, 60);
    EnvRecord saved = settings_file::exportedRecord(m_sim->device(0).record);
    saved.setComment("mine");
    QFile file(m_dir.filePath(u"mine.kvx"_s));
    const QByteArray bytes =
        settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(saved.data()), EnvRecord::kSize),
                              settings_file::Product::of(saved), QDateTime::currentDateTime());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    // Another writer acts on the device right after the tool's first and second read of it.
    int reads = 0;
    connect(m_sim.get(), &TesselSim::requestHandled, this, [&](int index, int command) {
        if (index != 0 || command != frame::kRead || ++reads % 2 == 0)
            return; // the second copy of a request
        if (reads == 1)
            first(m_sim->device(0).record);
        else if (reads == 3)
            second(m_sim->device(0).record);
    });
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = clitest::runCli(testProfile(), args);
    disconnect(m_sim.get(), &TesselSim::requestHandled, this, nullptr);
    QVERIFY2(run.status == status, qPrintable(run.out + run.err));
    QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
    QCOMPARE(m_sim->device(0).record.comment(), comment);
    QCOMPARE(m_sim->device(0).record.port(0).timeout(), std::uint16_t(timeout1));
    if (qstrcmp(QTest::currentDataTag(), "import, a field no settings file carries (the account)") == 0)
        QCOMPARE(m_sim->device(0).record.accountId(), std::string("theirs"));
    if (status != 0)
        QCOMPARE(clitest::requestsOf(handled, frame::kWrite, 0), 0);
}

std::array<std::pair<int, QString>, 2> TestCliWriters::runTwoAtOnce(const QStringList& args,
                                                                    const QStringList& otherArgs)
{
    const NetworkProfile p = testProfile();
    const QStringList profile = {u"--loopback"_s, u"--device-port"_s, QString::number(p.devicePort)};
    std::array<QProcess, 2> runs;
    runs[0].start(QStringLiteral(CORMAPMP_CLI_PATH), args + profile);
    runs[1].start(QStringLiteral(CORMAPMP_CLI_PATH), otherArgs + profile);
    // The simulated devices answer from this test's event loop, so wait by polling it.
    if (!QTest::qWaitFor(
            [&] { return runs[0].state() == QProcess::NotRunning && runs[1].state() == QProcess::NotRunning; }, 30000))
        qWarning("the two runs did not end");
    std::array<std::pair<int, QString>, 2> ended;
    for (std::size_t i = 0; i < runs.size(); ++i)
        ended[i] = {runs[i].exitCode(), QString::fromUtf8(runs[i].readAllStandardError())};
    return ended;
}

void TestCliWriters::twoRunsWritingOneDeviceAtOnceKeepBothChanges()
{
    for (int round = 1; round <= 4; ++round) {
        const auto ended = runTwoAtOnce({u"write"_s, kDevice, u"comment=round%1"_s.arg(round)},
                                        {u"write"_s, kDeviceMac, u"com2.timeout=%1"_s.arg(round)});
        for (const auto& [code, err] : ended)
            QVERIFY2(code == 0, qPrintable(u"round %1: %2"_s.arg(round).arg(err)));
        QCOMPARE(m_sim->device(0).record.comment(), u"round%1"_s.arg(round).toStdString());
        QCOMPARE(m_sim->device(0).record.port(1).timeout(), std::uint16_t(round));
    }
}

void TestCliWriters::twoRunsWritingOneFieldAtOnceNeverLoseSilently()
{
    // Both may write, one after the other; or the second finds the first's comment and says so.
    for (int round = 1; round <= 3; ++round) {
        const QStringList comments = {u"A%1"_s.arg(round), u"B%1"_s.arg(round)};
        const auto ended = runTwoAtOnce({u"write"_s, kDevice, u"comment="_s + comments[0]},
                                        {u"write"_s, kDevice, u"comment="_s + comments[1]});
        const QString stored = QString::fromStdString(m_sim->device(0).record.comment());
        QVERIFY2(comments.contains(stored), qPrintable(stored));
        for (std::size_t i = 0; i < ended.size(); ++i) {
            if (ended[i].first == 0)
                continue;
            QCOMPARE(ended[i].first, 1);
            QVERIFY2(ended[i].second.contains(u"changed since they were read (comment); nothing was written."_s),
                     qPrintable(ended[i].second));
            QCOMPARE(stored, comments[1 - i]); // the other run's comment stands
        }
    }
}

void TestCliWriters::aRunWaitsForAnotherRunOnTheSameDevice_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("both"); // the second device, whose lock nobody holds, is written too
    const QString state = m_dir.filePath(u"state.json"_s);
    QTest::newRow("write, one device") << QStringList{u"write"_s, kDevice, u"comment=waited"_s} << false;
    QTest::newRow("write, several devices")
        << QStringList{u"write"_s, kDevice, u"127.0.15.3"_s, u"comment=waited"_s, u"--yes"_s} << true;
    QTest::newRow("apply") << QStringList{u"apply"_s, state} << true;
}

void TestCliWriters::aRunWaitsForAnotherRunOnTheSameDevice()
{
    QFETCH(QStringList, args);
    QFETCH(bool, both);
    QFile state(m_dir.filePath(u"state.json"_s));
    const QByteArray declared = R"({"devices": {"127.0.15.2": {"comment": "waited"},
                                              "127.0.15.3": {"comment": "waited"}}})";
    QVERIFY(state.open(QIODevice::WriteOnly) && state.write(declared) == declared.size());
    state.close();
    // Another run of this machine holds the first device's lock for a while; its write waits for it.
    const QString lockPath = m_dir.filePath(u"cormapmp-02-7e-55-00-00-01.lock"_s);
    std::atomic<bool> held = false;
    std::atomic<bool> released = false;
    std::thread other([&] {
        QLockFile lock(lockPath);
        held = lock.lock();
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        released = true;
        lock.unlock();
    });
    QTRY_VERIFY(held.load());
    int writes = 0;
    bool writtenAfterRelease = false;
    connect(m_sim.get(), &TesselSim::requestHandled, this, [&](int index, int command) {
        if (index == 0 && command == frame::kWrite && writes++ == 0) // its first copy
            writtenAfterRelease = released.load();
    });
    const clitest::CliRun run = clitest::runCli(testProfile(), args);
    disconnect(m_sim.get(), &TesselSim::requestHandled, this, nullptr);
    other.join();
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    QCOMPARE(writes, 2);
    QVERIFY(writtenAfterRelease);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("waited"));
    QCOMPARE(m_sim->device(1).record.comment(), both ? std::string("waited") : std::string("Tessel sim 2"));
}

QTEST_GUILESS_MAIN(TestCliWriters)
#include "tst_cli_writers.moc"
