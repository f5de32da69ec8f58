// The settings editor by keyboard: Tab runs top to bottom and left to right (the Network group, the
// Option group, each port's TCP/IP row, each port's serial row, the comment, then the buttons), every
// button and check box has an access key of its own in each language, and Alt and the key press it.
#include "EditorFixtures.h"
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/editor/EditorControls.h"
#include "protocol/Codec.h"
#include "text/AccessKey.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
using guitest::everythingInUse;
constexpr std::uint16_t kDevicePort = 52431; // nobody answers: nothing is sent by these tests

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

/** The order Tab takes through the editor, by object name. */
QStringList tabOrder()
{
    QStringList order = {u"macEdit"_s,     u"ipv4TypeCombo"_s,     u"ipAddressEdit"_s, u"subnetMaskEdit"_s,
                         u"gatewayEdit"_s, u"multiIpCombo"_s,      u"eapolCombo"_s,    u"passwordEdit"_s,
                         u"arpCheck"_s,    u"remoteSearchCheck"_s, u"telnetCheck"_s,   u"sslCheck"_s};
    for (int port = 1; port <= 4; ++port) {
        for (const char* kind :
             {"ModeCombo", "LocalIpEdit", "LocalPortEdit", "PeerIpEdit", "PeerPortEdit", "TimeoutEdit"})
            order << u"com%1"_s.arg(port) + QString::fromLatin1(kind);
    }
    for (int port = 1; port <= 4; ++port) {
        for (const char* kind :
             {"BaudRateCombo", "ParityCombo", "DataBitsCombo", "StopBitsCombo", "FlowControlCombo", "EventByteEdit"})
            order << u"com%1"_s.arg(port) + QString::fromLatin1(kind);
    }
    order << u"commentEdit"_s << u"readButton"_s << u"writeButton"_s << u"accountButton"_s << u"passwordButton"_s
          << u"statusButton"_s << u"exportButton"_s << u"importButton"_s << u"historyButton"_s << u"testPortButton"_s
          << u"exitButton"_s;
    return order;
}

bool takesTabFocus(const QWidget* w)
{
    return w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus);
}

const std::pair<UiLanguage, const char*> kLanguages[] = {
    {UiLanguage::English, "en"}, {UiLanguage::Korean, "ko"}, {UiLanguage::Chinese, "zh"}};
} // namespace

class TestEditorKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void tabRunsThroughTheFormInReadingOrder();
    void focusChainHoldsDisabledControlsInTheSameOrder();
    void everyButtonAndCheckBoxHasAKeyOfItsOwn_data();
    void everyButtonAndCheckBoxHasAKeyOfItsOwn();
    void accountButtonKeepsItsKeyWhenItsCaptionChanges_data();
    void accountButtonKeepsItsKeyWhenItsCaptionChanges();
    void altAndTheKeyPressTheButton_data();
    void altAndTheKeyPressTheButton();
    void namesEachPortFieldByPortAndColumn_data();
    void namesEachPortFieldByPortAndColumn();

private:
    void openEditor(UiLanguage language = UiLanguage::English, const EnvRecord& record = everythingInUse());

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestEditorKeyboard::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestEditorKeyboard::cleanup()
{
    m_editor.reset();
    m_services.reset();
}

void TestEditorKeyboard::openEditor(UiLanguage language, const EnvRecord& record)
{
    m_editor.reset();
    m_services = std::make_unique<guitest::Services>(language, primary_language::kEnglish, testProfile());
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, record, CQorv400Dlg::kModeRemote,
                                             0x7F000002);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowActive(m_editor.get()));
}

void TestEditorKeyboard::tabRunsThroughTheFormInReadingOrder()
{
    openEditor();
    QStringList expected;
    for (const QString& name : tabOrder()) {
        QWidget* w = m_editor->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        if (takesTabFocus(w))
            expected << name;
    }
    QStringList passedBy = tabOrder();
    for (const QString& name : expected)
        passedBy.removeOne(name);
    // Disabled on this device, so Tab passes them by: with Multi IP on, the IPv4 type, EAPoL and the
    // account button; SSL always.
    QCOMPARE(passedBy.join(u" "_s), u"ipv4TypeCombo eapolCombo sslCheck accountButton"_s);
    m_editor->findChild<QWidget*>(expected.first())->setFocus(Qt::TabFocusReason);
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, expected);
    // After the last button Tab comes round to the first field again.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), expected.first());
}

void TestEditorKeyboard::focusChainHoldsDisabledControlsInTheSameOrder()
{
    // A device without Multi IP, in T2S: most network fields of the ports are disabled, yet each keeps
    // its place, so enabling one later puts it where it is seen.
    openEditor(UiLanguage::English, TesselSim::makeDevice(0, 0x7F000002).record);
    const QStringList order = tabOrder();
    QWidget* first = m_editor->findChild<QWidget*>(order.first());
    QStringList chain;
    QWidget* w = first;
    do {
        if (order.contains(w->objectName()) && w->window() == m_editor.get())
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first && chain.size() <= order.size());
    QCOMPARE(chain, order);
}

void TestEditorKeyboard::everyButtonAndCheckBoxHasAKeyOfItsOwn_data()
{
    QTest::addColumn<int>("language");
    for (const auto& [language, suffix] : kLanguages)
        QTest::newRow(suffix) << int(language);
}

void TestEditorKeyboard::everyButtonAndCheckBoxHasAKeyOfItsOwn()
{
    QFETCH(int, language);
    openEditor(UiLanguage(language));
    QHash<QChar, QString> owners;
    for (QAbstractButton* b : m_editor->findChildren<QAbstractButton*>()) {
        if (b->window() != m_editor.get())
            continue;
        const QChar key = access_key::of(b->text());
        QVERIFY2(!key.isNull(), qPrintable(b->objectName() + u": "_s + b->text()));
        QVERIFY2(!owners.contains(key),
                 qPrintable(u"Alt+%1: %2 and %3"_s.arg(key).arg(owners.value(key), b->objectName())));
        owners.insert(key, b->objectName());
    }
    QCOMPARE(owners.size(), 14); // ten buttons, four check boxes
}

void TestEditorKeyboard::accountButtonKeepsItsKeyWhenItsCaptionChanges_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("pppoe");
    QTest::addColumn<QString>("eapol");
    QTest::newRow("en") << int(UiLanguage::English) << u"PPPoE &ID"_s << u"EAPoL &ID"_s;
    QTest::newRow("ko") << int(UiLanguage::Korean) << u"PPPoE &ID"_s << u"EAPoL &ID"_s;
}

void TestEditorKeyboard::accountButtonKeepsItsKeyWhenItsCaptionChanges()
{
    QFETCH(int, language);
    QFETCH(QString, pppoe);
    QFETCH(QString, eapol);
    EnvRecord record = everythingInUse();
    record.setMultiIp(false);
    openEditor(UiLanguage(language), record);
    const EditorControls& c = m_editor->controls();
    QCOMPARE(c.accountButton->text(), pppoe);
    c.eapol->setCurrentIndex(1); // MD5
    QCOMPARE(c.accountButton->text(), eapol);
    c.eapol->setCurrentIndex(0);
    QCOMPARE(c.accountButton->text(), pppoe);
}

void TestEditorKeyboard::altAndTheKeyPressTheButton_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("telnet");
    QTest::addColumn<QString>("exit");
    QTest::newRow("en") << int(UiLanguage::English) << u"Tel&net"_s << u"E&xit"_s;
    QTest::newRow("ko") << int(UiLanguage::Korean) << u"Tel&net"_s << u"종료(&X)"_s;
    QTest::newRow("zh") << int(UiLanguage::Chinese) << u"Tel&net"_s << u"退出(&X)"_s;
}

void TestEditorKeyboard::altAndTheKeyPressTheButton()
{
    QFETCH(int, language);
    QFETCH(QString, telnet);
    QFETCH(QString, exit);
    openEditor(UiLanguage(language));
    const EditorControls& c = m_editor->controls();
    QCOMPARE(c.telnet->text(), telnet);
    QCOMPARE(c.exitButton->text(), exit);
    const bool was = c.telnet->isChecked();
    QTest::keyClick(m_editor.get(), Qt::Key_N, Qt::AltModifier);
    QTRY_COMPARE(c.telnet->isChecked(), !was);
    // Alt+X asks the exit question; the answer No leaves the editor open.
    m_services->messages.setNextAnswer(QMessageBox::No);
    QTest::keyClick(m_editor.get(), Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, m_services->strings.text(186));
    QVERIFY(m_editor->isVisible());
}

void TestEditorKeyboard::namesEachPortFieldByPortAndColumn_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("name");
    QTest::newRow("en COM2 local port") << int(UiLanguage::English) << u"com2LocalPortEdit"_s << u"COM2 Local Port"_s;
    QTest::newRow("en COM3 baudrate") << int(UiLanguage::English) << u"com3BaudRateCombo"_s << u"COM3 Baudrate"_s;
    QTest::newRow("en COM1 mode") << int(UiLanguage::English) << u"com1ModeCombo"_s << u"COM1 Communication Mode"_s;
    QTest::newRow("en COM4 event byte") << int(UiLanguage::English) << u"com4EventByteEdit"_s << u"COM4 Event Byte"_s;
    QTest::newRow("en COM1 local ip") << int(UiLanguage::English) << u"com1LocalIpEdit"_s << u"COM1 Local IP Address"_s;
    QTest::newRow("en network ip") << int(UiLanguage::English) << u"ipAddressEdit"_s << u"Local IP Address"_s;
    QTest::newRow("en ipv4 type") << int(UiLanguage::English) << u"ipv4TypeCombo"_s << u"IPv4 type"_s;
    QTest::newRow("en comment") << int(UiLanguage::English) << u"commentEdit"_s << u"Comment"_s;
    QTest::newRow("ko COM2 peer port") << int(UiLanguage::Korean) << u"com2PeerPortEdit"_s << u"COM2 상대 포트"_s;
    QTest::newRow("ko COM3 parity") << int(UiLanguage::Korean) << u"com3ParityCombo"_s << u"COM3 패리티"_s;
    QTest::newRow("zh COM4 stop bit") << int(UiLanguage::Chinese) << u"com4StopBitsCombo"_s << u"COM4 停止位"_s;
    QTest::newRow("zh COM1 timeout") << int(UiLanguage::Chinese) << u"com1TimeoutEdit"_s << u"COM1 超时"_s;
}

void TestEditorKeyboard::namesEachPortFieldByPortAndColumn()
{
    QFETCH(int, language);
    QFETCH(QString, field);
    QFETCH(QString, name);
    openEditor(UiLanguage(language));
    QWidget* control = m_editor->findChild<QWidget*>(field);
    QVERIFY(control);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    QCOMPARE(iface->text(QAccessible::Name), name);
    // A list's entry is its value, not its name.
    if (auto* list = qobject_cast<QComboBox*>(control))
        QCOMPARE(iface->text(QAccessible::Value), list->currentText());
}

QTEST_MAIN(TestEditorKeyboard)
#include "tst_editorkeyboard.moc"
