// Each request of the endpoint is answered by its own replies only: a device that echoes the request's
// random header words (the simulator does) marks a reply that arrives late, during a later request, as
// the earlier request's, and such a reply never answers the request in progress. Datagrams are handed to
// the endpoint directly, as its socket would; no socket is opened and nothing is sent.

#include "net/CNetEnv.h"

#include <QSignalSpy>
#include <QTest>

namespace {
constexpr std::uint32_t kDeviceAddress = 0x7F000009; // 127.0.0.9

EnvRecord deviceRecord()
{
    EnvRecord r = EnvRecord::defaultRecord();
    r.setMac({0x02, 0x7e, 0x55, 0x00, 0x00, 0x09});
    r.setIpAddress(kDeviceAddress);
    return r;
}

/** The random header words of a frame as sent: random 1 then random 2, little-endian. */
std::pair<std::uint32_t, std::uint32_t> words(const frame::Frame& f)
{
    return {frame::readLe32(f.data() + frame::kOffRandom1), frame::readLe32(f.data() + frame::kOffRandom2)};
}

/** A device's unicast reply to `command`, carrying `echoed` as its header words. */
QByteArray reply(std::uint8_t command, std::uint8_t result, std::pair<std::uint32_t, std::uint32_t> echoed,
                 const std::string& comment)
{
    EnvRecord record = deviceRecord();
    record.setComment(comment);
    frame::Frame f{};
    frame::writeBe32(f.data(), frame::kMagic);
    f[frame::kOffFormat] = frame::kFormat;
    f[frame::kOffFlags] = frame::kFlagReply | frame::kFlagScrambled | frame::kFlagUnicast;
    f[frame::kOffCommand] = command;
    f[frame::kOffResult] = result;
    std::copy_n(record.data(), 6, f.begin() + frame::kOffMac);
    frame::writeLe32(f.data() + frame::kOffRandom1, echoed.first);
    frame::writeLe32(f.data() + frame::kOffRandom2, echoed.second);
    std::copy(record.raw().begin(), record.raw().end(), f.begin() + frame::kOffBody);
    frame::Seal(f);
    return QByteArray(reinterpret_cast<const char*>(f.data()), frame::kFrameSize);
}

/** Sends a unicast request as an owner does (no socket is open: it is only completed). */
void request(CNetEnv& env, std::uint8_t command)
{
    env.requestFrame().fill(0);
    env.setCommand(command);
    env.SendUnicast(kDeviceAddress);
}
} // namespace

class tst_CNetEnvExchange : public QObject
{
    Q_OBJECT

private slots:
    void lateReplyToAnEarlierRequestNeverAnswersTheCurrentOne_data()
    {
        QTest::addColumn<int>("earlier"); // the command of the request the late reply belongs to
        QTest::addColumn<int>("current"); // the command in progress when it arrives
        QTest::addColumn<int>("requestsBack");
        QTest::newRow("a read's late copy during the write after it") << int(frame::kRead) << int(frame::kWrite) << 1;
        QTest::newRow("one write's late copy during the next write") << int(frame::kWrite) << int(frame::kWrite) << 1;
        QTest::newRow("a write's late reply during a password change")
            << int(frame::kWrite) << int(frame::kChangePassword) << 1;
        QTest::newRow("a password change's late reply during a status request")
            << int(frame::kChangePassword) << int(frame::kStatus) << 1;
        QTest::newRow("a reply to the request three back") << int(frame::kRead) << int(frame::kWrite) << 3;
        QTest::newRow("a reply to the oldest request remembered")
            << int(frame::kRead) << int(frame::kWrite) << CNetEnv::kEarlierRequests;
    }

    void lateReplyToAnEarlierRequestNeverAnswersTheCurrentOne()
    {
        QFETCH(int, earlier);
        QFETCH(int, current);
        QFETCH(int, requestsBack);
        CNetEnv env;
        request(env, static_cast<std::uint8_t>(earlier));
        const auto earlierWords = words(env.requestFrame());
        env.receiveDatagram(reply(earlier, frame::kResultOk, earlierWords, "earlier answer"), kDeviceAddress);
        QCOMPARE(env.answered(), 1);
        for (int i = 0; i < requestsBack; ++i)
            request(env, static_cast<std::uint8_t>(current));
        QCOMPARE(env.answered(), 0); // a new request is answered afresh
        const frame::Frame replyBefore = env.replyFrame();
        const EnvRecord recordBefore = env.record(0);
        QSignalSpy accepted(&env, &CNetEnv::replyAccepted);

        // The late reply says "accepted" (result 0) where the current request would be refused.
        env.receiveDatagram(reply(earlier, frame::kResultOk, earlierWords, "late"), kDeviceAddress);
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(env.answered(), 0);
        QVERIFY(env.replyFrame() == replyBefore);
        QVERIFY(env.record(0) == recordBefore);

        // The current request's own answer is taken.
        env.receiveDatagram(reply(current, frame::kResultWrongPassword, words(env.requestFrame()), "own"),
                            kDeviceAddress);
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(env.answered(), 1);
        QCOMPARE(env.replyResult(), std::uint8_t(frame::kResultWrongPassword));
        QCOMPARE(env.replyRecord().comment(), std::string("own"));
    }

    void deviceThatDoesNotEchoTheWordsIsStillAnswered()
    {
        CNetEnv env;
        request(env, frame::kRead);
        request(env, frame::kWrite);
        env.receiveDatagram(reply(frame::kWrite, frame::kResultOk, {0, 0}, "no echo"), kDeviceAddress);
        QCOMPARE(env.answered(), 1);
        QCOMPARE(env.replyRecord().comment(), std::string("no echo"));
    }

    void everyRequestCarriesWordsNoRememberedRequestCarries()
    {
        // Words drawn again for a request would make its own answer look late (and an earlier request's
        // late reply look like its answer).
        CNetEnv env;
        QList<std::pair<std::uint32_t, std::uint32_t>> sent;
        for (int i = 0; i < 200; ++i) {
            request(env, frame::kRead);
            const auto w = words(env.requestFrame());
            QVERIFY(w.first <= 32767 && w.second <= 32767);
            QVERIFY2(!sent.mid(std::max<qsizetype>(0, sent.size() - CNetEnv::kEarlierRequests)).contains(w),
                     "a request carries the words of one still remembered");
            sent << w;
        }
    }

    void resetForgetsEverythingButKeepsTheTableUnread()
    {
        CNetEnv env;
        env.setLimit(2);
        request(env, frame::kRead);
        const auto firstWords = words(env.requestFrame());
        env.receiveDatagram(reply(frame::kRead, frame::kResultOk, firstWords, "first"), kDeviceAddress);
        QCOMPARE(env.count(), 1);
        env.reset();
        QCOMPARE(env.count(), 0);
        QCOMPARE(env.limit(), CNetEnv::kTableSize);
        QCOMPARE(env.answered(), 0);
        QCOMPARE(env.command(), 0);
        QCOMPARE(env.targetAddress(), 0u);
        QVERIFY(!env.isOpen());
        QVERIFY(env.requestFrame() == frame::Frame{});
        QVERIFY(env.replyFrame() == frame::Frame{});
        QVERIFY((env.statusData() == std::array<std::uint8_t, frame::kStatusDataSize>{}));
        // No request is remembered: a reply with the first request's words answers the next one.
        request(env, frame::kRead);
        env.receiveDatagram(reply(frame::kRead, frame::kResultOk, firstWords, "after reset"), kDeviceAddress);
        QCOMPARE(env.answered(), 1);
        QCOMPARE(env.replyRecord().comment(), std::string("after reset"));
    }
};

QTEST_GUILESS_MAIN(tst_CNetEnvExchange)
#include "tst_cnetenvexchange.moc"
