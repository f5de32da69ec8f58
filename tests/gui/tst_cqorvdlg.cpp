// The search window, driven offscreen against simulated devices on the loopback profile
// (device port 52305, this program's own).
#include "GuiTestSupport.h"

#include "DatagramFlood.h"
#include "FieldTables.h"
#include "TesselSim.h"
#include "app/CBindDlg.h"
#include "app/CQorvDlg.h"
#include "gui/CMsgDlg.h"
#include "protocol/Ipv4.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52305;
constexpr std::uint32_t kDevice1 = 0x7F000002; // 127.0.0.2
constexpr std::uint32_t kDevice2 = 0x7F000003;
constexpr std::uint32_t kDevice3 = 0x7F000004;
const QString kTitle = QStringLiteral("CormapMP v4.1F (2013/06/04)");
const QString kNoResponse = QStringLiteral(
    "No response from the Tessel(s).\r\nPlease check the LAN cable and the setting of the firewall on your PC.");

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

/** What the hand-over hooks received. */
struct HandOver
{
    int editorCalls = 0;
    EnvRecord record;
    int mode = -1;
    std::uint32_t remoteAddress = 0;
    qint64 editorAtMs = -1;
    int firmwareCalls = 0;
    int productCode = -1;
    std::uint32_t targetAddress = 0xFFFFFFFF;
    QElapsedTimer clock;
};
} // namespace

class TestCQorvDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void namesItsControlsAndLoadsTheirTexts_data();
    void namesItsControlsAndLoadsTheirTexts();
    void searchByMacListsDevicesSortedAfterTheFullThreeSeconds();
    void searchByMacWithoutAnswerShowsString166AndDisablesRead();
    void searchStaysResponsiveAndEndsOnTimeDuringAFloodOfJunk();
    void searchByIpListsTheAddressTheAnswerCameFrom();
    void searchByIpWithoutAnswerShowsString166AfterThreeSeconds();
    void refusesATypedAddressThatIsNotOneDevice_data();
    void refusesATypedAddressThatIsNotOneDevice();
    void readByMacHandsOverTheRecordWithItsAnswer();
    void readByIpHandsOverModeAndRemoteAddress();
    void readWithoutAnswerShowsString166AndOpensNoEditor();
    void modeSwitchEmptiesListAndTable();
    void titleShowsAValidStoredBinding_data();
    void titleShowsAValidStoredBinding();
    void searchUsesTheBoundAddress();
    void bindingMenuIsInAButtonAndTheContextMenu();
    void bindingDialogOkStoresTheBinding_data();
    void bindingDialogOkStoresTheBinding();
    void firmwareGetsProductCodeAndTargetAddress();
    void firewallWithoutAToolSaysFileNotFound();
    void firewallStartsTheFirstInstalledTool();
    void asksBeforeExit_data();
    void asksBeforeExit();
    void typedAddressIsUsedAsShown_data();
    void typedAddressIsUsedAsShown();
    void addressTextsAsTheReaderTakesThem_data();
    void addressTextsAsTheReaderTakesThem();
    void modeFollowsTheRadioHoweverItIsChecked_data();
    void modeFollowsTheRadioHoweverItIsChecked();
    void layoutAloneSizesTheWindowWhateverTheTitle();

private:
    std::unique_ptr<CQorvDlg> makeWindow();
    void startSim(const QList<SimDevice>& devices);
    void search();
    void searchByIp(const QString& address);
    void clickRow(int row);
    template <typename T> T* child(const char* name)
    {
        T* w = m_window->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorvDlg> m_window;
    AdapterBinding m_binding;
    HandOver m_handOver;
};

void TestCQorvDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCQorvDlg::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
    m_services->profile.settings().clear();
    m_binding = {};
    m_handOver = {};
    m_handOver.clock.start();
}

void TestCQorvDlg::cleanup()
{
    m_window.reset();
    m_sim.reset();
    m_services.reset();
}

std::unique_ptr<CQorvDlg> TestCQorvDlg::makeWindow()
{
    SearchHooks hooks;
    hooks.openEditor = [this](QWidget*, const EnvRecord& record, int mode, std::uint32_t remote) {
        ++m_handOver.editorCalls;
        m_handOver.record = record;
        m_handOver.mode = mode;
        m_handOver.remoteAddress = remote;
        m_handOver.editorAtMs = m_handOver.clock.elapsed();
    };
    hooks.openFirmware = [this](QWidget*, int productCode, std::uint32_t target) {
        ++m_handOver.firmwareCalls;
        m_handOver.productCode = productCode;
        m_handOver.targetAddress = target;
    };
    auto window = std::make_unique<CQorvDlg>(m_services->context(), m_binding, hooks);
    window->move(40, 40);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("the search window did not become active");
    return window;
}

void TestCQorvDlg::startSim(const QList<SimDevice>& devices)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    for (const SimDevice& d : devices)
        m_sim->addDevice(d);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

/** Clicks Search in MAC mode and waits for the end of the search. */
void TestCQorvDlg::search()
{
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
}

void TestCQorvDlg::searchByIp(const QString& address)
{
    QTest::mouseClick(child<QRadioButton>("ipRadio"), Qt::LeftButton);
    child<QLineEdit>("ipAddressEdit")->setText(address);
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
}

void TestCQorvDlg::clickRow(int row)
{
    auto* list = child<QListWidget>("resultsList");
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

void TestCQorvDlg::namesItsControlsAndLoadsTheirTexts_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("labels"); // results, MAC, IP, Search, Read, Firmware, Firewall, Exit
    QTest::newRow("English") << int(UiLanguage::English)
                             << QStringList{
                                    u"Search Results"_s, u"MAC Address"_s,     u"IP Address"_s,        u"Search"_s,
                                    u"Read"_s,           u"Change Firmware"_s, u"Firewall Settings"_s, u"Exit"_s};
    QTest::newRow("Korean") << int(UiLanguage::Korean)
                            << QStringList{u"검색 결과"_s, u"MAC 주소"_s,    u"IP 주소"_s,     u"검색"_s,
                                           u"읽기"_s,      u"펌웨어 변경"_s, u"방화벽 설정"_s, u"종료"_s};
    QTest::newRow("Chinese") << int(UiLanguage::Chinese)
                             << QStringList{u"搜索结果"_s, u"MAC 地址"_s, u"IP 地址"_s,    u"搜索"_s,
                                            u"读取"_s,     u"更改固件"_s, u"防火墙设置"_s, u"退出"_s};
}

void TestCQorvDlg::namesItsControlsAndLoadsTheirTexts()
{
    QFETCH(int, language);
    QFETCH(QStringList, labels);
    m_services = std::make_unique<guitest::Services>(UiLanguage(language), primary_language::kEnglish, testProfile());
    m_window = makeWindow();
    QCOMPARE(m_window->windowTitle(), kTitle);
    QCOMPARE(child<QLabel>("resultsLabel")->text(), labels[0]);
    QCOMPARE(child<QRadioButton>("macRadio")->text(), labels[1]);
    QCOMPARE(child<QRadioButton>("ipRadio")->text(), labels[2]);
    QCOMPARE(child<QPushButton>("searchButton")->text(), labels[3]);
    QCOMPARE(child<QPushButton>("readButton")->text(), labels[4]);
    QCOMPARE(child<QPushButton>("firmwareButton")->text(), labels[5]);
    QCOMPARE(child<QPushButton>("firewallButton")->text(), labels[6]);
    QCOMPARE(child<QPushButton>("exitButton")->text(), labels[7]);
    QCOMPARE(child<QPushButton>("searchButton")->property("controlId").toInt(), CQorvDlg::kIdSearchButton);
    QCOMPARE(child<QListWidget>("resultsList")->property("controlId").toInt(), 1050);
    QCOMPARE(child<QLineEdit>("ipAddressEdit")->property("controlId").toInt(), 1179);
    QVERIFY(child<QPushButton>("searchButton")->isDefault());
    // Initial state: mode 0, Read disabled, the address field disabled, record 0 the default record.
    QCOMPARE(m_window->mode(), CQorvDlg::kModeMac);
    QVERIFY(child<QRadioButton>("macRadio")->isChecked());
    QVERIFY(!child<QPushButton>("readButton")->isEnabled());
    QVERIFY(!child<QLineEdit>("ipAddressEdit")->isEnabled());
    QCOMPARE(m_window->endpoint().count(), 0);
    QCOMPARE(m_window->endpoint().limit(), 256);
    QVERIFY(m_window->endpoint().record(0) == EnvRecord::defaultRecord());
    QVERIFY(!m_window->messageWindow().isVisible());
}

void TestCQorvDlg::searchByMacListsDevicesSortedAfterTheFullThreeSeconds()
{
    // Answer order 05, 01, 03: the list must sort them.
    startSim(
        {TesselSim::makeDevice(4, kDevice1), TesselSim::makeDevice(0, kDevice2), TesselSim::makeDevice(2, kDevice3)});
    m_window = makeWindow();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QVERIFY(!m_window->isEnabled());
    QVERIFY(m_window->messageWindow().isVisible());
    QCOMPARE(m_window->messageWindow().text(), QStringLiteral("Searching for the Tessel(s)…"));
    QCOMPARE(m_window->endpoint().command(), 1);
    // Ten ticks of 300 ms on a precise timer: a coarse one may be 5 % off.
    QCOMPARE(m_window->requestTimer().interval(), 300);
    QCOMPARE(m_window->requestTimer().timerType(), Qt::PreciseTimer);
    // The running count appears at the next 300 ms tick.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->messageWindow().text(),
                              QStringLiteral("Searching for the Tessel(s)…\r\n3 Tessel(s) found"), 1000);
    QVERIFY(m_window->requestInFlight());
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 2850 && elapsed < 4500, qPrintable(QString::number(elapsed)));
    QVERIFY(m_window->isEnabled());
    QVERIFY(!m_window->messageWindow().isVisible());
    QVERIFY(m_window->messageWindow().text().isEmpty());

    auto* list = child<QListWidget>("resultsList");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QStringLiteral("02:7e:55:00:00:01"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("02:7e:55:00:00:03"));
    QCOMPARE(list->item(2)->text(), QStringLiteral("02:7e:55:00:00:05"));
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(list->item(0)->isSelected());
    QCOMPARE(m_window->focusWidget(), list); // the list has the window's focus
    QVERIFY(child<QPushButton>("readButton")->isEnabled());
    QCOMPARE(m_window->remoteAddress(), 0u); // the program's own selection copies nothing
    QVERIFY(m_services->messages.shown().isEmpty());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(QString::fromStdString(m_window->endpoint().record(i).macText()), list->item(i)->text());
}

void TestCQorvDlg::searchStaysResponsiveAndEndsOnTimeDuringAFloodOfJunk()
{
    // Junk datagrams pour into the search's own socket from two threads (bounded in count and time);
    // the progress window keeps repainting, the event loop keeps its pace and the search ends on time.
    startSim({TesselSim::makeDevice(0, kDevice1), TesselSim::makeDevice(1, kDevice2)});
    m_window = makeWindow();
    QWidget& progress = m_window->messageWindow();
    int paints = 0;
    struct PaintCounter : QObject
    {
        int* paints;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                ++*paints;
            return false;
        }
    } filter;
    filter.paints = &paints;
    progress.installEventFilter(&filter);

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    const std::uint16_t port = m_window->endpoint().localPort();
    QVERIFY(port != 0);
    simtest::DatagramFlood flood(0x7F000001, port);
    // A repaint asked every 100 ms, as a window being exposed or resized would; the largest gap between
    // two ticks shows whether the event loop kept running.
    QTimer pulse;
    qint64 last = clock.elapsed(), largestGap = 0;
    connect(&pulse, &QTimer::timeout, this, [&] {
        largestGap = std::max(largestGap, clock.elapsed() - last);
        last = clock.elapsed();
        progress.update();
    });
    pulse.start(100);
    const int paintsBefore = paints;
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 8000);
    const qint64 elapsed = clock.elapsed();
    pulse.stop();
    const std::uint64_t sent = flood.stop();
    qInfo("%llu junk datagrams; search %lld ms; %d repaints; largest gap %lld ms",
          static_cast<unsigned long long>(sent), static_cast<long long>(elapsed), paints - paintsBefore,
          static_cast<long long>(largestGap));
    QVERIFY2(sent > 10000, "the flood ran");
    QVERIFY2(elapsed >= 2850 && elapsed < 4000, qPrintable(QString::number(elapsed)));
    QVERIFY2(paints - paintsBefore >= 10, qPrintable(QString::number(paints - paintsBefore)));
    QVERIFY2(largestGap < 600, qPrintable(QString::number(largestGap)));
    QVERIFY(m_window->isEnabled());
    QVERIFY(!progress.isVisible());
}

void TestCQorvDlg::searchByMacWithoutAnswerShowsString166AndDisablesRead()
{
    startSim({TesselSim::makeDevice(0, kDevice1)});
    m_window = makeWindow();
    search();
    QVERIFY(child<QPushButton>("readButton")->isEnabled());
    m_sim->stop();
    QElapsedTimer clock;
    clock.start();
    search();
    QVERIFY(clock.elapsed() >= 2850);
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, kNoResponse);
    QCOMPARE(shown.caption, kTitle);
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!child<QPushButton>("readButton")->isEnabled());
    QCOMPARE(child<QListWidget>("resultsList")->count(), 0);
    QVERIFY(m_window->isEnabled());
}

void TestCQorvDlg::searchByIpListsTheAddressTheAnswerCameFrom()
{
    SimDevice device = TesselSim::makeDevice(1, kDevice2);
    device.record.setSourceAddress(0x01020304); // what the device sends there is not what is listed
    startSim({TesselSim::makeDevice(0, kDevice1), device});
    m_window = makeWindow();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(child<QRadioButton>("ipRadio"), Qt::LeftButton);
    QCOMPARE(m_window->mode(), CQorvDlg::kModeIp);
    QVERIFY(child<QLineEdit>("ipAddressEdit")->isEnabled());
    child<QLineEdit>("ipAddressEdit")->setText(QStringLiteral("127.0.0.3"));
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QCOMPARE(m_window->endpoint().command(), 2);
    QCOMPARE(m_window->messageWindow().text(), QStringLiteral("Searching for the Tessel(s)…"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
    QVERIFY2(clock.elapsed() < 1000, "a search by IP ends at the first tick after the answer");
    auto* list = child<QListWidget>("resultsList");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QStringLiteral("127.0.0.3"));
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(m_window->remoteAddress(), kDevice2);
    QVERIFY(child<QPushButton>("readButton")->isEnabled());
    QCOMPARE(m_handOver.editorCalls, 0); // a search opens no editor
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCQorvDlg::searchByIpWithoutAnswerShowsString166AfterThreeSeconds()
{
    startSim({TesselSim::makeDevice(0, kDevice1)});
    m_window = makeWindow();
    QElapsedTimer clock;
    clock.start();
    searchByIp(QStringLiteral("127.0.0.9"));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 2850 && elapsed < 4500, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_services->messages.last().text, kNoResponse);
    QCOMPARE(child<QListWidget>("resultsList")->count(), 0);
}

void TestCQorvDlg::refusesATypedAddressThatIsNotOneDevice_data()
{
    QTest::addColumn<QString>("typed"); // typed key by key; the field shows every digit and dot of it
    QTest::addColumn<QString>("message");
    const QString notOne = QStringLiteral("%1 is not the address of a single device.\r\nType the unicast IPv4 address "
                                          "of the Tessel, for example 192.168.0.100.");
    const QString notValid = QStringLiteral("%1 is not a valid IPv4 address.\r\nType four numbers from 0 to 255 "
                                            "separated by dots, for example 192.168.0.100.");
    // A blank field is the address 0.0.0.0, which names no single device.
    QTest::newRow("blank") << "" << notOne.arg(QStringLiteral("0.0.0.0"));
    QTest::newRow("0.0.0.0") << "0.0.0.0" << notOne.arg(QStringLiteral("0.0.0.0"));
    QTest::newRow("broadcast") << "255.255.255.255" << notOne.arg(QStringLiteral("255.255.255.255"));
    QTest::newRow("multicast") << "224.0.0.1" << notOne.arg(QStringLiteral("224.0.0.1"));
    QTest::newRow("reserved") << "240.1.2.3" << notOne.arg(QStringLiteral("240.1.2.3"));
    QTest::newRow("incomplete") << "127.0." << notValid.arg(QStringLiteral("127.0."));
    QTest::newRow("octet too big") << "127.0.0.300" << notValid.arg(QStringLiteral("127.0.0.300"));
    QTest::newRow("a fourth digit kept") << "127.0.0.1000" << notValid.arg(QStringLiteral("127.0.0.1000"));
    QTest::newRow("999.1.1.1") << "999.1.1.1" << notValid.arg(QStringLiteral("999.1.1.1"));
    QTest::newRow("five numbers") << "127.1.2.3.4" << notValid.arg(QStringLiteral("127.1.2.3.4"));
    QTest::newRow("two dots in a row") << "127.0..2" << notValid.arg(QStringLiteral("127.0..2"));
}

void TestCQorvDlg::refusesATypedAddressThatIsNotOneDevice()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    startSim({TesselSim::makeDevice(0, kDevice1)});
    m_window = makeWindow();
    searchByIp(QStringLiteral("127.0.0.2"));
    QCOMPARE(child<QListWidget>("resultsList")->count(), 1);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    auto* field = child<QLineEdit>("ipAddressEdit");
    field->clear();
    QTest::keyClicks(field, typed);
    QCOMPARE(field->text(), typed); // nothing typed was dropped or changed
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QVERIFY(!m_window->requestInFlight());
    QVERIFY(!m_window->endpoint().isOpen());
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().caption, kTitle);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QCOMPARE(child<QListWidget>("resultsList")->count(), 1); // nothing was started, nothing cleared
    QTest::qWait(50);
    QCOMPARE(handled.count(), 0);
}

void TestCQorvDlg::readByMacHandsOverTheRecordWithItsAnswer()
{
    startSim(
        {TesselSim::makeDevice(0, kDevice1), TesselSim::makeDevice(1, kDevice2), TesselSim::makeDevice(2, kDevice3)});
    m_window = makeWindow();
    search();
    clickRow(1);
    const EnvRecord listed = m_window->endpoint().record(1);
    QCOMPARE(m_window->remoteAddress(), listed.sourceAddress()); // a user's selection copies sourceAddress
    m_sim->device(1).record.setComment("read after the search");

    QSignalSpy ticks(&m_window->requestTimer(), &QTimer::timeout);
    QTest::mouseClick(child<QPushButton>("readButton"), Qt::LeftButton);
    QCOMPARE(m_window->endpoint().command(), 2);
    QVERIFY(!m_window->isEnabled());
    QCOMPARE(m_window->messageWindow().text(),
             QStringLiteral("Reading the environment variables of the Tessel…\r\nMAC address 02:7e:55:00:00:02"));
    QTRY_COMPARE_WITH_TIMEOUT(m_handOver.editorCalls, 1, 3000);
    // The device here answers at once: the editor opens with the answer, before the first 200 ms tick.
    QCOMPARE(ticks.size(), 0);
    QCOMPARE(QString::fromStdString(m_handOver.record.macText()), QStringLiteral("02:7e:55:00:00:02"));
    QCOMPARE(m_handOver.record.comment(), std::string("read after the search"));
    QCOMPARE(m_handOver.mode, CQorvDlg::kModeMac);
    QCOMPARE(m_handOver.remoteAddress, listed.sourceAddress());
    QVERIFY(m_window->isEnabled());
    QVERIFY(!m_window->messageWindow().isVisible());
    auto* list = child<QListWidget>("resultsList");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(1)->text(), QStringLiteral("02:7e:55:00:00:02"));
    QCOMPARE(m_window->endpoint().count(), 3);
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCQorvDlg::readByIpHandsOverModeAndRemoteAddress()
{
    startSim({TesselSim::makeDevice(0, kDevice1), TesselSim::makeDevice(1, kDevice2)});
    m_window = makeWindow();
    searchByIp(QStringLiteral("127.0.0.3"));
    QTest::mouseClick(child<QPushButton>("readButton"), Qt::LeftButton);
    QCOMPARE(m_window->messageWindow().text(),
             QStringLiteral("Reading the environment variables of the Tessel…\r\nIP address 127.0.0.3"));
    QTRY_COMPARE_WITH_TIMEOUT(m_handOver.editorCalls, 1, 3000);
    QCOMPARE(m_handOver.mode, CQorvDlg::kModeIp);
    QCOMPARE(m_handOver.remoteAddress, kDevice2);
    QCOMPARE(m_handOver.record.ipAddress(), kDevice2);
    QCOMPARE(m_window->endpoint().record(0).sourceAddress(), kDevice2);
    QCOMPARE(child<QListWidget>("resultsList")->count(), 1);
}

void TestCQorvDlg::readWithoutAnswerShowsString166AndOpensNoEditor()
{
    startSim({TesselSim::makeDevice(0, kDevice1)});
    m_window = makeWindow();
    searchByIp(QStringLiteral("127.0.0.2"));
    SimFaults faults;
    faults.dropShare = 1.0;
    m_sim->setFaults(faults);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(child<QPushButton>("readButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 4000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 1850 && elapsed < 3500, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_handOver.editorCalls, 0);
    // One message (the search before it showed none): string 166, stop icon, the program title.
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, kNoResponse);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QCOMPARE(m_services->messages.last().caption, kTitle);
    QCOMPARE(m_services->messages.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(child<QListWidget>("resultsList")->count(), 1); // the list still holds the device
    QVERIFY(child<QPushButton>("readButton")->isEnabled());
}

void TestCQorvDlg::modeSwitchEmptiesListAndTable()
{
    startSim({TesselSim::makeDevice(0, kDevice1)});
    m_window = makeWindow();
    searchByIp(QStringLiteral("127.0.0.2"));
    QCOMPARE(m_window->endpoint().count(), 1);
    QTest::mouseClick(child<QRadioButton>("macRadio"), Qt::LeftButton);
    QCOMPARE(m_window->mode(), CQorvDlg::kModeMac);
    QCOMPARE(child<QListWidget>("resultsList")->count(), 0);
    QCOMPARE(m_window->endpoint().count(), 0);
    QCOMPARE(m_window->endpoint().limit(), 256);
    QVERIFY(m_window->endpoint().record(0) == EnvRecord::defaultRecord());
    QVERIFY(!child<QLineEdit>("ipAddressEdit")->isEnabled());
    QVERIFY(child<QPushButton>("readButton")->isEnabled()); // Read keeps its state
    QTest::mouseClick(child<QRadioButton>("ipRadio"), Qt::LeftButton);
    QCOMPARE(m_window->mode(), CQorvDlg::kModeIp);
    QVERIFY(child<QLineEdit>("ipAddressEdit")->isEnabled());
    // Clicking the radio already chosen resets as well.
    searchByIp(QStringLiteral("127.0.0.2"));
    QCOMPARE(child<QListWidget>("resultsList")->count(), 1);
    QTest::mouseClick(child<QRadioButton>("ipRadio"), Qt::LeftButton);
    QCOMPARE(child<QListWidget>("resultsList")->count(), 0);
    QCOMPARE(m_window->endpoint().count(), 0);
}

void TestCQorvDlg::titleShowsAValidStoredBinding_data()
{
    QTest::addColumn<QString>("storedAdapter");
    QTest::addColumn<uint>("storedAddress");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("bound");
    QTest::newRow("no binding") << "" << 0u << kTitle << false;
    QTest::newRow("valid binding") << "eth0" << 0xC0A8000Au
                                   << kTitle + QStringLiteral(" [192.168.0.10-eth0 — Ethernet]") << true;
    QTest::newRow("adapter missing") << "usb9" << 0xC0A8000Au << kTitle << false;
    QTest::newRow("address no longer on the adapter") << "eth0" << 0xC0A80063u << kTitle << false;
}

void TestCQorvDlg::titleShowsAValidStoredBinding()
{
    QFETCH(QString, storedAdapter);
    QFETCH(uint, storedAddress);
    QFETCH(QString, title);
    QFETCH(bool, bound);
    m_services->adapters.setAdapters({guitest::adapter(QStringLiteral("eth0"), QStringLiteral("eth0 — Ethernet"),
                                                       {QStringLiteral("192.168.0.10")})});
    m_services->profile.setBinding(storedAdapter, storedAddress);
    const QVariant storedIp = m_services->profile.settings().value(QStringLiteral("BINDING/IP"));
    m_window = makeWindow();
    QCOMPARE(m_window->windowTitle(), title);
    QCOMPARE(m_binding.isBound(), bound);
    QCOMPARE(m_binding.adapterName, bound ? storedAdapter : QString());
    QCOMPARE(m_binding.address, bound ? storedAddress : 0u);
    // An invalid binding is dropped for this run only: the profile keeps its values.
    QCOMPARE(m_services->profile.bindingAdapter(), storedAdapter);
    QCOMPARE(m_services->profile.settings().value(QStringLiteral("BINDING/IP")), storedIp);
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCQorvDlg::searchUsesTheBoundAddress()
{
    // 192.0.2.1 (TEST-NET-1) is on no adapter of this machine: a socket bound to it cannot open.
    m_services->adapters.setAdapters(
        {guitest::adapter(QStringLiteral("doc0"), QStringLiteral("doc0 — Ethernet"), {QStringLiteral("192.0.2.1")})});
    m_services->profile.setBinding(QStringLiteral("doc0"), 0xC0000201);
    m_window = makeWindow();
    QCOMPARE(m_binding.address, 0xC0000201u);
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QVERIFY(!m_window->requestInFlight());
    QVERIFY(m_window->isEnabled());
    QVERIFY(!m_window->messageWindow().isVisible());
    QCOMPARE(m_services->messages.shown().size(), 1);
    // The program's text, then the address tried and the system's reason on a second line.
    const QStringList lines = m_services->messages.last().text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("SOCK_DGRAM: can't open socket"));
    QVERIFY2(lines[1].startsWith(QStringLiteral("bind 192.0.2.1")), qPrintable(lines[1]));
    QVERIFY2(
        lines[1].endsWith(
            QStringLiteral(": [%1] %2").arg(EADDRNOTAVAIL).arg(QString::fromLocal8Bit(std::strerror(EADDRNOTAVAIL)))),
        qPrintable(lines[1]));
    QCOMPARE(m_services->messages.last().caption, QStringLiteral("CormapMP"));
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
}

void TestCQorvDlg::bindingMenuIsInAButtonAndTheContextMenu()
{
    m_window = makeWindow();
    QAction* action = m_window->bindingAction();
    QVERIFY(action);
    QCOMPARE(action->text(), QStringLiteral("Select binding IP"));
    QCOMPARE(action->data().toInt(), CQorvDlg::kIdBindingCommand);
    auto* button = child<QToolButton>("bindingMenuButton");
    QVERIFY(button->isVisible());
    QVERIFY(button->menu());
    QVERIFY(button->menu()->actions().contains(action));
    QCOMPARE(button->popupMode(), QToolButton::InstantPopup);
    QVERIFY(!button->toolTip().isEmpty());
    QCOMPARE(m_window->contextMenuPolicy(), Qt::ActionsContextMenu);
    QVERIFY(m_window->actions().contains(action));
}

void TestCQorvDlg::bindingDialogOkStoresTheBinding_data()
{
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("storedAdapter");
    QTest::addColumn<qlonglong>("storedIp");
    QTest::newRow("unticked: unbound") << false << kTitle << QString() << 0LL;
    QTest::newRow("ticked: bound") << true << kTitle + QStringLiteral(" [10.0.0.7-eth1 — Ethernet]")
                                   << QStringLiteral("eth1") << qlonglong(10 + 16777216LL * 7);
}

void TestCQorvDlg::bindingDialogOkStoresTheBinding()
{
    QFETCH(bool, tick);
    QFETCH(QString, title);
    QFETCH(QString, storedAdapter);
    QFETCH(qlonglong, storedIp);
    m_services->adapters.setAdapters(
        {guitest::adapter(QStringLiteral("eth0"), QStringLiteral("eth0 — Ethernet"), {QStringLiteral("192.168.0.10")}),
         guitest::adapter(QStringLiteral("eth1"), QStringLiteral("eth1 — Ethernet"),
                          {QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.7")})});
    m_services->profile.setBinding(QStringLiteral("eth0"), 0xC0A8000A);
    m_window = makeWindow();
    QCOMPARE(m_window->windowTitle(), kTitle + QStringLiteral(" [192.168.0.10-eth0 — Ethernet]"));

    bool presetSeen = false;
    const auto watch = guitest::whenShown<CBindDlg>([&](CBindDlg* dialog) {
        auto* use = dialog->findChild<QCheckBox*>(QStringLiteral("useCheckBox"));
        auto* adapters = dialog->findChild<QListWidget*>(QStringLiteral("adapterList"));
        auto* addresses = dialog->findChild<QListWidget*>(QStringLiteral("addressList"));
        presetSeen = use->isChecked() && adapters->currentRow() == 0 && addresses->currentRow() == 0;
        if (tick) {
            adapters->setCurrentRow(1);
            addresses->setCurrentRow(1);
        } else {
            guitest::clickCheckBox(use);
        }
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
    });
    m_window->bindingAction()->trigger();
    QVERIFY(presetSeen);
    QCOMPARE(m_window->windowTitle(), title);
    QCOMPARE(m_binding.adapterName, storedAdapter);
    QCOMPARE(m_services->profile.bindingAdapter(), storedAdapter);
    QCOMPARE(m_services->profile.settings().value(QStringLiteral("BINDING/IP")).toLongLong(), storedIp);
}

void TestCQorvDlg::firmwareGetsProductCodeAndTargetAddress()
{
    startSim({TesselSim::makeDevice(0, kDevice1), TesselSim::makeDevice(1, kDevice2)});
    m_window = makeWindow();
    QTest::mouseClick(child<QPushButton>("firmwareButton"), Qt::LeftButton);
    QCOMPARE(m_handOver.firmwareCalls, 1);
    QCOMPARE(m_handOver.productCode, 0); // nothing selected
    QCOMPARE(m_handOver.targetAddress, 0u);
    searchByIp(QStringLiteral("127.0.0.3"));
    QTest::mouseClick(child<QPushButton>("firmwareButton"), Qt::LeftButton);
    QCOMPARE(m_handOver.firmwareCalls, 2);
    const EnvRecord& record = m_window->endpoint().record(0);
    QCOMPARE(m_handOver.productCode, record.productId() >> 3);
    QVERIFY(m_handOver.productCode != 0);
    QCOMPARE(m_handOver.targetAddress, kDevice2);
}

void TestCQorvDlg::firewallWithoutAToolSaysFileNotFound()
{
    m_window = makeWindow();
    QTest::mouseClick(child<QPushButton>("firewallButton"), Qt::LeftButton);
    QCOMPARE(m_services->messages.shown().size(), 1);
    // The platform's text, then the tools that were looked for.
    QCOMPARE(m_services->messages.last().text,
             QStringLiteral("The specified file was not found.\r\nLooked for: cormap-test-no-such-firewall-tool"));
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QCOMPARE(m_services->messages.last().caption, QStringLiteral("CormapMP"));
    QCOMPARE(m_services->messages.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void TestCQorvDlg::firewallStartsTheFirstInstalledTool()
{
    QStringList started;
    FirewallLauncher firewall(
        FirewallLauncher::desktopTools(),
        [](const QString& program) {
            return program == QStringLiteral("gufw") || program == QStringLiteral("kcmshell5")
                       ? QStringLiteral("/usr/bin/") + program
                       : QString();
        },
        [&](const QString& path, const QStringList& arguments) {
            started << path + u' ' + arguments.join(u' ');
            return true;
        });
    guitest::Services& s = *m_services;
    const AppContext context{s.strings, s.messages, s.files, s.adapters, s.profile, firewall, s.network, s.language};
    CQorvDlg window(context, m_binding);
    window.show();
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("firewallButton")), Qt::LeftButton);
    QCOMPARE(started, QStringList{u"/usr/bin/gufw "_s});
    QVERIFY(s.messages.shown().isEmpty());
}

void TestCQorvDlg::asksBeforeExit_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("answer");
    for (const char* how : {"exit button", "escape key", "close box"}) {
        QTest::addRow("%s, Yes", how) << QString::fromLatin1(how) << int(QMessageBox::Yes);
        QTest::addRow("%s, No", how) << QString::fromLatin1(how) << int(QMessageBox::No);
    }
}

void TestCQorvDlg::asksBeforeExit()
{
    QFETCH(QString, how);
    QFETCH(int, answer);
    m_window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_services->messages.setNextAnswer(QMessageBox::StandardButton(answer));
    if (how == QStringLiteral("exit button"))
        QTest::mouseClick(child<QPushButton>("exitButton"), Qt::LeftButton);
    else if (how == QStringLiteral("escape key"))
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
    else
        m_window->close();
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, QStringLiteral("Are you sure to exit the program?"));
    QCOMPARE(shown.caption, kTitle);
    QCOMPARE(shown.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(m_window->isVisible(), answer == QMessageBox::No);
}

void TestCQorvDlg::typedAddressIsUsedAsShown_data()
{
    QTest::addColumn<QString>("keys");  // typed key by key
    QTest::addColumn<QString>("shown"); // what the field then shows: keys it refuses are not taken
    QTest::addColumn<QString>("listed");
    QTest::newRow("plain") << "127.0.0.3"
                           << "127.0.0.3"
                           << "127.0.0.3";
    QTest::newRow("letters and spaces refused as typed") << "127.0.0.3 x"
                                                         << "127.0.0.3"
                                                         << "127.0.0.3";
    QTest::newRow("a minus refused as typed") << "-127.0.0.3"
                                              << "127.0.0.3"
                                              << "127.0.0.3";
}

void TestCQorvDlg::typedAddressIsUsedAsShown()
{
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(QString, listed);
    startSim({TesselSim::makeDevice(0, kDevice1), TesselSim::makeDevice(1, kDevice2)});
    m_window = makeWindow();
    QTest::mouseClick(child<QRadioButton>("ipRadio"), Qt::LeftButton);
    auto* field = child<QLineEdit>("ipAddressEdit");
    QTest::keyClicks(field, keys);
    QCOMPARE(field->text(), shown);
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
    QVERIFY(m_services->messages.shown().isEmpty());
    QCOMPARE(ipv4::dotted(m_window->remoteAddress()), listed);
    auto* list = child<QListWidget>("resultsList");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), listed);
}

void TestCQorvDlg::addressTextsAsTheReaderTakesThem_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<quint32>("address");
    for (const fieldtables::AddressText& t : fieldtables::addressTexts())
        QTest::newRow(t.name) << t.typed << t.address.has_value() << quint32(t.address.value_or(0));
}

void TestCQorvDlg::addressTextsAsTheReaderTakesThem()
{
    QFETCH(QString, typed);
    QFETCH(bool, taken);
    QFETCH(quint32, address);
    startSim({TesselSim::makeDevice(0, kDevice1)});
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    m_window = makeWindow();
    QTest::mouseClick(child<QRadioButton>("ipRadio"), Qt::LeftButton);
    auto* field = child<QLineEdit>("ipAddressEdit");
    field->setText(typed); // as pasted: the reader, not the field's key filter, judges it
    QTest::mouseClick(child<QPushButton>("searchButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
    auto* list = child<QListWidget>("resultsList");
    if (taken) {
        QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), ipv4::dotted(address));
        return;
    }
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text,
             u"%1 is not a valid IPv4 address.\r\nType four numbers from 0 to 255 separated by dots, for example "
             "192.168.0.100."_s.arg(typed));
    QCOMPARE(list->count(), 0);
    QCOMPARE(handled.count(), 0);
}

void TestCQorvDlg::modeFollowsTheRadioHoweverItIsChecked_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("accessibility toggle action") << "toggle";
    QTest::newRow("accessibility press action") << "press";
    QTest::newRow("checked by a program") << "setChecked";
}

void TestCQorvDlg::modeFollowsTheRadioHoweverItIsChecked()
{
    QFETCH(QString, how);
    startSim({TesselSim::makeDevice(0, kDevice1)});
    m_window = makeWindow();
    m_window->show();
    search();
    QCOMPARE(child<QListWidget>("resultsList")->count(), 1);
    auto* ip = child<QRadioButton>("ipRadio");
    if (how == u"setChecked") {
        ip->setChecked(true);
    } else {
        QAccessibleInterface* radio = QAccessible::queryAccessibleInterface(ip);
        QVERIFY(radio && radio->actionInterface());
        radio->actionInterface()->doAction(how == u"toggle" ? QAccessibleActionInterface::toggleAction()
                                                            : QAccessibleActionInterface::pressAction());
    }
    QTRY_VERIFY(ip->isChecked());
    QCOMPARE(m_window->mode(), CQorvDlg::kModeIp);
    QVERIFY(child<QLineEdit>("ipAddressEdit")->isEnabled());
    QCOMPARE(child<QListWidget>("resultsList")->count(), 0);
    QCOMPARE(m_window->endpoint().count(), 0);
}

void TestCQorvDlg::layoutAloneSizesTheWindowWhateverTheTitle()
{
    // Binding an adapter with a long description, then one with a short one: the title changes, the
    // window's size does not (a long title is the window manager's to elide).
    m_services->adapters.setAdapters({guitest::adapter(u"eth0"_s, u"eth0 — "_s + QString(150, u'W'), {u"127.0.0.1"_s}),
                                      guitest::adapter(u"lo"_s, u"lo"_s, {u"127.0.0.1"_s})});
    m_window = makeWindow();
    m_window->show();
    const QSize before = m_window->size();
    for (const int adapterRow : {0, 1}) {
        auto watcher = guitest::whenShown<CBindDlg>([adapterRow](CBindDlg* dialog) {
            dialog->findChild<QCheckBox*>(u"useCheckBox"_s)->setChecked(true);
            dialog->findChild<QListWidget*>(u"adapterList"_s)->setCurrentRow(adapterRow);
            dialog->findChild<QListWidget*>(u"addressList"_s)->setCurrentRow(0);
            dialog->accept();
        });
        m_window->bindingAction()->trigger();
        QVERIFY(m_window->windowTitle().contains(adapterRow == 0 ? u"WWWW"_s : u"127.0.0.1-lo]"_s));
        QCOMPARE(m_window->size(), before);
    }
}

QTEST_MAIN(TestCQorvDlg)
#include "tst_cqorvdlg.moc"
