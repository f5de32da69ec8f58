// The catalogue of a record's fields against tables written out by hand: every list's English entries,
// the fields each port's mode puts in use, the byte offsets each accessor writes, the list-position
// quirks, names, values as read shows them, and the differences between two records.
#include "FieldTables.h"
#include "record/RecordFields.h"
#include "text/StringTable.h"

#include <QJsonValue>
#include <QtTest>

using namespace Qt::StringLiterals;
using record_fields::FieldRef;
using record_fields::Id;

namespace {
FieldRef ref(const QString& name)
{
    const std::optional<FieldRef> r = record_fields::resolve(name);
    if (!r)
        qFatal("no field %s", qPrintable(name));
    return *r;
}

QByteArray bytesAt(const EnvRecord& r, std::size_t offset, int size)
{
    return QByteArray(reinterpret_cast<const char*>(r.data() + offset), size).toHex(' ');
}

// Record bytes changed at raw offsets, independently of the record's accessors.
using Edit = std::function<void(std::array<std::uint8_t, EnvRecord::kSize>&)>;
constexpr std::size_t kCom1 = 316;
constexpr std::size_t kCom2 = 340;
} // namespace

Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(EnvRecord)

class TestRecordFields : public QObject
{
    Q_OBJECT

private slots:
    void everyListShowsTheEnglishTextsInOrder_data();
    void everyListShowsTheEnglishTextsInOrder();
    void everyListAndFlagOfTheEditorIsInTheTable();
    void namesResolveAsReadNamesThem_data();
    void namesResolveAsReadNamesThem();
    void eachModeUsesThePortFieldsOfTheTable_data();
    void eachModeUsesThePortFieldsOfTheTable();
    void recordFieldsFollowTheirTypesAndCapabilities();
    void whyNotInUseNamesTheFieldAndTheReason_data();
    void whyNotInUseNamesTheFieldAndTheReason();
    void accessorsWriteTheirOwnBytes_data();
    void accessorsWriteTheirOwnBytes();
    void listPositionsKeepTheirQuirks();
    void valuesShowAsReadShowsThem();
    void differencesNameEachChangedFieldOnce();
    void differencesReportUninterpretedRunsAndTheWordsUnnamedBits();
    void unstorableCharactersAreNamedOnceEach();
    void changedSettingsLeaveOutWhatTheDeviceChangesItself();
    void changedSettingsNamesWhatAnotherWriterChanged_data();
    void changedSettingsNamesWhatAnotherWriterChanged();
    void anImportCarriesExactlyItsBytes_data();
    void anImportCarriesExactlyItsBytes();
    void importedSettingsAreTheFieldsAnImportCanChange_data();
    void importedSettingsAreTheFieldsAnImportCanChange();
    void onlyTheCommentIsAbsentWithoutItsCapability();
};

void TestRecordFields::everyListShowsTheEnglishTextsInOrder_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("english");
    for (const fieldtables::ListTexts& list : fieldtables::listTexts())
        QTest::newRow(list.field) << QString::fromLatin1(list.field) << list.english;
}

void TestRecordFields::everyListShowsTheEnglishTextsInOrder()
{
    QFETCH(QString, field);
    QFETCH(QStringList, english);
    const StringTable strings(UiLanguage::English);
    // A record field, or else a port's.
    const record_fields::Field* f = record_fields::find(field, false);
    if (!f)
        f = record_fields::find(field, true);
    QVERIFY(f);
    QStringList texts;
    for (const record_fields::Entry& e : f->entries)
        texts << (e.stringId ? strings.text(e.stringId) : QString::fromLatin1(e.names[0]));
    QCOMPARE(texts, english);
}

void TestRecordFields::everyListAndFlagOfTheEditorIsInTheTable()
{
    // Every field with entries is one of the lists written out above: none escapes the text check.
    QStringList tabled;
    for (const fieldtables::ListTexts& list : fieldtables::listTexts())
        tabled << QString::fromLatin1(list.field);
    for (const record_fields::Field& f : record_fields::all()) {
        if (!f.entries.empty())
            QVERIFY2(tabled.contains(QLatin1String(f.name)), f.name);
    }
}

void TestRecordFields::namesResolveAsReadNamesThem_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("name"); // empty: no such field
    QTest::newRow("record field") << u"comment"_s << u"comment"_s;
    QTest::newRow("port field") << u"com2.baudRate"_s << u"com2.baudRate"_s;
    QTest::newRow("port in capitals") << u"COM4.mode"_s << u"com4.mode"_s;
    QTest::newRow("as read --json nests it") << u"ports[0].peerPort"_s << u"com1.peerPort"_s;
    QTest::newRow("field in capitals") << u"COMMENT"_s << QString();
    QTest::newRow("port 5") << u"com5.mode"_s << QString();
    QTest::newRow("port field without a port") << u"baudRate"_s << QString();
    QTest::newRow("record field under a port") << u"com1.comment"_s << QString();
    QTest::newRow("ports in capitals") << u"PORTS[0].mode"_s << QString();
}

void TestRecordFields::namesResolveAsReadNamesThem()
{
    QFETCH(QString, typed);
    QFETCH(QString, name);
    const std::optional<FieldRef> r = record_fields::resolve(typed);
    QCOMPARE(r ? r->name() : QString(), name);
}

void TestRecordFields::eachModeUsesThePortFieldsOfTheTable_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("used");
    for (const fieldtables::ModeUse& mode : fieldtables::kModeUse) {
        for (const fieldtables::PortField& f : fieldtables::kPortFields)
            QTest::addRow("%s %s", mode.name, f.name) << mode.code << QString::fromLatin1(f.name) << mode.*f.used;
    }
}

void TestRecordFields::eachModeUsesThePortFieldsOfTheTable()
{
    QFETCH(int, mode);
    QFETCH(QString, field);
    QFETCH(bool, used);
    for (int port = 0; port < EnvRecord::kPortCount; ++port) {
        record_fields::Situation s;
        s.modes[static_cast<std::size_t>(port)] = mode;
        const FieldRef r = ref(u"com%1."_s.arg(port + 1) + field);
        QCOMPARE(record_fields::inUse(r, s), used);
        // The local address follows Multi IP, whatever the mode, and nothing is used without a mode.
        s.multiIp = true;
        QVERIFY(record_fields::inUse(ref(u"com%1.localIp"_s.arg(port + 1)), s));
        s.multiIp = false;
        QVERIFY(!record_fields::inUse(ref(u"com%1.localIp"_s.arg(port + 1)), s));
        s.modes[static_cast<std::size_t>(port)] = 0xFF;
        s.multiIp = true;
        QVERIFY(!record_fields::inUse(r, s));
        QVERIFY(!record_fields::inUse(ref(u"com%1.localIp"_s.arg(port + 1)), s));
    }
}

void TestRecordFields::recordFieldsFollowTheirTypesAndCapabilities()
{
    record_fields::Situation s;
    const auto used = [&s](const char* name) { return record_fields::inUse(ref(QString::fromLatin1(name)), s); };
    QVERIFY(used("ipAddress") && used("gateway") && !used("accountId") && used("eapol"));
    s.ipv4Type = EnvRecord::kDhcp;
    QVERIFY(!used("ipAddress") && !used("subnetMask") && !used("accountPassword"));
    s.ipv4Type = EnvRecord::kPppoe;
    QVERIFY(used("accountId") && used("accountPassword"));
    s.ipv4Type = EnvRecord::kStatic;
    s.eapol = 1;
    QVERIFY(used("accountId"));
    s.multiIp = true;
    QVERIFY(!used("eapol") && used("multiIp") && used("ipv4Type"));
    s.commentSupported = false;
    s.remoteSearchSupported = false;
    QVERIFY(!used("comment") && !used("remoteSearch") && used("telnet") && used("password"));
    for (const char* readOnly : {"mac", "productId", "productCode", "flags", "ssl", "commentSupported",
                                 "remoteSearchSupported", "passwordSet", "sourceAddress", "com1.serialFormat"})
        QVERIFY2(!used(readOnly) && ref(QString::fromLatin1(readOnly)).field->readOnly(), readOnly);
}

void TestRecordFields::whyNotInUseNamesTheFieldAndTheReason_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("ipv4Type");
    QTest::addColumn<QString>("why");
    QTest::newRow("peer port in ATC") << u"com1.peerPort"_s << 1 << 0 << u"com1.peerPort is not used in ATC mode"_s;
    QTest::newRow("event byte in T2S") << u"com1.waterMark"_s << 0 << 0 << u"com1.waterMark is not used in T2S mode"_s;
    QTest::newRow("timeout of an unknown mode")
        << u"com1.timeout"_s << 9 << 0 << u"com1.timeout is not used while the port's mode is code 9"_s;
    QTest::newRow("local address without Multi IP")
        << u"com1.localIp"_s << 2 << 0 << u"com1.localIp is used only with Multi IP (multiIp=yes)"_s;
    QTest::newRow("gateway with DHCP") << u"gateway"_s << 0 << 1
                                       << u"gateway is not used with the DHCP IPv4 type (only with ipv4Type=static)"_s;
    QTest::newRow("account with the static type")
        << u"accountId"_s << 0 << 0 << u"accountId is used only with PPPoE (ipv4Type=PPPoE) or EAPoL MD5 (eapol=MD5)"_s;
}

void TestRecordFields::whyNotInUseNamesTheFieldAndTheReason()
{
    QFETCH(QString, field);
    QFETCH(int, mode);
    QFETCH(int, ipv4Type);
    QFETCH(QString, why);
    record_fields::Situation s;
    s.modes = {mode, mode, mode, mode};
    s.ipv4Type = ipv4Type;
    QVERIFY(!record_fields::inUse(ref(field), s));
    QCOMPARE(record_fields::whyNotInUse(ref(field), s), why);
}

void TestRecordFields::accessorsWriteTheirOwnBytes_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes"); // hex, as the record holds them
    QTest::newRow("multiIp: flags bit 1") << u"multiIp"_s << qint64(1) << 16 << QByteArray("02 00 00 00");
    QTest::newRow("ipv4Type: bits 2-3") << u"ipv4Type"_s << qint64(2) << 16 << QByteArray("08 00 00 00");
    QTest::newRow("arp: bit 6") << u"arp"_s << qint64(1) << 16 << QByteArray("40 00 00 00");
    QTest::newRow("eapol: bits 9-10") << u"eapol"_s << qint64(1) << 16 << QByteArray("00 02 00 00");
    QTest::newRow("remoteSearch: bit 15") << u"remoteSearch"_s << qint64(1) << 16 << QByteArray("00 80 00 00");
    QTest::newRow("productCode: bits 7-3") << u"productCode"_s << qint64(3) << 12 << QByteArray("18");
    QTest::newRow("ipAddress, network order")
        << u"ipAddress"_s << qint64(0x7F000009) << 20 << QByteArray("7f 00 00 09");
    QTest::newRow("gateway") << u"gateway"_s << qint64(0x0A000001) << 28 << QByteArray("0a 00 00 01");
    QTest::newRow("COM2 peer port, little-endian")
        << u"com2.peerPort"_s << qint64(0x1234) << 340 + 14 << QByteArray("34 12");
    QTest::newRow("COM3 local port") << u"com3.localPort"_s << qint64(4001) << 364 + 12 << QByteArray("a1 0f");
    QTest::newRow("COM4 rate") << u"com4.baudRate"_s << qint64(115200) << 388 + 16 << QByteArray("00 c2 01 00");
    QTest::newRow("COM1 timeout") << u"com1.timeout"_s << qint64(3600) << 316 + 20 << QByteArray("10 0e");
    QTest::newRow("COM1 event byte") << u"com1.waterMark"_s << qint64(8192) << 316 + 22 << QByteArray("00 20");
    QTest::newRow("COM2 peer address") << u"com2.peerIp"_s << qint64(0x7F010203) << 340 + 8
                                       << QByteArray("7f 01 02 03");
    QTest::newRow("COM3 local address") << u"com3.localIp"_s << qint64(0x7F000003) << 364 + 4
                                        << QByteArray("7f 00 00 03");
    QTest::newRow("COM4 mode") << u"com4.mode"_s << qint64(2) << 388 + 1 << QByteArray("02");
    QTest::newRow("COM1 data bits: bits 0-1") << u"com1.dataBits"_s << qint64(3) << 316 << QByteArray("03");
    QTest::newRow("COM1 stop bits: bit 2") << u"com1.stopBits"_s << qint64(1) << 316 << QByteArray("04");
    QTest::newRow("COM1 parity: bits 3-4") << u"com1.parity"_s << qint64(3) << 316 << QByteArray("18");
    QTest::newRow("COM1 flow control: bits 5-6") << u"com1.flowControl"_s << qint64(1) << 316 << QByteArray("20");
}

void TestRecordFields::accessorsWriteTheirOwnBytes()
{
    QFETCH(QString, field);
    QFETCH(qint64, value);
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    EnvRecord r;
    record_fields::setValue(ref(field), r, value);
    const int size = static_cast<int>(bytes.count(' ')) + 1;
    QCOMPARE(bytesAt(r, static_cast<std::size_t>(offset), size), bytes);
    // Nothing else changed.
    EnvRecord cleared = r;
    std::fill_n(cleared.data() + offset, size, std::uint8_t{0});
    QVERIFY(cleared == EnvRecord());
    QCOMPARE(record_fields::value(ref(field), r), value);
}

void TestRecordFields::listPositionsKeepTheirQuirks()
{
    using namespace record_fields;
    const Field& parity = field(Id::Parity);
    const Field& flow = field(Id::FlowControl);
    QCOMPARE(positionOf(parity, 2), 2); // code 2 reads as Even...
    QCOMPARE(codeAt(parity, 2), 3);     // ...and goes back as code 3
    QCOMPARE(positionOf(flow, 2), 2);
    QCOMPARE(codeAt(flow, 2), 3);
    QCOMPARE(codeAt(flow, -1), 3); // no selection: all ones, so code 3 survives
    QCOMPARE(codeAt(field(Id::DataBits), -1), 3);
    QCOMPARE(codeAt(field(Id::StopBits), -1), 1);
    QCOMPARE(codeAt(field(Id::Mode), -1), 255);
    QCOMPARE(positionOf(field(Id::Mode), 7), -1);
    QCOMPARE(codeAt(field(Id::BaudRate), -1), 19200);
    QCOMPARE(positionOf(field(Id::BaudRate), 230400), 10);
    QCOMPARE(positionOf(field(Id::BaudRate), 460800), -1); // shown as an entry of its own by the editor
    QCOMPARE(positionOf(field(Id::BaudRate), 9601), -1);
    QCOMPARE(codeAt(field(Id::Ipv4Type), -1), 3);
}

void TestRecordFields::valuesShowAsReadShowsThem()
{
    EnvRecord r = EnvRecord::defaultRecord();
    r.setComment("Lab \"7\"\x1b");
    r.setIpv4Type(EnvRecord::kPppoe);
    EnvPortBlock com3 = r.port(2);
    com3.setMode(7);
    com3.setBaudRate(460800);
    com3.setSerialFormat(0x50); // 5 data bits, parity code 2, flow-control code 2
    r.setPort(2, com3);
    const auto json = [&r](const char* name) { return record_fields::jsonValue(ref(QString::fromLatin1(name)), r); };
    const auto text = [&r](const char* name) { return record_fields::valueText(ref(QString::fromLatin1(name)), r); };
    QCOMPARE(json("ipv4Type"), QJsonValue(u"PPPoE"_s));
    QCOMPARE(json("telnet"), QJsonValue(true));
    QCOMPARE(json("com3.mode"), QJsonValue(7));
    QCOMPARE(text("com3.mode"), u"code 7"_s);
    QCOMPARE(json("com3.baudRate"), QJsonValue(460800));
    QCOMPARE(json("com3.dataBits"), QJsonValue(5));
    QCOMPARE(json("com3.parity"), QJsonValue(u"Even"_s));
    QCOMPARE(json("com3.flowControl"), QJsonValue(u"Xon/Xoff"_s));
    QCOMPARE(json("com1.mode"), QJsonValue(u"ATC"_s));
    QCOMPARE(json("subnetMask"), QJsonValue(u"255.0.0.0"_s));
    QCOMPARE(text("flags"), u"0x000000c8"_s);
    QCOMPARE(text("com3.serialFormat"), u"0x50"_s);
    QCOMPARE(text("comment"), u"\"Lab \\\"7\\\"\\x1b\""_s);
    QCOMPARE(text("mac"), u"02:00:00:00:00:00"_s);
    QVERIFY(json("password").isNull());
}

void TestRecordFields::differencesNameEachChangedFieldOnce()
{
    EnvRecord before = EnvRecord::defaultRecord();
    before.setCommentSupported(true);
    EnvRecord after = before;
    after.setTelnet(false);
    after.setIpv4Type(EnvRecord::kDhcp);
    after.setComment("new");
    EnvPortBlock com2 = after.port(1);
    com2.setPeerPort(5000);
    com2.setParity(3);
    after.setPort(1, com2);
    after.setSourceAddress(0x7F000002);
    QList<QStringList> seen;
    for (const record_fields::Difference& d : record_fields::differences(before, after))
        seen << QStringList{d.field, d.before, d.after};
    // The option word and the serial format are not listed: their named bits say it all.
    const QList<QStringList> expected = {
        {u"ipv4Type"_s, u"static"_s, u"DHCP"_s},  {u"telnet"_s, u"yes"_s, u"no"_s},
        {u"comment"_s, u"\"\""_s, u"\"new\""_s},  {u"sourceAddress"_s, u"0.0.0.0"_s, u"127.0.0.2"_s},
        {u"com2.parity"_s, u"None"_s, u"Even"_s}, {u"com2.peerPort"_s, u"0"_s, u"5000"_s},
    };
    QCOMPARE(seen, expected);
    QVERIFY(record_fields::differences(after, after).isEmpty());
    // On a device that keeps no comment, its bytes are a run of uninterpreted bytes.
    before.setCommentSupported(false);
    after.setCommentSupported(false);
    const QList<record_fields::Difference> plain = record_fields::differences(before, after);
    QVERIFY(std::any_of(plain.begin(), plain.end(), [](const record_fields::Difference& d) {
        return d.field == u"uninterpreted 88-90" && d.before == u"000000" && d.after == u"6e6577";
    }));
}

void TestRecordFields::differencesReportUninterpretedRunsAndTheWordsUnnamedBits()
{
    const EnvRecord before = EnvRecord::defaultRecord();
    EnvRecord after = before;
    after.raw()[200] = 0xAA;
    after.raw()[203] = 0xBB;
    after.raw()[343] = 0x01;                    // byte 3 of COM2's block
    after.setFlags(after.flags() | 0x00010001); // bits 0 and 16: no field names them
    EnvPortBlock com1 = after.port(0);
    com1.setSerialFormat(com1.serialFormat() | 0x80);
    after.setPort(0, com1);
    after.setTypedPassword("secret");
    QList<QStringList> seen;
    for (const record_fields::Difference& d : record_fields::differences(before, after))
        seen << QStringList{d.field, d.before, d.after};
    const QList<QStringList> expected = {
        {u"flags"_s, u"0x000000c0"_s, u"0x000100c1"_s}, {u"passwordSet"_s, u"no"_s, u"yes"_s},
        {u"com1.serialFormat"_s, u"0x00"_s, u"0x80"_s}, {u"uninterpreted 200-203"_s, u"00000000"_s, u"aa0000bb"_s},
        {u"uninterpreted 343-343"_s, u"00"_s, u"01"_s},
    };
    QCOMPARE(seen, expected);
    // Another password set over one: the bytes differ, whether one is set does not.
    EnvRecord other = after;
    other.setTypedPassword("other1");
    const QList<record_fields::Difference> passwords = record_fields::differences(after, other);
    QCOMPARE(passwords.size(), 1);
    QCOMPARE(passwords.constFirst().field, u"password"_s);
}

void TestRecordFields::unstorableCharactersAreNamedOnceEach()
{
    QCOMPARE(record_fields::unstorableCharacters(u"Café Zürich"_s), QString());
    QCOMPARE(record_fields::unstorableCharacters(u"東京 東"_s), u"東京"_s);
    QCOMPARE(record_fields::unstorableCharacters(QString::fromUtf16(u"a\u0000b", 3)), QString(QChar(0)));
    QCOMPARE(record_fields::unstorableCharacters(u"😀 😀 😁"_s), u"😀😁"_s);
}

void TestRecordFields::changedSettingsLeaveOutWhatTheDeviceChangesItself()
{
    EnvRecord before = EnvRecord::defaultRecord();
    before.setCommentSupported(true);
    EnvRecord after = before;
    after.setTypedPassword("secret");
    after.setSourceAddress(0x7F000002);
    QVERIFY(record_fields::changedSettings(before, after).isEmpty());
    after.setComment("other");
    after.raw()[130] = 0x01;
    after.raw()[200] = 0x02;
    EnvPortBlock com4 = after.port(3);
    com4.setTimeout(9);
    after.setPort(3, com4);
    QCOMPARE(record_fields::changedSettings(before, after),
             (QStringList{u"comment"_s, u"com4.timeout"_s, u"uninterpreted"_s}));
    QCOMPARE(record_fields::changedSettings(after, before),
             (QStringList{u"comment"_s, u"com4.timeout"_s, u"uninterpreted"_s}));
}

void TestRecordFields::changedSettingsNamesWhatAnotherWriterChanged_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QStringList>("named");
    QTest::newRow("nothing") << Edit([](auto&) {}) << QStringList();
    QTest::newRow("the password field, as the device reports its hash")
        << Edit([](auto& raw) { raw[76] = 0x5A, raw[83] = 0xA5, raw[87] = 1; }) << QStringList();
    QTest::newRow("the source address of the answer")
        << Edit([](auto& raw) { raw[152] = 10, raw[155] = 7; }) << QStringList();
    QTest::newRow("the comment") << Edit([](auto& raw) { raw[88] = 'B'; }) << QStringList{u"comment"_s};
    QTest::newRow("COM2's rate (LE32 at 356)")
        << Edit([](auto& raw) { raw[kCom2 + 16] ^= 0x01; }) << QStringList{u"com2.baudRate"_s};
    QTest::newRow("COM1's timeout and the gateway")
        << Edit([](auto& raw) { raw[kCom1 + 20] = 77, raw[31] = 9; }) << QStringList{u"gateway"_s, u"com1.timeout"_s};
    QTest::newRow("telnet (bit 7 of the option word), named without the word")
        << Edit([](auto& raw) { raw[16] ^= 0x80; }) << QStringList{u"telnet"_s};
    QTest::newRow("a bit of the option word without a name of its own")
        << Edit([](auto& raw) { raw[16] ^= 0x01; }) << QStringList{u"flags"_s};
    QTest::newRow("COM3's parity, named without the serial format")
        << Edit([](auto& raw) { raw[364] ^= 0x10; }) << QStringList{u"com3.parity"_s};
    QTest::newRow("bytes no field covers")
        << Edit([](auto& raw) { raw[200] ^= 0xFF; }) << QStringList{u"uninterpreted"_s};
}

void TestRecordFields::changedSettingsNamesWhatAnotherWriterChanged()
{
    QFETCH(Edit, edit);
    QFETCH(QStringList, named);
    EnvRecord before = EnvRecord::defaultRecord();
    before.setCommentSupported(true);
    before.setComment("bench");
    EnvRecord after = before;
    edit(after.raw());
    QCOMPARE(record_fields::changedSettings(before, after), named);
    QCOMPARE(record_fields::changedSettings(after, before), named);
}

namespace {
/** The bits of each record byte a settings import carries, written out from the record's layout: the
 *  option word's bits 1-12 and 15 (bytes 16-17, little-endian: 0xFE and 0x9F), the three addresses
 *  (20-31), the comment (88-119), the bytes 120-151 and 156-315, and the port area 316-507. */
std::array<std::uint8_t, EnvRecord::kSize> importedBitsByByte()
{
    std::array<std::uint8_t, EnvRecord::kSize> mask{};
    mask[16] = 0xFE;
    mask[17] = 0x9F;
    const std::pair<std::size_t, std::size_t> whole[] = {{20, 31}, {88, 119}, {120, 151}, {156, 315}, {316, 507}};
    for (const auto& [first, last] : whole) {
        for (std::size_t at = first; at <= last; ++at)
            mask[at] = 0xFF;
    }
    return mask;
}

EnvRecord filled(const std::function<std::uint8_t(std::size_t)>& byte)
{
    EnvRecord r;
    for (std::size_t at = 0; at < EnvRecord::kSize; ++at)
        r.raw()[at] = byte(at);
    return r;
}
} // namespace

void TestRecordFields::anImportCarriesExactlyItsBytes_data()
{
    QTest::addColumn<EnvRecord>("target");
    QTest::addColumn<EnvRecord>("file");
    QTest::newRow("a file of ones onto zeros")
        << filled([](std::size_t) { return 0x00; }) << filled([](std::size_t) { return 0xFF; });
    QTest::newRow("a file of zeros onto ones")
        << filled([](std::size_t) { return 0xFF; }) << filled([](std::size_t) { return 0x00; });
    QTest::newRow("two patterns") << filled([](std::size_t at) { return static_cast<std::uint8_t>(at * 7 + 3); })
                                  << filled([](std::size_t at) { return static_cast<std::uint8_t>(at * 13 + 5); });
    QTest::newRow("alternating bits") << filled([](std::size_t) { return 0x55; })
                                      << filled([](std::size_t) { return 0xAA; });
}

void TestRecordFields::anImportCarriesExactlyItsBytes()
{
    QFETCH(EnvRecord, target);
    QFETCH(EnvRecord, file);
    const std::array<std::uint8_t, EnvRecord::kSize> mask = importedBitsByByte();
    EnvRecord merged = target;
    record_fields::mergeImported(merged, file);
    for (std::size_t at = 0; at < EnvRecord::kSize; ++at) {
        const auto expected = static_cast<std::uint8_t>((target.raw()[at] & ~mask[at]) | (file.raw()[at] & mask[at]));
        QVERIFY2(merged.raw()[at] == expected, qPrintable(u"byte %1: %2, expected %3"_s.arg(at)
                                                              .arg(int{merged.raw()[at]}, 2, 16, QLatin1Char('0'))
                                                              .arg(int{expected}, 2, 16, QLatin1Char('0'))));
    }
    // The record's own merge is the catalogue's.
    EnvRecord again = target;
    mergeImportedRecord(again, file);
    QCOMPARE(bytesAt(again, 0, EnvRecord::kSize), bytesAt(merged, 0, EnvRecord::kSize));
}

void TestRecordFields::importedSettingsAreTheFieldsAnImportCanChange_data()
{
    QTest::addColumn<bool>("comment");
    QTest::newRow("a device that keeps a comment") << true;
    QTest::newRow("a device without comments") << false;
}

void TestRecordFields::importedSettingsAreTheFieldsAnImportCanChange()
{
    QFETCH(bool, comment);
    EnvRecord record = EnvRecord::defaultRecord();
    record.setCommentSupported(comment);
    QStringList expected = {u"flags"_s, u"multiIp"_s,      u"ipv4Type"_s,  u"arp"_s,        u"telnet"_s, u"eapol"_s,
                            u"ssl"_s,   u"remoteSearch"_s, u"ipAddress"_s, u"subnetMask"_s, u"gateway"_s};
    if (comment)
        expected << u"comment"_s;
    for (int port = 1; port <= EnvRecord::kPortCount; ++port) {
        for (const char* f : {"serialFormat", "dataBits", "stopBits", "parity", "flowControl", "mode", "localIp",
                              "peerIp", "localPort", "peerPort", "baudRate", "timeout", "waterMark"})
            expected << u"com%1.%2"_s.arg(port).arg(QLatin1String(f));
    }
    expected << u"uninterpreted"_s;
    QCOMPARE(record_fields::importedSettings(record), expected);
    // The same as an import of a file whose every byte differs from the record shows as changed.
    EnvRecord different = record;
    for (std::uint8_t& byte : different.raw())
        byte = static_cast<std::uint8_t>(~byte);
    EnvRecord merged = record;
    record_fields::mergeImported(merged, different);
    QCOMPARE(record_fields::changedSettings(record, merged), expected);
}

void TestRecordFields::onlyTheCommentIsAbsentWithoutItsCapability()
{
    EnvRecord with = EnvRecord::defaultRecord();
    with.setCommentSupported(true);
    with.setRemoteSearchSupported(true);
    EnvRecord without = with;
    without.setCommentSupported(false);
    without.setRemoteSearchSupported(false);
    for (const record_fields::Field& f : record_fields::all()) {
        QVERIFY2(record_fields::kept(f, with), f.name);
        QVERIFY2(record_fields::kept(f, without) == (f.id != Id::Comment), f.name);
    }
    // A device without remote search still shows the flag, greyed out.
    QVERIFY(!record_fields::inUse(ref(u"remoteSearch"_s), record_fields::Situation::of(without)));
    QVERIFY(record_fields::inUse(ref(u"remoteSearch"_s), record_fields::Situation::of(with)));
}

QTEST_MAIN(TestRecordFields)
#include "tst_recordfields.moc"
