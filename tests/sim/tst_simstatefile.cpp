// The simulator's state file: SimStateFile.

#include "SimStateFile.h"
#include "TesselSim.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSimStateFile : public QObject
{
    Q_OBJECT

private slots:
    void recordsSurviveTheJsonDocument();
    void missingFileHoldsNoRecords();
    void damagedDocumentIsRefused_data();
    void damagedDocumentIsRefused();
    void damagedHexIsRefusedNamingDeviceAndField_data();
    void damagedHexIsRefusedNamingDeviceAndField();
    void refusalQuotesTheMacTextVerbatim_data();
    void refusalQuotesTheMacTextVerbatim();
    void savedFileLoadsBack();
    void unwritablePathIsReported();
};

namespace {
std::vector<EnvRecord> someRecords()
{
    SimDevice a = TesselSim::makeDevice(0, 0x7F000002);
    a.setPassword("pw");
    a.record.raw()[511] = 0xEE; // bytes nobody interprets survive as well
    return {a.record, TesselSim::makeDevice(1, 0x7F000003).record};
}
} // namespace

void TestSimStateFile::recordsSurviveTheJsonDocument()
{
    const std::vector<EnvRecord> records = someRecords();
    const QByteArray json = sim::stateToJson(records);
    QVERIFY(json.contains("02:7e:55:00:00:01"));
    QString error;
    const std::optional<std::vector<EnvRecord>> back = sim::stateFromJson(json, &error);
    QVERIFY2(back, qPrintable(error));
    QVERIFY(*back == records);
}

void TestSimStateFile::missingFileHoldsNoRecords()
{
    QTemporaryDir dir;
    QString error;
    const auto records = sim::loadState(dir.filePath(QStringLiteral("none.json")), &error);
    QVERIFY(records);
    QVERIFY(records->empty());
}

void TestSimStateFile::damagedDocumentIsRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not JSON") << QByteArray("{devices");
    QTest::newRow("other format") << QByteArray(R"({"format": 2, "devices": []})");
    QTest::newRow("no devices") << QByteArray(R"({"format": 1})");
    QTest::newRow("short record") << QByteArray(R"({"format": 1, "devices": [{"record": "00ff"}]})");
    QTest::newRow("not hex") << QByteArray(R"({"format": 1, "devices": [{"record": "zz"}]})");
}

void TestSimStateFile::damagedDocumentIsRefused()
{
    QFETCH(QByteArray, json);
    QString error;
    QVERIFY(!sim::stateFromJson(json, &error));
    QVERIFY(!error.isEmpty());
}

void TestSimStateFile::damagedHexIsRefusedNamingDeviceAndField_data()
{
    QTest::addColumn<QString>("record"); // the second device's record text
    QTest::addColumn<QString>("why");
    const QString good = QString(1024, u'0');
    QTest::newRow("a non-hex character") << QString(good).replace(100, 1, u'g') << u"character 101 (\"g\")"_s;
    QTest::newRow("a space") << QString(good).replace(0, 1, u' ') << u"character 1 (\" \")"_s;
    QTest::newRow("a separator") << QString(good).replace(2, 1, u':') << u"character 3 (\":\")"_s;
    QTest::newRow("an odd digit count") << good.left(1023) << u"1023 hex digits"_s;
    QTest::newRow("one byte short") << good.left(1022) << u"1022 hex digits"_s;
    QTest::newRow("one byte long") << good + u"00"_s << u"1026 hex digits"_s;
    QTest::newRow("a digit too many") << good + u"0"_s << u"1025 hex digits"_s;
}

void TestSimStateFile::damagedHexIsRefusedNamingDeviceAndField()
{
    QFETCH(QString, record);
    QFETCH(QString, why);
    const QString good = QString(1024, u'0');
    const QByteArray json = QStringLiteral(R"({"format": 1, "devices": [)"
                                           R"({"mac": "02:7e:55:00:00:01", "record": "%1"},)"
                                           R"({"mac": "02:7e:55:00:00:02", "record": "%2"}]})")
                                .arg(good, record)
                                .toUtf8();
    QString error;
    QVERIFY(!sim::stateFromJson(json, &error));
    QVERIFY2(error.startsWith(u"device 2 (02:7e:55:00:00:02): field \"record\""_s), qPrintable(error));
    QVERIFY2(error.contains(why), qPrintable(error));
}

void TestSimStateFile::refusalQuotesTheMacTextVerbatim_data()
{
    // Found by fuzzing: the message was put together by chained substitutions, so placeholders in the
    // MAC text of the file ("%02" is one) took the numbers meant for the rest of the message.
    QTest::addColumn<QString>("mac");
    QTest::newRow("two-digit placeholder") << u"%02:7e:55:00:00:01"_s;
    QTest::newRow("placeholders in order") << u"%1 %2 %3 %4"_s;
    QTest::newRow("plain") << u"02:7e:55:00:00:01"_s;
}

void TestSimStateFile::refusalQuotesTheMacTextVerbatim()
{
    QFETCH(QString, mac);
    QJsonObject entry{{u"mac"_s, mac}, {u"record"_s, u"zz"_s}};
    const QJsonObject root{{u"format"_s, 1}, {u"devices"_s, QJsonArray{entry}}};
    QString error;
    QVERIFY(!sim::stateFromJson(QJsonDocument(root).toJson(), &error));
    QCOMPARE(error, u"device 1 ("_s + mac +
                        u"): field \"record\" is not 512 bytes of hex: character 1 (\"z\") is not a hex digit"_s);
}

void TestSimStateFile::savedFileLoadsBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    QString error;
    QVERIFY2(sim::saveState(path, someRecords(), &error), qPrintable(error));
    QVERIFY2(sim::saveState(path, someRecords(), &error), qPrintable(error)); // over an existing file
    const auto records = sim::loadState(path, &error);
    QVERIFY2(records, qPrintable(error));
    QVERIFY(*records == someRecords());
}

void TestSimStateFile::unwritablePathIsReported()
{
    QString error;
    QVERIFY(!sim::saveState(QStringLiteral("/nonexistent-dir/state.json"), someRecords(), &error));
    QVERIFY(error.contains(QStringLiteral("/nonexistent-dir/state.json")));
}

QTEST_GUILESS_MAIN(TestSimStateFile)
#include "tst_simstatefile.moc"
