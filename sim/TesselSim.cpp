#include "TesselSim.h"

#include "SimEngine.h"
#include "StatusItems.h"
#include "protocol/Codec.h"

#include <algorithm>

namespace {
// Identity of every simulated device: a locally administered MAC prefix and a product of our own.
constexpr std::array<std::uint8_t, 3> kMacPrefix = {0x02, 0x7E, 0x55};
constexpr std::uint8_t kProductId = 0x41;   // product code 8, sub-code 1
constexpr std::uint8_t kProductInfo = 0x12; // identification numbers 1 and 2
constexpr std::uint32_t kMask24 = 0xFFFFFF00;

struct PortPreset
{
    std::uint8_t mode;
    std::uint32_t baudRate;
    std::uint16_t localPort;
    std::uint32_t peerIp;
    std::uint16_t peerPort;
};
// COM1 as a default record has it (AT commands at 19200), the others in the three other modes. Every
// port number is one the settings editor accepts (1..65534), as a device's factory settings are, so a
// record read from a simulated device can be written back unchanged.
constexpr std::array<PortPreset, EnvRecord::kPortCount> kPorts = {{
    {EnvPortBlock::kAtCommand, 19200, 4001, 0, 4001},
    {EnvPortBlock::kTcpServer, 9600, 4002, 0, 4002},
    {EnvPortBlock::kTcpClient, 115200, 4003, 0xC0A8000A, 5000}, // 192.168.0.10
    {EnvPortBlock::kUdp, 38400, 4004, 0xC0A8000A, 4004},
}};

EnvPortBlock presetPort(const EnvPortBlock& base, const PortPreset& preset)
{
    EnvPortBlock block = base;
    block.setDataBits(3); // 8 data bits, 1 stop bit, no parity, no flow control
    block.setMode(preset.mode);
    block.setBaudRate(preset.baudRate);
    block.setLocalPort(preset.localPort);
    block.setPeerIp(preset.peerIp);
    block.setPeerPort(preset.peerPort);
    block.setWaterMark(1);
    return block;
}
} // namespace

void SimDevice::setPassword(const QByteArray& typed)
{
    std::uint8_t field[frame::kPasswordSize] = {};
    std::copy_n(typed.constData(), std::min<qsizetype>(typed.size(), frame::kPasswordSize), field);
    if (IsPasswordSet(field))
        HashPassword(field);
    std::fill_n(record.passwordField(), EnvRecord::kPasswordFieldSize, std::uint8_t{0});
    std::copy_n(field, frame::kPasswordSize, record.passwordField());
}

std::array<std::uint8_t, 8> SimDevice::passwordHash() const
{
    std::array<std::uint8_t, 8> hash{};
    std::copy_n(record.passwordField(), hash.size(), hash.begin());
    return hash;
}

TesselSim::TesselSim(const NetworkProfile& profile, QObject* parent)
    : QObject(parent), m_engine(std::make_unique<SimEngine>(*this, profile))
{
}

TesselSim::~TesselSim() = default;

SimDevice TesselSim::makeDevice(int index, std::uint32_t address)
{
    const auto n = static_cast<std::uint32_t>(index + 1);
    SimDevice device;
    EnvRecord& r = device.record;
    r = EnvRecord::defaultRecord();
    r.setMac({kMacPrefix[0], kMacPrefix[1], kMacPrefix[2], static_cast<std::uint8_t>(n >> 16),
              static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    r.setProductId(kProductId);
    r.setProductInfo(kProductInfo);
    r.setCommentSupported(true);
    r.setRemoteSearchSupported(true);
    r.setRemoteSearch(true);
    r.setIpAddress(address);
    r.setSourceAddress(address); // a device reports its own address there
    r.setSubnetMask(kMask24);
    r.setGateway((address & kMask24) | 1);
    r.setComment("Tessel sim " + std::to_string(n));
    for (int p = 0; p < EnvRecord::kPortCount; ++p)
        r.setPort(p, presetPort(r.port(p), kPorts[static_cast<std::size_t>(p)]));
    device.address = address;
    device.statusItems = sim::defaultStatusItems(r, index);
    return device;
}

void TesselSim::addDevices(int count, std::uint32_t firstAddress)
{
    const int first = deviceCount();
    for (int i = 0; i < count; ++i)
        addDevice(makeDevice(first + i, firstAddress + static_cast<std::uint32_t>(i)));
}

void TesselSim::addDevice(const SimDevice& device)
{
    m_engine->addDevice(device);
}

bool TesselSim::start(QString* error)
{
    return m_engine->start(error);
}

void TesselSim::stop()
{
    m_engine->stop();
}

bool TesselSim::isRunning() const
{
    return m_engine->isRunning();
}

void TesselSim::restartDevice(int index)
{
    m_engine->restartDevice(index);
}

void TesselSim::setFaults(const SimFaults& faults)
{
    m_engine->setFaults(faults);
}

int TesselSim::deviceCount() const
{
    return m_engine->deviceCount();
}

SimDevice& TesselSim::device(int index)
{
    return m_engine->device(index);
}

const NetworkProfile& TesselSim::profile() const
{
    return m_engine->profile();
}

void TesselSim::setSerialCounters(SerialCounters counters)
{
    m_engine->setSerialCounters(std::move(counters));
}

bool TesselSim::setStateFile(const QString& path, QString* error)
{
    return m_engine->setStateFile(path, error);
}
