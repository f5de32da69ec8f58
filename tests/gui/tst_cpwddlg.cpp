// The password change: the dialog, its checks, and the request the settings editor sends, driven
// offscreen against simulated devices on the loopback profile (device port 52406, this program's own).
#include "DialogScript.h"
#include "GuiTestSupport.h"

#include "DeviceLogic.h"
#include "SimExchange.h"
#include "TesselSim.h"
#include "gui/editor/CPwdDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/CMsgDlg.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52406;
constexpr std::uint32_t kDeviceAddress = 0x7F000002;
const QString kMismatch = u"Please check your password.[password mismatch]"_s;
const QString kEmpty = u"The password is empty."_s;
const QString kTooShort = u"The password is too short.[4 ~ 8 characters]"_s;

/** What the user does at one showing of the password dialog; `current`, when set, is typed over the
 *  current password the dialog shows. */
struct Showing
{
    QString newPassword;
    QString retype;
    bool clear = false;
    bool ok = true;
    std::optional<QString> current = std::nullopt;
};

QLineEdit* edit(CPwdDlg* dialog, const char* name)
{
    return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
}

/** Plays one Showing per appearance of the password dialog, and records what each showing held when it
 *  appeared (current, new, retype). */
class PasswordScript final : public guitest::DialogScript<CPwdDlg, Showing>
{
public:
    explicit PasswordScript(QList<Showing> steps) : DialogScript(std::move(steps), &held, &play) {}

private:
    static QStringList held(CPwdDlg* dialog)
    {
        return {edit(dialog, "currentPasswordEdit")->text(), edit(dialog, "newPasswordEdit")->text(),
                edit(dialog, "retypeEdit")->text()};
    }
    static void play(CPwdDlg* dialog, const Showing& step)
    {
        if (step.current) {
            edit(dialog, "currentPasswordEdit")->clear();
            QTest::keyClicks(edit(dialog, "currentPasswordEdit"), *step.current);
        }
        edit(dialog, "newPasswordEdit")->setText(step.newPassword);
        edit(dialog, "retypeEdit")->setText(step.retype);
        dialog->findChild<QCheckBox*>(u"clearCheck"_s)->setChecked(step.clear);
        QTest::mouseClick(dialog->findChild<QPushButton*>(step.ok ? u"okButton"_s : u"cancelButton"_s), Qt::LeftButton);
    }
};

NetworkProfile testProfile()
{
    return simtest::loopbackProfile(kDevicePort);
}

QByteArray hex(const std::uint8_t* bytes, int n)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), n).toHex();
}
} // namespace

class TestCPwdDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void boxesRefuseANinthCharacterAndClearDisablesTheNewPassword();
    void refusedEntriesAreShownAgainWithWhatWasTyped_data();
    void refusedEntriesAreShownAgainWithWhatWasTyped();
    void acceptedPasswordReachesTheDeviceHashed_data();
    void acceptedPasswordReachesTheDeviceHashed();
    void clearIgnoresTheNewPasswordAndSendsZeros_data();
    void clearIgnoresTheNewPasswordAndSendsZeros();
    void clearQuestionAnsweredNoShowsTheDialogAgain();
    void deviceRefusalLeavesNoConfirmedPassword();
    void currentPasswordTypedInTheDialogIsTheOneSent();
    void showingBeyondTheScriptIsCancelledAtOnceAndSaysSo();

private:
    void start(const QByteArray& devicePassword);
    /** Clicks "Set Password" and waits for the end of the flow (and of a request it sends). */
    void changePassword();
    /** The last request the editor sent, descrambled. */
    frame::Frame sentRequest();

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestCPwdDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCPwdDlg::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestCPwdDlg::cleanup()
{
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
}

void TestCPwdDlg::start(const QByteArray& devicePassword)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.setPassword(devicePassword);
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, device.record,
                                             CQorv400Dlg::kModeLocal, 0);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    m_services->messages.clearShown();
}

void TestCPwdDlg::changePassword()
{
    QTest::mouseClick(m_editor->findChild<QPushButton*>(u"passwordButton"_s), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
}

frame::Frame TestCPwdDlg::sentRequest()
{
    const frame::Frame& sent = m_editor->endpoint().requestFrame();
    const std::optional<frame::Frame> plain =
        sim::acceptDatagram(QByteArrayView(reinterpret_cast<const char*>(sent.data()), frame::kFrameSize));
    if (!plain)
        qFatal("the editor sent no valid request");
    return *plain;
}

void TestCPwdDlg::boxesRefuseANinthCharacterAndClearDisablesTheNewPassword()
{
    CPwdDlg dialog(m_services->strings);
    QCOMPARE(dialog.windowTitle(), u"Set Password"_s);
    for (const char* name : {"currentPasswordEdit", "newPasswordEdit", "retypeEdit"}) {
        auto* edit = dialog.findChild<QLineEdit*>(QString::fromLatin1(name));
        QTest::keyClicks(edit, u"123456789"_s);
        QCOMPARE(edit->text(), u"12345678"_s);
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
    }
    auto* clear = dialog.findChild<QCheckBox*>(u"clearCheck"_s);
    QCOMPARE(clear->text(), u"C&lear"_s);
    clear->setChecked(true);
    QVERIFY(!dialog.findChild<QLineEdit*>(u"newPasswordEdit"_s)->isEnabled());
    QVERIFY(!dialog.findChild<QLineEdit*>(u"retypeEdit"_s)->isEnabled());
    clear->setChecked(false);
    QVERIFY(dialog.findChild<QLineEdit*>(u"newPasswordEdit"_s)->isEnabled());
}

void TestCPwdDlg::refusedEntriesAreShownAgainWithWhatWasTyped_data()
{
    QTest::addColumn<QString>("newPassword");
    QTest::addColumn<QString>("retype");
    QTest::addColumn<QString>("message");
    QTest::newRow("three characters, retype differs") << u"abc"_s << u"abd"_s << kMismatch;
    QTest::newRow("retype differs in case only") << u"Secret1"_s << u"secret1"_s << kMismatch;
    QTest::newRow("both empty") << QString() << QString() << kEmpty;
    QTest::newRow("one character") << u"a"_s << u"a"_s << kTooShort;
    QTest::newRow("three characters") << u"abc"_s << u"abc"_s << kTooShort;
}

void TestCPwdDlg::refusedEntriesAreShownAgainWithWhatWasTyped()
{
    QFETCH(QString, newPassword);
    QFETCH(QString, retype);
    QFETCH(QString, message);
    start("secret");
    m_editor->controls().password->setText(u"secret"_s);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    PasswordScript script({{newPassword, retype}, {newPassword, retype, false, false}});
    changePassword();
    QCOMPARE(script.seen.size(), 2);
    QCOMPARE(script.seen.at(0), (QStringList{u"secret"_s, QString(), QString()}));
    QCOMPARE(script.seen.at(1), (QStringList{u"secret"_s, newPassword, retype}));
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QVERIFY(!m_editor->endpoint().isOpen());
    QCOMPARE(handled.count(), 0);
    QCOMPARE(m_editor->controls().password->text(), u"secret"_s);
}

void TestCPwdDlg::acceptedPasswordReachesTheDeviceHashed_data()
{
    QTest::addColumn<QString>("newPassword");
    QTest::newRow("four characters") << u"abcd"_s;
    QTest::newRow("eight characters") << u"abcdefgh"_s;
}

void TestCPwdDlg::acceptedPasswordReachesTheDeviceHashed()
{
    QFETCH(QString, newPassword);
    start("secret");
    m_editor->controls().password->setText(u"secret"_s);
    PasswordScript script({{newPassword, newPassword}});
    QTest::mouseClick(m_editor->findChild<QPushButton*>(u"passwordButton"_s), Qt::LeftButton);
    QTRY_VERIFY(m_editor->requestInFlight());
    QCOMPARE(m_editor->messageWindow().text(),
             u"Changing the password of the Tessel…\r\nMAC address 02:7e:55:00:00:01"_s);
    QCOMPARE(m_editor->requestTimer().interval(), 200);
    const frame::Frame sent = sentRequest();
    QCOMPARE(int(sent[frame::kOffCommand]), int(frame::kChangePassword));
    QCOMPARE(hex(sent.data() + frame::kOffBody + 76, 12),
             hex(simtest::hashedPassword("secret").data(), 8) + "00000000");
    QCOMPARE(hex(sent.data() + frame::kOffBody + 512, 8),
             hex(simtest::hashedPassword(newPassword.toLatin1()).data(), 8));
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(m_sim->device(0).passwordHash(), simtest::hashedPassword(newPassword.toLatin1()));
    QCOMPARE(m_editor->controls().password->text(), newPassword);
    QCOMPARE(m_editor->confirmedPassword(), newPassword);
}

void TestCPwdDlg::clearIgnoresTheNewPasswordAndSendsZeros_data()
{
    QTest::addColumn<QByteArray>("devicePassword");
    QTest::newRow("with the current password") << QByteArray("secret");
    QTest::newRow("device without a password") << QByteArray();
}

void TestCPwdDlg::clearIgnoresTheNewPasswordAndSendsZeros()
{
    QFETCH(QByteArray, devicePassword);
    start(devicePassword);
    m_editor->controls().password->setText(QString::fromLatin1(devicePassword));
    m_services->messages.setNextAnswer(QMessageBox::Yes);
    PasswordScript script({{u"x1"_s, u"y2"_s, true}});
    changePassword();
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.shown().first().text, u"Are you sure to delete the password? "_s);
    QCOMPARE(m_services->messages.shown().first().icon, QMessageBox::Question);
    const frame::Frame sent = sentRequest();
    const QByteArray oldField = devicePassword.isEmpty()
                                    ? QByteArray(24, '0')
                                    : hex(simtest::hashedPassword(devicePassword).data(), 8) + "00000000";
    QCOMPARE(hex(sent.data() + frame::kOffBody + 76, 12), oldField);
    QCOMPARE(hex(sent.data() + frame::kOffBody + 512, 8), QByteArray(16, '0'));
    QCOMPARE(m_sim->device(0).passwordHash(), (std::array<std::uint8_t, 8>{}));
    QVERIFY(m_editor->controls().password->text().isEmpty());
}

void TestCPwdDlg::clearQuestionAnsweredNoShowsTheDialogAgain()
{
    start("secret");
    m_services->messages.setNextAnswer(QMessageBox::No);
    PasswordScript script({{u"x1"_s, u"y2"_s, true}, {u"x1"_s, u"y2"_s, true, false}});
    changePassword();
    QCOMPARE(script.seen.size(), 2);
    QCOMPARE(m_sim->device(0).passwordHash(), simtest::hashedPassword("secret"));
}

void TestCPwdDlg::deviceRefusalLeavesNoConfirmedPassword()
{
    start("secret");
    m_editor->controls().password->setText(u"wrong"_s);
    PasswordScript script({{u"newpass1"_s, u"newpass1"_s}});
    changePassword();
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, u"Writing has failed. [password mismatch]"_s);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QVERIFY(m_editor->confirmedPassword().isEmpty());
    // The form keeps what the user left in it, the Password box included (not the new password, which
    // the device did not take); only a refused write empties the box.
    QCOMPARE(m_editor->controls().password->text(), u"wrong"_s);
    QCOMPARE(m_sim->device(0).passwordHash(), simtest::hashedPassword("secret"));
}

void TestCPwdDlg::currentPasswordTypedInTheDialogIsTheOneSent()
{
    // The editor's Password box is left empty; the user types the current password in the dialog.
    start("secret");
    QVERIFY(m_editor->controls().password->isEnabled());
    QVERIFY(m_editor->controls().password->text().isEmpty());
    PasswordScript script({{u"newpass1"_s, u"newpass1"_s, false, true, u"secret"_s}});
    changePassword();
    QCOMPARE(script.seen, (QList<QStringList>{{QString(), QString(), QString()}}));
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    const frame::Frame sent = sentRequest();
    QCOMPARE(hex(sent.data() + frame::kOffBody + 76, 12),
             hex(simtest::hashedPassword("secret").data(), 8) + "00000000");
    QCOMPARE(hex(sent.data() + frame::kOffBody + 512, 8), hex(simtest::hashedPassword("newpass1").data(), 8));
    QCOMPARE(m_sim->device(0).passwordHash(), simtest::hashedPassword("newpass1"));
    QCOMPARE(m_editor->controls().password->text(), u"newpass1"_s);
    QCOMPARE(m_editor->confirmedPassword(), u"newpass1"_s);
}

void TestCPwdDlg::showingBeyondTheScriptIsCancelledAtOnceAndSaysSo()
{
    // A refused entry shows the dialog again, one showing more than this script has: the script says so
    // and cancels it, so the flow ends at once instead of waiting for the test's time limit.
    start("secret");
    m_editor->controls().password->setText(u"secret"_s);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    PasswordScript script({{u"abc"_s, u"abd"_s}});
    QStringList unexpected;
    script.onUnexpected([&unexpected](const QString& message) { unexpected << message; });
    QElapsedTimer clock;
    clock.start();
    changePassword();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(script.extraShowings(), 1);
    QCOMPARE(unexpected,
             QStringList{u"CPwdDlg was shown 2 times, the script has 1 step(s); it held secret, abc, abd at the extra "
                         u"showing, which was cancelled"_s});
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, kMismatch);
    QCOMPARE(handled.count(), 0);
    QCOMPARE(m_sim->device(0).passwordHash(), simtest::hashedPassword("secret"));
}

QTEST_MAIN(TestCPwdDlg)
#include "tst_cpwddlg.moc"
