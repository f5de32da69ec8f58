#pragma once

#include <array>
#include <cstdint>

/**
 * The 24-byte settings block of one serial port inside an EnvRecord.
 * A plain value: bytes the program does not interpret are carried through unchanged.
 * IPv4 addresses are stored in network order and handed out as host-order numbers
 * (10.1.0.1 is 0x0A010001), as QHostAddress::toIPv4Address() gives them.
 */
class EnvPortBlock final
{
public:
    static constexpr std::size_t kSize = 24;

    enum Mode : std::uint8_t
    {
        kTcpServer = 0, // T2S
        kAtCommand = 1, // ATC
        kTcpClient = 2, // COD
        kUdp = 3,       // U2S
    };

    EnvPortBlock() = default;
    explicit EnvPortBlock(const std::uint8_t* raw);

    std::array<std::uint8_t, kSize>& raw() { return m_raw; }
    const std::array<std::uint8_t, kSize>& raw() const { return m_raw; }

    std::uint8_t serialFormat() const { return m_raw[0]; }
    void setSerialFormat(std::uint8_t v) { m_raw[0] = v; }
    /** Data bits code: 0 = 5, 1 = 6, 2 = 7, 3 = 8 bits. */
    int dataBits() const { return m_raw[0] & 0x03; }
    void setDataBits(int code);
    /** Stop bits code: 0 = 1, 1 = 2 stop bits. */
    int stopBits() const { return (m_raw[0] >> 2) & 0x01; }
    void setStopBits(int code);
    /** Parity code: 0 None, 1 Odd, 3 Even (2 reads as Even). */
    int parity() const { return (m_raw[0] >> 3) & 0x03; }
    void setParity(int code);
    /** Flow-control code: 0 None, 1 RTS/CTS, 3 Xon/Xoff (2 reads like 3). */
    int flowControl() const { return (m_raw[0] >> 5) & 0x03; }
    void setFlowControl(int code);

    std::uint8_t mode() const { return m_raw[1]; }
    void setMode(std::uint8_t v) { m_raw[1] = v; }
    std::uint32_t localIp() const;
    void setLocalIp(std::uint32_t v);
    std::uint32_t peerIp() const;
    void setPeerIp(std::uint32_t v);
    std::uint16_t localPort() const;
    void setLocalPort(std::uint16_t v);
    std::uint16_t peerPort() const;
    void setPeerPort(std::uint16_t v);
    std::uint32_t baudRate() const;
    void setBaudRate(std::uint32_t v);
    std::uint16_t timeout() const;
    void setTimeout(std::uint16_t v);
    std::uint16_t waterMark() const;
    void setWaterMark(std::uint16_t v);

    bool operator==(const EnvPortBlock&) const = default;

private:
    void setBits(int shift, int width, int value);

    std::array<std::uint8_t, kSize> m_raw{};
};
