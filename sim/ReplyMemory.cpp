#include "ReplyMemory.h"

#include "protocol/Codec.h"

#include <algorithm>
#include <array>

QByteArray ReplyMemory::key(QByteArrayView header32, std::uint32_t senderAddress, std::uint16_t senderPort)
{
    std::array<std::uint8_t, 6> sender{};
    frame::writeBe32(sender.data(), senderAddress);
    frame::writeLe16(sender.data() + 4, senderPort);
    QByteArray k = header32.first(std::min<qsizetype>(header32.size(), frame::kOffBody)).toByteArray();
    k.append(reinterpret_cast<const char*>(sender.data()), sender.size());
    return k;
}

std::optional<QByteArray> ReplyMemory::find(const QByteArray& key, std::int64_t nowMs)
{
    forgetOld(nowMs);
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.key == key; });
    if (it == m_entries.end())
        return std::nullopt;
    return it->reply;
}

void ReplyMemory::remember(const QByteArray& key, const QByteArray& reply, std::int64_t nowMs)
{
    forgetOld(nowMs);
    m_entries.push_back({key, reply, nowMs});
    while (m_entries.size() > static_cast<std::size_t>(kCapacity))
        m_entries.pop_front();
}

void ReplyMemory::forgetOld(std::int64_t nowMs)
{
    while (!m_entries.empty() && nowMs - m_entries.front().atMs > kKeepMs)
        m_entries.pop_front();
}
