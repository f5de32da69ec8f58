#include "LinkRelay.h"

#include "NetnsFixture.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <vector>

namespace netns {
namespace {
constexpr int kFrameMax = 2048;

std::optional<double> percent(const QString& text)
{
    bool ok = false;
    const double v = QString(text).remove(QLatin1Char('%')).toDouble(&ok);
    return ok && v >= 0 && v <= 100 ? std::optional(v / 100) : std::nullopt;
}

std::optional<int> milliseconds(const QString& text)
{
    bool ok = false;
    const int v = QString(text).remove(QStringLiteral("ms")).toInt(&ok);
    return ok && v >= 0 ? std::optional(v) : std::nullopt;
}

/** Completes the TCP or UDP checksum of an IPv4 frame. A veth leaves it to hardware that is not there
 *  (the field holds only the pseudo-header's sum), so a frame passed on raw would be dropped as damaged. */
void completeChecksum(std::vector<char>& frame)
{
    const auto byte = [&frame](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(frame[i]));
    };
    constexpr std::size_t kIp = 14;
    const std::size_t l4 = kIp + 4u * (byte(kIp) & 0x0F);
    const std::uint32_t protocol = byte(kIp + 9);
    const std::size_t total = kIp + (byte(kIp + 2) << 8 | byte(kIp + 3));
    const std::size_t field = protocol == 6 ? 16 : protocol == 17 ? 6 : 0;
    if (!field || total > frame.size() || l4 + field + 2 > total)
        return;
    frame[l4 + field] = 0;
    frame[l4 + field + 1] = 0;
    std::uint32_t sum = protocol + static_cast<std::uint32_t>(total - l4);
    for (std::size_t i = kIp + 12; i < kIp + 20; i += 2) // source and destination addresses
        sum += byte(i) << 8 | byte(i + 1);
    for (std::size_t i = l4; i < total; i += 2)
        sum += byte(i) << 8 | (i + 1 < total ? byte(i + 1) : 0);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    std::uint16_t checksum = static_cast<std::uint16_t>(~sum);
    if (protocol == 17 && checksum == 0)
        checksum = 0xFFFF;
    frame[l4 + field] = static_cast<char>(checksum >> 8);
    frame[l4 + field + 1] = static_cast<char>(checksum & 0xFF);
}

/** A raw socket on `name` that takes every frame arriving there (promiscuous), or -1. */
int openInterface(const char* name)
{
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ALL);
    at.sll_ifindex = static_cast<int>(::if_nametoindex(name));
    packet_mreq promiscuous{};
    promiscuous.mr_ifindex = at.sll_ifindex;
    promiscuous.mr_type = PACKET_MR_PROMISC;
    if (fd < 0 || at.sll_ifindex == 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

std::optional<LinkFaults> LinkFaults::fromNetem(const QStringList& args)
{
    LinkFaults f;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        const QString after = i + 2 < args.size() ? args[i + 2] : QString();
        if (word == QLatin1String("loss") && percent(next)) {
            f.loss = *percent(next), ++i;
        } else if (word == QLatin1String("duplicate") && percent(next)) {
            f.duplicate = *percent(next), ++i;
        } else if (word == QLatin1String("reorder") && percent(next)) {
            f.reorder = *percent(next), ++i;
            if (percent(after)) // the correlation: not modelled
                ++i;
        } else if (word == QLatin1String("delay") && milliseconds(next)) {
            f.delayMs = *milliseconds(next), ++i;
            if (milliseconds(after))
                f.jitterMs = *milliseconds(after), ++i;
        } else {
            return std::nullopt;
        }
    }
    return f;
}

LinkRelay::LinkRelay(const QString& ns, const QString& a, const QString& b)
{
    m_thread = std::thread(&LinkRelay::run, this, ns, a, b);
    while (!m_started.load())
        std::this_thread::yield();
}

LinkRelay::~LinkRelay()
{
    m_stop = true;
    m_thread.join();
}

QString LinkRelay::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void LinkRelay::setFaults(const LinkFaults& faults)
{
    std::lock_guard lock(m_mutex);
    m_faults = faults;
}

void LinkRelay::run(QString ns, QString a, QString b)
{
    const ThreadInNamespace inRelay(ns);
    std::array<int, 2> fds = {openInterface(a.toLatin1().constData()), openInterface(b.toLatin1().constData())};
    {
        std::lock_guard lock(m_mutex);
        if (!inRelay.error().isEmpty() || fds[0] < 0 || fds[1] < 0)
            m_error = QStringLiteral("relay in %1: %2 %3").arg(ns, inRelay.error(), qt_error_string(errno));
    }
    m_started = true;
    QElapsedTimer clock;
    clock.start();
    std::multimap<qint64, std::pair<int, std::vector<char>>> due; // send time -> (socket, frame)
    QRandomGenerator random(20250);
    while (!m_stop && fds[0] >= 0 && fds[1] >= 0) {
        const qint64 now = clock.elapsed();
        while (!due.empty() && due.begin()->first <= now) {
            const auto& [fd, frame] = due.begin()->second;
            ::send(fd, frame.data(), frame.size(), 0);
            due.erase(due.begin());
        }
        pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        const int wait = due.empty() ? 20 : static_cast<int>(std::clamp<qint64>(due.begin()->first - now, 0, 20));
        if (::poll(polls, 2, wait) <= 0)
            continue;
        for (int side = 0; side < 2; ++side) {
            if (!(polls[side].revents & POLLIN))
                continue;
            std::vector<char> frame(kFrameMax);
            sockaddr_ll from{};
            socklen_t length = sizeof from;
            const ssize_t n =
                ::recvfrom(fds[side], frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING)
                continue;
            frame.resize(static_cast<std::size_t>(n));
            const int out = fds[1 - side];
            LinkFaults f;
            {
                std::lock_guard lock(m_mutex);
                f = m_faults;
            }
            // Only IPv4 meets the faults: address resolution passes as it is.
            const bool ipv4 = n > 14 && static_cast<unsigned char>(frame[12]) == 0x08 && frame[13] == 0x00;
            if (!ipv4) {
                ::send(out, frame.data(), frame.size(), 0);
                continue;
            }
            completeChecksum(frame);
            if (random.generateDouble() < f.loss)
                continue;
            const int copies = random.generateDouble() < f.duplicate ? 2 : 1;
            for (int c = 0; c < copies; ++c) {
                qint64 delay = f.delayMs;
                if (f.jitterMs)
                    delay += random.bounded(-f.jitterMs, f.jitterMs + 1);
                if (random.generateDouble() < f.reorder)
                    delay = 0;
                due.emplace(clock.elapsed() + std::max<qint64>(delay, 0), std::pair{out, frame});
            }
        }
    }
    for (const int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
}
} // namespace netns
