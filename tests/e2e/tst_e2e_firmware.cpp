// Firmware uploads on the real profile, both ways: the command-line tool in a client namespace sends to
// simulated devices in a device namespace at the real ports (TFTP 69, shell 23), across two network
// namespaces this test makes and removes (10.250.0.0/24). Root only; skipped otherwise.

#include "NetnsFixture.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using netns::Run;
using namespace Qt::StringLiterals;

namespace {
const QString kCli = QStringLiteral(CORMAPMP_CLI_PATH);
const QString kSim = QStringLiteral(TESSEL_SIM_PATH);
constexpr int kCliMs = 30000;
} // namespace

class TestE2eFirmware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void uploadArrivesIntactBothWays_data();
    void uploadArrivesIntactBothWays();

private:
    std::unique_ptr<netns::NamespacePair> m_namespaces;
    QTemporaryDir m_dir;
};

void TestE2eFirmware::initTestCase()
{
    netns::Setup setup = netns::setUp(u"cormap-e2e-fw-"_s, kSim);
    if (!setup.skipReason.isEmpty())
        QSKIP(qPrintable(setup.skipReason));
    m_namespaces = std::move(setup.pair);
    QVERIFY2(setup.error.isEmpty(), qPrintable(setup.error));
}

void TestE2eFirmware::cleanupTestCase()
{
    m_namespaces.reset();
}

void TestE2eFirmware::uploadArrivesIntactBothWays_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("device"); // named as the user would: by address or by MAC
    QTest::addColumn<int>("size");
    QTest::newRow("direct, by address") << u"--direct"_s << u"10.250.0.10"_s << 513;
    QTest::newRow("shell, by address") << u"--shell"_s << u"10.250.0.11"_s << 1048576;
    QTest::newRow("shell, by MAC") << u"--shell"_s << u"mac:10.250.0.12"_s << 512;
}

void TestE2eFirmware::uploadArrivesIntactBothWays()
{
    QFETCH(QString, way);
    QFETCH(QString, device);
    QFETCH(int, size);
    QString address = device;
    if (device.startsWith(u"mac:"_s)) {
        address = device.mid(4);
        device = m_namespaces->macByAddress().value(address);
    }
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 131 + 7) ^ (i >> 9));
    const QString path = m_dir.filePath(u"e2e-%1.bin"_s.arg(size));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();

    const Run run = netns::runProgram(
        u"ip"_s, {u"netns"_s, u"exec"_s, m_namespaces->client, kCli, u"firmware"_s, path, device, way}, kCliMs);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.endsWith(u"Downloading firmware has been successfully completed.\n"_s), qPrintable(run.out));
    QCOMPARE(run.out.contains(u"Please wait while upgrading firmware."_s), way == u"--shell"_s);
    const QString line = m_namespaces->waitForSimulatorLine(u"firmware "_s, 5000);
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    QCOMPARE(line,
             u"firmware %1 e2e-%2.bin %2 %3"_s.arg(m_namespaces->macByAddress().value(address)).arg(size).arg(sha));
}

QTEST_GUILESS_MAIN(TestE2eFirmware)
#include "tst_e2e_firmware.moc"
