// The settings history on the command line: every write and import keeps what it replaced, history lists
// it, diff names the settings that differ, restore writes a kept record back. In-process against
// simulated devices on loopback (127.0.21.2 and up; device port 53521, this test's own).
#include "CliTestSupport.h"
#include "TesselSim.h"
#include "history/SettingsHistory.h"
#include "protocol/Codec.h"
#include "record/RecordFields.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kFirstAddress = 0x7F001502; // 127.0.21.2
const QString kDevice = u"127.0.21.2"_s;
const QString kOther = u"127.0.21.3"_s;
const QString kLocked = u"127.0.21.4"_s; // password "pw12"
const QString kDeviceMac = u"02:7e:55:00:00:01"_s;
const QString kOtherMac = u"02:7e:55:00:00:02"_s;
const settings_history::Mac kMac{0x02, 0x7e, 0x55, 0x00, 0x00, 0x01};

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 53521;
    p.tftpPort = 53579;
    p.shellPort = 53533;
    return p;
}

int writesHandled(const QSignalSpy& handled)
{
    int copies = 0;
    for (const QList<QVariant>& h : handled)
        copies += h.at(1).toInt() == frame::kWrite ? 1 : 0;
    return copies / 2; // every request comes twice
}

QByteArray rawOf(const EnvRecord& record)
{
    return QByteArray(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize);
}

QString baudText(const EnvRecord& record)
{
    return record_fields::valueText(*record_fields::resolve(u"com1.baudRate"_s), record);
}
} // namespace

class TestCliHistory : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writeAndImportEachKeepOneEntryOfTheRecordBefore_data();
    void writeAndImportEachKeepOneEntryOfTheRecordBefore();
    void aWriteTheDeviceRefusedKeepsNoEntry();
    void anUnwritableHistoryFolderDoesNotStopTheWriteAndIsSaidOnce();
    void historyListsTheEntries();
    void restoreBringsTheDeviceBackByteForByte();
    void restoreDryRunSendsNothing();
    void restoreOfAnotherDevicesEntryIsRefused_data();
    void restoreOfAnotherDevicesEntryIsRefused();
    void diffOfADeviceWithItsOwnExportIsEmpty();
    void diffNamesExactlyTheChangedField();
    void diffOfBadInputIsExitTwo_data();
    void diffOfBadInputIsExitTwo();

private:
    clitest::CliRun run(const QStringList& args, const QString& password = {});
    settings_history::Store store() const { return settings_history::Store(); }

    QTemporaryDir m_dir;
    std::unique_ptr<TesselSim> m_sim;
};

void TestCliHistory::init()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    qputenv("CORMAPMP_LOCK_DIR", QFile::encodeName(m_dir.path()));
    // Every case starts with an empty history of its own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(u"data"_s)));
    QDir(m_dir.filePath(u"data"_s)).removeRecursively();
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(3, kFirstAddress);
    m_sim->device(2).setPassword("pw12");
    QString problem;
    QVERIFY2(m_sim->start(&problem), qPrintable(problem));
}

void TestCliHistory::cleanup()
{
    m_sim.reset();
}

clitest::CliRun TestCliHistory::run(const QStringList& args, const QString& password)
{
    clitest::FakeConsole console;
    console.env[u"CORMAPMP_PASSWORD"_s] = password;
    return clitest::runCli(args, console, testProfile());
}

void TestCliHistory::writeAndImportEachKeepOneEntryOfTheRecordBefore_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("changedAfterRead"); // another writer sets COM1's timeout right after the first read
    QTest::addColumn<bool>("answerLost");       // the device takes the write but its answer never comes
    QTest::addColumn<int>("status");
    const QString file = m_dir.filePath(u"template.kvx"_s);
    const QStringList one{u"write"_s, kDevice, u"comment=changed"_s};
    const QStringList several{u"write"_s, kDevice, kOther, u"comment=changed"_s, u"--yes"_s};
    QTest::newRow("write") << u"write"_s << one << false << false << 0;
    QTest::newRow("import") << u"import"_s << QStringList{u"import"_s, file, kDevice} << false << false << 0;
    QTest::newRow("write, several devices") << u"write"_s << several << false << false << 0;
    // The entry keeps what the write replaced: the record read again under the lock, not the first read.
    QTest::newRow("write, changed after the read") << u"write"_s << one << true << false << 0;
    QTest::newRow("write, several devices, changed after the read") << u"write"_s << several << true << false << 0;
    // Without an answer the write may have landed: its entry stays.
    QTest::newRow("write, its answer lost") << u"write"_s << one << false << true << 1;
    QTest::newRow("write, several devices, an answer lost") << u"write"_s << several << false << true << 1;
}

void TestCliHistory::writeAndImportEachKeepOneEntryOfTheRecordBefore()
{
    QFETCH(QString, verb);
    QFETCH(QStringList, args);
    QFETCH(bool, changedAfterRead);
    QFETCH(bool, answerLost);
    QFETCH(int, status);
    const QString file = m_dir.filePath(u"template.kvx"_s);
    m_sim->device(1).record.setComment("from the template");
    QCOMPARE(run({u"export"_s, kOther, file}).status, 0);
    QByteArray before = rawOf(m_sim->device(0).record);
    if (answerLost)
        m_sim->setFaults(SimFaults{0.0, 30}); // every answer waits a little, so it can still be held back
    int reads = 0;
    connect(m_sim.get(), &TesselSim::requestHandled, this, [&](int index, int command) {
        if (index != 0)
            return;
        if (command == frame::kRead && ++reads == 1 && changedAfterRead) { // its first copy answered
            EnvPortBlock port = m_sim->device(0).record.port(0);
            port.setTimeout(99);
            m_sim->device(0).record.setPort(0, port);
            before = rawOf(m_sim->device(0).record);
        }
        if (command == frame::kWrite && answerLost)
            m_sim->stop(); // the device has acted; its delayed answer is not sent
    });
    const clitest::CliRun done = run(args);
    disconnect(m_sim.get(), &TesselSim::requestHandled, this, nullptr);
    QVERIFY2(done.status == status, qPrintable(done.out + done.err));
    if (answerLost)
        QVERIFY2((done.out + done.err).contains(u"No response from the Tessel(s)."_s), qPrintable(done.out + done.err));
    QVERIFY(rawOf(m_sim->device(0).record) != before);
    if (changedAfterRead)
        QCOMPARE(m_sim->device(0).record.port(0).timeout(), std::uint16_t{99});
    const QList<settings_history::Entry> entries = store().entries(kMac);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(rawOf(entries.constFirst().before).toHex(), before.toHex());
    QCOMPARE(rawOf(entries.constFirst().after).mid(88, 20), rawOf(m_sim->device(0).record).mid(88, 20));
    QCOMPARE(entries.constFirst().program, u"cormapmp-cli"_s);
    QCOMPARE(entries.constFirst().verb, verb);
    QVERIFY(entries.constFirst().changed().contains(u"comment"_s));
    QCOMPARE(entries.constFirst().changed(),
             record_fields::changedSettings(entries.constFirst().before, m_sim->device(0).record));
    QVERIFY(qAbs(entries.constFirst().time.secsTo(QDateTime::currentDateTimeUtc())) < 60);
    // Nothing was kept of a device that was only read; one entry of a device written beside it (when the
    // answers stop, how far its write came is a matter of timing).
    if (!answerLost)
        QCOMPARE(store().entries({0x02, 0x7e, 0x55, 0x00, 0x00, 0x02}).size(), args.contains(kOther) ? 1 : 0);
}

void TestCliHistory::aWriteTheDeviceRefusedKeepsNoEntry()
{
    const clitest::CliRun refused = run({u"write"_s, kLocked, u"comment=x"_s}, u"wrong"_s);
    QCOMPARE(refused.status, 1);
    QVERIFY(store().entries({0x02, 0x7e, 0x55, 0x00, 0x00, 0x03}).isEmpty());
    const clitest::CliRun taken = run({u"write"_s, kLocked, u"comment=x"_s}, u"pw12"_s);
    QVERIFY2(taken.status == 0, qPrintable(taken.err));
    QCOMPARE(store().entries({0x02, 0x7e, 0x55, 0x00, 0x00, 0x03}).size(), 1);
}

void TestCliHistory::anUnwritableHistoryFolderDoesNotStopTheWriteAndIsSaidOnce()
{
    // A file where the user's data folder should be: no history folder can be made there.
    QFile blocker(m_dir.filePath(u"blocker"_s));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
    const clitest::CliRun done = run({u"write"_s, kDevice, kOther, u"comment=anyway"_s, u"--yes"_s});
    QVERIFY2(done.status == 0, qPrintable(done.out + done.err));
    QCOMPARE(m_sim->device(0).record.comment(), std::string("anyway"));
    QCOMPARE(m_sim->device(1).record.comment(), std::string("anyway"));
    QCOMPARE(done.err.count(u"The settings history could not keep what this write replaces ("_s), 1);
    QVERIFY2(done.err.contains(blocker.fileName() + u"/VarkonSystems"_s), qPrintable(done.err));
    QVERIFY2(done.err.contains(u"; the write goes on."_s), qPrintable(done.err));
}

void TestCliHistory::historyListsTheEntries()
{
    QVERIFY(run({u"history"_s, kDeviceMac}).out.startsWith(u"No settings history of 02:7e:55:00:00:01"_s));
    QCOMPARE(run({u"write"_s, kDevice, u"comment=one"_s}).status, 0);
    QCOMPARE(run({u"write"_s, kDeviceMac, u"com1.baudRate=115200"_s, u"comment=two"_s}).status, 0);
    const clitest::CliRun text = run({u"history"_s, kDevice});
    QCOMPARE(text.status, 0);
    const QStringList lines = text.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).startsWith(u"Settings history of 02:7e:55:00:00:01 (2 entries, in "_s), qPrintable(text.out));
    QVERIFY2(lines.at(1).startsWith(u"    1  "_s) && lines.at(1).endsWith(u"  cormapmp-cli write  comment"_s),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).startsWith(u"    2  "_s) &&
                 lines.at(2).endsWith(u"  cormapmp-cli write  comment, com1.baudRate"_s),
             qPrintable(lines.at(2)));
    const clitest::CliRun json = run({u"history"_s, kDeviceMac, u"--json"_s});
    const QJsonObject doc = clitest::jsonObject(json.out);
    QCOMPARE(doc[u"mac"_s].toString(), kDeviceMac);
    const QJsonArray entries = doc[u"entries"_s].toArray();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(1)[u"number"_s].toInt(), 2);
    QCOMPARE(entries.at(1)[u"verb"_s].toString(), u"write"_s);
    QCOMPARE(entries.at(1)[u"changed"_s].toArray(), QJsonArray({u"comment"_s, u"com1.baudRate"_s}));
}

void TestCliHistory::restoreBringsTheDeviceBackByteForByte()
{
    const QByteArray original = rawOf(m_sim->device(2).record);
    QCOMPARE(run({u"write"_s, kLocked, u"comment=oops"_s, u"ipAddress=127.0.21.4"_s, u"com2.baudRate=600"_s}, u"pw12"_s)
                 .status,
             0);
    QVERIFY(rawOf(m_sim->device(2).record) != original);
    const clitest::CliRun restored = run({u"restore"_s, kLocked, u"1"_s}, u"pw12"_s);
    QVERIFY2(restored.status == 0, qPrintable(restored.out + restored.err));
    QVERIFY2(restored.out.contains(u"  com2.baudRate          600 -> "_s), qPrintable(restored.out));
    QVERIFY(restored.out.endsWith(u"The environment variables of the Tessel have been written.\n"_s));
    QCOMPARE(rawOf(m_sim->device(2).record), original);
    // The restore kept what it replaced too.
    const QList<settings_history::Entry> entries = store().entries({0x02, 0x7e, 0x55, 0x00, 0x00, 0x03});
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(1).verb, u"restore"_s);
    QCOMPARE(entries.at(1).before.comment(), std::string("oops"));
    // Nothing left to put back: the latest entry now holds the state before the restore.
    const clitest::CliRun again = run({u"diff"_s, u"02:7e:55:00:00:03@1"_s, kLocked});
    QCOMPARE(again.status, 0);
    QCOMPARE(again.out, QString());
}

void TestCliHistory::restoreDryRunSendsNothing()
{
    QCOMPARE(run({u"write"_s, kDevice, u"comment=later"_s}).status, 0);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun dry = run({u"restore"_s, kDeviceMac, u"--dry-run"_s});
    QCOMPARE(dry.status, 0);
    QVERIFY2(dry.out.contains(u"  comment                \"later\" -> "_s), qPrintable(dry.out));
    QVERIFY(dry.out.contains(u"(--dry-run)"_s));
    QCOMPARE(writesHandled(handled), 0);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("later"));
}

void TestCliHistory::restoreOfAnotherDevicesEntryIsRefused_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("device named by its MAC") << kOtherMac;
    QTest::newRow("device named by its address") << kOther;
}

void TestCliHistory::restoreOfAnotherDevicesEntryIsRefused()
{
    QFETCH(QString, device);
    QCOMPARE(run({u"write"_s, kDevice, u"comment=mine"_s}).status, 0);
    const QByteArray other = rawOf(m_sim->device(1).record);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun refused = run({u"restore"_s, device, kDeviceMac + u"@1"_s});
    QCOMPARE(refused.status, 2);
    QVERIFY2(refused.err.contains(u"The history entry 02:7e:55:00:00:01@1 belongs to another Tessel than "
                                  "02:7e:55:00:00:02"_s),
             qPrintable(refused.err));
    QCOMPARE(writesHandled(handled), 0);
    QCOMPARE(rawOf(m_sim->device(1).record), other);
    // A number the device has no entry of is bad input too.
    QCOMPARE(run({u"restore"_s, device, u"1"_s}).status, 2);
}

void TestCliHistory::diffOfADeviceWithItsOwnExportIsEmpty()
{
    const QString file = m_dir.filePath(u"own.kvx"_s);
    QCOMPARE(run({u"export"_s, kDevice, file}).status, 0);
    for (const QStringList& pair : {QStringList{kDevice, file}, QStringList{file, kDeviceMac}}) {
        const clitest::CliRun same = run(QStringList{u"diff"_s} + pair);
        QCOMPARE(same.status, 0);
        QCOMPARE(same.out, QString());
        QCOMPARE(same.err, QString());
    }
    const clitest::CliRun json = run({u"diff"_s, kDevice, file, u"--json"_s});
    QCOMPARE(json.status, 0);
    QCOMPARE(clitest::jsonObject(json.out)[u"equal"_s].toBool(), true);
    QCOMPARE(clitest::jsonObject(json.out)[u"differences"_s].toArray().size(), 0);
}

void TestCliHistory::diffNamesExactlyTheChangedField()
{
    const QString file = m_dir.filePath(u"own.kvx"_s);
    QCOMPARE(run({u"export"_s, kDevice, file}).status, 0);
    const QString oldBaud = baudText(m_sim->device(0).record);
    QVERIFY(oldBaud != u"115200"_s);
    QCOMPARE(run({u"write"_s, kDevice, u"com1.baudRate=115200"_s}).status, 0);
    const clitest::CliRun changed = run({u"diff"_s, file, kDevice});
    QCOMPARE(changed.status, 1);
    QCOMPARE(changed.out, u"com1.baudRate: %1 -> 115200\n"_s.arg(oldBaud));
    const clitest::CliRun entry = run({u"diff"_s, kDeviceMac + u"@latest"_s, kDevice, u"--json"_s});
    QCOMPARE(entry.status, 1);
    const QJsonObject doc = clitest::jsonObject(entry.out);
    QCOMPARE(doc[u"equal"_s].toBool(), false);
    const QJsonArray differences = doc[u"differences"_s].toArray();
    QCOMPARE(differences.size(), 1);
    QCOMPARE(differences.at(0)[u"field"_s].toString(), u"com1.baudRate"_s);
    QCOMPARE(differences.at(0)[u"a"_s].toInt(), oldBaud.toInt());
    QCOMPARE(differences.at(0)[u"b"_s].toInt(), 115200);
    // Two devices: their MACs, addresses and comments differ, but never the fields a device sets itself.
    const clitest::CliRun two = run({u"diff"_s, kDevice, kOther});
    QCOMPARE(two.status, 1);
    QVERIFY2(two.out.startsWith(u"mac: 02:7e:55:00:00:01 -> 02:7e:55:00:00:02\n"_s), qPrintable(two.out));
    QVERIFY(!two.out.contains(u"sourceAddress"_s));
}

void TestCliHistory::diffOfBadInputIsExitTwo_data()
{
    QTest::addColumn<QStringList>("operands");
    QTest::addColumn<QString>("message");
    QTest::newRow("one operand") << QStringList{kDevice} << u"diff: name two records"_s;
    QTest::newRow("no such file") << QStringList{kDevice, u"/nonexistent/x.kvx"_s} << u"/nonexistent/x.kvx"_s;
    QTest::newRow("no such entry") << QStringList{kDeviceMac + u"@7"_s, kDevice} << u"There is no entry 7"_s;
    QTest::newRow("bad entry number") << QStringList{kDeviceMac + u"@-1"_s, kDevice} << u"names no history entry"_s;
    QTest::newRow("bad MAC") << QStringList{u"02:7e:zz@1"_s, kDevice} << u"names no history entry"_s;
    QTest::newRow("no answer") << QStringList{u"127.0.21.9"_s, kDevice} << u""_s;
}

void TestCliHistory::diffOfBadInputIsExitTwo()
{
    QFETCH(QStringList, operands);
    QFETCH(QString, message);
    const clitest::CliRun bad = run(QStringList{u"diff"_s} + operands);
    QCOMPARE(bad.status, 2);
    QVERIFY2(!bad.err.isEmpty() && bad.err.contains(message), qPrintable(bad.err));
    QCOMPARE(bad.out, QString());
}

QTEST_GUILESS_MAIN(TestCliHistory)
#include "tst_cli_history.moc"
