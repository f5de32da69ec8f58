#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <deque>
#include <optional>

/**
 * What one device answered to its last requests, so that the second copy of a request (same header,
 * same random words, from the same sender, 10 ms later) gets the very reply the first copy got and is
 * not acted on again. An empty reply stands for a request the device dropped on purpose. Entries are
 * forgotten after kKeepMs or when kCapacity newer ones came.
 */
class ReplyMemory final
{
public:
    static constexpr int kCapacity = 8;
    static constexpr std::int64_t kKeepMs = 2000;

    /** The key of a request copy: its 32 header bytes and the sender's address and port. */
    static QByteArray key(QByteArrayView header32, std::uint32_t senderAddress, std::uint16_t senderPort);

    /** The reply remembered for `key`, or nothing when the request is new. */
    std::optional<QByteArray> find(const QByteArray& key, std::int64_t nowMs);
    void remember(const QByteArray& key, const QByteArray& reply, std::int64_t nowMs);
    void clear() { m_entries.clear(); }

private:
    struct Entry
    {
        QByteArray key;
        QByteArray reply;
        std::int64_t atMs;
    };
    void forgetOld(std::int64_t nowMs);

    std::deque<Entry> m_entries;
};
