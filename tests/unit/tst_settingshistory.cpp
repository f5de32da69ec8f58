// The settings history folder: the entry file's layout, numbering and the last hundred, two programs
// keeping entries at once, and folders that cannot take an entry.
#include "FileFaults.h"
#include "history/SettingsHistory.h"

#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace settings_history;

namespace {
const Mac kMac{0x02, 0x11, 0x22, 0x0a, 0xbc, 0xde};

/** A record with the MAC above and the address 10.0.0.`last` in bytes 20-23, nothing else set. */
EnvRecord recordWith(std::uint8_t last, const Mac& mac = kMac)
{
    std::array<std::uint8_t, EnvRecord::kSize> raw{};
    std::copy(mac.begin(), mac.end(), raw.begin());
    raw[20] = 10;
    raw[23] = last;
    return EnvRecord(raw.data());
}

/** The same record as hex, written out: the MAC, 14 zero bytes, the address, then zeros. */
QString handHex(const QString& lastByte)
{
    return u"0211220abcde"_s + QString(28, u'0') + u"0a0000"_s + lastByte + QString(2 * (512 - 24), u'0');
}

Entry sample()
{
    Entry e;
    e.number = 7;
    e.time = QDateTime(QDate(2026, 12, 10), QTime(23, 59, 1, 250), Qt::UTC);
    e.program = u"cormapmp-cli"_s;
    e.verb = u"write"_s;
    e.before = recordWith(5);
    e.after = recordWith(9);
    return e;
}

int modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}
} // namespace

class TestSettingsHistory : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void entryFileIsTheHandWrittenJson();
    void handWrittenFileReadsBack();
    void damagedFilesAreNoEntries_data();
    void damagedFilesAreNoEntries();
    void entriesCountUpAndTheHundredAndFirstDropsTheFirst();
    void entriesArePrivateToTheUser();
    void discardRemovesThatEntryAlone();
    void twoProgramsKeepingAtOnceNeverShareANumber();
    void aFolderThatCannotBeMadeIsReported();
    void aFullDiskLeavesNoHalfEntryAndKeepsTheOthers();
    void aFileSizeLimitLeavesNoHalfEntry();

private:
    QTemporaryDir m_dir;
};

void TestSettingsHistory::entryFileIsTheHandWrittenJson()
{
    const QByteArray expected = (u"{\n"
                                 "    \"after\": \""_s +
                                 handHex(u"09"_s) +
                                 u"\",\n"
                                 "    \"before\": \""_s +
                                 handHex(u"05"_s) +
                                 u"\",\n"
                                 "    \"changed\": [\n"
                                 "        \"ipAddress\"\n"
                                 "    ],\n"
                                 "    \"format\": 1,\n"
                                 "    \"mac\": \"02:11:22:0a:bc:de\",\n"
                                 "    \"number\": 7,\n"
                                 "    \"program\": \"cormapmp-cli\",\n"
                                 "    \"time\": \"2026-12-10T23:59:01.250Z\",\n"
                                 "    \"verb\": \"write\"\n"
                                 "}\n"_s)
                                    .toUtf8();
    QCOMPARE(encode(sample()), expected);
}

void TestSettingsHistory::handWrittenFileReadsBack()
{
    const QByteArray file =
        (u"{\"format\":1,\"number\":12,\"time\":\"2026-01-02T03:04:05.006Z\",\"program\":\"cormapmp\","
         "\"verb\":\"editor write\",\"mac\":\"02:11:22:0a:bc:de\",\"before\":\""_s +
         handHex(u"05"_s) + u"\",\"after\":\""_s + handHex(u"ff"_s) + u"\"}"_s)
            .toUtf8();
    const std::optional<Entry> e = decode(file);
    QVERIFY(e);
    QCOMPARE(e->number, 12);
    QCOMPARE(e->time, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), Qt::UTC));
    QCOMPARE(e->program, u"cormapmp"_s);
    QCOMPARE(e->verb, u"editor write"_s);
    QCOMPARE(e->mac(), kMac);
    QCOMPARE(e->before.raw()[23], std::uint8_t{5});
    QCOMPARE(e->after.raw()[23], std::uint8_t{0xff});
    QCOMPARE(e->before.ipAddress(), 0x0a000005u);
    QCOMPARE(e->changed(), QStringList{u"ipAddress"_s});
}

void TestSettingsHistory::damagedFilesAreNoEntries_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::newRow("another layout") << QByteArray("\"format\": 1") << QByteArray("\"format\": 2");
    QTest::newRow("number 0") << QByteArray("\"number\": 7") << QByteArray("\"number\": 0");
    QTest::newRow("record one byte short") << QByteArray("\"before\": \"02") << QByteArray("\"before\": \"");
    QTest::newRow("not hex") << QByteArray("\"after\": \"02") << QByteArray("\"after\": \"zz");
    QTest::newRow("mac not the records'") << QByteArray("02:11:22:0a:bc:de") << QByteArray("02:11:22:0a:bc:df");
    QTest::newRow("after of another device") << QByteArray("\"after\": \"02") << QByteArray("\"after\": \"04");
    QTest::newRow("no time") << QByteArray("2026-12-10T") << QByteArray("yesterdayT");
    QTest::newRow("cut short") << QByteArray("\"verb\"") << QByteArray("");
}

void TestSettingsHistory::damagedFilesAreNoEntries()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QByteArray file = encode(sample());
    QVERIFY(decode(file));
    QVERIFY(file.contains(from));
    if (to.isEmpty())
        file.truncate(file.indexOf(from));
    else
        file.replace(from, to);
    QVERIFY(!decode(file));
}

void TestSettingsHistory::entriesCountUpAndTheHundredAndFirstDropsTheFirst()
{
    Store store(m_dir.filePath(u"history"_s));
    Entry e = sample();
    for (int i = 1; i <= kKeptPerDevice; ++i) {
        e.after = recordWith(static_cast<std::uint8_t>(i));
        const Kept kept = store.keep(e);
        QVERIFY2(kept.ok(), qPrintable(kept.error));
        QCOMPARE(kept.number, i);
    }
    QCOMPARE(store.entries(kMac).size(), kKeptPerDevice);
    QVERIFY(store.entry(kMac, 1));
    e.after = recordWith(101);
    QCOMPARE(store.keep(e).number, 101);
    const QList<Entry> all = store.entries(kMac);
    QCOMPARE(all.size(), kKeptPerDevice);
    QCOMPARE(all.constFirst().number, 2);
    QCOMPARE(all.constLast().number, 101);
    QVERIFY(!store.entry(kMac, 1));
    QCOMPARE(store.latest(kMac)->after.raw()[23], std::uint8_t{101});
    QCOMPARE(store.entry(kMac, 2)->after.raw()[23], std::uint8_t{2});
    // The next entry follows the newest one's number, not the count kept: 102, with 3..102 left and 101
    // as it was.
    e.after = recordWith(102);
    QCOMPARE(store.keep(e).number, 102);
    const QList<Entry> later = store.entries(kMac);
    QCOMPARE(later.size(), kKeptPerDevice);
    QCOMPARE(later.constFirst().number, 3);
    QCOMPARE(later.constLast().number, 102);
    QVERIFY(!store.entry(kMac, 2));
    QCOMPARE(store.entry(kMac, 101)->after.raw()[23], std::uint8_t{101});
    QCOMPARE(store.entry(kMac, 102)->after.raw()[23], std::uint8_t{102});
    for (int i = 0; i < later.size(); ++i)
        QCOMPARE(later.at(i).number, i + 3);
    // Another device has a folder and numbers of its own.
    Entry other = sample();
    other.before = other.after = recordWith(1, Mac{0x02, 0, 0, 0, 0, 0x01});
    QCOMPARE(store.keep(other).number, 1);
    QCOMPARE(store.entries(kMac).size(), kKeptPerDevice);
}

void TestSettingsHistory::entriesArePrivateToTheUser()
{
    Store store(m_dir.filePath(u"private"_s));
    const Kept kept = store.keep(sample());
    QVERIFY2(kept.ok(), qPrintable(kept.error));
    QCOMPARE(modeOf(store.deviceFolder(kMac)), 0700);
    QCOMPARE(modeOf(store.deviceFolder(kMac) + u"/000001.json"_s), 0600);
    QVERIFY(store.deviceFolder(kMac).endsWith(u"/02-11-22-0a-bc-de"_s));
}

void TestSettingsHistory::discardRemovesThatEntryAlone()
{
    Store store(m_dir.filePath(u"discard"_s));
    QCOMPARE(store.keep(sample()).number, 1);
    QCOMPARE(store.keep(sample()).number, 2);
    QVERIFY(store.discard(kMac, 2));
    QCOMPARE(store.entries(kMac).size(), 1);
    QCOMPARE(store.latest(kMac)->number, 1);
    // An entry file put under another number is not taken for that entry.
    QVERIFY(QFile::copy(store.deviceFolder(kMac) + u"/000001.json"_s, store.deviceFolder(kMac) + u"/000005.json"_s));
    QVERIFY(!store.entry(kMac, 5));
    QCOMPARE(store.entries(kMac).size(), 1);
}

void TestSettingsHistory::twoProgramsKeepingAtOnceNeverShareANumber()
{
    // Two processes keep 40 entries each of one device at the same time.
    constexpr int kEach = 40;
    const QString folder = m_dir.filePath(u"together"_s);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    Store store(folder);
    Entry e = sample();
    int failed = 0;
    for (int i = 0; i < kEach; ++i) {
        e.program = child == 0 ? u"child"_s : u"parent"_s;
        failed += store.keep(e).ok() ? 0 : 1;
    }
    if (child == 0)
        ::_exit(failed);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(failed, 0);
    const QList<Entry> all = store.entries(kMac);
    QCOMPARE(all.size(), 2 * kEach);
    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(all.at(i).number, i + 1);
    const auto byChild = std::count_if(all.begin(), all.end(), [](const Entry& x) { return x.program == u"child"_s; });
    QCOMPARE(byChild, kEach);
}

void TestSettingsHistory::aFolderThatCannotBeMadeIsReported()
{
    // A file where the history folder should be: no folder can be made under it, even by root.
    const QString blocker = m_dir.filePath(u"blocker"_s);
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    Store store(blocker + u"/history"_s);
    const Kept kept = store.keep(sample());
    QVERIFY(!kept.ok());
    QCOMPARE(kept.number, 0);
    QVERIFY2(kept.error.startsWith(blocker + u"/history/02-11-22-0a-bc-de: ["_s), qPrintable(kept.error));
    QVERIFY(store.entries(kMac).isEmpty());
}

void TestSettingsHistory::aFullDiskLeavesNoHalfEntryAndKeepsTheOthers()
{
    const QString folder = m_dir.filePath(u"small"_s);
    QVERIFY(QDir().mkpath(folder));
    filetest::FullTmpfs disk(folder);
    if (!disk.ready())
        QSKIP(qPrintable(disk.why()));
    Store store(folder + u"/history"_s);
    QCOMPARE(store.keep(sample()).number, 1);
    disk.fill();
    const QStringList before = filetest::entries(store.deviceFolder(kMac));
    const Kept kept = store.keep(sample());
    QVERIFY(!kept.ok());
    QVERIFY2(kept.error.contains(u"[%1]"_s.arg(ENOSPC)), qPrintable(kept.error));
    QCOMPARE(filetest::entries(store.deviceFolder(kMac)), before);
    QCOMPARE(store.entries(kMac).size(), 1);
}

void TestSettingsHistory::aFileSizeLimitLeavesNoHalfEntry()
{
    Store store(m_dir.filePath(u"limited"_s));
    QCOMPARE(store.keep(sample()).number, 1);
    const QStringList before = filetest::entries(store.deviceFolder(kMac));
    Kept kept;
    {
        // Room for the lock file, not for a whole entry.
        const filetest::FileSizeLimit limit(1024);
        kept = store.keep(sample());
    }
    QVERIFY(!kept.ok());
    QVERIFY2(kept.error.startsWith(store.deviceFolder(kMac) + u"/000002.json: [%1]"_s.arg(EFBIG)),
             qPrintable(kept.error));
    QCOMPARE(filetest::entries(store.deviceFolder(kMac)), before);
    QCOMPARE(store.keep(sample()).number, 2);
}

QTEST_GUILESS_MAIN(TestSettingsHistory)
#include "tst_settingshistory.moc"
