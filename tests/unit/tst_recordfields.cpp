// Naming what differs between two states of one device's record, as a writer that finds the device
// changed since it read it must: by the command line's field names, leaving out what the device changes
// by itself. Changes are made at raw offsets, independently of the record's accessors.
#include "record/RecordFields.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::size_t kCom1 = 316;
constexpr std::size_t kCom2 = 340;

EnvRecord base()
{
    EnvRecord r = EnvRecord::defaultRecord();
    r.setCommentSupported(true);
    r.setComment("bench");
    return r;
}

using Edit = std::function<void(std::array<std::uint8_t, EnvRecord::kSize>&)>;
} // namespace

Q_DECLARE_METATYPE(Edit)

class TestRecordFields : public QObject
{
    Q_OBJECT

private slots:
    void changedSettingsNamesWhatAnotherWriterChanged_data();
    void changedSettingsNamesWhatAnotherWriterChanged();
    void differencesNameEveryFieldAsReadJsonDoes();
};

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
    const EnvRecord before = base();
    EnvRecord after = before;
    edit(after.raw());
    QCOMPARE(record_fields::changedSettings(before, after), named);
    QCOMPARE(record_fields::changedSettings(after, before), named);
}

void TestRecordFields::differencesNameEveryFieldAsReadJsonDoes()
{
    EnvRecord before = base();
    EnvRecord after = before;
    after.raw()[kCom2 + 20] = 5;
    after.raw()[16] ^= 0x80;
    const QList<record_fields::Difference> list = record_fields::differences(before, after);
    QStringList names;
    for (const record_fields::Difference& d : list)
        names << d.field;
    QCOMPARE(names, (QStringList{u"flags"_s, u"telnet"_s, u"com2.timeout"_s}));
    QCOMPARE(list.at(2).before.toInt(), int(before.port(1).timeout()));
    QCOMPARE(list.at(2).after.toInt(), 5);
    QCOMPARE(record_fields::toJson(record_fields::portFields(after.port(1))).value(u"timeout"_s).toInt(), 5);
}

QTEST_GUILESS_MAIN(TestRecordFields)
#include "tst_recordfields.moc"
