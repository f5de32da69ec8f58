// The endpoint's merge of replies into its device table. A few requests one after another on one
// endpoint (a command, broadcast or unicast, a limit; the table kept or restarted as owners do), each
// followed by a run of datagrams: arbitrary bytes, or sealed replies whose header MAC, flags, random
// words, record identity, addresses and status bytes are fuzzed from small pools, so that they pass the
// checks and the merge rules meet repeats, strays, other devices' answers and late replies to an earlier
// request (its random words echoed, arriving during a later one). One endpoint serves the whole run and
// is reset before each input, as a fresh one would be.
//
// Kept fast: a sealed reply's descrambled form is the plain frame the harness built, so it is not
// accepted a second time beside the endpoint; and the table is checked against a copy of its own that
// follows the one row each accepted datagram changes, never copied whole per datagram.

#include "FuzzCheck.h"
#include "net/CNetEnv.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <vector>

using namespace frame;

namespace {
constexpr int kMaxDatagrams = 24;
constexpr int kMaxRequests = 4; // within what the endpoint remembers (CNetEnv::kEarlierRequests)
static_assert(kMaxRequests <= CNetEnv::kEarlierRequests + 1);

constexpr std::array<std::array<std::uint8_t, 6>, 4> kMacs = {{{0x02, 0x7e, 0x55, 0, 0, 1},
                                                               {0x02, 0x7e, 0x55, 0, 0, 2},
                                                               {0x02, 0x7e, 0x55, 0, 0, 3},
                                                               {0x00, 0x00, 0x00, 0, 0, 0}}};
constexpr std::array<std::uint32_t, 4> kAddresses = {0x0A010001, 0x0A010002, 0x7F000002, 0};

using Words = std::array<std::uint8_t, 8>; // the two random header words, as they lie in the frame

/** One request sent: what a reply to it would carry. */
struct Request
{
    std::uint8_t command;
    bool unicast;
    Words words;
};

/** The endpoint of the whole run and the replyAccepted signals of the datagram being merged; with the
 *  harness's own copy of the table rows an input can reach, and room for the table's rows at the end.
 *  They live as long as the run, so an input allocates none of them anew. */
struct Endpoint
{
    Endpoint()
    {
        QObject::connect(&env, &CNetEnv::replyAccepted, &env, [this](int index) { accepted.push_back(index); });
        shadow.resize(kMaxDatagrams + 1);
        before.reserve(kMaxDatagrams + 1);
        requests.reserve(kMaxRequests);
        after.reserve(kMaxDatagrams + 1);
    }
    CNetEnv env{NetworkProfile::loopbackProfile()};
    std::vector<int> accepted;
    std::vector<EnvRecord> shadow;
    int reached = kMaxDatagrams + 1; // the rows the last input may have written
    std::vector<EnvRecord> before;
    std::vector<EnvRecord> after;
    std::array<char, kMaxDatagram> datagram{}; // the bytes of the datagram being merged
    std::vector<Request> requests;
};

Endpoint& endpoint()
{
    static Endpoint e;
    return e;
}

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

Words wordsOf(const Frame& f)
{
    Words w{};
    std::copy_n(f.begin() + kOffRandom1, w.size(), w.begin());
    return w;
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
    explicit Run(FuzzedDataProvider& in)
        : m_in(in), m_env(endpoint().env), m_requests(endpoint().requests), m_signals(endpoint().accepted),
          m_shadow(endpoint().shadow), m_reached(endpoint().reached)
    {
        m_env.reset();
        m_requests.clear();
        // A fresh table is zero; the records the last input could reach are made so again.
        for (int i = 0; i < m_reached; ++i)
            m_env.record(i) = m_shadow[static_cast<std::size_t>(i)] = EnvRecord();
        m_reached = 1;
    }

    void request()
    {
        static const std::uint8_t kCommands[] = {kSearch, kRead, kWrite, kChangePassword, kStatus};
        m_command = m_in.PickValueInArray(kCommands);
        m_env.requestFrame().fill(0);
        m_env.setCommand(m_command);
        m_env.setLimit(m_in.ConsumeBool() ? CNetEnv::kTableSize : m_in.ConsumeIntegralInRange(-1, 300));
        // Every owner restarts its table for a search; for other requests some keep it (the editor's
        // table lives as long as the editor).
        if (m_command == kSearch || m_in.ConsumeBool())
            m_env.setCount(0);
        const auto target = mac(m_in);
        std::copy(target.begin(), target.end(), m_env.requestBody());
        m_unicast = m_in.ConsumeBool();
        // No socket is open: completing the request sends nothing.
        if (m_unicast)
            m_env.SendUnicast(address(m_in));
        else
            m_env.SendBroadcast();
        const Words words = wordsOf(m_env.requestFrame());
        for (const Request& earlier : m_requests)
            FUZZ_CHECK(earlier.words != words, QStringLiteral("a request carries an earlier request's words"));
        FUZZ_CHECK(m_env.answered() == 0, QStringLiteral("a new request starts answered"));
        m_requests.push_back({m_command, m_unicast, words});
        m_answerMac.reset();
    }

    void datagram()
    {
        // A sealed reply passes every check by construction, and its accepted form is the plain frame it
        // was built from; other bytes are checked here as the endpoint checks them.
        Frame candidate;
        const bool sealed = m_in.ConsumeBool();
        const QByteArray d = sealed ? sealedReply(candidate) : rawBytes(0);
        const std::uint32_t sender = address(m_in);
        const int countBefore = m_env.count();
        m_reached = std::max(m_reached, std::min(countBefore + 2, kMaxDatagrams + 1));
        const Frame replyBefore = m_env.replyFrame();
        const auto statusBefore = m_env.statusData();
        const int answeredBefore = m_env.answered();
        m_signals.clear();

        bool accepted = d.size() >= static_cast<qsizetype>(kFrameSize) && countBefore < m_env.limit();
        if (accepted && !sealed) {
            std::memcpy(candidate.data(), d.constData(), kFrameSize);
            accepted = AcceptReply(candidate);
        }
        accepted = accepted && !isLateReply(candidate);
        m_env.receiveDatagram(d, sender);

        FUZZ_CHECK(m_env.count() >= 0 && m_env.count() <= m_env.limit() || m_env.count() == countBefore, describe(d));
        FUZZ_CHECK(m_env.limit() >= 0 && m_env.limit() <= CNetEnv::kTableSize, describe(d));
        FUZZ_CHECK(m_env.answered() >= answeredBefore, describe(d));
        if (!accepted) {
            // A datagram that fails the checks, comes when the table is full, or answers an earlier
            // request, changes nothing at all.
            FUZZ_CHECK(m_signals.empty(), describe(d));
            FUZZ_CHECK(m_env.count() == countBefore && tableUnchanged(-1), describe(d));
            FUZZ_CHECK(m_env.replyFrame() == replyBefore && m_env.statusData() == statusBefore, describe(d));
            FUZZ_CHECK(m_env.answered() == answeredBefore, describe(d));
            return;
        }
        checkTaken(d, candidate, sender, replyBefore);
        FUZZ_CHECK(m_signals.size() == 1 && tableUnchanged(m_signals.front()), describe(d));
        if (m_signals.front() >= 0)
            m_shadow[static_cast<std::size_t>(m_signals.front())] = m_env.record(m_signals.front());
        checkAnswerKeepsItsDevice(d);
        if (m_command == kSearch)
            checkDistinctMacs(d);
    }

    void finish()
    {
        const int n = m_env.count();
        std::vector<EnvRecord>& before = table(n, endpoint().before);
        m_env.sortByMac();
        std::vector<EnvRecord>& after = table(n, endpoint().after);
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
    /** A reply that passes the checks: fuzzed header fields and record, sealed, then the status bytes.
     *  Its random words echo the request in progress, an earlier one (a late reply), or none (a device
     *  that does not echo them). */
    QByteArray sealedReply(Frame& plain)
    {
        Frame f{};
        writeBe32(f.data() + kOffMagic, kMagic);
        f[kOffFormat] = kFormat | m_in.ConsumeIntegral<std::uint8_t>();
        const Request& about = m_requests.at(m_in.ConsumeIntegralInRange<std::size_t>(0, m_requests.size() - 1));
        const bool unicast = m_in.ConsumeBool() ? about.unicast : m_in.ConsumeBool();
        f[kOffFlags] = kFlagReply | (m_in.ConsumeBool() ? kFlagScrambled : 0) | (unicast ? kFlagUnicast : 0);
        f[kOffCommand] = m_in.ConsumeBool() ? about.command : m_in.ConsumeIntegral<std::uint8_t>();
        f[kOffResult] = m_in.ConsumeIntegralInRange<std::uint8_t>(0, 3);
        switch (m_in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            std::copy(about.words.begin(), about.words.end(), f.begin() + kOffRandom1);
            break;
        case 1:
            break; // no echo: zeros
        default:
            for (std::size_t i = 0; i < 8; ++i)
                f[kOffRandom1 + i] = m_in.ConsumeIntegral<std::uint8_t>();
        }
        const auto replyMac = mac(m_in);
        std::copy(replyMac.begin(), replyMac.end(), f.begin() + kOffMac);
        EnvRecord record;
        record.setMac(m_in.ConsumeBool() ? replyMac : mac(m_in));
        record.setIpAddress(address(m_in));
        record.setMultiIp(m_in.ConsumeBool());
        for (int p = 0; p < EnvRecord::kPortCount && m_in.ConsumeBool(); ++p) {
            EnvPortBlock block = record.port(p);
            block.setLocalIp(address(m_in));
            record.setPort(p, block);
        }
        m_in.ConsumeData(record.data() + 100, m_in.ConsumeIntegralInRange(0, 32));
        std::copy(record.data(), record.data() + EnvRecord::kSize, f.begin() + kOffBody);
        std::array<std::uint8_t, kBodySize> body;
        std::copy_n(f.begin() + kOffBody, kBodySize, body.begin());
        Seal(f);
        // The frame as the endpoint accepts it: the sealed header, the body descrambled.
        plain = f;
        std::copy(body.begin(), body.end(), plain.begin() + kOffBody);
        std::memcpy(endpoint().datagram.data(), f.data(), kFrameSize);
        return rawBytes(kFrameSize);
    }

    /** The datagram: its first `kept` bytes as they are, then up to the longest datagram of fuzz bytes. It
     *  lies in the endpoint's buffer, so no datagram allocates. */
    QByteArray rawBytes(std::size_t kept)
    {
        char* buffer = endpoint().datagram.data();
        const std::size_t more = m_in.ConsumeIntegralInRange<std::size_t>(0, kMaxDatagram - kept);
        const std::size_t taken = m_in.ConsumeData(buffer + kept, more);
        return QByteArray::fromRawData(buffer, static_cast<qsizetype>(kept + taken));
    }

    /** What the endpoint can tell by itself: a reply echoing an earlier request's words, not the
     *  current one's, answers that earlier request. */
    bool isLateReply(const Frame& reply) const
    {
        const Words words = wordsOf(reply);
        if (words == m_requests.back().words)
            return false;
        return std::any_of(m_requests.begin(), m_requests.end() - 1,
                           [&words](const Request& r) { return r.words == words; });
    }

    void checkTaken(const QByteArray& d, const Frame& candidate, std::uint32_t sender, const Frame& replyBefore)
    {
        FUZZ_CHECK(m_signals.size() == 1, describe(d));
        const int index = m_signals.front();
        FUZZ_CHECK(index >= -1 && index < m_env.count(), describe(d));
        if (index < 0)
            return;
        const EnvRecord received(candidate.data() + kOffBody);
        const bool unicastReply = candidate[kOffFlags] & kFlagUnicast;
        EnvRecord expected = received;
        if (m_command != kSearch && unicastReply && m_unicast)
            expected.setSourceAddress(sender);
        FUZZ_CHECK(m_env.record(index) == expected, describe(d));
        // The reply frame is the answer taken; a read may list another device answering after it (a
        // directed broadcast reaches several), but the answer read stays the first.
        const bool strayRead = m_command == kRead && m_answerMac && headerMac(candidate) != *m_answerMac;
        if (m_command != kSearch)
            FUZZ_CHECK(strayRead ? m_env.replyFrame() == replyBefore : m_env.replyFrame() == candidate, describe(d));
        if (m_command == kStatus) {
            std::array<std::uint8_t, kStatusDataSize> status{};
            const auto extra = std::min<qsizetype>(d.size() - qsizetype{kFrameSize}, qsizetype{kMaxStatusItems});
            std::memcpy(status.data(), d.constData() + kFrameSize, static_cast<std::size_t>(extra));
            FUZZ_CHECK(m_env.statusData() == status, describe(d));
        }
    }

    /** Every row the input has reached, and the one after them, is as the copy holds it, but row `except`
     *  (the one just taken). */
    bool tableUnchanged(int except) const
    {
        const int rows = std::min(std::max(m_reached, m_env.count() + 1), kMaxDatagrams + 1);
        for (int i = 0; i < rows; ++i) {
            if (i != except && !(m_env.record(i) == m_shadow[static_cast<std::size_t>(i)]))
                return false;
        }
        return true;
    }

    std::vector<EnvRecord>& table(int n, std::vector<EnvRecord>& t) const
    {
        t.clear();
        for (int i = 0; i < std::min(n, CNetEnv::kTableSize); ++i)
            t.push_back(m_env.record(i));
        return t;
    }

    /** The answer to a request other than a search stays the first device's: its header MAC never changes,
     *  and a broadcast request's answer carries the MAC it addressed. Until the request is answered, the
     *  reply frame may still hold the previous request's answer. */
    void checkAnswerKeepsItsDevice(const QByteArray& d)
    {
        if (m_command == kSearch || !m_env.answered())
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
    CNetEnv& m_env;
    std::vector<Request>& m_requests;
    std::uint8_t m_command = 0;
    bool m_unicast = false;
    std::vector<int>& m_signals;
    std::optional<std::array<std::uint8_t, 6>> m_answerMac;
    std::vector<EnvRecord>& m_shadow; // the rows an input can reach, as the accepted datagrams left them
    int& m_reached;                   // how many rows of the table this input may have written
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    Run run(in);
    int datagrams = 0;
    for (int r = 0; r < kMaxRequests && (r == 0 || in.remaining_bytes() > 0); ++r) {
        run.request();
        const int n = in.ConsumeIntegralInRange(1, kMaxDatagrams);
        for (int i = 0; i < n && datagrams < kMaxDatagrams && in.remaining_bytes() > 0; ++i, ++datagrams)
            run.datagram();
    }
    run.finish();
    // What the input made the endpoint hold (the interface each device was heard on) goes with it, so an
    // input frees all it allocates and libFuzzer never runs it again to look for a leak.
    endpoint().env.reset();
    return 0;
}
