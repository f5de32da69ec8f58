// The settings editor never says something untrue about its device and never drops what the user typed:
// a late answer to one request is not taken for the next, the form keeps the user's edits through every
// request that is not a Read or a successful Write. Driven offscreen against simulated devices on the
// loopback profile (device port 53435, this program's own).
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "config/CQorv400Dlg.h"
#include "gui/Ipv4AddressEdit.h"
#include "status/CStatDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 53435;
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2
const QString kNoResponse =
    u"No response from the Tessel(s).\r\nPlease check the LAN cable and the setting of the firewall on your PC."_s;

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}
} // namespace

class TestEditorTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void statusRightAfterAnUnansweredWriteShowsTheDevicesReport_data();
    void statusRightAfterAnUnansweredWriteShowsTheDevicesReport();

private:
    void startSim(const SimDevice& device);
    void openEditor(int mode);
    void request(const char* button);

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestEditorTrust::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestEditorTrust::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestEditorTrust::cleanup()
{
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
}

void TestEditorTrust::startSim(const SimDevice& device)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestEditorTrust::openEditor(int mode)
{
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, m_sim->device(0).record, mode,
                                             kDeviceAddress);
    m_editor->show();
    m_editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_editor.get()));
    m_services->messages.clearShown();
}

void TestEditorTrust::request(const char* button)
{
    QTest::mouseClick(m_editor->findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 8000);
}

void TestEditorTrust::statusRightAfterAnUnansweredWriteShowsTheDevicesReport_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("remote") << CQorv400Dlg::kModeRemote;
    QTest::newRow("local") << CQorv400Dlg::kModeLocal;
}

void TestEditorTrust::statusRightAfterAnUnansweredWriteShowsTheDevicesReport()
{
    // The device answers after 1.2 s: after the write has stopped waiting (1 s), within the status wait.
    QFETCH(int, mode);
    startSim(TesselSim::makeDevice(0, kDeviceAddress));
    SimFaults late;
    late.delayMs = 1200;
    m_sim->setFaults(late);
    openEditor(mode);
    request("writeButton");
    QCOMPARE(m_services->messages.last().text, kNoResponse);
    m_services->messages.clearShown();
    status::StatusFields seen;
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg* dialog) {
        seen = dialog->fields();
        dialog->accept();
    });
    request("statusButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(seen[status::Field::Mac], u"02:7E:55:00:00:01"_s.toLower());
    QCOMPARE(seen[status::Field::LocalIp], u"127.0.0.2"_s);
    QVERIFY(!seen[status::Field::Version].isEmpty());
}

QTEST_MAIN(TestEditorTrust)
#include "tst_editortrust.moc"
