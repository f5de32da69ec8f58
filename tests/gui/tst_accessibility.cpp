// Every window of the program as a screen reader and a keyboard user meet it, in English, Korean and
// Chinese: each control that takes input or shows a value has a name of its own (not empty, not a
// group's title, not its own value, not shared with another control of the window), and every button,
// check box and menu entry has an access key that no other one of its window shares. Offscreen, read
// through Qt's accessibility interface, which is what AT-SPI serves to screen readers.
#include "EditorFixtures.h"
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "app/CAgreementDlg.h"
#include "app/CBindDlg.h"
#include "app/CQorvDlg.h"
#include "gui/editor/CHistoryDlg.h"
#include "gui/editor/CPppoeDlg.h"
#include "gui/editor/CPwdDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/firmware/CChangeFWDlg.h"
#include "gui/AccessibleList.h"
#include "gui/Accessibility.h"
#include "gui/CMsgDlg.h"
#include "gui/TimeGraph.h"
#include "gui/status/CStatDlg.h"
#include "text/AccessKey.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
using guitest::everythingInUse;
using Opener = std::function<std::unique_ptr<QWidget>(guitest::Services&)>;

/** The windows of the program, each made as its owner makes it. */
const std::map<QString, Opener>& windows()
{
    static AdapterBinding binding;
    static const std::map<QString, Opener> all = {
        {u"search window"_s, [](guitest::Services& s) { return std::make_unique<CQorvDlg>(s.context(), binding); }},
        {u"progress window"_s,
         [](guitest::Services& s) {
             return std::make_unique<CMsgDlg>(nullptr, s.strings.text(StringTable::kProgramTitle));
         }},
        {u"binding dialog"_s,
         [](guitest::Services& s) { return std::make_unique<CBindDlg>(s.context(), u"eth0"_s, 0xC0A8000A); }},
        {u"disclaimer"_s, [](guitest::Services& s) { return std::make_unique<CAgreementDlg>(s.context()); }},
        {u"password dialog"_s, [](guitest::Services& s) { return std::make_unique<CPwdDlg>(s.strings); }},
        {u"account dialog"_s, [](guitest::Services& s) { return std::make_unique<CPppoeDlg>(s.strings, s.messages); }},
        {u"firmware dialog"_s, [](guitest::Services& s) { return std::make_unique<CChangeFWDlg>(s.context()); }},
        {u"status dialog"_s, [](guitest::Services& s) { return std::make_unique<CStatDlg>(s.context()); }},
        {u"history window"_s,
         [](guitest::Services& s) {
             // One write kept, so that the list has an entry and Load into the form is enabled.
             static QTemporaryDir folder;
             settings_history::Store store(folder.path());
             settings_history::Entry entry;
             entry.time = QDateTime::currentDateTimeUtc();
             entry.program = u"cormapmp"_s;
             entry.verb = u"editor write"_s;
             entry.before = everythingInUse();
             entry.after = entry.before;
             entry.after.setComment("after");
             if (store.entries(entry.mac()).isEmpty())
                 store.keep(entry);
             return std::make_unique<CHistoryDlg>(s.strings, store, entry.mac());
         }},
        {u"settings editor"_s,
         [](guitest::Services& s) {
             return std::make_unique<CQorv400Dlg>(s.context(), binding, everythingInUse(), CQorv400Dlg::kModeRemote,
                                                  0x7F000002);
         }},
    };
    return all;
}

bool takesInputOrShowsValue(const QWidget* w)
{
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
           qobject_cast<const QProgressBar*>(w) || qobject_cast<const QAbstractSlider*>(w) ||
           qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w) ||
           qobject_cast<const TimeGraph*>(w);
}

/** Where Tab stops: of a group of radio buttons only the one chosen (the arrow keys move between them). */
bool tabStop(QWidget* w)
{
    auto* radio = qobject_cast<QRadioButton*>(w);
    if (radio && radio->autoExclusive() && !radio->isChecked())
        return false;
    return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) != 0;
}

/** Whatever Tab can reach, buttons and any control of a kind the list above does not know. */
bool takesFocusOrShowsValue(const QWidget* w)
{
    return takesInputOrShowsValue(w) || (w->focusPolicy() & Qt::TabFocus);
}

/** The widgets of `window` itself: not those of other windows it owns, not the parts of a control. */
template <typename Keep> void collect(QWidget* parent, const Keep& keep, QList<QWidget*>& out)
{
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow())
            continue;
        if (keep(w))
            out << w;
        if (!takesInputOrShowsValue(w))
            collect(w, keep, out);
    }
}

QString accessible(QWidget* w, QAccessible::Text what)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(what) : QString();
}

QString describe(const QWidget* w)
{
    return QStringLiteral("%1 (%2)").arg(w->objectName(), QString::fromLatin1(w->metaObject()->className()));
}

/** What is wrong with the names of `window`'s controls; empty when nothing is. */
QStringList nameProblems(QWidget* window)
{
    QList<QWidget*> controls;
    collect(window, takesFocusOrShowsValue, controls);
    QStringList problems;
    QMultiHash<QString, QWidget*> byName;
    for (QWidget* w : controls) {
        const QString name = accessible(w, QAccessible::Name);
        if (name.trimmed().isEmpty()) {
            problems << describe(w) + u" has no name"_s;
            continue;
        }
        for (QWidget* up = w->parentWidget(); up && up != window; up = up->parentWidget()) {
            if (auto* group = qobject_cast<QGroupBox*>(up); group && group->title() == name)
                problems << describe(w) + u" is named only by its group: "_s + name;
        }
        if (auto* list = qobject_cast<QComboBox*>(w)) {
            if (!list->currentText().isEmpty() && name == list->currentText())
                problems << describe(w) + u" is named by its value: "_s + name;
            if (accessible(w, QAccessible::Value) != list->currentText())
                problems << describe(w) + u" does not give its entry as its value"_s;
        }
        // No two controls of a window share a name, a button and a field neither: "Firmware" twice is
        // one thing too many to tell apart by ear.
        byName.insert(name, w);
    }
    for (const QString& name : byName.uniqueKeys()) {
        if (byName.count(name) > 1) {
            QStringList holders;
            for (QWidget* w : byName.values(name))
                holders << describe(w);
            problems << u"\""_s + name + u"\" names "_s + holders.join(u", "_s);
        }
    }
    return problems;
}

/** What is wrong with the access keys of `captions` (one window or one menu); empty when nothing is. */
QStringList keyProblems(const QList<std::pair<QString, QString>>& captions)
{
    QStringList problems;
    QMultiHash<QChar, QString> byKey;
    for (const auto& [what, caption] : captions) {
        const QChar key = access_key::of(caption);
        if (key.isNull())
            problems << what + u" \""_s + caption + u"\" has no access key"_s;
        else
            byKey.insert(key, what);
    }
    for (const QChar key : byKey.uniqueKeys()) {
        if (byKey.count(key) > 1)
            problems << u"Alt+"_s + key + u" is the key of "_s + QStringList(byKey.values(key)).join(u", "_s);
    }
    return problems;
}

QList<std::pair<QString, QString>> buttonCaptions(QWidget* window)
{
    QList<QWidget*> buttons;
    collect(
        window, [](QWidget* w) { return qobject_cast<QAbstractButton*>(w) != nullptr; }, buttons);
    QList<std::pair<QString, QString>> captions;
    for (QWidget* w : buttons) {
        auto* button = static_cast<QAbstractButton*>(w);
        if (!button->text().isEmpty()) // the menu button shows an icon; Tab and Space reach it
            captions.append({describe(button), button->text()});
    }
    // A label that hands the focus to its field by a key of its own shares the window's keys.
    QList<QWidget*> labels;
    collect(
        window, [](QWidget* w) { return qobject_cast<QLabel*>(w) != nullptr; }, labels);
    for (QWidget* w : labels) {
        auto* label = static_cast<QLabel*>(w);
        if (label->buddy() && !access_key::of(label->text()).isNull())
            captions.append({describe(label), label->text()});
    }
    return captions;
}

const std::pair<UiLanguage, const char*> kLanguages[] = {
    {UiLanguage::English, "en"}, {UiLanguage::Korean, "ko"}, {UiLanguage::Chinese, "zh"}};

std::uint8_t systemLanguage(UiLanguage language)
{
    return language == UiLanguage::Korean    ? primary_language::kKorean
           : language == UiLanguage::Chinese ? primary_language::kChinese
                                             : primary_language::kEnglish;
}
} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void everyWindow_data();
    void namesEveryControlThatTakesInputOrShowsAValue();
    void namesEveryControlThatTakesInputOrShowsAValue_data() { everyWindow_data(); }
    void givesEveryButtonAnAccessKeyOfItsOwn();
    void givesEveryButtonAnAccessKeyOfItsOwn_data() { everyWindow_data(); }
    void givesTheSearchMenuEntriesAccessKeys_data();
    void givesTheSearchMenuEntriesAccessKeys();
    void namesThePortFieldsOfTheStatusReportByPortAndColumn_data();
    void namesThePortFieldsOfTheStatusReportByPortAndColumn();
    void showsTheStatusReportInTheLanguageItIsReadIn_data();
    void showsTheStatusReportInTheLanguageItIsReadIn();
    void takesTheFocusToAnEditorFieldByItsLabelsKey_data();
    void takesTheFocusToAnEditorFieldByItsLabelsKey();
    void putsTheOpenMenuInTheWindowsTree_data();
    void putsTheOpenMenuInTheWindowsTree();
    void givesAListsEntryAsItsTextForTheReaderToSay_data();
    void givesAListsEntryAsItsTextForTheReaderToSay();
    void namesTheFirmwareFieldsWithoutTheLabelsColon();
    void keepsAListsEntryAsItsValueAndMarksItInThePopup();
    void namesAListWithoutANameByItsLabelElseByItsEntry();
    void pressesAButtonByItsKeyInKoreanAndChinese_data();
    void pressesAButtonByItsKeyInKoreanAndChinese();
    void tabReachesEveryControlOnceARound();
    void tabReachesEveryControlOnceARound_data() { everyWindow_data(); }

private:
    QTemporaryDir m_profileDir;
};

void TestAccessibility::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestAccessibility::everyWindow_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("language");
    for (const auto& [name, open] : windows()) {
        for (const auto& [language, suffix] : kLanguages)
            QTest::newRow(qPrintable(name + u' ' + QString::fromLatin1(suffix))) << name << int(language);
    }
}

void TestAccessibility::namesEveryControlThatTakesInputOrShowsAValue()
{
    QFETCH(QString, window);
    QFETCH(int, language);
    guitest::Services services(UiLanguage(language), systemLanguage(UiLanguage(language)));
    services.adapters.setAdapters({guitest::adapter(u"eth0"_s, u"eth0 — Ethernet"_s, {u"192.168.0.10"_s})});
    const std::unique_ptr<QWidget> shown = windows().at(window)(services);
    const QStringList problems = nameProblems(shown.get());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u"\n"_s)));
}

void TestAccessibility::givesEveryButtonAnAccessKeyOfItsOwn()
{
    QFETCH(QString, window);
    QFETCH(int, language);
    guitest::Services services(UiLanguage(language), systemLanguage(UiLanguage(language)));
    const std::unique_ptr<QWidget> shown = windows().at(window)(services);
    const QStringList problems = keyProblems(buttonCaptions(shown.get()));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u"\n"_s)));
}

void TestAccessibility::givesTheSearchMenuEntriesAccessKeys_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("binding");
    QTest::addColumn<QString>("saveList");
    QTest::newRow("en") << int(UiLanguage::English) << u"Select &binding IP"_s << u"&Save list…"_s;
    QTest::newRow("ko") << int(UiLanguage::Korean) << u"바인딩 IP 선택(&B)"_s << u"목록 저장(&S)…"_s;
    QTest::newRow("zh") << int(UiLanguage::Chinese) << u"选择绑定 IP(&B)"_s << u"保存列表(&S)…"_s;
}

void TestAccessibility::givesTheSearchMenuEntriesAccessKeys()
{
    QFETCH(int, language);
    QFETCH(QString, binding);
    QFETCH(QString, saveList);
    guitest::Services services(UiLanguage(language), systemLanguage(UiLanguage(language)));
    AdapterBinding bound;
    CQorvDlg window(services.context(), bound);
    QCOMPARE(window.bindingAction()->text(), binding);
    QCOMPARE(window.saveListAction()->text(), saveList);
    auto* menu = window.findChild<QMenu*>(u"windowMenu"_s);
    QVERIFY(menu);
    QList<std::pair<QString, QString>> captions;
    for (QAction* action : menu->actions())
        captions.append({action->objectName(), action->text()});
    const QStringList problems = keyProblems(captions);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u"\n"_s)));
}

void TestAccessibility::namesThePortFieldsOfTheStatusReportByPortAndColumn_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("name");
    QTest::newRow("en COM1 RX") << int(UiLanguage::English) << u"com1RxEdit"_s << u"COM1 RX"_s;
    QTest::newRow("en COM4 TX") << int(UiLanguage::English) << u"com4TxEdit"_s << u"COM4 TX"_s;
    QTest::newRow("en version") << int(UiLanguage::English) << u"versionEdit"_s << u"Version"_s;
    QTest::newRow("en text box") << int(UiLanguage::English) << u"textBox"_s << u"Status details"_s;
    QTest::newRow("ko COM2 RX") << int(UiLanguage::Korean) << u"com2RxEdit"_s << u"COM2 수신(RX)"_s;
    QTest::newRow("ko COM3 TX") << int(UiLanguage::Korean) << u"com3TxEdit"_s << u"COM3 송신(TX)"_s;
    QTest::newRow("ko uptime") << int(UiLanguage::Korean) << u"uptimeEdit"_s << u"가동 시간"_s;
    QTest::newRow("zh COM1 TX") << int(UiLanguage::Chinese) << u"com1TxEdit"_s << u"COM1 发送(TX)"_s;
    QTest::newRow("zh gateway") << int(UiLanguage::Chinese) << u"gatewayEdit"_s << u"网关 IP 地址"_s;
}

void TestAccessibility::namesThePortFieldsOfTheStatusReportByPortAndColumn()
{
    QFETCH(int, language);
    QFETCH(QString, field);
    QFETCH(QString, name);
    guitest::Services services{UiLanguage(language)};
    CStatDlg dialog(services.context());
    QWidget* control = dialog.findChild<QWidget*>(field);
    QVERIFY(control);
    QCOMPARE(accessible(control, QAccessible::Name), name);
}

void TestAccessibility::showsTheStatusReportInTheLanguageItIsReadIn_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("en") << int(UiLanguage::English) << u"Tessel Basic Status"_s
                        << QStringList{u"Version"_s, u"Uptime"_s, u"MAC"_s, u"Local IP"_s, u"Subnet"_s,
                                       u"Gateway"_s, u"RX"_s, u"TX"_s};
    QTest::newRow("ko") << int(UiLanguage::Korean) << u"Tessel 기본 상태"_s
                        << QStringList{u"버전"_s, u"가동 시간"_s, u"MAC"_s, u"로컬 IP"_s, u"서브넷"_s,
                                       u"게이트웨이"_s, u"수신(RX)"_s, u"송신(TX)"_s};
    QTest::newRow("zh") << int(UiLanguage::Chinese) << u"Tessel 基本状态"_s
                        << QStringList{u"版本"_s, u"运行时间"_s, u"MAC"_s, u"本地 IP"_s, u"子网"_s, u"网关"_s,
                                       u"接收(RX)"_s, u"发送(TX)"_s};
}

void TestAccessibility::showsTheStatusReportInTheLanguageItIsReadIn()
{
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QStringList, labels);
    guitest::Services services{UiLanguage(language)};
    CStatDlg dialog(services.context());
    auto* group = dialog.findChild<QGroupBox*>(u"basicStatusGroupBox"_s);
    QCOMPARE(group->title(), title);
    QStringList shown;
    for (QLabel* label : group->findChildren<QLabel*>()) {
        if (!label->text().startsWith(u"COM"_s))
            shown << label->text();
    }
    QCOMPARE(shown, labels);
}

void TestAccessibility::namesTheFirmwareFieldsWithoutTheLabelsColon()
{
    guitest::Services services;
    CChangeFWDlg dialog(services.context());
    const std::pair<const char*, QString> expected[] = {
        {"productList", u"Product"_s},          {"firmwareNameEdit", u"Firmware file"_s}, {"crcEdit", u"CRC"_s},
        {"addressEdit", u"Local IP Address"_s}, {"progressBar", u"Upload progress"_s},
    };
    for (const auto& [objectName, name] : expected) {
        QWidget* control = dialog.findChild<QWidget*>(QString::fromLatin1(objectName));
        QVERIFY2(control, objectName);
        QCOMPARE(accessible(control, QAccessible::Name), name);
    }
    // The labels still read "Product : " and hand the focus to their fields.
    auto* label = dialog.findChild<QLabel*>(u"productLabel"_s);
    QCOMPARE(label->text(), u"Product : "_s);
    QCOMPARE(label->buddy(), dialog.findChild<QWidget*>(u"productList"_s));
}

void TestAccessibility::keepsAListsEntryAsItsValueAndMarksItInThePopup()
{
    guitest::Services services;
    CChangeFWDlg dialog(services.context());
    auto* list = dialog.findChild<QComboBox*>(u"productList"_s);
    list->setCurrentIndex(1);
    QCOMPARE(accessible(list, QAccessible::Name), u"Product"_s);
    QCOMPARE(accessible(list, QAccessible::Value), list->itemText(1));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
    QCOMPARE(iface->role(), QAccessible::ComboBox);
    QCOMPARE(iface->childCount(), 1);
    QCOMPARE(iface->child(0)->object(), list->view());
    QCOMPARE(iface->indexOfChild(iface->child(0)), 0);
    // The popup's selection follows the entry, so the entry chosen is found there too.
    QCOMPARE(list->view()->selectionModel()->selectedIndexes().value(0).row(), 1);
    list->setCurrentIndex(0);
    QCOMPARE(accessible(list, QAccessible::Value), list->itemText(0));
    QCOMPARE(list->view()->selectionModel()->selectedIndexes().value(0).row(), 0);
}

void TestAccessibility::namesAListWithoutANameByItsLabelElseByItsEntry()
{
    AccessibleList::install();
    QWidget window;
    auto* group = new QGroupBox(u"TCP/IP"_s, &window);
    auto* labelled = new QComboBox(group);
    labelled->addItems({u"19200"_s, u"9600"_s});
    auto* label = new QLabel(u"&Baudrate"_s, group);
    label->setBuddy(labelled);
    auto* bare = new QComboBox(group);
    bare->addItems({u"None"_s, u"Odd"_s});
    QCOMPARE(accessible(labelled, QAccessible::Name), u"Baudrate"_s);
    QCOMPARE(accessible(labelled, QAccessible::Value), u"19200"_s);
    // Never the group's title: a list nobody named is known by its entry, as before.
    QCOMPARE(accessible(bare, QAccessible::Name), u"None"_s);
}

void TestAccessibility::pressesAButtonByItsKeyInKoreanAndChinese_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("caption");
    QTest::newRow("ko") << int(UiLanguage::Korean) << u"지우기(&L)"_s;
    QTest::newRow("zh") << int(UiLanguage::Chinese) << u"清除(&L)"_s;
    QTest::newRow("en") << int(UiLanguage::English) << u"C&lear"_s;
}

void TestAccessibility::pressesAButtonByItsKeyInKoreanAndChinese()
{
    QFETCH(int, language);
    QFETCH(QString, caption);
    guitest::Services services{UiLanguage(language)};
    CPwdDlg dialog(services.strings);
    auto* clear = dialog.findChild<QCheckBox*>(u"clearCheck"_s);
    QCOMPARE(clear->text(), caption);
    // A screen reader says the words; the key is announced apart.
    QCOMPARE(accessible(clear, QAccessible::Name), services.strings.text(1052));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key_L, Qt::AltModifier);
    QTRY_VERIFY(clear->isChecked()); // a key presses its button as a click does, shown pressed for a moment
    QVERIFY(!dialog.findChild<QLineEdit*>(u"newPasswordEdit"_s)->isEnabled());
}

void TestAccessibility::tabReachesEveryControlOnceARound()
{
    QFETCH(QString, window);
    QFETCH(int, language);
    guitest::Services services(UiLanguage(language), systemLanguage(UiLanguage(language)));
    services.adapters.setAdapters({guitest::adapter(u"eth0"_s, u"eth0 — Ethernet"_s, {u"192.168.0.10"_s})});
    const std::unique_ptr<QWidget> shown = windows().at(window)(services);
    shown->show();
    QVERIFY(QTest::qWaitForWindowActive(shown.get()));
    QList<QWidget*> reachable;
    collect(shown.get(), tabStop, reachable);
    if (window == u"progress window"_s) {
        QVERIFY(reachable.isEmpty()); // it only shows how far the work is
        return;
    }
    QVERIFY2(!reachable.isEmpty(), qPrintable(window));
    reachable.first()->setFocus(Qt::TabFocusReason);
    QWidget* start = QApplication::focusWidget();
    QVERIFY(start);
    // One round of Tab: back at the start after every control was met exactly once, none left out.
    QList<QWidget*> met{start};
    for (int i = 0; i <= reachable.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        QVERIFY(now);
        if (now == start)
            break;
        QVERIFY2(!met.contains(now), qPrintable(describe(now) + u" met twice before the round closed"_s));
        met << now;
    }
    QCOMPARE(QApplication::focusWidget(), start);
    for (QWidget* w : reachable)
        QVERIFY2(met.contains(w), qPrintable(describe(w) + u" is never reached by Tab"_s));
    QCOMPARE(met.size(), reachable.size());
}

void TestAccessibility::takesTheFocusToAnEditorFieldByItsLabelsKey_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("label");
    QTest::newRow("en comment") << int(UiLanguage::English) << int(Qt::Key_C) << u"commentEdit"_s << u"&Comment"_s;
    QTest::newRow("en gateway") << int(UiLanguage::English) << int(Qt::Key_G) << u"gatewayEdit"_s
                                << u"&Gateway IP Address"_s;
    QTest::newRow("en password") << int(UiLanguage::English) << int(Qt::Key_D) << u"passwordEdit"_s
                                 << u"Passwor&d"_s;
    QTest::newRow("en multi ip") << int(UiLanguage::English) << int(Qt::Key_U) << u"multiIpCombo"_s << u"M&ulti IP"_s;
    QTest::newRow("ko comment") << int(UiLanguage::Korean) << int(Qt::Key_C) << u"commentEdit"_s << u"설명(&C)"_s;
    QTest::newRow("ko subnet") << int(UiLanguage::Korean) << int(Qt::Key_B) << u"subnetMaskEdit"_s
                               << u"서브넷 마스크(&B)"_s;
    QTest::newRow("zh address") << int(UiLanguage::Chinese) << int(Qt::Key_A) << u"ipAddressEdit"_s
                                << u"本地 IP 地址(&A)"_s;
}

void TestAccessibility::takesTheFocusToAnEditorFieldByItsLabelsKey()
{
    QFETCH(int, language);
    QFETCH(int, key);
    QFETCH(QString, field);
    QFETCH(QString, label);
    guitest::Services services(UiLanguage(language), systemLanguage(UiLanguage(language)));
    AdapterBinding binding;
    CQorv400Dlg editor(services.context(), binding, everythingInUse(), CQorv400Dlg::kModeRemote, 0x7F000002);
    editor.show();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    QWidget* target = editor.findChild<QWidget*>(field);
    QVERIFY(target);
    QLabel* holder = nullptr;
    for (QLabel* l : editor.findChildren<QLabel*>()) {
        if (l->buddy() == target)
            holder = l;
    }
    QVERIFY2(holder, qPrintable(field + u" has no label that hands it the focus"_s));
    QCOMPARE(holder->text(), label);
    editor.controls().readButton->setFocus();
    QTest::keyClick(&editor, Qt::Key(key), Qt::AltModifier);
    QTRY_COMPARE(QApplication::focusWidget(), target);
}

void TestAccessibility::putsTheOpenMenuInTheWindowsTree_data()
{
    QTest::addColumn<int>("language");
    for (const auto& [language, suffix] : kLanguages)
        QTest::newRow(suffix) << int(language);
}

/** The accessible interfaces under `root`, depth first, as a screen reader walks the tree. */
static void walk(QAccessibleInterface* root, QList<QAccessibleInterface*>& out, int depth = 0)
{
    if (!root || depth > 30)
        return;
    out << root;
    for (int i = 0; i < root->childCount(); ++i)
        walk(root->child(i), out, depth + 1);
}

void TestAccessibility::putsTheOpenMenuInTheWindowsTree()
{
    QFETCH(int, language);
    guitest::Services services(UiLanguage(language), systemLanguage(UiLanguage(language)));
    AdapterBinding bound;
    CQorvDlg window(services.context(), bound);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* button = window.findChild<QToolButton*>(u"bindingMenuButton"_s);
    auto* menu = window.findChild<QMenu*>(u"windowMenu"_s);
    QVERIFY(button && menu);
    QAccessibleInterface* buttonFace = QAccessible::queryAccessibleInterface(button);
    QCOMPARE(buttonFace->role(), QAccessible::ButtonMenu);
    QVERIFY(buttonFace->state().hasPopup);
    QCOMPARE(buttonFace->childCount(), 0); // closed: nothing to walk into
    QStringList found;
    bool expanded = false;
    QTimer::singleShot(0, menu, [&] {
        const auto closeMenu = qScopeGuard([menu] { menu->close(); }); // also when a check fails
        QTRY_VERIFY(menu->isVisible());
        expanded = buttonFace->state().expanded;
        QList<QAccessibleInterface*> tree;
        walk(QAccessible::queryAccessibleInterface(&window), tree);
        for (QAccessibleInterface* node : tree) {
            if (node->object() == menu) {
                found << u"menu"_s;
                QCOMPARE(node->role(), QAccessible::PopupMenu);
                for (int i = 0; i < node->childCount(); ++i)
                    found << node->child(i)->text(QAccessible::Name);
            }
        }
    });
    button->showMenu();
    QVERIFY(expanded);
    QStringList entries{u"menu"_s};
    for (QAction* action : menu->actions())
        entries << access_key::shown(action->text());
    QCOMPARE(found, entries);
    QCOMPARE(buttonFace->childCount(), 0);
}

void TestAccessibility::givesAListsEntryAsItsTextForTheReaderToSay_data()
{
    QTest::addColumn<int>("language");
    for (const auto& [language, suffix] : kLanguages)
        QTest::newRow(suffix) << int(language);
}

void TestAccessibility::givesAListsEntryAsItsTextForTheReaderToSay()
{
    QFETCH(int, language);
    guitest::Services services(UiLanguage(language), systemLanguage(UiLanguage(language)));
    AdapterBinding binding;
    CQorv400Dlg editor(services.context(), binding, everythingInUse(), CQorv400Dlg::kModeRemote, 0x7F000002);
    QList<QComboBox*> lists = editor.findChildren<QComboBox*>();
    QVERIFY(lists.size() > 20);
    for (QComboBox* list : lists) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(list);
        QAccessibleTextInterface* text = face->textInterface();
        QVERIFY2(text, qPrintable(describe(list)));
        QCOMPARE(text->text(0, text->characterCount()), list->currentText());
    }
    // It follows the choice.
    QComboBox* baud = editor.controls().ports[2].baudRate;
    baud->setCurrentIndex(baud->findText(u"9600"_s));
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(baud)->textInterface();
    QCOMPARE(text->text(0, text->characterCount()), u"9600"_s);
    QCOMPARE(text->text(0, -1), u"9600"_s);
    QCOMPARE(QAccessible::queryAccessibleInterface(baud)->text(QAccessible::Name),
             accessibility::portFieldName(services.strings, 2, services.strings.text(1019)));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
