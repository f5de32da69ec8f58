// The settings editor's history: its Write keeps the device's record first, History… lists what was kept
// and loads a chosen entry into the form without sending anything. Driven offscreen against a simulated
// device on the loopback profile (device port 53621, this program's own).
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "gui/editor/CHistoryDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "protocol/Codec.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QAccessible>
#include <QTableWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = 53621;
    return profile;
}

QByteArray rawOf(const EnvRecord& record)
{
    return QByteArray(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize);
}

int writesHandled(const QSignalSpy& handled)
{
    int copies = 0;
    for (const QList<QVariant>& h : handled)
        copies += h.at(1).toInt() == frame::kWrite ? 1 : 0;
    return copies / 2;
}

/** What the history dialog shows: its title, each row's cells, the changes view, whether Load is on. */
QStringList shownIn(CHistoryDlg* dialog)
{
    QStringList seen{dialog->windowTitle()};
    auto* list = dialog->findChild<QTableWidget*>(u"entriesList"_s);
    for (int i = 0; i < list->rowCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c)
            cells << list->item(i, c)->text();
        seen << cells.join(u" | "_s);
    }
    seen << dialog->findChild<QPlainTextEdit*>(u"changesView"_s)->toPlainText();
    seen << (dialog->findChild<QPushButton*>(u"loadButton"_s)->isEnabled() ? u"load on"_s : u"load off"_s);
    return seen;
}
} // namespace

class TestHistoryDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void editorWriteKeepsOneEntryOfTheRecordBefore();
    void historyListsTheWritesAndLoadsOneIntoTheFormSendingNothing();
    void historyOfADeviceNeverWrittenSaysSo();
    void anUnwritableHistoryFolderDoesNotStopTheWriteAndIsSaidOnce();
    void saysWhoWroteAndWhatChangedInTheUsersLanguage_data();
    void saysWhoWroteAndWhatChangedInTheUsersLanguage();

private:
    void openEditor(const QString& historyFolder);
    void write(const QString& comment);

    QTemporaryDir m_profileDir;
    QTemporaryDir m_dir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestHistoryDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestHistoryDlg::init()
{
    QVERIFY(m_dir.isValid());
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevice(TesselSim::makeDevice(0, kDeviceAddress));
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestHistoryDlg::cleanup()
{
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
    QDir(m_dir.filePath(u"history"_s)).removeRecursively();
}

void TestHistoryDlg::openEditor(const QString& historyFolder)
{
    AppContext context = m_services->context();
    context.historyFolder = historyFolder;
    m_editor = std::make_unique<CQorv400Dlg>(context, AdapterBinding{}, m_sim->device(0).record,
                                             CQorv400Dlg::kModeRemote, kDeviceAddress);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    m_services->messages.clearShown();
}

void TestHistoryDlg::write(const QString& comment)
{
    m_editor->controls().comment->setText(comment);
    QTest::mouseClick(m_editor->controls().writeButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 8000);
}

void TestHistoryDlg::editorWriteKeepsOneEntryOfTheRecordBefore()
{
    const QString folder = m_dir.filePath(u"history"_s);
    openEditor(folder);
    const QByteArray before = rawOf(m_sim->device(0).record);
    write(u"after the write"_s);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("after the write"));
    const QList<settings_history::Entry> entries =
        settings_history::Store(folder).entries(m_sim->device(0).record.mac());
    QCOMPARE(entries.size(), 1);
    QCOMPARE(rawOf(entries.constFirst().before), before);
    QCOMPARE(entries.constFirst().after.comment(), std::string("after the write"));
    QCOMPARE(entries.constFirst().program, u"cormapmp"_s);
    QCOMPARE(entries.constFirst().verb, u"write"_s);
    QCOMPARE(entries.constFirst().changed(), QStringList{u"comment"_s});
}

void TestHistoryDlg::historyListsTheWritesAndLoadsOneIntoTheFormSendingNothing()
{
    const QString folder = m_dir.filePath(u"history"_s);
    const std::string original = m_sim->device(0).record.comment();
    openEditor(folder);
    write(u"first"_s);
    m_editor->controls().ports[0].baudRate->setCurrentIndex(
        m_editor->controls().ports[0].baudRate->findText(u"115200"_s));
    write(u"second"_s);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    QStringList seen;
    // Choose the older entry (the second row: newest first) and load it.
    auto act = guitest::whenShown<CHistoryDlg>([&](CHistoryDlg* dialog) {
        auto* list = dialog->findChild<QTableWidget*>(u"entriesList"_s);
        list->setCurrentCell(1, 0);
        seen = shownIn(dialog);
        dialog->resize(760, 420);
        QVERIFY(dialog->grab().save(m_dir.filePath(u"history-dialog.png"_s)));
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"loadButton"_s), Qt::LeftButton);
    });
    QTest::mouseClick(m_editor->controls().historyButton, Qt::LeftButton);
    QCOMPARE(seen.size(), 5);
    QCOMPARE(seen.at(0), u"Settings history of 02:7e:55:00:00:01"_s);
    // Who wrote in words, each field by its label in the form.
    QVERIFY2(seen.at(1).startsWith(u"2 | "_s) && seen.at(1).endsWith(u" | desktop program | Comment, COM1 Baudrate"_s),
             qPrintable(seen.at(1)));
    QVERIFY2(seen.at(2).startsWith(u"1 | "_s) && seen.at(2).endsWith(u" | desktop program | Comment"_s),
             qPrintable(seen.at(2)));
    QCOMPARE(seen.at(3), u"Comment: \"%1\" -> \"first\""_s.arg(QString::fromStdString(original)));
    QCOMPARE(seen.at(4), u"load on"_s);
    // The form holds the settings from before the first write; the device still has the second.
    QCOMPARE(m_editor->controls().comment->text(), QString::fromStdString(original));
    QVERIFY(m_editor->controls().ports[0].baudRate->currentText() != u"115200"_s);
    QCOMPARE(writesHandled(handled), 0);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("second"));
    // Written, the device is back where it was, and that write is kept too.
    const QByteArray firstBefore =
        rawOf(settings_history::Store(folder).entry(m_sim->device(0).record.mac(), 1)->before);
    QTest::mouseClick(m_editor->controls().writeButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 8000);
    QCOMPARE(rawOf(m_sim->device(0).record), firstBefore);
    QCOMPARE(settings_history::Store(folder).entries(m_sim->device(0).record.mac()).size(), 3);
}

void TestHistoryDlg::historyOfADeviceNeverWrittenSaysSo()
{
    openEditor(m_dir.filePath(u"history"_s));
    QStringList seen;
    auto act = guitest::whenShown<CHistoryDlg>([&](CHistoryDlg* dialog) {
        seen = shownIn(dialog);
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"closeButton"_s), Qt::LeftButton);
    });
    const QString comment = m_editor->controls().comment->text();
    QTest::mouseClick(m_editor->controls().historyButton, Qt::LeftButton);
    QCOMPARE(seen, (QStringList{u"Settings history of 02:7e:55:00:00:01"_s,
                                u"No write to this Tessel has been kept yet."_s, u"load off"_s}));
    QCOMPARE(m_editor->controls().comment->text(), comment);
}

void TestHistoryDlg::anUnwritableHistoryFolderDoesNotStopTheWriteAndIsSaidOnce()
{
    QFile blocker(m_dir.filePath(u"blocker"_s));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    openEditor(blocker.fileName() + u"/history"_s);
    write(u"one"_s);
    write(u"two"_s);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("two"));
    int notes = 0;
    for (const ShownMessage& m : m_services->messages.shown())
        notes += m.text.startsWith(u"The settings history could not keep what this write replaces ("_s) ? 1 : 0;
    QCOMPARE(notes, 1);
}

void TestHistoryDlg::saysWhoWroteAndWhatChangedInTheUsersLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("writers");
    QTest::addColumn<QString>("changed");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("load");
    QTest::newRow("en") << int(UiLanguage::English)
                        << QStringList{u"command line: restore"_s, u"command line: write"_s, u"desktop program"_s}
                        << u"Gateway IP Address, COM2 Baudrate"_s << u"COM2 Baudrate: 9600 -> 115200"_s
                        << u"&Load the settings before this change"_s;
    QTest::newRow("ko") << int(UiLanguage::Korean)
                        << QStringList{u"명령줄: restore"_s, u"명령줄: write"_s, u"데스크톱 프로그램"_s}
                        << u"게이트웨이 IP 주소, COM2 통신 속도"_s << u"COM2 통신 속도: 9600 -> 115200"_s
                        << u"이 변경 이전의 설정 불러오기(&L)"_s;
    QTest::newRow("zh") << int(UiLanguage::Chinese)
                        << QStringList{u"命令行：restore"_s, u"命令行：write"_s, u"桌面程序"_s}
                        << u"网关 IP 地址, COM2 波特率"_s << u"COM2 波特率: 9600 -> 115200"_s
                        << u"载入此更改之前的设置(&L)"_s;
}

void TestHistoryDlg::saysWhoWroteAndWhatChangedInTheUsersLanguage()
{
    QFETCH(int, language);
    QFETCH(QStringList, writers);
    QFETCH(QString, changed);
    QFETCH(QString, change);
    QFETCH(QString, load);
    const QString folder = m_dir.filePath(u"history"_s);
    settings_history::Store store(folder);
    EnvRecord record = m_sim->device(0).record;
    EnvPortBlock com2 = record.port(1);
    com2.setBaudRate(9600);
    record.setPort(1, com2);
    const std::pair<const char*, const char*> writes[] = {
        {"cormapmp", "write"}, {"cormapmp-cli", "write"}, {"cormapmp-cli", "restore"}};
    for (const auto& [program, verb] : writes) {
        settings_history::Entry entry;
        entry.time = QDateTime::currentDateTimeUtc();
        entry.program = QString::fromLatin1(program);
        entry.verb = QString::fromLatin1(verb);
        entry.before = record;
        entry.after = record;
        EnvPortBlock faster = entry.after.port(1);
        faster.setBaudRate(115200);
        entry.after.setPort(1, faster);
        entry.after.setGateway(record.gateway() + 1);
        QVERIFY(store.keep(entry).error.isEmpty());
    }
    guitest::Services services{UiLanguage(language)};
    CHistoryDlg dialog(services.strings, store, record.mac());
    auto* list = dialog.findChild<QTableWidget*>(u"entriesList"_s);
    QCOMPARE(list->rowCount(), 3);
    QStringList shownWriters;
    for (int row = 0; row < list->rowCount(); ++row) {
        shownWriters << list->item(row, 2)->text();
        QCOMPARE(list->item(row, 3)->text(), changed);
    }
    QCOMPARE(shownWriters, writers); // newest first
    const QString changes = dialog.findChild<QPlainTextEdit*>(u"changesView"_s)->toPlainText();
    QVERIFY2(changes.split(u'\n').contains(change), qPrintable(changes));
    QCOMPARE(dialog.findChild<QPushButton*>(u"loadButton"_s)->text(), load);
    // A screen reader meets a table of writes, not a tree.
    QCOMPARE(QAccessible::queryAccessibleInterface(list)->role(), QAccessible::Table);
}

QTEST_MAIN(TestHistoryDlg)
#include "tst_historydlg.moc"
