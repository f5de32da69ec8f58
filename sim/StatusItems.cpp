#include "StatusItems.h"

#include "protocol/Codec.h"

#include <algorithm>
#include <array>

namespace sim {
namespace {
constexpr qsizetype kItemHeader = 2;
constexpr std::uint8_t kFirmwareMajor = 3;
constexpr std::uint8_t kFirmwareMinor = 2;
constexpr std::uint8_t kFirmwareRevision = 1; // "B"
constexpr std::uint8_t kClockMhz = 50;
constexpr char kLineBreak[] = "\r\n";

// Walks the items as a receiver does, calling visit(type, value offset, value size) until it says stop.
template <typename Visit> void forEachItem(const QByteArray& items, Visit visit)
{
    qsizetype at = 0;
    while (at + kItemHeader <= items.size()) {
        const auto type = static_cast<std::uint8_t>(items[at]);
        const auto length = static_cast<std::uint8_t>(items[at + 1]);
        if (type == 0 || length < kItemHeader || at + length > items.size())
            return;
        if (!visit(type, at + kItemHeader, length - kItemHeader))
            return;
        at += length;
    }
}

void writeAddressValue(QByteArray& items, std::uint8_t type, std::uint32_t address)
{
    const qsizetype at = findItemValue(items, type, 4);
    if (at >= 0)
        frame::writeBe32(reinterpret_cast<std::uint8_t*>(items.data() + at), address);
}

void appendLanLines(QByteArray& items, int index)
{
    appendItem(items, kStatusText, "Tessel LAN statistics\r\n");
    appendItem(items, kStatusSeparator, {});
    appendItem(items, kStatusText, kLineBreak);
    appendU32Item(items, kStatusLanRx, 1000u + 37u * static_cast<std::uint32_t>(index));
    appendItem(items, kStatusText, kLineBreak);
    appendU32Item(items, kStatusLanTx, 800u + 29u * static_cast<std::uint32_t>(index));
    appendItem(items, kStatusText, kLineBreak);
    appendU16Item(items, kStatusLanCrc, 0);
    appendItem(items, kStatusText, kLineBreak);
    appendU16Item(items, kStatusLanAlign, 0);
    appendItem(items, kStatusText, kLineBreak);
    appendU16Item(items, kStatusLanLost, static_cast<std::uint16_t>(index % 3));
    appendItem(items, kStatusText, kLineBreak);
    appendItem(items, kStatusSeparator, {});
}
} // namespace

void appendItem(QByteArray& items, std::uint8_t type, QByteArrayView value)
{
    items.append(static_cast<char>(type));
    items.append(static_cast<char>(value.size() + kItemHeader));
    items.append(value.data(), value.size());
}

void appendU32Item(QByteArray& items, std::uint8_t type, std::uint32_t value)
{
    std::array<std::uint8_t, 4> bytes{};
    frame::writeLe32(bytes.data(), value);
    appendItem(items, type, QByteArrayView(bytes.data(), bytes.size()));
}

void appendU16Item(QByteArray& items, std::uint8_t type, std::uint16_t value)
{
    std::array<std::uint8_t, 2> bytes{};
    frame::writeLe16(bytes.data(), value);
    appendItem(items, type, QByteArrayView(bytes.data(), bytes.size()));
}

void appendAddressItem(QByteArray& items, std::uint8_t type, std::uint32_t address)
{
    std::array<std::uint8_t, 4> bytes{};
    frame::writeBe32(bytes.data(), address);
    appendItem(items, type, QByteArrayView(bytes.data(), bytes.size()));
}

qsizetype findItemValue(const QByteArray& items, std::uint8_t type, qsizetype size)
{
    qsizetype found = -1;
    forEachItem(items, [&](std::uint8_t t, qsizetype value, qsizetype valueSize) {
        if (t == type && valueSize >= size) {
            found = value;
            return false;
        }
        return true;
    });
    return found;
}

std::optional<std::uint32_t> readU32Item(const QByteArray& items, std::uint8_t type)
{
    const qsizetype at = findItemValue(items, type, 4);
    if (at < 0)
        return std::nullopt;
    return frame::readLe32(reinterpret_cast<const std::uint8_t*>(items.constData() + at));
}

bool writeU32Item(QByteArray& items, std::uint8_t type, std::uint32_t value)
{
    const qsizetype at = findItemValue(items, type, 4);
    if (at < 0)
        return false;
    frame::writeLe32(reinterpret_cast<std::uint8_t*>(items.data() + at), value);
    return true;
}

QByteArray defaultStatusItems(const EnvRecord& record, int index)
{
    const auto n = static_cast<std::uint32_t>(index);
    QByteArray items;
    const char version[] = {kFirmwareMajor, kFirmwareMinor, kFirmwareRevision, kClockMhz};
    appendItem(items, kStatusVersion, QByteArrayView(version, sizeof version));
    appendU32Item(items, kStatusUptime, 360000u + 6000u * n); // an hour and index minutes
    const std::array<std::uint8_t, 6> mac = record.mac();
    appendItem(items, kStatusMac, QByteArrayView(mac.data(), mac.size()));
    appendAddressItem(items, kStatusIp, record.ipAddress());
    appendAddressItem(items, kStatusMask, record.subnetMask());
    appendAddressItem(items, kStatusGateway, record.gateway());
    for (std::uint8_t port = 0; port < EnvRecord::kPortCount; ++port) {
        appendU32Item(items, static_cast<std::uint8_t>(kStatusComRx + port), 4096u * (port + 1) + 17u * n);
        appendU32Item(items, static_cast<std::uint8_t>(kStatusComTx + port), 2048u * (port + 1) + 13u * n);
    }
    appendLanLines(items, index);
    return items;
}

void refreshStatusItems(QByteArray& items, const EnvRecord& record, std::uint32_t uptime)
{
    writeU32Item(items, kStatusUptime, uptime);
    const qsizetype mac = findItemValue(items, kStatusMac, 6);
    if (mac >= 0) {
        const std::array<std::uint8_t, 6> bytes = record.mac();
        std::copy(bytes.begin(), bytes.end(), items.begin() + mac);
    }
    writeAddressValue(items, kStatusIp, record.ipAddress());
    writeAddressValue(items, kStatusMask, record.subnetMask());
    writeAddressValue(items, kStatusGateway, record.gateway());
}

void advanceSerialCounters(QByteArray& items)
{
    constexpr std::uint32_t kRxStep = 384; // bytes a port receives between two looks, times its number
    constexpr std::uint32_t kTxStep = 160;
    for (std::uint32_t port = 0; port < EnvRecord::kPortCount; ++port) {
        addToCounter(items, static_cast<std::uint8_t>(kStatusComRx + port), kRxStep * (port + 1));
        addToCounter(items, static_cast<std::uint8_t>(kStatusComTx + port), kTxStep * (port + 1));
    }
}

bool addToCounter(QByteArray& items, std::uint8_t type, std::uint32_t delta)
{
    const std::optional<std::uint32_t> value = readU32Item(items, type);
    return value && writeU32Item(items, type, *value + delta);
}

std::uint64_t bytesAfter(const CounterRate& rate, qint64 elapsedMs)
{
    if (rate.bytesPerSecond.empty() || elapsedMs <= 0 || rate.everyMs <= 0)
        return 0;
    // In byte-milliseconds: whole rounds of the steps, then the steps of the round under way.
    const auto every = static_cast<std::uint64_t>(rate.everyMs);
    const auto elapsed = static_cast<std::uint64_t>(elapsedMs);
    const std::uint64_t roundMs = every * rate.bytesPerSecond.size();
    std::uint64_t perRound = 0;
    for (const std::uint32_t step : rate.bytesPerSecond)
        perRound += step * every;
    std::uint64_t total = elapsed / roundMs * perRound;
    std::uint64_t rest = elapsed % roundMs;
    for (std::size_t i = 0; rest > 0; ++i) {
        const std::uint64_t ms = std::min(rest, every);
        total += rate.bytesPerSecond[i] * ms;
        rest -= ms;
    }
    return total / 1000;
}

std::array<std::uint32_t, 8> serialCounters(const QByteArray& items)
{
    std::array<std::uint32_t, 8> values{};
    for (std::uint8_t i = 0; i < values.size(); ++i)
        values[i] = readU32Item(items, static_cast<std::uint8_t>(kStatusComRx + i)).value_or(0);
    return values;
}

void applyTraffic(QByteArray& items, const SerialTraffic& traffic, const std::array<std::uint32_t, 8>& start,
                  qint64 elapsedMs)
{
    for (const CounterRate& rate : traffic.rates) {
        const std::size_t index = static_cast<std::size_t>(rate.type - kStatusComRx);
        if (index >= start.size())
            continue;
        writeU32Item(items, rate.type, static_cast<std::uint32_t>(start[index] + bytesAfter(rate, elapsedMs)));
    }
}
} // namespace sim
