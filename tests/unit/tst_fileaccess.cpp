// Saving a whole file that is never left half written, and reading a file that may be a stream (a pipe,
// a FIFO, a device) once, within a length limit, never waiting forever.
#include "FileFaults.h"
#include "files/BoundedRead.h"
#include "files/SafeSave.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
constexpr int kShortIdleMs = 300;

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class TestFileAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void saveReplacesTheWholeFileAndKeepsItsPermissions();
    void saveThroughALinkReplacesTheFileItNames();
    void saveIntoAFolderThatIsNotThereFailsWithTheSystemsReason();
    void saveOntoAFullFileSystemKeepsTheOldFile();
    void savePastAFileSizeLimitKeepsTheOldFile();
    void saveToAFullDeviceSaysWhy();

    void regularFileIsReadWholeUpToTheLimit_data();
    void regularFileIsReadWholeUpToTheLimit();
    void fifoIsReadAsAStreamOnce_data();
    void fifoIsReadAsAStreamOnce();
    void fifoWithoutWriterIsGivenUpNotWaitedForForever();
    void fifoWhoseWriterFallsSilentIsGivenUp();
    void endlessDeviceIsRefusedAtTheLimit();
    void emptyDeviceIsAnEmptyStream();
    void folderAndMissingFileGiveTheSystemsReason();

private:
    QTemporaryDir m_dir;
};

void TestFileAccess::init()
{
    QVERIFY(m_dir.isValid());
    for (const QString& name : filetest::entries(m_dir.path())) {
        if (!QFile::remove(m_dir.filePath(name)))
            QDir(m_dir.filePath(name)).removeRecursively();
    }
}

void TestFileAccess::saveReplacesTheWholeFileAndKeepsItsPermissions()
{
    const QString path = m_dir.filePath(u"settings.kvx"_s);
    QVERIFY(writeFile(path, pattern(5000)));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
    const QByteArray bytes = pattern(552).toHex().left(552);
    const safe_save::Outcome outcome = safe_save::save(path, bytes);
    QVERIFY2(outcome.saved(), qPrintable(outcome.errorText()));
    QCOMPARE(contentOf(path), bytes);
    struct stat info = {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t{0640});
    QCOMPARE(filetest::entries(m_dir.path()), QStringList{u"settings.kvx"_s});
    // A new file is made whole too.
    const QString fresh = m_dir.filePath(u"new.kvx"_s);
    QVERIFY(safe_save::save(fresh, "abc").saved());
    QCOMPARE(contentOf(fresh), QByteArray("abc"));
}

void TestFileAccess::saveThroughALinkReplacesTheFileItNames()
{
    const QString target = m_dir.filePath(u"real.kvx"_s);
    const QString link = m_dir.filePath(u"link.kvx"_s);
    QVERIFY(writeFile(target, "old"));
    QVERIFY(QFile::link(target, link));
    QVERIFY(safe_save::save(link, "new content").saved());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(contentOf(target), QByteArray("new content"));
}

void TestFileAccess::saveIntoAFolderThatIsNotThereFailsWithTheSystemsReason()
{
    const safe_save::Outcome outcome = safe_save::save(m_dir.filePath(u"no/such/folder.kvx"_s), "x");
    QCOMPARE(outcome.error, ENOENT);
    QVERIFY2(outcome.errorText().startsWith(u"[%1] "_s.arg(ENOENT)), qPrintable(outcome.errorText()));
}

void TestFileAccess::saveOntoAFullFileSystemKeepsTheOldFile()
{
    const QString folder = m_dir.filePath(u"small"_s);
    QVERIFY(QDir().mkpath(folder));
    filetest::FullTmpfs disk(folder);
    if (!disk.ready())
        QSKIP(qPrintable(disk.why()));
    const QByteArray old = pattern(552);
    QVERIFY(disk.place(u"good.kvx"_s, old));
    disk.fill();
    const QStringList before = filetest::entries(folder);
    const safe_save::Outcome outcome = safe_save::save(QDir(folder).filePath(u"good.kvx"_s), pattern(552).toBase64());
    QCOMPARE(outcome.error, ENOSPC);
    QCOMPARE(contentOf(QDir(folder).filePath(u"good.kvx"_s)), old);
    QCOMPARE(filetest::entries(folder), before);
}

void TestFileAccess::savePastAFileSizeLimitKeepsTheOldFile()
{
    const QString path = m_dir.filePath(u"good.kvx"_s);
    const QByteArray old = pattern(100);
    QVERIFY(writeFile(path, old));
    safe_save::Outcome outcome;
    {
        const filetest::FileSizeLimit limit(200);
        outcome = safe_save::save(path, pattern(552));
    }
    QCOMPARE(outcome.error, EFBIG);
    QCOMPARE(contentOf(path), old);
    QCOMPARE(filetest::entries(m_dir.path()), QStringList{u"good.kvx"_s});
}

void TestFileAccess::saveToAFullDeviceSaysWhy()
{
    // A device node of the test's own that behaves as /dev/full: it must be written, never replaced.
    const QString device = m_dir.filePath(u"full"_s);
    if (const QString why = filetest::makeFullDevice(device); !why.isEmpty())
        QSKIP(qPrintable(why));
    const safe_save::Outcome outcome = safe_save::save(device, pattern(552));
    QCOMPARE(outcome.error, ENOSPC);
    QCOMPARE(outcome.errorText(), u"[%1] %2"_s.arg(ENOSPC).arg(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    QVERIFY(QFileInfo(device).exists() && !QFileInfo(device).isFile());
    QCOMPARE(filetest::entries(m_dir.path()), QStringList{u"full"_s});
}

void TestFileAccess::regularFileIsReadWholeUpToTheLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("tooLarge");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("at the limit") << 1000 << false;
    QTest::newRow("one byte over") << 1001 << true;
    QTest::newRow("far over") << 200000 << true;
}

void TestFileAccess::regularFileIsReadWholeUpToTheLimit()
{
    QFETCH(int, size);
    QFETCH(bool, tooLarge);
    const QString path = m_dir.filePath(u"file.bin"_s);
    QVERIFY(writeFile(path, pattern(size)));
    const bounded_read::Result read = bounded_read::read(path, 1000, kShortIdleMs);
    QCOMPARE(read.error, 0);
    QVERIFY(!read.stream && !read.stalled);
    QCOMPARE(read.tooLarge, tooLarge);
    QCOMPARE(read.size, qint64{size});
    QCOMPARE(read.bytes, tooLarge ? QByteArray() : pattern(size));
}

void TestFileAccess::fifoIsReadAsAStreamOnce_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("tooLarge");
    QTest::newRow("a few bytes") << 5 << false;
    QTest::newRow("more than a pipe holds") << 300000 << false;
    QTest::newRow("at the limit") << 400000 << false;
    QTest::newRow("one byte over") << 400001 << true;
}

void TestFileAccess::fifoIsReadAsAStreamOnce()
{
    QFETCH(int, size);
    QFETCH(bool, tooLarge);
    const QString path = m_dir.filePath(u"fifo"_s);
    filetest::Fifo fifo(path);
    QVERIFY(fifo.made());
    fifo.write(pattern(size));
    const bounded_read::Result read = bounded_read::read(path, 400000, 5000);
    QCOMPARE(read.error, 0);
    QVERIFY(read.stream);
    QVERIFY(!read.stalled);
    QCOMPARE(read.tooLarge, tooLarge);
    QCOMPARE(read.bytes, tooLarge ? QByteArray() : pattern(size));
    QCOMPARE(read.size, qint64{size}); // one byte over the limit is where reading stops
}

void TestFileAccess::fifoWithoutWriterIsGivenUpNotWaitedForForever()
{
    const QString path = m_dir.filePath(u"fifo"_s);
    filetest::Fifo fifo(path);
    QVERIFY(fifo.made());
    const bounded_read::Result read = bounded_read::read(path, 1000, kShortIdleMs);
    QVERIFY(read.stalled);
    QVERIFY(read.stream);
    QVERIFY(!read.complete());
    QVERIFY(read.bytes.isEmpty());
}

void TestFileAccess::fifoWhoseWriterFallsSilentIsGivenUp()
{
    const QString path = m_dir.filePath(u"fifo"_s);
    filetest::Fifo fifo(path);
    QVERIFY(fifo.made());
    fifo.write("half an image", 3 * kShortIdleMs);
    const bounded_read::Result read = bounded_read::read(path, 1000, kShortIdleMs);
    QVERIFY(read.stalled);
    QVERIFY(read.bytes.isEmpty()); // what came before the silence is not taken as the whole
}

void TestFileAccess::endlessDeviceIsRefusedAtTheLimit()
{
    const bounded_read::Result read = bounded_read::read(u"/dev/zero"_s, 100000, kShortIdleMs);
    QVERIFY(read.stream);
    QVERIFY(read.tooLarge);
    QVERIFY(read.bytes.isEmpty());
    QCOMPARE(read.size, qint64{100001});
}

void TestFileAccess::emptyDeviceIsAnEmptyStream()
{
    const bounded_read::Result read = bounded_read::read(u"/dev/null"_s, 1000, kShortIdleMs);
    QVERIFY(read.complete());
    QVERIFY(read.stream);
    QCOMPARE(read.size, qint64{0});
}

void TestFileAccess::folderAndMissingFileGiveTheSystemsReason()
{
    QCOMPARE(bounded_read::read(m_dir.path(), 1000).error, EISDIR);
    QCOMPARE(bounded_read::read(m_dir.filePath(u"missing.bin"_s), 1000).error, ENOENT);
    QCOMPARE(bounded_read::systemErrorText(ENOENT),
             u"[%1] %2"_s.arg(ENOENT).arg(QString::fromLocal8Bit(std::strerror(ENOENT))));
}

QTEST_GUILESS_MAIN(TestFileAccess)
#include "tst_fileaccess.moc"
