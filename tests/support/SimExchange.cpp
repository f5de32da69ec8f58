#include "SimExchange.h"

#include "TesselSim.h"

#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>

namespace simtest {
namespace {
bool send(CNetEnv& env, const Request& r)
{
    const bool opened = r.unicastAddress ? env.OpenRemote(r.unicastAddress) : env.OpenLocal(0);
    if (!opened)
        return false;
    env.requestFrame().fill(0);
    std::copy_n(r.record.data(), frame::kRecordSize, env.requestBody());
    std::copy(r.extension.begin(), r.extension.end(), env.requestBody() + frame::kBodyOffNewPassword);
    env.setCommand(r.command);
    if (r.command == frame::kSearch) {
        env.setCount(0);
        env.setLimit(CNetEnv::kTableSize);
    }
    if (r.unicastAddress)
        env.SendUnicast(r.unicastAddress);
    else
        env.SendBroadcast();
    return true;
}
} // namespace

NetworkProfile loopbackProfile(std::uint16_t devicePort)
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = devicePort;
    return profile;
}

Request request(int command, const EnvRecord& record, std::uint32_t unicastAddress)
{
    Request r;
    r.command = command;
    r.record = record;
    r.unicastAddress = unicastAddress;
    return r;
}

std::array<std::uint8_t, 8> hashedPassword(const QByteArray& typed)
{
    std::array<std::uint8_t, 8> field{};
    std::copy_n(typed.constData(), std::min<qsizetype>(typed.size(), 8), field.begin());
    if (IsPasswordSet(field.data()))
        HashPassword(field.data());
    return field;
}

void setHashedPassword(EnvRecord& record, const QByteArray& typed)
{
    std::fill_n(record.passwordField(), EnvRecord::kPasswordFieldSize, std::uint8_t{0});
    const std::array<std::uint8_t, 8> field = hashedPassword(typed);
    std::copy(field.begin(), field.end(), record.passwordField());
}

int exchange(CNetEnv& env, const Request& r, int replies, int timeoutMs)
{
    QSignalSpy accepted(&env, &CNetEnv::replyAccepted);
    if (!send(env, r))
        return 0;
    static_cast<void>(QTest::qWaitFor([&] { return accepted.count() >= replies; }, timeoutMs));
    env.Close();
    return static_cast<int>(accepted.count());
}

int search(CNetEnv& env, int devices, int timeoutMs)
{
    if (!send(env, Request{}))
        return 0;
    static_cast<void>(QTest::qWaitFor([&] { return env.count() >= devices; }, timeoutMs));
    env.Close();
    return env.count();
}

int exchangeHandled(CNetEnv& env, TesselSim& sim, const Request& r, int copies, int timeoutMs)
{
    QSignalSpy accepted(&env, &CNetEnv::replyAccepted);
    QSignalSpy handled(&sim, &TesselSim::requestHandled);
    if (!send(env, r))
        return 0;
    static_cast<void>(QTest::qWaitFor([&] { return handled.count() >= copies; }, timeoutMs));
    // Replies to the copies are on the endpoint's socket by now (loopback sends are synchronous).
    env.OnReceive();
    env.Close();
    return static_cast<int>(accepted.count());
}

bool drain(TesselSim& sim, int timeoutMs)
{
    const NetworkProfile& profile = sim.profile();
    QList<std::uint32_t> addresses;
    for (int i = 0; i < sim.deviceCount(); ++i) {
        const SimDevice& device = sim.device(i);
        addresses << (device.address ? device.address : device.record.ipAddress());
    }
    addresses << profile.broadcastAddress;
    QSignalSpy rejected(&sim, &TesselSim::datagramRejected);
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return false;
    int sent = 0;
    for (const std::uint32_t address : std::as_const(addresses)) {
        // Only to this machine's loopback addresses, whatever profile the simulator runs.
        if (address >> 24 != 127)
            continue;
        if (socket.writeDatagram(QByteArray("not a frame"), QHostAddress(address), profile.devicePort) > 0)
            ++sent;
    }
    return QTest::qWaitFor([&] { return rejected.count() >= sent; }, timeoutMs);
}
} // namespace simtest
