// The firmware dialog offscreen: its controls and texts, what opening shows, the checks made before
// anything is sent (file, target address, size), and the search window opening it. Messages are read
// through the message service as the user would see them.

#include "FirmwareDialogFixture.h"

using namespace Qt::StringLiterals;
using namespace fwdlg;

class TestCChangeFWDlg : public FirmwareDialogFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { setUpProfile(); }
    void init() { makeServices(); }
    void cleanup() { tearDown(); }

    void namesItsControlsAndLoadsTheirTexts_data();
    void namesItsControlsAndLoadsTheirTexts();
    void openingShowsTheAddressAndTheProductEntry_data();
    void openingShowsTheAddressAndTheProductEntry();
    void sendWithoutAFileSaysNoFirmware();
    void addressesThatNameNoDeviceAreRefusedBeforeAnythingIsSent_data();
    void addressesThatNameNoDeviceAreRefusedBeforeAnythingIsSent();
    void fileThatCannotBeReadShowsTheSystemText_data();
    void fileThatCannotBeReadShowsTheSystemText();
    void imageTooLargeForOneUploadIsRefusedUpFront();
    void imageFromADeviceWithoutEndOrContentIsRefused_data();
    void imageFromADeviceWithoutEndOrContentIsRefused();
    void largestImageOneUploadCarriesIsLoadedAndSent();
    void escapeDoesNotCloseTheDialog();
    void searchWindowOpensTheFirmwareDialog();
};

void TestCChangeFWDlg::namesItsControlsAndLoadsTheirTexts_data()
{
    QTest::addColumn<int>("language");
    // title, product, firmware, CRC, address labels, Firmware, Send, Close buttons (with their access keys), the
    // two entries
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("English") << int(UiLanguage::English)
                             << QStringList{u"Change Firmware"_s,
                                            u"Product : "_s,
                                            u"Firmware : "_s,
                                            u"CRC : "_s,
                                            u"Local IP Address : "_s,
                                            u"&Firmware"_s,
                                            u"&Send"_s,
                                            u"&Close"_s,
                                            u"Tessel 400 (direct TFTP)"_s,
                                            u"Tessel 400 S/T variants (through the shell)"_s};
    QTest::newRow("Korean") << int(UiLanguage::Korean)
                            << QStringList{u"펌웨어 변경"_s,
                                           u"제품 : "_s,
                                           u"펌웨어 : "_s,
                                           u"CRC : "_s,
                                           u"로컬 IP 주소 : "_s,
                                           u"펌웨어(&F)"_s,
                                           u"전송(&S)"_s,
                                           u"닫기(&C)"_s,
                                           u"Tessel 400(TFTP 직접 전송)"_s,
                                           u"Tessel 400 S/T 변형 모델(셸 경유)"_s};
    QTest::newRow("Chinese") << int(UiLanguage::Chinese)
                             << QStringList{u"更改固件"_s,
                                            u"产品 : "_s,
                                            u"固件 : "_s,
                                            u"CRC : "_s,
                                            u"本地 IP 地址 : "_s,
                                            u"固件(&F)"_s,
                                            u"发送(&S)"_s,
                                            u"关闭(&C)"_s,
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
    const QString notAnAddress = u"%1 is not a valid IPv4 address.\r\nType four numbers from 0 to 255 separated by "
                                 "dots, for example 192.168.0.100."_s;
    QTest::newRow("three numbers") << u"127.0.5"_s << notAnAddress.arg(u"127.0.5"_s);
    QTest::newRow("a number above 255") << u"127.0.0.300"_s << notAnAddress.arg(u"127.0.0.300"_s);
    QTest::newRow("a leading zero") << u"127.0.0.010"_s << notAnAddress.arg(u"127.0.0.010"_s);
    QTest::newRow("five numbers") << u"127.0.0.2.5"_s << notAnAddress.arg(u"127.0.0.2.5"_s);
    QTest::newRow("multicast") << u"224.0.0.1"_s << notOne.arg(u"224.0.0.1"_s);
    QTest::newRow("broadcast") << u"255.255.255.255"_s << notOne.arg(u"255.255.255.255"_s);
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

void TestCChangeFWDlg::imageFromADeviceWithoutEndOrContentIsRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    const QLocale locale = QLocale::system();
    QTest::newRow("endless") << u"/dev/zero"_s
                             << u"The firmware read from zero is too large (more than %1 bytes).\r\nOne upload can "
                                u"carry at most %1 bytes."_s.arg(locale.toString(33553919));
    QTest::newRow("empty") << u"/dev/null"_s << u"Nothing could be read from null: it delivered no bytes."_s;
}

void TestCChangeFWDlg::imageFromADeviceWithoutEndOrContentIsRefused()
{
    // Read as the streams they are: never an image of another size than was read, never 0 bytes sent.
    QFETCH(QString, path);
    QFETCH(QString, message);
    startSim();
    QSignalSpy received(m_sim.get(), &SimFirmware::firmwareReceived);
    m_dialog = openDialog();
    choose(path);
    click("sendButton");
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QVERIFY(!m_dialog->engine()->isBusy());
    QVERIFY(!received.wait(300));
    QVERIFY(buttonsEnabled());
}

void TestCChangeFWDlg::largestImageOneUploadCarriesIsLoadedAndSent()
{
    // One byte under the size the 16-bit block numbers cannot carry: read, its CRC shown, the upload
    // started (no device answers here; the dialog is closed under way).
    constexpr qint64 kLargest = qint64{65535} * 512 - 1;
    m_dialog = openDialog();
    const QString path = m_files.filePath(u"largest.bin"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(kLargest)); // sparse: zeros
    file.close();
    choose(path);
    click("sendButton");
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(child<QLineEdit>("crcEdit")->text(), x25(QByteArray(kLargest, '\0')));
    QCOMPARE(child<QProgressBar>("progressBar")->maximum(), kLargest);
    QVERIFY(m_dialog->engine()->uploadActive());
    QVERIFY(!child<QPushButton>("sendButton")->isEnabled());
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
