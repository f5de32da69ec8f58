#include "status/StatusMetrics.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>

namespace cli {
namespace {
/** A label value with backslash, double quote and line feed escaped. */
QByteArray labelValue(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray number(double value)
{
    if (std::isnan(value))
        return "NaN";
    return QByteArray::number(value, 'g', 15);
}

/** One metric family: its metadata, then one sample per entry `sample` gives; nothing without samples. */
struct Family
{
    const char* name; // OpenMetrics' family name: without the _total of a counter's samples
    const char* type;
    const char* unit; // empty for none
    const char* help;
};

using Samples = std::vector<QByteArray>; // each "name{labels} value"

/** The Prometheus text format names a family by the name its samples carry (a counter's with _total)
 *  and has no UNIT; OpenMetrics names it without the counter's suffix and gives the unit. */
void appendFamily(QByteArray& text, const Family& family, const Samples& samples, MetricsFormat format)
{
    if (samples.empty())
        return;
    const bool counter = std::strcmp(family.type, "counter") == 0;
    const QByteArray name = QByteArray(family.name) + (format == MetricsFormat::Prometheus && counter ? "_total" : "");
    text += "# HELP " + name + ' ' + family.help + '\n';
    text += "# TYPE " + name + ' ' + family.type + '\n';
    if (format == MetricsFormat::OpenMetrics && *family.unit)
        text += "# UNIT " + name + ' ' + family.unit + '\n';
    for (const QByteArray& sample : samples)
        text += sample + '\n';
}

QByteArray deviceLabels(const DeviceFigures& d)
{
    return "mac=\"" + labelValue(d.mac) + "\",address=\"" + labelValue(d.address) + '"';
}

QByteArray portLabels(const DeviceFigures& d, int port, bool tx)
{
    return deviceLabels(d) + ",port=\"com" + QByteArray::number(port + 1) + "\",direction=\"" + (tx ? "tx" : "rx") +
           '"';
}

/** One sample per device, port and direction that `value` gives a value for. */
template <typename Value>
Samples portSamples(const std::vector<DeviceFigures>& devices, const char* sampleName,
                    const std::function<std::optional<Value>(const DeviceFigures&, int, bool)>& value)
{
    Samples samples;
    for (const DeviceFigures& d : devices) {
        for (const bool tx : {false, true}) {
            for (int port = 0; port < 4; ++port) {
                if (const std::optional<Value> v = value(d, port, tx))
                    samples.push_back(QByteArray(sampleName) + '{' + portLabels(d, port, tx) + "} " +
                                      (std::is_integral_v<Value> ? QByteArray::number(*v) : number(double(*v))));
            }
        }
    }
    return samples;
}
} // namespace

MetricsFormat metricsFormatFor(const QString& path)
{
    return path.endsWith(QStringLiteral(".om"), Qt::CaseInsensitive) ? MetricsFormat::OpenMetrics
                                                                     : MetricsFormat::Prometheus;
}

QByteArray metricsText(const std::vector<DeviceFigures>& devices, MetricsFormat format)
{
    QByteArray text;
    Samples up;
    Samples uptime;
    for (const DeviceFigures& d : devices) {
        up.push_back("cormapmp_up{" + deviceLabels(d) + "} " + (d.answered ? "1" : "0"));
        if (d.uptimeSeconds)
            uptime.push_back("cormapmp_uptime_seconds{" + deviceLabels(d) + "} " + number(*d.uptimeSeconds));
    }
    appendFamily(text,
                 {"cormapmp_up", "gauge", "", "Whether the Tessel answered the last status reading (1) or not (0)."},
                 up, format);
    appendFamily(
        text,
        {"cormapmp_uptime_seconds", "gauge", "seconds", "Time since the Tessel started, as its last answer said."},
        uptime, format);
    appendFamily(text,
                 {"cormapmp_serial_bytes", "counter", "bytes",
                  "Bytes a serial port of the Tessel received (rx) or sent (tx), counted on across its 32-bit "
                  "counter's wraps; it starts again when the Tessel restarts."},
                 portSamples<std::uint64_t>(devices, "cormapmp_serial_bytes_total",
                                            [](const DeviceFigures& d, int port, bool tx) {
                                                return (tx ? d.txBytes : d.rxBytes)[static_cast<std::size_t>(port)];
                                            }),
                 format);
    appendFamily(text,
                 {"cormapmp_serial_rate_bytes_per_second", "gauge", "",
                  "Bytes a second through a serial port of the Tessel between its last two answers."},
                 portSamples<double>(devices, "cormapmp_serial_rate_bytes_per_second",
                                     [](const DeviceFigures& d, int port, bool tx) {
                                         return (tx ? d.txRate : d.rxRate)[static_cast<std::size_t>(port)];
                                     }),
                 format);
    if (format == MetricsFormat::OpenMetrics)
        text += "# EOF\n";
    return text;
}

bool replaceFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false); // never write into the file itself, even where a rename cannot be had
    // Unbuffered, so the write below is the system's and its count is checked here: a buffered write
    // that the system takes only in part (a full disk, a file size limit) is not always reported by
    // the flush at commit, and a truncated file would take the old one's place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    errno = 0;
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        const int reason = errno;
        if (error) {
            *error = QStringLiteral("%1 of %2 bytes written").arg(std::max<qint64>(written, 0)).arg(bytes.size());
            if (reason != 0)
                *error += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(reason)));
        }
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QString metricsPathProblem(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty())
        return QStringLiteral("--openmetrics needs a file name");
    if (info.exists() && !info.isFile())
        return QStringLiteral("--openmetrics: %1 is not a regular file").arg(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("--openmetrics: the folder %1 does not exist").arg(folder.filePath());
    return {};
}
} // namespace cli
