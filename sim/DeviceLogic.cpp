#include "DeviceLogic.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {
constexpr std::uint32_t kCapabilityBits = EnvRecord::kFlagCommentSupported | EnvRecord::kFlagRemoteSearchSupported;
// Header byte of the MAC that a "foreign MAC" reply changes, and how.
constexpr std::size_t kForeignMacByte = 3;
constexpr std::uint8_t kForeignMacFlip = 0x80;

bool headerMacIs(const frame::Frame& request, const EnvRecord& record)
{
    return std::equal(request.begin() + frame::kOffMac, request.begin() + frame::kOffMac + 6, record.data());
}

EnvRecord bodyRecord(const frame::Frame& request)
{
    return EnvRecord(request.data() + frame::kOffBody);
}

// The result a write or password change reports, and whether the device acts on it.
struct Verdict
{
    std::uint8_t result;
    bool act;
};

Verdict judge(const SimDevice& device, const frame::Frame& request, const SimFaults& faults)
{
    const bool matches = passwordMatches(device, request.data() + frame::kOffBody + EnvRecord::kOffPassword);
    if (faults.forcedResult >= 0) {
        const auto forced = static_cast<std::uint8_t>(faults.forcedResult);
        return {forced, matches && (forced == frame::kResultOk || faults.storeDespiteResult)};
    }
    return {matches ? std::uint8_t{frame::kResultOk} : std::uint8_t{frame::kResultWrongPassword}, matches};
}

bool storeWrite(SimDevice& device, const frame::Frame& request)
{
    const EnvRecord stored = recordToStore(device.record, bodyRecord(request));
    const bool changed = !(stored == device.record);
    device.record = stored;
    return changed;
}

bool storePassword(SimDevice& device, const frame::Frame& request)
{
    std::uint8_t* field = device.record.passwordField();
    const std::uint8_t* wanted = request.data() + frame::kOffBody + frame::kBodyOffNewPassword;
    const bool changed = !std::equal(wanted, wanted + frame::kPasswordSize, field);
    std::fill_n(field, EnvRecord::kPasswordFieldSize, std::uint8_t{0});
    std::copy_n(wanted, frame::kPasswordSize, field);
    return changed;
}
} // namespace

std::optional<frame::Frame> acceptDatagram(QByteArrayView datagram)
{
    if (datagram.size() != static_cast<qsizetype>(frame::kFrameSize))
        return std::nullopt;
    frame::Frame f;
    std::memcpy(f.data(), datagram.data(), frame::kFrameSize);
    if (!frame::AcceptRequest(f))
        return std::nullopt;
    return f;
}

bool isKnownCommand(const frame::Frame& request)
{
    const std::uint8_t command = request[frame::kOffCommand];
    return command >= frame::kSearch && command <= frame::kStatus;
}

bool isAddressed(const SimDevice& device, const frame::Frame& request, Arrival arrival)
{
    if (!isKnownCommand(request))
        return false;
    if (request[frame::kOffCommand] == frame::kSearch || arrival == Arrival::Unicast)
        return true;
    return headerMacIs(request, device.record);
}

bool passwordMatches(const SimDevice& device, const std::uint8_t* field8)
{
    const std::array<std::uint8_t, 8> stored = device.passwordHash();
    return std::equal(stored.begin(), stored.end(), field8);
}

EnvRecord recordToStore(const EnvRecord& current, const EnvRecord& written)
{
    EnvRecord stored = written;
    stored.setMac(current.mac());
    stored.setProductId(current.productId());
    stored.setProductInfo(current.productInfo());
    stored.setFlags((written.flags() & ~kCapabilityBits) | (current.flags() & kCapabilityBits));
    std::copy_n(current.passwordField(), EnvRecord::kPasswordFieldSize, stored.passwordField());
    // What the program wrote there is where an answer came from; the device keeps its own address.
    stored.setSourceAddress(stored.ipAddress());
    return stored;
}

Answer answerRequest(SimDevice& device, const frame::Frame& request, const SimFaults& faults)
{
    Answer answer;
    std::uint8_t result = frame::kResultOk;
    QByteArrayView trailer;
    switch (request[frame::kOffCommand]) {
    case frame::kWrite:
    case frame::kChangePassword: {
        const Verdict verdict = judge(device, request, faults);
        result = verdict.result;
        if (verdict.act) {
            answer.changed = request[frame::kOffCommand] == frame::kWrite ? storeWrite(device, request)
                                                                          : storePassword(device, request);
        }
        break;
    }
    case frame::kStatus:
        trailer = QByteArrayView(device.statusItems)
                      .first(std::min(device.statusItems.size(), static_cast<qsizetype>(frame::kMaxStatusItems)));
        break;
    default:
        break;
    }
    answer.reply = buildReply(request, device.record, result, trailer, faults);
    return answer;
}

QByteArray buildReply(const frame::Frame& request, const EnvRecord& record, std::uint8_t result, QByteArrayView trailer,
                      const SimFaults& faults)
{
    frame::Frame f{};
    frame::writeBe32(f.data() + frame::kOffMagic, frame::kMagic);
    f[frame::kOffFormat] = frame::kFormat;
    f[frame::kOffFlags] = static_cast<std::uint8_t>(frame::kFlagReply | frame::kFlagScrambled |
                                                    (request[frame::kOffFlags] & frame::kFlagUnicast));
    f[frame::kOffCommand] = request[frame::kOffCommand];
    f[frame::kOffResult] = result;
    std::copy_n(record.data(), 6, f.begin() + frame::kOffMac);
    if (faults.foreignMac)
        f[frame::kOffMac + kForeignMacByte] ^= kForeignMacFlip;
    // The random words of the request go back unchanged.
    std::copy_n(request.begin() + frame::kOffRandom1, 8, f.begin() + frame::kOffRandom1);
    std::copy_n(record.data(), frame::kRecordSize, f.begin() + frame::kOffBody);
    frame::Seal(f);
    if (faults.corruptHeaderSum)
        f[frame::kOffHeaderSum] ^= 0xFF;
    if (faults.corruptFcs)
        f[frame::kOffFcs] ^= 0xFF;

    QByteArray reply(reinterpret_cast<const char*>(f.data()), frame::kFrameSize);
    reply.append(trailer.data(), trailer.size());
    return reply;
}
} // namespace sim
