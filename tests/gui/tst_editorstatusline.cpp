// The settings editor's status line, offscreen against a simulated device on the loopback profile (device
// port 52491, this program's own): a Write, a password change or clearing the device took says so with
// the device and the time, and a screen reader hears it on the button pressed, which keeps the focus; a
// form loaded from the history, a settings file or with a changed account says it is not written yet.
#include "DialogScript.h"
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "gui/editor/CHistoryDlg.h"
#include "gui/editor/CPppoeDlg.h"
#include "gui/editor/CPwdDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "protocol/Codec.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2
const QString kMac = u"02:7e:55:00:00:01"_s;

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = 52491;
    return profile;
}

/** "Written to 02:7e:55:00:00:01 at 10:42:07": the clock time it names, if the line reads `pattern`
 *  (with %1 for the MAC) followed by a time. */
std::optional<QTime> namedTime(const QString& line, const QString& pattern)
{
    const QString filled = pattern.arg(kMac);
    const qsizetype at = filled.indexOf(u"%2"_s);
    const QRegularExpression re(u"\\A"_s + QRegularExpression::escape(filled.left(at)) + u"(\\d\\d:\\d\\d:\\d\\d)"_s +
                                QRegularExpression::escape(filled.mid(at + 2)) + u"\\z"_s);
    const QRegularExpressionMatch m = re.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    return QTime::fromString(m.captured(1), u"HH:mm:ss"_s);
}

/** Whether `time` is the clock time now, give or take the seconds a request takes. */
bool isAboutNow(const QTime& time)
{
    const int apart = std::abs(time.secsTo(QTime::currentTime()));
    return apart <= 10 || apart >= 86400 - 10; // across midnight too
}
} // namespace

class TestEditorStatusLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writeSaysToWhichDeviceAndWhenOnTheButtonPressedWhichKeepsTheFocus();
    void refusedWriteDoesNotSayWritten();
    void passwordChangeAndClearSaySo_data();
    void passwordChangeAndClearSaySo();
    void changedAccountSaysTheFormIsNotWrittenUntilItIs();
    void historyLoadSaysTheFormIsNotWrittenUntilItIs();
    void importSaysWhichFileTheFormCameFrom();

private:
    void openEditor(const SimDevice& device);
    void write();
    QString line() const { return m_editor->controls().statusLine->text(); }

    QTemporaryDir m_profileDir;
    QTemporaryDir m_dir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestEditorStatusLine::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
    QVERIFY(m_dir.isValid());
}

void TestEditorStatusLine::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestEditorStatusLine::cleanup()
{
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
    QDir(m_dir.filePath(u"history"_s)).removeRecursively();
}

void TestEditorStatusLine::openEditor(const SimDevice& device)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    AppContext context = m_services->context();
    context.historyFolder = m_dir.filePath(u"history"_s);
    m_editor = std::make_unique<CQorv400Dlg>(context, AdapterBinding{}, m_sim->device(0).record,
                                             CQorv400Dlg::kModeRemote, kDeviceAddress);
    m_editor->show();
    m_editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_editor.get()));
    m_services->messages.clearShown();
}

void TestEditorStatusLine::write()
{
    QTest::mouseClick(m_editor->controls().writeButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 8000);
}

void TestEditorStatusLine::writeSaysToWhichDeviceAndWhenOnTheButtonPressedWhichKeepsTheFocus()
{
    openEditor(TesselSim::makeDevice(0, kDeviceAddress));
    // Opened on what the search window read: the line says so.
    const std::optional<QTime> read = namedTime(line(), u"Read from %1 at %2"_s);
    QVERIFY2(read && isAboutNow(*read), qPrintable(line()));
    m_editor->controls().comment->setText(u"line 3"_s);
    QPushButton* writeButton = m_editor->controls().writeButton;
    writeButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(m_editor.get(), Qt::Key_W, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(m_sim->device(0).record.comment() == "line 3", 8000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 8000);
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    const std::optional<QTime> written = namedTime(line(), u"Written to %1 at %2"_s);
    QVERIFY2(written && isAboutNow(*written), qPrintable(line()));
    // Not a message box: the line is in the editor, and the focus is back on the button pressed.
    QVERIFY(m_editor->controls().statusLine->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), writeButton);
    // A screen reader hears it as a change of the focused button's description (the AT-SPI check hears
    // the change itself go out).
    QCOMPARE(writeButton->accessibleDescription(), line());
    QCOMPARE(QAccessible::queryAccessibleInterface(m_editor->controls().statusLine)->text(QAccessible::Name), line());
    const QString pictures = qEnvironmentVariable("CORMAP_TEST_PICTURES");
    if (!pictures.isEmpty())
        m_editor->grab().save(pictures + u"/editor-written.png"_s);
}

void TestEditorStatusLine::refusedWriteDoesNotSayWritten()
{
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.setPassword("secret");
    openEditor(device);
    const QString before = line();
    m_editor->controls().password->setText(u"wrong12"_s);
    m_editor->controls().comment->setText(u"not to be written"_s);
    write();
    QCOMPARE(m_services->messages.shown().size(), 1); // the refusal's own message
    QCOMPARE(line(), before);
    QVERIFY(m_sim->device(0).record.comment() != "not to be written");
}

void TestEditorStatusLine::passwordChangeAndClearSaySo_data()
{
    QTest::addColumn<bool>("clear");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("changed") << false << u"Password of %1 changed at %2"_s;
    QTest::newRow("cleared") << true << u"Password of %1 cleared at %2"_s;
}

void TestEditorStatusLine::passwordChangeAndClearSaySo()
{
    QFETCH(bool, clear);
    QFETCH(QString, pattern);
    openEditor(TesselSim::makeDevice(0, kDeviceAddress));
    if (clear)
        m_services->messages.setNextAnswer(QMessageBox::Yes); // "clear the password?"
    guitest::DialogScript<CPwdDlg, bool> script(
        {clear}, [](CPwdDlg*) { return QStringList{}; },
        [](CPwdDlg* dialog, const bool& clearIt) {
            dialog->findChild<QLineEdit*>(u"newPasswordEdit"_s)->setText(u"abcd1234"_s);
            dialog->findChild<QLineEdit*>(u"retypeEdit"_s)->setText(u"abcd1234"_s);
            dialog->findChild<QCheckBox*>(u"clearCheck"_s)->setChecked(clearIt);
            QTest::mouseClick(dialog->findChild<QPushButton*>(u"okButton"_s), Qt::LeftButton);
        });
    QPushButton* button = m_editor->controls().passwordButton;
    button->setFocus(Qt::TabFocusReason);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 8000);
    QCOMPARE(IsPasswordSet(m_sim->device(0).record.passwordField()), !clear);
    const std::optional<QTime> at = namedTime(line(), pattern);
    QVERIFY2(at && isAboutNow(*at), qPrintable(line()));
    QTRY_COMPARE(QApplication::focusWidget(), button);
    QCOMPARE(button->accessibleDescription(), line());
}

void TestEditorStatusLine::changedAccountSaysTheFormIsNotWrittenUntilItIs()
{
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.record.setIpv4Type(EnvRecord::kPppoe);
    openEditor(device);
    QVERIFY(m_editor->controls().accountButton->isEnabled());
    const auto fill = [](CPppoeDlg* dialog, const QString& name) {
        dialog->findChild<QLineEdit*>(u"userNameEdit"_s)->setText(name);
        dialog->findChild<QLineEdit*>(u"accountPasswordEdit"_s)->setText(u"pw"_s);
        dialog->findChild<QLineEdit*>(u"retypeEdit"_s)->setText(u"pw"_s);
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"okButton"_s), Qt::LeftButton);
    };
    {
        guitest::DialogScript<CPppoeDlg, QString> script({u"line3@isp"_s}, [](CPppoeDlg*) { return QStringList{}; },
                                                         fill);
        QTest::mouseClick(m_editor->controls().accountButton, Qt::LeftButton);
    }
    QCOMPARE(line(), u"Account changed in the form: not yet written to %1"_s.arg(kMac));
    write();
    QCOMPARE(m_sim->device(0).record.accountId(), std::string("line3@isp"));
    const std::optional<QTime> written = namedTime(line(), u"Written to %1 at %2"_s);
    QVERIFY2(written && isAboutNow(*written), qPrintable(line()));
}

void TestEditorStatusLine::historyLoadSaysTheFormIsNotWrittenUntilItIs()
{
    openEditor(TesselSim::makeDevice(0, kDeviceAddress));
    m_editor->controls().comment->setText(u"first"_s);
    write();
    // Closed without loading: the form is what was written.
    {
        auto close = guitest::whenShown<CHistoryDlg>([](CHistoryDlg* dialog) { dialog->reject(); });
        QTest::mouseClick(m_editor->controls().historyButton, Qt::LeftButton);
    }
    QVERIFY2(line().startsWith(u"Written to "_s), qPrintable(line()));
    {
        auto load = guitest::whenShown<CHistoryDlg>([](CHistoryDlg* dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton*>(u"loadButton"_s), Qt::LeftButton);
        });
        QTest::mouseClick(m_editor->controls().historyButton, Qt::LeftButton);
    }
    QCOMPARE(line(), u"Loaded from the settings history: not yet written to %1"_s.arg(kMac));
    write();
    const std::optional<QTime> written = namedTime(line(), u"Written to %1 at %2"_s);
    QVERIFY2(written && isAboutNow(*written), qPrintable(line()));
}

void TestEditorStatusLine::importSaysWhichFileTheFormCameFrom()
{
    openEditor(TesselSim::makeDevice(0, kDeviceAddress));
    const QString file = m_dir.filePath(u"line 3.kvx"_s);
    m_services->files.setNextFileName(file);
    QTest::mouseClick(m_editor->controls().exportButton, Qt::LeftButton);
    QVERIFY(QFile::exists(file));
    m_services->files.setNextFileName(file);
    QTest::mouseClick(m_editor->controls().importButton, Qt::LeftButton);
    QTRY_COMPARE(line(), u"Loaded from the settings file line 3.kvx: not yet written to %1"_s.arg(kMac));
}

QTEST_MAIN(TestEditorStatusLine)
#include "tst_editorstatusline.moc"
