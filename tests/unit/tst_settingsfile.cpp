// The settings file: its bytes, and every outcome of reading one.
#include "record/SettingsFile.h"
#include "protocol/Codec.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using namespace settings_file;

namespace {
const QDateTime kSavedAt(QDate(2013, 6, 4), QTime(9, 5, 7));

/** CRC-16/X-25 written out bit by bit, apart from the codec's table. */
std::uint16_t x25(QByteArrayView bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : static_cast<std::uint16_t>(crc >> 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

QByteArray le16(std::uint16_t v)
{
    QByteArray bytes(2, '\0');
    bytes[0] = static_cast<char>(v & 0xFF);
    bytes[1] = static_cast<char>(v >> 8);
    return bytes;
}

QByteArray le32(std::uint32_t v)
{
    return le16(static_cast<std::uint16_t>(v)) + le16(static_cast<std::uint16_t>(v >> 16));
}

/** A file of `record` built by hand, with its CRCs right. */
QByteArray handMadeFile(const QByteArray& record, char marker = '2')
{
    QByteArray trailer;
    trailer.append(marker);
    trailer.append("\x04\x01\x05", 3);
    trailer.append(le16(7));
    trailer.append("\x01\x02\x03", 3);
    trailer.append("2013/06/04 09:05:07");
    return le32(static_cast<std::uint32_t>(record.size())) + record + le16(x25(record)) + le32(28) + trailer +
           le16(x25(trailer));
}

QByteArray patternRecord(int n)
{
    QByteArray record(n, '\0');
    for (int i = 0; i < n; ++i)
        record[i] = static_cast<char>(i * 7 + 3);
    return record;
}
} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void writesTheLayoutByteForByte();
    void exportedRecordHasNoMacAndAHashedPassword();
    void readsEachOutcome_data();
    void readsEachOutcome();
    void readsWhatItWrote();
    void writesBackWhatItAccepted_data();
    void writesBackWhatItAccepted();
};

void TestSettingsFile::writesTheLayoutByteForByte()
{
    const QByteArray record = patternRecord(512);
    const QByteArray file = encode(record, Product{7, 1, 2, 3}, kSavedAt);
    QCOMPARE(file.size(), 552);
    QCOMPARE(file, handMadeFile(record));
    QCOMPARE(file.mid(522, 4).toHex(), QByteArray("32040105"));
    QCOMPARE(file.mid(0, 4).toHex(), QByteArray("00020000"));
    QCOMPARE(file.mid(516, 2), le16(x25(record)));
    QCOMPARE(file.mid(518, 4).toHex(), QByteArray("1c000000"));
    QCOMPARE(file.mid(526, 5).toHex(), QByteArray("0700010203"));
    QCOMPARE(file.mid(531, 19), QByteArray("2013/06/04 09:05:07"));
    QCOMPARE(x25("123456789"), std::uint16_t(0x906E)); // the hand-written CRC is the standard one
}

void TestSettingsFile::exportedRecordHasNoMacAndAHashedPassword()
{
    EnvRecord record = EnvRecord::defaultRecord();
    record.setProductId(0x3A);                     // product code 7, sub-code 2
    record.setProductInfo(0x5C);                   // 5 and 12
    QCOMPARE(exportedRecord(record).raw()[76], 0); // no password: the field stays zero
    record.setTypedPassword("secret");
    EnvRecord hashed = record;
    HashPassword(hashed.passwordField());
    const EnvRecord out = exportedRecord(record);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), 6), QByteArray(6, '\0'));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data() + 76), 12),
             QByteArray(reinterpret_cast<const char*>(hashed.data() + 76), 12));
    QVERIFY(QByteArray(reinterpret_cast<const char*>(out.data() + 76), 6) != QByteArray("secret"));
    const Product product = Product::of(record);
    QCOMPARE(product.code, 7);
    QCOMPARE(product.subCode, 2);
    QCOMPARE(product.infoHigh, 5);
    QCOMPARE(product.infoLow, 12);
}

void TestSettingsFile::readsEachOutcome_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("recordLength");
    const QByteArray good = handMadeFile(patternRecord(512));
    QTest::newRow("good") << good << int(kRead) << 512;
    QByteArray flipped = good;
    flipped[100] = static_cast<char>(flipped[100] ^ 0x01);
    QTest::newRow("one record byte changed") << flipped << int(kDamaged) << 0;
    QTest::newRow("trailer one byte short") << good.left(551) << int(kDamaged) << 0;
    QTest::newRow("trailer one byte long") << good + QByteArray(1, 'x') << int(kDamaged) << 0;
    QByteArray marker = good;
    marker[522] = '3';
    QTest::newRow("marker not 2") << marker << int(kNotSettingsFile) << 0;
    QByteArray writer = good;
    writer[523] = 0x09;
    writer[550] = static_cast<char>(writer[550] ^ 0xFF); // and the trailer CRC wrong
    QTest::newRow("other writer tag and trailer CRC") << writer << int(kRead) << 512;
    QTest::newRow("three bytes") << QByteArray("\x00\x02\x00", 3) << int(kDamagedTooShort) << 0;
    QTest::newRow("empty") << QByteArray() << int(kDamagedTooShort) << 0;
    QTest::newRow("length zero") << le32(0) + good.mid(4) << int(kDamagedTooShort) << 0;
    QTest::newRow("length negative") << le32(0xFFFFFFFF) + good.mid(4) << int(kDamagedTooShort) << 0;
    QTest::newRow("length beyond the file") << le32(2000) + good.mid(4) << int(kDamagedTooShort) << 0;
    QTest::newRow("length above 65536") << le32(65537) + QByteArray(65537 + 40, 'a') << int(kDamagedTooShort) << 0;
    QTest::newRow("record of 100") << handMadeFile(patternRecord(100)) << int(kRead) << 100;
    QTest::newRow("record of 600") << handMadeFile(patternRecord(600)) << int(kRead) << 600;
    QTest::newRow("record of 65536") << handMadeFile(patternRecord(65536)) << int(kRead) << 65536;
}

void TestSettingsFile::readsEachOutcome()
{
    QFETCH(QByteArray, file);
    QFETCH(int, outcome);
    QFETCH(int, recordLength);
    const Decoded decoded = decode(file);
    QCOMPARE(int(decoded.outcome), outcome);
    QCOMPARE(decoded.record.size(), recordLength);
    if (outcome == kRead)
        QCOMPARE(decoded.record, file.mid(4, recordLength));
}

void TestSettingsFile::readsWhatItWrote()
{
    const QByteArray record = patternRecord(512);
    const Decoded decoded = decode(encode(record, Product{31, 7, 15, 15}, kSavedAt));
    QCOMPARE(int(decoded.outcome), int(kRead));
    QCOMPARE(decoded.record, record);
    QCOMPARE(decoded.trailer.trailerLength, 28u);
    QCOMPARE(decoded.trailer.productCode, 31);
    QCOMPARE(decoded.trailer.productSubCode, 7);
    QCOMPARE(decoded.trailer.productInfoHigh, 15);
    QCOMPARE(decoded.trailer.productInfoLow, 15);
    QCOMPARE(decoded.trailer.savedAt, QByteArray("2013/06/04 09:05:07"));
}

void TestSettingsFile::writesBackWhatItAccepted_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("trailerCrcRight");
    const QByteArray good = handMadeFile(patternRecord(512));
    QTest::newRow("as written") << good << true;
    QByteArray odd = good;
    odd.replace(518, 4, le32(29));                      // a trailer length that is not 28
    odd.replace(523, 3, QByteArray("\x09\x08\x07", 3)); // another writer
    odd.replace(531, 19, QByteArray("not a time\0\0\0\0\0\0\0\0\0", 19));
    const QByteArray trailer = odd.mid(522, 28);
    odd.replace(550, 2, le16(x25(trailer)));
    QTest::newRow("odd trailer fields") << odd << true;
    QByteArray wrongCrc = good;
    wrongCrc[551] = static_cast<char>(wrongCrc[551] ^ 0x40);
    QTest::newRow("wrong trailer CRC") << wrongCrc << false;
    QTest::newRow("record of 100") << handMadeFile(patternRecord(100)) << true;
}

void TestSettingsFile::writesBackWhatItAccepted()
{
    // Whatever the reader accepts, the writer gives back from what it read: every byte, but the trailer's
    // CRC when the file's own was wrong (the writer computes it).
    QFETCH(QByteArray, file);
    QFETCH(bool, trailerCrcRight);
    const Decoded decoded = decode(file);
    QCOMPARE(int(decoded.outcome), int(kRead));
    const QByteArray written = encode(decoded.record, decoded.trailer);
    QCOMPARE(written.size(), file.size());
    QCOMPARE(written.left(file.size() - 2), file.left(file.size() - 2));
    QCOMPARE(written.right(2) == file.right(2), trailerCrcRight);
    QCOMPARE(written.right(2), le16(x25(written.mid(written.size() - 30, 28))));
}

QTEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
