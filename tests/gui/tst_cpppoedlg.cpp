// The account dialog and the account fields of the record, through the settings editor, offscreen
// against a simulated device on the loopback profile (device port 52407, this program's own).
#include "DialogScript.h"
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "gui/editor/CPppoeDlg.h"
#include "gui/editor/CQorv400Dlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52407;
constexpr std::uint32_t kDeviceAddress = 0x7F000002;

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

/** What the user types at one showing of the account dialog; ok false presses Cancel. */
struct Entry
{
    QString id;
    QString password;
    QString retype;
    bool ok = true;
};

QLineEdit* edit(CPppoeDlg* dialog, const char* name)
{
    return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
}

/** Plays one Entry per showing of the account dialog and notes what each showing held (ID, password,
 *  retype) when it appeared. */
class AccountScript final : public guitest::DialogScript<CPppoeDlg, Entry>
{
public:
    explicit AccountScript(QList<Entry> entries) : DialogScript(std::move(entries), &held, &play) {}

private:
    static QStringList held(CPppoeDlg* dialog)
    {
        return {edit(dialog, "userNameEdit")->text(), edit(dialog, "accountPasswordEdit")->text(),
                edit(dialog, "retypeEdit")->text()};
    }
    static void play(CPppoeDlg* dialog, const Entry& entry)
    {
        edit(dialog, "userNameEdit")->setText(entry.id);
        edit(dialog, "accountPasswordEdit")->setText(entry.password);
        edit(dialog, "retypeEdit")->setText(entry.retype);
        QTest::mouseClick(dialog->findChild<QPushButton*>(entry.ok ? u"okButton"_s : u"cancelButton"_s),
                          Qt::LeftButton);
    }
};
} // namespace

class TestCPppoeDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fieldsHaveTheirLimits();
    void afterAReadThePasswordIsThereAndRetypeIsEmpty();
    void fullWidthIdRoundTripsWithoutThePasswordBytes();
    void caseOnlyMismatchIsRefusedAndCancelKeepsTheEarlierValues();
    void emptyPasswordAndRetypeAreAcceptedAsTwelveZeroBytes();
    void textsARecordCannotHoldAreRefusedNamingTheField_data();
    void textsARecordCannotHoldAreRefusedNamingTheField();

private:
    void start(const EnvRecord& record);
    void write();
    void read();

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestCPppoeDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCPppoeDlg::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestCPppoeDlg::cleanup()
{
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
}

void TestCPppoeDlg::start(const EnvRecord& record)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.record = record;
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, record, CQorv400Dlg::kModeRemote,
                                             kDeviceAddress);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    // PPPoE enables the account button.
    m_editor->controls().ipv4Type->setCurrentIndex(EnvRecord::kPppoe);
    QVERIFY(m_editor->controls().accountButton->isEnabled());
    m_services->messages.clearShown();
}

void TestCPppoeDlg::write()
{
    QTest::mouseClick(m_editor->controls().writeButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
}

void TestCPppoeDlg::read()
{
    QTest::mouseClick(m_editor->controls().readButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
}

void TestCPppoeDlg::fieldsHaveTheirLimits()
{
    CPppoeDlg dialog(m_services->strings, m_services->messages);
    QCOMPARE(dialog.windowTitle(), u"Account"_s);
    const std::pair<const char*, int> limits[] = {{"userNameEdit", 32}, {"accountPasswordEdit", 8}, {"retypeEdit", 8}};
    for (const auto& [name, limit] : limits) {
        auto* edit = dialog.findChild<QLineEdit*>(QString::fromLatin1(name));
        QTest::keyClicks(edit, QString(40, u'x'));
        QCOMPARE(edit->text().size(), limit);
    }
    QCOMPARE(dialog.findChild<QLineEdit*>(u"userNameEdit"_s)->echoMode(), QLineEdit::Normal);
    QCOMPARE(dialog.findChild<QLineEdit*>(u"accountPasswordEdit"_s)->echoMode(), QLineEdit::Password);
}

void TestCPppoeDlg::afterAReadThePasswordIsThereAndRetypeIsEmpty()
{
    EnvRecord record = TesselSim::makeDevice(0, kDeviceAddress).record;
    record.setAccountId("dsl-user");
    record.setAccountPassword("dslpw");
    start(record);
    m_editor->accountDialog().setAccount(u"typed"_s, u"typed"_s);
    read();
    m_editor->controls().ipv4Type->setCurrentIndex(EnvRecord::kPppoe); // the reload showed the device's type
    AccountScript script({{u"dsl-user"_s, u"dslpw"_s, QString(), false}});
    QTest::mouseClick(m_editor->controls().accountButton, Qt::LeftButton);
    QTRY_COMPARE(script.seen.size(), 1);
    QCOMPARE(script.seen.first(), (QStringList{u"dsl-user"_s, u"dslpw"_s, QString()}));
}

void TestCPppoeDlg::fullWidthIdRoundTripsWithoutThePasswordBytes()
{
    start(TesselSim::makeDevice(0, kDeviceAddress).record);
    const QString id = u"abcdefghijklmnopqrstuvwxyz012345"_s; // 32 characters
    AccountScript script({{id, u"pw12"_s, u"pw12"_s}});
    QTest::mouseClick(m_editor->controls().accountButton, Qt::LeftButton);
    QTRY_COMPARE(script.seen.size(), 1);
    write();
    const auto& raw = m_sim->device(0).record.raw();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(raw.data() + 32), 32), id.toLatin1());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(raw.data() + 64), 12).toHex(),
             QByteArray("707731320000000000000000"));
    m_editor->accountDialog().setAccount(QString(), QString());
    read();
    QCOMPARE(m_editor->accountDialog().userName(), id);
    QCOMPARE(m_editor->accountDialog().password(), u"pw12"_s);
}

void TestCPppoeDlg::caseOnlyMismatchIsRefusedAndCancelKeepsTheEarlierValues()
{
    EnvRecord record = TesselSim::makeDevice(0, kDeviceAddress).record;
    record.setAccountId("before");
    record.setAccountPassword("old1");
    start(record);
    AccountScript script({{u"after"_s, u"Secret"_s, u"secret"_s}, {u"after"_s, u"Secret"_s, u"secret"_s, false}});
    QTest::mouseClick(m_editor->controls().accountButton, Qt::LeftButton);
    QTRY_COMPARE(script.seen.size(), 2);
    QCOMPARE(script.seen.at(1), (QStringList{u"after"_s, u"Secret"_s, u"secret"_s}));
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, u"Please check your password.[password mismatch]"_s);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    // The refused values never reach the device.
    QCOMPARE(m_editor->accountDialog().userName(), u"before"_s);
    QCOMPARE(m_editor->accountDialog().password(), u"old1"_s);
    m_services->messages.clearShown();
    write();
    QCOMPARE(m_sim->device(0).record.accountId(), std::string("before"));
}

void TestCPppoeDlg::emptyPasswordAndRetypeAreAcceptedAsTwelveZeroBytes()
{
    EnvRecord record = TesselSim::makeDevice(0, kDeviceAddress).record;
    record.setAccountPassword("old1");
    start(record);
    AccountScript script({{u"user"_s, QString(), QString()}});
    QTest::mouseClick(m_editor->controls().accountButton, Qt::LeftButton);
    QTRY_COMPARE(script.seen.size(), 1);
    QVERIFY(m_services->messages.shown().isEmpty());
    write();
    const auto& raw = m_sim->device(0).record.raw();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(raw.data() + 64), 12), QByteArray(12, '\0'));
    QCOMPARE(m_sim->device(0).record.accountId(), std::string("user"));
}

void TestCPppoeDlg::textsARecordCannotHoldAreRefusedNamingTheField_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focused");
    const QString latin1Only = u"\r\nA Tessel keeps Western European (Latin-1) characters only."_s;
    QTest::newRow("Korean ID") << u"사용자 1"_s << u"pw12"_s
                               << u"ID cannot hold these characters: 사용자"_s + latin1Only << u"userNameEdit"_s;
    QTest::newRow("Chinese password") << u"user"_s << u"密码12"_s
                                      << u"Password cannot hold these characters: 密码"_s + latin1Only
                                      << u"accountPasswordEdit"_s;
}

void TestCPppoeDlg::textsARecordCannotHoldAreRefusedNamingTheField()
{
    QFETCH(QString, id);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QString, focused);
    EnvRecord record = TesselSim::makeDevice(0, kDeviceAddress).record;
    record.setAccountId("before");
    start(record);
    // Refused, shown again with the text as typed and the focus on the field; then corrected and taken.
    QString focusAtSecondShowing;
    QTimer watch;
    connect(&watch, &QTimer::timeout, &watch, [&] {
        if (auto* dialog = qobject_cast<CPppoeDlg*>(QApplication::activeModalWidget());
            dialog && focusAtSecondShowing.isEmpty() && !m_services->messages.shown().isEmpty() &&
            dialog->focusWidget())
            focusAtSecondShowing = dialog->focusWidget()->objectName();
    });
    watch.start(1);
    AccountScript script({{id, password, password}, {u"after"_s, u"pw12"_s, u"pw12"_s}});
    QTest::mouseClick(m_editor->controls().accountButton, Qt::LeftButton);
    QTRY_COMPARE(script.seen.size(), 2);
    QCOMPARE(script.seen.at(1), (QStringList{id, password, password}));
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Warning);
    QCOMPARE(focusAtSecondShowing, focused);
    QCOMPARE(m_editor->accountDialog().userName(), u"after"_s);
    m_services->messages.clearShown();
    write();
    QCOMPARE(m_sim->device(0).record.accountId(), std::string("after"));
}

QTEST_MAIN(TestCPppoeDlg)
#include "tst_cpppoedlg.moc"
