// The settings editor's controls against the record, one kind of field at a time: every list holds the
// entries the device's users know, every check box reaches its own flag bit on Write, and a serial rate
// that no list entry holds goes back to the device as it came. Offscreen, against a simulated device on
// the loopback profile (device port 52409, this program's own). Expected bytes are worked out here from
// the record's layout, not with the program's own accessors.
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "gui/editor/CQorv400Dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52409;
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2
constexpr std::size_t kFlagsOffset = 16;
constexpr std::size_t kPortsOffset = 316;
constexpr std::size_t kPortSize = 24;
constexpr std::size_t kRateInPort = 16;
constexpr std::size_t kTimeoutInPort = 20;

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

std::uint32_t le32(const std::array<std::uint8_t, EnvRecord::kSize>& raw, std::size_t offset)
{
    return raw[offset] | raw[offset + 1] << 8 | raw[offset + 2] << 16 | std::uint32_t{raw[offset + 3]} << 24;
}

void setLe32(std::array<std::uint8_t, EnvRecord::kSize>& raw, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        raw[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
} // namespace

class TestEditorFields : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { guitest::isolateProfile(m_profileDir); }
    void init();
    void cleanup();

    void listsHoldTheEntriesUsersKnow_data();
    void listsHoldTheEntriesUsersKnow();
    void eachCheckBoxReachesItsOwnFlagBitOnWrite_data();
    void eachCheckBoxReachesItsOwnFlagBitOnWrite();
    void rateNoListEntryHoldsGoesBackAsItCame_data();
    void rateNoListEntryHoldsGoesBackAsItCame();

private:
    void start(const SimDevice& device);
    /** Clicks Write and waits for the end of the exchange; the device must have taken a write. */
    void write();

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestEditorFields::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestEditorFields::cleanup()
{
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
}

void TestEditorFields::start(const SimDevice& device)
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, device.record,
                                             CQorv400Dlg::kModeRemote, kDeviceAddress);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    m_services->messages.clearShown();
}

void TestEditorFields::write()
{
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    QTest::mouseClick(m_editor->controls().writeButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    // A Write reads the device again first, then writes, then reads back (each request sent twice).
    QCOMPARE(handled.size(), 6);
    QCOMPARE(handled.at(0).at(1).toInt(), int(frame::kRead));
    QCOMPARE(handled.at(2).at(1).toInt(), int(frame::kWrite));
    QCOMPARE(handled.at(4).at(1).toInt(), int(frame::kRead));
}

void TestEditorFields::listsHoldTheEntriesUsersKnow_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("IPv4 type") << u"ipv4TypeCombo"_s
                               << QStringList{u"Use static IP address"_s, u"Obtain an IP Automatically(DHCP)"_s,
                                              u"Obtain an IP Automatically(PPPoE)"_s};
    QTest::newRow("Multi IP") << u"multiIpCombo"_s << QStringList{u"Disable"_s, u"Use"_s};
    QTest::newRow("EAPoL") << u"eapolCombo"_s << QStringList{u"Disable"_s, u"MD5"_s};
    for (int port = 1; port <= EnvRecord::kPortCount; ++port) {
        const auto name = [port](const char* kind) { return u"com%1%2"_s.arg(port).arg(QLatin1String(kind)); };
        QTest::addRow("COM%d mode", port)
            << name("ModeCombo")
            << QStringList{u"T2S - TCP Server"_s, u"ATC - AT Command"_s, u"COD - TCP Client"_s, u"U2S - UDP"_s};
        // The ten rates of the device family and 230400, which a record must keep through a write.
        QTest::addRow("COM%d rate", port)
            << name("BaudRateCombo")
            << QStringList{u"600"_s,   u"1200"_s,  u"2400"_s,  u"4800"_s,   u"9600"_s,  u"14400"_s,
                           u"19200"_s, u"38400"_s, u"57600"_s, u"115200"_s, u"230400"_s};
        QTest::addRow("COM%d parity", port) << name("ParityCombo") << QStringList{u"None"_s, u"Odd"_s, u"Even"_s};
        QTest::addRow("COM%d data bits", port) << name("DataBitsCombo") << QStringList{u"5"_s, u"6"_s, u"7"_s, u"8"_s};
        QTest::addRow("COM%d stop bits", port) << name("StopBitsCombo") << QStringList{u"1"_s, u"2"_s};
        // The third flow-control code is named, so that a record holding it shows and keeps it.
        QTest::addRow("COM%d flow control", port)
            << name("FlowControlCombo") << QStringList{u"None"_s, u"RTS/CTS"_s, u"Xon/Xoff"_s};
    }
}

void TestEditorFields::listsHoldTheEntriesUsersKnow()
{
    QFETCH(QString, list);
    QFETCH(QStringList, entries);
    start(TesselSim::makeDevice(0, kDeviceAddress));
    const auto* box = m_editor->findChild<QComboBox*>(list);
    QVERIFY2(box, qPrintable(list));
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown << box->itemText(i);
    QCOMPARE(shown, entries);
}

void TestEditorFields::eachCheckBoxReachesItsOwnFlagBitOnWrite_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<quint32>("bit");
    QTest::addColumn<bool>("on");       // the device's bit before the click
    QTest::addColumn<bool>("editable"); // false: the click changes nothing
    const std::tuple<const char*, quint32, bool> boxes[] = {{"arpCheck", 0x40, true},
                                                            {"telnetCheck", 0x80, true},
                                                            {"remoteSearchCheck", 0x8000, true},
                                                            {"sslCheck", 0x800, false}};
    for (const auto& [box, bit, editable] : boxes) {
        QTest::addRow("%s, on to off", box) << QString::fromLatin1(box) << bit << true << editable;
        QTest::addRow("%s, off to on", box) << QString::fromLatin1(box) << bit << false << editable;
    }
}

void TestEditorFields::eachCheckBoxReachesItsOwnFlagBitOnWrite()
{
    QFETCH(QString, box);
    QFETCH(quint32, bit);
    QFETCH(bool, on);
    QFETCH(bool, editable);
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    auto& raw = device.record.raw();
    // The other boxes' bits set opposite to this one's, so a box that reaches a neighbour's bit shows.
    const quint32 others = (0x40u | 0x80u | 0x8000u | 0x800u) & ~bit;
    const quint32 flags = (le32(raw, kFlagsOffset) & ~(0x40u | 0x80u | 0x8000u | 0x800u)) | 0x4000u /* may search */ |
                          (on ? bit : others);
    setLe32(raw, kFlagsOffset, flags);
    start(device);
    auto* check = m_editor->findChild<QCheckBox*>(box);
    QVERIFY2(check, qPrintable(box));
    QCOMPARE(check->isChecked(), on);
    QCOMPARE(check->isEnabled(), editable);
    guitest::clickCheckBox(check);
    QCOMPARE(check->isChecked(), editable ? !on : on);
    write();
    const quint32 expected = editable ? flags ^ bit : flags;
    QCOMPARE(QString::number(le32(m_sim->device(0).record.raw(), kFlagsOffset), 16), QString::number(expected, 16));
}

void TestEditorFields::rateNoListEntryHoldsGoesBackAsItCame_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<quint32>("rate");
    QTest::newRow("COM1 at 460800") << 0 << quint32{460800};
    QTest::newRow("COM2 at 921600") << 1 << quint32{921600};
    QTest::newRow("COM3 at 300") << 2 << quint32{300};
    QTest::newRow("COM4 at 31250") << 3 << quint32{31250};
    QTest::newRow("COM1 at 4000000") << 0 << quint32{4000000};
}

void TestEditorFields::rateNoListEntryHoldsGoesBackAsItCame()
{
    QFETCH(int, port);
    QFETCH(quint32, rate);
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    const std::size_t block = kPortsOffset + kPortSize * static_cast<std::size_t>(port);
    setLe32(device.record.raw(), block + kRateInPort, rate);
    start(device);
    const PortControls& row = m_editor->controls().ports[static_cast<std::size_t>(port)];
    QCOMPARE(row.baudRate->currentText(), QString::number(rate));
    // Another port's timeout is changed, so the write is one the user made.
    const int other = (port + 1) % EnvRecord::kPortCount;
    m_editor->controls().ports[static_cast<std::size_t>(other)].timeout->setText(u"77"_s);
    write();
    const auto& written = m_sim->device(0).record.raw();
    QCOMPARE(le32(written, block + kRateInPort), rate);
    const std::size_t otherBlock = kPortsOffset + kPortSize * static_cast<std::size_t>(other);
    QCOMPARE(written[otherBlock + kTimeoutInPort] | written[otherBlock + kTimeoutInPort + 1] << 8, 77);
}

QTEST_MAIN(TestEditorFields)
#include "tst_cqorv400dlg_fields.moc"
