#pragma once

// cormapmp-cli status --watch: the devices' status read again and again, one line per reading and device
// with each port's traffic rates, a summary at the end, and the latest figures for a monitoring system.

#include <QString>

#include <optional>

class QTextStream;

namespace cli {
struct VerbRequest;

/** What --watch, --interval, --count and --openmetrics asked for, read and checked. */
struct WatchSettings
{
    int intervalMs = 2000;
    int count = 0; // readings per device; 0: until stopped
    QString metricsPath;
};

constexpr int kWatchDefaultIntervalMs = 2000;
constexpr int kWatchShortestIntervalMs = 1000;
constexpr int kWatchLongestIntervalMs = 3600 * 1000;
constexpr int kWatchMostReadings = 1000000;

/** Reads the watch options of `request`; nothing, with the message in `error`, when one is bad. */
std::optional<WatchSettings> watchSettings(const VerbRequest& request, QString& error);

/**
 * `status MAC|ADDR... --watch`: reads every device named (its record once, then its status) at each
 * interval, in the order named, and prints one line per reading and device: the time, the device, its
 * uptime and each reported port's receive and transmit rate (or "No answer", "Restart"); with --json one
 * JSON object a line. With --openmetrics FILE the latest figures replace FILE after each round. It ends
 * after --count readings, or at SIGINT or SIGTERM after the reading under way, with a summary.
 * Exit status 0 when every device answered its last reading (and the metrics file, if any, was last
 * written whole), 1 otherwise, 2 for bad input.
 */
int statusWatch(const VerbRequest& request, QTextStream& out, QTextStream& err);
} // namespace cli
