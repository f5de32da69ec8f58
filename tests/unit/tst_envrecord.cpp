#include "record/EnvRecord.h"

#include <QTest>

#include <algorithm>

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
} // namespace

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
        QCOMPARE(::baudToIndex(rate), index);
    }

    void indexToBaudFallsBackTo19200()
    {
        QCOMPARE(indexToBaud(0), std::uint32_t(600));
        QCOMPARE(indexToBaud(6), std::uint32_t(19200));
        QCOMPARE(indexToBaud(9), std::uint32_t(115200));
        QCOMPARE(indexToBaud(10), std::uint32_t(230400));
        QCOMPARE(indexToBaud(-1), std::uint32_t(19200)); // no selection
        QCOMPARE(indexToBaud(11), std::uint32_t(19200));
        for (int i = 0; i <= 10; ++i)
            QCOMPARE(::baudToIndex(indexToBaud(i)), i);
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
        QCOMPARE(parityToPosition(code), position);
        QCOMPARE(positionToParity(parityToPosition(code)), writtenBack);
        QCOMPARE(flowControlToPosition(code), position);
        QCOMPARE(positionToFlowControl(flowControlToPosition(code)), writtenBack);
    }

    void missingFlowControlSelectionKeepsTheThirdMode() { QCOMPARE(positionToFlowControl(-1), 3); }

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

private:
    static std::uint32_t frame32(const EnvRecord& r, std::size_t offset)
    {
        const auto* p = r.data() + offset;
        return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
    }
};

QTEST_GUILESS_MAIN(tst_EnvRecord)
#include "tst_envrecord.moc"
