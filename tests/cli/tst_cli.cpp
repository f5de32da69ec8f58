#include "device/DeviceName.h"
#include "CliTestSupport.h"
#include "CliTool.h"
#include "RecordFormat.h"
#include "TesselSim.h"
#include "protocol/Ipv4.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
/** The byte ranges the record layout leaves uninterpreted, written out here (bytes 2-3 of each port
 *  block among them). */
struct ByteSpan
{
    std::size_t first;
    std::size_t last;
};
constexpr ByteSpan kUninterpretedSpans[] = {{6, 11},    {14, 15},   {120, 151}, {156, 315}, {318, 319},
                                            {342, 343}, {366, 367}, {390, 391}, {412, 507}, {508, 511}};

constexpr std::uint16_t kDevicePort = 52505; // this test's own device port on the loopback profile

constexpr std::uint32_t kFirstAddress = 0x7F000002;     // 127.0.0.2, then .3 and .4
constexpr int kDecodedDevice = 1;                       // 127.0.0.3: every field set, decoded by the read tests
constexpr int kPasswordDevice = 2;                      // 127.0.0.4: has a password
constexpr std::uint32_t kReportedSource = 0x01020304;   // what the devices themselves put in sourceAddress
constexpr std::uint32_t kDecodedFlags = 0x1FB95;        // see decodedRecord()
constexpr std::uint32_t kDecodedIpAddress = 0x0A090807; // 10.9.8.7: the decoded device reports another address

const QString kNoResponse = QStringLiteral("No response from the Tessel(s).\n"
                                           "Please check the LAN cable and the setting of the firewall on your PC.\n");
const QString kCannotOpen = QStringLiteral("SOCK_DGRAM: can't open socket\n");

// MACs deliberately out of address order, so that only sorting lists them as kSortedMacs.
const QStringList kMacs = {QStringLiteral("02:7e:55:00:00:c3"), QStringLiteral("02:7e:55:00:00:a1"),
                           QStringLiteral("02:7e:55:00:00:b2")};
const QStringList kSortedMacs = {kMacs[1], kMacs[2], kMacs[0]};

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

std::array<std::uint8_t, 6> macBytes(const QString& text)
{
    std::array<std::uint8_t, 6> mac{};
    const QStringList parts = text.split(QLatin1Char(':'));
    for (std::size_t i = 0; i < mac.size(); ++i)
        mac[i] = static_cast<std::uint8_t>(parts.at(static_cast<qsizetype>(i)).toUInt(nullptr, 16));
    return mac;
}

EnvPortBlock portBlock(std::uint8_t serialFormat, std::uint8_t mode, std::uint32_t localIp, std::uint32_t peerIp,
                       std::uint16_t localPort, std::uint16_t peerPort, std::uint32_t baud, std::uint16_t timeout,
                       std::uint16_t waterMark)
{
    EnvPortBlock p;
    p.setSerialFormat(serialFormat);
    p.setMode(mode);
    p.setLocalIp(localIp);
    p.setPeerIp(peerIp);
    p.setLocalPort(localPort);
    p.setPeerPort(peerPort);
    p.setBaudRate(baud);
    p.setTimeout(timeout);
    p.setWaterMark(waterMark);
    return p;
}

/** The device the read tests decode: every field holds a value that shows, unnamed flag bits are set,
 *  and the bytes no field interprets carry a pattern that must come back unchanged. */
EnvRecord decodedRecord(EnvRecord r)
{
    r.setProductId(0x1b); // product code 3, sub-code 3
    r.setProductInfo(0x12);
    // bit 0, DHCP, bit 4, telnet, bit 8, EAPoL MD5, SSL, bit 12, both capabilities, remote search, bit 16
    r.setFlags(kDecodedFlags);
    r.setIpAddress(kDecodedIpAddress);
    r.setSubnetMask(0xFFFFFF00);
    r.setGateway(0x7F000001);
    r.setAccountId("user@example.net");
    r.setAccountPassword("s3cret");
    r.setComment("Lab bench 7");
    r.setSourceAddress(kReportedSource);
    // 7 data bits, 2 stop bits, parity Even (3), flow Xon/Xoff (3), bit 7 set
    r.setPort(0, portBlock(0xFE, 3, 0x7F000003, 0xC0A80709, 4001, 5002, 115200, 300, 64));
    r.setPort(1, portBlock(0x03, 2, 0, 0x0A141E28, 1, 65534, 230400, 3600, 8192)); // 8N1, COD
    r.setPort(2, portBlock(0x29, 7, 0, 0, 0, 0, 600, 0, 0));  // 6 data bits, Odd, RTS/CTS, mode code 7
    r.setPort(3, portBlock(0x50, 0, 0, 0, 0, 0, 9600, 0, 0)); // parity code 2 and flow code 2
    for (const ByteSpan& span : kUninterpretedSpans) {
        for (std::size_t at = span.first; at <= span.last; ++at)
            r.raw()[at] = static_cast<std::uint8_t>(at * 7 + 3);
    }
    return r;
}

using clitest::CliRun;
using clitest::jsonObject;
using clitest::textValues;

CliRun runCli(const QStringList& args)
{
    return clitest::runCli(testProfile(), args);
}

QJsonObject portJson(int serialFormat, int dataBits, int stopBits, const char* parity, const char* flow,
                     const QJsonValue& mode, const char* localIp, const char* peerIp, int localPort, int peerPort,
                     int baud, int timeout, int waterMark)
{
    return {
        {QStringLiteral("serialFormat"), serialFormat},
        {QStringLiteral("dataBits"), dataBits},
        {QStringLiteral("stopBits"), stopBits},
        {QStringLiteral("parity"), QString::fromLatin1(parity)},
        {QStringLiteral("flowControl"), QString::fromLatin1(flow)},
        {QStringLiteral("mode"), mode},
        {QStringLiteral("localIp"), QString::fromLatin1(localIp)},
        {QStringLiteral("peerIp"), QString::fromLatin1(peerIp)},
        {QStringLiteral("localPort"), localPort},
        {QStringLiteral("peerPort"), peerPort},
        {QStringLiteral("baudRate"), baud},
        {QStringLiteral("timeout"), timeout},
        {QStringLiteral("waterMark"), waterMark},
    };
}
} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void searchListsEachDeviceOnceSortedByMacAfterTheFullWait();
    void searchJsonIsOneArrayOfDevicesSortedByMac();
    void searchWaitAndExpectEndTheWaitEarlier_data();
    void searchWaitAndExpectEndTheWaitEarlier();
    void searchByIpListsTheAddressTheAnswerCameFrom();
    void readDecodesEveryFieldAsText_data();
    void readDecodesEveryFieldAsText();
    void readJsonNamesEveryFieldByItsAccessor_data();
    void readJsonNamesEveryFieldByItsAccessor();
    void readReportsOnlyWhetherAPasswordIsSet();
    void noAnswerPrintsString166AndExitsOne_data();
    void noAnswerPrintsString166AndExitsOne();
    void endpointThatCannotOpenExitsOne_data();
    void endpointThatCannotOpenExitsOne();
    void badInputExitsTwoNamingWhatIsWrong_data();
    void badInputExitsTwoNamingWhatIsWrong();
    void helpPrintsTheVerbs_data();
    void helpPrintsTheVerbs();

private:
    const SimDevice& device(int index) { return m_sim->device(index); }
    void addReadRows();

    std::unique_ptr<TesselSim> m_sim;
};

void TestCli::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    for (int i = 0; i < kMacs.size(); ++i) {
        SimDevice d = TesselSim::makeDevice(i, kFirstAddress + static_cast<std::uint32_t>(i));
        d.address = kFirstAddress + static_cast<std::uint32_t>(i);
        d.record.setMac(macBytes(kMacs[i]));
        d.record.setSourceAddress(kReportedSource);
        if (i == kDecodedDevice)
            d.record = decodedRecord(d.record);
        if (i == kPasswordDevice)
            d.setPassword(QByteArrayLiteral("pw12"));
        m_sim->addDevice(d);
    }
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCli::cleanup()
{
    m_sim.reset();
}

void TestCli::searchListsEachDeviceOnceSortedByMacAfterTheFullWait()
{
    const CliRun run = runCli({QStringLiteral("search")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.elapsedMs >= 2900, "a search by MAC always waits 10 ticks of 300 ms");
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), kMacs.size());
    const QRegularExpression columns(QStringLiteral("^(\\S+)\\s+(\\S+)\\s+product (\\d+)\\s+\"(.*)\"$"));
    for (int row = 0; row < lines.size(); ++row) {
        const QRegularExpressionMatch m = columns.match(lines[row]);
        QVERIFY2(m.hasMatch(), qPrintable(lines[row]));
        QCOMPARE(m.captured(1), kSortedMacs[row]);
        const EnvRecord& r = device(static_cast<int>(kMacs.indexOf(kSortedMacs[row]))).record;
        QCOMPARE(m.captured(2), ipv4::dotted(r.ipAddress()));
        QCOMPARE(m.captured(3).toInt(), r.productCode());
        QCOMPARE(m.captured(4), QString::fromStdString(r.comment()));
    }
}

void TestCli::searchWaitAndExpectEndTheWaitEarlier_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("longestMs"); // what the run would take at least if the option were ignored
    const QString all = QString::number(kMacs.size());
    QTest::newRow("a shorter wait") << QStringList{u"--wait"_s, u"600"_s} << 2900;
    QTest::newRow("every device expected has answered") << QStringList{u"--wait=8000"_s, u"--expect"_s, all} << 7900;
}

void TestCli::searchWaitAndExpectEndTheWaitEarlier()
{
    QFETCH(QStringList, options);
    QFETCH(int, longestMs);
    const CliRun run = runCli(QStringList{u"search"_s} + options);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), kMacs.size());
    QVERIFY2(run.elapsedMs < longestMs, qPrintable(QString::number(run.elapsedMs)));
}

void TestCli::searchJsonIsOneArrayOfDevicesSortedByMac()
{
    const CliRun run = runCli({QStringLiteral("search"), QStringLiteral("--json")});
    QCOMPARE(run.status, 0);
    const QJsonDocument doc = QJsonDocument::fromJson(run.out.toUtf8());
    QVERIFY(doc.isArray());
    const QJsonArray devices = doc.array();
    QCOMPARE(devices.size(), kMacs.size());
    for (int row = 0; row < devices.size(); ++row) {
        const QJsonObject d = devices[row].toObject();
        QCOMPARE(d.value(QStringLiteral("mac")).toString(), kSortedMacs[row]);
        const EnvRecord& r = device(static_cast<int>(kMacs.indexOf(kSortedMacs[row]))).record;
        QCOMPARE(d.value(QStringLiteral("productCode")).toInt(), r.productCode());
        QCOMPARE(d.value(QStringLiteral("productId")).toInt(), r.productId());
        QCOMPARE(d.value(QStringLiteral("comment")).toString(), QString::fromStdString(r.comment()));
        // A broadcast answer keeps the sourceAddress the device sent.
        QCOMPARE(d.value(QStringLiteral("sourceAddress")).toString(), QStringLiteral("1.2.3.4"));
    }
    QCOMPARE(devices[0].toObject().value(QStringLiteral("ipAddress")).toString(), QStringLiteral("10.9.8.7"));
}

void TestCli::searchByIpListsTheAddressTheAnswerCameFrom()
{
    const CliRun run = runCli({QStringLiteral("search"), QStringLiteral("--ip"), QStringLiteral("127.0.0.3")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.elapsedMs < 1500, "a search by IP ends at the first tick after the answer");
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    // The answer came from 127.0.0.3; the record says 10.9.8.7.
    QVERIFY2(lines[0].startsWith(QStringLiteral("127.0.0.3 ")), qPrintable(lines[0]));
    QVERIFY2(lines[0].contains(QStringLiteral(" 10.9.8.7 ")), qPrintable(lines[0]));
    QVERIFY2(lines[0].contains(QStringLiteral("product 3")), qPrintable(lines[0]));
    QVERIFY2(lines[0].endsWith(QStringLiteral("\"Lab bench 7\"")), qPrintable(lines[0]));

    const CliRun json = runCli({QStringLiteral("search"), QStringLiteral("--json"), QStringLiteral("--ip=127.0.0.3")});
    QCOMPARE(json.status, 0);
    const QJsonArray devices = QJsonDocument::fromJson(json.out.toUtf8()).array();
    QCOMPARE(devices.size(), 1);
    // The device reported 1.2.3.4; a unicast answer's sourceAddress is where it came from.
    QCOMPARE(devices[0].toObject().value(QStringLiteral("sourceAddress")).toString(), QStringLiteral("127.0.0.3"));
    QCOMPARE(devices[0].toObject().value(QStringLiteral("mac")).toString(), kMacs[kDecodedDevice]);
}

void TestCli::addReadRows()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("sourceAddress");
    // A broadcast answer keeps the device's own sourceAddress; a unicast one gets the sender's address.
    QTest::newRow("by MAC") << kMacs[kDecodedDevice] << QStringLiteral("1.2.3.4");
    QTest::newRow("by upper-case MAC") << kMacs[kDecodedDevice].toUpper() << QStringLiteral("1.2.3.4");
    QTest::newRow("by IP address") << QStringLiteral("127.0.0.3") << QStringLiteral("127.0.0.3");
}

void TestCli::readDecodesEveryFieldAsText_data()
{
    addReadRows();
}

void TestCli::readDecodesEveryFieldAsText()
{
    QFETCH(QString, device);
    QFETCH(QString, sourceAddress);
    const CliRun run = runCli({QStringLiteral("read"), device});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.elapsedMs < 1000, "a read ends at the first 200 ms tick after the answer");
    const auto value = [&](const char* name) { return textValues(run.out, QString::fromLatin1(name)); };
    QCOMPARE(value("mac"), QStringList{kMacs[kDecodedDevice]});
    QCOMPARE(value("productId"), QStringList{QStringLiteral("0x1b")});
    QCOMPARE(value("productCode"), QStringList{QStringLiteral("3")});
    QCOMPARE(value("productInfo"), QStringList{QStringLiteral("0x12 (1, 2)")});
    QCOMPARE(value("flags"), QStringList{QStringLiteral("0x0001fb95")});
    QCOMPARE(value("multiIp"), QStringList{QStringLiteral("no")});
    QCOMPARE(value("ipv4Type"), QStringList{QStringLiteral("DHCP")});
    QCOMPARE(value("arp"), QStringList{QStringLiteral("no")});
    QCOMPARE(value("telnet"), QStringList{QStringLiteral("yes")});
    QCOMPARE(value("eapol"), QStringList{QStringLiteral("MD5")});
    QCOMPARE(value("ssl"), QStringList{QStringLiteral("yes")});
    QCOMPARE(value("remoteSearch"), QStringList{QStringLiteral("yes")});
    QCOMPARE(value("ipAddress"), QStringList{QStringLiteral("10.9.8.7")});
    QCOMPARE(value("subnetMask"), QStringList{QStringLiteral("255.255.255.0")});
    QCOMPARE(value("gateway"), QStringList{QStringLiteral("127.0.0.1")});
    QCOMPARE(value("accountId"), QStringList{QStringLiteral("\"user@example.net\"")});
    QCOMPARE(value("passwordSet"), QStringList{QStringLiteral("no")});
    QCOMPARE(value("comment"), QStringList{QStringLiteral("\"Lab bench 7\"")});
    QCOMPARE(value("sourceAddress"), QStringList{sourceAddress});
    QCOMPARE(value("serialFormat"),
             (QStringList{QStringLiteral("0xfe: 7 data bits, 2 stop bits, parity Even, flow control Xon/Xoff"),
                          QStringLiteral("0x03: 8 data bits, 1 stop bit, parity None, flow control None"),
                          QStringLiteral("0x29: 6 data bits, 1 stop bit, parity Odd, flow control RTS/CTS"),
                          QStringLiteral("0x50: 5 data bits, 1 stop bit, parity Even, flow control Xon/Xoff")}));
    QCOMPARE(value("mode"), (QStringList{QStringLiteral("U2S"), QStringLiteral("COD"), QStringLiteral("code 7"),
                                         QStringLiteral("T2S")}));
    QCOMPARE(value("peerIp").constFirst(), QStringLiteral("192.168.7.9"));
    QCOMPARE(value("baudRate"), (QStringList{QStringLiteral("115200"), QStringLiteral("230400"), QStringLiteral("600"),
                                             QStringLiteral("9600")}));
    QCOMPARE(value("waterMark").at(1), QStringLiteral("8192"));
    QCOMPARE(value("156-315").size(), 1);
}

void TestCli::readJsonNamesEveryFieldByItsAccessor_data()
{
    addReadRows();
}

void TestCli::readJsonNamesEveryFieldByItsAccessor()
{
    QFETCH(QString, device);
    QFETCH(QString, sourceAddress);
    const CliRun run = runCli({QStringLiteral("read"), QStringLiteral("--json"), device});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    const QJsonObject json = jsonObject(run.out);
    const EnvRecord& sent = this->device(kDecodedDevice).record;
    QJsonObject uninterpreted;
    for (const ByteSpan& span : kUninterpretedSpans) {
        const QByteArray bytes(reinterpret_cast<const char*>(sent.data() + span.first),
                               static_cast<qsizetype>(span.last - span.first + 1));
        uninterpreted.insert(QStringLiteral("%1-%2").arg(span.first).arg(span.last),
                             QString::fromLatin1(bytes.toHex()));
    }
    const QJsonObject expected = {
        {QStringLiteral("mac"), kMacs[kDecodedDevice]},
        {QStringLiteral("productId"), 0x1b},
        {QStringLiteral("productCode"), 3},
        {QStringLiteral("productInfo"), 0x12},
        {QStringLiteral("flags"), static_cast<double>(kDecodedFlags)},
        {QStringLiteral("multiIp"), false},
        {QStringLiteral("ipv4Type"), QStringLiteral("DHCP")},
        {QStringLiteral("arp"), false},
        {QStringLiteral("telnet"), true},
        {QStringLiteral("eapol"), QStringLiteral("MD5")},
        {QStringLiteral("ssl"), true},
        {QStringLiteral("commentSupported"), true},
        {QStringLiteral("remoteSearchSupported"), true},
        {QStringLiteral("remoteSearch"), true},
        {QStringLiteral("ipAddress"), QStringLiteral("10.9.8.7")},
        {QStringLiteral("subnetMask"), QStringLiteral("255.255.255.0")},
        {QStringLiteral("gateway"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("accountId"), QStringLiteral("user@example.net")},
        {QStringLiteral("accountPassword"), QStringLiteral("s3cret")},
        {QStringLiteral("passwordSet"), false},
        {QStringLiteral("comment"), QStringLiteral("Lab bench 7")},
        {QStringLiteral("sourceAddress"), sourceAddress},
        {QStringLiteral("ports"),
         QJsonArray{
             portJson(0xFE, 7, 2, "Even", "Xon/Xoff", QStringLiteral("U2S"), "127.0.0.3", "192.168.7.9", 4001, 5002,
                      115200, 300, 64),
             portJson(0x03, 8, 1, "None", "None", QStringLiteral("COD"), "0.0.0.0", "10.20.30.40", 1, 65534, 230400,
                      3600, 8192),
             portJson(0x29, 6, 1, "Odd", "RTS/CTS", 7, "0.0.0.0", "0.0.0.0", 0, 0, 600, 0, 0),
             portJson(0x50, 5, 1, "Even", "Xon/Xoff", QStringLiteral("T2S"), "0.0.0.0", "0.0.0.0", 0, 0, 9600, 0, 0),
         }},
        {QStringLiteral("uninterpreted"), uninterpreted},
    };
    QCOMPARE(json.keys(), expected.keys());
    for (const QString& key : expected.keys())
        QVERIFY2(json.value(key) == expected.value(key), qPrintable(key));
    // The uninterpreted bytes come back exactly as the device holds them.
    const QJsonObject hex = json.value(QStringLiteral("uninterpreted")).toObject();
    for (const ByteSpan& span : kUninterpretedSpans) {
        const QByteArray bytes = QByteArray::fromHex(
            hex.value(QStringLiteral("%1-%2").arg(span.first).arg(span.last)).toString().toLatin1());
        QCOMPARE(bytes, QByteArray(reinterpret_cast<const char*>(sent.data() + span.first),
                                   static_cast<qsizetype>(span.last - span.first + 1)));
    }
}

void TestCli::readReportsOnlyWhetherAPasswordIsSet()
{
    const CliRun run = runCli({QStringLiteral("read"), QStringLiteral("--json"), kMacs[kPasswordDevice]});
    QCOMPARE(run.status, 0);
    const QJsonObject json = jsonObject(run.out);
    QCOMPARE(json.value(QStringLiteral("passwordSet")), QJsonValue(true));
    QVERIFY(!json.contains(QStringLiteral("password")));
    const CliRun text = runCli({QStringLiteral("read"), QStringLiteral("127.0.0.4")});
    QCOMPARE(text.err, QString());
    QCOMPARE(text.status, 0);
    QCOMPARE(textValues(text.out, QStringLiteral("passwordSet")), QStringList{QStringLiteral("yes")});
}

void TestCli::noAnswerPrintsString166AndExitsOne_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("devicesRunning");
    QTest::addColumn<int>("leastWaitMs");
    QTest::newRow("search, no device") << QStringList{QStringLiteral("search")} << false << 2900;
    QTest::newRow("search by IP, nobody there")
        << QStringList{QStringLiteral("search"), QStringLiteral("--ip"), QStringLiteral("127.0.0.77")} << true << 2900;
    QTest::newRow("read by IP, nobody there")
        << QStringList{QStringLiteral("read"), QStringLiteral("127.0.0.77")} << true << 1900;
    QTest::newRow("read by MAC, no such device")
        << QStringList{QStringLiteral("read"), QStringLiteral("02:7e:55:de:ad:01")} << true << 1900;
}

void TestCli::noAnswerPrintsString166AndExitsOne()
{
    QFETCH(QStringList, args);
    QFETCH(bool, devicesRunning);
    QFETCH(int, leastWaitMs);
    if (!devicesRunning)
        m_sim->stop();
    const CliRun run = runCli(args);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, kNoResponse);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.elapsedMs >= leastWaitMs, "without an answer the whole wait runs");
}

void TestCli::endpointThatCannotOpenExitsOne_data()
{
    QTest::addColumn<QStringList>("args");
    // 192.0.2.1 (TEST-NET-1) is never a local address, so binding to it fails.
    QTest::newRow("search") << QStringList{QStringLiteral("search"), QStringLiteral("--bind"),
                                           QStringLiteral("192.0.2.1")};
    QTest::newRow("read by MAC") << QStringList{QStringLiteral("read"), kMacs[0], QStringLiteral("--bind"),
                                                QStringLiteral("192.0.2.1")};
}

void TestCli::endpointThatCannotOpenExitsOne()
{
    QFETCH(QStringList, args);
    const CliRun run = runCli(args);
    QCOMPARE(run.status, 1);
    // The program's message, then the address tried and the system's reason (EADDRNOTAVAIL).
    const QStringList lines = run.err.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0] + QLatin1Char('\n'), kCannotOpen);
    QVERIFY2(lines[1].startsWith(QStringLiteral("bind 192.0.2.1")), qPrintable(lines[1]));
    QVERIFY2(
        lines[1].endsWith(
            QStringLiteral(": [%1] %2").arg(EADDRNOTAVAIL).arg(QString::fromLocal8Bit(std::strerror(EADDRNOTAVAIL)))),
        qPrintable(lines[1]));
    QCOMPARE(lines[2], QString());
    QCOMPARE(run.out, QString());
}

void TestCli::badInputExitsTwoNamingWhatIsWrong_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");
    const auto row = [](const char* name, const char* args, const char* named) {
        QTest::newRow(name) << QString::fromLatin1(args).split(QLatin1Char(' '), Qt::SkipEmptyParts)
                            << QString::fromLatin1(named);
    };
    row("no verb", "", "verb");
    row("unknown verb", "frobnicate", "frobnicate");
    row("unknown option", "search --colour", "colour");
    row("--ip without value", "search --ip", "--ip");
    row("--ip short form", "search --ip 10.1.2", "10.1.2");
    row("--ip octet 256", "search --ip 10.1.2.256", "10.1.2.256");
    row("--ip limited broadcast", "search --ip 255.255.255.255", "255.255.255.255");
    row("--ip any address", "search --ip 0.0.0.0", "0.0.0.0");
    row("--ip multicast", "search --ip 239.1.2.3", "239.1.2.3");
    row("--bind not an address", "search --bind eth0", "eth0");
    row("--bind multicast", "search --bind 224.0.0.1", "224.0.0.1");
    row("--bind with --ip", "search --ip 127.0.0.3 --bind 127.0.0.1", "--bind");
    row("search operand", "search 127.0.0.3", "127.0.0.3");
    row("read without device", "read", "MAC");
    row("read five-byte MAC", "read 02:7e:55:00:a1", "02:7e:55:00:a1");
    row("read MAC bad hex", "read 02:7e:55:00:00:g1", "02:7e:55:00:00:g1");
    row("read MAC with dashes", "read 02-7e-55-00-00-a1", "02-7e-55-00-00-a1");
    row("read octet 300", "read 127.0.0.300", "127.0.0.300");
    row("read leading zero", "read 127.0.0.03", "127.0.0.03");
    row("read any address", "read 0.0.0.0", "0.0.0.0");
    row("read limited broadcast", "read 255.255.255.255", "255.255.255.255");
    row("read multicast", "read 224.0.0.251", "224.0.0.251");
    row("read two devices", "read 127.0.0.2 127.0.0.3", "127.0.0.3");
    row("read with --ip", "read --ip 127.0.0.3", "--ip");
    row("read by IP with --bind", "read 127.0.0.3 --bind 127.0.0.1", "--bind");
    row("bad device port", "search --device-port 70000", "--device-port");
    row("--wait below 10 ms", "search --wait 9", "--wait");
    row("--wait not a number", "search --wait 1s", "1s");
    row("--expect none", "search --expect 0", "--expect");
    row("--expect more than a search holds", "search --expect 4097", "4097");
    row("--wait with a search by IP", "search --ip 127.0.0.3 --wait 500", "--wait");
    row("--expect with a read", "read 127.0.0.2 --expect 1", "--expect");
    // Trailing or leading junk is refused, not trimmed: "$" alone matches before a final newline and
    // number conversions skip spaces.
    const auto junk = [](const char* name, const QStringList& args, const QString& named) {
        QTest::newRow(name) << args << named;
    };
    junk("read IP with a trailing newline", {u"read"_s, u"127.0.0.2\n"_s}, u"127.0.0.2\n"_s);
    junk("read MAC with a trailing newline", {u"read"_s, kMacs[0] + u'\n'}, kMacs[0] + u'\n');
    junk("--ip with a trailing newline", {u"search"_s, u"--ip"_s, u"127.0.0.2\n"_s}, u"127.0.0.2\n"_s);
    junk("--bind with a trailing newline", {u"search"_s, u"--bind"_s, u"127.0.0.1\n"_s}, u"127.0.0.1\n"_s);
    junk("device port with a leading space", {u"search"_s, u"--device-port"_s, u" 54321"_s}, u" 54321"_s);
    junk("device port with a trailing newline", {u"search"_s, u"--device-port"_s, u"54321\n"_s}, u"54321\n"_s);
    junk("device port with a sign", {u"search"_s, u"--device-port"_s, u"+54321"_s}, u"+54321"_s);
}

void TestCli::badInputExitsTwoNamingWhatIsWrong()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    const CliRun run = runCli(args);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(named), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QVERIFY2(run.elapsedMs < 500, "bad input is refused before anything is sent");
}

void TestCli::helpPrintsTheVerbs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")};
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")};
    QTest::newRow("help") << QStringList{QStringLiteral("help")};
    QTest::newRow("search --help") << QStringList{QStringLiteral("search"), QStringLiteral("--help")};
}

void TestCli::helpPrintsTheVerbs()
{
    QFETCH(QStringList, args);
    const CliRun run = runCli(args);
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    QVERIFY(run.out.startsWith(QStringLiteral("Usage: cormapmp-cli VERB")));
    QVERIFY(run.out.contains(QStringLiteral("search --ip ADDR")));
    QVERIFY(run.out.contains(QStringLiteral("read MAC|ADDR")));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
