// The settings editor never says something untrue about its device and never drops what the user typed:
// a late answer to one request is not taken for the next, the form keeps the user's edits through every
// request that is not a Read or a successful Write. Driven offscreen against simulated devices on the
// loopback profile (device port 53435, this program's own).
#include "FileFaults.h"
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "app/SearchListFile.h"
#include "gui/editor/CConflictDlg.h"
#include "gui/editor/CPwdDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "record/SettingsFile.h"
#include "gui/Ipv4AddressEdit.h"
#include "protocol/Codec.h"
#include "gui/status/CStatDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 53435;
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2
const QString kNoResponse =
    u"No response from the Tessel(s).\r\nPlease check the LAN cable and the setting of the firewall on your PC."_s;

QString systemText(int error)
{
    return u"[%1] %2"_s.arg(error).arg(QString::fromLocal8Bit(std::strerror(error)));
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

/** The user's edits of the tests: COM1's rate, COM2's timeout and the comment. */
void editForm(const EditorControls& c)
{
    c.ports[0].baudRate->setCurrentIndex(c.ports[0].baudRate->findText(u"115200"_s));
    c.ports[1].timeout->setText(u"77"_s);
    c.comment->setText(u"edited here"_s);
}

/** Whether the form still shows the edits of editForm, as typed. */
void checkEditsKept(const EditorControls& c)
{
    QCOMPARE(c.ports[0].baudRate->currentText(), u"115200"_s);
    QCOMPARE(c.ports[1].timeout->text(), u"77"_s);
    QCOMPARE(c.comment->text(), u"edited here"_s);
}

/** `record` with the edits of editForm at their raw offsets: COM1's rate (LE32 at 332), COM2's timeout
 *  (LE16 at 360) and the comment (32 bytes at 88, zero-filled). */
QByteArray withEdits(const EnvRecord& record)
{
    QByteArray raw(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize);
    const char rate[] = {'\x00', '\xC2', '\x01', '\x00'}; // 115200
    raw.replace(332, 4, rate, 4);
    const char timeout[] = {77, 0};
    raw.replace(360, 2, timeout, 2);
    QByteArray comment("edited here");
    comment.resize(32, '\0');
    raw.replace(88, 32, comment);
    return raw;
}

/** The record's bytes apart from those the device itself keeps: the password field (76-87) and the
 *  source address (152-155). */
QByteArray settingsBytes(QByteArray raw)
{
    raw.replace(76, 12, QByteArray(12, '\0'));
    raw.replace(152, 4, QByteArray(4, '\0'));
    return raw;
}

QByteArray settingsBytes(const EnvRecord& record)
{
    return settingsBytes(QByteArray(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize));
}

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}
} // namespace

class TestEditorTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void statusRightAfterASlowWriteShowsTheDevicesReport_data();
    void statusRightAfterASlowWriteShowsTheDevicesReport();
    void exportThatCannotBeWrittenWholeKeepsTheOldFile_data();
    void exportThatCannotBeWrittenWholeKeepsTheOldFile();
    void searchListThatCannotBeWrittenWholeKeepsTheOldFile();
    void importReadsASettingsFileFromAFifoOrGivesUpOnASilentOne();
    void refusedWriteKeepsEveryEditThenTheRightPasswordWritesExactlyThem_data();
    void refusedWriteKeepsEveryEditThenTheRightPasswordWritesExactlyThem();
    void requestsOtherThanReadAndATakenWriteKeepTheEdits_data();
    void requestsOtherThanReadAndATakenWriteKeepTheEdits();
    void readAndATakenWriteReloadTheForm();
    void writeOverAnotherWritersChangeAsksFirst_data();
    void writeOverAnotherWritersChangeAsksFirst();

private:
    void startSim(const SimDevice& device);
    void openEditor(int mode);
    void request(const char* button);

    QTemporaryDir m_profileDir;
    QTemporaryDir m_dir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestEditorTrust::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestEditorTrust::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestEditorTrust::cleanup()
{
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
}

void TestEditorTrust::startSim(const SimDevice& device)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestEditorTrust::openEditor(int mode)
{
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, m_sim->device(0).record, mode,
                                             kDeviceAddress);
    m_editor->show();
    m_editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_editor.get()));
    m_services->messages.clearShown();
}

void TestEditorTrust::request(const char* button)
{
    QTest::mouseClick(m_editor->findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 8000);
}

void TestEditorTrust::statusRightAfterASlowWriteShowsTheDevicesReport_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("remote") << CQorv400Dlg::kModeRemote;
    QTest::newRow("local") << CQorv400Dlg::kModeLocal;
}

void TestEditorTrust::statusRightAfterASlowWriteShowsTheDevicesReport()
{
    // The device answers after 1.2 s: within the write's wait (as long as a read's), so the write is
    // taken and said so; the status right after it shows the device's own report.
    QFETCH(int, mode);
    startSim(TesselSim::makeDevice(0, kDeviceAddress));
    SimFaults late;
    late.delayMs = 1200;
    m_sim->setFaults(late);
    openEditor(mode);
    m_editor->controls().comment->setText(u"slow"_s);
    request("writeButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(m_sim->device(0).record.comment(), std::string("slow"));
    status::StatusFields seen;
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg* dialog) {
        seen = dialog->fields();
        dialog->accept();
    });
    request("statusButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(seen[status::Field::Mac], u"02:7E:55:00:00:01"_s.toLower());
    QCOMPARE(seen[status::Field::LocalIp], u"127.0.0.2"_s);
    QVERIFY(!seen[status::Field::Version].isEmpty());
}

void TestEditorTrust::exportThatCannotBeWrittenWholeKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<int>("error");
    QTest::newRow("full file system") << u"tmpfs"_s << ENOSPC;
    QTest::newRow("file-size limit") << u"limit"_s << EFBIG;
    QTest::newRow("a full device") << u"device"_s << ENOSPC;
}

void TestEditorTrust::exportThatCannotBeWrittenWholeKeepsTheOldFile()
{
    QFETCH(QString, place);
    QFETCH(int, error);
    startSim(TesselSim::makeDevice(0, kDeviceAddress));
    openEditor(CQorv400Dlg::kModeRemote);
    const QString folder = m_dir.filePath(place);
    QVERIFY(QDir().mkpath(folder));
    QString path = QDir(folder).filePath(u"good.kvx"_s);
    const QByteArray old(552, 'o');
    std::unique_ptr<filetest::FullTmpfs> disk;
    std::unique_ptr<filetest::FileSizeLimit> limit;
    if (place == u"tmpfs"_s) {
        disk = std::make_unique<filetest::FullTmpfs>(folder);
        if (!disk->ready())
            QSKIP(qPrintable(disk->why()));
        QVERIFY(disk->place(u"good.kvx"_s, old));
        disk->fill();
    } else if (place == u"limit"_s) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();
        limit = std::make_unique<filetest::FileSizeLimit>(100);
    } else if (const QString why = filetest::makeFullDevice(path); !why.isEmpty()) {
        // A node of the test's own that behaves as /dev/full, so a save that replaces it harms nothing.
        QSKIP(qPrintable(why));
    }
    const QStringList before = filetest::entries(folder);
    m_services->files.setNextFileName(path);
    QTest::mouseClick(m_editor->controls().exportButton, Qt::LeftButton);
    limit.reset();
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, systemText(error));
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    if (place != u"device"_s)
        QCOMPARE(contentOf(path), old);
    else
        QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile()); // written to, not replaced
    QCOMPARE(filetest::entries(folder), before);
}

void TestEditorTrust::searchListThatCannotBeWrittenWholeKeepsTheOldFile()
{
    CNetEnv endpoint(testProfile());
    endpoint.record(0) = TesselSim::makeDevice(0, kDeviceAddress).record;
    endpoint.setCount(1);
    const QString path = m_dir.filePath(u"devices.csv"_s);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old list") == 8);
    }
    QWidget owner;
    QString saved;
    {
        const filetest::FileSizeLimit limit(4);
        m_services->files.setNextFileName(path);
        saved = saveSearchList(&owner, m_services->context(), endpoint);
    }
    QCOMPARE(saved, QString());
    QCOMPARE(contentOf(path), QByteArray("old list"));
    QCOMPARE(m_services->messages.last().text,
             u"The list could not be saved to %1.\r\n%2"_s.arg(QDir::toNativeSeparators(path), systemText(EFBIG)));
    const QString device = m_dir.filePath(u"full.csv"_s);
    if (const QString why = filetest::makeFullDevice(device); !why.isEmpty())
        QSKIP(qPrintable(why));
    m_services->files.setNextFileName(device);
    QCOMPARE(saveSearchList(&owner, m_services->context(), endpoint), QString());
    QCOMPARE(m_services->messages.last().text,
             u"The list could not be saved to %1.\r\n%2"_s.arg(QDir::toNativeSeparators(device), systemText(ENOSPC)));
    QVERIFY(QFileInfo(device).exists() && !QFileInfo(device).isFile());
}

void TestEditorTrust::importReadsASettingsFileFromAFifoOrGivesUpOnASilentOne()
{
    startSim(TesselSim::makeDevice(0, kDeviceAddress));
    openEditor(CQorv400Dlg::kModeRemote);
    EnvRecord record = settings_file::exportedRecord(m_sim->device(0).record);
    record.setComment("through a fifo");
    filetest::Fifo fifo(m_dir.filePath(u"settings.kvx"_s));
    QVERIFY(fifo.made());
    fifo.write(settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize),
                                     settings_file::Product::of(record), QDateTime::currentDateTime()));
    m_services->files.setNextFileName(fifo.path());
    QTest::mouseClick(m_editor->controls().importButton, Qt::LeftButton);
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(m_editor->controls().comment->text(), u"through a fifo"_s);

    // Nobody writes to this one: the editor gives up after its wait and changes nothing.
    filetest::Fifo silent(m_dir.filePath(u"silent.kvx"_s));
    QVERIFY(silent.made());
    m_editor->controls().comment->setText(u"typed"_s);
    m_services->files.setNextFileName(silent.path());
    QTest::mouseClick(m_editor->controls().importButton, Qt::LeftButton);
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text,
             u"Nothing came from %1 for 10 seconds; it was not read."_s.arg(QDir::toNativeSeparators(silent.path())));
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QCOMPARE(m_editor->controls().comment->text(), u"typed"_s);
}

void TestEditorTrust::refusedWriteKeepsEveryEditThenTheRightPasswordWritesExactlyThem_data()
{
    statusRightAfterASlowWriteShowsTheDevicesReport_data();
}

void TestEditorTrust::refusedWriteKeepsEveryEditThenTheRightPasswordWritesExactlyThem()
{
    QFETCH(int, mode);
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.setPassword("secret");
    startSim(device);
    openEditor(mode);
    const EnvRecord before = m_sim->device(0).record;
    const EditorControls& c = m_editor->controls();
    editForm(c);
    c.password->setText(u"wrong"_s);
    request("writeButton");
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, u"Writing has failed. [password mismatch]"_s);
    checkEditsKept(c);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(c.password->text().isEmpty()); // a refused write still empties the Password box
    QCOMPARE(settingsBytes(m_sim->device(0).record), settingsBytes(before));

    m_services->messages.clearShown();
    c.password->setText(u"secret"_s);
    request("writeButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(settingsBytes(m_sim->device(0).record).toHex(), settingsBytes(withEdits(before)).toHex());
    QVERIFY(m_sim->device(0).passwordHash() == device.passwordHash());
    checkEditsKept(c);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(c.password->text(), u"secret"_s);
}

void TestEditorTrust::requestsOtherThanReadAndATakenWriteKeepTheEdits_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("message"); // empty: none
    QTest::addColumn<QString>("passwordBox");
    QTest::newRow("status") << u"status"_s << QString() << u"secret"_s;
    QTest::newRow("password change refused")
        << u"password"_s << u"Writing has failed. [password mismatch]"_s << u"wrong"_s;
    QTest::newRow("write unanswered") << u"unanswered"_s << kNoResponse << u"secret"_s;
    // Read back, the device still holds its settings: the answer did not tell, the device does.
    QTest::newRow("write answered with an unknown result")
        << u"unknown"_s
        << u"Unknown response from the Tessel(s).\r\n\r\nThe Tessel 02:7e:55:00:00:01 did not take the write: read "
           u"back, it still holds its settings from before; nothing was written."_s
        << u"secret"_s;
}

void TestEditorTrust::requestsOtherThanReadAndATakenWriteKeepTheEdits()
{
    QFETCH(QString, request);
    QFETCH(QString, message);
    QFETCH(QString, passwordBox);
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.setPassword("secret");
    device.record.setComment("on the device");
    startSim(device);
    SimFaults faults;
    faults.dropShare = request == u"unanswered"_s ? 1.0 : 0.0;
    faults.forcedResult = request == u"unknown"_s ? 5 : -1;
    m_sim->setFaults(faults);
    openEditor(CQorv400Dlg::kModeRemote);
    const EditorControls& c = m_editor->controls();
    editForm(c);
    c.password->setText(request == u"password"_s ? u"wrong"_s : u"secret"_s);
    auto statusWatch = guitest::whenShown<CStatDlg>([](CStatDlg* dialog) { dialog->accept(); });
    auto passwordWatch = guitest::whenShown<CPwdDlg>([](CPwdDlg* dialog) {
        dialog->findChild<QLineEdit*>(u"newPasswordEdit"_s)->setText(u"newpass1"_s);
        dialog->findChild<QLineEdit*>(u"retypeEdit"_s)->setText(u"newpass1"_s);
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"okButton"_s), Qt::LeftButton);
    });
    this->request(request == u"status"_s     ? "statusButton"
                  : request == u"password"_s ? "passwordButton"
                                             : "writeButton");
    if (message.isEmpty())
        QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    else
        QCOMPARE(m_services->messages.last().text, message);
    checkEditsKept(c);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(c.password->text(), passwordBox);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("on the device"));
}

void TestEditorTrust::readAndATakenWriteReloadTheForm()
{
    startSim(TesselSim::makeDevice(0, kDeviceAddress));
    openEditor(CQorv400Dlg::kModeRemote);
    const EditorControls& c = m_editor->controls();
    editForm(c);
    m_sim->device(0).record.setComment("changed on the device");
    request("readButton");
    QCOMPARE(c.comment->text(), u"changed on the device"_s);
    QCOMPARE(c.ports[1].timeout->text(), QString::number(m_sim->device(0).record.port(1).timeout()));
    editForm(c);
    request("writeButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    // The device holds what was sent, and the form shows it from the device's answer.
    QCOMPARE(m_sim->device(0).record.comment(), std::string("edited here"));
    checkEditsKept(c);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_editor->shownRecord().comment(), std::string("edited here"));
}

void TestEditorTrust::writeOverAnotherWritersChangeAsksFirst_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("meanwhile"); // what another writer changed after the editor read the device
    QTest::addColumn<QString>("answer");    // the button pressed in the question; empty: no question
    QTest::addColumn<QStringList>("rows");  // what the question lists: label, theirs, yours, both
    QTest::addColumn<QString>("onDevice");  // "both": their changes and the user's; "mine"; "theirs"
    const QStringList elsewhere{u"Comment|\"FromCLI\"|\"\"|"_s, u"COM2 Baudrate|600|9600|"_s};
    QTest::newRow("their change elsewhere, kept by default")
        << int(CQorv400Dlg::kModeRemote) << u"elsewhere"_s << u"keepTheirsButton"_s << elsewhere << u"both"_s;
    QTest::newRow("by MAC, kept by default")
        << int(CQorv400Dlg::kModeLocal) << u"elsewhere"_s << u"keepTheirsButton"_s << elsewhere << u"both"_s;
    QTest::newRow("overwrite everything") << int(CQorv400Dlg::kModeRemote) << u"elsewhere"_s
                                          << u"overwriteButton"_s << elsewhere << u"mine"_s;
    QTest::newRow("cancel") << int(CQorv400Dlg::kModeRemote) << u"elsewhere"_s << u"cancelButton"_s << elsewhere
                            << u"theirs"_s;
    QTest::newRow("a field both changed is marked, mine wins there")
        << int(CQorv400Dlg::kModeRemote) << u"same"_s << u"keepTheirsButton"_s
        << QStringList{u"Comment|\"FromCLI\"|\"\"|"_s, u"COM1 Timeout|555|123|Changed by both"_s,
                       u"COM2 Baudrate|600|9600|"_s}
        << u"both"_s;
    QTest::newRow("only the source address the device reports")
        << int(CQorv400Dlg::kModeLocal) << u"source"_s << QString() << QStringList{} << u"both"_s;
}

void TestEditorTrust::writeOverAnotherWritersChangeAsksFirst()
{
    // The editor has read the device; then another writer (the command line, say) changes it; then the
    // user changes COM1's timeout and writes.
    QFETCH(int, mode);
    QFETCH(QString, meanwhile);
    QFETCH(QString, answer);
    QFETCH(QStringList, rows);
    QFETCH(QString, onDevice);
    startSim(TesselSim::makeDevice(0, kDeviceAddress));
    openEditor(mode);
    const EnvRecord read = m_sim->device(0).record;
    EnvRecord& device = m_sim->device(0).record;
    if (meanwhile == u"source"_s) {
        device.setSourceAddress(0x7F0000FE);
    } else {
        device.setComment("FromCLI");
        EnvPortBlock com2 = device.port(1);
        com2.setBaudRate(600);
        device.setPort(1, com2);
        if (meanwhile == u"same"_s) {
            EnvPortBlock com1 = device.port(0);
            com1.setTimeout(555);
            device.setPort(0, com1);
        }
    }
    const QByteArray theirs = settingsBytes(device);
    const EditorControls& c = m_editor->controls();
    c.ports[0].timeout->setText(u"123"_s);
    QStringList shown;
    bool keepTheirsIsDefault = false;
    auto question = guitest::whenShown<CConflictDlg>([&](CConflictDlg* dialog) {
        const QTableWidget* table = dialog->fieldTable();
        for (int r = 0; r < table->rowCount(); ++r) {
            QStringList cells;
            for (int col = 0; col < table->columnCount(); ++col)
                cells << table->item(r, col)->text();
            shown << cells.join(u'|');
        }
        keepTheirsIsDefault = dialog->keepTheirsButton()->isDefault();
        QTest::mouseClick(dialog->findChild<QPushButton*>(answer), Qt::LeftButton);
    });
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    request("writeButton");
    if (answer.isEmpty())
        QVERIFY(shown.isEmpty());
    else
        QVERIFY(keepTheirsIsDefault);
    // Their bytes, with COM1's timeout (LE16 at 336) as the user typed it; COM2's rate is LE32 at 356.
    QByteArray both = theirs;
    both[336] = char(123);
    both[337] = 0;
    QByteArray mine = settingsBytes(read);
    mine[336] = char(123);
    mine[337] = 0;
    const QByteArray expected = onDevice == u"both"_s ? both : onDevice == u"mine"_s ? mine : theirs;
    QCOMPARE(settingsBytes(m_sim->device(0).record).toHex(), expected.toHex());
    if (meanwhile != u"source"_s)
        QCOMPARE(both.mid(356, 4).toHex(), QByteArray("58020000")); // 600, their rate, kept
    // The rows compare after the device: cells hold values as the command line prints them.
    for (QString& row : rows)
        row.replace(u"\"\""_s, u"\"%1\""_s.arg(QString::fromStdString(read.comment())));
    QCOMPARE(shown, rows);
    int writes = 0;
    for (const QList<QVariant>& h : handled)
        writes += h.at(1).toInt() == frame::kWrite ? 1 : 0;
    if (answer == u"cancelButton"_s) {
        QCOMPARE(writes, 0);
        QCOMPARE(c.ports[0].timeout->text(), u"123"_s); // the user's edit stays for a later decision
        QVERIFY(m_services->messages.shown().isEmpty());
    } else {
        QCOMPARE(writes, 2); // both copies of one write
        QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    }
}

QTEST_MAIN(TestEditorTrust)
#include "tst_editortrust.moc"
