#include "record/EnvRecord.h"
#include "record/RecordFields.h"

#include <QTest>

#include <algorithm>
#include <functional>

namespace {
// A record as a device might send it: every byte set, so that any byte an accessor or a copy
// loses shows up.
EnvRecord patternedRecord(std::uint8_t salt)
{
    EnvRecord r;
    for (std::size_t i = 0; i < EnvRecord::kSize; ++i)
        r.raw()[i] = static_cast<std::uint8_t>(i * 31 + salt);
    return r;
}

bool sameBytes(const EnvRecord& a, const EnvRecord& b, std::size_t from, std::size_t size)
{
    return std::equal(a.data() + from, a.data() + from + size, b.data() + from);
}

/** One multi-byte field: where it sits, how wide, in which byte order, and its accessors. */
struct NumberField
{
    std::size_t offset = 0;
    int size = 0;
    bool bigEndian = false;
    std::function<void(EnvRecord&, std::uint32_t)> set;
    std::function<std::uint32_t(const EnvRecord&)> get;
};

/** A port block's field reached through the record, as the editor reaches it. */
template <typename T>
NumberField portField(int port, std::size_t offset, bool bigEndian, void (EnvPortBlock::*set)(T),
                      T (EnvPortBlock::*get)() const)
{
    return {EnvRecord::kOffPorts + static_cast<std::size_t>(port) * EnvPortBlock::kSize + offset,
            static_cast<int>(sizeof(T)), bigEndian,
            [port, set](EnvRecord& r, std::uint32_t v) {
                EnvPortBlock b = r.port(port);
                (b.*set)(static_cast<T>(v));
                r.setPort(port, b);
            },
            [port, get](const EnvRecord& r) { return static_cast<std::uint32_t>((r.port(port).*get)()); }};
}

/** The bytes a value of `size` bytes takes in the given order, computed here byte by byte. */
QByteArray orderedBytes(std::uint32_t value, int size, bool bigEndian)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF)); // least significant first
    if (bigEndian)
        std::reverse(bytes.begin(), bytes.end());
    return bytes;
}
} // namespace

Q_DECLARE_METATYPE(NumberField)

class tst_EnvRecord : public QObject
{
    Q_OBJECT

private slots:
    void defaultRecordHasTheFactorySettings()
    {
        const EnvRecord r = EnvRecord::defaultRecord();
        QCOMPARE(r.flags(), std::uint32_t(0xC0));
        QVERIFY(r.arp() && r.telnet() && !r.multiIp());
        QCOMPARE(r.ipAddress(), std::uint32_t(0x0A010001));
        QCOMPARE(r.subnetMask(), std::uint32_t(0xFF000000));
        QCOMPARE(r.gateway(), std::uint32_t(0));
        QCOMPARE(r.productId(), std::uint8_t(1));
        QCOMPARE(r.port(0).mode(), std::uint8_t(EnvPortBlock::kAtCommand));
        QCOMPARE(r.port(0).baudRate(), std::uint32_t(19200));
        QCOMPARE(r.port(0).waterMark(), std::uint16_t(1));
        // Network order on the wire: 10.1.0.1 is stored as 0A 01 00 01.
        QCOMPARE(r.raw()[20], std::uint8_t(10));
        QCOMPARE(r.raw()[23], std::uint8_t(1));
        // Zero everywhere else beyond the placeholder identity and the fields above.
        EnvRecord rest = r;
        std::fill_n(rest.raw().begin(), 12, 0);
        rest.setProductId(0);
        rest.setFlags(0);
        rest.setIpAddress(0);
        rest.setSubnetMask(0);
        rest.setPort(0, EnvPortBlock());
        QVERIFY(rest == EnvRecord());
        QCOMPARE(EnvRecord::defaultRecord().raw(), r.raw()); // fixed placeholder bytes
    }

    void settingEveryFieldKeepsUninterpretedBytes()
    {
        const EnvRecord original = patternedRecord(5);
        EnvRecord r = original;
        // Write every interpreted field back with the value it already has, through the accessors.
        r.setMac(r.mac());
        r.setProductId(r.productId());
        r.setProductInfo(r.productInfo());
        r.setMultiIp(r.multiIp());
        r.setIpv4Type(r.ipv4Type());
        r.setArp(r.arp());
        r.setTelnet(r.telnet());
        r.setEapol(r.eapol());
        r.setSsl(r.ssl());
        r.setRemoteSearch(r.remoteSearch());
        r.setIpAddress(r.ipAddress());
        r.setSubnetMask(r.subnetMask());
        r.setGateway(r.gateway());
        r.setSourceAddress(r.sourceAddress());
        for (int i = 0; i < EnvRecord::kPortCount; ++i) {
            EnvPortBlock p = r.port(i);
            p.setDataBits(p.dataBits());
            p.setStopBits(p.stopBits());
            p.setParity(p.parity());
            p.setFlowControl(p.flowControl());
            p.setMode(p.mode());
            p.setLocalIp(p.localIp());
            p.setPeerIp(p.peerIp());
            p.setLocalPort(p.localPort());
            p.setPeerPort(p.peerPort());
            p.setBaudRate(p.baudRate());
            p.setTimeout(p.timeout());
            p.setWaterMark(p.waterMark());
            r.setPort(i, p);
        }
        QVERIFY(r == original);
    }

    void fieldsSitAtTheirOffsets()
    {
        EnvRecord r;
        r.setFlags(0);
        r.setIpv4Type(EnvRecord::kPppoe);
        r.setEapol(1);
        r.setRemoteSearch(true);
        QCOMPARE(r.flags(), std::uint32_t((2u << 2) | (1u << 9) | (1u << 15)));
        EnvPortBlock com3;
        com3.setLocalPort(0x1234);
        com3.setBaudRate(115200);
        com3.setDataBits(3);
        com3.setStopBits(1);
        com3.setParity(3);
        com3.setFlowControl(1);
        r.setPort(2, com3);
        QCOMPARE(r.raw()[364], std::uint8_t(0x03 | 0x04 | 0x18 | 0x20));
        QCOMPARE(r.raw()[364 + 12], std::uint8_t(0x34)); // little-endian port
        QCOMPARE(r.raw()[364 + 13], std::uint8_t(0x12));
        QCOMPARE(frame32(r, 364 + 16), std::uint32_t(115200));
        r.setSourceAddress(0xC0A8000A);
        QCOMPARE(r.raw()[152], std::uint8_t(192));
        QCOMPARE(r.raw()[155], std::uint8_t(10));
    }

    void textFieldsStopAtTheirWidth()
    {
        EnvRecord r = patternedRecord(1);
        const std::string id32(32, 'A');
        r.setAccountId(id32);
        r.setAccountPassword("pw12345678"); // longer than 8: cut
        QCOMPARE(r.accountId(), id32);
        QCOMPARE(r.accountPassword(), std::string("pw123456"));
        QCOMPARE(r.raw()[64 + 8], std::uint8_t(0)); // rest of the 12-byte field cleared
        r.setComment("hello");
        QCOMPARE(r.comment(), std::string("hello"));
        QCOMPARE(r.raw()[88 + 31], std::uint8_t(0));
        r.setTypedPassword("abc");
        QVERIFY(r.hasPassword());
        QCOMPARE(r.raw()[76 + 11], std::uint8_t(0));
    }

    void passwordSetLooksOnlyAtTheFirstEightBytes()
    {
        EnvRecord r;
        r.raw()[84] = 0xFF;
        r.raw()[87] = 0x01;
        QVERIFY(!r.hasPassword());
        r.raw()[83] = 0x01;
        QVERIFY(r.hasPassword());
    }

    void productCodeIsTheHighFiveBits()
    {
        EnvRecord r;
        r.setProductId(0xAF);
        QCOMPARE(r.productCode(), 0xAF >> 3);
    }

    void baudToIndex_data()
    {
        QTest::addColumn<uint>("rate");
        QTest::addColumn<int>("index");
        const std::pair<uint, int> cases[] = {{0, 0},      {899, 0},     {900, 1},     {9600, 4},
                                              {19200, 6},  {28799, 6},   {28800, 7},   {115200, 9},
                                              {172799, 9}, {172800, 10}, {230400, 10}, {4000000, 10}};
        for (const auto& [rate, index] : cases)
            QTest::addRow("%u", rate) << rate << index;
    }

    void baudToIndex()
    {
        QFETCH(uint, rate);
        QFETCH(int, index);
        QCOMPARE(record_fields::baudToIndex(rate), index);
    }

    void indexToBaudFallsBackTo19200()
    {
        QCOMPARE(record_fields::indexToBaud(0), std::uint32_t(600));
        QCOMPARE(record_fields::indexToBaud(6), std::uint32_t(19200));
        QCOMPARE(record_fields::indexToBaud(9), std::uint32_t(115200));
        QCOMPARE(record_fields::indexToBaud(10), std::uint32_t(230400));
        QCOMPARE(record_fields::indexToBaud(-1), std::uint32_t(19200)); // no selection
        QCOMPARE(record_fields::indexToBaud(11), std::uint32_t(19200));
        for (int i = 0; i <= 10; ++i)
            QCOMPARE(record_fields::baudToIndex(record_fields::indexToBaud(i)), i);
    }

    void parityAndFlowControlPositions_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("writtenBack");
        QTest::newRow("none") << 0 << 0 << 0;
        QTest::newRow("odd / rts-cts") << 1 << 1 << 1;
        QTest::newRow("code 2 reads as the third entry") << 2 << 2 << 3;
        QTest::newRow("even / third mode") << 3 << 2 << 3;
    }

    void parityAndFlowControlPositions()
    {
        QFETCH(int, code);
        QFETCH(int, position);
        QFETCH(int, writtenBack);
        QCOMPARE(record_fields::parityToPosition(code), position);
        QCOMPARE(record_fields::positionToParity(record_fields::parityToPosition(code)), writtenBack);
        QCOMPARE(record_fields::flowControlToPosition(code), position);
        QCOMPARE(record_fields::positionToFlowControl(record_fields::flowControlToPosition(code)), writtenBack);
    }

    void missingFlowControlSelectionKeepsTheThirdMode() { QCOMPARE(record_fields::positionToFlowControl(-1), 3); }

    void mergeImportedRecordTakesOnlyTheImportableParts()
    {
        const EnvRecord screen = patternedRecord(0);
        const EnvRecord file = patternedRecord(100);
        EnvRecord merged = screen;
        mergeImportedRecord(merged, file);

        const std::uint32_t mask = 0x2 | 0xC | 0x30 | 0x40 | 0x80 | 0x100 | 0x600 | 0x800 | 0x1000 | 0x8000;
        QCOMPARE(merged.flags(), (screen.flags() & ~mask) | (file.flags() & mask));
        QVERIFY(sameBytes(merged, screen, 0, 16));  // identity and product bytes
        QVERIFY(sameBytes(merged, file, 20, 12));   // addresses
        QVERIFY(sameBytes(merged, screen, 32, 56)); // account id, account password, device password
        QVERIFY(sameBytes(merged, file, 88, 64));   // comment and the 32 bytes after it
        QVERIFY(sameBytes(merged, screen, 152, 4)); // sourceAddress
        QVERIFY(sameBytes(merged, file, 156, 352)); // 156..315 and the port area
        QVERIFY(sameBytes(merged, screen, 508, 4));
    }

    void accountPasswordIsReadToItsFullTwelveBytes_data()
    {
        QTest::addColumn<QByteArray>("field"); // the 12 bytes at 64..75 as a device sends them
        QTest::addColumn<QByteArray>("read");
        QTest::newRow("all twelve") << QByteArray("abcdefghijkl") << QByteArray("abcdefghijkl");
        QTest::newRow("eleven") << QByteArray("abcdefghijk\0", 12) << QByteArray("abcdefghijk");
        QTest::newRow("nine") << QByteArray("abcdefghi\0\0\0", 12) << QByteArray("abcdefghi");
        QTest::newRow("empty") << QByteArray(12, '\0') << QByteArray();
    }

    void accountPasswordIsReadToItsFullTwelveBytes()
    {
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, read);
        EnvRecord r = patternedRecord(3); // the device password after it is not zero
        std::copy(field.begin(), field.end(), r.raw().begin() + 64);
        QCOMPARE(QByteArray::fromStdString(r.accountPassword()), read);
    }

    void everyMultiByteFieldHasItsByteOrder_data()
    {
        QTest::addColumn<NumberField>("field");
        using R = EnvRecord;
        const auto whole = [](std::size_t offset, int size, bool bigEndian, void (R::*set)(std::uint32_t),
                              std::uint32_t (R::*get)() const) {
            return NumberField{offset, size, bigEndian, [set](R& r, std::uint32_t v) { (r.*set)(v); },
                               [get](const R& r) { return (r.*get)(); }};
        };
        QTest::newRow("flags @16 LE") << whole(16, 4, false, &R::setFlags, &R::flags);
        QTest::newRow("ipAddress @20 BE") << whole(20, 4, true, &R::setIpAddress, &R::ipAddress);
        QTest::newRow("subnetMask @24 BE") << whole(24, 4, true, &R::setSubnetMask, &R::subnetMask);
        QTest::newRow("gateway @28 BE") << whole(28, 4, true, &R::setGateway, &R::gateway);
        QTest::newRow("sourceAddress @152 BE") << whole(152, 4, true, &R::setSourceAddress, &R::sourceAddress);
        using P = EnvPortBlock;
        for (int port = 0; port < EnvRecord::kPortCount; ++port) {
            const auto row = [port](const char* name, const NumberField& f) {
                QTest::addRow("COM%d %s @%zu %s", port + 1, name, f.offset, f.bigEndian ? "BE" : "LE") << f;
            };
            row("localIp", portField(port, 4, true, &P::setLocalIp, &P::localIp));
            row("peerIp", portField(port, 8, true, &P::setPeerIp, &P::peerIp));
            row("localPort", portField(port, 12, false, &P::setLocalPort, &P::localPort));
            row("peerPort", portField(port, 14, false, &P::setPeerPort, &P::peerPort));
            row("baudRate", portField(port, 16, false, &P::setBaudRate, &P::baudRate));
            row("timeout", portField(port, 20, false, &P::setTimeout, &P::timeout));
            row("waterMark", portField(port, 22, false, &P::setWaterMark, &P::waterMark));
        }
    }

    void everyMultiByteFieldHasItsByteOrder()
    {
        QFETCH(NumberField, field);
        const std::uint32_t value = field.size == 4 ? 0x1A2B3C4Du : 0x5E6Fu; // every byte distinct
        const QByteArray bytes = orderedBytes(value, field.size, field.bigEndian);
        // Writing: the accessor puts exactly these bytes at the offset and touches nothing else.
        const EnvRecord before = patternedRecord(9);
        EnvRecord written = before;
        field.set(written, value);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(written.data() + field.offset), field.size).toHex(),
                 bytes.toHex());
        QVERIFY(sameBytes(written, before, 0, field.offset));
        const std::size_t end = field.offset + static_cast<std::size_t>(field.size);
        QVERIFY(sameBytes(written, before, end, EnvRecord::kSize - end));
        // Reading: bytes placed at the offset by hand read back as the value.
        EnvRecord placed = patternedRecord(17);
        std::copy(bytes.begin(), bytes.end(), placed.raw().begin() + static_cast<std::ptrdiff_t>(field.offset));
        QCOMPARE(field.get(placed), value);
    }

    void baudToIndexAtEveryBoundAndItsSuccessor_data()
    {
        QTest::addColumn<uint>("rate");
        QTest::addColumn<int>("index");
        // The list and its upper bounds as the record layout gives them: a rate up to a bound takes that
        // position, the rate one above it the next.
        const uint rates[] = {600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400};
        const uint bounds[] = {899, 1799, 3599, 7199, 11999, 16799, 28799, 47999, 86399, 172799};
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(bounds[i], (rates[i] + rates[i + 1]) / 2 - 1); // one below the midpoint
            QTest::addRow("%u", bounds[i]) << bounds[i] << i;
            QTest::addRow("%u", bounds[i] + 1) << bounds[i] + 1 << i + 1;
            QTest::addRow("list rate %u", rates[i]) << rates[i] << i;
        }
        QTest::addRow("list rate 230400") << 230400u << 10;
        QTest::addRow("largest") << 0xFFFFFFFFu << 10;
    }

    void baudToIndexAtEveryBoundAndItsSuccessor()
    {
        QFETCH(uint, rate);
        QFETCH(int, index);
        QCOMPARE(record_fields::baudToIndex(rate), index);
    }

    void mergeImportedRecordTakesEachFlagBitAsItShould_data()
    {
        QTest::addColumn<int>("bit");
        QTest::addColumn<bool>("imported");
        // Bits 1..12 and 15 come from the file; bit 0, the capability bits 13, 14 and 16..31 stay.
        for (int bit = 0; bit < 32; ++bit) {
            const bool imported = (bit >= 1 && bit <= 12) || bit == 15;
            QTest::addRow("bit %d", bit) << bit << imported;
        }
    }

    void mergeImportedRecordTakesEachFlagBitAsItShould()
    {
        QFETCH(int, bit);
        QFETCH(bool, imported);
        const std::uint32_t mask = 1u << bit;
        for (const bool fileHasIt : {true, false}) {
            EnvRecord target = patternedRecord(0);
            EnvRecord file = patternedRecord(1);
            // Every other bit the same on both sides, this one different.
            target.setFlags(fileHasIt ? 0u : 0xFFFFFFFFu);
            file.setFlags(fileHasIt ? mask : ~mask);
            mergeImportedRecord(target, file);
            const std::uint32_t other = fileHasIt ? 0u : 0xFFFFFFFFu;
            const std::uint32_t expectedBit = imported ? (fileHasIt ? mask : 0u) : (other & mask);
            QCOMPARE(target.flags() & mask, expectedBit);
            QCOMPARE(target.flags() & ~mask, other & ~mask); // the other bits as both sides had them
        }
    }

private:
    static std::uint32_t frame32(const EnvRecord& r, std::size_t offset)
    {
        const auto* p = r.data() + offset;
        return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
    }
};

QTEST_GUILESS_MAIN(tst_EnvRecord)
#include "tst_envrecord.moc"
