// The firmware dialog offscreen: its controls and texts, the file chooser, the checks before anything
// is sent, and transfers to a simulated device (TFTP server and shell at 127.0.10.2) or to a
// plain-socket device a test answers (127.0.10.3), on ports 52869/52823 of this test's own. Messages
// are read through the message service as the user would see them.

#include "FirmwarePeers.h"
#include "GuiTestSupport.h"
#include "SimFirmware.h"

#include "app/CMsgDlg.h"
#include "app/CQorvApp.h"
#include "app/CQorvDlg.h"
#include "firmware/CChangeFWDlg.h"
#include "firmware/CQuickBurnWnd.h"
#include "firmware/TftpPacket.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kSimDevice = 0x7F000A02;  // 127.0.10.2
constexpr std::uint32_t kFakeDevice = 0x7F000A03; // 127.0.10.3
constexpr std::uint16_t kTftpPort = 52869;
constexpr std::uint16_t kShellPort = 52823;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 52805;
    p.tftpPort = kTftpPort;
    p.shellPort = kShellPort;
    return p;
}

/** CRC-16/X-25 computed by Qt, independently of the program's own table. */
QString x25(const QByteArray& bytes)
{
    return QString::asprintf("%04X", qChecksum(QByteArrayView(bytes), Qt::ChecksumIso3309));
}

QString systemText(int code)
{
    return u"[%1] %2"_s.arg(code).arg(QString::fromLocal8Bit(std::strerror(code)));
}
} // namespace

class TestCChangeFWDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void namesItsControlsAndLoadsTheirTexts_data();
    void namesItsControlsAndLoadsTheirTexts();
    void openingShowsTheAddressAndTheProductEntry_data();
    void openingShowsTheAddressAndTheProductEntry();
    void firmwareButtonAsksForBinFilesAndClearsTheCrc();
    void sendWithoutAFileSaysNoFirmware();
    void addressesThatNameNoDeviceAreRefusedBeforeAnythingIsSent_data();
    void addressesThatNameNoDeviceAreRefusedBeforeAnythingIsSent();
    void fileThatCannotBeReadShowsTheSystemText_data();
    void fileThatCannotBeReadShowsTheSystemText();
    void imageTooLargeForOneUploadIsRefusedUpFront();
    void sendUploadsTheFileAndEndsTheBarAtItsMaximum_data();
    void sendUploadsTheFileAndEndsTheBarAtItsMaximum();
    void theShellWayIsTakenForProductTenOrTheSecondEntry_data();
    void theShellWayIsTakenForProductTenOrTheSecondEntry();
    void eachDeviceEndingShowsItsMessage_data();
    void eachDeviceEndingShowsItsMessage();
    void failureLeavesTheBarWhereTheLastReportLeftIt();
    void closeBoxAbandonsATransferWithoutAMessage();
    void escapeDoesNotCloseTheDialog();
    void reopeningShowsTheFileAndSendRereadsIt();
    void searchWindowOpensTheFirmwareDialog();

private:
    std::unique_ptr<CChangeFWDlg> openDialog(int productCode = 0, std::uint32_t target = kSimDevice);
    void startSim(const SimFirmwareOptions& options = {});
    QString writeFile(const QString& name, const QByteArray& bytes);
    void choose(const QString& path);
    void click(const char* button);
    /** Waits for the message the transfer ends with. */
    bool waitForMessage(int count = 1, int timeoutMs = 15000);
    template <typename T> T* child(const char* name)
    {
        T* w = m_dialog->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    bool buttonsEnabled();

    QTemporaryDir m_profileDir;
    QTemporaryDir m_files;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<SimFirmware> m_sim;
    std::unique_ptr<CChangeFWDlg> m_dialog;
};

void TestCChangeFWDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCChangeFWDlg::init()
{
    m_services = std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, testProfile());
}

void TestCChangeFWDlg::cleanup()
{
    m_dialog.reset();
    m_sim.reset();
    m_services.reset();
}

std::unique_ptr<CChangeFWDlg> TestCChangeFWDlg::openDialog(int productCode, std::uint32_t target)
{
    auto dialog = std::make_unique<CChangeFWDlg>(m_services->context());
    dialog->setProductCode(productCode);
    dialog->setTargetAddress(target);
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog.get()))
        qWarning("the firmware dialog was not exposed");
    return dialog;
}

void TestCChangeFWDlg::startSim(const SimFirmwareOptions& options)
{
    SimFirmwareOptions o = options;
    o.flashMs = 10;
    m_sim = std::make_unique<SimFirmware>(testProfile());
    QString problem;
    QVERIFY2(m_sim->start({kSimDevice}, o, &problem), qPrintable(problem));
}

QString TestCChangeFWDlg::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = m_files.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestCChangeFWDlg::choose(const QString& path)
{
    m_services->files.setNextFileName(path);
    click("firmwareButton");
}

void TestCChangeFWDlg::click(const char* button)
{
    QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
}

bool TestCChangeFWDlg::waitForMessage(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_services->messages.shown().size() >= count; }, timeoutMs);
}

bool TestCChangeFWDlg::buttonsEnabled()
{
    const bool firmware = child<QPushButton>("firmwareButton")->isEnabled();
    const bool send = child<QPushButton>("sendButton")->isEnabled();
    const bool close = child<QPushButton>("closeButton")->isEnabled();
    if (firmware != send || send != close)
        qWarning("the three buttons disagree");
    return firmware && send && close;
}

void TestCChangeFWDlg::namesItsControlsAndLoadsTheirTexts_data()
{
    QTest::addColumn<int>("language");
    // title, product, firmware, CRC, address labels, Firmware, Send, Close buttons, the two entries
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("English") << int(UiLanguage::English)
                             << QStringList{u"Change Firmware"_s,
                                            u"Product : "_s,
                                            u"Firmware : "_s,
                                            u"CRC : "_s,
                                            u"Local IP Address : "_s,
                                            u"Firmware"_s,
                                            u"Send"_s,
                                            u"Close"_s,
                                            u"Tessel 400 (direct TFTP)"_s,
                                            u"Tessel 400 S/T variants (through the shell)"_s};
    QTest::newRow("Korean") << int(UiLanguage::Korean)
                            << QStringList{u"펌웨어 변경"_s,
                                           u"제품 : "_s,
                                           u"펌웨어 : "_s,
                                           u"CRC : "_s,
                                           u"로컬 IP 주소 : "_s,
                                           u"펌웨어"_s,
                                           u"전송"_s,
                                           u"닫기"_s,
                                           u"Tessel 400(TFTP 직접 전송)"_s,
                                           u"Tessel 400 S/T 변형 모델(셸 경유)"_s};
    QTest::newRow("Chinese") << int(UiLanguage::Chinese)
                             << QStringList{u"更改固件"_s,
                                            u"产品 : "_s,
                                            u"固件 : "_s,
                                            u"CRC : "_s,
                                            u"本地 IP 地址 : "_s,
                                            u"固件"_s,
                                            u"发送"_s,
                                            u"关闭"_s,
                                            u"Tessel 400（直接 TFTP）"_s,
                                            u"Tessel 400 S/T 变体型号（通过 Shell）"_s};
}

void TestCChangeFWDlg::namesItsControlsAndLoadsTheirTexts()
{
    QFETCH(int, language);
    QFETCH(QStringList, texts);
    m_services = std::make_unique<guitest::Services>(static_cast<UiLanguage>(language), primary_language::kEnglish,
                                                     testProfile());
    m_dialog = openDialog();
    QCOMPARE(m_dialog->windowTitle(), texts[0]);
    QCOMPARE(child<QLabel>("productLabel")->text(), texts[1]);
    QCOMPARE(child<QLabel>("firmwareLabel")->text(), texts[2]);
    QCOMPARE(child<QLabel>("crcLabel")->text(), texts[3]);
    QCOMPARE(child<QLabel>("addressLabel")->text(), texts[4]);
    QCOMPARE(child<QPushButton>("firmwareButton")->text(), texts[5]);
    QCOMPARE(child<QPushButton>("sendButton")->text(), texts[6]);
    QCOMPARE(child<QPushButton>("closeButton")->text(), texts[7]);
    auto* products = child<QComboBox>("productList");
    QCOMPARE(products->count(), 2);
    QCOMPARE(products->itemText(0), texts[8]);
    QCOMPARE(products->itemText(1), texts[9]);
    QVERIFY(child<QPushButton>("closeButton")->isDefault());
    QVERIFY(!m_dialog->windowIcon().isNull());
    QCOMPARE(child<QLineEdit>("addressEdit")->property("controlId").toInt(), 1035);
    QCOMPARE(child<QProgressBar>("progressBar")->property("controlId").toInt(), 1207);
}

void TestCChangeFWDlg::openingShowsTheAddressAndTheProductEntry_data()
{
    QTest::addColumn<int>("productCode");
    QTest::addColumn<uint>("target");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("entry");
    QTest::newRow("no device selected") << 0 << 0u << u"0.0.0.0"_s << 0;
    QTest::newRow("product 8") << 8 << uint(kSimDevice) << u"127.0.10.2"_s << 0;
    QTest::newRow("product 10") << 10 << uint(kFakeDevice) << u"127.0.10.3"_s << 1;
    QTest::newRow("product 11") << 11 << uint(kSimDevice) << u"127.0.10.2"_s << 0;
}

void TestCChangeFWDlg::openingShowsTheAddressAndTheProductEntry()
{
    QFETCH(int, productCode);
    QFETCH(uint, target);
    QFETCH(QString, address);
    QFETCH(int, entry);
    m_dialog = openDialog(productCode, target);
    QCOMPARE(child<QLineEdit>("addressEdit")->text(), address);
    QCOMPARE(child<QComboBox>("productList")->currentIndex(), entry);
    QVERIFY(buttonsEnabled());
    QVERIFY(m_dialog->engine() != nullptr);
    QVERIFY(!m_dialog->engine()->isBusy());
}

void TestCChangeFWDlg::firmwareButtonAsksForBinFilesAndClearsTheCrc()
{
    startSim();
    m_dialog = openDialog();
    const QString first = writeFile(u"first.bin"_s, "123456789");
    choose(first);
    QCOMPARE(m_services->files.requests().size(), 1);
    QCOMPARE(m_services->files.requests().at(0).filter, u"*.bin (*.bin)"_s);
    QVERIFY(!m_services->files.requests().at(0).save);
    QCOMPARE(child<QLineEdit>("firmwareNameEdit")->text(), u"first.bin"_s);
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), QString()); // not read until Send
    click("sendButton");
    QVERIFY(waitForMessage());
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), u"906E"_s); // the CRC-16/X-25 check value
    QCOMPARE(m_dialog->crcText(), x25("123456789"));

    choose(writeFile(u"second.bin"_s, "other"));
    QCOMPARE(child<QLineEdit>("firmwareNameEdit")->text(), u"second.bin"_s);
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), QString());
    // A cancelled chooser keeps the file.
    choose(QString());
    QCOMPARE(child<QLineEdit>("firmwareNameEdit")->text(), u"second.bin"_s);
    QCOMPARE(m_dialog->filePath(), m_files.filePath(u"second.bin"_s));
}

void TestCChangeFWDlg::sendWithoutAFileSaysNoFirmware()
{
    m_dialog = openDialog();
    click("sendButton");
    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, u"Downloading has failed.[No firmware]"_s);
    QCOMPARE(shown.caption, u"CormapMP v4.1F (2013/06/04)"_s);
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!m_dialog->engine()->isBusy());
    QVERIFY(buttonsEnabled());
}

void TestCChangeFWDlg::addressesThatNameNoDeviceAreRefusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    const QString typeTarget =
        u"Type the IPv4 address of the Tessel that is to receive the firmware,\r\nfor example 192.168.0.100."_s;
    const QString notOne = u"%1 is not the address of a single device.\r\nType the unicast IPv4 address of the "
                           "Tessel, for example 192.168.0.100."_s;
    QTest::newRow("blank field") << QString() << typeTarget;
    QTest::newRow("0.0.0.0") << u"0.0.0.0"_s << typeTarget;
    QTest::newRow("three numbers") << u"127.0.10"_s << notOne.arg(u"127.0.10"_s);
    QTest::newRow("a number above 255") << u"127.0.10.256"_s << notOne.arg(u"127.0.10.256"_s);
}

void TestCChangeFWDlg::addressesThatNameNoDeviceAreRefusedBeforeAnythingIsSent()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    m_dialog = openDialog();
    choose(writeFile(u"fw.bin"_s, "image"));
    child<QLineEdit>("addressEdit")->setText(typed);
    click("sendButton");
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QVERIFY(!m_dialog->engine()->isBusy());
    QVERIFY(!m_dialog->transferring());
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), QString()); // the file was not even read
    QVERIFY(buttonsEnabled());
}

void TestCChangeFWDlg::fileThatCannotBeReadShowsTheSystemText_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("errorCode");
    QTest::newRow("removed after it was chosen") << u"removed"_s << ENOENT;
    QTest::newRow("a folder") << u"folder"_s << EISDIR;
}

void TestCChangeFWDlg::fileThatCannotBeReadShowsTheSystemText()
{
    QFETCH(QString, kind);
    QFETCH(int, errorCode);
    m_dialog = openDialog();
    QString path = writeFile(u"gone.bin"_s, "x");
    if (kind == u"folder"_s) {
        path = m_files.filePath(u"folder.bin"_s);
        QVERIFY(QDir().mkpath(path));
    }
    choose(path);
    if (kind == u"removed"_s)
        QVERIFY(QFile::remove(path));
    click("sendButton");
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, systemText(errorCode));
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QVERIFY(!m_dialog->engine()->isBusy());
    QVERIFY(buttonsEnabled());
}

void TestCChangeFWDlg::imageTooLargeForOneUploadIsRefusedUpFront()
{
    m_dialog = openDialog();
    const QString path = m_files.filePath(u"huge.bin"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(qint64{65535} * 512)); // sparse: one block too many for 16-bit block numbers
    file.close();
    choose(path);
    click("sendButton");
    QCOMPARE(m_services->messages.shown().size(), 1);
    const QLocale locale = QLocale::system();
    QCOMPARE(m_services->messages.last().text,
             u"The firmware file huge.bin is too large (%1 bytes).\r\nOne upload can carry at most %2 bytes."_s.arg(
                 locale.toString(33553920), locale.toString(33553919)));
    QVERIFY(!m_dialog->engine()->isBusy());
    QVERIFY(buttonsEnabled());
}

void TestCChangeFWDlg::sendUploadsTheFileAndEndsTheBarAtItsMaximum_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty file") << 0;
    QTest::newRow("100 kB") << 100000;
}

void TestCChangeFWDlg::sendUploadsTheFileAndEndsTheBarAtItsMaximum()
{
    QFETCH(int, size);
    startSim();
    QSignalSpy received(m_sim.get(), &SimFirmware::firmwareReceived);
    m_dialog = openDialog();
    const QByteArray image = fwtest::pattern(size, 3);
    choose(writeFile(u"tessel.bin"_s, image));
    click("sendButton");
    // While the transfer runs, the three buttons are disabled.
    QVERIFY(m_dialog->transferring());
    QVERIFY(!buttonsEnabled());
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), x25(image));
    QVERIFY(waitForMessage());

    QCOMPARE(m_services->messages.shown().size(), 1);
    const ShownMessage shown = m_services->messages.last();
    QCOMPARE(shown.text, u"Downloading firmware has been successfully completed."_s);
    QCOMPARE(shown.icon, QMessageBox::Information);
    QCOMPARE(shown.caption, u"CormapMP v4.1F (2013/06/04)"_s);
    auto* bar = child<QProgressBar>("progressBar");
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bar->maximum(), std::max(size, 1));
    QVERIFY(buttonsEnabled());
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("tessel.bin"));
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
}

void TestCChangeFWDlg::theShellWayIsTakenForProductTenOrTheSecondEntry_data()
{
    QTest::addColumn<int>("productCode");
    QTest::addColumn<int>("entry"); // as the user leaves it
    QTest::addColumn<bool>("shell");
    QTest::newRow("product 8, first entry") << 8 << 0 << false;
    QTest::newRow("product 8, second entry") << 8 << 1 << true;
    QTest::newRow("product 10, first entry chosen by the user") << 10 << 0 << true;
}

void TestCChangeFWDlg::theShellWayIsTakenForProductTenOrTheSecondEntry()
{
    QFETCH(int, productCode);
    QFETCH(int, entry);
    QFETCH(bool, shell);
    startSim();
    QSignalSpy typed(m_sim->shell(0), &ShellServer::typed);
    QSignalSpy received(m_sim.get(), &SimFirmware::firmwareReceived);
    m_dialog = openDialog(productCode);
    child<QComboBox>("productList")->setCurrentIndex(entry);
    choose(writeFile(u"fw.bin"_s, fwtest::pattern(3000)));
    click("sendButton");
    QVERIFY(waitForMessage());
    QCOMPARE(m_services->messages.last().text, u"Downloading firmware has been successfully completed."_s);
    QCOMPARE(received.size(), 1);
    QCOMPARE(typed.isEmpty(), !shell);
    QVERIFY(!m_dialog->pleaseWaitWindow().isVisible());
}

void TestCChangeFWDlg::eachDeviceEndingShowsItsMessage_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("tftpError");
    QTest::addColumn<QString>("message");
    QTest::newRow("size rejected") << int(ShellEnding::SizeRejected) << -1 << u"Downloading has failed.[File size]"_s;
    QTest::newRow("timeout") << int(ShellEnding::Timeout) << -1 << u"Downloading has failed.[Memory error]"_s;
    QTest::newRow("closed early") << int(ShellEnding::CloseEarly) << -1 << u"Downloading has failed.[Timeout]"_s;
    QTest::newRow("TFTP error 1") << int(ShellEnding::Normal) << 1 << u"TFTP error: file not found"_s;
}

void TestCChangeFWDlg::eachDeviceEndingShowsItsMessage()
{
    QFETCH(int, ending);
    QFETCH(int, tftpError);
    QFETCH(QString, message);
    SimFirmwareOptions options;
    options.ending = static_cast<ShellEnding>(ending);
    options.tftpError = tftpError;
    startSim(options);
    m_dialog = openDialog(CChangeFWDlg::kShellProductCode);
    choose(writeFile(u"fw.bin"_s, fwtest::pattern(1000)));
    click("sendButton");
    QVERIFY(waitForMessage());
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QVERIFY(buttonsEnabled());
    QVERIFY(!m_dialog->engine()->isBusy());
    QVERIFY(!m_dialog->pleaseWaitWindow().isVisible());
}

void TestCChangeFWDlg::failureLeavesTheBarWhereTheLastReportLeftIt()
{
    fwtest::UdpPeer device(kFakeDevice, kTftpPort);
    m_dialog = openDialog(0, kFakeDevice);
    const QByteArray image = fwtest::pattern(2000);
    choose(writeFile(u"fw.bin"_s, image));
    click("sendButton");
    QVERIFY(device.waitFor(1));
    auto* bar = child<QProgressBar>("progressBar");
    QCOMPARE(bar->maximum(), 2000);
    device.replyTo(0, tftp::ackPacket(0));
    QVERIFY(device.waitFor(2));
    device.replyTo(1, tftp::ackPacket(1));
    QVERIFY(device.waitFor(3));
    QCOMPARE(bar->value(), 512); // the bytes acknowledged so far
    QVERIFY(!buttonsEnabled());
    device.replyTo(2, tftp::errorPacket(0, "checksum mismatch"));
    QVERIFY(waitForMessage());
    QCOMPARE(m_services->messages.last().text, u"TFTP error: checksum mismatch"_s);
    QCOMPARE(bar->value(), 512);
    QVERIFY(buttonsEnabled());
}

void TestCChangeFWDlg::closeBoxAbandonsATransferWithoutAMessage()
{
    fwtest::UdpPeer device(kFakeDevice, kTftpPort); // never answers
    m_dialog = openDialog(0, kFakeDevice);
    choose(writeFile(u"fw.bin"_s, "image"));
    click("sendButton");
    QVERIFY(device.waitFor(1));
    QVERIFY(m_dialog->engine()->isBusy());
    m_dialog->close(); // the window's close box
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
    QVERIFY(m_dialog->engine() == nullptr);
    QVERIFY(!m_dialog->transferring());
    QVERIFY(m_services->messages.shown().isEmpty());
}

void TestCChangeFWDlg::escapeDoesNotCloseTheDialog()
{
    m_dialog = openDialog();
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    QVERIFY(m_dialog->isVisible());
    click("closeButton");
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
}

void TestCChangeFWDlg::reopeningShowsTheFileAndSendRereadsIt()
{
    startSim();
    QSignalSpy received(m_sim.get(), &SimFirmware::firmwareReceived);
    m_dialog = openDialog();
    const QString path = writeFile(u"fw.bin"_s, "first image");
    choose(path);
    click("sendButton");
    QVERIFY(waitForMessage());
    click("closeButton");
    writeFile(u"fw.bin"_s, "second, changed image");

    m_dialog->show(); // the next opening of the same dialog
    QVERIFY(m_dialog->engine() != nullptr);
    QCOMPARE(child<QLineEdit>("firmwareNameEdit")->text(), u"fw.bin"_s);
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), x25("first image"));
    click("sendButton");
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), x25("second, changed image"));
    QVERIFY(waitForMessage(2));
    QCOMPARE(received.size(), 2);
    QCOMPARE(received.at(1).at(2).toByteArray(), QByteArray("second, changed image"));
}

void TestCChangeFWDlg::searchWindowOpensTheFirmwareDialog()
{
    guitest::Services services(UiLanguage::English, primary_language::kEnglish, testProfile());
    services.profile.setAgreement(1);
    QString address;
    int opened = 0;
    const auto firmwareWatch = guitest::whenShown<CChangeFWDlg>([&](CChangeFWDlg* dialog) {
        ++opened;
        address = dialog->findChild<QLineEdit*>(u"addressEdit"_s)->text();
        QTest::mouseClick(dialog->findChild<QPushButton*>(u"closeButton"_s), Qt::LeftButton);
    });
    const auto searchWatch = guitest::whenShown<CQorvDlg>([&](CQorvDlg* window) {
        QTest::mouseClick(window->findChild<QPushButton*>(u"firmwareButton"_s), Qt::LeftButton);
        services.messages.setNextAnswer(QMessageBox::Yes); // "Are you sure to exit the program?"
        QTest::mouseClick(window->findChild<QPushButton*>(u"exitButton"_s), Qt::LeftButton);
    });
    CQorvApp app(services.context());
    QCOMPARE(app.run(), 0);
    QCOMPARE(opened, 1);
    QCOMPARE(address, u"0.0.0.0"_s); // no device selected
}

QTEST_MAIN(TestCChangeFWDlg)
#include "tst_cchangefwdlg.moc"
