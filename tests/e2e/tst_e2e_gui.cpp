// The search window on the real profile: the window's own sockets live in a client namespace that this
// test makes (the test's main thread is moved into it), the simulated devices in a device namespace
// joined to it by a veth pair. A search by MAC broadcasts to 255.255.255.255 at a random port, as on a
// LAN; nothing of it is visible in, or sent from, the machine's own namespace.

#include "GuiTestSupport.h"
#include "NetnsFixture.h"

#include "gui/CMsgDlg.h"
#include "app/CQorvDlg.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
const QString kSim = QStringLiteral(TESSEL_SIM_PATH);
constexpr int kSearchDoneMs = 6000;
} // namespace

class TestE2eGui : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void searchByMacFindsTheDevicesAndReadHandsOverTheRecord();
    void searchByIpListsTheDeviceThatAnswered();

private:
    template <typename T> T* child(const char* name)
    {
        T* w = m_window->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void search();

    QTemporaryDir m_profileDir;
    std::unique_ptr<netns::NamespacePair> m_namespaces;
    std::unique_ptr<netns::ThreadInNamespace> m_inClient;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<CQorvDlg> m_window;
    AdapterBinding m_binding;
    QList<EnvRecord> m_handedOver;
};

void TestE2eGui::initTestCase()
{
    netns::Setup setup = netns::setUp(QStringLiteral("cormap-e2e-gui-"), kSim);
    if (!setup.skipReason.isEmpty())
        QSKIP(qPrintable(setup.skipReason));
    m_namespaces = std::move(setup.pair);
    QVERIFY2(setup.error.isEmpty(), qPrintable(setup.error));
    guitest::isolateProfile(m_profileDir);

    m_inClient = std::make_unique<netns::ThreadInNamespace>(m_namespaces->client);
    QVERIFY2(m_inClient->error().isEmpty(), qPrintable(m_inClient->error()));
    m_services =
        std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, NetworkProfile::real());
    SearchHooks hooks;
    hooks.openEditor = [this](QWidget*, const EnvRecord& record, int, std::uint32_t) { m_handedOver << record; };
    m_window = std::make_unique<CQorvDlg>(m_services->context(), m_binding, hooks);
    m_window->show();
}

void TestE2eGui::cleanupTestCase()
{
    m_window.reset();
    m_services.reset();
    m_inClient.reset(); // back home before the namespaces go
    m_namespaces.reset();
}

void TestE2eGui::search()
{
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QVERIFY(m_window->requestInFlight());
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), kSearchDoneMs);
}

void TestE2eGui::searchByMacFindsTheDevicesAndReadHandsOverTheRecord()
{
    QVERIFY(child<QRadioButton>("macRadio")->isChecked());
    search();
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.shown().value(0).text));
    QStringList expected = m_namespaces->macByAddress().values();
    expected.sort();
    auto* list = child<QListWidget>("resultsList");
    QStringList listed;
    for (int i = 0; i < list->count(); ++i)
        listed << list->item(i)->text();
    QCOMPARE(listed, expected);
    QCOMPARE(list->currentRow(), 0);

    // Read the second device by its MAC: a broadcast addressed by header MAC.
    list->setCurrentRow(1);
    QTest::mouseClick(child<QPushButton>("readButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_handedOver.size(), 1, kSearchDoneMs);
    const EnvRecord record = m_handedOver.constFirst();
    QCOMPARE(QString::fromStdString(record.macText()), expected.at(1));
    QCOMPARE(QHostAddress(record.ipAddress()).toString(), m_namespaces->macByAddress().key(expected.at(1)));
    QCOMPARE(list->count(), 3);
}

void TestE2eGui::searchByIpListsTheDeviceThatAnswered()
{
    QTest::mouseClick(child<QRadioButton>("ipRadio"), Qt::LeftButton);
    auto* address = child<QLineEdit>("ipAddressEdit");
    QVERIFY(address->isEnabled());
    address->setText(QStringLiteral("10.250.0.12"));
    search();
    auto* list = child<QListWidget>("resultsList");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QStringLiteral("10.250.0.12"));
    QCOMPARE(m_window->remoteAddress(), 0x0AFA000Cu);
}

QTEST_MAIN(TestE2eGui)
#include "tst_e2e_gui.moc"
