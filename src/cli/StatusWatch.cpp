#include "StatusWatch.h"
#include "CliTexts.h"
#include "ExitStatus.h"

#include "device/DeviceName.h"
#include "CliMessages.h"
#include "device/DeviceJobs.h"
#include "device/EditorRequests.h"
#include "status/StatusMetrics.h"
#include "StopSignals.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "protocol/Ipv4.h"
#include "status/RateFormat.h"
#include "status/StatusRates.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace cli {
namespace {
constexpr int kPorts = status::kPortCount;
// Widths of the columns of a text line: a rate ("1020 KiB/s"), an uptime ("497 days, 02:27:52").
constexpr int kRateWidth = 10;
constexpr int kUptimeWidth = 18;

/** One device under watch: how it is reached, what its readings said so far. */
struct Watched
{
    QString name; // as named on the command line
    Target target;
    std::optional<EnvRecord> record; // read once, the body of its status requests
    status::RateTracker tracker;
    status::Rates lastRates;
    bool lastAnswered = false;
    int answered = 0;
    int unanswered = 0;
    int restarts = 0;
    // The ports any of its reports gave so far: one a later report lacks is said to be missing.
    std::array<bool, kPorts> reported{};
    // For the averages: the bytes and the time the rates covered, per port and direction.
    std::array<double, kPorts> rxBytes{};
    std::array<double, kPorts> txBytes{};
    std::array<double, kPorts> rxSeconds{};
    std::array<double, kPorts> txSeconds{};
};

/** "2", "2.5": seconds from the shortest to the longest interval, as milliseconds. */
std::optional<int> intervalOption(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("\\A[0-9]{1,4}(\\.[0-9]{1,3})?\\z"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    const int ms = static_cast<int>(text.toDouble() * 1000.0 + 0.5);
    if (ms < kWatchShortestIntervalMs || ms > kWatchLongestIntervalMs)
        return std::nullopt;
    return ms;
}

std::optional<int> countOption(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("\\A[1-9][0-9]{0,6}\\z"));
    if (!digits.match(text).hasMatch() || text.toInt() > kWatchMostReadings)
        return std::nullopt;
    return text.toInt();
}

/** The devices named, or nothing with the message in `error`. */
std::optional<std::vector<Watched>> watchedDevices(const VerbRequest& request, QString& error)
{
    if (request.operands.isEmpty()) {
        error = QStringLiteral("status: name the devices by their MAC (02:11:22:0a:bc:de) or IPv4 address");
        return std::nullopt;
    }
    std::vector<Watched> devices;
    QSet<QString> seen;
    for (const QString& operand : request.operands) {
        const DeviceName name = parseDeviceName(operand);
        if (!name.error.isEmpty()) {
            error = QStringLiteral("status: ") + name.error;
            return std::nullopt;
        }
        if (!name.mac && (request.bindAddress || request.allAdapters)) {
            error = QStringLiteral("status: --bind and --all-adapters apply to broadcasts only, not to a device "
                                   "named by its IP address");
            return std::nullopt;
        }
        const QString key = name.mac ? macText(*name.mac) : ipv4::dotted(name.address);
        if (seen.contains(key)) {
            error = QStringLiteral("status: %1 is named twice").arg(operand);
            return std::nullopt;
        }
        seen.insert(key);
        Watched device;
        device.name = key;
        device.target = Target{name.mac, name.address, request.bindAddress.value_or(0), request.allAdapters};
        devices.push_back(std::move(device));
    }
    return devices;
}

/** Reads the device's record if it is not known yet, then its status. */
status::Reading readOnce(CNetEnv& env, Watched& device, const QElapsedTimer& clock, Outcome& outcome)
{
    outcome = Outcome::Answered;
    if (!device.record) {
        outcome = readTarget(env, device.target);
        if (outcome == Outcome::Answered)
            device.record = env.record(0);
    }
    if (device.record)
        outcome = requestStatus(env, device.target, *device.record);
    status::Reading reading;
    reading.atMs = clock.elapsed();
    reading.answered = outcome == Outcome::Answered;
    if (reading.answered)
        reading.counters = status::readCounters(env.statusData());
    return reading;
}

void count(Watched& device, const status::Reading& reading, const status::Rates& rates)
{
    device.lastAnswered = reading.answered;
    device.lastRates = rates;
    ++(reading.answered ? device.answered : device.unanswered);
    if (rates.mark == status::Mark::Restart)
        ++device.restarts;
    for (std::size_t p = 0; p < kPorts; ++p) {
        if (rates.rx[p]) {
            device.rxBytes[p] += *rates.rx[p] * rates.seconds;
            device.rxSeconds[p] += rates.seconds;
        }
        if (rates.tx[p]) {
            device.txBytes[p] += *rates.tx[p] * rates.seconds;
            device.txSeconds[p] += rates.seconds;
        }
    }
}

QString rateOrDash(const std::optional<double>& rate)
{
    return rate ? status::rateText(*rate, QLocale::system()) : QStringLiteral("-");
}

/** The widths of the text lines' columns that depend on the devices and the language. */
struct Columns
{
    int device = 0; // the longest device name
    int state = 0;  // "Restart", "No answer"

    explicit Columns(const std::vector<Watched>& devices)
    {
        for (const Watched& d : devices)
            device = std::max(device, static_cast<int>(d.name.size()));
        state = static_cast<int>(std::max(programText(texts::kRestart).size(), programText(texts::kNoAnswer).size()));
    }
};

/** One port's column: "COM1 RX 2.93 KiB/s TX      0 B/s", its rates right-aligned. */
QString portColumn(std::size_t port, const std::optional<double>& rx, const std::optional<double>& tx)
{
    return QStringLiteral("COM%1 RX %2 TX %3")
        .arg(port + 1)
        .arg(rateOrDash(rx), kRateWidth)
        .arg(rateOrDash(tx), kRateWidth);
}

/** The ports of a reading, in columns that line up from line to line: each port the device reported
 *  so far, said to be missing when this report lacks it. */
QString portColumns(Watched& device, const status::Reading& reading, const status::Rates& rates)
{
    const int width = static_cast<int>(portColumn(0, {}, {}).size());
    QString columns;
    QString pending; // the room of ports never reported, kept only when a later port follows
    for (std::size_t p = 0; p < kPorts; ++p) {
        const bool now = reading.counters.rx[p] || reading.counters.tx[p];
        device.reported[p] = device.reported[p] || now;
        if (!device.reported[p]) {
            pending += QString(width + 2, u' ');
            continue;
        }
        const QString column = now ? portColumn(p, rates.rx[p], rates.tx[p])
                                   : programText(texts::kNotReported).arg(QStringLiteral("COM%1").arg(p + 1));
        columns += std::exchange(pending, {}) + QStringLiteral("  ") + column.leftJustified(width);
    }
    return columns;
}

QString textLine(Watched& device, const status::Reading& reading, const status::Rates& rates, const Columns& widths)
{
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") +
                   device.name.leftJustified(widths.device);
    if (!reading.answered)
        return line + QStringLiteral("  ") + programText(texts::kNoAnswer);
    const QString state = rates.mark == status::Mark::Restart ? programText(texts::kRestart) : QString();
    line += QStringLiteral("  ") + state.leftJustified(widths.state);
    const QString uptime = reading.counters.uptime ? status::uptimeText(*reading.counters.uptime) : QString();
    line += QStringLiteral("  uptime ") + uptime.rightJustified(kUptimeWidth);
    // The first answer has nothing to compare with: the rates start with the second.
    const bool first = device.answered == 1 && rates.mark == status::Mark::None;
    if (first) {
        for (std::size_t p = 0; p < kPorts; ++p)
            device.reported[p] = reading.counters.rx[p] || reading.counters.tx[p];
        return line + QStringLiteral("  ") + programText(texts::kFirstReading);
    }
    return (line + portColumns(device, reading, rates)).trimmed();
}

/** The local time with its offset from UTC ("2026-05-04T14:03:12.345+02:00"), as a log reader wants it. */
QString isoNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QJsonValue jsonNumber(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonObject jsonLine(const Watched& device, int round, const status::Reading& reading, const status::Rates& rates)
{
    QJsonObject json{{QStringLiteral("time"), isoNow()},
                     {QStringLiteral("device"), device.name},
                     {QStringLiteral("reading"), round},
                     {QStringLiteral("answered"), reading.answered}};
    if (device.record)
        json.insert(QStringLiteral("mac"), QString::fromStdString(device.record->macText()));
    if (!reading.answered)
        return json;
    json.insert(QStringLiteral("restart"), rates.mark == status::Mark::Restart);
    const auto& uptime = reading.counters.uptime;
    json.insert(QStringLiteral("uptime"), uptime ? QJsonValue(*uptime / 100.0) : QJsonValue());
    json.insert(QStringLiteral("seconds"), rates.seconds > 0 ? QJsonValue(rates.seconds) : QJsonValue());
    QJsonArray ports;
    for (std::size_t p = 0; p < kPorts; ++p) {
        const auto& rx = reading.counters.rx[p];
        const auto& tx = reading.counters.tx[p];
        if (!rx && !tx)
            continue;
        ports.append(QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(p + 1)},
                                 {QStringLiteral("rxBytes"), rx ? QJsonValue(double(*rx)) : QJsonValue()},
                                 {QStringLiteral("txBytes"), tx ? QJsonValue(double(*tx)) : QJsonValue()},
                                 {QStringLiteral("rx"), jsonNumber(rates.rx[p])},
                                 {QStringLiteral("tx"), jsonNumber(rates.tx[p])}});
    }
    json.insert(QStringLiteral("ports"), ports);
    return json;
}

std::optional<double> average(double bytes, double seconds)
{
    return seconds > 0 ? std::optional<double>(bytes / seconds) : std::nullopt;
}

DeviceFigures figures(const Watched& device)
{
    DeviceFigures f;
    // The device's identity from its record (the address it answered from), so that naming it by MAC or
    // by address gives one series; until it has answered, what the command named.
    if (device.record) {
        f.mac = QString::fromStdString(device.record->macText());
        f.address = ipv4::dotted(device.record->sourceAddress());
    } else if (device.target.mac) {
        f.mac = device.name;
    } else {
        f.address = device.name;
    }
    f.answered = device.lastAnswered;
    const std::optional<status::Reading>& last = device.tracker.last();
    if (last && last->counters.uptime)
        f.uptimeSeconds = *last->counters.uptime / 100.0;
    for (int p = 0; p < kPorts; ++p) {
        const auto i = static_cast<std::size_t>(p);
        f.rxBytes[i] = device.tracker.rxTotal(p);
        f.txBytes[i] = device.tracker.txTotal(p);
        if (device.lastAnswered) {
            f.rxRate[i] = device.lastRates.rx[i];
            f.txRate[i] = device.lastRates.tx[i];
        }
    }
    return f;
}

/** Replaces the metrics file; says so on `err` when it fails after writing (or at the first round), not
 *  again at every round of a failing streak. */
bool writeMetrics(const QString& path, const std::vector<Watched>& devices, QString& lastError, QTextStream& err)
{
    std::vector<DeviceFigures> all;
    for (const Watched& d : devices)
        all.push_back(figures(d));
    QString error;
    if (replaceFile(path, metricsText(all, metricsFormatFor(path)), &error)) {
        lastError.clear();
        return true;
    }
    if (lastError.isEmpty())
        err << QStringLiteral("cormapmp-cli: %1 could not be replaced: %2").arg(path, error) << Qt::endl;
    lastError = error;
    return false;
}

/** One device's part of the summary: a text line, and its JSON object. */
QString deviceSummary(const Watched& d, QJsonObject& json)
{
    QJsonArray averages;
    QString ports;
    for (std::size_t p = 0; p < kPorts; ++p) {
        const std::optional<double> rx = average(d.rxBytes[p], d.rxSeconds[p]);
        const std::optional<double> tx = average(d.txBytes[p], d.txSeconds[p]);
        if (!rx && !tx)
            continue;
        ports += QStringLiteral("  COM%1 RX %2 TX %3").arg(p + 1).arg(rateOrDash(rx), rateOrDash(tx));
        averages.append(QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(p + 1)},
                                    {QStringLiteral("rx"), jsonNumber(rx)},
                                    {QStringLiteral("tx"), jsonNumber(tx)}});
    }
    json = QJsonObject{{QStringLiteral("device"), d.name},
                       {QStringLiteral("answered"), d.answered},
                       {QStringLiteral("unanswered"), d.unanswered},
                       {QStringLiteral("restarts"), d.restarts},
                       {QStringLiteral("average"), averages}};
    QString line =
        programText(texts::kWatchDeviceSummary).arg(d.name).arg(d.answered).arg(d.unanswered).arg(d.restarts);
    if (!ports.isEmpty())
        line += QStringLiteral("  ") + programText(texts::kWatchAverage) + ports.mid(1);
    return line;
}

void printSummary(const std::vector<Watched>& devices, int rounds, bool json, QTextStream& out)
{
    int answered = 0;
    int unanswered = 0;
    int restarts = 0;
    QJsonArray perDevice;
    for (const Watched& d : devices) {
        answered += d.answered;
        unanswered += d.unanswered;
        restarts += d.restarts;
        QJsonObject object;
        const QString line = deviceSummary(d, object);
        perDevice.append(object);
        if (!json)
            out << line << '\n';
    }
    if (json) {
        const QJsonObject summary{{QStringLiteral("readings"), rounds},
                                  {QStringLiteral("answered"), answered},
                                  {QStringLiteral("unanswered"), unanswered},
                                  {QStringLiteral("restarts"), restarts},
                                  {QStringLiteral("devices"), perDevice}};
        out << QJsonDocument(QJsonObject{{QStringLiteral("summary"), summary}}).toJson(QJsonDocument::Compact) << '\n';
    } else {
        out << programText(texts::kWatchSummary)
                   .arg(rounds)
                   .arg(devices.size())
                   .arg(answered)
                   .arg(unanswered)
                   .arg(restarts)
            << '\n';
    }
    out.flush();
}

/** Waits until `untilMs` on `clock` or a stop signal, whichever comes first. */
void waitUntilOrStopped(const QElapsedTimer& clock, qint64 untilMs, const StopSignals& stop)
{
    const qint64 left = untilMs - clock.elapsed();
    if (left <= 0 || stop.stopped())
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&stop, &StopSignals::stopRequested, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(left));
    loop.exec();
}
} // namespace

std::optional<WatchSettings> watchSettings(const VerbRequest& request, QString& error)
{
    WatchSettings settings;
    if (request.interval) {
        const std::optional<int> ms = intervalOption(*request.interval);
        if (!ms) {
            error =
                QStringLiteral("--interval: \"%1\" is not a number of seconds from 1 to 3600").arg(*request.interval);
            return std::nullopt;
        }
        settings.intervalMs = *ms;
    }
    if (request.count) {
        const std::optional<int> n = countOption(*request.count);
        if (!n) {
            error = QStringLiteral("--count: \"%1\" is not a number from 1 to %2")
                        .arg(*request.count)
                        .arg(kWatchMostReadings);
            return std::nullopt;
        }
        settings.count = *n;
    }
    if (request.openMetrics) {
        error = metricsPathProblem(*request.openMetrics);
        if (!error.isEmpty())
            return std::nullopt;
        settings.metricsPath = *request.openMetrics;
    }
    return settings;
}

namespace {
/** How many devices a round reads at once: a round takes about one wait however many of them are silent. */
constexpr int kWatchReadsAtOnce = 256;

/** The devices under watch and what a round of readings needs. */
struct Watch
{
    const VerbRequest& request;
    QTextStream& out;
    QTextStream& err;
    std::vector<Watched> devices;
    QElapsedTimer clock;
    bool openErrorShown = false;
    Columns widths{devices};

    /** One device's reading of the round, taken on a job's thread with an endpoint of its own. */
    struct Taken
    {
        status::Reading reading;
        Outcome outcome = Outcome::Answered;
        QString openError;
    };

    /** Reads every device at once (up to kWatchReadsAtOnce at a time), each on an endpoint of its own,
     *  and prints a line for each in the order named as soon as it and those before it are read. A stop
     *  signal ends the watch after the round, which takes about one wait. */
    void readRound(int round)
    {
        std::vector<Taken> taken(devices.size());
        runJobs(
            static_cast<int>(devices.size()), std::min(static_cast<int>(devices.size()), kWatchReadsAtOnce),
            [&](int i) {
                Taken& t = taken[static_cast<std::size_t>(i)];
                CNetEnv env(request.profile);
                t.reading = readOnce(env, devices[static_cast<std::size_t>(i)], clock, t.outcome);
                t.openError = env.openError();
            },
            [&](int i) { report(round, devices[static_cast<std::size_t>(i)], taken[static_cast<std::size_t>(i)]); });
    }

    void report(int round, Watched& device, const Taken& taken)
    {
        const status::Reading& reading = taken.reading;
        if (taken.outcome == Outcome::CannotOpen && !openErrorShown) {
            printFailure(err, taken.outcome, taken.openError);
            openErrorShown = true;
        }
        const status::Rates rates = device.tracker.add(reading);
        count(device, reading, rates);
        if (request.json)
            out << QJsonDocument(jsonLine(device, round, reading, rates)).toJson(QJsonDocument::Compact) << '\n';
        else
            out << textLine(device, reading, rates, widths) << '\n';
        out.flush();
    }
};
} // namespace

int statusWatch(const VerbRequest& request, QTextStream& out, QTextStream& err)
{
    if (request.ipAddress)
        return printUsageError(err, QStringLiteral("status: name the devices as arguments, not with --ip"));
    QString error;
    const std::optional<WatchSettings> settings = watchSettings(request, error);
    std::optional<std::vector<Watched>> devices = settings ? watchedDevices(request, error) : std::nullopt;
    if (!devices)
        return printUsageError(err, error);
    Watch watch{request, out, err, std::move(*devices), {}};
    const StopSignals stop;
    watch.clock.start();
    bool metricsWritten = true;
    QString metricsError;
    int round = 0;
    while (!stop.stopped() && (settings->count == 0 || round < settings->count)) {
        const qint64 roundStart = watch.clock.elapsed();
        watch.readRound(++round);
        if (!settings->metricsPath.isEmpty())
            metricsWritten = writeMetrics(settings->metricsPath, watch.devices, metricsError, err);
        if (settings->count != 0 && round >= settings->count)
            break;
        waitUntilOrStopped(watch.clock, roundStart + settings->intervalMs, stop);
    }
    printSummary(watch.devices, round, request.json, out);
    const bool allAnswered =
        std::all_of(watch.devices.begin(), watch.devices.end(), [](const Watched& d) { return d.lastAnswered; });
    return allAnswered && metricsWritten ? kExitOk : kExitFailed;
}
} // namespace cli
