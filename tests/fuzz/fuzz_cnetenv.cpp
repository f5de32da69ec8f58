// The endpoint's merge of replies into its device table. One request (a command, broadcast or unicast,
// a limit), then a run of datagrams: arbitrary bytes, or sealed replies whose header MAC, flags, record
// identity, addresses and status bytes are fuzzed from small pools, so that they pass the checks and the
// merge rules meet repeats, strays and other devices' answers.

#include "FuzzCheck.h"
#include "net/CNetEnv.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <vector>

using namespace frame;

namespace {
constexpr std::array<std::array<std::uint8_t, 6>, 4> kMacs = {{{0x02, 0x7e, 0x55, 0, 0, 1},
                                                               {0x02, 0x7e, 0x55, 0, 0, 2},
                                                               {0x02, 0x7e, 0x55, 0, 0, 3},
                                                               {0x00, 0x00, 0x00, 0, 0, 0}}};
constexpr std::array<std::uint32_t, 4> kAddresses = {0x0A010001, 0x0A010002, 0x7F000002, 0};

std::array<std::uint8_t, 6> mac(FuzzedDataProvider& in)
{
    const auto i = in.ConsumeIntegralInRange<std::size_t>(0, kMacs.size());
    if (i < kMacs.size())
        return kMacs[i];
    std::array<std::uint8_t, 6> m{};
    for (auto& b : m)
        b = in.ConsumeIntegral<std::uint8_t>();
    return m;
}

std::uint32_t address(FuzzedDataProvider& in)
{
    const auto i = in.ConsumeIntegralInRange<std::size_t>(0, kAddresses.size());
    return i < kAddresses.size() ? kAddresses[i] : in.ConsumeIntegral<std::uint32_t>();
}

/** A reply that passes the checks: fuzzed header fields and record, sealed, then the status bytes. */
QByteArray sealedReply(FuzzedDataProvider& in, std::uint8_t command)
{
    Frame f{};
    writeBe32(f.data() + kOffMagic, kMagic);
    f[kOffFormat] = kFormat | in.ConsumeIntegral<std::uint8_t>();
    f[kOffFlags] = kFlagReply | (in.ConsumeBool() ? kFlagScrambled : 0) | (in.ConsumeBool() ? kFlagUnicast : 0);
    f[kOffCommand] = in.ConsumeBool() ? command : in.ConsumeIntegral<std::uint8_t>();
    f[kOffResult] = in.ConsumeIntegralInRange<std::uint8_t>(0, 3);
    const auto headerMac = mac(in);
    std::copy(headerMac.begin(), headerMac.end(), f.begin() + kOffMac);
    EnvRecord record;
    record.setMac(in.ConsumeBool() ? headerMac : mac(in));
    record.setIpAddress(address(in));
    record.setMultiIp(in.ConsumeBool());
    for (int p = 0; p < EnvRecord::kPortCount && in.ConsumeBool(); ++p) {
        EnvPortBlock block = record.port(p);
        block.setLocalIp(address(in));
        record.setPort(p, block);
    }
    const std::vector<std::uint8_t> rest = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 32));
    std::copy(rest.begin(), rest.end(), record.data() + 100);
    std::copy(record.data(), record.data() + EnvRecord::kSize, f.begin() + kOffBody);
    Seal(f);
    QByteArray datagram(reinterpret_cast<const char*>(f.data()), kFrameSize);
    datagram += fuzz::bytes(in, kMaxDatagram - kFrameSize);
    return datagram;
}

std::array<std::uint8_t, 6> headerMac(const Frame& f)
{
    std::array<std::uint8_t, 6> m{};
    std::copy_n(f.begin() + kOffMac, 6, m.begin());
    return m;
}

QString describe(const QByteArray& datagram)
{
    return QString::fromLatin1(datagram.left(64).toHex()) + QStringLiteral("… (%1 bytes)").arg(datagram.size());
}

class Run
{
public:
    explicit Run(FuzzedDataProvider& in) : m_in(in)
    {
        static const std::uint8_t kCommands[] = {kSearch, kRead, kWrite, kChangePassword, kStatus};
        m_command = in.PickValueInArray(kCommands);
        m_env.setCommand(m_command);
        m_env.setLimit(in.ConsumeBool() ? CNetEnv::kTableSize : in.ConsumeIntegralInRange(-1, 300));
        const auto target = mac(in);
        std::copy(target.begin(), target.end(), m_env.requestBody());
        m_unicast = in.ConsumeBool();
        // No socket is open: completing the request sends nothing.
        if (m_unicast)
            m_env.SendUnicast(address(in));
        else
            m_env.SendBroadcast();
        QObject::connect(&m_env, &CNetEnv::replyAccepted, &m_env, [this](int index) { m_signals.push_back(index); });
    }

    void datagram()
    {
        const QByteArray d = m_in.ConsumeBool() ? sealedReply(m_in, m_command) : fuzz::bytes(m_in, kMaxDatagram);
        const std::uint32_t sender = address(m_in);
        const int countBefore = m_env.count();
        const std::vector<EnvRecord> before = table(countBefore + 1);
        const Frame replyBefore = m_env.replyFrame();
        const auto statusBefore = m_env.statusData();
        const int answeredBefore = m_env.answered();
        m_signals.clear();

        Frame candidate{};
        bool accepted = d.size() >= static_cast<qsizetype>(kFrameSize) && countBefore < m_env.limit();
        if (accepted) {
            std::memcpy(candidate.data(), d.constData(), kFrameSize);
            accepted = AcceptReply(candidate);
        }
        m_env.receiveDatagram(d, sender);

        FUZZ_CHECK(m_env.count() >= 0 && m_env.count() <= m_env.limit() || m_env.count() == countBefore, describe(d));
        FUZZ_CHECK(m_env.limit() >= 0 && m_env.limit() <= CNetEnv::kTableSize, describe(d));
        FUZZ_CHECK(m_env.answered() >= answeredBefore, describe(d));
        if (!accepted) {
            // A datagram that fails the checks (or comes when the table is full) changes nothing at all.
            FUZZ_CHECK(m_signals.empty(), describe(d));
            FUZZ_CHECK(m_env.count() == countBefore && table(countBefore + 1) == before, describe(d));
            FUZZ_CHECK(m_env.replyFrame() == replyBefore && m_env.statusData() == statusBefore, describe(d));
            FUZZ_CHECK(m_env.answered() == answeredBefore, describe(d));
            return;
        }
        FUZZ_CHECK(m_signals.size() == 1, describe(d));
        const int index = m_signals.front();
        FUZZ_CHECK(index >= -1 && index < m_env.count(), describe(d));
        const EnvRecord received(candidate.data() + kOffBody);
        const bool unicastReply = candidate[kOffFlags] & kFlagUnicast;
        if (index >= 0) {
            EnvRecord expected = received;
            if (m_command != kSearch && unicastReply && m_unicast)
                expected.setSourceAddress(sender);
            FUZZ_CHECK(m_env.record(index) == expected, describe(d));
            // The reply frame is the answer taken; a read may list another device answering after it (a
            // directed broadcast reaches several), but the answer read stays the first.
            const bool strayRead = m_command == kRead && m_answerMac && headerMac(candidate) != *m_answerMac;
            if (m_command != kSearch)
                FUZZ_CHECK(strayRead ? m_env.replyFrame() == replyBefore : m_env.replyFrame() == candidate,
                           describe(d));
            if (m_command == kStatus) {
                std::array<std::uint8_t, kStatusDataSize> status{};
                const auto extra = std::min<qsizetype>(d.size() - qsizetype{kFrameSize}, qsizetype{kMaxStatusItems});
                std::memcpy(status.data(), d.constData() + kFrameSize, static_cast<std::size_t>(extra));
                FUZZ_CHECK(m_env.statusData() == status, describe(d));
            }
        }
        checkAnswerKeepsItsDevice(d);
        if (m_command == kSearch)
            checkDistinctMacs(d);
    }

    void finish()
    {
        const int n = m_env.count();
        std::vector<EnvRecord> before = table(n);
        m_env.sortByMac();
        std::vector<EnvRecord> after = table(n);
        const auto byMac = [](const EnvRecord& a, const EnvRecord& b) {
            return std::lexicographical_compare(a.data(), a.data() + 6, b.data(), b.data() + 6);
        };
        FUZZ_CHECK(std::is_sorted(after.begin(), after.end(), byMac), QStringLiteral("sortByMac"));
        const auto whole = [](const EnvRecord& a, const EnvRecord& b) { return a.raw() < b.raw(); };
        std::sort(before.begin(), before.end(), whole);
        std::sort(after.begin(), after.end(), whole);
        FUZZ_CHECK(before == after, QStringLiteral("sortByMac lost or changed a record"));
    }

private:
    std::vector<EnvRecord> table(int n) const
    {
        std::vector<EnvRecord> t;
        for (int i = 0; i < std::min(n, CNetEnv::kTableSize); ++i)
            t.push_back(m_env.record(i));
        return t;
    }

    /** The answer to a request other than a search stays the first device's: its header MAC never changes,
     *  and a broadcast request's answer carries the MAC it addressed. */
    void checkAnswerKeepsItsDevice(const QByteArray& d)
    {
        if (m_command == kSearch || m_env.replyFrame() == Frame{})
            return;
        const auto now = headerMac(m_env.replyFrame());
        if (!m_answerMac)
            m_answerMac = now;
        FUZZ_CHECK(now == *m_answerMac, describe(d));
        if (!m_unicast)
            FUZZ_CHECK(now == headerMac(m_env.requestFrame()), describe(d));
    }

    void checkDistinctMacs(const QByteArray& d)
    {
        std::set<std::array<std::uint8_t, 6>> macs;
        for (int i = 0; i < m_env.count(); ++i)
            macs.insert(m_env.record(i).mac());
        FUZZ_CHECK(static_cast<int>(macs.size()) == m_env.count(), describe(d));
    }

    FuzzedDataProvider& m_in;
    CNetEnv m_env{NetworkProfile::loopbackProfile()};
    std::uint8_t m_command = 0;
    bool m_unicast = false;
    std::vector<int> m_signals;
    std::optional<std::array<std::uint8_t, 6>> m_answerMac;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    Run run(in);
    for (int i = 0; i < 24 && in.remaining_bytes() > 0; ++i)
        run.datagram();
    run.finish();
    return 0;
}
