#include "DatagramFlood.h"

#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest {
namespace {
constexpr std::uint32_t kLoopbackNet = 0x7F000000;
constexpr std::uint32_t kLoopbackMask = 0xFF000000;
} // namespace

DatagramFlood::DatagramFlood(std::uint32_t address, std::uint16_t port, int senders, std::string payload)
    : m_payload(payload.empty() ? std::string(640, '\0') : std::move(payload))
{
    // Only ever to this machine: anything outside 127.0.0.0/8 is refused.
    if ((address & kLoopbackMask) != kLoopbackNet)
        return;
    for (int i = 0; i < senders; ++i)
        m_threads.emplace_back([this, address, port] { run(address, port); });
}

DatagramFlood::~DatagramFlood()
{
    stop();
}

std::uint64_t DatagramFlood::stop()
{
    m_stop = true;
    for (std::thread& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
    return m_sent.load();
}

void DatagramFlood::run(std::uint32_t address, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMaxMs);
    std::uint64_t tries = 0;
    while (!m_stop && m_sent < kMaxDatagrams) {
        if (::sendto(fd, m_payload.data(), m_payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0)
            ++m_sent;
        if ((++tries & 0x3FF) == 0 && std::chrono::steady_clock::now() >= end)
            break;
    }
    ::close(fd);
}
} // namespace simtest
