#pragma once

#include "EnvPortBlock.h"
#include "protocol/Codec.h"

#include <array>
#include <cstdint>
#include <string>

/**
 * The 512-byte settings record of one Tessel device ("environment variables"). A plain value copied
 * whole between frames, device tables, the editor and settings files; every byte that no accessor
 * interprets survives every copy. Numbers are little-endian, IPv4 addresses are stored in network
 * order and handed out as host-order numbers. Text fields are NUL-padded and have no terminator when
 * they fill their width.
 */
class EnvRecord final
{
public:
    static constexpr std::size_t kSize = 512;
    static constexpr int kPortCount = 4;

    static constexpr std::size_t kOffMac = 0;
    static constexpr std::size_t kOffProductId = 12;
    static constexpr std::size_t kOffProductInfo = 13;
    static constexpr std::size_t kOffFlags = 16;
    static constexpr std::size_t kOffIpAddress = 20;
    static constexpr std::size_t kOffSubnetMask = 24;
    static constexpr std::size_t kOffGateway = 28;
    static constexpr std::size_t kOffAccountId = 32;
    static constexpr std::size_t kAccountIdSize = 32;
    static constexpr std::size_t kOffAccountPassword = 64;
    static constexpr std::size_t kAccountPasswordSize = 12;
    static constexpr std::size_t kAccountPasswordMax = 8;
    static constexpr std::size_t kOffPassword = 76;
    static constexpr std::size_t kPasswordFieldSize = 12;
    static constexpr std::size_t kPasswordMax = frame::kPasswordSize;
    static constexpr std::size_t kOffComment = 88;
    static constexpr std::size_t kCommentSize = 32;
    static constexpr std::size_t kOffSourceAddress = 152;
    static constexpr std::size_t kOffPorts = 316;
    static constexpr std::size_t kPortAreaSize = 192;

    // Bits of the option word `flags`.
    static constexpr std::uint32_t kFlagMultiIp = 1u << 1;
    static constexpr std::uint32_t kMaskIpv4Type = 0x3u << 2;
    static constexpr std::uint32_t kFlagArp = 1u << 6;
    static constexpr std::uint32_t kFlagTelnet = 1u << 7;
    static constexpr std::uint32_t kMaskEapol = 0x3u << 9;
    static constexpr std::uint32_t kFlagSsl = 1u << 11;
    static constexpr std::uint32_t kFlagCommentSupported = 1u << 13;
    static constexpr std::uint32_t kFlagRemoteSearchSupported = 1u << 14;
    static constexpr std::uint32_t kFlagRemoteSearch = 1u << 15;

    enum Ipv4Type
    {
        kStatic = 0,
        kDhcp = 1,
        kPppoe = 2,
    };

    EnvRecord() = default;
    explicit EnvRecord(const std::uint8_t* raw);

    /** The default record of a fresh device table: flags 0xC0, 10.1.0.1/255.0.0.0, COM1 in ATC mode at
     *  19200 baud with water mark 1, placeholder identity in bytes 0..11, productId 1. */
    static EnvRecord defaultRecord();

    std::array<std::uint8_t, kSize>& raw() { return m_raw; }
    const std::array<std::uint8_t, kSize>& raw() const { return m_raw; }
    std::uint8_t* data() { return m_raw.data(); }
    const std::uint8_t* data() const { return m_raw.data(); }

    std::array<std::uint8_t, 6> mac() const;
    void setMac(const std::array<std::uint8_t, 6>& mac);
    /** "02:11:22:0a:bc:de" */
    std::string macText() const;

    std::uint8_t productId() const { return m_raw[kOffProductId]; }
    void setProductId(std::uint8_t v) { m_raw[kOffProductId] = v; }
    /** Product code: productId bits 7..3. */
    int productCode() const { return productId() >> 3; }
    std::uint8_t productInfo() const { return m_raw[kOffProductInfo]; }
    void setProductInfo(std::uint8_t v) { m_raw[kOffProductInfo] = v; }

    std::uint32_t flags() const;
    void setFlags(std::uint32_t v);
    bool multiIp() const { return flags() & kFlagMultiIp; }
    void setMultiIp(bool on) { setFlag(kFlagMultiIp, on); }
    int ipv4Type() const { return static_cast<int>((flags() & kMaskIpv4Type) >> 2); }
    void setIpv4Type(int type);
    bool arp() const { return flags() & kFlagArp; }
    void setArp(bool on) { setFlag(kFlagArp, on); }
    bool telnet() const { return flags() & kFlagTelnet; }
    void setTelnet(bool on) { setFlag(kFlagTelnet, on); }
    int eapol() const { return static_cast<int>((flags() & kMaskEapol) >> 9); }
    void setEapol(int v);
    bool ssl() const { return flags() & kFlagSsl; }
    void setSsl(bool on) { setFlag(kFlagSsl, on); }
    bool commentSupported() const { return flags() & kFlagCommentSupported; }
    void setCommentSupported(bool on) { setFlag(kFlagCommentSupported, on); }
    bool remoteSearchSupported() const { return flags() & kFlagRemoteSearchSupported; }
    void setRemoteSearchSupported(bool on) { setFlag(kFlagRemoteSearchSupported, on); }
    bool remoteSearch() const { return flags() & kFlagRemoteSearch; }
    void setRemoteSearch(bool on) { setFlag(kFlagRemoteSearch, on); }

    std::uint32_t ipAddress() const { return address(kOffIpAddress); }
    void setIpAddress(std::uint32_t v) { setAddress(kOffIpAddress, v); }
    std::uint32_t subnetMask() const { return address(kOffSubnetMask); }
    void setSubnetMask(std::uint32_t v) { setAddress(kOffSubnetMask, v); }
    std::uint32_t gateway() const { return address(kOffGateway); }
    void setGateway(std::uint32_t v) { setAddress(kOffGateway, v); }
    std::uint32_t sourceAddress() const { return address(kOffSourceAddress); }
    void setSourceAddress(std::uint32_t v) { setAddress(kOffSourceAddress, v); }

    /** Text fields: readers take up to the first NUL, at most the field's full width (a device may fill
     *  it). Setters clear the whole field and copy at most the limit for typing and writing. */
    std::string accountId() const { return text(kOffAccountId, kAccountIdSize); }
    void setAccountId(const std::string& v) { setText(kOffAccountId, kAccountIdSize, kAccountIdSize, v); }
    std::string accountPassword() const { return text(kOffAccountPassword, kAccountPasswordSize); }
    void setAccountPassword(const std::string& v)
    {
        setText(kOffAccountPassword, kAccountPasswordSize, kAccountPasswordMax, v);
    }
    std::string comment() const { return text(kOffComment, kCommentSize); }
    void setComment(const std::string& v) { setText(kOffComment, kCommentSize, kCommentSize, v); }

    /** The 12-byte device password field; its first 8 bytes carry the (possibly hashed) password. */
    std::uint8_t* passwordField() { return m_raw.data() + kOffPassword; }
    const std::uint8_t* passwordField() const { return m_raw.data() + kOffPassword; }
    /** Clears the 12 bytes and copies at most 8 typed characters in, unhashed. */
    void setTypedPassword(const std::string& typed) { setText(kOffPassword, kPasswordFieldSize, kPasswordMax, typed); }
    /** True when the device reports a password (any of the first 8 password bytes non-zero). */
    bool hasPassword() const;

    EnvPortBlock port(int index) const;
    void setPort(int index, const EnvPortBlock& block);

    bool operator==(const EnvRecord&) const = default;

private:
    void setFlag(std::uint32_t mask, bool on);
    std::uint32_t address(std::size_t offset) const;
    void setAddress(std::size_t offset, std::uint32_t v);
    std::string text(std::size_t offset, std::size_t width) const;
    void setText(std::size_t offset, std::size_t width, std::size_t limit, const std::string& v);

    std::array<std::uint8_t, kSize> m_raw{};
};

/** Copies the importable parts of `imported` into `target`: flags bits 1..12 and 15, the addresses,
 *  comment, bytes 120..151, 156..315 and the port area 316..507. Identity, accounts, device password
 *  and sourceAddress of the target stay. */
void mergeImportedRecord(EnvRecord& target, const EnvRecord& imported);
