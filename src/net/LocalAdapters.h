#pragma once

#include "protocol/NetworkProfile.h"

#include <QList>
#include <QString>

#include <cstdint>

/** One local adapter that a broadcast to every adapter leaves from: its name ("eth0") and the IPv4
 *  address (host order) the adapter's socket is bound to. */
struct LocalAdapter
{
    QString name;
    std::uint32_t address = 0;
};

/**
 * The adapters a request to every adapter is broadcast from, one entry each, in the system's order.
 *
 * On the real profile: every adapter that is up, can broadcast and is not the loopback adapter, with
 * its first IPv4 address (an adapter without one is left out; a point-to-point link such as a VPN
 * tunnel has no LAN to broadcast to). Linux sends a limited broadcast from a socket bound to an
 * adapter's address out of that adapter only, so each socket reaches the devices on its own LAN.
 *
 * On the loopback profile "every adapter" is the loopback adapter alone (127.0.0.1), whose broadcast
 * goes to the profile's 127.255.255.255: nothing leaves the machine, so the simulated devices and the
 * tests on that profile never broadcast on the machine's real networks.
 */
QList<LocalAdapter> broadcastAdapters(const NetworkProfile& profile);
