// The command line's fields against tables written out by hand: the names every list and flag takes, the
// port fields each mode puts in use, a device whose unused fields hold zeros, what the one address reader
// takes, and the checks that need no record, which refuse before anything is sent.
#include "CliTestSupport.h"
#include "FieldTables.h"
#include "record/RecordEdit.h"
#include "TesselSim.h"
#include "protocol/Codec.h"
#include "protocol/Ipv4.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52517; // this test's own device port on the loopback profile
constexpr std::uint32_t kFirstAddress = 0x7F000002;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

clitest::CliRun runCli(const QStringList& args)
{
    clitest::FakeConsole console;
    return clitest::runCli(args, console, testProfile());
}

/** A record on which every list and flag is in use, and every field the form checks holds a valid value:
 *  static type, Multi IP off, both capabilities, each port a UDP port with its ports set. */
EnvRecord everythingInUse()
{
    EnvRecord r = EnvRecord::defaultRecord();
    r.setCommentSupported(true);
    r.setRemoteSearchSupported(true);
    for (int p = 0; p < EnvRecord::kPortCount; ++p) {
        EnvPortBlock b = r.port(p);
        b.setMode(EnvPortBlock::kUdp);
        b.setLocalPort(static_cast<std::uint16_t>(4001 + p));
        b.setPeerPort(static_cast<std::uint16_t>(5001 + p));
        r.setPort(p, b);
    }
    return r;
}

/** The field a table names: the record's own, or else COM2's. */
QString qualified(const char* field)
{
    const QString name = QString::fromLatin1(field);
    return record_fields::find(name, false) ? name : u"com2."_s + name;
}

/** A record whose ports run ATC, T2S, COD and U2S with zeros in every network field their mode does not
 *  use (the default record of some devices), and valid values in the fields it does. */
EnvRecord zerosWhereUnused()
{
    EnvRecord r = everythingInUse();
    const int modes[] = {1, 0, 2, 3};
    for (int p = 0; p < EnvRecord::kPortCount; ++p) {
        const fieldtables::ModeUse& use = fieldtables::kModeUse[modes[p]];
        EnvPortBlock b;
        b.setSerialFormat(0x03);
        b.setMode(static_cast<std::uint8_t>(use.code));
        b.setBaudRate(9600);
        b.setLocalPort(use.localPort ? static_cast<std::uint16_t>(4001 + p) : 0);
        b.setPeerIp(use.peerIp ? 0x7F000001u : 0u);
        b.setPeerPort(use.peerPort ? static_cast<std::uint16_t>(5001 + p) : 0);
        b.setTimeout(0);
        b.setWaterMark(use.waterMark ? 1 : 0);
        r.setPort(p, b);
    }
    return r;
}
} // namespace

class TestCliFields : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyListAndFlagTakesTheNamesOfTheTable_data();
    void everyListAndFlagTakesTheNamesOfTheTable();
    void whatReadShowsWriteTakesBack();
    void portFieldsAreTakenOnlyWhereTheModeUsesThem_data();
    void portFieldsAreTakenOnlyWhereTheModeUsesThem();
    void aChangeOfModeInTheSameCommandPutsItsFieldsInUse();
    void deviceWithZerosInUnusedFieldsIsWritten();
    void addressTextsAsTheReaderTakesThem_data();
    void addressTextsAsTheReaderTakesThem();
    void checksWithoutARecordRefuseBeforeAnythingIsSent_data();
    void checksWithoutARecordRefuseBeforeAnythingIsSent();

private:
    int handledOf(int command) const;

    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<QSignalSpy> m_handled;
};

void TestCliFields::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(3, kFirstAddress);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_handled = std::make_unique<QSignalSpy>(m_sim.get(), &TesselSim::requestHandled);
}

void TestCliFields::cleanup()
{
    m_handled.reset();
    m_sim.reset();
}

int TestCliFields::handledOf(int command) const
{
    int n = 0;
    for (const QList<QVariant>& call : *m_handled)
        n += call.at(1).toInt() == command ? 1 : 0;
    return n;
}

void TestCliFields::everyListAndFlagTakesTheNamesOfTheTable_data()
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < fieldtables::cliNames().size(); ++i)
        QTest::newRow(fieldtables::cliNames()[i].field) << static_cast<int>(i);
}

void TestCliFields::everyListAndFlagTakesTheNamesOfTheTable()
{
    QFETCH(int, row);
    const fieldtables::CliNames& table = fieldtables::cliNames()[static_cast<std::size_t>(row)];
    const QString field = qualified(table.field);
    const std::optional<record_fields::FieldRef> ref = record_fields::resolve(field);
    QVERIFY(ref);
    // Exactly the names of the table, no more, no fewer.
    QStringList expected;
    for (const auto& [name, code] : table.names)
        expected << name.toLower();
    QStringList accepted;
    for (const QString& name : record_fields::acceptedNames(*ref->field))
        accepted << name.toLower();
    expected.sort();
    accepted.sort();
    QCOMPARE(accepted, expected);
    // Each name, in any case, stores its code.
    for (const auto& [name, code] : table.names) {
        for (const QString& typed : {name, name.toUpper()}) {
            EnvRecord r = everythingInUse();
            const std::optional<QString> refused = record_edit::applyChanges(r, {{field, typed}});
            QVERIFY2(!refused, qPrintable(refused.value_or(QString())));
            QCOMPARE(record_fields::value(*ref, r), code);
        }
    }
    EnvRecord r = everythingInUse();
    const std::optional<QString> refused = record_edit::applyChanges(r, {{field, u"bogus"_s}});
    QVERIFY(refused && refused->startsWith(field + u": \"bogus\" is not one of "_s));
}

void TestCliFields::whatReadShowsWriteTakesBack()
{
    // Every entry of every list: its value as read --json shows it is a name write takes, for the same code.
    for (const record_fields::Field& f : record_fields::all()) {
        if (f.kind != record_fields::Kind::List || f.readOnly())
            continue;
        const record_fields::FieldRef ref{&f, f.perPort ? 1 : -1};
        for (const record_fields::Entry& e : f.entries) {
            EnvRecord shown = everythingInUse();
            record_fields::setValue(ref, shown, e.code);
            const QJsonValue json = record_fields::jsonValue(ref, shown);
            const QString typed = json.isString() ? json.toString() : QString::number(json.toInt());
            EnvRecord written = everythingInUse();
            QVERIFY(!record_edit::applyChanges(written, {{ref.name(), typed}}));
            QCOMPARE(record_fields::value(ref, written), e.code);
        }
    }
}

void TestCliFields::portFieldsAreTakenOnlyWhereTheModeUsesThem_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("used");
    for (const fieldtables::ModeUse& m : fieldtables::kModeUse) {
        for (const fieldtables::PortField& f : fieldtables::kPortFields)
            QTest::addRow("%s %s", m.name, f.name) << m.code << QString::fromLatin1(f.name) << m.*f.used;
    }
}

void TestCliFields::portFieldsAreTakenOnlyWhereTheModeUsesThem()
{
    QFETCH(int, mode);
    QFETCH(QString, field);
    QFETCH(bool, used);
    EnvRecord r = zerosWhereUnused();
    EnvPortBlock com2 = r.port(1);
    com2.setMode(static_cast<std::uint8_t>(mode));
    com2.setLocalPort(4002);
    com2.setPeerPort(5002);
    r.setPort(1, com2);
    const EnvRecord before = r;
    const QString value = field.endsWith(u"Ip") ? u"127.0.0.9"_s : u"77"_s;
    const std::optional<QString> refused = record_edit::applyChanges(r, {{u"com2."_s + field, value}});
    QCOMPARE(!refused.has_value(), used);
    if (!used) {
        QCOMPARE(*refused,
                 u"com2.%1 is not used in %2 mode"_s.arg(field, QLatin1String(fieldtables::kModeUse[mode].name)));
        QVERIFY(r == before);
    }
}

void TestCliFields::aChangeOfModeInTheSameCommandPutsItsFieldsInUse()
{
    EnvRecord r = zerosWhereUnused(); // COM1 in ATC mode, its peer address and port zero
    QVERIFY(record_edit::applyChanges(r, {{u"com1.peerPort"_s, u"6000"_s}}));
    QVERIFY(!record_edit::applyChanges(
        r, {{u"com1.mode"_s, u"COD"_s}, {u"com1.peerIp"_s, u"127.0.0.9"_s}, {u"com1.peerPort"_s, u"6000"_s}}));
    QCOMPARE(r.port(0).peerPort(), 6000);
    // Changing the mode alone to one that uses the zero peer port is refused by the port's range.
    EnvRecord other = zerosWhereUnused();
    const std::optional<QString> refused = record_edit::applyChanges(other, {{u"com1.mode"_s, u"COD"_s}});
    QCOMPARE(refused.value_or(QString()), u"com1.peerPort: 0 is outside 1 to 65534"_s);
}

void TestCliFields::deviceWithZerosInUnusedFieldsIsWritten()
{
    m_sim->device(0).record = zerosWhereUnused();
    m_sim->device(0).record.setMac({0x02, 0x7E, 0x55, 0x00, 0x00, 0x01});
    m_sim->device(0).record.setIpAddress(kFirstAddress);
    const EnvRecord before = m_sim->device(0).record;
    const clitest::CliRun run = runCli({u"write"_s, u"127.0.0.2"_s, u"com1.timeout=5"_s});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(handledOf(frame::kWrite), 2); // both copies of the one write
    // Only COM1's timeout changed (little-endian at 316 + 20); the zeros went back as they came.
    QByteArray expected(reinterpret_cast<const char*>(before.data()), EnvRecord::kSize);
    expected.replace(316 + 20, 2, QByteArray::fromHex("0500"));
    expected.replace(152, 4, QByteArray::fromHex("7f000002")); // the device keeps its own source address
    const EnvRecord& after = m_sim->device(0).record;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(after.data()), EnvRecord::kSize).toHex(), expected.toHex());
}

void TestCliFields::addressTextsAsTheReaderTakesThem_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<quint32>("address");
    for (const fieldtables::AddressText& t : fieldtables::addressTexts())
        QTest::newRow(t.name) << t.typed << t.address.has_value() << quint32(t.address.value_or(0));
}

void TestCliFields::addressTextsAsTheReaderTakesThem()
{
    QFETCH(QString, typed);
    QFETCH(bool, taken);
    QFETCH(quint32, address);
    const QString refusal = u"%1 is not a valid IPv4 address."_s.arg(typed);
    // As the device to read.
    const clitest::CliRun read = runCli({u"read"_s, typed, u"--json"_s});
    QCOMPARE(read.status, taken ? 0 : 2);
    if (taken)
        QCOMPARE(QJsonDocument::fromJson(read.out.toUtf8()).object().value(u"sourceAddress"_s).toString(),
                 ipv4::dotted(address));
    else
        QVERIFY2(read.err.contains(refusal), qPrintable(read.err));
    // As the address to search with.
    const clitest::CliRun search = runCli({u"search"_s, u"--ip"_s, typed});
    QCOMPARE(search.status, taken ? 0 : 2);
    QVERIFY2(taken || search.err.contains(refusal), qPrintable(search.err));
    // As an address field of the record.
    const clitest::CliRun write = runCli({u"write"_s, u"127.0.0.3"_s, u"gateway="_s + typed, u"--dry-run"_s});
    QCOMPARE(write.status, taken ? 0 : 2);
    if (taken)
        QVERIFY2(write.out.contains(u"-> %1\n"_s.arg(ipv4::dotted(address))), qPrintable(write.out));
    else
        QVERIFY2(write.err.contains(u"gateway: \"%1\" is not a valid IPv4 address"_s.arg(typed)),
                 qPrintable(write.err));
    // A refusal sends nothing at all.
    if (!taken)
        QCOMPARE(m_handled->count(), 0);
}

void TestCliFields::checksWithoutARecordRefuseBeforeAnythingIsSent_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");
    QTest::newRow("no device answers there") << QStringList{u"write"_s, u"127.0.0.77"_s, u"com1.localPort=0"_s}
                                             << u"com1.localPort: 0 is outside 1 to 65534"_s;
    QTest::newRow("three devices") << QStringList{u"write"_s,     u"127.0.0.2"_s, u"127.0.0.3"_s,
                                                  u"127.0.0.4"_s, u"--yes"_s,     u"com1.localPort=0"_s}
                                   << u"com1.localPort: 0 is outside 1 to 65534"_s;
    QTest::newRow("every device") << QStringList{u"write"_s, u"--all"_s, u"--yes"_s, u"com2.peerIp=127.0.0.010"_s}
                                  << u"com2.peerIp: \"127.0.0.010\" is not a valid IPv4 address"_s;
    QTest::newRow("text a record cannot hold")
        << QStringList{u"write"_s, u"127.0.0.2"_s, u"comment=Café 東京"_s}
        << u"comment: \"Café 東京\" holds characters a device cannot store: 東京"_s;
    QTest::newRow("field named in capitals")
        << QStringList{u"write"_s, u"127.0.0.2"_s, u"COMMENT=x"_s} << u"COMMENT: no such field"_s;
}

void TestCliFields::checksWithoutARecordRefuseBeforeAnythingIsSent()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    const clitest::CliRun run = runCli(args);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"cormapmp-cli: write: "_s + named), qPrintable(run.err));
    QCOMPARE(run.err.count(u"cormapmp-cli:"_s), 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(m_handled->count(), 0); // not even a read or a search
}

QTEST_GUILESS_MAIN(TestCliFields)
#include "tst_cli_fields.moc"
