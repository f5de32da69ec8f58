#include "StatusRates.h"

#include <algorithm>

namespace status {
namespace {
constexpr qint64 kMsPerHundredth = 10;
// How far the device's clock may fall behind ours between two readings before it counts as a restart:
// the answers' travel and the wait's ticks blur our side, the device's own clock drifts a little.
constexpr qint64 kSlackMs = 1500;
constexpr qint64 kSlackShare = 4; // and a quarter of the time that passed

enum class Uptime
{
    Unknown, // a reading lacks it: our clock measures the interval
    Moved,   // it grew (or wrapped) by about the time that passed
    Restarted,
};

/** What the uptimes of two readings say, and the device's time between them in milliseconds. */
Uptime compareUptime(const Reading& before, const Reading& now, qint64& deviceMs)
{
    if (!before.counters.uptime || !now.counters.uptime)
        return Uptime::Unknown;
    const std::uint32_t from = *before.counters.uptime;
    const std::uint32_t to = *now.counters.uptime;
    const qint64 passedMs = std::max<qint64>(0, now.atMs - before.atMs);
    const qint64 slackMs = std::max(kSlackMs, passedMs / kSlackShare);
    deviceMs = static_cast<qint64>(static_cast<std::uint32_t>(to - from)) * kMsPerHundredth;
    // Gone back, and not by a wrap of the uptime itself (after 497 days) that fits the time passed.
    if (to < from && deviceMs > passedMs + slackMs)
        return Uptime::Restarted;
    // Grown clearly less than the time passed: it started again while readings went unanswered.
    if (deviceMs + slackMs < passedMs)
        return Uptime::Restarted;
    return Uptime::Moved;
}

void fillRates(std::array<std::optional<double>, kPortCount>& rates,
               const std::array<std::optional<std::uint32_t>, kPortCount>& before,
               const std::array<std::optional<std::uint32_t>, kPortCount>& now, double seconds)
{
    for (std::size_t port = 0; port < rates.size(); ++port) {
        if (before[port] && now[port])
            rates[port] = static_cast<std::uint32_t>(*now[port] - *before[port]) / seconds; // modulo 2^32
    }
}
} // namespace

bool Rates::any() const
{
    const auto present = [](const std::optional<double>& r) { return r.has_value(); };
    return std::any_of(rx.begin(), rx.end(), present) || std::any_of(tx.begin(), tx.end(), present);
}

Rates ratesBetween(const Reading* previous, const Reading& current)
{
    Rates rates;
    if (!current.answered) {
        rates.mark = Mark::NoAnswer;
        return rates;
    }
    if (!previous)
        return rates;
    qint64 deviceMs = 0;
    const Uptime uptime = compareUptime(*previous, current, deviceMs);
    if (uptime == Uptime::Restarted) {
        rates.mark = Mark::Restart;
        return rates;
    }
    const qint64 ms = uptime == Uptime::Moved ? deviceMs : current.atMs - previous->atMs;
    if (ms <= 0)
        return rates; // no time between them: no rate can be told
    rates.seconds = static_cast<double>(ms) / 1000.0;
    fillRates(rates.rx, previous->counters.rx, current.counters.rx, rates.seconds);
    fillRates(rates.tx, previous->counters.tx, current.counters.tx, rates.seconds);
    return rates;
}

Rates RateTracker::add(const Reading& reading)
{
    const Rates rates = ratesBetween(m_last ? &*m_last : nullptr, reading);
    if (!reading.answered)
        return rates;
    if (rates.mark == Mark::Restart) {
        m_rx = {}; // the device counts from its start again
        m_tx = {};
    }
    addTotals(m_rx, reading.counters.rx);
    addTotals(m_tx, reading.counters.tx);
    m_last = reading;
    return rates;
}

void RateTracker::addTotals(Totals& totals, const std::array<std::optional<std::uint32_t>, kPortCount>& now)
{
    for (std::size_t port = 0; port < totals.size(); ++port) {
        if (!now[port])
            continue; // the total stays as the last reading that carried the counter left it
        if (totals[port])
            totals[port]->total += static_cast<std::uint32_t>(*now[port] - totals[port]->value); // modulo 2^32
        else
            totals[port] = Total{*now[port], *now[port]};
        totals[port]->value = *now[port];
    }
}

void RateTracker::reset()
{
    m_last.reset();
    m_rx = {};
    m_tx = {};
}
} // namespace status
