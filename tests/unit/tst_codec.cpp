#include "protocol/Codec.h"

#include <QByteArray>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace {
// The key table as the devices hold it, copied here so that the password transform below is checked
// against a computation that shares nothing with the program's.
constexpr std::uint8_t kIndependentKeyTable[256] = {
    0xF9, 0xBE, 0xC1, 0xB9, 0x54, 0x53, 0xC0, 0xE9, 0x98, 0xCA, 0x8B, 0x95, 0xA9, 0xDC, 0xF1, 0x82, 0x5B, 0xAB, 0xDE,
    0x2B, 0x66, 0x19, 0x97, 0xFD, 0x5C, 0xD9, 0x6E, 0xCD, 0x7C, 0xB3, 0x58, 0xAA, 0x46, 0x75, 0xFE, 0x27, 0x0D, 0x92,
    0xE0, 0x79, 0x36, 0x1C, 0x02, 0x17, 0x32, 0x18, 0xB8, 0xF2, 0x8D, 0x05, 0xD7, 0xD4, 0x7A, 0x4D, 0x78, 0xEA, 0x56,
    0x2E, 0x28, 0xC8, 0x44, 0x9D, 0xD8, 0x41, 0x5D, 0xB6, 0x2D, 0x65, 0xAC, 0x71, 0x70, 0x1E, 0xA1, 0xDF, 0x1F, 0xBC,
    0xB5, 0x14, 0x0B, 0x6B, 0x85, 0x5F, 0xA8, 0x45, 0xAD, 0xF5, 0xCB, 0xEF, 0x3D, 0x7E, 0x6A, 0x9B, 0xE6, 0xE3, 0x39,
    0xBD, 0x3C, 0x9E, 0x7D, 0xA7, 0x15, 0xC4, 0xB2, 0x50, 0x69, 0xB7, 0x5E, 0xF0, 0xB4, 0xF8, 0x7F, 0x13, 0x94, 0x2F,
    0x24, 0x8F, 0xA0, 0x60, 0xDA, 0x7B, 0x25, 0x35, 0xA2, 0xEE, 0x96, 0x73, 0xE8, 0x8E, 0x42, 0xE5, 0xE7, 0x86, 0x16,
    0x43, 0x47, 0xC6, 0x74, 0xE4, 0x30, 0xFC, 0x31, 0x3A, 0xD0, 0x23, 0x4A, 0xA4, 0x11, 0xA5, 0x5A, 0x09, 0x06, 0xF7,
    0x8A, 0xC5, 0x12, 0xDB, 0xC3, 0x9F, 0xFA, 0xFB, 0x34, 0x80, 0xA3, 0x10, 0x01, 0x84, 0x55, 0xC2, 0x67, 0xF4, 0xDD,
    0xCC, 0x9A, 0x90, 0xAE, 0x89, 0x04, 0x37, 0x29, 0x3B, 0x62, 0x76, 0x63, 0xF6, 0x08, 0x6F, 0x8C, 0x64, 0x9C, 0x22,
    0x4B, 0xBA, 0xCE, 0x1A, 0xC7, 0xAF, 0xC9, 0x87, 0x4E, 0xEB, 0xE1, 0x77, 0xE2, 0x38, 0x03, 0xA6, 0xB1, 0x6D, 0x2C,
    0x52, 0xD6, 0xED, 0x20, 0x1D, 0x51, 0x00, 0xBB, 0xEC, 0x68, 0x81, 0x83, 0x33, 0xB0, 0x49, 0x99, 0x91, 0x26, 0xCF,
    0x0C, 0x93, 0x4C, 0xBF, 0x40, 0xF3, 0xD2, 0x2A, 0x59, 0xFF, 0x6C, 0x72, 0x61, 0xD3, 0x0E, 0x0A, 0x48, 0x1B, 0x07,
    0x0F, 0x3F, 0x3E, 0x4F, 0x88, 0x57, 0xD5, 0xD1, 0x21,
};

/** The password transform of 4 bytes, written out from its definition: per byte x = b + 4 (mod 256), low
 *  word K[x] + 256 K[255 - x], high word from y = x + 64 with y - 255 after a wrap past 255. */
std::uint32_t independentHash32(const std::uint8_t* b)
{
    std::uint64_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned x = (b[i] + 4u) % 256u;
        sum += kIndependentKeyTable[x] + 256u * kIndependentKeyTable[255 - x];
        unsigned y = x + 64u;
        if (y > 255u)
            y -= 255u;
        sum += (256ull * kIndependentKeyTable[255 - y] + kIndependentKeyTable[y]) * 65536ull;
    }
    return static_cast<std::uint32_t>(sum & 0xFFFFFFFFull);
}

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

// A device's reply to a read before it is sealed: record with the given MAC in the body and the header.
frame::Frame plainReply(std::uint8_t flags = frame::kFlagReply | frame::kFlagScrambled)
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
    return f;
}

// The same reply sealed: checksums, FCS and (when flagged) the scrambled body.
frame::Frame makeReply(std::uint8_t flags = frame::kFlagReply | frame::kFlagScrambled)
{
    frame::Frame f = plainReply(flags);
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

    void passwordHashOfBytesFrom188Up_data()
    {
        QTest::addColumn<QByteArray>("password");
        // From 188 up, x + 64 passes 255 and wraps to 1..67; from 252 up, x itself wraps to 0..3.
        QTest::newRow("187, 188, 189, 190") << QByteArray::fromHex("bbbcbdbe");
        QTest::newRow("accented latin-1 (café)") << QByteArray("caf\xe9");
        QTest::newRow("utf-8 é twice") << QByteArray("\xc3\xa9\xc3\xa9");
        QTest::newRow("191, 192, 250, 251") << QByteArray::fromHex("bfc0fafb");
        QTest::newRow("252..255") << QByteArray::fromHex("fcfdfeff");
        QTest::newRow("mixed with ascii") << QByteArray("p\xe4ss\xf6rd\xff");
    }

    void passwordHashOfBytesFrom188Up()
    {
        QFETCH(QByteArray, password);
        std::uint8_t field[8] = {};
        std::memcpy(field, password.constData(), static_cast<std::size_t>(std::min<qsizetype>(password.size(), 8)));
        std::uint8_t expected[8];
        frame::writeLe32(expected, independentHash32(field));
        frame::writeLe32(expected + 4, independentHash32(field + 4));
        QCOMPARE(PasswordHash32(field), independentHash32(field));
        HashPassword(field);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(field), 8).toHex(),
                 QByteArray(reinterpret_cast<const char*>(expected), 8).toHex());
    }

    void independentHashAgreesWithTheKnownValue()
    {
        // The independent computation itself is anchored to the known ASCII value.
        const std::uint8_t abcd[4] = {'a', 'b', 'c', 'd'};
        QCOMPARE(independentHash32(abcd), std::uint32_t(0x16045A2F));
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
        QTest::addColumn<bool>("sealedAgain"); // the change made before sealing: every checksum fits it
        QTest::newRow("magic") << 0 << 0x01 << false;
        QTest::newRow("reply flag missing") << int(frame::kOffFlags) << int(frame::kFlagReply) << false;
        QTest::newRow("reply flag missing, sealed again") << int(frame::kOffFlags) << int(frame::kFlagReply) << true;
        QTest::newRow("magic, sealed again") << 3 << 0x01 << true;
        QTest::newRow("header checksum") << int(frame::kOffHeaderSum) << 0x10 << false;
        QTest::newRow("header byte under checksum") << int(frame::kOffRandom1) << 0x01 << false;
        QTest::newRow("body byte") << int(frame::kOffBody + 100) << 0x40 << false;
        QTest::newRow("fcs") << int(frame::kOffFcs) << 0x01 << false;
        QTest::newRow("wrong seed") << int(frame::kOffSeed) << 0x01 << false;
    }

    void replyFailingAnyCheckIsRejected()
    {
        QFETCH(int, offset);
        QFETCH(int, xorMask);
        QFETCH(bool, sealedAgain);
        frame::Frame f = sealedAgain ? plainReply() : makeReply();
        f[static_cast<std::size_t>(offset)] ^= static_cast<std::uint8_t>(xorMask);
        if (sealedAgain)
            frame::Seal(f);
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
