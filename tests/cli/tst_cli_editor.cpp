// The command-line tool's write and status verbs, in-process against simulated devices: what a write
// stores (pinned at raw record offsets), where the device password comes from, what is refused before
// anything is written, and the status report as printed.
#include "CliTestSupport.h"
#include "device/EditorRequests.h"
#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>

#include <map>
#include <memory>

namespace {
constexpr std::uint16_t kDevicePort = 52515; // this test's own device port on the loopback profile
constexpr std::uint32_t kFirstAddress = 0x7F000002;
constexpr int kOpenDevice = 0;   // 127.0.0.2: no password
constexpr int kLockedDevice = 1; // 127.0.0.3: password "pw12"
constexpr int kPlainDevice = 2;  // 127.0.0.4: no comment support, no remote search support
const QString kLockedPassword = QStringLiteral("pw12");

const QString kNoResponse = QStringLiteral("No response from the Tessel(s).\n"
                                           "Please check the LAN cable and the setting of the firewall on your PC.\n");

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

using clitest::CliRun;
using clitest::FakeConsole;

CliRun runCli(const QStringList& args, FakeConsole& console)
{
    return clitest::runCli(args, console, testProfile());
}

CliRun runCli(const QStringList& args)
{
    FakeConsole console;
    return runCli(args, console);
}

QStringList args(const char* line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

/** The bytes a record holds at `offset`. */
QByteArray bytesAt(const EnvRecord& r, std::size_t offset, int size)
{
    return QByteArray(reinterpret_cast<const char*>(r.data() + offset), size);
}

/** Device 0's record: every byte no field interprets carries a pattern, COM2 runs at 230400 baud with
 *  flow-control code 3 and parity code 2, codes the editor's lists do not hold as such. */
EnvRecord patterned(EnvRecord r)
{
    for (const auto& [first, last] : {std::pair{6, 11}, {14, 15}, {120, 151}, {156, 315}, {412, 511}})
        for (int at = first; at <= last; ++at)
            r.raw()[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(at * 13 + 5);
    r.raw()[318] = 0xA1; // bytes 2-3 of the COM1 block
    EnvPortBlock com2 = r.port(1);
    com2.setBaudRate(230400);
    com2.setSerialFormat(0x73); // 8 data bits, parity code 2, flow-control code 3
    r.setPort(1, com2);
    r.setFlags(r.flags() | 0x00010001u); // bits 0 and 16, never touched by a write
    r.setSourceAddress(0x01020304);
    return r;
}

/** A report as the devices' firmware lays it out, sent verbatim. */
QByteArray fixedReport()
{
    const unsigned char items[] = {
        1,  6, 3,    2,    1,    50,               // version 3.2B 50MHz
        32, 6, 0x14, 0x6C, 0x89, 0x00,             // uptime 9,006,100
        16, 8, 0x02, 0x11, 0x22, 0x0A, 0xBC, 0xDE, // MAC
        17, 6, 127,  0,    0,    2,                // local IP
        18, 6, 255,  255,  255,  0,                // subnet (no gateway item)
        64, 6, 0x10, 0x27, 0,    0,                // COM1 RX 10000
        71, 6, 0xFF, 0xFF, 0xFF, 0xFF,             // COM4 TX
        2,  8, 'L',  'A',  'N',  ':',  '\r', '\n', // a text line
        96, 6, 0xE8, 0x03, 0,    0,                // LAN RX 1000
        97, 6, 0x20, 0x03, 0,    0,                // LAN TX 800, joined to RX
        2,  4, '\r', '\n', 99,   4,    2,    1,    // LAN ALIGN errors 258
        2,  4, '\r', '\n', 3,    2,                // separator
    };
    return QByteArray(reinterpret_cast<const char*>(items), sizeof items);
}
} // namespace

class TestCliEditor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writeStoresExactlyTheChangedBytes_data();
    void writeStoresExactlyTheChangedBytes();
    void writeTakesThePasswordFromConsoleNeverArguments_data();
    void writeTakesThePasswordFromConsoleNeverArguments();
    void writeOfADeviceWithoutPasswordAsksForNone();
    void unknownResultPrintsTheProgramsMessage();
    void dryRunPrintsTheChangesAndSendsNothing();
    void refusedChangesSendNoWrite_data();
    void refusedChangesSendNoWrite();
    void accountIsAcceptedAndStored_data();
    void accountIsAcceptedAndStored();
    void writeToNobodyPrintsString166();
    void statusPrintsTheDecodedReport_data();
    void statusPrintsTheDecodedReport();
    void statusJsonHasNullForAbsentFields();
    void statusBadInputExitsTwo_data();
    void statusBadInputExitsTwo();

private:
    SimDevice& device(int i) { return m_sim->device(i); }
    int writesHandled(const QSignalSpy& spy) const;

    std::unique_ptr<TesselSim> m_sim;
};

void TestCliEditor::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    for (int i = 0; i < 3; ++i) {
        SimDevice d = TesselSim::makeDevice(i, kFirstAddress + static_cast<std::uint32_t>(i));
        if (i == kOpenDevice)
            d.record = patterned(d.record);
        if (i == kLockedDevice)
            d.setPassword(kLockedPassword.toLatin1());
        if (i == kPlainDevice) {
            d.record.setCommentSupported(false);
            d.record.setRemoteSearchSupported(false);
        }
        m_sim->addDevice(d);
    }
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliEditor::cleanup()
{
    m_sim.reset();
}

int TestCliEditor::writesHandled(const QSignalSpy& spy) const
{
    int writes = 0;
    for (const QList<QVariant>& call : spy)
        writes += call.at(1).toInt() == frame::kWrite ? 1 : 0;
    return writes;
}

void TestCliEditor::writeStoresExactlyTheChangedBytes_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("sourceAddress");
    // Whatever sourceAddress the write carries, a device keeps its own address there.
    QTest::newRow("by MAC (broadcast)") << QStringLiteral("02:7e:55:00:00:01") << QByteArray::fromHex("7f000002");
    QTest::newRow("by IP address (unicast)") << QStringLiteral("127.0.0.2") << QByteArray::fromHex("7f000002");
}

void TestCliEditor::writeStoresExactlyTheChangedBytes()
{
    QFETCH(QString, device);
    QFETCH(QByteArray, sourceAddress);
    const EnvRecord before = this->device(kOpenDevice).record;
    const CliRun run = runCli(QStringList{QStringLiteral("write"), device, QStringLiteral("com1.baudRate=115200"),
                                          QStringLiteral("comment=Bench 7"), QStringLiteral("ports[2].mode=U2S"),
                                          QStringLiteral("com4.timeout=600"), QStringLiteral("com1.parity=Even"),
                                          QStringLiteral("gateway=127.0.0.254")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(QStringLiteral("com1.baudRate          19200 -> 115200\n")), qPrintable(run.out));
    QVERIFY2(run.out.contains(QStringLiteral("comment                \"Tessel sim 1\" -> \"Bench 7\"\n")),
             qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("com3.mode              COD -> U2S\n")));
    QVERIFY(run.out.endsWith(QStringLiteral("The environment variables of the Tessel have been written.\n")));

    // What the device stored: the record as it was, with only these bytes changed.
    QByteArray expected = bytesAt(before, 0, 512);
    const auto put = [&](int offset, const QByteArray& bytes) { expected.replace(offset, bytes.size(), bytes); };
    put(28, QByteArray::fromHex("7f0000fe")); // gateway, network order
    put(152, sourceAddress);
    put(88, QByteArray("Bench 7").leftJustified(32, '\0')); // comment, NUL-padded
    put(316, QByteArray::fromHex("1b"));                    // COM1 format: 8N1 with parity code 3
    put(332, QByteArray::fromHex("00c20100"));              // COM1 115200, little-endian
    put(365, QByteArray::fromHex("03"));                    // COM3 mode U2S
    put(408, QByteArray::fromHex("5802"));                  // COM4 timeout 600, little-endian
    QCOMPARE(bytesAt(this->device(kOpenDevice).record, 0, 512).toHex(), expected.toHex());

    // Read back through the tool: the same values.
    const CliRun read = runCli(args("read 127.0.0.2 --json"));
    QCOMPARE(read.status, 0);
    const QJsonObject json = QJsonDocument::fromJson(read.out.toUtf8()).object();
    QCOMPARE(json.value(QStringLiteral("comment")).toString(), QStringLiteral("Bench 7"));
    QCOMPARE(json.value(QStringLiteral("ports"))[1].toObject().value(QStringLiteral("baudRate")).toInt(), 230400);
    QCOMPARE(json.value(QStringLiteral("ports"))[1].toObject().value(QStringLiteral("serialFormat")).toInt(), 0x73);
}

void TestCliEditor::writeTakesThePasswordFromConsoleNeverArguments_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("status");
    QTest::newRow("environment, right") << QStringLiteral("env") << kLockedPassword << 0;
    QTest::newRow("environment, wrong") << QStringLiteral("env") << QStringLiteral("pw13") << 1;
    QTest::newRow("stdin, right") << QStringLiteral("stdin") << kLockedPassword << 0;
    QTest::newRow("stdin, wrong") << QStringLiteral("stdin") << QStringLiteral("PW12") << 1;
    QTest::newRow("terminal prompt, right") << QStringLiteral("prompt") << kLockedPassword << 0;
    QTest::newRow("no terminal, nothing given: empty") << QStringLiteral("none") << QString() << 1;
}

void TestCliEditor::writeTakesThePasswordFromConsoleNeverArguments()
{
    QFETCH(QString, source);
    QFETCH(QString, password);
    QFETCH(int, status);
    FakeConsole console;
    const FakeConsole* seen = &console;
    QStringList line = args("write 127.0.0.3 comment=changed");
    if (source == QLatin1String("env"))
        console.env[QStringLiteral("CORMAPMP_PASSWORD")] = password;
    if (source == QLatin1String("stdin")) {
        line << QStringLiteral("--password-stdin");
        console.input = {password, QStringLiteral("second line")};
        console.env[QStringLiteral("CORMAPMP_PASSWORD")] = QStringLiteral("not this one");
    }
    if (source == QLatin1String("prompt")) {
        console.terminal = true;
        console.typed = QStringList{password};
    }
    const EnvRecord before = device(kLockedDevice).record;
    const CliRun run = runCli(line, console);
    QCOMPARE(run.status, status);
    if (status == 0) {
        QCOMPARE(run.err, QString());
        QCOMPARE(QString::fromStdString(device(kLockedDevice).record.comment()), QStringLiteral("changed"));
    } else {
        QCOMPARE(run.err, QStringLiteral("Writing has failed. [password mismatch]\n"));
        QVERIFY(device(kLockedDevice).record == before);
    }
    // The device password stays what it was: a write never changes it.
    QCOMPARE(bytesAt(device(kLockedDevice).record, 76, 12), bytesAt(before, 76, 12));
    QCOMPARE(seen->prompts.size(), source == QLatin1String("prompt") ? 1 : 0);
    if (!seen->prompts.isEmpty())
        QCOMPARE(seen->prompts.constFirst(), QStringLiteral("Password of the Tessel 02:7e:55:00:00:02 (127.0.0.3): "));
}

void TestCliEditor::writeOfADeviceWithoutPasswordAsksForNone()
{
    // The editor's Password box is disabled for such a device, so nothing is asked and nothing is sent.
    FakeConsole console;
    console.terminal = true;
    console.typed = QStringList{QStringLiteral("typed")};
    console.env[QStringLiteral("CORMAPMP_PASSWORD")] = QStringLiteral("set");
    const FakeConsole* seen = &console;
    const CliRun run = runCli(args("write 127.0.0.2 telnet=no"), console);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY(seen->prompts.isEmpty());
    QVERIFY(!device(kOpenDevice).record.telnet());
    QCOMPARE(bytesAt(device(kOpenDevice).record, 76, 12), QByteArray(12, '\0'));
}

void TestCliEditor::unknownResultPrintsTheProgramsMessage()
{
    SimFaults faults;
    faults.forcedResult = 7;
    m_sim->setFaults(faults);
    const CliRun run = runCli(args("write 02:7e:55:00:00:01 comment=unknown"));
    QCOMPARE(run.status, 1);
    // Read back, the device tells what its answer did not.
    QCOMPARE(run.err, QStringLiteral("Unknown response from the Tessel(s).\nThe Tessel 02:7e:55:00:00:01 did not take "
                                     "the write: read back, it still holds its settings from before; nothing was "
                                     "written.\n"));
}

void TestCliEditor::dryRunPrintsTheChangesAndSendsNothing()
{
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const EnvRecord before = device(kOpenDevice).record;
    const CliRun run = runCli(args("write 127.0.0.2 ipAddress=127.0.0.9 com1.baudRate=57600 --dry-run"));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Changes to the Tessel 02:7e:55:00:00:01 (127.0.0.2):\n"
                                     "  ipAddress              127.0.0.2 -> 127.0.0.9\n"
                                     "  com1.baudRate          19200 -> 57600\n"
                                     "Nothing was sent to the Tessel (--dry-run).\n"));
    QCOMPARE(writesHandled(handled), 0);
    QVERIFY(device(kOpenDevice).record == before);
}

void TestCliEditor::refusedChangesSendNoWrite_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("named");
    const auto row = [](const char* name, const char* line, const char* named) {
        QTest::newRow(name) << QString::fromUtf8(line) << QString::fromUtf8(named);
    };
    row("COM1 local port 0, by MAC", "write 02:7e:55:00:00:01 com1.localPort=0",
        "com1.localPort: 0 is outside 1 to 65534");
    row("COM1 local port 0, by IP", "write 127.0.0.2 com1.localPort=0", "com1.localPort: 0 is outside 1 to 65534");
    row("peer port 65535", "write 127.0.0.2 com4.peerPort=65535", "com4.peerPort: 65535 is outside 1 to 65534");
    row("timeout not a number", "write 127.0.0.2 com2.timeout=1h", "com2.timeout: \"1h\" is not an integer");
    row("event byte 8193", "write 127.0.0.2 com3.waterMark=8193", "com3.waterMark: 8193 is outside 0 to 8192");
    row("comment of 33 characters", "write 127.0.0.2 comment=123456789012345678901234567890123",
        "comment: at most 32 characters");
    row("address of three numbers", "write 127.0.0.2 subnetMask=255.255.0", "subnetMask: \"255.255.0\" is not a valid");
    row("port address octet 256", "write 127.0.0.2 com2.peerIp=127.0.0.256", "com2.peerIp: \"127.0.0.256\"");
    row("Multi IP with DHCP", "write 127.0.0.2 multiIp=yes ipv4Type=DHCP", "ipv4Type: Multi IP needs the static");
    row("EAPoL MD5 with PPPoE", "write 127.0.0.2 eapol=MD5 ipv4Type=PPPoE",
        "eapol: EAPoL MD5 cannot be used with PPPoE");
    row("address without static type", "write 127.0.0.2 ipv4Type=DHCP ipAddress=127.0.0.9",
        "ipAddress is not used with the DHCP IPv4 type (only with ipv4Type=static)");
    row("comment on a device without comments", "write 127.0.0.4 comment=x",
        "comment is not used: this device keeps no comment (commentSupported is no)");
    row("remote search without support", "write 127.0.0.4 remoteSearch=yes",
        "remoteSearch is not used: this device has no remote search");
    row("account without PPPoE or MD5", "write 127.0.0.2 accountId=me",
        "accountId is used only with PPPoE (ipv4Type=PPPoE) or EAPoL MD5 (eapol=MD5)");
    row("account password of 9", "write 127.0.0.2 ipv4Type=PPPoE accountPassword=123456789",
        "accountPassword: at most 8 characters");
    row("rate not in the list", "write 127.0.0.2 com1.baudRate=12345", "com1.baudRate: \"12345\" is not one of 600,");
    row("mode not in the list", "write 127.0.0.2 com1.mode=TCP", "com1.mode: \"TCP\" is not one of T2S, ATC, COD, U2S");
    row("parity code", "write 127.0.0.2 com1.parity=2", "com1.parity: \"2\" is not one of None, Odd, Even");
    row("unknown field", "write 127.0.0.2 baudRate=9600", "baudRate: no such field");
    row("port 5", "write 127.0.0.2 com5.baudRate=9600", "com5.baudRate: no such field");
    row("read-only MAC", "write 127.0.0.2 mac=02:7e:55:00:00:09", "mac: read-only");
    row("read-only SSL", "write 127.0.0.2 ssl=yes", "ssl: read-only");
    row("password from the arguments", "write 127.0.0.2 password=secret", "password: the device password never comes");
    row("named twice", "write 127.0.0.2 com1.baudRate=9600 ports[0].baudRate=600", "com1.baudRate: named twice");
    row("no change", "write 127.0.0.2", "at least one change");
    row("change without =", "write 127.0.0.2 comment", "\"comment\" is not a change");
    row("no device", "write", "name the device");
    row("bind with an IP device", "write 127.0.0.2 arp=no --bind 127.0.0.1", "--bind");
    row("device by --ip", "write --ip 127.0.0.2 arp=no", "--ip");
}

void TestCliEditor::refusedChangesSendNoWrite()
{
    QFETCH(QString, line);
    QFETCH(QString, named);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const EnvRecord before = device(kOpenDevice).record;
    const CliRun run = runCli(args(line.toUtf8().constData()));
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(named), qPrintable(run.err));
    QCOMPARE(writesHandled(handled), 0);
    QVERIFY(device(kOpenDevice).record == before);
}

void TestCliEditor::accountIsAcceptedAndStored_data()
{
    QTest::addColumn<QString>("use");   // what puts the account in use
    QTest::addColumn<quint32>("field"); // its bits in the option word
    QTest::addColumn<quint32>("value"); // what they hold afterwards
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("PPPoE") << QStringLiteral("ipv4Type=PPPoE") << quint32{0xC} << quint32{0x8}
                           << QByteArray("dsl-user@isp") << QByteArray("pw345678");
    QTest::newRow("PPPoE, an ID of the full 32 characters")
        << QStringLiteral("ipv4Type=PPPoE") << quint32{0xC} << quint32{0x8}
        << QByteArray("abcdefghijklmnopqrstuvwxyz012345") << QByteArray("pw");
    QTest::newRow("EAPoL MD5") << QStringLiteral("eapol=MD5") << quint32{0x600} << quint32{0x200}
                               << QByteArray("dot1x-user") << QByteArray("md5pass");
}

void TestCliEditor::accountIsAcceptedAndStored()
{
    QFETCH(QString, use);
    QFETCH(quint32, field);
    QFETCH(quint32, value);
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, password);
    const auto flagsOf = [](const EnvRecord& r) {
        const QByteArray b = bytesAt(r, 16, 4);
        return quint32(quint8(b[0])) | quint32(quint8(b[1])) << 8 | quint32(quint8(b[2])) << 16 |
               quint32(quint8(b[3])) << 24;
    };
    const quint32 before = flagsOf(device(kPlainDevice).record);
    const CliRun run = runCli({QStringLiteral("write"), QStringLiteral("127.0.0.4"), use,
                               QStringLiteral("accountId=") + QString::fromLatin1(id),
                               QStringLiteral("accountPassword=") + QString::fromLatin1(password)});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    const EnvRecord& stored = device(kPlainDevice).record;
    QCOMPARE(QString::number(flagsOf(stored), 16), QString::number((before & ~field) | value, 16));
    QCOMPARE(bytesAt(stored, 32, 32), id.leftJustified(32, '\0'));
    QCOMPARE(bytesAt(stored, 64, 12), password.leftJustified(12, '\0'));
}

void TestCliEditor::writeToNobodyPrintsString166()
{
    const CliRun run = runCli(args("write 127.0.0.77 arp=yes"));
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, kNoResponse);
    QCOMPARE(run.out, QString());
}

void TestCliEditor::statusPrintsTheDecodedReport_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("by MAC") << QStringLiteral("02:7e:55:00:00:01");
    QTest::newRow("by IP address") << QStringLiteral("127.0.0.2");
}

void TestCliEditor::statusPrintsTheDecodedReport()
{
    QFETCH(QString, device);
    this->device(kOpenDevice).statusItems = fixedReport();
    this->device(kOpenDevice).liveStatus = false;
    const CliRun run = runCli(QStringList{QStringLiteral("status"), device});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("Version   Tessel/LAN Rev. 3.2B 50MHz\n"
                                     "Uptime    1 days, 01:01:01\n"
                                     "MAC       02:11:22:0a:bc:de\n"
                                     "Local IP  127.0.0.2\n"
                                     "Subnet    255.255.255.0\n"
                                     "Gateway   \n"
                                     "          RX          TX\n"
                                     "COM1      10000       \n"
                                     "COM2                  \n"
                                     "COM3                  \n"
                                     "COM4                  4294967295\n"
                                     "\n"
                                     "LAN:\n"
                                     "LAN RX packets: 1000LAN TX packets: 800\n"
                                     "LAN ALIGN errors: 258\n") +
                          QString(40, QLatin1Char('-')) + QLatin1Char('\n'));
}

void TestCliEditor::statusJsonHasNullForAbsentFields()
{
    device(kOpenDevice).statusItems = fixedReport();
    device(kOpenDevice).liveStatus = false;
    const CliRun run = runCli(args("status 127.0.0.2 --json"));
    QCOMPARE(run.status, 0);
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(json.value(QStringLiteral("version")).toString(), QStringLiteral("Tessel/LAN Rev. 3.2B 50MHz"));
    QCOMPARE(json.value(QStringLiteral("uptime")).toString(), QStringLiteral("1 days, 01:01:01"));
    QVERIFY(json.value(QStringLiteral("gateway")).isNull());
    QCOMPARE(json.value(QStringLiteral("com1Rx")).toDouble(), 10000.0);
    QCOMPARE(json.value(QStringLiteral("com4Tx")).toDouble(), 4294967295.0);
    QVERIFY(json.value(QStringLiteral("com2Rx")).isNull());
    QCOMPARE(json.value(QStringLiteral("text")).toString(),
             QStringLiteral("LAN:\nLAN RX packets: 1000LAN TX packets: 800\nLAN ALIGN errors: 258\n") +
                 QString(40, QLatin1Char('-')));
    QCOMPARE(json.value(QStringLiteral("result")).toInt(), 0);
}

void TestCliEditor::statusBadInputExitsTwo_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("named");
    QTest::newRow("no device") << QStringLiteral("status") << QStringLiteral("name the device");
    // Several devices are served, but a bad name among them stops the run before anything is sent.
    QTest::newRow("bad name among several") << QStringLiteral("status 127.0.0.2 127.0.0.300")
                                            << QStringLiteral("127.0.0.300");
    QTest::newRow("broadcast address") << QStringLiteral("status 255.255.255.255") << QStringLiteral("255.255.255.255");
    QTest::newRow("dry run") << QStringLiteral("status 127.0.0.2 --dry-run") << QStringLiteral("--dry-run");
}

void TestCliEditor::statusBadInputExitsTwo()
{
    QFETCH(QString, line);
    QFETCH(QString, named);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const CliRun run = runCli(args(line.toUtf8().constData()));
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(named), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QCOMPARE(handled.count(), 0);
}

QTEST_GUILESS_MAIN(TestCliEditor)
#include "tst_cli_editor.moc"
