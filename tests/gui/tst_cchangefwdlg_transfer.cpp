// Transfers from the firmware dialog offscreen: to a simulated device (TFTP server and shell) and to a
// plain-socket device a test answers: the CRC, the progress bar, the buttons, the way taken and the
// message of each ending, the close box during a transfer, and a second opening.

#include "FirmwareDialogFixture.h"

using namespace Qt::StringLiterals;
using namespace fwdlg;

class TestCChangeFWDlgTransfer : public FirmwareDialogFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { setUpProfile(); }
    void init() { makeServices(); }
    void cleanup() { tearDown(); }

    void firmwareButtonAsksForBinFilesAndClearsTheCrc();
    void sendUploadsTheFileAndEndsTheBarAtItsMaximum_data();
    void sendUploadsTheFileAndEndsTheBarAtItsMaximum();
    void theShellWayIsTakenForProductTenOrTheSecondEntry_data();
    void theShellWayIsTakenForProductTenOrTheSecondEntry();
    void eachDeviceEndingShowsItsMessage_data();
    void eachDeviceEndingShowsItsMessage();
    void failureLeavesTheBarWhereTheLastReportLeftIt();
    void closeBoxAbandonsATransferWithoutAMessage();
    void reopeningShowsTheFileAndSendRereadsIt();
};

void TestCChangeFWDlgTransfer::firmwareButtonAsksForBinFilesAndClearsTheCrc()
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

void TestCChangeFWDlgTransfer::sendUploadsTheFileAndEndsTheBarAtItsMaximum_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty file") << 0;
    QTest::newRow("100 kB") << 100000;
}

void TestCChangeFWDlgTransfer::sendUploadsTheFileAndEndsTheBarAtItsMaximum()
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

void TestCChangeFWDlgTransfer::theShellWayIsTakenForProductTenOrTheSecondEntry_data()
{
    QTest::addColumn<int>("productCode");
    QTest::addColumn<int>("entry"); // as the user leaves it
    QTest::addColumn<bool>("shell");
    QTest::newRow("product 8, first entry") << 8 << 0 << false;
    QTest::newRow("product 8, second entry") << 8 << 1 << true;
    QTest::newRow("product 10, first entry chosen by the user") << 10 << 0 << true;
}

void TestCChangeFWDlgTransfer::theShellWayIsTakenForProductTenOrTheSecondEntry()
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

void TestCChangeFWDlgTransfer::eachDeviceEndingShowsItsMessage_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("tftpError");
    QTest::addColumn<QString>("message");
    QTest::newRow("size rejected") << int(ShellEnding::SizeRejected) << -1 << u"Downloading has failed.[File size]"_s;
    QTest::newRow("timeout") << int(ShellEnding::Timeout) << -1 << u"Downloading has failed.[Memory error]"_s;
    QTest::newRow("closed early") << int(ShellEnding::CloseEarly) << -1 << u"Downloading has failed.[Timeout]"_s;
    QTest::newRow("TFTP error 1") << int(ShellEnding::Normal) << 1 << u"TFTP error: file not found"_s;
}

void TestCChangeFWDlgTransfer::eachDeviceEndingShowsItsMessage()
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

void TestCChangeFWDlgTransfer::failureLeavesTheBarWhereTheLastReportLeftIt()
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

void TestCChangeFWDlgTransfer::closeBoxAbandonsATransferWithoutAMessage()
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

void TestCChangeFWDlgTransfer::reopeningShowsTheFileAndSendRereadsIt()
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

QTEST_MAIN(TestCChangeFWDlgTransfer)
#include "tst_cchangefwdlg_transfer.moc"
