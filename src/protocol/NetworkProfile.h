#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

/**
 * Every port and address the device protocol fixes, in one value. The real profile is what devices on
 * a LAN expect; the loopback profile lets the program and simulated devices talk on one machine
 * without privileges (broadcasts to 127.255.255.255 at the device port, unprivileged TFTP and shell
 * ports). Addresses are host-order numbers.
 */
struct NetworkProfile
{
    static constexpr std::uint16_t kDevicePort = 50005;
    static constexpr std::uint16_t kLoopbackDevicePort = 51005;
    static constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFF;  // 255.255.255.255
    static constexpr std::uint32_t kLoopbackBroadcast = 0x7FFFFFFF; // 127.255.255.255

    bool loopback = false;
    std::uint16_t devicePort = kDevicePort;
    std::uint32_t broadcastAddress = kLimitedBroadcast;
    /** True: each broadcast goes to a random destination port 1..32767; false: to devicePort. */
    bool randomBroadcastPort = true;
    std::uint16_t tftpPort = 69;
    std::uint16_t shellPort = 23;

    static NetworkProfile real();
    static NetworkProfile loopbackProfile();

    /** The destination port of one broadcast request. */
    std::uint16_t broadcastPort() const;

    /**
     * Applies the profile options of a command line: --loopback selects the loopback defaults, then
     * --device-port, --tftp-port and --shell-port override single ports. Recognised arguments are removed
     * from `args`; a bad port value returns its error text.
     */
    static std::optional<QString> fromArguments(QStringList& args, NetworkProfile& out);
};
