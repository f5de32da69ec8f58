// The command-line tool when one device is named twice, or written by two writers at once: each device
// is served once, and no writer silently undoes another's change. In-process against simulated devices
// on loopback (127.0.15.2 and up; device port 53415, TFTP 53479, shell 53433, this test's own).
#include "CliTestSupport.h"
#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "TesselSim.h"
#include "record/SettingsFile.h"
#include "protocol/Codec.h"
#include "device/DeviceLock.h"
#include "protocol/Ipv4.h"
#include "history/SettingsHistory.h"

#include <QDir>
#include <QFileInfo>
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
    void writersWithDifferentRuntimeFoldersTakeTurns();
    void writeWithoutAClearAnswerIsSettledByReadingBack_data();
    void writeWithoutAClearAnswerIsSettledByReadingBack();
    void passwordChangedOnBothCopiesIsReportedChanged();
    void pendingEntriesOfAKilledRunAreSettledByTheNextWrite();
    void stopSignalDuringAFleetWriteReportsEveryDevice();

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
    qputenv("CORMAPMP_LOCK_DIR", QFile::encodeName(m_dir.path()));
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
    const QString lockPath = QDir(device::lockFolder()).filePath(u"cormapmp-02-7e-55-00-00-01.lock"_s);
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

void TestCliWriters::writersWithDifferentRuntimeFoldersTakeTurns()
{
    // A run from cron (no runtime folder) and runs from two login shells: one lock for the machine all
    // the same. The device answers in 100 ms, so without a shared lock their reads and writes interleave.
    SimFaults slow;
    slow.delayMs = 100;
    m_sim->setFaults(slow);
    const NetworkProfile p = testProfile();
    const QStringList profile = {u"--loopback"_s, u"--device-port"_s, QString::number(p.devicePort)};
    QTemporaryDir shellA;
    QTemporaryDir shellB;
    for (int round = 1; round <= 3; ++round) {
        std::array<QProcess, 3> runs;
        const QStringList changes = {u"comment=round%1"_s.arg(round), u"com2.timeout=%1"_s.arg(round),
                                     u"com3.timeout=%1"_s.arg(round + 10)};
        for (std::size_t i = 0; i < runs.size(); ++i) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(u"CORMAPMP_LOCK_DIR"_s); // the machine's own lock folder, as outside the tests
            env.remove(u"XDG_RUNTIME_DIR"_s);
            if (i == 1)
                env.insert(u"XDG_RUNTIME_DIR"_s, shellA.path());
            if (i == 2)
                env.insert(u"XDG_RUNTIME_DIR"_s, shellB.path());
            runs[i].setProcessEnvironment(env);
            runs[i].start(QStringLiteral(CORMAPMP_CLI_PATH), QStringList{u"write"_s, kDevice, changes[i]} + profile);
        }
        QVERIFY(QTest::qWaitFor(
            [&] { return std::all_of(runs.begin(), runs.end(), [](const QProcess& r) { return r.state() == QProcess::NotRunning; }); },
            60000));
        QStringList losers;
        for (QProcess& run : runs) {
            const QString err = QString::fromUtf8(run.readAllStandardError());
            if (run.exitCode() != 0)
                losers << err;
        }
        const EnvRecord& record = m_sim->device(0).record;
        // Every writer that said "written" has its field on the device: nothing undone in silence.
        QVERIFY2(losers.isEmpty(), qPrintable(losers.join(u'\n')));
        QCOMPARE(record.comment(), u"round%1"_s.arg(round).toStdString());
        QCOMPARE(record.port(1).timeout(), std::uint16_t(round));
        QCOMPARE(record.port(2).timeout(), std::uint16_t(round + 10));
    }
}

void TestCliWriters::writeWithoutAClearAnswerIsSettledByReadingBack_data()
{
    QTest::addColumn<int>("result");   // forced result of the write's answer (-1: the device's own)
    QTest::addColumn<bool>("stores");  // the device stores the write all the same
    QTest::addColumn<bool>("silent");  // the device never answers the write
    QTest::addColumn<int>("delayMs");  // every answer this late
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("entry"); // the history entry after the run: settled, none
    const QString late = u"answered the write late or unclearly, but read back it holds what was written"_s;
    QTest::newRow("answer lost, stored") << -1 << true << true << 0 << 0 << late << u"settled"_s;
    QTest::newRow("result 7, stored") << 7 << true << false << 0 << 0 << late << u"settled"_s;
    QTest::newRow("result 7, not stored")
        << 7 << false << false << 0 << 1 << u"did not take the write: read back, it still holds"_s << u"none"_s;
    QTest::newRow("answer after 1.2 s: within the write's wait")
        << -1 << true << false << 1200 << 0 << u"have been written"_s << u"settled"_s;
}

void TestCliWriters::writeWithoutAClearAnswerIsSettledByReadingBack()
{
    QFETCH(int, result);
    QFETCH(bool, stores);
    QFETCH(bool, silent);
    QFETCH(int, delayMs);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(QString, entry);
    SimFaults faults;
    faults.forcedResult = result;
    faults.storeDespiteResult = stores;
    faults.silentWrites = silent;
    faults.delayMs = delayMs;
    m_sim->setFaults(faults);
    m_sim->device(0).record.setComment("before");
    const settings_history::Store history;
    const auto mac = m_sim->device(0).record.mac();
    const std::optional<settings_history::Entry> earlier = history.latest(mac);
    const clitest::CliRun run = clitest::runCli(testProfile(), {u"write"_s, kDevice, u"comment=settled"_s});
    QVERIFY2(run.status == status, qPrintable(run.out + run.err));
    QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
    QVERIFY2(!(run.out + run.err).contains(u"No response"_s), qPrintable(run.out + run.err));
    QCOMPARE(m_sim->device(0).record.comment() == "settled", status == 0);
    const std::optional<settings_history::Entry> latest = history.latest(mac);
    if (entry == u"none"_s) {
        // The entry kept before the write went again: the latest is the one from before this run.
        QCOMPARE(latest.has_value(), earlier.has_value());
        if (latest)
            QCOMPARE(latest->number, earlier->number);
    } else {
        QVERIFY(latest && (!earlier || latest->number != earlier->number));
        QCOMPARE(latest->state, settings_history::State::Settled);
        QCOMPARE(latest->after.comment(), std::string("settled"));
    }
}

void TestCliWriters::passwordChangedOnBothCopiesIsReportedChanged()
{
    // A device that acts on both copies answers the first 0 and the second 2 (the old password no longer
    // matches): the first answer decides.
    m_sim->device(0).setPassword("oldpass1");
    SimFaults faults;
    faults.actOnEveryCopy = true;
    m_sim->setFaults(faults);
    for (int round = 0; round < 3; ++round) {
        const QByteArray current = round % 2 == 0 ? "oldpass1" : "newpass1";
        const QByteArray next = round % 2 == 0 ? "newpass1" : "oldpass1";
        qputenv("CORMAPMP_PASSWORD", current);
        qputenv("CORMAPMP_NEW_PASSWORD", next);
        const clitest::CliRun run = clitest::runCli(testProfile(), {u"passwd"_s, kDevice});
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        QVERIFY2(!run.err.contains(u"password mismatch"_s), qPrintable(run.err));
        SimDevice expected;
        expected.setPassword(next);
        QCOMPARE(m_sim->device(0).passwordHash(), expected.passwordHash());
    }
    qunsetenv("CORMAPMP_PASSWORD");
    qunsetenv("CORMAPMP_NEW_PASSWORD");
}

void TestCliWriters::pendingEntriesOfAKilledRunAreSettledByTheNextWrite()
{
    // A run killed between keeping its entry and writing leaves a pending entry; one killed during a
    // save leaves a temporary file. The next write of the device settles both by what the device holds.
    settings_history::Store history;
    const EnvRecord now = m_sim->device(0).record;
    const auto mac = now.mac();
    settings_history::Entry landed;
    landed.time = QDateTime::currentDateTimeUtc();
    landed.program = u"cormapmp-cli"_s;
    landed.verb = u"write"_s;
    landed.before = now;
    landed.before.setComment("older");
    landed.after = now; // the device holds what this write sent
    landed.state = settings_history::State::Pending;
    settings_history::Entry never = landed;
    never.before = now; // the device still holds what it held before this write
    never.after = now;
    never.after.setComment("never sent");
    const int landedNumber = history.keep(landed).number;
    const int neverNumber = history.keep(never).number;
    QVERIFY(landedNumber > 0 && neverNumber > landedNumber);
    const QString debris = history.deviceFolder(mac) + u"/.000009.json.deadbeef.part"_s;
    {
        QFile part(debris);
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write("{\"half");
        part.flush();
        QVERIFY(part.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        part.close();
    }
    const clitest::CliRun run = clitest::runCli(testProfile(), {u"write"_s, kDevice, u"comment=next"_s});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(history.entry(mac, landedNumber)->state, settings_history::State::Settled);
    // The write that never reached the device left no entry (its number went to the next write's).
    for (const settings_history::Entry& e : history.entries(mac))
        QVERIFY2(e.after.comment() != "never sent", qPrintable(QString::number(e.number)));
    QVERIFY(!QFileInfo::exists(debris));
    QCOMPARE(history.latest(mac)->after.comment(), std::string("next"));
    QCOMPARE(history.latest(mac)->state, settings_history::State::Settled);
}

void TestCliWriters::stopSignalDuringAFleetWriteReportsEveryDevice()
{
    // 40 devices, 4 at a time, each answering in 150 ms: SIGTERM comes while some are being written.
    constexpr int kDevices = 40;
    m_sim.reset();
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(kDevices, kFirstAddress);
    QString problem;
    QVERIFY2(m_sim->start(&problem), qPrintable(problem));
    SimFaults slow;
    slow.delayMs = 150;
    m_sim->setFaults(slow);
    QStringList args{u"write"_s};
    for (int i = 0; i < kDevices; ++i)
        args << ipv4::dotted(kFirstAddress + static_cast<std::uint32_t>(i));
    const NetworkProfile p = testProfile();
    args << u"comment=fleet"_s << u"--yes"_s << u"--jobs"_s << u"4"_s << u"--loopback"_s << u"--device-port"_s
         << QString::number(p.devicePort);
    int writes = 0;
    connect(m_sim.get(), &TesselSim::requestHandled, this, [&](int, int command) {
        writes += command == frame::kWrite ? 1 : 0;
    });
    QProcess run;
    run.start(QStringLiteral(CORMAPMP_CLI_PATH), args);
    QVERIFY(QTest::qWaitFor([&] { return writes >= 12; }, 30000));
    run.terminate();
    QVERIFY(QTest::qWaitFor([&] { return run.state() == QProcess::NotRunning; }, 30000));
    disconnect(m_sim.get(), &TesselSim::requestHandled, this, nullptr);
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 143);
    const QStringList lines = QString::fromUtf8(run.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    int written = 0;
    int reported = 0;
    for (int i = 0; i < kDevices; ++i) {
        const QString name = ipv4::dotted(kFirstAddress + static_cast<std::uint32_t>(i));
        const auto line = std::find_if(lines.begin(), lines.end(),
                                       [&](const QString& l) { return l.startsWith(name + u": "_s); });
        QVERIFY2(line != lines.end(), qPrintable(name + u" has no line"_s));
        ++reported;
        const bool saysWritten = line->endsWith(u": written"_s);
        const bool isWritten = m_sim->device(i).record.comment() == "fleet";
        QVERIFY2(saysWritten == isWritten, qPrintable(*line));
        written += isWritten ? 1 : 0;
    }
    QCOMPARE(reported, kDevices);
    QVERIFY(written > 0 && written < kDevices);
    QVERIFY2(lines.constLast().contains(u"%1 Tessel(s) written, %2 failed."_s.arg(written).arg(kDevices - written)),
             qPrintable(lines.constLast()));
}

QTEST_GUILESS_MAIN(TestCliWriters)
#include "tst_cli_writers.moc"
