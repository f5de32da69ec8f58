// The settings editor against the field tables written out by hand, offscreen against a simulated
// device on the loopback profile (device port 52409, this test's own): every list's entries, a device
// with zeros in the fields its ports' modes do not use, a field put out of use, the address texts the one
// reader takes, and texts a record cannot hold, in three languages.
#include "GuiTestSupport.h"

#include "FieldTables.h"
#include "SimExchange.h"
#include "TesselSim.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/Ipv4AddressEdit.h"
#include "protocol/Ipv4.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <map>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52409;
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

/** A device whose ports run ATC, T2S, COD and U2S, with zeros in every network field the port's mode does
 *  not use and valid values in those it does. */
SimDevice zerosWhereUnused()
{
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    const int modes[] = {1, 0, 2, 3};
    for (int p = 0; p < EnvRecord::kPortCount; ++p) {
        const fieldtables::ModeUse& use = fieldtables::kModeUse[modes[p]];
        EnvPortBlock b = device.record.port(p);
        b.setMode(static_cast<std::uint8_t>(use.code));
        b.setLocalIp(0);
        b.setLocalPort(use.localPort ? static_cast<std::uint16_t>(4001 + p) : 0);
        b.setPeerIp(use.peerIp ? 0x7F000001u : 0u);
        b.setPeerPort(use.peerPort ? static_cast<std::uint16_t>(5001 + p) : 0);
        b.setWaterMark(use.waterMark ? 1 : 0);
        device.record.setPort(p, b);
    }
    return device;
}

QByteArray hex(const EnvRecord& r)
{
    return QByteArray(reinterpret_cast<const char*>(r.data()), EnvRecord::kSize).toHex();
}
} // namespace

class TestEditorFields : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void everyListShowsTheTablesEntries_data();
    void everyListShowsTheTablesEntries();
    void deviceWithZerosInUnusedFieldsIsWrittenAsItCame();
    void aFieldPutOutOfUseGoesBackAsTheDeviceSentIt();
    void addressTextsAsTheReaderTakesThem_data();
    void addressTextsAsTheReaderTakesThem();
    void textsARecordCannotHoldAreRefusedNamingTheField_data();
    void textsARecordCannotHoldAreRefusedNamingTheField();

private:
    void open(const SimDevice& device, UiLanguage language = UiLanguage::English);
    /** Clicks Write and waits until its reply wait has ended. */
    void write();
    QComboBox* listOf(const QString& field) const;
    const PortControls& port(int index) const { return m_editor->controls().ports[static_cast<std::size_t>(index)]; }

    QTemporaryDir m_profileDir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CQorv400Dlg> m_editor;
    std::unique_ptr<QSignalSpy> m_handled;
};

void TestEditorFields::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestEditorFields::cleanup()
{
    m_handled.reset();
    m_editor.reset();
    m_sim.reset();
    m_services.reset();
}

void TestEditorFields::open(const SimDevice& device, UiLanguage language)
{
    m_services = std::make_unique<guitest::Services>(language, primary_language::kEnglish, testProfile());
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_handled = std::make_unique<QSignalSpy>(m_sim.get(), &TesselSim::requestHandled);
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, device.record,
                                             CQorv400Dlg::kModeRemote, kDeviceAddress);
    m_editor->show();
    m_editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_editor.get()));
    m_services->messages.clearShown();
}

void TestEditorFields::write()
{
    QTest::mouseClick(m_editor->controls().writeButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_editor->requestInFlight(), 5000);
}

QComboBox* TestEditorFields::listOf(const QString& field) const
{
    const EditorControls& c = m_editor->controls();
    const std::map<QString, QComboBox*> lists = {
        {u"ipv4Type"_s, c.ipv4Type},       {u"multiIp"_s, c.multiIp},         {u"eapol"_s, c.eapol},
        {u"mode"_s, port(1).mode},         {u"baudRate"_s, port(1).baudRate}, {u"parity"_s, port(1).parity},
        {u"dataBits"_s, port(1).dataBits}, {u"stopBits"_s, port(1).stopBits}, {u"flowControl"_s, port(1).flowControl},
    };
    const auto it = lists.find(field);
    return it == lists.end() ? nullptr : it->second;
}

void TestEditorFields::everyListShowsTheTablesEntries_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("english");
    for (const fieldtables::ListTexts& list : fieldtables::listTexts())
        QTest::newRow(list.field) << QString::fromLatin1(list.field) << list.english;
}

void TestEditorFields::everyListShowsTheTablesEntries()
{
    QFETCH(QString, field);
    QFETCH(QStringList, english);
    open(TesselSim::makeDevice(0, kDeviceAddress));
    QComboBox* list = listOf(field);
    QVERIFY2(list, qPrintable(field));
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->itemText(i);
    QCOMPARE(shown, english);
}

void TestEditorFields::deviceWithZerosInUnusedFieldsIsWrittenAsItCame()
{
    const SimDevice device = zerosWhereUnused();
    open(device);
    write();
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(hex(m_sim->device(0).record), hex(device.record));
    // A change of COM1's timeout goes out alone; the zeros stay.
    port(0).timeout->setText(u"5"_s);
    write();
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QByteArray expected = hex(device.record);
    expected.replace((316 + 20) * 2, 4, "0500");
    QCOMPARE(hex(m_sim->device(0).record), expected);
}

void TestEditorFields::aFieldPutOutOfUseGoesBackAsTheDeviceSentIt()
{
    const SimDevice device = zerosWhereUnused(); // COM3 is a TCP client with peer port 5003
    open(device);
    port(2).peerPort->setText(u"6000"_s);
    port(2).peerIp->setText(u"127.0.0.9"_s);
    port(2).mode->setCurrentIndex(EnvPortBlock::kAtCommand);
    QVERIFY(!port(2).peerPort->isEnabled());
    write();
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    const EnvPortBlock com3 = m_sim->device(0).record.port(2);
    QCOMPARE(int(com3.mode()), int(EnvPortBlock::kAtCommand));
    QCOMPARE(com3.peerPort(), device.record.port(2).peerPort());
    QCOMPARE(com3.peerIp(), device.record.port(2).peerIp());
}

void TestEditorFields::addressTextsAsTheReaderTakesThem_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<quint32>("address");
    for (const fieldtables::AddressText& t : fieldtables::addressTexts())
        QTest::newRow(t.name) << t.typed << t.address.has_value() << quint32(t.address.value_or(0));
}

void TestEditorFields::addressTextsAsTheReaderTakesThem()
{
    QFETCH(QString, typed);
    QFETCH(bool, taken);
    QFETCH(quint32, address);
    open(TesselSim::makeDevice(0, kDeviceAddress));
    Ipv4AddressEdit* gateway = m_editor->controls().gateway;
    gateway->setText(typed); // as pasted: the reader, not the field's key filter, judges it
    write();
    if (taken) {
        QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
        QCOMPARE(m_sim->device(0).record.gateway(), address);
        return;
    }
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text,
             u"%1 is not a valid IPv4 address.\r\nType four numbers from 0 to 255 separated by dots, for example "
             "192.168.0.100."_s.arg(typed));
    QCOMPARE(QApplication::focusWidget(), gateway);
    QCOMPARE(m_handled->count(), 0);
}

void TestEditorFields::textsARecordCannotHoldAreRefusedNamingTheField_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    const int english = int(UiLanguage::English);
    QTest::newRow("comment, English") << english << u"commentEdit"_s << u"Café Zürich 東京"_s
                                      << u"Comment cannot hold these characters: 東京\r\nA Tessel keeps Western "
                                         "European (Latin-1) characters only."_s;
    QTest::newRow("comment, Korean") << int(UiLanguage::Korean) << u"commentEdit"_s << u"설명 1"_s
                                     << u"설명에 저장할 수 없는 문자가 있습니다: 설명\r\nTessel은 서유럽 "
                                        "문자(Latin-1)만 저장합니다."_s;
    QTest::newRow("password, Chinese") << int(UiLanguage::Chinese) << u"passwordEdit"_s << u"密码ab"_s
                                       << u"密码 无法保存以下字符：密码\r\nTessel 只能保存西欧（Latin-1）字符。"_s;
}

void TestEditorFields::textsARecordCannotHoldAreRefusedNamingTheField()
{
    QFETCH(int, language);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.setPassword("secret"); // the Password box is enabled
    open(device, UiLanguage(language));
    auto* edit = m_editor->findChild<QLineEdit*>(field);
    QVERIFY(edit && edit->isEnabled());
    edit->setText(typed);
    QTest::mouseClick(m_editor->controls().writeButton, Qt::LeftButton);
    QVERIFY(!m_editor->requestInFlight());
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Warning);
    QCOMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(edit->text(), typed);
    QVERIFY(simtest::drain(*m_sim)); // a request sent, were there one, has been handled by now
    QCOMPARE(m_handled->count(), 0);
}

QTEST_MAIN(TestEditorFields)
#include "tst_editorfields.moc"
