// The adapter binding dialog and the binding operations, over fixed adapters.
#include "GuiTestSupport.h"

#include "net/AdapterCatalog.h"
#include "app/CBindDlg.h"
#include "protocol/Ipv4.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

using guitest::adapter;

class TestCBindDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void presetZeroLeavesUseUntickedAndBothListsDisabled();
    void presetBindingSelectsAdapterAndAddress();
    void presetWithAChangedAddressSelectsNoAddressAndOkAsksForOne();
    void useTickedWithoutAnAdapterAsksForOneAndStaysOpen();
    void untickedOkReturnsEmptyNameAndZero();
    void anAdapterWithoutAddressesGivesZeroWithItsName();
    void listsThreeAddressesInThePlatformsOrder();
    void okReturnsTheChosenAdapterAndAddress();
    void addressChosenThenDeselectedAsksForOneAndStaysOpen();
    void cancelKeepsNothing();
    void tickingUseEnablesBothListsAndKeepsSelections();
    void anAdapterThatDisappearedGivesAnEmptyAddressList();
    void validateBinding_data();
    void validateBinding();
    void validateBindingQueriesAfreshOnlyForAnUnknownName();
    void bindingLabelIsAddressHyphenDescription();
    void storedFormIsTheNetworkOrderAddressReadLittleEndian_data();
    void storedFormIsTheNetworkOrderAddressReadLittleEndian();
    void systemAdaptersReportAnAddressEach();
    void speaksTheUsersLanguageOnScreenAndInItsMessages_data();
    void speaksTheUsersLanguageOnScreenAndInItsMessages();

private:
    QList<AdapterInfo> standardAdapters() const;
    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
};

void TestCBindDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCBindDlg::init()
{
    m_services = std::make_unique<guitest::Services>();
    m_services->adapters.setAdapters(standardAdapters());
}

QList<AdapterInfo> TestCBindDlg::standardAdapters() const
{
    return {
        adapter(QStringLiteral("eth0"), QStringLiteral("eth0 — Ethernet 02:fc:00:00:00:01"),
                {QStringLiteral("192.168.0.10")}),
        adapter(QStringLiteral("eth1"), QStringLiteral("eth1 — Ethernet 02:fc:00:00:00:02"),
                {QStringLiteral("10.0.0.5"), QStringLiteral("172.16.1.1"), QStringLiteral("10.0.0.7")}),
        adapter(QStringLiteral("wlan0"), QStringLiteral("wlan0 — Wi-Fi 02:fc:00:00:00:03"),
                {QStringLiteral("0.0.0.0")}),
    };
}

namespace {
struct Controls
{
    explicit Controls(CBindDlg& d)
        : use(d.findChild<QCheckBox*>(QStringLiteral("useCheckBox"))),
          adapters(d.findChild<QListWidget*>(QStringLiteral("adapterList"))),
          addresses(d.findChild<QListWidget*>(QStringLiteral("addressList"))),
          ok(d.findChild<QPushButton*>(QStringLiteral("okButton"))),
          cancel(d.findChild<QPushButton*>(QStringLiteral("cancelButton")))
    {
    }
    QCheckBox* use;
    QListWidget* adapters;
    QListWidget* addresses;
    QPushButton* ok;
    QPushButton* cancel;
};

QStringList texts(const QListWidget* list)
{
    QStringList t;
    for (int i = 0; i < list->count(); ++i)
        t << list->item(i)->text();
    return t;
}

constexpr std::uint32_t k192_168_0_10 = 0xC0A8000A;
} // namespace

void TestCBindDlg::presetZeroLeavesUseUntickedAndBothListsDisabled()
{
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    QVERIFY(c.use && c.adapters && c.addresses && c.ok && c.cancel);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select binding IP"));
    QCOMPARE(c.use->text(), QStringLiteral("&Use"));
    QVERIFY(!c.use->isChecked());
    QVERIFY(!c.adapters->isEnabled());
    QVERIFY(!c.addresses->isEnabled());
    QVERIFY(c.adapters->selectedItems().isEmpty());
    QCOMPARE(c.addresses->count(), 0);
    QCOMPARE(texts(c.adapters),
             (QStringList{u"eth0 — Ethernet 02:fc:00:00:00:01"_s, u"eth1 — Ethernet 02:fc:00:00:00:02"_s,
                          u"wlan0 — Wi-Fi 02:fc:00:00:00:03"_s}));
}

void TestCBindDlg::presetBindingSelectsAdapterAndAddress()
{
    CBindDlg dialog(m_services->context(), QStringLiteral("eth1"), 0xAC100101); // 172.16.1.1
    Controls c(dialog);
    QVERIFY(c.use->isChecked());
    QVERIFY(c.adapters->isEnabled() && c.addresses->isEnabled());
    QCOMPARE(c.adapters->currentRow(), 1);
    QCOMPARE(c.addresses->currentItem()->text(), QStringLiteral("172.16.1.1"));
}

void TestCBindDlg::presetWithAChangedAddressSelectsNoAddressAndOkAsksForOne()
{
    CBindDlg dialog(m_services->context(), QStringLiteral("eth0"), 0xC0A80063); // 192.168.0.99, gone
    Controls c(dialog);
    dialog.show();
    QVERIFY(c.use->isChecked());
    QCOMPARE(c.adapters->currentRow(), 0);
    QCOMPARE(texts(c.addresses), QStringList{u"192.168.0.10"_s});
    QVERIFY(c.addresses->selectedItems().isEmpty());
    QTest::mouseClick(c.ok, Qt::LeftButton);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, QStringLiteral("Select an IP address."));
    QCOMPARE(shown.caption, QStringLiteral("CormapMP v4.1F (2013/06/04)"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestCBindDlg::useTickedWithoutAnAdapterAsksForOneAndStaysOpen()
{
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    dialog.show();
    guitest::clickCheckBox(c.use);
    QVERIFY(c.use->isChecked());
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, QStringLiteral("Select a network adapter."));
    QCOMPARE(shown.caption, QStringLiteral("CormapMP v4.1F (2013/06/04)"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(dialog.isVisible());
}

void TestCBindDlg::untickedOkReturnsEmptyNameAndZero()
{
    CBindDlg dialog(m_services->context(), QStringLiteral("eth0"), k192_168_0_10);
    Controls c(dialog);
    dialog.show();
    QCOMPARE(c.addresses->currentItem()->text(), QStringLiteral("192.168.0.10"));
    guitest::clickCheckBox(c.use); // untick; the selections stay
    QVERIFY(!c.use->isChecked());
    QCOMPARE(c.adapters->currentRow(), 0);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.useBinding());
    QVERIFY(dialog.adapterName().isEmpty());
    QCOMPARE(dialog.address(), 0u);
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCBindDlg::anAdapterWithoutAddressesGivesZeroWithItsName()
{
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    dialog.show();
    guitest::clickCheckBox(c.use);
    c.adapters->setCurrentRow(2);
    QCOMPARE(texts(c.addresses), QStringList{u"0.0.0.0"_s});
    c.addresses->setCurrentRow(0);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.useBinding());
    QCOMPARE(dialog.adapterName(), QStringLiteral("wlan0"));
    QCOMPARE(dialog.address(), 0u);
}

void TestCBindDlg::listsThreeAddressesInThePlatformsOrder()
{
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    const int queriesBefore = m_services->adapters.queries();
    c.adapters->setCurrentRow(1);
    QCOMPARE(m_services->adapters.queries(), queriesBefore + 1); // each new selection queries afresh
    QCOMPARE(texts(c.addresses), (QStringList{u"10.0.0.5"_s, u"172.16.1.1"_s, u"10.0.0.7"_s}));
}

void TestCBindDlg::okReturnsTheChosenAdapterAndAddress()
{
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    dialog.show();
    guitest::clickCheckBox(c.use);
    c.adapters->setCurrentRow(1);
    c.addresses->setCurrentRow(2);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.useBinding());
    QCOMPARE(dialog.adapterName(), QStringLiteral("eth1"));
    QCOMPARE(dialog.address(), 0x0A000007u); // 10.0.0.7
}

void TestCBindDlg::addressChosenThenDeselectedAsksForOneAndStaysOpen()
{
    // The address list keeps a current row after the user deselects it (Ctrl+click): that is no choice.
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    dialog.show();
    guitest::clickCheckBox(c.use);
    QTest::mouseClick(c.adapters->viewport(), Qt::LeftButton, {},
                      c.adapters->visualItemRect(c.adapters->item(1)).center());
    const QRect second = c.addresses->visualItemRect(c.addresses->item(1));
    QTest::mouseClick(c.addresses->viewport(), Qt::LeftButton, {}, second.center());
    QVERIFY(c.addresses->item(1)->isSelected());
    QTest::mouseClick(c.addresses->viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
    QVERIFY(c.addresses->selectedItems().isEmpty());
    QVERIFY(c.addresses->currentItem()); // still current, no longer chosen
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, QStringLiteral("Select an IP address."));
    QCOMPARE(shown.caption, QStringLiteral("CormapMP v4.1F (2013/06/04)"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestCBindDlg::cancelKeepsNothing()
{
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    dialog.show();
    QTest::mouseClick(c.cancel, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCBindDlg::tickingUseEnablesBothListsAndKeepsSelections()
{
    CBindDlg dialog(m_services->context(), QStringLiteral("eth0"), k192_168_0_10);
    Controls c(dialog);
    dialog.show();
    for (int i = 0; i < 2; ++i) {
        guitest::clickCheckBox(c.use);
        QCOMPARE(c.adapters->isEnabled(), c.use->isChecked());
        QCOMPARE(c.addresses->isEnabled(), c.use->isChecked());
        QCOMPARE(c.adapters->currentRow(), 0);
        QCOMPARE(c.addresses->currentRow(), 0);
    }
}

void TestCBindDlg::anAdapterThatDisappearedGivesAnEmptyAddressList()
{
    CBindDlg dialog(m_services->context(), QString(), 0);
    Controls c(dialog);
    m_services->adapters.setAdapters({standardAdapters().at(0)});
    c.adapters->setCurrentRow(1); // eth1 is listed but gone
    QCOMPARE(c.addresses->count(), 0);
}

void TestCBindDlg::validateBinding_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("address");
    QTest::addColumn<bool>("valid");
    QTest::newRow("present with its address") << "eth0" << uint(k192_168_0_10) << true;
    QTest::newRow("second of three addresses") << "eth1" << uint(0xAC100101) << true;
    QTest::newRow("address moved to another adapter") << "eth0" << uint(0x0A000005) << false;
    QTest::newRow("adapter gone") << "eth9" << uint(k192_168_0_10) << false;
    QTest::newRow("empty name") << "" << uint(k192_168_0_10) << false;
}

void TestCBindDlg::validateBinding()
{
    QFETCH(QString, name);
    QFETCH(uint, address);
    QFETCH(bool, valid);
    AdapterCatalog catalog(m_services->adapters);
    QCOMPARE(catalog.ValidateBinding(name, address), valid);
}

void TestCBindDlg::validateBindingQueriesAfreshOnlyForAnUnknownName()
{
    AdapterCatalog catalog(m_services->adapters);
    QVERIFY(catalog.ValidateBinding(QStringLiteral("eth0"), k192_168_0_10));
    QCOMPARE(m_services->adapters.queries(), 1);
    QVERIFY(catalog.ValidateBinding(QStringLiteral("eth0"), k192_168_0_10));
    QCOMPARE(m_services->adapters.queries(), 1); // held already
    QVERIFY(!catalog.ValidateBinding(QStringLiteral("usb0"), k192_168_0_10));
    QCOMPARE(m_services->adapters.queries(), 2);
}

void TestCBindDlg::bindingLabelIsAddressHyphenDescription()
{
    m_services->adapters.setAdapters(
        {adapter(QStringLiteral("{GUID-1}"), QStringLiteral("D"), {QStringLiteral("192.168.0.10")})});
    AdapterCatalog catalog(m_services->adapters);
    QCOMPARE(catalog.BindingLabel(QStringLiteral("{GUID-1}"), k192_168_0_10), QStringLiteral("192.168.0.10-D"));
    CBindDlg dialog(m_services->context(), QString(), 0);
    QCOMPARE(dialog.BindingLabel(QStringLiteral("{GUID-1}"), k192_168_0_10), QStringLiteral("192.168.0.10-D"));
}

void TestCBindDlg::storedFormIsTheNetworkOrderAddressReadLittleEndian_data()
{
    QTest::addColumn<uint>("address");
    QTest::addColumn<qlonglong>("stored");
    QTest::newRow("192.168.0.10") << uint(k192_168_0_10) << qlonglong(192 + 256 * 168 + 16777216LL * 10);
    QTest::newRow("10.1.0.1") << uint(0x0A010001) << qlonglong(16777482);
    QTest::newRow("127.0.0.1") << uint(0x7F000001) << qlonglong(16777343);
    QTest::newRow("255.255.255.254") << uint(0xFFFFFFFE) << qlonglong(4278190079LL);
    QTest::newRow("unbound") << uint(0) << qlonglong(0);
}

void TestCBindDlg::storedFormIsTheNetworkOrderAddressReadLittleEndian()
{
    QFETCH(uint, address);
    QFETCH(qlonglong, stored);
    QCOMPARE(qlonglong(UserProfile::storedFromAddress(address)), stored);
    m_services->profile.setBinding(QStringLiteral("eth0"), address);
    QCOMPARE(m_services->profile.settings().value(QStringLiteral("BINDING/IP")).toLongLong(), stored);
    QCOMPARE(m_services->profile.settings().value(QStringLiteral("BINDING/ADAPTER")).toString(),
             QStringLiteral("eth0"));
    QCOMPARE(m_services->profile.bindingAddress(), address);
    // A DWORD written by another tool and read back as a signed number means the same address.
    QCOMPARE(UserProfile::addressFromStored(qint32(quint32(stored))), address);
}

void TestCBindDlg::systemAdaptersReportAnAddressEach()
{
    const QList<AdapterInfo> adapters = SystemAdapterSource().adapters();
    for (const AdapterInfo& a : adapters) {
        QVERIFY(!a.name.isEmpty());
        QVERIFY(a.description.startsWith(a.name + QStringLiteral(" — ")));
        QVERIFY(!a.addresses.isEmpty()); // 0.0.0.0 when the adapter has none
        for (const QString& address : a.addresses)
            QVERIFY(ipv4::parse(address).has_value());
    }
}

void TestCBindDlg::speaksTheUsersLanguageOnScreenAndInItsMessages_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("en") << int(UiLanguage::English)
                        << QStringList{u"Select binding IP"_s, u"&Use"_s, u"Network Adapter"_s, u"IP Address"_s,
                                       u"&OK"_s, u"&Cancel"_s, u"Select a network adapter."_s,
                                       u"Select an IP address."_s};
    QTest::newRow("ko") << int(UiLanguage::Korean)
                        << QStringList{u"바인딩 IP 선택"_s, u"사용(&U)"_s, u"네트워크 어댑터"_s, u"IP 주소"_s,
                                       u"확인(&O)"_s, u"취소(&C)"_s, u"네트워크 어댑터를 선택하세요."_s,
                                       u"IP주소를 선택하세요."_s};
    QTest::newRow("zh") << int(UiLanguage::Chinese)
                        << QStringList{u"选择绑定 IP"_s, u"使用(&U)"_s, u"网络适配器"_s, u"IP 地址"_s, u"确定(&O)"_s,
                                       u"取消(&C)"_s, u"请选择网络适配器。"_s, u"请选择 IP 地址。"_s};
}

void TestCBindDlg::speaksTheUsersLanguageOnScreenAndInItsMessages()
{
    QFETCH(int, language);
    QFETCH(QStringList, texts);
    guitest::Services services{UiLanguage(language)};
    services.adapters.setAdapters(standardAdapters());
    CBindDlg dialog(services.context(), u"eth0"_s, 0xC0A80063); // 192.168.0.99, gone: OK asks for one
    Controls c(dialog);
    QStringList seen{dialog.windowTitle(), c.use->text()};
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        seen << label->text();
    seen << c.ok->text() << c.cancel->text();
    // What a screen reader says is what the screen shows: one language in the window.
    QCOMPARE(QAccessible::queryAccessibleInterface(c.adapters)->text(QAccessible::Name), texts.at(2));
    QCOMPARE(QAccessible::queryAccessibleInterface(c.addresses)->text(QAccessible::Name), texts.at(3));
    dialog.show();
    QTest::mouseClick(c.ok, Qt::LeftButton); // an adapter chosen, its address gone
    seen << services.messages.last().text;
    c.adapters->setCurrentRow(-1);
    c.adapters->clearSelection();
    QTest::mouseClick(c.ok, Qt::LeftButton);
    seen << services.messages.last().text;
    QCOMPARE(seen, (QStringList{texts.at(0), texts.at(1), texts.at(2), texts.at(3), texts.at(4), texts.at(5),
                                texts.at(7), texts.at(6)}));
}

QTEST_MAIN(TestCBindDlg)
#include "tst_cbinddlg.moc"
