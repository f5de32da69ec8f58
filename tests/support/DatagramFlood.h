#pragma once

// A bounded flood of junk datagrams on loopback, sent from a thread of its own while the test's event
// loop runs: for proving that a flood does not keep a wait's timer from ticking.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace simtest {
class DatagramFlood final
{
public:
    /** Most datagrams and longest time one flood sends, whatever the test does. */
    static constexpr std::uint64_t kMaxDatagrams = 3'000'000;
    static constexpr int kMaxMs = 8000;

    /** Starts sending `payload` (empty: 640 junk bytes, no frame) to `address`:`port` (host order, a
     *  loopback address) from `senders` threads as fast as the system takes them, until stop(),
     *  kMaxDatagrams in all or kMaxMs. */
    DatagramFlood(std::uint32_t address, std::uint16_t port, int senders = 2, std::string payload = {});
    ~DatagramFlood();
    DatagramFlood(const DatagramFlood&) = delete;
    DatagramFlood& operator=(const DatagramFlood&) = delete;

    /** Ends the flood and waits for its thread; returns the datagrams sent. */
    std::uint64_t stop();
    std::uint64_t sent() const { return m_sent.load(); }

private:
    void run(std::uint32_t address, std::uint16_t port);

    std::string m_payload;

    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_sent{0};
    std::vector<std::thread> m_threads;
};
} // namespace simtest
