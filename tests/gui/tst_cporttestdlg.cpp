// The port terminal, offscreen, opened from the settings editor's Test Port button against a simulated
// device whose ports carry data: text sent through a TCP server port and a UDP port comes back and is
// shown as text and hex with the byte counts, in each of the three languages; a device that refuses the
// connection gets a stop message naming it; a port in AT command mode or with a peer elsewhere cannot be
// connected and says why; hex that is not bytes is refused; every control is named for a screen reader
// and reached by its access key.
#include "GuiTestSupport.h"
#include "SimSerial.h"
#include "TesselSim.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/porttest/CPortTestDlg.h"
#include "serial/PortLink.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52771;
constexpr std::uint32_t kAddress = 0x7F002302; // 127.0.35.2
constexpr std::uint32_t kElsewhere = 0xC0A8000A; // 192.168.0.10: only ever written into a record

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

void setPort(EnvRecord& record, int port, std::uint8_t mode, std::uint16_t localPort, std::uint32_t peer = 0)
{
    EnvPortBlock block = record.port(port);
    block.setMode(mode);
    block.setBaudRate(921600);
    block.setLocalPort(localPort);
    block.setPeerIp(peer);
    block.setPeerPort(4799);
    record.setPort(port, block);
}

template <typename T> T* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(QLatin1String(name));
}
} // namespace

class TestCPortTestDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void echoFromTheEditor_data();
    void echoFromTheEditor();
    void refusedConnectionIsSaid();
    void portsThatCannotConnect_data();
    void portsThatCannotConnect();
    void hexThatIsNotBytesIsRefused();
    void namedAndReachedByKeys();

private:
    std::unique_ptr<CPortTestDlg> dialogOn(guitest::Services& services, int port);

    QTemporaryDir m_profileDir;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<SimSerial> m_serial;
};

void TestCPortTestDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
    m_sim = std::make_unique<TesselSim>(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kAddress);
    setPort(device.record, 0, EnvPortBlock::kAtCommand, 4751);
    setPort(device.record, 1, EnvPortBlock::kTcpServer, 4752);
    setPort(device.record, 2, EnvPortBlock::kTcpClient, 4753, kElsewhere);
    setPort(device.record, 3, EnvPortBlock::kUdp, 4754);
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_serial = std::make_unique<SimSerial>(*m_sim);
    QVERIFY2(m_serial->start(&error), qPrintable(error));
}

std::unique_ptr<CPortTestDlg> TestCPortTestDlg::dialogOn(guitest::Services& services, int port)
{
    // The device's TCP server port takes one connection at a time: the one of the test before is gone.
    if (!QTest::qWaitFor([this] { return m_serial->state(0, 1) != SerialPortState::Connected; }))
        qWarning("the port's last connection is still up");
    auto dialog = std::make_unique<CPortTestDlg>(services.strings, services.messages, m_sim->device(0).record,
                                                 kAddress, port);
    dialog->show();
    return dialog;
}

void TestCPortTestDlg::echoFromTheEditor_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("port");
    QTest::newRow("en TCP server") << int(UiLanguage::English) << 1;
    QTest::newRow("en UDP") << int(UiLanguage::English) << 3;
    QTest::newRow("ko TCP server") << int(UiLanguage::Korean) << 1;
    QTest::newRow("zh UDP") << int(UiLanguage::Chinese) << 3;
}

void TestCPortTestDlg::echoFromTheEditor()
{
    QFETCH(int, language);
    QFETCH(int, port);
    guitest::Services services(static_cast<UiLanguage>(language), primary_language::kEnglish, testProfile());
    CQorv400Dlg editor(services.context(), AdapterBinding{}, m_sim->device(0).record, CQorv400Dlg::kModeRemote,
                       kAddress);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    // The user was in the port's row: the terminal opens on that port.
    editor.controls().ports[static_cast<std::size_t>(port)].localPort->setFocus();
    QTRY_VERIFY(editor.controls().ports[static_cast<std::size_t>(port)].localPort->hasFocus());
    QTRY_VERIFY(m_serial->state(0, 1) != SerialPortState::Connected);
    const std::array<std::uint64_t, 8> before = m_serial->carried(0);

    bool ran = false;
    connect(&editor, &CQorv400Dlg::portTestOpened, this, [&](QDialog* dialog) {
        QTimer::singleShot(0, dialog, [&, dialog] {
            const auto closeAtEnd = qScopeGuard([dialog] { dialog->reject(); });
            QCOMPARE(dialog->windowTitle(), services.strings.text(2020));
            QCOMPARE(child<QComboBox>(dialog, "portCombo")->currentIndex(), port);
            QVERIFY(!child<QPushButton>(dialog, "sendButton")->isEnabled());
            QTest::mouseClick(child<QPushButton>(dialog, "connectButton"), Qt::LeftButton);
            const QString portName = services.strings.text(2016).arg(u"COM%1"_s.arg(port + 1), u"127.0.35.2"_s);
            const QString endpoint = u"%1 127.0.35.2:%2"_s.arg(port == 1 ? u"TCP"_s : u"UDP"_s).arg(4751 + port);
            QTRY_COMPARE(child<QLabel>(dialog, "statusLabel")->text(), services.strings.text(2034).arg(portName, endpoint));
            QVERIFY(child<QPushButton>(dialog, "sendButton")->isEnabled());
            auto* input = child<QLineEdit>(dialog, "sendEdit");
            QTest::keyClicks(input, u"hello"_s);
            child<QComboBox>(dialog, "endingCombo")->setCurrentIndex(3); // CR+LF
            QTest::keyClick(input, Qt::Key_Return);
            auto* traffic = child<QPlainTextEdit>(dialog, "trafficView");
            QTRY_COMPARE(traffic->document()->blockCount(), 2);
            const QStringList lines = traffic->toPlainText().split(u'\n');
            const QString sentWord = services.strings.text(2038).section(u' ', 2, 2); // "sent", "보냄", "发送"
            QVERIFY2(lines[0].contains(sentWord) && lines[0].endsWith(u"hello··   [68 65 6c 6c 6f 0d 0a]"_s),
                     qPrintable(lines[0]));
            QVERIFY2(lines[1].endsWith(u"hello··   [68 65 6c 6c 6f 0d 0a]"_s), qPrintable(lines[1]));
            QVERIFY(lines[1].contains(u" 7"_s));
            const QString counts = child<QLabel>(dialog, "countsLabel")->text();
            QVERIFY2(counts.startsWith(services.strings.text(2035).arg(7).arg(7)), qPrintable(counts));
            QVERIFY2(counts.contains(services.strings.text(2036).section(u'%', 0, 0)), qPrintable(counts));
            ran = true;
        });
    });
    QTest::mouseClick(editor.controls().testPortButton, Qt::LeftButton);
    QVERIFY(ran);
    QVERIFY(services.messages.shown().isEmpty());
    const std::array<std::uint64_t, 8> after = m_serial->carried(0);
    QCOMPARE(after[static_cast<std::size_t>(port)] - before[static_cast<std::size_t>(port)], std::uint64_t(7));
    QCOMPARE(after[static_cast<std::size_t>(port + 4)] - before[static_cast<std::size_t>(port + 4)], std::uint64_t(7));
}

void TestCPortTestDlg::refusedConnectionIsSaid()
{
    guitest::Services services(UiLanguage::English, primary_language::kEnglish, testProfile());
    m_serial->setAccepting(0, 1, false);
    const auto reopen = qScopeGuard([this] { m_serial->setAccepting(0, 1, true); });
    const std::unique_ptr<CPortTestDlg> dialog = dialogOn(services, 1);
    QTest::mouseClick(child<QPushButton>(dialog.get(), "connectButton"), Qt::LeftButton);
    QTRY_COMPARE(services.messages.shown().size(), 1);
    const ShownMessage message = services.messages.last();
    QCOMPARE(message.icon, QMessageBox::Critical);
    QCOMPARE(message.caption, services.strings.text(StringTable::kProgramTitle));
    QCOMPARE(message.text, u"The device did not accept the connection to COM2 of 127.0.35.2 at TCP 127.0.35.2:4752: "
                           u"Connection refused"_s);
    QCOMPARE(child<QLabel>(dialog.get(), "statusLabel")->text(), message.text);
    QVERIFY(!child<QPushButton>(dialog.get(), "sendButton")->isEnabled());
    // Connect can be pressed again, and works once the device takes connections.
    m_serial->setAccepting(0, 1, true);
    auto* connectButton = child<QPushButton>(dialog.get(), "connectButton");
    QCOMPARE(connectButton->text(), u"&Connect"_s);
    QTest::mouseClick(connectButton, Qt::LeftButton);
    QTRY_VERIFY(dialog->isConnected());
    QCOMPARE(connectButton->text(), u"Dis&connect"_s);
}

void TestCPortTestDlg::portsThatCannotConnect_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("said");
    QTest::newRow("AT command mode") << 0
                                     << u"COM1 of 127.0.35.2 is in AT command mode: it takes no network connection."_s;
    QTest::newRow("peer elsewhere") << 2
                                    << u"COM3 of 127.0.35.2 is a TCP client of 192.168.0.10:4799, which is not an "
                                       u"address of this machine: it cannot connect here."_s;
}

void TestCPortTestDlg::portsThatCannotConnect()
{
    QFETCH(int, port);
    QFETCH(QString, said);
    guitest::Services services(UiLanguage::English, primary_language::kEnglish, testProfile());
    const std::unique_ptr<CPortTestDlg> dialog = dialogOn(services, 1);
    QVERIFY(child<QPushButton>(dialog.get(), "connectButton")->isEnabled());
    child<QComboBox>(dialog.get(), "portCombo")->setCurrentIndex(port);
    QCOMPARE(child<QLabel>(dialog.get(), "statusLabel")->text(), said);
    QVERIFY(!child<QPushButton>(dialog.get(), "connectButton")->isEnabled());
    QVERIFY(!child<QPushButton>(dialog.get(), "sendButton")->isEnabled());
    QCOMPARE(m_serial->state(0, 2), SerialPortState::Idle);
}

void TestCPortTestDlg::hexThatIsNotBytesIsRefused()
{
    guitest::Services services(UiLanguage::English, primary_language::kEnglish, testProfile());
    const std::unique_ptr<CPortTestDlg> dialog = dialogOn(services, 1);
    QTest::mouseClick(child<QPushButton>(dialog.get(), "connectButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog->isConnected());
    child<QComboBox>(dialog.get(), "formatCombo")->setCurrentIndex(1);
    child<QComboBox>(dialog.get(), "endingCombo")->setCurrentIndex(0);
    auto* input = child<QLineEdit>(dialog.get(), "sendEdit");
    QTest::keyClicks(input, u"41 5"_s);
    QTest::mouseClick(child<QPushButton>(dialog.get(), "sendButton"), Qt::LeftButton);
    QCOMPARE(services.messages.shown().size(), 1);
    QCOMPARE(services.messages.last().text, u"\"41 5\" is not bytes in hex digits (e.g. 41 54 0d)."_s);
    QCOMPARE(child<QPlainTextEdit>(dialog.get(), "trafficView")->toPlainText(), QString());
    input->setText(u"41:54 0d"_s);
    QCOMPARE(dialog->outgoing(), std::optional<QByteArray>(QByteArray("AT\r")));
    QTest::mouseClick(child<QPushButton>(dialog.get(), "sendButton"), Qt::LeftButton);
    QTRY_VERIFY(child<QPlainTextEdit>(dialog.get(), "trafficView")->toPlainText().count(u"[41 54 0d]"_s) == 2);
}

void TestCPortTestDlg::namedAndReachedByKeys()
{
    guitest::Services services(UiLanguage::English, primary_language::kEnglish, testProfile());
    const std::unique_ptr<CPortTestDlg> dialog = dialogOn(services, 1);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const std::pair<const char*, QString> named[] = {
        {"portCombo", u"Port"_s},     {"sendEdit", u"Send text"_s},  {"formatCombo", u"Format"_s},
        {"endingCombo", u"Line ending"_s}, {"trafficView", u"Traffic"_s}, {"sendButton", u"Send"_s},
        {"connectButton", u"Connect"_s}, {"closeButton", u"Close"_s},
    };
    for (const auto& [object, name] : named) {
        QWidget* w = child<QWidget>(dialog.get(), object);
        QVERIFY2(w, object);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(iface, object);
        QCOMPARE(iface->text(QAccessible::Name), name);
    }
    // Alt and the underlined letter reach each field.
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_T, "sendEdit"}, {Qt::Key_F, "formatCombo"}, {Qt::Key_L, "endingCombo"},
        {Qt::Key_R, "trafficView"}, {Qt::Key_P, "portCombo"},
    };
    for (const auto& [key, object] : keys) {
        QTest::keyClick(dialog.get(), key, Qt::AltModifier);
        QTRY_VERIFY2(child<QWidget>(dialog.get(), object)->hasFocus(), object);
    }
    // The editor's button has an access key of its own.
    CQorv400Dlg editor(services.context(), AdapterBinding{}, m_sim->device(0).record, CQorv400Dlg::kModeRemote,
                       kAddress);
    QCOMPARE(editor.controls().testPortButton->text(), u"Test Port(&K)..."_s);
}

QTEST_MAIN(TestCPortTestDlg)
#include "tst_cporttestdlg.moc"
