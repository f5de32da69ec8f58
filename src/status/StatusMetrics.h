#pragma once

// The figures of watched devices for a monitoring system, in the Prometheus text format (what
// node_exporter's textfile collector and promtool read) or in OpenMetrics (for a scraper that asks for
// that format).

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace cli {
/** The latest figures of one watched device. */
struct DeviceFigures
{
    // Its identity, whatever name the command gave it: the MAC and the address it answers from (empty
    // while the device has not answered and the command did not name it so).
    QString mac;
    QString address;
    bool answered = false;                                 // the last reading
    std::optional<double> uptimeSeconds;                   // from its last answer
    std::array<std::optional<std::uint64_t>, 4> rxBytes{}; // counted on across the device's 32-bit wraps
    std::array<std::optional<std::uint64_t>, 4> txBytes{};
    std::array<std::optional<double>, 4> rxRate{}; // bytes a second at the last reading
    std::array<std::optional<double>, 4> txRate{};
};

enum class MetricsFormat
{
    Prometheus,  // text format 0.0.4: HELP and TYPE on the names the samples carry
    OpenMetrics, // 1.0.0: a counter's family name without _total, UNIT, "# EOF" at the end
};

/** The format a metrics file named `path` gets: OpenMetrics for a name ending in ".om", else the
 *  Prometheus text format (node_exporter's textfile collector reads "*.prom" files in it). */
MetricsFormat metricsFormatFor(const QString& path);

/** The text: per device (labels mac and address) whether it answered (cormapmp_up), its uptime
 *  (cormapmp_uptime_seconds), and per port and direction its byte counter (cormapmp_serial_bytes_total)
 *  and rate (cormapmp_serial_rate_bytes_per_second). A family without samples is left out. */
QByteArray metricsText(const std::vector<DeviceFigures>& devices, MetricsFormat format);

/** Replaces the file at `path` (the file a symbolic link points to, for a link) with `bytes` whole or not
 *  at all: written to a temporary file in the same folder, every write checked, synced, then renamed over
 *  it. A reader sees the old file or the new one, never a part. False with the reason in `error`. */
bool replaceFile(const QString& path, const QByteArray& bytes, QString* error);

/** Why `path` cannot take the metrics, checked before a watch starts: its folder is missing, or it
 *  names something other than a regular file (a folder, a pipe, a device). Empty when it can. */
QString metricsPathProblem(const QString& path);
} // namespace cli
