#include "protocol/Codec.h"

#include <QByteArray>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace {
std::span<const std::uint8_t> bytesOf(const char* text)
{
    return {reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)};
}

// A unicast read of MAC 02:11:22:33:aa:bb with body bytes 6..39 = 6..39 and random words 12345 and
// 32767, as an independent implementation of the frame format builds it.
const char* const kReferenceRequestHex =
    "d589b1fe20030200000002112233aabb39300000ff7f0000000000000000cda789848bef5b395d66db070043170a5f0f"
    "abfd7a9297268a3553a3d401dbb2d7bc3020a676e642d2facc74e430fc313ad0234aa4117f13942f248fa060da7b2535"
    "adf5cbef3d7e6a9be6e339bd3c28c8449dd8415db62d65ac71701e4675fe270d92e079361c02173218b8c0e998ca8b95"
    "a9dcf1825babde2b6659ff6c7261d30e0a481b070f3f3e4fd6086ffafb34164347c65ef0b4f87f855fa845adf578ea56"
    "2e28c8447cb358aa4675fe27c1b95453c0e998ca8b40f3d22a59ff6c7261b16d2c52d6ed201d5100627663f6086f8c64"
    "9c224b12dbc39ffafb3480a310018442e5e786164347c674e430fc31b25069b75ef0b4f87f13942f248fb5140b6b855f"
    "a845adf5cbef3d7e6ad7d47a4d78ea562e28c8449dd8415d5cd10c93e238030437293b06f78ac5129673e88e42e57da7"
    "15c4b25069a1df1fbcb5140b6bb8f28d05d7d47a4d78661997fd5cd96ecd7cb34f8857d5d121f9bec1b9999126cf0c93"
    "4cbf40f3d24eebe177e23803a6b16d2c529a90ae890437293b627663f60811a55a0906f78ac512dbc39ffafb2535a2ee"
    "9673e88e42e5e78616434739bd3c9e7da715c4b25069b75ef0b4ac02175babde070f3f8333b049c7afc9874e67f4ddcc"
    "9a90d0234aa411a55aa060da7b2535a2ee6a9be6e339bd3c9e7d5db62d65ac71701ea1dfe079361c02173218b8f28da9"
    "dcf1825babde2b661997fd0e0a481b070f3f3e4f8857d5bbec68818333b049999126cf0c4bbace1ac7afc9874eebe177"
    "e238018455c267f4ddcc9a90ae8904372930fc313ad0234aa411a55a0906f78a94cbef449dd8fe270d9298ca8b95a96c"
    "7261d30e201d5100bbec8c64579924d6";

frame::Frame referenceRequestBody()
{
    frame::Frame f{};
    const std::uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0xaa, 0xbb};
    std::copy(mac, mac + 6, f.begin() + frame::kOffBody);
    for (int i = 6; i < 40; ++i)
        f[frame::kOffBody + i] = static_cast<std::uint8_t>(i);
    return f;
}

// A device's reply to a read: record with the given MAC in the body and the header.
frame::Frame makeReply(std::uint8_t flags = frame::kFlagReply | frame::kFlagScrambled)
{
    frame::Frame f{};
    frame::writeBe32(f.data(), frame::kMagic);
    f[frame::kOffFormat] = frame::kFormat;
    f[frame::kOffFlags] = flags;
    f[frame::kOffCommand] = frame::kRead;
    for (std::size_t i = 0; i < 6; ++i)
        f[frame::kOffMac + i] = f[frame::kOffBody + i] = static_cast<std::uint8_t>(0x10 + i);
    for (std::size_t i = 6; i < frame::kBodySize; ++i)
        f[frame::kOffBody + i] = static_cast<std::uint8_t>(i * 7);
    frame::Seal(f);
    return f;
}
} // namespace

class tst_Codec : public QObject
{
    Q_OBJECT

private slots:
    void keyedSum16OfNothingIsZeroAndLengthEntersEveryIndex()
    {
        QCOMPARE(KeyedSum16({}), std::uint16_t(0));
        // Independently computed values: the same bytes give different sums for different lengths.
        QCOMPARE(KeyedSum16(bytesOf("123456789")), std::uint16_t(0xD92A));
        const std::uint8_t zero = 0;
        QCOMPARE(KeyedSum16(std::span(&zero, 1)), std::uint16_t(256 * K[254] + K[1]));
        const std::uint8_t twoZeros[2] = {0, 0};
        QCOMPARE(KeyedSum16(twoZeros), std::uint16_t(2 * (256 * K[253] + K[2])));
    }

    void keyedSum16WrapsModulo65536()
    {
        // 300 bytes each adding at least 0x100 overflow 16 bits many times over.
        std::vector<std::uint8_t> data(300, 0xFF);
        std::uint32_t wide = 0;
        const unsigned x = (0xFF + 300) & 0xFF;
        for (int i = 0; i < 300; ++i)
            wide += 256u * K[255 - x] + K[x];
        QVERIFY(wide > 0xFFFF);
        QCOMPARE(KeyedSum16(data), std::uint16_t(wide & 0xFFFF));
    }

    void scrambleTwiceRestores_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("seed");
        QTest::newRow("frame body") << 604 << 0x1234;
        QTest::newRow("header length") << 30 << 0xFFFF;
        QTest::newRow("one byte") << 1 << 0;
        QTest::newRow("odd length") << 257 << 0x8001;
    }

    void scrambleTwiceRestores()
    {
        QFETCH(int, length);
        QFETCH(int, seed);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
        std::iota(data.begin(), data.end(), std::uint8_t{3});
        const auto original = data;
        Scramble(static_cast<std::uint16_t>(seed), data);
        QVERIFY(data != original);
        Scramble(static_cast<std::uint16_t>(seed), data);
        QVERIFY(data == original);
    }

    void scrambleRunWithZeroLengthBitsIsFifteenBytes()
    {
        constexpr std::size_t length = 604;
        const std::uint16_t increment = static_cast<std::uint16_t>(256 * K[255 - 92] + K[92]);
        // Choose the seed so that the first run's state is 0x1005: bits 8..11 zero, key index 5.
        const std::uint16_t seed = static_cast<std::uint16_t>(0x1005 - increment);
        std::vector<std::uint8_t> data(length, 0);
        Scramble(seed, data);
        for (std::size_t i = 0; i < 15; ++i)
            QCOMPARE(data[i], K[5 + i]);
        const std::uint16_t next = static_cast<std::uint16_t>(0x1005 + increment);
        QCOMPARE(data[15], K[next & 0xFF]);
    }

    void crc16KnownValueAndResidue()
    {
        QCOMPARE(Crc16(bytesOf("123456789")), std::uint16_t(0x906E));
        std::uint8_t buffer[11];
        std::memcpy(buffer, "123456789", 9);
        frame::writeLe16(buffer + 9, 0x906E);
        QVERIFY(Crc16Check(buffer, 9));
        buffer[3] ^= 0x01;
        QVERIFY(!Crc16Check(buffer, 9));
    }

    void passwordHashIgnoresBytesAfterTheFirstZero()
    {
        std::uint8_t a[8] = {'a', 'b', 0, 0, 0, 0, 0, 0};
        std::uint8_t b[8] = {'a', 'b', 0, 'x', 'y', 'z', 0x7F, 0xFF};
        HashPassword(a);
        HashPassword(b);
        QVERIFY(std::equal(a, a + 8, b));
        QVERIFY(IsPasswordSet(a));
    }

    void passwordHashKnownValues()
    {
        const std::uint8_t abcd[4] = {'a', 'b', 'c', 'd'};
        QCOMPARE(PasswordHash32(abcd), std::uint32_t(0x16045A2F));
        std::uint8_t secret[8] = {'s', 'e', 'c', 'r', 'e', 't', 0, 0};
        HashPassword(secret);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(secret), 8).toHex(), QByteArray("5cea108b84dd55b3"));
    }

    void isPasswordSetLooksAtAllEightBytes_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("set");
        QTest::newRow("all zero") << -1 << false;
        QTest::newRow("first byte") << 0 << true;
        QTest::newRow("last byte") << 7 << true;
    }

    void isPasswordSetLooksAtAllEightBytes()
    {
        QFETCH(int, position);
        QFETCH(bool, set);
        std::uint8_t field[12] = {};
        field[8] = 0xAA; // bytes beyond the eighth never count
        if (position >= 0)
            field[position] = 1;
        QCOMPARE(IsPasswordSet(field), set);
    }

    void requestMatchesIndependentImplementation()
    {
        frame::Frame f = referenceRequestBody();
        frame::BuildRequest(f, frame::kFlagsUnicastRequest, frame::kRead, 12345, 32767);
        const QByteArray built(reinterpret_cast<const char*>(f.data()), frame::kFrameSize);
        QCOMPARE(built.toHex(), QByteArray(kReferenceRequestHex));
    }

    void requestOrderIsFcsOverPlainBodyThenSeedOfPlainBody()
    {
        frame::Frame f = referenceRequestBody();
        const frame::Frame plain = f;
        frame::BuildRequest(f, frame::kFlagsBroadcastRequest, frame::kRead, 1, 2);
        QCOMPARE(f[frame::kOffFlags], std::uint8_t(0x01));
        QVERIFY(
            std::equal(f.begin() + frame::kOffMac, f.begin() + frame::kOffMac + 6, plain.begin() + frame::kOffBody));
        const std::uint16_t seed = frame::readLe16(f.data() + frame::kOffSeed);
        QCOMPARE(seed, KeyedSum16(std::span(plain).subspan(frame::kOffBody, frame::kBodySize)));
        QVERIFY(frame::AcceptRequest(f));
        QVERIFY(std::equal(f.begin() + frame::kOffBody, f.begin() + frame::kOffFcs, plain.begin() + frame::kOffBody));
    }

    void replyAcceptedAndDescrambled()
    {
        frame::Frame f = makeReply();
        const frame::Frame sealed = f;
        QVERIFY(frame::AcceptReply(f));
        QCOMPARE(f[frame::kOffBody + 6], std::uint8_t(6 * 7));
        QVERIFY(f != sealed);
    }

    void replyFailingAnyCheckIsRejected_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("xorMask");
        QTest::newRow("magic") << 0 << 0x01;
        QTest::newRow("reply flag missing") << int(frame::kOffFlags) << int(frame::kFlagReply);
        QTest::newRow("header checksum") << int(frame::kOffHeaderSum) << 0x10;
        QTest::newRow("header byte under checksum") << int(frame::kOffRandom1) << 0x01;
        QTest::newRow("body byte") << int(frame::kOffBody + 100) << 0x40;
        QTest::newRow("fcs") << int(frame::kOffFcs) << 0x01;
        QTest::newRow("wrong seed") << int(frame::kOffSeed) << 0x01;
    }

    void replyFailingAnyCheckIsRejected()
    {
        QFETCH(int, offset);
        QFETCH(int, xorMask);
        frame::Frame f = makeReply();
        f[static_cast<std::size_t>(offset)] ^= static_cast<std::uint8_t>(xorMask);
        QVERIFY(!frame::AcceptReply(f));
    }

    void replyWithoutFormatBitIsRejectedDespiteGoodChecksums()
    {
        frame::Frame f = makeReply();
        f[frame::kOffFormat] = 0x10;
        frame::Seal(f); // checksums recomputed: only the format bit is wrong
        QVERIFY(!frame::AcceptReply(f));
        // Other format bits do not matter once 0x20 is set.
        frame::Frame good = makeReply();
        good[frame::kOffFormat] = 0xA0 | frame::kFormat;
        frame::Seal(good);
        QVERIFY(frame::AcceptReply(good));
    }

    void unscrambledReplyIsAccepted()
    {
        frame::Frame f = makeReply(frame::kFlagReply);
        QVERIFY(frame::AcceptReply(f));
        QCOMPARE(f[frame::kOffBody + 7], std::uint8_t(7 * 7));
    }
};

QTEST_GUILESS_MAIN(tst_Codec)
#include "tst_codec.moc"
