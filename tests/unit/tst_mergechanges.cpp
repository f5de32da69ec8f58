// Making one writer's changes on settings someone else changed meanwhile: the bits and values the writer
// changed are the writer's, everything else is theirs, and no number is ever a mix of the two. Checked
// at raw offsets of the record, independently of the accessors the merge itself uses.
#include "device/GuardedWrite.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
using Edit = std::function<void(QByteArray&)>;

EnvRecord recordOf(const QByteArray& raw)
{
    return EnvRecord(reinterpret_cast<const std::uint8_t*>(raw.constData()));
}

QByteArray rawOf(const EnvRecord& record)
{
    return QByteArray(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize);
}

/** A base record with a recognisable byte everywhere: a device's own layout does not matter here. */
QByteArray baseRaw()
{
    QByteArray raw(EnvRecord::kSize, '\0');
    for (int i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<char>((i * 7 + 3) & 0x7F);
    return raw;
}

Edit setByte(int offset, char value)
{
    return [offset, value](QByteArray& raw) { raw[offset] = value; };
}

Edit both(Edit a, Edit b)
{
    return [a, b](QByteArray& raw) {
        a(raw);
        b(raw);
    };
}
} // namespace

Q_DECLARE_METATYPE(Edit)

class TestMergeChanges : public QObject
{
    Q_OBJECT

private slots:
    void myChangesGoOnTheirSettings_data();
    void myChangesGoOnTheirSettings();
};

void TestMergeChanges::myChangesGoOnTheirSettings_data()
{
    QTest::addColumn<Edit>("mine");
    QTest::addColumn<Edit>("theirs");
    QTest::addColumn<Edit>("expected"); // applied to theirs

    // The option word (LE32 at 16): ARP is bit 6, telnet bit 7 of its first byte.
    const Edit arpOn = [](QByteArray& raw) { raw[16] = static_cast<char>(raw[16] | 0x40); };
    const Edit telnetFlipped = [](QByteArray& raw) { raw[16] = static_cast<char>(raw[16] ^ 0x80); };
    QTest::newRow("two bits of one word, one each") << arpOn << telnetFlipped << arpOn;
    // COM1's timeout (LE16 at 336): both changed it; mine whole, never their high byte with my low one.
    const Edit mineTimeout = both(setByte(336, 0x34), setByte(337, 0x12));
    const Edit theirTimeout = both(setByte(336, 0x78), setByte(337, 0x56));
    QTest::newRow("a number both changed") << mineTimeout << theirTimeout << mineTimeout;
    // Only the low byte of mine differs from the base: the whole number is still mine.
    const Edit mineLowOnly = setByte(336, 0x01);
    QTest::newRow("a number both changed, mine in one byte")
        << mineLowOnly << theirTimeout << both(setByte(336, 0x01), setByte(337, baseRaw()[337]));
    // The comment (32 bytes at 88) mine, the gateway (at 28) theirs.
    const Edit mineComment = [](QByteArray& raw) { raw.replace(88, 32, QByteArray("mine").leftJustified(32, '\0')); };
    const Edit theirGateway = both(setByte(28, 0x0A), setByte(31, 0x01));
    QTest::newRow("a text mine, an address theirs") << mineComment << theirGateway << mineComment;
    // A byte no field interprets (200) mine; another (210) theirs.
    QTest::newRow("uninterpreted bytes") << setByte(200, 0x11) << setByte(210, 0x22) << setByte(200, 0x11);
    // The device password field (76..87) is the device's: a change of mine there does not go.
    QTest::newRow("password field stays theirs") << setByte(80, 0x55) << setByte(81, 0x66) << Edit([](QByteArray&) {});
}

void TestMergeChanges::myChangesGoOnTheirSettings()
{
    QFETCH(Edit, mine);
    QFETCH(Edit, theirs);
    QFETCH(Edit, expected);
    const QByteArray base = baseRaw();
    QByteArray myRaw = base;
    mine(myRaw);
    QByteArray theirRaw = base;
    theirs(theirRaw);
    QByteArray wanted = theirRaw;
    expected(wanted);
    const EnvRecord merged = device::mergeChanges(recordOf(base), recordOf(myRaw), recordOf(theirRaw));
    QCOMPARE(rawOf(merged).toHex(' '), wanted.toHex(' '));
}

QTEST_GUILESS_MAIN(TestMergeChanges)
#include "tst_mergechanges.moc"
