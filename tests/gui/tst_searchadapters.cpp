// The search window with broadcasts from every adapter, and its list saved as CSV: driven offscreen
// against simulated devices on the loopback profile (device port 52319, this program's own), where every
// adapter means the loopback adapter alone.
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "app/CBindDlg.h"
#include "app/CQorvDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52319;
const QString kTitle = u"CormapMP v4.1F (2013/06/04)"_s;
const QString kEveryAdapterTitle = kTitle + u" [All network adapters]"_s;
const QString kReservedName = u":every-adapter"_s;

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

template <typename T> T* childOf(QObject* parent, const char* name)
{
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}
} // namespace

class TestSearchAdapters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyAdapterChosenInTheDialogIsTitledAndStored();
    void storedEveryAdapterIsTitledAtStartAndPresetInTheDialog();
    void oneAdapterAgainReplacesEveryAdapter();
    void searchFromEveryAdapterOnLoopbackUsesTheLoopbackAdapterAlone();
    void saveListWritesTheDevicesAsCsv();
    void saveListIsOfferedOnlyWithDevicesListed();
    void saveListThatCannotBeWrittenNamesTheFile();

private:
    void makeWindow();
    void startSim(int devices);
    void search();

    QTemporaryDir m_profileDir;
    QTemporaryDir m_files;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorvDlg> m_window;
    AdapterBinding m_binding;
};

void TestSearchAdapters::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestSearchAdapters::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
    m_services->profile.settings().clear();
    m_services->adapters.setAdapters({guitest::adapter(u"eth0"_s, u"eth0 — Ethernet"_s, {u"192.168.0.10"_s}),
                                      guitest::adapter(u"wlan0"_s, u"wlan0 — Wi-Fi"_s, {u"10.0.0.5"_s})});
    m_binding = {};
}

void TestSearchAdapters::cleanup()
{
    m_window.reset();
    m_sim.reset();
    m_services.reset();
}

void TestSearchAdapters::makeWindow()
{
    m_window = std::make_unique<CQorvDlg>(m_services->context(), m_binding);
    m_window->show();
}

void TestSearchAdapters::startSim(int devices)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(devices);
}

void TestSearchAdapters::search()
{
    QString error;
    if (!m_sim->isRunning())
        QVERIFY2(m_sim->start(&error), qPrintable(error));
    QTest::mouseClick(childOf<QPushButton>(m_window.get(), "searchButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
}

void TestSearchAdapters::everyAdapterChosenInTheDialogIsTitledAndStored()
{
    makeWindow();
    QCOMPARE(m_window->windowTitle(), kTitle);
    bool excluded = false;
    const auto watch = guitest::whenShown<CBindDlg>([&](CBindDlg* dialog) {
        auto* use = childOf<QCheckBox>(dialog, "useCheckBox");
        auto* every = childOf<QCheckBox>(dialog, "everyAdapterCheckBox");
        QCOMPARE(every->text(), u"Send broadcasts from &all network adapters at once"_s);
        guitest::clickCheckBox(use);
        guitest::clickCheckBox(every);
        // The two choices exclude each other; with every adapter no list is to be chosen from.
        excluded = every->isChecked() && !use->isChecked() && !childOf<QListWidget>(dialog, "adapterList")->isEnabled();
        QTest::mouseClick(childOf<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    });
    m_window->bindingAction()->trigger();
    QVERIFY(excluded);
    QCOMPARE(m_window->windowTitle(), kEveryAdapterTitle);
    QVERIFY(m_binding.isEveryAdapter());
    QCOMPARE(m_services->profile.bindingAdapter(), kReservedName);
    QCOMPARE(m_services->profile.settings().value(u"BINDING/IP"_s).toLongLong(), 0LL);
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestSearchAdapters::storedEveryAdapterIsTitledAtStartAndPresetInTheDialog()
{
    m_services->profile.setBinding(kReservedName, 0);
    makeWindow();
    QCOMPARE(m_window->windowTitle(), kEveryAdapterTitle);
    QVERIFY(m_binding.isEveryAdapter());
    bool preset = false;
    const auto watch = guitest::whenShown<CBindDlg>([&](CBindDlg* dialog) {
        preset = childOf<QCheckBox>(dialog, "everyAdapterCheckBox")->isChecked() &&
                 !childOf<QCheckBox>(dialog, "useCheckBox")->isChecked();
        QTest::mouseClick(childOf<QPushButton>(dialog, "cancelButton"), Qt::LeftButton);
    });
    m_window->bindingAction()->trigger();
    QVERIFY(preset);
    QCOMPARE(m_window->windowTitle(), kEveryAdapterTitle);
    QCOMPARE(m_services->profile.bindingAdapter(), kReservedName);
}

void TestSearchAdapters::oneAdapterAgainReplacesEveryAdapter()
{
    m_services->profile.setBinding(kReservedName, 0);
    makeWindow();
    const auto watch = guitest::whenShown<CBindDlg>([&](CBindDlg* dialog) {
        guitest::clickCheckBox(childOf<QCheckBox>(dialog, "useCheckBox"));
        childOf<QListWidget>(dialog, "adapterList")->setCurrentRow(1);
        childOf<QListWidget>(dialog, "addressList")->setCurrentRow(0);
        QTest::mouseClick(childOf<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    });
    m_window->bindingAction()->trigger();
    QCOMPARE(m_window->windowTitle(), kTitle + u" [10.0.0.5-wlan0 — Wi-Fi]"_s);
    QVERIFY(!m_binding.isEveryAdapter());
    QCOMPARE(m_services->profile.bindingAdapter(), u"wlan0"_s);
}

void TestSearchAdapters::searchFromEveryAdapterOnLoopbackUsesTheLoopbackAdapterAlone()
{
    m_services->profile.setBinding(kReservedName, 0);
    startSim(3);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    makeWindow();
    QTest::mouseClick(childOf<QPushButton>(m_window.get(), "searchButton"), Qt::LeftButton);
    // One socket, on the loopback adapter: nothing is broadcast on the machine's networks.
    QVERIFY(m_window->requestInFlight());
    QCOMPARE(m_window->endpoint().openSocketCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->requestInFlight(), 5000);
    auto* list = childOf<QListWidget>(m_window.get(), "resultsList");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(2)->text(), u"02:7e:55:00:00:03"_s);
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestSearchAdapters::saveListWritesTheDevicesAsCsv()
{
    startSim(2);
    m_sim->device(1).record.setComment("Lab, \"north\" caf\xE9");
    makeWindow();
    search();
    const QString path = m_files.filePath(u"devices.csv"_s);
    m_services->files.setNextFileName(path);
    m_window->saveListAction()->trigger();
    QCOMPARE(m_services->files.requests().size(), 1);
    const FileService::Request asked = m_services->files.requests().constFirst();
    QVERIFY(asked.save);
    QCOMPARE(asked.caption, u"Save list"_s);
    QCOMPARE(asked.filter, u"CSV files (*.csv)"_s);
    QCOMPARE(asked.defaultSuffix, u"csv"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // A UTF-8 byte order mark, the header, then the devices as listed; 0xE9 is "é" in UTF-8 (C3 A9).
    QCOMPARE(file.readAll(),
             QByteArray("\xEF\xBB\xBF"
                        "MAC,IP address,Product,Comment,Source address,Adapter\r\n"
                        "02:7e:55:00:00:01,127.0.0.2,8,Tessel sim 1,127.0.0.2,lo\r\n"
                        "02:7e:55:00:00:02,127.0.0.3,8,\"Lab, \"\"north\"\" caf\xC3\xA9\",127.0.0.3,lo\r\n"));
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestSearchAdapters::saveListIsOfferedOnlyWithDevicesListed()
{
    startSim(1);
    makeWindow();
    QCOMPARE(m_window->saveListAction()->text(), u"&Save list…"_s);
    QVERIFY(!m_window->saveListAction()->isEnabled());
    search();
    QVERIFY(m_window->saveListAction()->isEnabled());
    // Switching the mode empties the list: nothing to save then.
    QTest::mouseClick(childOf<QWidget>(m_window.get(), "ipRadio"), Qt::LeftButton);
    QVERIFY(!m_window->saveListAction()->isEnabled());
}

void TestSearchAdapters::saveListThatCannotBeWrittenNamesTheFile()
{
    startSim(1);
    makeWindow();
    search();
    const QString path = m_files.filePath(u"no-such-folder/devices.csv"_s);
    m_services->files.setNextFileName(path);
    m_window->saveListAction()->trigger();
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage message = m_services->messages.last();
    QVERIFY2(message.text.startsWith(u"The list could not be saved to %1.\r\n"_s.arg(path)), qPrintable(message.text));
    QVERIFY(message.text.size() > u"The list could not be saved to %1.\r\n"_s.arg(path).size());
    QCOMPARE(message.caption, kTitle);
    QCOMPARE(message.icon, QMessageBox::Critical);
    QVERIFY(!QFile::exists(path));
}

QTEST_MAIN(TestSearchAdapters)
#include "tst_searchadapters.moc"
