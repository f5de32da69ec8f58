// Only what a command sets is checked: write, apply, import and restore on a device whose record has the
// default layout (COM1 in ATC mode, COM2 to COM4 in T2S mode with local port 0, a value the settings
// editor would refuse) change the one field they set, leave every other byte as the device holds it and
// say once for each such value that it stays; a value the command itself sets, or puts in use, is still
// checked and refused before anything is written. In-process against simulated devices on loopback.
#include "CliTestSupport.h"
#include "TesselSim.h"
#include "record/SettingsFile.h"
#include "protocol/Codec.h"

#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52541; // this test's own device port on the loopback profile
constexpr std::uint32_t kFirstAddress = 0x7F000002;
constexpr std::size_t kCom1Timeout = 316 + 20; // COM1's block at 316, its timeout 20 bytes in
constexpr std::size_t kCom2First = 340;        // COM2's block
constexpr std::size_t kCom4End = 388 + 24;     // one past COM4's block
constexpr std::size_t kSourceAddress = 152;    // written by the endpoint that took the answer

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

/** The default record of a fresh device (every byte zero but the placeholder identity, productId 1,
 *  flags 0xC0, 10.1.0.1/255.0.0.0, COM1 in ATC mode at 19200 baud with water mark 1), given the MAC and
 *  address of simulated device `index`. COM2 to COM4 are in T2S mode (code 0) with local port 0. */
EnvRecord defaultLayout(int index)
{
    EnvRecord r = EnvRecord::defaultRecord();
    r.setMac({0x02, 0x7E, 0x55, 0x00, 0x00, static_cast<std::uint8_t>(index + 1)});
    r.setIpAddress(kFirstAddress + static_cast<std::uint32_t>(index));
    return r;
}

QByteArray raw(const EnvRecord& r)
{
    return QByteArray(reinterpret_cast<const char*>(r.data()), EnvRecord::kSize);
}

QString warning(int port)
{
    return u"com%1.localPort holds 0, outside 1 to 65534; left as the device has it"_s.arg(port);
}

int writesOf(const QSignalSpy& handled)
{
    return clitest::requestsOf(handled, frame::kWrite);
}
} // namespace

class TestCliUntouched : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void oneFieldIsWrittenAndTheRestStaysWithAWarning_data();
    void oneFieldIsWrittenAndTheRestStaysWithAWarning();
    void whatTheCommandSetsIsStillChecked_data();
    void whatTheCommandSetsIsStillChecked();

private:
    /** The arguments that run `verb` against device 0 with COM1's timeout set to 5 (restore: back to the
     *  0 a write of 5 replaced). */
    QStringList timeoutFive(const QString& verb);
    /** Writes `record` as the settings file `name` in the test's folder; its path. */
    QString writeSettingsFile(const QString& name, const EnvRecord& record);

    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliUntouched::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(u"data"_s))); // a history of its own per case
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(2, kFirstAddress);
    for (int i = 0; i < 2; ++i)
        m_sim->device(i).record = defaultLayout(i);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliUntouched::cleanup()
{
    m_sim.reset();
    m_dir.reset();
}

QStringList TestCliUntouched::timeoutFive(const QString& verb)
{
    if (verb == u"write"_s)
        return {u"write"_s, u"127.0.0.2"_s, u"com1.timeout=5"_s};
    if (verb == u"write to two"_s)
        return {u"write"_s, u"127.0.0.2"_s, u"127.0.0.3"_s, u"--yes"_s, u"com1.timeout=5"_s};
    if (verb == u"restore"_s) {
        // A write of 5 keeps the record with 0 in the history; the restore writes that back.
        const clitest::CliRun write = clitest::runCli(testProfile(), {u"write"_s, u"127.0.0.2"_s, u"com1.timeout=5"_s});
        if (write.status != 0)
            qWarning("the write before the restore failed: %s", qPrintable(write.err));
        return {u"restore"_s, u"127.0.0.2"_s};
    }
    if (verb == u"apply"_s) {
        const QString path = m_dir->filePath(u"state.json"_s);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(R"({"devices": {"127.0.0.2": {"com1.timeout": 5}}})") < 0)
            qWarning("cannot write %s", qPrintable(path));
        return {u"apply"_s, path};
    }
    // A settings file of the same layout whose only other value is COM1's timeout.
    EnvRecord fileRecord = defaultLayout(0);
    EnvPortBlock com1 = fileRecord.port(0);
    com1.setTimeout(5);
    fileRecord.setPort(0, com1);
    return {u"import"_s, writeSettingsFile(u"timeout.kvx"_s, fileRecord), u"127.0.0.2"_s};
}

QString TestCliUntouched::writeSettingsFile(const QString& name, const EnvRecord& record)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    const EnvRecord exported = settings_file::exportedRecord(record);
    const QByteArray bytes = settings_file::encode(raw(exported), settings_file::Product::of(record),
                                                   QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qWarning("cannot write %s", qPrintable(path));
    return path;
}

void TestCliUntouched::oneFieldIsWrittenAndTheRestStaysWithAWarning_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<int>("devices");   // written, from device 0 on
    QTest::addColumn<QString>("named"); // what names the device before each warning, if anything
    QTest::newRow("write") << u"write"_s << 1 << QString();
    QTest::newRow("write to two devices") << u"write to two"_s << 2 << u"127.0.0.%1: "_s;
    QTest::newRow("apply") << u"apply"_s << 1 << u"127.0.0.%1: "_s;
    QTest::newRow("import") << u"import"_s << 1 << u"127.0.0.%1: "_s;
    QTest::newRow("restore") << u"restore"_s << 1 << QString();
}

void TestCliUntouched::oneFieldIsWrittenAndTheRestStaysWithAWarning()
{
    QFETCH(QString, verb);
    QFETCH(int, devices);
    QFETCH(QString, named);
    const QStringList args = timeoutFive(verb);
    const QString verbName = args.constFirst();
    QList<QByteArray> before;
    for (int i = 0; i < devices; ++i)
        before << raw(m_sim->device(i).record);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = clitest::runCli(testProfile(), args);
    QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
    QCOMPARE(writesOf(handled), devices);
    for (int i = 0; i < devices; ++i) {
        // One line for each untouched value the form would refuse, and no other message.
        for (int port = 2; port <= 4; ++port) {
            const QString device = named.isEmpty() ? QString() : named.arg(2 + i);
            const QString line = u"cormapmp-cli: %1: %2%3\n"_s.arg(verbName, device, warning(port));
            QVERIFY2(run.err.count(line) == 1, qPrintable(run.err));
        }
        // COM1's timeout is 5 (little-endian); COM2 to COM4 keep their bytes; so does everything else
        // but the source address, which the device's own endpoint writes.
        const QByteArray after = raw(m_sim->device(i).record);
        QCOMPARE(after.mid(kCom2First, kCom4End - kCom2First).toHex(),
                 before.at(i).mid(kCom2First, kCom4End - kCom2First).toHex());
        QByteArray expected = before.at(i);
        expected.replace(kCom1Timeout, 2, QByteArray::fromHex(verb == u"restore"_s ? "0000" : "0500"));
        expected.replace(kSourceAddress, 4, after.mid(kSourceAddress, 4));
        QCOMPARE(after.toHex(), expected.toHex());
    }
    QCOMPARE(run.err.count(u"cormapmp-cli:"_s), 3 * devices);
}

void TestCliUntouched::whatTheCommandSetsIsStillChecked_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");
    // COM1 from ATC to T2S puts its local port, 0, in use.
    QTest::newRow("a mode that puts a value in use")
        << QStringList{u"write"_s, u"127.0.0.2"_s, u"com1.mode=T2S"_s, u"com1.timeout=5"_s}
        << u"cormapmp-cli: write: com1.localPort: 0 is outside 1 to 65534"_s;
    QTest::newRow("the field itself") << QStringList{u"write"_s, u"127.0.0.2"_s, u"com1.timeout=3601"_s}
                                      << u"cormapmp-cli: write: com1.timeout: 3601 is outside 0 to 3600"_s;
    QTest::newRow("an untouched port's field named")
        << QStringList{u"write"_s, u"127.0.0.2"_s, u"com3.localPort=0"_s}
        << u"cormapmp-cli: write: com3.localPort: 0 is outside 1 to 65534"_s;
    // A file whose COM2 runs U2S puts its peer port, 0 in the file as on the device, in use.
    QTest::newRow("an import that puts a value in use") << QStringList{u"import"_s, u"@com2-u2s.kvx"_s, u"127.0.0.2"_s}
                                                        << u"127.0.0.2: com2.peerPort: 0 is outside 1 to 65534"_s;
    // A combination the device cannot run, made by the command.
    QTest::newRow("Multi IP with DHCP") << QStringList{u"write"_s, u"127.0.0.2"_s, u"ipv4Type=DHCP"_s, u"multiIp=yes"_s}
                                        << u"ipv4Type: Multi IP needs the static IPv4 type"_s;
}

void TestCliUntouched::whatTheCommandSetsIsStillChecked()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    const QByteArray before = raw(m_sim->device(0).record);
    for (QString& arg : args) {
        if (arg == u"@com2-u2s.kvx"_s) {
            EnvRecord fileRecord = defaultLayout(0);
            EnvPortBlock com2 = fileRecord.port(1);
            com2.setMode(EnvPortBlock::kUdp);
            fileRecord.setPort(1, com2);
            arg = writeSettingsFile(u"com2-u2s.kvx"_s, fileRecord);
        }
    }
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = clitest::runCli(testProfile(), args);
    // An import names the device on its line and fails it (exit 1); the others are usage errors.
    QCOMPARE(run.status, args.constFirst() == u"import"_s ? 1 : 2);
    QVERIFY2((run.err + run.out).contains(named), qPrintable(run.err + run.out));
    QVERIFY2(!run.err.contains(u"left as the device has it"_s), qPrintable(run.err));
    QCOMPARE(writesOf(handled), 0);
    QCOMPARE(raw(m_sim->device(0).record).toHex(), before.toHex());
}

QTEST_GUILESS_MAIN(TestCliUntouched)
#include "tst_cli_untouched.moc"
