#pragma once

// Helpers for tests that talk to simulated devices through the real endpoint CNetEnv: one request
// driven the way the program's windows drive it (open, fill, send twice, wait, close), without fixed
// sleeps.

#include "net/CNetEnv.h"
#include "protocol/Codec.h"
#include "protocol/NetworkProfile.h"
#include "record/EnvRecord.h"

#include <QByteArray>

#include <array>
#include <cstdint>

class TesselSim;

namespace simtest {
/** The loopback profile with a device port of the test's own, so tests can run side by side. */
NetworkProfile loopbackProfile(std::uint16_t devicePort);

/** 127.0.0.2 + n: the address of simulated device n as addDevices() numbers them by default. */
constexpr std::uint32_t deviceAddress(int n)
{
    return 0x7F000002u + static_cast<std::uint32_t>(n);
}

/** One request as an owner of CNetEnv prepares it. */
struct Request
{
    int command = frame::kSearch;
    /** Body bytes 0..511; its MAC (bytes 0..5) addresses a broadcast request. All zero for a search. */
    EnvRecord record;
    /** Body bytes 512..519: the new password (hashed) of a password change. */
    std::array<std::uint8_t, 8> extension{};
    /** 0: broadcast (OpenLocal(0), SendBroadcast); otherwise unicast to this address (OpenRemote,
     *  SendUnicast). */
    std::uint32_t unicastAddress = 0;
};

/** A request for `record`'s device, broadcast (addressed by its MAC) or unicast to `unicastAddress`. */
Request request(int command, const EnvRecord& record, std::uint32_t unicastAddress = 0);

/** A password field as write and password-change requests carry it: the typed text (at most 8 bytes),
 *  hashed when not empty. */
std::array<std::uint8_t, 8> hashedPassword(const QByteArray& typed);
/** Writes hashedPassword(typed) into the record's password field (bytes 84..87 cleared). */
void setHashedPassword(EnvRecord& record, const QByteArray& typed);

/** Sends `r` on `env` (a search also sets count 0 and limit 256) and runs the event loop until `replies`
 *  replies have been accepted (a device normally answers both copies) or `timeoutMs` has passed; then
 *  closes the endpoint. Returns the number of replies accepted. */
int exchange(CNetEnv& env, const Request& r, int replies = 2, int timeoutMs = 3000);

/** Sends a search and runs the event loop until `devices` records are listed or `timeoutMs` has passed;
 *  then closes the endpoint. Returns the number of records listed. */
int search(CNetEnv& env, int devices, int timeoutMs = 3000);

/** Sends `r` and runs the event loop until the in-process simulator has handled `copies` request copies
 *  (answered or dropped), then takes in whatever the endpoint received and closes it. For proving that
 *  no acceptable answer came, without waiting out a timeout. Returns the replies accepted. */
int exchangeHandled(CNetEnv& env, TesselSim& sim, const Request& r, int copies = 2, int timeoutMs = 3000);

/** Runs the event loop until the in-process simulator has taken in every datagram sent to it so far: a
 *  malformed datagram goes to each device's loopback address and to the loopback broadcast address, and
 *  once the simulator has rejected them all, whatever reached those sockets before them has been handled
 *  too (loopback sends are synchronous, and each socket keeps its datagrams in order). For proving that
 *  nothing was sent, without waiting a fixed time. False when they were not all rejected in `timeoutMs`. */
bool drain(TesselSim& sim, int timeoutMs = 3000);
} // namespace simtest
