// The settings editor, driven offscreen against simulated devices on the loopback profile
// (device port 52405, this program's own).
#include "GuiTestSupport.h"

#include "DeviceLogic.h"
#include "FieldTables.h"
#include "SimExchange.h"
#include "TesselSim.h"
#include "gui/editor/CPppoeDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/CMsgDlg.h"
#include "gui/Ipv4AddressEdit.h"
#include "gui/status/CStatDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52405;
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2
const QString kTitle = u"CormapMP v4.1F (2013/06/04)"_s;
const QString kNoResponse =
    u"No response from the Tessel(s).\r\nPlease check the LAN cable and the setting of the firewall on your PC."_s;

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

/** A device whose record exercises every byte: uninterpreted ranges filled with a pattern, COM2 at
 *  230400 baud, COM3 with flow-control code 3, an account, a comment. */
SimDevice richDevice()
{
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    EnvRecord& r = device.record;
    auto& raw = r.raw();
    const std::pair<int, int> uninterpreted[] = {{6, 12}, {14, 16}, {120, 152}, {156, 316}, {412, 512}};
    for (const auto& [from, to] : uninterpreted) {
        for (int i = from; i < to; ++i)
            raw[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    // Not interpreted in the option word: bits 0, 4, 5, 8, 12 and 16..31; and each port's bytes 2..3
    // and bit 7 of its serial format.
    r.setFlags(r.flags() | 0x1u | 0x30u | 0x100u | 0x1000u | 0xA5A50000u);
    for (int p = 0; p < EnvRecord::kPortCount; ++p) {
        EnvPortBlock block = r.port(p);
        block.raw()[2] = static_cast<std::uint8_t>(0xC0 + p);
        block.raw()[3] = static_cast<std::uint8_t>(0x3C + p);
        block.setSerialFormat(static_cast<std::uint8_t>(block.serialFormat() | 0x80));
        block.setTimeout(static_cast<std::uint16_t>(60 * (p + 1)));
        r.setPort(p, block);
    }
    EnvPortBlock com2 = r.port(1);
    com2.setBaudRate(230400);
    r.setPort(1, com2);
    EnvPortBlock com3 = r.port(2);
    com3.setFlowControl(3);
    r.setPort(2, com3);
    r.setAccountId("user@isp");
    r.setAccountPassword("acctpw");
    r.setSourceAddress(kDeviceAddress);
    return device;
}
} // namespace

class TestCQorv400Dlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsTheRecordInItsControls();
    void unchangedRecordWrittenBackArrivesByteForByte_data();
    void unchangedRecordWrittenBackArrivesByteForByte();
    void changedFieldsReachTheDeviceAtTheirOffsets();
    void portFieldsFollowTheCommunicationMode_data();
    void portFieldsFollowTheCommunicationMode();
    void multiIpWithDhcpSwitchesToStaticWithAMessage();
    void eapolMd5WithPppoeSwitchesToStaticWithoutAMessage();
    void dhcpClearsTheAddressesAndStaticRestoresThemFromTheTable();
    void dhcpWriteKeepsTheDevicesAddresses();
    void unknownModeShowsNoSelectionAndIsWrittenAsAllOnes();
    void capabilitiesEnableCommentAndRemoteSearch_data();
    void capabilitiesEnableCommentAndRemoteSearch();
    void writeWithAnInvalidFieldSendsNothing_data();
    void writeWithAnInvalidFieldSendsNothing();
    void writeRefusedForThePasswordEmptiesThePasswordBox();
    void writeAcceptedKeepsThePasswordBoxAndItsHashReachesTheDevice();
    void writeUnknownResultSaysSo();
    void writeWithoutAnswerEndsAfterTenTicksWithString166();
    void readReloadsTheFormAndShowsTheProgressText_data();
    void readReloadsTheFormAndShowsTheProgressText();
    void statusWithANonZeroResultStillOpensTheReport();
    void commentIsCutToItsWidthWhenLeft();
    void leavingANumberFieldChecksTheForm();
    void titleShowsAValidBinding_data();
    void titleShowsAValidBinding();
    void enterDoesNothingAndEscapeAsksBeforeClosing_data();
    void enterDoesNothingAndEscapeAsksBeforeClosing();

private:
    void startSim(const SimDevice& device);
    void openEditor(int mode = CQorv400Dlg::kModeLocal);
    void click(const char* button);
    /** Clicks a button that sends a request and waits until its reply wait has ended. */
    void request(const char* button);
    template <typename T> T* child(const char* name)
    {
        T* w = m_editor->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    const PortControls& port(int index) const { return m_editor->controls().ports[static_cast<std::size_t>(index)]; }

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
    AdapterBinding m_binding;
};

void TestCQorv400Dlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCQorv400Dlg::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestCQorv400Dlg::cleanup()
{
    m_binding = {};
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
}

void TestCQorv400Dlg::startSim(const SimDevice& device)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCQorv400Dlg::openEditor(int mode)
{
    const EnvRecord record = m_sim->device(0).record;
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), m_binding, record, mode, kDeviceAddress);
    m_editor->show();
    m_editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_editor.get()));
    m_services->messages.clearShown();
}

void TestCQorv400Dlg::click(const char* button)
{
    QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
}

void TestCQorv400Dlg::request(const char* button)
{
    click(button);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
}

void TestCQorv400Dlg::showsTheRecordInItsControls()
{
    startSim(richDevice());
    openEditor();
    const EditorControls& c = m_editor->controls();
    QCOMPARE(m_editor->windowTitle(), kTitle);
    QCOMPARE(c.mac->text(), u"02:7e:55:00:00:01"_s);
    QCOMPARE(c.ipv4Type->currentText(), u"Use static IP address"_s);
    QCOMPARE(c.ipAddress->text(), u"127.0.0.2"_s);
    QCOMPARE(c.subnetMask->text(), u"255.255.255.0"_s);
    QCOMPARE(c.gateway->text(), u"127.0.0.1"_s);
    QCOMPARE(c.multiIp->currentText(), u"Disable"_s);
    QCOMPARE(c.eapol->currentText(), u"Disable"_s);
    QVERIFY(c.arp->isChecked() && c.telnet->isChecked() && c.remoteSearch->isChecked());
    QVERIFY(!c.ssl->isChecked() && !c.ssl->isEnabled());
    QCOMPARE(c.comment->text(), u"Tessel sim 1"_s);
    QCOMPARE(port(0).mode->currentText(), u"ATC - AT Command"_s);
    QCOMPARE(port(1).mode->currentText(), u"T2S - TCP Server"_s);
    QCOMPARE(port(2).mode->currentText(), u"COD - TCP Client"_s);
    QCOMPARE(port(3).mode->currentText(), u"U2S - UDP"_s);
    QCOMPARE(port(1).baudRate->currentText(), u"230400"_s);
    QCOMPARE(port(2).flowControl->currentText(), u"Xon/Xoff"_s);
    QCOMPARE(port(3).peerIp->text(), u"192.168.0.10"_s);
    QCOMPARE(port(3).localPort->text(), u"4004"_s);
    QCOMPARE(port(3).timeout->text(), u"240"_s);
    QCOMPARE(port(0).dataBits->currentText(), u"8"_s);
    QCOMPARE(m_editor->accountDialog().userName(), u"user@isp"_s);
    QCOMPARE(m_editor->accountDialog().password(), u"acctpw"_s);
    QVERIFY(m_editor->accountDialog().retype().isEmpty());
    // The device has no password: the box is empty and cannot be typed in.
    QVERIFY(c.password->text().isEmpty());
    QVERIFY(!c.password->isEnabled());
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCQorv400Dlg::unchangedRecordWrittenBackArrivesByteForByte_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("local, by MAC") << CQorv400Dlg::kModeLocal;
    QTest::newRow("remote, by IP") << CQorv400Dlg::kModeRemote;
}

void TestCQorv400Dlg::unchangedRecordWrittenBackArrivesByteForByte()
{
    QFETCH(int, mode);
    const SimDevice device = richDevice();
    startSim(device);
    openEditor(mode);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    request("writeButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    // The device is read again first (both copies of the request), then written (both copies), then
    // read back (both copies) to see that it holds what was sent.
    QCOMPARE(handled.count(), 6);
    QCOMPARE(handled.at(0).at(1).toInt(), int(frame::kRead));
    QCOMPARE(handled.at(2).at(1).toInt(), int(frame::kWrite));
    QCOMPARE(handled.at(4).at(1).toInt(), int(frame::kRead));
    const auto& before = device.record.raw();
    const auto& after = m_sim->device(0).record.raw();
    for (std::size_t i = 0; i < EnvRecord::kSize; ++i)
        QVERIFY2(before[i] == after[i], qPrintable(u"byte %1: %2 became %3"_s.arg(i).arg(before[i]).arg(after[i])));
}

void TestCQorv400Dlg::changedFieldsReachTheDeviceAtTheirOffsets()
{
    startSim(richDevice());
    openEditor();
    const EditorControls& c = m_editor->controls();
    port(2).peerPort->setText(u"5123"_s); // COM3 is a TCP client: its peer port is in use
    port(0).baudRate->setCurrentIndex(9); // 115200
    port(0).parity->setCurrentIndex(2);   // Even
    port(3).timeout->setText(u"3600"_s);
    port(3).eventByte->setText(u"8192"_s);
    port(2).peerIp->setText(u"127.1.2.3"_s);
    c.ipAddress->setText(u"127.0.0.9"_s);
    c.telnet->setChecked(false);
    c.comment->setText(u"on the bench"_s);
    request("writeButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    const auto& raw = m_sim->device(0).record.raw();
    const auto bytes = [&raw](std::size_t offset, std::size_t n) {
        return QByteArray(reinterpret_cast<const char*>(raw.data() + offset), static_cast<qsizetype>(n)).toHex(' ');
    };
    QCOMPARE(bytes(364 + 14, 2), QByteArray("03 14"));       // COM3 peer port 5123, little-endian
    QCOMPARE(bytes(316 + 16, 4), QByteArray("00 c2 01 00")); // COM1 rate 115200, little-endian
    QCOMPARE((raw[316] >> 3) & 3, 3);                        // COM1 parity Even is code 3
    QCOMPARE(bytes(388 + 20, 2), QByteArray("10 0e"));       // COM4 timeout 3600
    QCOMPARE(bytes(388 + 22, 2), QByteArray("00 20"));       // COM4 event byte 8192
    QCOMPARE(bytes(364 + 8, 4), QByteArray("7f 01 02 03"));  // COM3 peer address, network order
    QCOMPARE(bytes(20, 4), QByteArray("7f 00 00 09"));       // device address, network order
    QCOMPARE(raw[16] & 0x80, 0);                             // telnet off
    QCOMPARE(bytes(88, 13), QByteArray("6f 6e 20 74 68 65 20 62 65 6e 63 68 00"));
}

void TestCQorv400Dlg::portFieldsFollowTheCommunicationMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("multiIp");
    // local address, local port, peer address, peer port, timeout, event byte
    QTest::addColumn<QList<bool>>("enabled");
    for (const fieldtables::ModeUse& m : fieldtables::kModeUse) {
        const QList<bool> fields{false, m.localPort, m.peerIp, m.peerPort, m.timeout, m.waterMark};
        QTest::addRow("%s, Multi IP off", m.name) << m.code << false << fields;
        QList<bool> withMultiIp = fields;
        withMultiIp[0] = true;
        QTest::addRow("%s, Multi IP on", m.name) << m.code << true << withMultiIp;
    }
}

void TestCQorv400Dlg::portFieldsFollowTheCommunicationMode()
{
    QFETCH(int, mode);
    QFETCH(bool, multiIp);
    QFETCH(QList<bool>, enabled);
    startSim(richDevice());
    openEditor();
    m_editor->controls().multiIp->setCurrentIndex(multiIp ? 1 : 0);
    for (int p = 0; p < EnvRecord::kPortCount; ++p) {
        port(p).mode->setCurrentIndex(mode);
        const PortControls& row = port(p);
        const QList<bool> actual{row.localIp->isEnabled(),  row.localPort->isEnabled(), row.peerIp->isEnabled(),
                                 row.peerPort->isEnabled(), row.timeout->isEnabled(),   row.eventByte->isEnabled()};
        QCOMPARE(actual, enabled);
        for (QWidget* serial :
             std::initializer_list<QWidget*>{row.baudRate, row.parity, row.dataBits, row.stopBits, row.flowControl})
            QVERIFY(serial->isEnabled());
    }
}

void TestCQorv400Dlg::multiIpWithDhcpSwitchesToStaticWithAMessage()
{
    startSim(richDevice());
    openEditor();
    const EditorControls& c = m_editor->controls();
    c.ipv4Type->setCurrentIndex(1);
    QVERIFY(m_services->messages.shown().isEmpty());
    c.multiIp->setCurrentIndex(1);
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, u"The IPv4 type will set to static IP when multi IP is enabled."_s);
    QCOMPARE(shown.icon, QMessageBox::Information);
    QCOMPARE(shown.caption, kTitle);
    QCOMPARE(c.ipv4Type->currentIndex(), 0);
    QVERIFY(!c.ipv4Type->isEnabled());
    QVERIFY(!c.eapol->isEnabled());
    for (int p = 0; p < EnvRecord::kPortCount; ++p)
        QVERIFY(port(p).localIp->isEnabled());
    // Switching Multi IP on while the type is already static says nothing.
    c.multiIp->setCurrentIndex(0);
    c.multiIp->setCurrentIndex(1);
    QCOMPARE(m_services->messages.shown().size(), 1);
}

void TestCQorv400Dlg::eapolMd5WithPppoeSwitchesToStaticWithoutAMessage()
{
    startSim(richDevice());
    openEditor();
    const EditorControls& c = m_editor->controls();
    QCOMPARE(c.accountButton->text(), u"PPPoE &ID"_s);
    QVERIFY(!c.accountButton->isEnabled());
    c.ipv4Type->setCurrentIndex(2);
    QVERIFY(c.accountButton->isEnabled());
    c.eapol->setCurrentIndex(1);
    QCOMPARE(c.ipv4Type->currentIndex(), 0);
    QCOMPARE(c.accountButton->text(), u"EAPoL &ID"_s);
    QVERIFY(c.accountButton->isEnabled());
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCQorv400Dlg::dhcpClearsTheAddressesAndStaticRestoresThemFromTheTable()
{
    startSim(richDevice());
    openEditor();
    const EditorControls& c = m_editor->controls();
    c.ipAddress->setText(u"127.0.0.77"_s);
    c.ipv4Type->setCurrentIndex(1);
    for (Ipv4AddressEdit* field : {c.ipAddress, c.subnetMask, c.gateway}) {
        QVERIFY(field->text().isEmpty());
        QVERIFY(!field->isEnabled());
    }
    c.ipv4Type->setCurrentIndex(0);
    QCOMPARE(c.ipAddress->text(), u"127.0.0.2"_s);
    QCOMPARE(c.subnetMask->text(), u"255.255.255.0"_s);
    QCOMPARE(c.gateway->text(), u"127.0.0.1"_s);
    QVERIFY(c.gateway->isEnabled());
    // A gateway cleared with the type static is written as 0.0.0.0 until the next pass refills it.
    c.gateway->clear();
    request("writeButton");
    QCOMPARE(m_sim->device(0).record.gateway(), 0u);
}

void TestCQorv400Dlg::dhcpWriteKeepsTheDevicesAddresses()
{
    startSim(richDevice());
    openEditor();
    m_editor->controls().ipv4Type->setCurrentIndex(EnvRecord::kDhcp);
    QVERIFY(m_editor->controls().ipAddress->text().isEmpty());
    request("writeButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    const auto& raw = m_sim->device(0).record.raw();
    QCOMPARE((raw[16] >> 2) & 3, 1); // DHCP
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(raw.data() + 20), 12).toHex(),
             QByteArray("7f000002ffffff007f000001")); // address, mask and gateway as the device had them
}

void TestCQorv400Dlg::unknownModeShowsNoSelectionAndIsWrittenAsAllOnes()
{
    SimDevice device = richDevice();
    EnvPortBlock com4 = device.record.port(3);
    com4.setMode(7);
    device.record.setPort(3, com4);
    startSim(device);
    openEditor();
    const PortControls& row = port(3);
    QCOMPARE(row.mode->currentIndex(), -1);
    for (QWidget* field : std::initializer_list<QWidget*>{row.localIp, row.localPort, row.peerIp, row.peerPort,
                                                          row.timeout, row.eventByte})
        QVERIFY(!field->isEnabled());
    QVERIFY(row.baudRate->isEnabled());
    request("writeButton");
    QCOMPARE(int(m_sim->device(0).record.raw()[388 + 1]), 255);
}

void TestCQorv400Dlg::capabilitiesEnableCommentAndRemoteSearch_data()
{
    QTest::addColumn<bool>("comment");
    QTest::addColumn<bool>("remoteSearch");
    QTest::newRow("neither") << false << false;
    QTest::newRow("comment only") << true << false;
    QTest::newRow("remote search only") << false << true;
    QTest::newRow("both") << true << true;
}

void TestCQorv400Dlg::capabilitiesEnableCommentAndRemoteSearch()
{
    QFETCH(bool, comment);
    QFETCH(bool, remoteSearch);
    SimDevice device = richDevice();
    device.record.setCommentSupported(comment);
    device.record.setRemoteSearchSupported(remoteSearch);
    startSim(device);
    openEditor();
    const EditorControls& c = m_editor->controls();
    QCOMPARE(c.comment->isEnabled(), comment);
    QCOMPARE(c.remoteSearch->isEnabled(), remoteSearch);
    // A device without a comment shows none, and its comment bytes go back as they came.
    QCOMPARE(c.comment->text(), comment ? u"Tessel sim 1"_s : QString());
    request("writeButton");
    QCOMPARE(m_sim->device(0).record.comment(), std::string("Tessel sim 1"));
}

void TestCQorv400Dlg::writeWithAnInvalidFieldSendsNothing_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    const std::pair<const char*, int> modes[] = {{"local", CQorv400Dlg::kModeLocal},
                                                 {"remote", CQorv400Dlg::kModeRemote}};
    for (const auto& [name, mode] : modes) {
        QTest::addRow("%s: COM2 local port 0", name)
            << mode << u"com2LocalPortEdit"_s << u"0"_s << u"Please enter an integer between 1 and 65534."_s;
        QTest::addRow("%s: COM4 peer port 65535", name)
            << mode << u"com4PeerPortEdit"_s << u"65535"_s << u"Please enter an integer between 1 and 65534."_s;
        QTest::addRow("%s: COM3 timeout 3601", name)
            << mode << u"com3TimeoutEdit"_s << u"3601"_s << u"Please enter an integer between 0 and 3600."_s;
        QTest::addRow("%s: COM3 event byte -1", name)
            << mode << u"com3EventByteEdit"_s << u"-1"_s << u"Please enter an integer between 0 and 8192."_s;
        QTest::addRow("%s: COM4 event byte not a number", name)
            << mode << u"com4EventByteEdit"_s << u"12a"_s << u"Please enter an integer."_s;
        QTest::addRow("%s: COM3 peer address 256", name)
            << mode << u"com3PeerIpEdit"_s << u"127.0.0.256"_s
            << u"127.0.0.256 is not a valid IPv4 address.\r\nType four numbers from 0 to 255 separated by dots, "
               "for example 192.168.0.100."_s;
        QTest::addRow("%s: comment in Hanzi", name)
            << mode << u"commentEdit"_s << u"Café Zürich 東京"_s
            << u"Comment cannot hold these characters: 東京\r\nA Tessel keeps Western European (Latin-1) "
               "characters only."_s;
        QTest::addRow("%s: device address with five numbers", name)
            << mode << u"ipAddressEdit"_s << u"127.1.2.3.4"_s
            << u"127.1.2.3.4 is not a valid IPv4 address.\r\nType four numbers from 0 to 255 separated by dots, "
               "for example 192.168.0.100."_s;
    }
}

void TestCQorv400Dlg::writeWithAnInvalidFieldSendsNothing()
{
    QFETCH(int, mode);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    startSim(richDevice());
    openEditor(mode);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    auto* edit = m_editor->findChild<QLineEdit*>(field);
    QVERIFY(edit);
    edit->setText(typed);
    click("writeButton");
    QVERIFY(!m_editor->requestInFlight());
    QVERIFY(!m_editor->endpoint().isOpen());
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, message);
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shown.caption, kTitle);
    // The field at fault is in use, so the user can reach it: the focus goes there.
    QVERIFY(edit->isEnabled());
    QCOMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(edit->text(), typed);
    QVERIFY(simtest::drain(*m_sim)); // a request sent, were there one, has been handled by now
    QCOMPARE(handled.count(), 0);
}

void TestCQorv400Dlg::writeRefusedForThePasswordEmptiesThePasswordBox()
{
    SimDevice device = richDevice();
    device.setPassword("secret");
    startSim(device);
    openEditor();
    QLineEdit* password = m_editor->controls().password;
    QVERIFY(password->isEnabled());
    QTest::keyClicks(password, u"wrong"_s);
    request("writeButton");
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, u"Writing has failed. [password mismatch]"_s);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QVERIFY(password->text().isEmpty());
    QVERIFY(m_editor->confirmedPassword().isEmpty());
}

void TestCQorv400Dlg::writeAcceptedKeepsThePasswordBoxAndItsHashReachesTheDevice()
{
    SimDevice device = richDevice();
    device.setPassword("secret");
    startSim(device);
    openEditor();
    QLineEdit* password = m_editor->controls().password;
    QTest::keyClicks(password, u"secret12345"_s); // the box takes 8 characters
    QCOMPARE(password->text(), u"secret12"_s);
    password->setText(u"secret"_s);
    m_editor->controls().comment->setText(u"written with a password"_s);
    request("writeButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(password->text(), u"secret"_s);
    QCOMPARE(m_editor->confirmedPassword(), u"secret"_s);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("written with a password"));
}

void TestCQorv400Dlg::writeUnknownResultSaysSo()
{
    startSim(richDevice());
    SimFaults faults;
    faults.forcedResult = 5;
    m_sim->setFaults(faults);
    openEditor();
    m_editor->controls().comment->setText(u"not taken"_s);
    request("writeButton");
    // The device's record read back tells what the answer did not: nothing was stored.
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text,
             u"Unknown response from the Tessel(s).\r\n\r\nThe Tessel 02:7e:55:00:00:01 did not take the write: read "
             u"back, it still holds its settings from before; nothing was written."_s);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
}

void TestCQorv400Dlg::writeWithoutAnswerEndsAfterTenTicksWithString166()
{
    // A device of the test's own that answers reads (the Write's check of the device) but no write.
    const SimDevice device = richDevice();
    QUdpSocket responder;
    QVERIFY(responder.bind(QHostAddress(kDeviceAddress), kDevicePort,
                           QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    connect(&responder, &QUdpSocket::readyRead, &responder, [&] {
        while (responder.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = responder.receiveDatagram();
            const std::optional<frame::Frame> request = sim::acceptDatagram(datagram.data());
            if (!request || (*request)[frame::kOffCommand] != frame::kRead)
                continue;
            responder.writeDatagram(sim::buildReply(*request, device.record, 0, {}, SimFaults{}),
                                    datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
        }
    });
    m_sim = std::make_unique<TesselSim>(testProfile()); // not started: only for openEditor's record
    m_sim->addDevice(device);
    openEditor(CQorv400Dlg::kModeRemote);
    m_editor->controls().comment->setText(u"kept after no answer"_s);
    click("writeButton");
    QVERIFY(m_editor->requestInFlight());
    QCOMPARE(m_editor->messageWindow().text(),
             u"Reading the environment variables of the Tessel…\r\nIP address 127.0.0.2"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_editor->messageWindow().text(),
                              u"Writing the environment variables of the Tessel…\r\nIP address 127.0.0.2"_s, 3000);
    QCOMPARE(m_editor->requestTimer().interval(), reply_wait::kWriteTickMs);
    QCOMPARE(m_editor->requestTimer().timerType(), Qt::PreciseTimer);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_editor->requestInFlight());
    QVERIFY(!m_editor->isEnabled());
    // The write waits as long as a read, then the device is read back: it still holds its old settings.
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
    QVERIFY(clock.elapsed() >= 10 * reply_wait::kWriteTickMs - 150);
    QVERIFY(m_editor->isEnabled());
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text,
             u"The Tessel 02:7e:55:00:00:01 did not take the write: read back, it still holds its settings from before; nothing was written."_s);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QCOMPARE(m_services->messages.last().caption, kTitle);
    // Nothing came back to reload from, so what the user typed is still there.
    QCOMPARE(m_editor->controls().comment->text(), u"kept after no answer"_s);
}

void TestCQorv400Dlg::readReloadsTheFormAndShowsTheProgressText_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("secondLine");
    QTest::newRow("local") << CQorv400Dlg::kModeLocal << u"MAC address 02:7e:55:00:00:01"_s;
    QTest::newRow("remote") << CQorv400Dlg::kModeRemote << u"IP address 127.0.0.2"_s;
}

void TestCQorv400Dlg::readReloadsTheFormAndShowsTheProgressText()
{
    QFETCH(int, mode);
    QFETCH(QString, secondLine);
    startSim(richDevice());
    openEditor(mode);
    m_sim->device(0).record.setComment("changed on the device");
    m_editor->controls().comment->setText(u"edited here"_s);
    QSignalSpy ticks(&m_editor->requestTimer(), &QTimer::timeout);
    click("readButton");
    QVERIFY(m_editor->requestInFlight());
    QCOMPARE(m_editor->messageWindow().text(), u"Reading the environment variables of the Tessel…\r\n"_s + secondLine);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
    // The device here answers at once: the read ends with its answer, not at the next 200 ms tick.
    QCOMPARE(ticks.size(), 0);
    QVERIFY(m_services->messages.shown().isEmpty());
    QCOMPARE(m_editor->controls().comment->text(), u"changed on the device"_s);
    QVERIFY(m_editor->controls().password->text().isEmpty());
    QVERIFY(!m_editor->controls().password->isEnabled());
}

void TestCQorv400Dlg::statusWithANonZeroResultStillOpensTheReport()
{
    // A device of the test's own that answers every status request with result 7.
    SimDevice device = richDevice();
    QUdpSocket responder;
    QVERIFY(responder.bind(QHostAddress(kDeviceAddress), kDevicePort,
                           QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    connect(&responder, &QUdpSocket::readyRead, &responder, [&] {
        while (responder.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = responder.receiveDatagram();
            const std::optional<frame::Frame> request = sim::acceptDatagram(datagram.data());
            if (!request)
                continue;
            const QByteArray items = QByteArray::fromHex("0106010502140000");
            responder.writeDatagram(sim::buildReply(*request, device.record, 7, items, SimFaults{}),
                                    datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
        }
    });
    m_sim = std::make_unique<TesselSim>(testProfile()); // not started: only for openEditor's record
    m_sim->addDevice(device);
    openEditor(CQorv400Dlg::kModeRemote);
    int shown = 0;
    std::array<std::uint8_t, 8> seen{};
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg* dialog) {
        ++shown;
        std::copy_n(dialog->statusData().begin(), seen.size(), seen.begin());
        dialog->accept();
    });
    request("statusButton");
    QCOMPARE(shown, 1);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(seen.data()), 8).toHex(), QByteArray("0106010502140000"));
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCQorv400Dlg::commentIsCutToItsWidthWhenLeft()
{
    startSim(richDevice());
    openEditor();
    QLineEdit* comment = m_editor->controls().comment;
    const QString forty = u"0123456789abcdefghijABCDEFGHIJ0123456789"_s;
    comment->setFocus();
    comment->selectAll();
    comment->insert(forty); // as a paste does
    QTest::keyClick(comment, Qt::Key_Tab);
    QCOMPARE(comment->text(), forty.left(32));
    request("writeButton");
    QCOMPARE(m_sim->device(0).record.comment(), forty.left(32).toStdString());
    QCOMPARE(m_sim->device(0).record.raw()[120], richDevice().record.raw()[120]); // nothing spilled over
}

void TestCQorv400Dlg::leavingANumberFieldChecksTheForm()
{
    startSim(richDevice());
    openEditor();
    QLineEdit* localPort = port(1).localPort; // enabled: COM2 is a TCP server
    localPort->setFocus();
    localPort->selectAll();
    QTest::keyClicks(localPort, u"70000"_s);
    QVERIFY(m_services->messages.shown().isEmpty());
    QTest::keyClick(localPort, Qt::Key_Tab);
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, u"Please enter an integer between 1 and 65534."_s);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Warning);
    QCOMPARE(QApplication::focusWidget(), localPort);
    QCOMPARE(localPort->text(), u"70000"_s);
}

void TestCQorv400Dlg::titleShowsAValidBinding_data()
{
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("title");
    QTest::newRow("bound to an adapter present") << u"lo"_s << kTitle + u" [127.0.0.1-lo — Loopback]"_s;
    QTest::newRow("adapter gone") << u"eth9"_s << kTitle;
}

void TestCQorv400Dlg::titleShowsAValidBinding()
{
    QFETCH(QString, adapter);
    QFETCH(QString, title);
    m_services->adapters.setAdapters({guitest::adapter(u"lo"_s, u"lo — Loopback"_s, {u"127.0.0.1"_s})});
    m_binding = AdapterBinding{adapter, 0x7F000001};
    startSim(richDevice());
    openEditor();
    QCOMPARE(m_editor->windowTitle(), title);
    // Requests go out from the bound address: the device still answers a read.
    request("readButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
}

void TestCQorv400Dlg::enterDoesNothingAndEscapeAsksBeforeClosing_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");
    QTest::newRow("No keeps it open") << int(QMessageBox::No) << false;
    QTest::newRow("Yes closes it") << int(QMessageBox::Yes) << true;
}

void TestCQorv400Dlg::enterDoesNothingAndEscapeAsksBeforeClosing()
{
    QFETCH(int, answer);
    QFETCH(bool, closes);
    startSim(richDevice());
    openEditor();
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    m_editor->controls().comment->setFocus();
    QTest::keyClick(m_editor.get(), Qt::Key_Return);
    QTest::keyClick(m_editor.get(), Qt::Key_Enter);
    QVERIFY(m_editor->isVisible());
    QVERIFY(!m_editor->requestInFlight());
    QVERIFY(m_services->messages.shown().isEmpty());
    m_services->messages.setNextAnswer(QMessageBox::StandardButton(answer));
    QTest::keyClick(m_editor.get(), Qt::Key_Escape);
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, u"Are you sure to exit the program?"_s);
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QCOMPARE(shown.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(m_editor->isVisible(), !closes);
    QCOMPARE(handled.count(), 0);
}

QTEST_MAIN(TestCQorv400Dlg)
#include "tst_cqorv400dlg.moc"
