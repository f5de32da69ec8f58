// The simulated device's request handling. Arbitrary bytes: a datagram is taken exactly when it is one
// frame that passes a device's checks. Sealed requests with fuzzed fields (command, flags, target MAC,
// written record, password fields): the reply passes the program's checks, answers the request it was
// for (command, random words, unicast bit, the device's MAC), carries the device's record after acting,
// and a write or password change acts exactly when the password matches.

#include "DeviceLogic.h"
#include "FuzzCheck.h"

#include <cstring>

using namespace frame;

namespace {
QString hex(const Frame& f)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(f.data()), 64).toHex());
}

void arbitrary(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView datagram(data, static_cast<qsizetype>(size));
    const std::optional<Frame> request = sim::acceptDatagram(datagram);
    Frame f{};
    std::memcpy(f.data(), data, std::min(size, kFrameSize));
    FUZZ_CHECK(request.has_value() == (size == kFrameSize && AcceptRequest(f)), QString::number(size));
    if (request)
        FUZZ_CHECK(*request == f, hex(f));
}

void sealed(FuzzedDataProvider& in)
{
    SimDevice device = TesselSim::makeDevice(in.ConsumeIntegralInRange(0, 3), 0x0A010002);
    const QByteArray password = fuzz::bytes(in, 9);
    device.setPassword(password);
    if (in.ConsumeBool())
        device.statusItems = fuzz::bytes(in, 900);
    const SimDevice original = device;

    Frame request{};
    const std::vector<std::uint8_t> body = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
    std::copy(body.begin(), body.end(), request.begin() + kOffBody + 100);
    const EnvRecord mine = device.record;
    // The body's record: the device's own, or fuzz; its MAC the device's or another's.
    std::copy_n(in.ConsumeBool() ? mine.data() : request.data() + kOffBody, 6, request.begin() + kOffBody);
    if (in.ConsumeBool())
        request[kOffBody + 5] ^= in.ConsumeIntegral<std::uint8_t>();
    // The password field: the device's hash (what the program sends for the right password) or another.
    std::uint8_t* field = request.data() + kOffBody + EnvRecord::kOffPassword;
    const auto hash = original.passwordHash();
    if (in.ConsumeBool())
        std::copy(hash.begin(), hash.end(), field);
    else
        for (int i = 0; i < 8; ++i)
            field[i] = in.ConsumeIntegral<std::uint8_t>();
    for (int i = 0; i < 8; ++i)
        request[kOffBody + kBodyOffNewPassword + i] = in.ConsumeIntegral<std::uint8_t>();
    const bool matches = std::equal(hash.begin(), hash.end(), field);
    const auto command = in.ConsumeIntegralInRange<std::uint8_t>(0, 6);
    const bool unicast = in.ConsumeBool();
    const Frame plainBody = request;
    BuildRequest(request, unicast ? kFlagsUnicastRequest : kFlagsBroadcastRequest, command,
                 in.ConsumeIntegral<std::uint32_t>(), in.ConsumeIntegral<std::uint32_t>());
    const QByteArray datagram(reinterpret_cast<const char*>(request.data()), kFrameSize);
    const std::optional<Frame> accepted = sim::acceptDatagram(datagram);
    FUZZ_CHECK(accepted.has_value(), hex(request));
    FUZZ_CHECK(std::equal(accepted->begin() + kOffBody, accepted->begin() + kOffFcs, plainBody.begin() + kOffBody),
               hex(request));
    const bool addressed =
        sim::isAddressed(device, *accepted, unicast ? sim::Arrival::Unicast : sim::Arrival::Broadcast);
    FUZZ_CHECK(addressed == (command >= kSearch && command <= kStatus &&
                             (command == kSearch || unicast ||
                              std::equal(mine.data(), mine.data() + 6, request.begin() + kOffMac))),
               hex(request));
    if (!addressed)
        return;

    SimFaults faults;
    const sim::Answer answer = sim::answerRequest(device, *accepted, faults);
    Frame reply{};
    FUZZ_CHECK(answer.reply.size() >= static_cast<qsizetype>(kFrameSize), hex(request));
    std::memcpy(reply.data(), answer.reply.constData(), kFrameSize);
    FUZZ_CHECK(AcceptReply(reply), hex(request));
    FUZZ_CHECK(reply[kOffCommand] == command &&
                   reply[kOffFlags] == (kFlagReply | kFlagScrambled | (unicast ? kFlagUnicast : 0)),
               hex(request));
    FUZZ_CHECK(std::equal(reply.begin() + kOffRandom1, reply.begin() + kOffRandom1 + 8, request.begin() + kOffRandom1),
               hex(request));
    FUZZ_CHECK(std::equal(mine.data(), mine.data() + 6, reply.begin() + kOffMac), hex(request));
    FUZZ_CHECK(EnvRecord(reply.data() + kOffBody) == device.record, hex(request));

    const bool acting = command == kWrite || command == kChangePassword;
    if (acting)
        FUZZ_CHECK(reply[kOffResult] == (matches ? kResultOk : kResultWrongPassword), hex(request));
    else
        FUZZ_CHECK(reply[kOffResult] == kResultOk, hex(request));
    FUZZ_CHECK(answer.changed == !(device.record == original.record), hex(request));
    if (!acting || !matches) {
        FUZZ_CHECK(device.record == original.record, hex(request));
    } else if (command == kWrite) {
        const EnvRecord written(plainBody.data() + kOffBody);
        FUZZ_CHECK(device.record == sim::recordToStore(original.record, written), hex(request));
        // The device's identity, capabilities and password never come from a write.
        FUZZ_CHECK(device.record.mac() == original.record.mac() && device.passwordHash() == original.passwordHash() &&
                       device.record.productId() == original.record.productId() &&
                       device.record.commentSupported() == original.record.commentSupported(),
                   hex(request));
    } else {
        const auto now = device.passwordHash();
        FUZZ_CHECK(std::equal(now.begin(), now.end(), plainBody.begin() + kOffBody + kBodyOffNewPassword),
                   hex(request));
    }
    const QByteArray trailer = answer.reply.mid(kFrameSize);
    FUZZ_CHECK(trailer == (command == kStatus ? original.statusItems.left(kMaxStatusItems) : QByteArray()),
               hex(request));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1) {
        FuzzedDataProvider in(data + 1, size - 1);
        sealed(in);
    } else {
        arbitrary(data + 1, size - 1);
    }
    return 0;
}
