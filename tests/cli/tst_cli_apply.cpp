// cormapmp-cli apply: devices brought into the state a file declares, written only where a field differs.
// In-process against simulated devices on loopback (127.0.16.2 and up; device port 53505, TFTP 53569,
// shell 53523, this test's own). The written bytes are checked at their offsets in the record, as a
// device's manual gives them, not through the record's accessors.
#include "CliTestSupport.h"
#include "SimExchange.h"
#include "TesselSim.h"
#include "history/SettingsHistory.h"
#include "protocol/Codec.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kFirstAddress = 0x7F001002; // 127.0.16.2
const QString kMac1 = u"02:7e:55:00:00:01"_s;
const QString kAddress2 = u"127.0.16.3"_s;
const QString kAddress3 = u"127.0.16.4"_s;

// Where the written settings lie in the 512-byte record.
constexpr int kFlagsAt = 16;        // LE32 of flags
constexpr int kCommentAt = 88;      // 32 bytes of text, NUL-padded
constexpr int kCom1TimeoutAt = 336; // serial port blocks from 316, 24 bytes each; the timeout at +20, LE16
constexpr int kCom2BaudAt = 356;    // the rate at +16, LE32

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 53505;
    p.tftpPort = 53569;
    p.shellPort = 53523;
    return p;
}

QByteArray rawRecord(const SimDevice& device)
{
    return QByteArray(reinterpret_cast<const char*>(device.record.data()), 512);
}

/** `before` with `bytes` written at `offset`. */
QByteArray with(QByteArray before, int offset, const QByteArray& bytes)
{
    before.replace(offset, bytes.size(), bytes);
    return before;
}

QByteArray commentBytes(const char* text)
{
    QByteArray bytes(text);
    bytes.resize(32, '\0');
    return bytes;
}

/** Turns the three devices' records before a run into the records expected after it. */
using Expect = std::function<void(QList<QByteArray>& records)>;
} // namespace

Q_DECLARE_METATYPE(Expect)

class TestCliApply : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstRunChangesExactlyTheDeclaredFieldsAndTheSecondNothing();
    void dryRunReportsWhatWouldChangeAndWritesNothing();
    void aDeviceRefusingThePasswordFailsAlone();
    void aFieldTheDeviceDoesNotUseFailsThatDeviceOnly();
    void yamlDeclaresAStateAsJsonDoes_data();
    void yamlDeclaresAStateAsJsonDoes();
    void badFilesAreRefusedNamingLineAndField_data();
    void badFilesAreRefusedNamingLineAndField();
    void filesThatCannotBeReadAreBadInput();

private:
    /** Writes the desired state: state.json for a JSON text (it starts with { or [), else state.yaml. */
    QString writeFile(const QByteArray& text);
    clitest::CliRun apply(const QStringList& extra = {});

    QTemporaryDir m_dir;
    QString m_path; // the file writeFile wrote last
    std::unique_ptr<TesselSim> m_sim;
    clitest::FakeConsole m_console;
};

void TestCliApply::init()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    qputenv("CORMAPMP_LOCK_DIR", QFile::encodeName(m_dir.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(u"data"_s))); // a history of its own per case
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(3, kFirstAddress);
    QString problem;
    QVERIFY2(m_sim->start(&problem), qPrintable(problem));
    m_console = clitest::FakeConsole();
}

void TestCliApply::cleanup()
{
    m_sim.reset();
}

QString TestCliApply::writeFile(const QByteArray& text)
{
    const bool json = text.trimmed().startsWith('{') || text.trimmed().startsWith('[');
    const QString path = m_dir.filePath(json ? u"state.json"_s : u"state.yaml"_s);
    m_path = path;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        qWarning("cannot write %s", qPrintable(path));
    return path;
}

clitest::CliRun TestCliApply::apply(const QStringList& extra)
{
    return clitest::runCli(QStringList{u"apply"_s, m_path} + extra, m_console, testProfile());
}

// Device 1 by MAC: a comment and COM1's timeout (nested as read --json shows ports); the default rate of
// COM2 applies to it. Device 2 by address: its own COM2 rate (the one it has) wins over the default.
// Device 3 is not named and must not be touched.
static const QByteArray kTwoDevices = R"({
  "defaults": {"com2.baudRate": 115200},
  "devices": {
    "02:7e:55:00:00:01": {"comment": "Line 1", "ports": [{"timeout": 45}]},
    "127.0.16.3": {"comment": "Line 2", "com2.baudRate": 9600}
  }
})";

void TestCliApply::firstRunChangesExactlyTheDeclaredFieldsAndTheSecondNothing()
{
    writeFile(kTwoDevices);
    const QByteArray before1 = rawRecord(m_sim->device(0));
    const QByteArray before2 = rawRecord(m_sim->device(1));
    const QByteArray before3 = rawRecord(m_sim->device(2));
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);

    const clitest::CliRun first = apply();
    QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
    QCOMPARE(clitest::requestsOf(handled, frame::kWrite), 2);
    QByteArray expected1 = with(before1, kCommentAt, commentBytes("Line 1"));
    expected1 = with(expected1, kCom1TimeoutAt, QByteArray("\x2d\x00", 2));
    expected1 = with(expected1, kCom2BaudAt, QByteArray("\x00\xc2\x01\x00", 4)); // 115200
    QCOMPARE(rawRecord(m_sim->device(0)).toHex(), expected1.toHex());
    QCOMPARE(rawRecord(m_sim->device(1)).toHex(), with(before2, kCommentAt, commentBytes("Line 2")).toHex());
    QCOMPARE(rawRecord(m_sim->device(2)).toHex(), before3.toHex());
    QVERIFY2(first.out.contains(u"02:7e:55:00:00:01: changed:\n"_s), qPrintable(first.out));
    QVERIFY(first.out.contains(u"  comment                \"Tessel sim 1\" -> \"Line 1\"\n"_s));
    QVERIFY2(first.out.contains(u"  com1.timeout           0 -> 45\n"_s), qPrintable(first.out));
    QVERIFY(first.out.contains(u"  com2.baudRate          9600 -> 115200\n"_s));
    QVERIFY(first.out.contains(u"127.0.16.3: changed:\n  comment                \"Tessel sim 2\" -> \"Line 2\"\n2 "_s));
    QVERIFY(!first.out.contains(u"com2.baudRate          9600 -> 9600"_s));
    QVERIFY(first.out.endsWith(u"2 Tessel(s) in the declared state (2 changed, 0 unchanged), 0 failed.\n"_s));
    // The history keeps what apply replaced, under apply's name, once per device written.
    const settings_history::Store history;
    const QList<settings_history::Entry> kept = history.entries({0x02, 0x7e, 0x55, 0x00, 0x00, 0x01});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.constFirst().verb, u"apply"_s);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(kept.constFirst().before.data()), 512).toHex(), before1.toHex());
    QVERIFY(history.entries({0x02, 0x7e, 0x55, 0x00, 0x00, 0x03}).isEmpty());

    handled.clear();
    const clitest::CliRun second = apply({u"--json"_s});
    QVERIFY2(second.status == 0, qPrintable(second.out + second.err));
    QCOMPARE(clitest::requestsOf(handled, frame::kWrite), 0);
    QCOMPARE(clitest::requestsOf(handled, frame::kRead), 2);
    QCOMPARE(history.entries({0x02, 0x7e, 0x55, 0x00, 0x00, 0x01}).size(), 1); // nothing written, nothing kept
    const QJsonObject doc = clitest::jsonObject(second.out);
    QCOMPARE(doc.value(u"unchanged"_s).toInt(), 2);
    QCOMPARE(doc.value(u"changed"_s).toInt(), 0);
    const QJsonArray devices = doc.value(u"devices"_s).toArray();
    QCOMPARE(devices.size(), 2);
    for (const QJsonValue& device : devices) {
        QCOMPARE(device[u"result"_s].toString(), u"unchanged"_s);
        QCOMPARE(device[u"written"_s].toBool(), false);
        QVERIFY(device[u"changes"_s].toArray().isEmpty());
    }
    QCOMPARE(devices.at(0)[u"device"_s].toString(), kMac1);
    QCOMPARE(devices.at(1)[u"mac"_s].toString(), u"02:7e:55:00:00:02"_s);
}

void TestCliApply::dryRunReportsWhatWouldChangeAndWritesNothing()
{
    writeFile(kTwoDevices);
    const QByteArray before1 = rawRecord(m_sim->device(0));
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = apply({u"--dry-run"_s, u"--json"_s});
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    QCOMPARE(clitest::requestsOf(handled, frame::kWrite), 0);
    QCOMPARE(rawRecord(m_sim->device(0)), before1);
    const QJsonArray devices = clitest::jsonObject(run.out).value(u"devices"_s).toArray();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(0)[u"result"_s].toString(), u"wouldChange"_s);
    QCOMPARE(devices.at(0)[u"written"_s].toBool(), false);
    const QJsonArray changes = devices.at(0)[u"changes"_s].toArray();
    QStringList fields;
    for (const QJsonValue& c : changes)
        fields << c[u"field"_s].toString();
    QCOMPARE(fields, (QStringList{u"comment"_s, u"com1.timeout"_s, u"com2.baudRate"_s}));
    QCOMPARE(changes.at(2)[u"old"_s].toInt(), 9600);
    QCOMPARE(changes.at(2)[u"new"_s].toInt(), 115200);
    QCOMPARE(changes.at(0)[u"new"_s].toString(), u"Line 1"_s);
}

void TestCliApply::aDeviceRefusingThePasswordFailsAlone()
{
    m_sim->device(0).setPassword("secret1");
    m_sim->device(1).setPassword("secret2");
    m_sim->device(2).setPassword("secret1");
    writeFile(R"({"devices": {"127.0.16.2": {"comment": "A"}, "127.0.16.3": {"comment": "B"},
                              "127.0.16.4": {"comment": "C"}}})");
    const QByteArray before2 = rawRecord(m_sim->device(1));
    m_console.env[u"CORMAPMP_PASSWORD"_s] = u"secret1"_s;
    const clitest::CliRun run = apply();
    QCOMPARE(run.status, 1);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("A"));
    QCOMPARE(m_sim->device(2).record.comment(), std::string("C"));
    QCOMPARE(rawRecord(m_sim->device(1)), before2);
    QVERIFY2(run.out.contains(u"127.0.16.3: failed: Writing has failed. [password mismatch]\n"_s), qPrintable(run.out));
    QVERIFY(run.out.contains(u"127.0.16.4: changed:\n"_s));
    QVERIFY(run.out.endsWith(u"2 Tessel(s) in the declared state (2 changed, 0 unchanged), 1 failed.\n"_s));
}

void TestCliApply::aFieldTheDeviceDoesNotUseFailsThatDeviceOnly()
{
    // COM1 of a simulated device is in AT command mode, which has no peer port; COM2 a TCP server.
    writeFile(R"({"devices": {"127.0.16.2": {"com1.peerPort": 5000}, "127.0.16.3": {"com2.localPort": 4100}}})");
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = apply();
    QCOMPARE(run.status, 1);
    QCOMPARE(clitest::requestsOf(handled, frame::kWrite), 1);
    QVERIFY2(run.out.contains(u"127.0.16.2: failed: com1.peerPort is not used in ATC mode\n"_s), qPrintable(run.out));
    QCOMPARE(m_sim->device(1).record.port(1).localPort(), std::uint16_t{4100});
}

void TestCliApply::yamlDeclaresAStateAsJsonDoes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<int>("changed"); // devices written
    // The state of kTwoDevices in YAML, with comments, a MAC key written plain, and the second device's
    // comment "12:30" plain too: text, not the number 750 that YAML 1.1 reads in base 60.
    QTest::newRow("two devices, as the JSON example")
        << QByteArray("# two devices of line 1\n"
                      "defaults:\n"
                      "  com2.baudRate: 115200\n"
                      "devices:\n"
                      "  02:7e:55:00:00:01:\n"
                      "    comment: Line 1\n"
                      "    ports:\n"
                      "      - timeout: 45\n"
                      "  \"127.0.16.3\": {comment: 12:30, com2.baudRate: 9600}\n")
        << Expect([](QList<QByteArray>& r) {
               r[0] = with(r[0], kCommentAt, commentBytes("Line 1"));
               r[0] = with(r[0], kCom1TimeoutAt, QByteArray("\x2d\x00", 2));
               r[0] = with(r[0], kCom2BaudAt, QByteArray("\x00\xc2\x01\x00", 4)); // 115200
               r[1] = with(r[1], kCommentAt, commentBytes("12:30"));
           })
        << 2;
    // Quoted, a scalar is text whatever it looks like; plain, "007" would be the number 7.
    QTest::newRow("quoted numbers stay text") << QByteArray("devices:\n"
                                                            "  127.0.16.2:\n"
                                                            "    comment: \"007\"\n"
                                                            "  127.0.16.3: {comment: '12.50'}\n")
                                              << Expect([](QList<QByteArray>& r) {
                                                     r[0] = with(r[0], kCommentAt, commentBytes("007"));
                                                     r[1] = with(r[1], kCommentAt, commentBytes("12.50"));
                                                 })
                                              << 2;
    // The core schema's booleans in each of their spellings; the flags lie in the LE32 at byte 16, ARP at
    // bit 6 and Telnet at bit 7. Every device starts with ARP off and Telnet on.
    QTest::newRow("True, TRUE and FALSE")
        << QByteArray("devices:\n"
                      "  127.0.16.2: {arp: True, telnet: FALSE}\n"
                      "  127.0.16.3:\n"
                      "    arp: TRUE\n"
                      "    telnet: False\n")
        << Expect([](QList<QByteArray>& r) {
               for (const int d : {0, 1})
                   r[d][kFlagsAt] = char((std::uint8_t(r[d][kFlagsAt]) | 0x40) & ~0x80);
           })
        << 2;
    // A default and a device's own value of one field, named in two ways: the device's own wins, and
    // the field is not taken for one named twice.
    QTest::newRow("a default and the device's own value under another name")
        << QByteArray("defaults:\n"
                      "  COM2.baudRate: 115200\n"
                      "devices:\n"
                      "  127.0.16.2:\n"
                      "    ports: [{}, {baudRate: 38400}]\n"
                      "  127.0.16.3:\n"
                      "    com2: {baudRate: 57600}\n"
                      "  127.0.16.4: {}\n")
        << Expect([](QList<QByteArray>& r) {
               r[0] = with(r[0], kCom2BaudAt, QByteArray("\x00\x96\x00\x00", 4)); // 38400
               r[1] = with(r[1], kCom2BaudAt, QByteArray("\x00\xe1\x00\x00", 4)); // 57600
               r[2] = with(r[2], kCom2BaudAt, QByteArray("\x00\xc2\x01\x00", 4)); // 115200
           })
        << 3;
}

void TestCliApply::yamlDeclaresAStateAsJsonDoes()
{
    QFETCH(QByteArray, text);
    QFETCH(Expect, expect);
    QFETCH(int, changed);
    for (int d = 0; d < 3; ++d) {
        m_sim->device(d).record.setArp(false);
        m_sim->device(d).record.setTelnet(true);
    }
    writeFile(text);
    QList<QByteArray> expected;
    for (int d = 0; d < 3; ++d)
        expected << rawRecord(m_sim->device(d));
    expect(expected);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);

    const clitest::CliRun first = apply();
    QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
    for (int d = 0; d < 3; ++d)
        QCOMPARE(rawRecord(m_sim->device(d)).toHex(), expected.at(d).toHex());
    QCOMPARE(clitest::requestsOf(handled, frame::kWrite), changed);
    QVERIFY2(
        first.out.endsWith(u"%1 Tessel(s) in the declared state (%1 changed, 0 unchanged), 0 failed.\n"_s.arg(changed)),
        qPrintable(first.out));

    handled.clear();
    const clitest::CliRun second = apply();
    QVERIFY2(second.status == 0, qPrintable(second.out + second.err));
    QCOMPARE(clitest::requestsOf(handled, frame::kWrite), 0);
    QVERIFY(second.out.endsWith(
        u"%1 Tessel(s) in the declared state (0 changed, %1 unchanged), 0 failed.\n"_s.arg(changed)));
}

void TestCliApply::badFilesAreRefusedNamingLineAndField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("not JSON") << QByteArray("{\n \"devices\": {\n  \"127.0.16.2\": {\"comment\": \"x\",}\n }\n}")
                              << u"line 3: not JSON"_s;
    QTest::newRow("unknown field") << QByteArray("{\"devices\": {\n\"127.0.16.2\": {\n\"comment\": \"x\",\n"
                                                 "\"colour\": \"red\"}}}")
                                   << u"line 4: colour: no such field"_s;
    QTest::newRow("value out of range") << QByteArray("{\"devices\": {\n\"127.0.16.2\": {\"com1.timeout\": 70000}}}")
                                        << u"line 2: com1.timeout"_s;
    QTest::newRow("rate no list has")
        << QByteArray("{\"devices\": {\"127.0.16.2\": {}},\n\n\"defaults\": {\"com2.baudRate\": 115300}}")
        << u"line 3: com2.baudRate"_s;
    QTest::newRow("read-only field") << QByteArray(
                                            "{\"devices\": {\"127.0.16.2\": {\n\"mac\": \"02:00:00:00:00:01\"}}}")
                                     << u"line 2: mac: read-only"_s;
    QTest::newRow("device password") << QByteArray("{\"devices\": {\"127.0.16.2\": {\n\"password\": \"abcd\"}}}")
                                     << u"line 2: password: the device password never comes"_s;
    QTest::newRow("one field under two names")
        << QByteArray("{\"devices\": {\"127.0.16.2\": {\n\"com1.timeout\": 5,\n\"COM1.timeout\": 6}}}")
        << u"line 3: com1.timeout: named twice (line 2 too)"_s;
    QTest::newRow("one key twice") << QByteArray("{\"devices\": {\"127.0.16.2\": {\n\"comment\": \"a\",\n"
                                                 "\"comment\": \"b\"}}}")
                                   << u"line 3: comment: named twice"_s;
    QTest::newRow("not a device name") << QByteArray("{\"devices\": {\n\n\"127.0.16\": {}}}") << u"line 3: "_s;
    QTest::newRow("one device twice") << QByteArray(
                                             "{\"devices\": {\n\"02:7e:55:00:00:01\": {},\n\"02:7E:55:00:00:01\": {}}}")
                                      << u"line 3: 02:7E:55:00:00:01: the same device as line 2"_s;
    QTest::newRow("unknown section") << QByteArray("{\"devices\": {\"127.0.16.2\": {}},\n\"device\": {}}")
                                     << u"line 2: device: not a section"_s;
    QTest::newRow("no devices") << QByteArray("{\"defaults\": {\"comment\": \"a\"}}") << u"line 1: devices:"_s;
    QTest::newRow("a list as a value") << QByteArray("{\"devices\": {\"127.0.16.2\": {\"comment\": [\"a\"]}}}")
                                       << u"line 1: comment: a value is"_s;
    QTest::newRow("no value") << QByteArray("{\"devices\": {\"127.0.16.2\": {\"comment\": null}}}")
                              << u"line 1: comment: a value is"_s;
    QTest::newRow("nested port field") << QByteArray(
                                              "{\"devices\": {\"127.0.16.2\": {\"ports\": [{},\n{\"baudRate\": 1}]}}}")
                                       << u"line 2: com2.baudRate"_s;
    QTest::newRow("text a device cannot store")
        << QByteArray("{\"devices\": {\"127.0.16.2\": {\"comment\": \"\xe2\x82\xac\"}}}")
        << u"line 1: comment: \"€\" holds characters a device cannot store"_s;
    QTest::newRow("not an object") << QByteArray("[1, 2]") << u"line 1: a desired state is one JSON object"_s;
    QTest::newRow("YAML: not YAML") << QByteArray("devices:\n  127.0.16.2:\n    comment: [a\n")
                                    << u"line 4: not YAML"_s;
    QTest::newRow("YAML: unknown field") << QByteArray("devices:\n  127.0.16.2:\n    comment: x\n    colour: red\n")
                                         << u"line 4: colour: no such field"_s;
    QTest::newRow("YAML: one key twice") << QByteArray("devices:\n  127.0.16.2:\n    comment: a\n    comment: b\n")
                                         << u"line 4: comment: named twice"_s;
    QTest::newRow("YAML: an alias") << QByteArray("defaults: &d\n  comment: x\ndevices:\n  127.0.16.2: *d\n")
                                    << u"line 4: anchors and aliases"_s;
    QTest::newRow("YAML: a binary tag") << QByteArray("devices:\n  127.0.16.2:\n    comment: !!binary aGk=\n")
                                        << u"line 3: the tag !!binary is not taken"_s;
    QTest::newRow("YAML: a local tag") << QByteArray("devices:\n  127.0.16.2:\n    comment: !text hi\n")
                                       << u"line 3: the tag !text is not taken"_s;
    QTest::newRow("YAML: a core tag the value does not fit")
        << QByteArray("devices:\n  127.0.16.2:\n    com1.timeout: !!int twelve\n")
        << u"line 3: the value is not what its tag !!int says"_s;
    QTest::newRow("YAML: two documents") << QByteArray("devices:\n  127.0.16.2: {}\n---\ndevices: {}\n")
                                         << u"line 3: a desired state is one YAML document"_s;
    QTest::newRow("control characters shown")
        << QByteArray("{\"devices\": {\"127.0.16.2\": {}},\n\"\\u001b[2Jdevices\\n\": {}}")
        << u"line 2: \\x1b[2Jdevices\\x0a: not a section"_s;
    QTest::newRow("YAML: a list") << QByteArray("- 127.0.16.2\n") << u"line 1: a desired state is one mapping"_s;
    QTest::newRow("YAML: nested too deep") << "devices: " + QByteArray(40, '[') + QByteArray(40, ']') + "\n"
                                           << u"line 1: nested more than 32 deep"_s;
    QTest::newRow("YAML: empty") << QByteArray("") << u"line 1: a desired state is one mapping"_s;
    QTest::newRow("YAML: a value out of range")
        << QByteArray("devices:\n  127.0.16.2:\n\n    com1.timeout: 70000\n") << u"line 4: com1.timeout"_s;
    QTest::newRow("a decimal where a whole number goes")
        << QByteArray("{\"devices\": {\"127.0.16.2\": {\n\"com1.timeout\": 45.5}}}")
        << u"line 2: com1.timeout: \"45.5\" is not an integer"_s;
    QTest::newRow("YAML: a decimal where a whole number goes")
        << QByteArray("devices:\n  127.0.16.2:\n    ports:\n      - timeout: 45.5\n")
        << u"line 4: com1.timeout: \"45.5\" is not an integer"_s;
}

void TestCliApply::badFilesAreRefusedNamingLineAndField()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    const QString path = writeFile(text);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = apply();
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"apply: %1: %2"_s.arg(path, message)), qPrintable(run.err));
    QVERIFY(simtest::drain(*m_sim));
    QCOMPARE(handled.size(), 0); // nothing was sent, not even a read
}

void TestCliApply::filesThatCannotBeReadAreBadInput()
{
    QCOMPARE(clitest::runCli(testProfile(), {u"apply"_s, m_dir.filePath(u"missing.json"_s)}).status, 2);
    const clitest::CliRun folder = clitest::runCli(testProfile(), {u"apply"_s, m_dir.path()});
    QCOMPARE(folder.status, 2);
    QVERIFY2(folder.err.contains(m_dir.path()), qPrintable(folder.err));
    QCOMPARE(clitest::runCli(testProfile(), {u"apply"_s}).status, 2);
    writeFile(kTwoDevices);
    QCOMPARE(clitest::runCli(testProfile(), {u"apply"_s, m_dir.filePath(u"state.json"_s), u"--all"_s}).status, 2);
}

QTEST_GUILESS_MAIN(TestCliApply)
#include "tst_cli_apply.moc"
