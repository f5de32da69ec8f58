// What cormapmp-cli shows of a device's texts: the account password to its full 12 bytes, the comment only
// for a device that keeps one, and never a control character that would drive the terminal.

#include "CliTestSupport.h"
#include "TesselSim.h"

#include <QJsonArray>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52705;        // this test's own device port on the loopback profile
constexpr std::uint32_t kFullPassword = 0x7F000002; // 127.0.0.2: account password fills its 12 bytes
constexpr std::uint32_t kNoComment = 0x7F000003;    // 127.0.0.3: no comment capability, comment bytes set
constexpr std::uint32_t kControls = 0x7F000004;     // 127.0.0.4: C0, DEL and C1 bytes in its texts

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

clitest::CliRun runCli(const QStringList& args)
{
    return clitest::runCli(testProfile(), args);
}

void setBytes(EnvRecord& r, std::size_t offset, const QByteArray& bytes)
{
    std::copy(bytes.begin(), bytes.end(), r.raw().begin() + static_cast<std::ptrdiff_t>(offset));
}

const QByteArray kCommentBytes = QByteArray("kept but not shown");
// ESC [ 3 1 m as C1 CSI (0x9B) and as C0 ESC, NEL (0x85), DEL, and a Latin-1 letter that is no control.
const QByteArray kControlComment = QByteArray("a\x9b"
                                              "31m\x1b[0m\x85z\x7f\xe9");
const QByteArray kControlAccount = QByteArray("id\x90\x9f");
} // namespace

class TestCliDeviceText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void accountPasswordIsShownToItsFullTwelveBytes();
    void commentOnlyForADeviceThatKeepsOne();
    void searchListsTheCommentOnlyForADeviceThatKeepsOne();
    void controlBytesAreEscaped();

private:
    std::unique_ptr<TesselSim> m_sim;
};

void TestCliDeviceText::initTestCase()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    SimDevice full = TesselSim::makeDevice(0, kFullPassword);
    setBytes(full.record, EnvRecord::kOffAccountPassword, QByteArray("abcdefghijkl"));
    full.setPassword(QByteArrayLiteral("secret")); // bytes 76.. right after it are not zero
    SimDevice plain = TesselSim::makeDevice(1, kNoComment);
    plain.record.setCommentSupported(false);
    setBytes(plain.record, EnvRecord::kOffComment, kCommentBytes);
    SimDevice controls = TesselSim::makeDevice(2, kControls);
    std::fill_n(controls.record.raw().begin() + EnvRecord::kOffComment, EnvRecord::kCommentSize, 0);
    setBytes(controls.record, EnvRecord::kOffComment, kControlComment);
    std::fill_n(controls.record.raw().begin() + EnvRecord::kOffAccountId, EnvRecord::kAccountIdSize, 0);
    setBytes(controls.record, EnvRecord::kOffAccountId, kControlAccount);
    for (const SimDevice& d : {full, plain, controls})
        m_sim->addDevice(d);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliDeviceText::cleanupTestCase()
{
    m_sim.reset();
}

void TestCliDeviceText::accountPasswordIsShownToItsFullTwelveBytes()
{
    const clitest::CliRun text = runCli({u"read"_s, u"127.0.0.2"_s});
    QCOMPARE(text.status, 0);
    QCOMPARE(clitest::textValues(text.out, u"accountPassword"_s), QStringList{u"\"abcdefghijkl\""_s});
    const clitest::CliRun json = runCli({u"read"_s, u"--json"_s, u"127.0.0.2"_s});
    QCOMPARE(json.status, 0);
    QCOMPARE(clitest::jsonObject(json.out).value(u"accountPassword"_s).toString(), u"abcdefghijkl"_s);
}

void TestCliDeviceText::commentOnlyForADeviceThatKeepsOne()
{
    const clitest::CliRun text = runCli({u"read"_s, u"127.0.0.3"_s});
    QCOMPARE(text.status, 0);
    QCOMPARE(clitest::textValues(text.out, u"commentSupported"_s), QStringList{u"no"_s});
    QVERIFY2(clitest::textValues(text.out, u"comment"_s).isEmpty(), qPrintable(text.out));
    QVERIFY2(!text.out.contains(QString::fromLatin1(kCommentBytes)), qPrintable(text.out));
    // The bytes are kept under the uninterpreted view.
    QCOMPARE(clitest::textValues(text.out, u"88-119"_s).size(), 1);

    const clitest::CliRun json = runCli({u"read"_s, u"--json"_s, u"127.0.0.3"_s});
    QCOMPARE(json.status, 0);
    const QJsonObject record = clitest::jsonObject(json.out);
    QVERIFY(!record.contains(u"comment"_s));
    QCOMPARE(record.value(u"commentSupported"_s), QJsonValue(false));
    QByteArray raw(EnvRecord::kCommentSize, '\0');
    std::copy(kCommentBytes.begin(), kCommentBytes.end(), raw.begin());
    QCOMPARE(record.value(u"uninterpreted"_s).toObject().value(u"88-119"_s).toString(),
             QString::fromLatin1(raw.toHex()));

    // A device that keeps a comment shows it and has no such uninterpreted range.
    const QJsonObject keeps = clitest::jsonObject(runCli({u"read"_s, u"--json"_s, u"127.0.0.2"_s}).out);
    QCOMPARE(keeps.value(u"comment"_s).toString(), u"Tessel sim 1"_s);
    QVERIFY(!keeps.value(u"uninterpreted"_s).toObject().contains(u"88-119"_s));
}

void TestCliDeviceText::searchListsTheCommentOnlyForADeviceThatKeepsOne()
{
    const clitest::CliRun text = runCli({u"search"_s, u"--ip"_s, u"127.0.0.3"_s});
    QCOMPARE(text.status, 0);
    // Address, IP address, product code, and nothing after it.
    const QRegularExpression line(u"^127\\.0\\.0\\.3 +127\\.0\\.0\\.3 +product \\d+\n$"_s);
    QVERIFY2(line.match(text.out).hasMatch(), qPrintable(text.out));
    const clitest::CliRun json = runCli({u"search"_s, u"--json"_s, u"--ip"_s, u"127.0.0.3"_s});
    const QJsonArray devices = QJsonDocument::fromJson(json.out.toUtf8()).array();
    QCOMPARE(devices.size(), 1);
    QVERIFY(!devices[0].toObject().contains(u"comment"_s));
    const QJsonArray keeps =
        QJsonDocument::fromJson(runCli({u"search"_s, u"--json"_s, u"--ip"_s, u"127.0.0.2"_s}).out.toUtf8()).array();
    QCOMPARE(keeps[0].toObject().value(u"comment"_s).toString(), u"Tessel sim 1"_s);
}

void TestCliDeviceText::controlBytesAreEscaped()
{
    const clitest::CliRun text = runCli({u"read"_s, u"127.0.0.4"_s});
    QCOMPARE(text.status, 0);
    QCOMPARE(clitest::textValues(text.out, u"comment"_s), QStringList{u"\"a\\x9b31m\\x1b[0m\\x85z\\x7f\u00e9\""_s});
    QCOMPARE(clitest::textValues(text.out, u"accountId"_s), QStringList{u"\"id\\x90\\x9f\""_s});
    const clitest::CliRun json = runCli({u"read"_s, u"--json"_s, u"127.0.0.4"_s});
    QCOMPARE(json.status, 0);
    for (const clitest::CliRun* run : {&text, &json}) {
        for (const QChar c : run->out) {
            const char16_t u = c.unicode();
            QVERIFY2(u == u'\n' || (u >= 0x20 && u != 0x7F && !(u >= 0x80 && u <= 0x9F)),
                     qPrintable(u"control character U+%1 printed"_s.arg(int(u), 4, 16, QLatin1Char('0'))));
        }
    }
    // Escaped in the JSON text, the same characters once parsed.
    QVERIFY2(json.out.contains(u"\\u009b"_s), qPrintable(json.out));
    const QJsonObject record = clitest::jsonObject(json.out);
    QCOMPARE(record.value(u"comment"_s).toString(), QString::fromLatin1(kControlComment));
    QCOMPARE(record.value(u"accountId"_s).toString(), QString::fromLatin1(kControlAccount));
}

QTEST_GUILESS_MAIN(TestCliDeviceText)
#include "tst_clidevicetext.moc"
