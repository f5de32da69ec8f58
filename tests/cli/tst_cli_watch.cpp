// cormapmp-cli status --watch against simulated devices with set serial rates: the lines per reading
// (JSON and text) with rates right within the interval's jitter, restarts and unanswered readings, the
// summary, the options refused, the metrics file (Prometheus text format, or OpenMetrics for *.om) read by
// prometheus_client's own parsers while it is being replaced, checked by promtool and served by
// node_exporter's textfile collector, one series per device however it is named, the example alert
// rules through promtool, a failed write that leaves the old file whole, and Ctrl+C (or SIGTERM) ending
// the watch with its summary.
#include "CliTestSupport.h"
#include "StatusItems.h"
#include "status/StatusMetrics.h"
#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52633; // this test's own device port on the loopback profile
constexpr std::uint32_t kFirstAddress = 0x7F000002;
constexpr std::uint32_t kCom1Rx = 3000; // bytes a second, device 0
constexpr std::uint32_t kCom2Tx = 1200;
const QString kChecker = QStringLiteral(CORMAP_SOURCE_DIR "/tests/cli/openmetrics_check.py");
const QString kCounterHelp = u"Bytes a serial port of the Tessel received (rx) or sent (tx), counted on across its "
                             u"32-bit counter's wraps; it starts again when the Tessel restarts."_s;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

clitest::CliRun runCli(const QString& line)
{
    return clitest::runCli(testProfile(), line.split(u' ', Qt::SkipEmptyParts));
}

QStringList portArgs()
{
    return {u"--loopback"_s, u"--device-port"_s, QString::number(kDevicePort)};
}

QList<QJsonObject> jsonLines(const QString& text)
{
    QList<QJsonObject> lines;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
        lines << clitest::jsonObject(line);
    return lines;
}

QJsonObject port(const QJsonObject& line, const QString& name)
{
    for (const QJsonValue& p : line.value(u"ports"_s).toArray()) {
        if (p.toObject().value(u"port"_s).toString() == name)
            return p.toObject();
    }
    return {};
}

/** Whether Debian's python3 with prometheus_client is there to read the metrics. */
bool haveChecker()
{
    QProcess probe;
    probe.start(QStringLiteral(CORMAP_PYTHON3), {u"-c"_s, u"import prometheus_client"_s});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

/** The samples of a metrics file as prometheus_client reads them. */
QJsonArray parsedSamples(const QString& path, QString* failure)
{
    QProcess dump;
    dump.start(QStringLiteral(CORMAP_PYTHON3), {kChecker, u"dump"_s, path});
    if (!dump.waitForFinished(20000) || dump.exitCode() != 0) {
        *failure = QString::fromUtf8(dump.readAllStandardError() + dump.readAllStandardOutput());
        return {};
    }
    return QJsonDocument::fromJson(dump.readAllStandardOutput()).array();
}

std::optional<double> sample(const QJsonArray& samples, const QString& name, const QVariantMap& labels)
{
    for (const QJsonValue& s : samples) {
        const QJsonObject o = s.toObject();
        if (o.value(u"name"_s).toString() == name && o.value(u"labels"_s).toObject().toVariantMap() == labels)
            return o.value(u"value"_s).toDouble();
    }
    return std::nullopt;
}
/** The labels of a device's samples: its MAC and the address it answers from. */
QVariantMap deviceLabels(const QString& mac, const QString& address)
{
    return {{u"mac"_s, mac}, {u"address"_s, address}};
}

struct Finished
{
    int status = -1;
    QByteArray out;
};

/** Runs `program` to its end (at most 60 s) with `input` on its standard input. */
Finished runProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                    const QString& folder = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted())
        return {-1, "could not start " + program.toUtf8()};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {status, process.readAll()};
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/** A loopback HTTP GET of `path` on `port`: the response's body, or nothing when none came. */
QByteArray httpGet(quint16 port, const QByteArray& path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    if (!socket.waitForConnected(1000))
        return {};
    // HTTP/1.0: the body comes whole (never in chunks), and the server closes when it is sent.
    socket.write("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        response += socket.readAll();
    response += socket.readAll();
    const qsizetype body = response.indexOf("\r\n\r\n");
    static const QRegularExpression ok(u"^HTTP/1\\.[01] 200 "_s);
    if (!ok.match(QString::fromLatin1(response.left(16))).hasMatch() || body < 0)
        return {};
    return response.mid(body + 4);
}

/** A loopback port nobody listens on right now. */
quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress(QHostAddress::LocalHost), 0) ? probe.serverPort() : 0;
}
} // namespace

class TestCliWatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void jsonLinesCarryTheSetRates();
    void textLinesAndSummaryForSeveralDevices();
    void restartAndUnansweredReadingsShowAndTheWatchGoesOn();
    void silentDevicesOfARoundAreWaitedForTogether();
    void badWatchOptionsExitTwo_data();
    void badWatchOptionsExitTwo();
    void metricsTextInEachFormat_data();
    void metricsTextInEachFormat();
    void metricsFormatFollowsTheFileName_data();
    void metricsFormatFollowsTheFileName();
    void metricsFileReadByPrometheusClientWhileItIsReplaced_data();
    void metricsFileReadByPrometheusClientWhileItIsReplaced();
    void metricsFilePassesPromtoolAndKeepsItsTypesThroughNodeExporter();
    void oneSeriesWhetherTheDeviceIsNamedByMacOrAddress();
    void alertRulesPassPromtoolAndFireAsTheyShould();
    void failedWriteLeavesTheOldFileWhole();
    void signalEndsTheWatchWithItsSummary_data();
    void signalEndsTheWatchWithItsSummary();
    void signalHandlersAreGivenBackAfterTheWatch();
    void aPortMissingFromAReportIsSaidInItsColumn();

private:
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir; // a folder of each test's own
};

void TestCliWatch::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = std::make_unique<TesselSim>(testProfile());
    // Device 0 (127.0.0.2): COM1 receives 3000 B/s from just below 2^32, COM2 sends 1200 B/s.
    SimDevice device = TesselSim::makeDevice(0, kFirstAddress);
    sim::writeU32Item(device.statusItems, sim::kStatusComRx, 0xFFFFF000u);
    device.traffic.rates = {sim::CounterRate{sim::kStatusComRx, {kCom1Rx}, 10000},
                            sim::CounterRate{sim::kStatusComTx + 1, {kCom2Tx}, 10000}};
    m_sim->addDevice(device);
    // Device 1 (127.0.0.3, 02:7e:55:00:00:02): COM3 sends 500 B/s and it restarts every 1.5 s.
    SimDevice restarting = TesselSim::makeDevice(1, kFirstAddress + 1);
    restarting.traffic.rates = {sim::CounterRate{sim::kStatusComTx + 2, {500}, 10000}};
    restarting.traffic.restartEveryMs = 1500;
    m_sim->addDevice(restarting);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliWatch::cleanup()
{
    m_sim.reset();
}

void TestCliWatch::jsonLinesCarryTheSetRates()
{
    const clitest::CliRun run = runCli(u"status 127.0.0.2 --watch --interval 1 --count 3 --json"_s);
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 4); // three readings and the summary
    for (int i = 0; i < 3; ++i) {
        const QJsonObject& line = lines[i];
        QCOMPARE(line.value(u"reading"_s).toInt(), i + 1);
        const QDateTime time = QDateTime::fromString(line.value(u"time"_s).toString(), Qt::ISODateWithMs);
        QVERIFY2(time.isValid() && qAbs(time.secsTo(QDateTime::currentDateTime())) < 30, qPrintable(run.out));
        QVERIFY(time.timeSpec() != Qt::LocalTime); // the offset is written out ("Z" for UTC)
        QCOMPARE(line.value(u"device"_s).toString(), u"127.0.0.2"_s);
        QCOMPARE(line.value(u"mac"_s).toString(), u"02:7e:55:00:00:01"_s);
        QVERIFY(line.value(u"answered"_s).toBool());
        QVERIFY(!line.value(u"restart"_s).toBool());
        const QJsonObject com1 = port(line, u"COM1"_s);
        const QJsonObject com2 = port(line, u"COM2"_s);
        QVERIFY(!com1.isEmpty() && !com2.isEmpty());
        if (i == 0) {
            QVERIFY(com1.value(u"rx"_s).isNull()); // the first reading has nothing to compare with
            continue;
        }
        // The readings a second apart, give or take the reply waits; the rates exact to a byte of
        // rounding at either end, by the device's own clock.
        const double seconds = line.value(u"seconds"_s).toDouble();
        QVERIFY2(seconds >= 0.6 && seconds <= 1.6, qPrintable(QString::number(seconds)));
        const double slack = 2.0 / seconds;
        QVERIFY2(qAbs(com1.value(u"rx"_s).toDouble() - kCom1Rx) <= slack, qPrintable(run.out));
        QVERIFY2(qAbs(com2.value(u"tx"_s).toDouble() - kCom2Tx) <= slack, qPrintable(run.out));
        QCOMPARE(com1.value(u"tx"_s).toDouble(), 0.0);
        QVERIFY(port(line, u"COM3"_s).value(u"rx"_s).toDouble() == 0.0); // no rate of its own: still
    }
    // COM1's counter passed 2^32 between readings: its raw value went down, its rate did not.
    const double first = port(lines[0], u"COM1"_s).value(u"rxBytes"_s).toDouble();
    const double last = port(lines[2], u"COM1"_s).value(u"rxBytes"_s).toDouble();
    QVERIFY2(last < first, qPrintable(run.out));
    const QJsonObject summary = lines[3].value(u"summary"_s).toObject();
    QCOMPARE(summary.value(u"readings"_s).toInt(), 3);
    QCOMPARE(summary.value(u"answered"_s).toInt(), 3);
    QCOMPARE(summary.value(u"unanswered"_s).toInt(), 0);
    const QJsonArray average = summary.value(u"devices"_s).toArray().at(0).toObject().value(u"average"_s).toArray();
    QVERIFY2(qAbs(average.at(0).toObject().value(u"rx"_s).toDouble() - kCom1Rx) < 2.0, qPrintable(run.out));
    // Two intervals of a second and the reading times: well under the time of five.
    QVERIFY2(run.elapsedMs >= 2000 && run.elapsedMs < 5000, qPrintable(QString::number(run.elapsedMs)));
}

void TestCliWatch::textLinesAndSummaryForSeveralDevices()
{
    const clitest::CliRun run = runCli(u"status 127.0.0.2 02:7E:55:00:00:02 --watch --interval 1 --count 2"_s);
    QCOMPARE(run.status, 0);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2 * 2 + 2 + 1); // per reading and device, per device, the total
    // The first reading has no rates yet and says so instead of a row of dashes.
    const QRegularExpression first(u"\\A\\d\\d:\\d\\d:\\d\\d  (127\\.0\\.0\\.2        |02:7e:55:00:00:02) +"
                                   u"uptime +\\d+ days, \\d\\d:\\d\\d:\\d\\d  first reading: rates follow\\z"_s);
    QVERIFY2(first.match(lines[0]).hasMatch(), qPrintable(lines[0]));
    QVERIFY2(first.match(lines[1]).hasMatch(), qPrintable(lines[1])); // named as the tool writes it
    QVERIFY2(lines[1].contains(u"  02:7e:55:00:00:02  "_s), qPrintable(lines[1]));
    QVERIFY2(lines[2].contains(u"COM1 RX 2.93 KiB/s TX      0 B/s  COM2 RX      0 B/s TX 1.17 KiB/s"_s),
             qPrintable(lines[2]));
    // The columns line up from device to device and reading to reading.
    for (const QString& column : {u"uptime"_s, u"first reading"_s})
        QCOMPARE(lines[0].indexOf(column), lines[1].indexOf(column));
    for (const QString& column : {u"uptime"_s, u"COM1"_s, u"COM2"_s, u"COM3"_s, u"COM4"_s})
        QCOMPARE(lines[2].indexOf(column), lines[3].indexOf(column));
    QCOMPARE(lines[0].indexOf(u"uptime"_s), lines[2].indexOf(u"uptime"_s));
    QVERIFY2(
        lines[4].startsWith(u"127.0.0.2: 2 answered, 0 without an answer, 0 restart(s)  average COM1 RX 2.93 KiB/s"_s),
        qPrintable(lines[4]));
    QCOMPARE(lines[6], u"2 reading(s) of 2 Tessel(s): 4 answered, 0 without an answer, 0 restart(s)."_s);
}

void TestCliWatch::restartAndUnansweredReadingsShowAndTheWatchGoesOn()
{
    // 127.0.0.3 restarts every 1.5 s; nothing lives at 127.0.0.9.
    const clitest::CliRun run = runCli(u"status 127.0.0.3 127.0.0.9 --watch --interval 1 --count 3 --json"_s);
    QCOMPARE(run.status, 1); // 127.0.0.9 did not answer its last reading
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 3 * 2 + 1);
    int restarts = 0;
    for (int i = 0; i < 6; i += 2) {
        QVERIFY(lines[i].value(u"answered"_s).toBool());
        QCOMPARE(lines[i + 1].value(u"device"_s).toString(), u"127.0.0.9"_s);
        QVERIFY(!lines[i + 1].value(u"answered"_s).toBool());
        QVERIFY(!lines[i + 1].contains(u"ports"_s));
        if (lines[i].value(u"restart"_s).toBool()) {
            ++restarts;
            QVERIFY(port(lines[i], u"COM3"_s).value(u"tx"_s).isNull()); // no rate across a restart
        } else if (i > 0) {
            QVERIFY2(qAbs(port(lines[i], u"COM3"_s).value(u"tx"_s).toDouble() - 500.0) < 4.0, qPrintable(run.out));
        }
    }
    // A reading every 2 s or more (the unanswered one waits out its 2 s): each crosses a restart.
    QVERIFY2(restarts >= 1, qPrintable(run.out));
    const QJsonObject summary = lines[6].value(u"summary"_s).toObject();
    QCOMPARE(summary.value(u"unanswered"_s).toInt(), 3);
    QCOMPARE(summary.value(u"restarts"_s).toInt(), restarts);
    // The text form of the same says so in words.
    const clitest::CliRun text = runCli(u"status 127.0.0.9 --watch --interval 1 --count 1"_s);
    QCOMPARE(text.status, 1);
    QVERIFY2(text.out.contains(u"  127.0.0.9  No answer\n"_s), qPrintable(text.out));
}

void TestCliWatch::silentDevicesOfARoundAreWaitedForTogether()
{
    // Six addresses where nothing lives, then device 0: read one after another, the round would take six
    // whole waits (a read by address waits 1 s) before device 0 is even asked.
    const QString metrics = m_dir->filePath(u"fleet.prom"_s);
    QStringList names;
    for (int i = 20; i < 26; ++i)
        names << u"127.0.0.%1"_s.arg(i);
    const clitest::CliRun run =
        runCli(u"status %1 127.0.0.2 --watch --count 1 --openmetrics %2"_s.arg(names.join(u' '), metrics));
    QCOMPARE(run.status, 1);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 7, qPrintable(run.out));
    // The lines keep the order named.
    for (int i = 0; i < 6; ++i)
        QVERIFY2(lines.at(i).endsWith(u"  "_s + names.at(i) + u"  No answer"_s), qPrintable(lines.at(i)));
    QVERIFY2(lines.at(6).contains(QRegularExpression(u"  127\\.0\\.0\\.2 +uptime "_s)), qPrintable(lines.at(6)));
    QVERIFY2(run.elapsedMs < 3000, qPrintable(u"the round took %1 ms"_s.arg(run.elapsedMs)));
    // The metrics file came after the round, with every device in it.
    QFile file(metrics);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    const auto up = [&text](const QString& name, int value) {
        const QRegularExpression line(
            u"^cormapmp_up\\{[^}]*\"%1\"[^}]*\\} %2$"_s.arg(QRegularExpression::escape(name)).arg(value),
            QRegularExpression::MultilineOption);
        return line.match(text).hasMatch();
    };
    for (const QString& name : names)
        QVERIFY2(up(name, 0), qPrintable(text));
    QVERIFY2(up(u"127.0.0.2"_s, 1), qPrintable(text));
}

void TestCliWatch::badWatchOptionsExitTwo_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("message");
    QTest::newRow("interval below a second") << u"--watch --interval 0.5"_s << u"--interval: \"0.5\""_s;
    QTest::newRow("interval not a number") << u"--watch --interval soon"_s << u"--interval: \"soon\""_s;
    QTest::newRow("interval above an hour") << u"--watch --interval 3601"_s << u"--interval: \"3601\""_s;
    QTest::newRow("count 0") << u"--watch --count 0"_s << u"--count: \"0\""_s;
    QTest::newRow("count negative") << u"--watch --count -3"_s << u"--count: \"-3\""_s;
    QTest::newRow("interval without watch") << u"--interval 2"_s << u"go with --watch"_s;
    QTest::newRow("openmetrics without watch") << u"--openmetrics x.prom"_s << u"go with --watch"_s;
    QTest::newRow("metrics folder missing")
        << u"--watch --openmetrics /nonexistent-cormap/x.prom"_s << u"does not exist"_s;
    QTest::newRow("metrics into a folder") << u"--watch --openmetrics /tmp"_s << u"is not a regular file"_s;
    QTest::newRow("metrics into a device") << u"--watch --openmetrics /dev/null"_s << u"is not a regular file"_s;
    QTest::newRow("a device named twice") << u"--watch 127.0.0.3"_s << u"named twice"_s;
    QTest::newRow("bind with an address") << u"--watch --bind 127.0.0.1"_s << u"broadcasts only"_s;
}

void TestCliWatch::badWatchOptionsExitTwo()
{
    QFETCH(QString, line);
    QFETCH(QString, message);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = runCli(u"status 127.0.0.3 "_s + line);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(handled.count(), 0); // nothing was sent
}

void TestCliWatch::metricsTextInEachFormat_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray up = "# HELP cormapmp_up Whether the Tessel answered the last status reading (1) or not (0).\n"
                          "# TYPE cormapmp_up gauge\n"
                          "cormapmp_up{mac=\"02:7e:55:00:00:01\",address=\"127.0.0.2\"} 1\n"
                          "cormapmp_up{mac=\"\",address=\"127.0.0.9\"} 0\n";
    const QByteArray uptimeHelp = "cormapmp_uptime_seconds Time since the Tessel started, as its last answer said.\n";
    const QByteArray uptime = "cormapmp_uptime_seconds{mac=\"02:7e:55:00:00:01\",address=\"127.0.0.2\"} 3600.5\n";
    const QByteArray counters =
        "cormapmp_serial_bytes_total{mac=\"02:7e:55:00:00:01\",address=\"127.0.0.2\",port=\"com1\",direction=\"rx\"} "
        "4294967297\n"
        "cormapmp_serial_bytes_total{mac=\"02:7e:55:00:00:01\",address=\"127.0.0.2\",port=\"com2\",direction=\"tx\"} 12\n";
    const QByteArray rates = "# HELP cormapmp_serial_rate_bytes_per_second Bytes a second through a serial port of the "
                             "Tessel between its last two answers.\n"
                             "# TYPE cormapmp_serial_rate_bytes_per_second gauge\n"
                             "cormapmp_serial_rate_bytes_per_second{mac=\"02:7e:55:00:00:01\",address=\"127.0.0.2\","
                             "port=\"com1\",direction=\"rx\"} 2.5\n";
    const QByteArray help = kCounterHelp.toUtf8() + '\n';
    QTest::newRow("Prometheus text format")
        << int(cli::MetricsFormat::Prometheus)
        << up + "# HELP " + uptimeHelp + "# TYPE cormapmp_uptime_seconds gauge\n" + uptime +
               "# HELP cormapmp_serial_bytes_total " + help + "# TYPE cormapmp_serial_bytes_total counter\n" +
               counters + rates;
    QTest::newRow("OpenMetrics") << int(cli::MetricsFormat::OpenMetrics)
                                 << up + "# HELP " + uptimeHelp + "# TYPE cormapmp_uptime_seconds gauge\n" +
                                        "# UNIT cormapmp_uptime_seconds seconds\n" + uptime +
                                        "# HELP cormapmp_serial_bytes " + help +
                                        "# TYPE cormapmp_serial_bytes counter\n# UNIT cormapmp_serial_bytes bytes\n" +
                                        counters + rates + "# EOF\n";
}

void TestCliWatch::metricsTextInEachFormat()
{
    QFETCH(int, format);
    QFETCH(QByteArray, expected);
    cli::DeviceFigures answered;
    answered.mac = u"02:7e:55:00:00:01"_s;
    answered.address = u"127.0.0.2"_s;
    answered.answered = true;
    answered.uptimeSeconds = 3600.5;
    answered.rxBytes[0] = 4294967297u; // past one wrap of the device's 32-bit counter
    answered.txBytes[1] = 12;
    answered.rxRate[0] = 2.5;
    cli::DeviceFigures silent; // named by its address, never answered
    silent.address = u"127.0.0.9"_s;
    QCOMPARE(cli::metricsText({answered, silent}, static_cast<cli::MetricsFormat>(format)), expected);
}

void TestCliWatch::metricsFormatFollowsTheFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("openMetrics");
    QTest::newRow("node_exporter's .prom") << u"/var/lib/prometheus/node-exporter/tessel.prom"_s << false;
    QTest::newRow(".om") << u"tessel.om"_s << true;
    QTest::newRow(".OM") << u"TESSEL.OM"_s << true;
    QTest::newRow("other name") << u"tessel.txt"_s << false;
    QTest::newRow("no extension") << u"metrics"_s << false;
    QTest::newRow(".om inside the name") << u"tessel.om.prom"_s << false;
    QTest::newRow("ends in om, not .om") << u"tessel.prom_custom-om"_s << false;
}

void TestCliWatch::metricsFormatFollowsTheFileName()
{
    QFETCH(QString, path);
    QFETCH(bool, openMetrics);
    QCOMPARE(cli::metricsFormatFor(path) == cli::MetricsFormat::OpenMetrics, openMetrics);
}

void TestCliWatch::metricsFileReadByPrometheusClientWhileItIsReplaced_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("unit"); // of the counter, as the parser gives it
    QTest::addColumn<bool>("endsWithEof");
    // The Prometheus text format (node_exporter's *.prom), read by the Prometheus text parser; OpenMetrics
    // for a name ending in .om, read by the strict OpenMetrics parser (and by the other without an error).
    QTest::newRow("Prometheus text format") << u"tessel.prom"_s << QString() << false;
    QTest::newRow("OpenMetrics") << u"tessel.om"_s << u"bytes"_s << true;
}

void TestCliWatch::metricsFileReadByPrometheusClientWhileItIsReplaced()
{
    QFETCH(QString, file);
    QFETCH(QString, unit);
    QFETCH(bool, endsWithEof);
    if (!haveChecker())
        QSKIP("Debian's python3-prometheus-client is not installed (scripts/deps.sh --test installs it)");
    const QString path = m_dir->filePath(file);
    const QString stop = m_dir->filePath(u"stop"_s);
    QProcess reader;
    reader.start(QStringLiteral(CORMAP_PYTHON3), {kChecker, u"watch"_s, path, stop});
    QVERIFY(reader.waitForStarted());
    const clitest::CliRun run =
        runCli(u"status 127.0.0.2 127.0.0.9 --watch --interval 1 --count 4 --openmetrics "_s + path);
    QFile(stop).open(QIODevice::WriteOnly);
    QVERIFY(reader.waitForFinished(20000));
    const QByteArray seen = reader.readAllStandardOutput();
    QVERIFY2(reader.exitCode() == 0, seen.constData()); // every read of the file parsed
    const QJsonObject counts = QJsonDocument::fromJson(seen).object();
    QVERIFY2(counts.value(u"reads"_s).toInt() > 10, seen.constData());
    QVERIFY2(counts.value(u"versions"_s).toInt() >= 3, seen.constData()); // replaced after each round
    QCOMPARE(run.status, 1);                                              // 127.0.0.9 never answered
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), (QStringList{u"stop"_s, file}));
    QCOMPARE(fileBytes(path).endsWith("# EOF\n"), endsWithEof);

    QString failure;
    const QJsonArray samples = parsedSamples(path, &failure);
    QVERIFY2(!samples.isEmpty(), qPrintable(failure));
    // Named by address: its MAC from its answer; the silent one has only the address named.
    const QVariantMap device0 = deviceLabels(u"02:7e:55:00:00:01"_s, u"127.0.0.2"_s);
    const QVariantMap absent = deviceLabels(QString(), u"127.0.0.9"_s);
    QCOMPARE(sample(samples, u"cormapmp_up"_s, device0), std::optional<double>(1.0));
    QCOMPARE(sample(samples, u"cormapmp_up"_s, absent), std::optional<double>(0.0));
    QVERIFY(!sample(samples, u"cormapmp_uptime_seconds"_s, absent));
    const std::optional<double> uptime = sample(samples, u"cormapmp_uptime_seconds"_s, device0);
    QVERIFY(uptime && *uptime >= 3600.0 && *uptime < 3700.0); // from an hour, as the simulator starts
    QVariantMap com1Rx = device0;
    com1Rx.insert(u"port"_s, u"com1"_s);
    com1Rx.insert(u"direction"_s, u"rx"_s);
    // The counter runs on across its wrap: above 2^32 now, as the device's started just below.
    const std::optional<double> total = sample(samples, u"cormapmp_serial_bytes_total"_s, com1Rx);
    QVERIFY2(total && *total > 4294967296.0 && *total < 4294967296.0 + 20000,
             qPrintable(QString::number(total.value_or(-1))));
    const std::optional<double> rate = sample(samples, u"cormapmp_serial_rate_bytes_per_second"_s, com1Rx);
    QVERIFY2(rate && qAbs(*rate - kCom1Rx) < 3.0, qPrintable(QString::number(rate.value_or(-1))));
    // Every sample in one family per metric, the counter's typed and explained as the program wrote it.
    QSet<QString> families;
    int counters = 0;
    for (const QJsonValue& s : samples) {
        const QJsonObject o = s.toObject();
        families.insert(o.value(u"family"_s).toString());
        if (o.value(u"name"_s).toString() != u"cormapmp_serial_bytes_total"_s)
            continue;
        ++counters;
        QCOMPARE(o.value(u"family"_s).toString(), u"cormapmp_serial_bytes"_s);
        QCOMPARE(o.value(u"type"_s).toString(), u"counter"_s);
        QCOMPARE(o.value(u"help"_s).toString(), kCounterHelp);
        QCOMPARE(o.value(u"unit"_s).toString(), unit);
    }
    QCOMPARE(counters, 8); // four ports, two directions, of the device that answered
    QCOMPARE(families, (QSet<QString>{u"cormapmp_up"_s, u"cormapmp_uptime_seconds"_s, u"cormapmp_serial_bytes"_s,
                                      u"cormapmp_serial_rate_bytes_per_second"_s}));
}

void TestCliWatch::metricsFilePassesPromtoolAndKeepsItsTypesThroughNodeExporter()
{
    const QString promtool = QStandardPaths::findExecutable(u"promtool"_s);
    const QString exporter = QStandardPaths::findExecutable(u"prometheus-node-exporter"_s);
    if (promtool.isEmpty() || exporter.isEmpty())
        QSKIP("Debian's prometheus (promtool) and prometheus-node-exporter are not installed (scripts/deps.sh "
              "--test installs them)");
    // Every kind of device line: named by address, by MAC, and one that never answers.
    const QString path = m_dir->filePath(u"tessel.prom"_s);
    const clitest::CliRun run =
        runCli(u"status 127.0.0.2 02:7e:55:00:00:02 127.0.0.9 --watch --interval 1 --count 2 --openmetrics "_s + path);
    QCOMPARE(run.status, 1);
    const QByteArray text = fileBytes(path);
    const Finished checked = runProgram(promtool, {u"check"_s, u"metrics"_s}, text);
    QVERIFY2(checked.status == 0, checked.out.constData());
    QVERIFY2(checked.out.isEmpty(), checked.out.constData()); // not even a lint warning

    // node_exporter's textfile collector on a loopback port of its own, reading this test's folder.
    QProcess node;
    auto stopNode = qScopeGuard([&node] {
        node.kill();
        node.waitForFinished();
    });
    QByteArray scraped;
    for (int attempt = 0; attempt < 3 && scraped.isEmpty(); ++attempt) {
        const quint16 port = freeLoopbackPort();
        QVERIFY(port != 0);
        node.start(exporter, {u"--web.listen-address=127.0.0.1:%1"_s.arg(port), u"--collector.disable-defaults"_s,
                              u"--collector.textfile"_s, u"--collector.textfile.directory="_s + m_dir->path()});
        QVERIFY(node.waitForStarted());
        // Until it serves (or ends: the port was taken in between, and the next attempt takes another).
        QTRY_VERIFY_WITH_TIMEOUT(
            !(scraped = httpGet(port, "/metrics")).isEmpty() || node.state() == QProcess::NotRunning, 15000);
        node.waitForFinished(scraped.isEmpty() ? 1000 : 0);
    }
    QVERIFY2(!scraped.isEmpty(), node.readAllStandardError().constData());
    QVERIFY2(scraped.contains("\nnode_textfile_scrape_error 0\n"), scraped.constData());
    // The counter stays a counter with the program's help, and every sample of the file is served.
    QVERIFY2(scraped.contains("# HELP cormapmp_serial_bytes_total " + kCounterHelp.toUtf8() + '\n'),
             scraped.constData());
    QVERIFY(scraped.contains("\n# TYPE cormapmp_serial_bytes_total counter\n"));
    QVERIFY(scraped.contains("\n# TYPE cormapmp_up gauge\n"));
    // Every sample of the file is served with its value; node_exporter writes the labels in name order.
    static const QRegularExpression sampleLine(
        u"^(\\w+)\\{mac=(\"[^\"]*\"),address=(\"[^\"]*\")(,port=\"[^\"]*\")?(,direction=\"[^\"]*\")?\\} (\\S+)$"_s);
    int samples = 0;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        ++samples;
        const QRegularExpressionMatch m = sampleLine.match(QString::fromUtf8(line));
        QVERIFY2(m.hasMatch(), line.constData());
        const QString key = u"\n%1{address=%3%5,mac=%2%4} "_s.arg(m.captured(1), m.captured(2), m.captured(3),
                                                                  m.captured(4), m.captured(5));
        const qsizetype at = scraped.indexOf(key.toUtf8());
        QVERIFY2(at >= 0, qPrintable(key));
        const qsizetype valueAt = at + key.toUtf8().size();
        const QByteArray value = scraped.mid(valueAt, scraped.indexOf('\n', valueAt) - valueAt);
        QCOMPARE(value.toDouble(), m.captured(6).toDouble());
    }
    // Up of three, uptime and counters of the two that answered, and the rates of those readings that
    // did not cross a restart (02:7e:55:00:00:02 restarts every 1.5 s); nothing more is served.
    QVERIFY2(samples >= 3 + 2 + 2 * 8, text.constData());
    QCOMPARE(scraped.count("\ncormapmp_"), samples);
}

void TestCliWatch::oneSeriesWhetherTheDeviceIsNamedByMacOrAddress()
{
    if (!haveChecker())
        QSKIP("Debian's python3-prometheus-client is not installed (scripts/deps.sh --test installs it)");
    QList<QJsonArray> files;
    for (const QString& name : {u"127.0.0.3"_s, u"02:7E:55:00:00:02"_s}) {
        const QString path = m_dir->filePath(u"by-name.prom"_s);
        const clitest::CliRun run =
            runCli(u"status "_s + name + u" --watch --interval 1 --count 1 --openmetrics "_s + path);
        QCOMPARE(run.status, 0);
        QString failure;
        files << parsedSamples(path, &failure);
        QVERIFY2(!files.constLast().isEmpty(), qPrintable(failure));
    }
    // The same label set in both: the device's MAC and the address it answered from.
    QCOMPARE(sample(files[0], u"cormapmp_up"_s, deviceLabels(u"02:7e:55:00:00:02"_s, u"127.0.0.3"_s)),
             std::optional<double>(1.0));
    QCOMPARE(sample(files[1], u"cormapmp_up"_s, deviceLabels(u"02:7e:55:00:00:02"_s, u"127.0.0.3"_s)),
             std::optional<double>(1.0));
    QStringList series[2];
    for (int i = 0; i < 2; ++i) {
        for (const QJsonValue& s : files[i]) {
            const QJsonObject o = s.toObject();
            series[i] << o.value(u"name"_s).toString() +
                             QString::fromUtf8(QJsonDocument(o.value(u"labels"_s).toObject()).toJson());
        }
        series[i].sort();
    }
    QCOMPARE(series[0].size(), 2 + 8 + 8 - 8); // up, uptime, counters; no rates after one reading
    QCOMPARE(series[0], series[1]);
}

void TestCliWatch::alertRulesPassPromtoolAndFireAsTheyShould()
{
    const QString promtool = QStandardPaths::findExecutable(u"promtool"_s);
    if (promtool.isEmpty())
        QSKIP("Debian's prometheus (promtool) is not installed (scripts/deps.sh --test installs it)");
    const QString rules = QStringLiteral(CORMAP_SOURCE_DIR "/packaging/prometheus/tessel-alerts.yml");
    const Finished checked = runProgram(promtool, {u"check"_s, u"rules"_s, rules});
    QVERIFY2(checked.status == 0, checked.out.constData());
    QVERIFY2(checked.out.contains("SUCCESS: 4 rules found"), checked.out.constData());
    // Each alert against series as the textfile collector gives them: fires when it should, not before.
    const Finished tested = runProgram(promtool, {u"test"_s, u"rules"_s, u"tessel-alerts.test.yml"_s}, {},
                                       QStringLiteral(CORMAP_SOURCE_DIR "/tests/cli"));
    QVERIFY2(tested.status == 0, tested.out.constData());
    QVERIFY2(tested.out.contains("SUCCESS"), tested.out.constData());
}

void TestCliWatch::failedWriteLeavesTheOldFileWhole()
{
    const QString path = m_dir->filePath(u"old.prom"_s);
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("# the old figures\n# EOF\n");
    old.close();
    // The tool may write no file larger than 100 bytes: every write of the figures fails.
    QProcess cli;
    cli.setChildProcessModifier([] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    cli.start(QStringLiteral(CORMAPMP_CLI_PATH), QStringList{u"status"_s, u"127.0.0.2"_s, u"--watch"_s, u"--interval"_s,
                                                             u"1"_s, u"--count"_s, u"2"_s, u"--openmetrics"_s, path} +
                                                     portArgs());
    QVERIFY(cli.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 15000);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(err.contains(path + u" could not be replaced: "_s), qPrintable(err));
    QCOMPARE(err.count(u"could not be replaced"_s), 1); // said once, not at every round
    QVERIFY(QFile::exists(path));
    QFile kept(path);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("# the old figures\n# EOF\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{u"old.prom"_s});
}

void TestCliWatch::signalEndsTheWatchWithItsSummary_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl+C") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

void TestCliWatch::signalEndsTheWatchWithItsSummary()
{
    QFETCH(int, signal);
    const QString path = m_dir->filePath(u"live.om"_s); // OpenMetrics: a whole file ends with "# EOF"
    QProcess cli;
    cli.start(QStringLiteral(CORMAPMP_CLI_PATH), QStringList{u"status"_s, u"127.0.0.2"_s, u"--watch"_s, u"--interval"_s,
                                                             u"1"_s, u"--openmetrics"_s, path} +
                                                     portArgs());
    QVERIFY(cli.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).count('\n') >= 2, 10000);
    QVERIFY(::kill(static_cast<pid_t>(cli.processId()), signal) == 0);
    QVERIFY(cli.waitForFinished(5000));
    out += cli.readAllStandardOutput();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.constLast().contains(u"reading(s) of 1 Tessel(s): "_s), out.constData());
    QVERIFY2(lines.constLast().contains(u"0 without an answer"_s), out.constData());
    QFile metrics(path);
    QVERIFY(metrics.open(QIODevice::ReadOnly));
    QVERIFY(metrics.readAll().endsWith("# EOF\n"));
}

namespace {
int g_caught = 0;
extern "C" void countSignal(int)
{
    ++g_caught;
}
} // namespace

void TestCliWatch::signalHandlersAreGivenBackAfterTheWatch()
{
    struct sigaction mine
    {
    };
    mine.sa_handler = countSignal;
    sigemptyset(&mine.sa_mask);
    struct sigaction before
    {
    };
    QCOMPARE(::sigaction(SIGINT, &mine, &before), 0);
    // Ctrl+C during the watch ends it; afterwards SIGINT is ours again.
    QTimer::singleShot(1500, [] { ::raise(SIGINT); });
    const clitest::CliRun run = runCli(u"status 127.0.0.2 --watch --interval 1"_s);
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(u"reading(s) of 1 Tessel(s)"_s), qPrintable(run.out));
    QCOMPARE(g_caught, 0);
    ::raise(SIGINT);
    QCOMPARE(g_caught, 1);
    ::sigaction(SIGINT, &before, nullptr);
}

void TestCliWatch::aPortMissingFromAReportIsSaidInItsColumn()
{
    // After its second status answer, device 0 stops reporting COM4 (its RX and TX items go).
    int statusAnswers = 0;
    QObject::connect(m_sim.get(), &TesselSim::requestHandled, m_sim.get(), [&](int device, int command) {
        if (device != 0 || command != frame::kStatus || ++statusAnswers != 2)
            return;
        QByteArray& items = m_sim->device(0).statusItems;
        for (const std::uint8_t type : {std::uint8_t(sim::kStatusComRx + 3), std::uint8_t(sim::kStatusComTx + 3)}) {
            const qsizetype value = sim::findItemValue(items, type, 4);
            QVERIFY(value >= 2);
            items.remove(value - 2, static_cast<std::uint8_t>(items.at(value - 1)));
        }
    });
    const clitest::CliRun run = runCli(u"status 127.0.0.2 --watch --interval 1 --count 3"_s);
    QCOMPARE(run.status, 0);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3 + 1 + 1);
    QVERIFY2(lines[1].contains(u"COM4 RX"_s) || lines[1].contains(u"COM4 not reported"_s), qPrintable(lines[1]));
    QVERIFY2(lines[2].contains(u"COM4 not reported"_s), qPrintable(run.out));
    QVERIFY2(lines[2].contains(u"COM1 RX 2.93 KiB/s"_s), qPrintable(lines[2]));
    // Said in COM4's own column, where its rates stood.
    QCOMPARE(lines[2].indexOf(u"COM4"_s), lines[1].indexOf(u"COM4"_s));
}

QTEST_GUILESS_MAIN(TestCliWatch)
#include "tst_cli_watch.moc"
