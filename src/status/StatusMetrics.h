#pragma once

// The figures of watched devices in the OpenMetrics text format (which Prometheus' text parsers also
// read), for a monitoring system: node_exporter's textfile collector or any scraper that reads a file.

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
    QString device;                                        // as named on the command line
    bool answered = false;                                 // the last reading
    std::optional<double> uptimeSeconds;                   // from its last answer
    std::array<std::optional<std::uint64_t>, 4> rxBytes{}; // counted on across the device's 32-bit wraps
    std::array<std::optional<std::uint64_t>, 4> txBytes{};
    std::array<std::optional<double>, 4> rxRate{}; // bytes a second at the last reading
    std::array<std::optional<double>, 4> txRate{};
};

/** The text: per device whether it answered (cormapmp_up), its uptime (cormapmp_uptime_seconds), and per
 *  port and direction its byte counter (cormapmp_serial_bytes_total) and rate
 *  (cormapmp_serial_rate_bytes_per_second); ends with "# EOF". A family without samples is left out. */
QByteArray openMetricsText(const std::vector<DeviceFigures>& devices);

/** Replaces the file at `path` (the file a symbolic link points to, for a link) with `bytes` whole or not
 *  at all: written to a temporary file in the same folder, every write checked, synced, then renamed over
 *  it. A reader sees the old file or the new one, never a part. False with the reason in `error`. */
bool replaceFile(const QString& path, const QByteArray& bytes, QString* error);

/** Why `path` cannot take the metrics, checked before a watch starts: its folder is missing, or it
 *  names something other than a regular file (a folder, a pipe, a device). Empty when it can. */
QString metricsPathProblem(const QString& path);
} // namespace cli
