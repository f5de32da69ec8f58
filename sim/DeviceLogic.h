#pragma once

// What a simulated Tessel device does with a request, as pure functions over bytes: which datagrams it
// takes as requests, which requests are addressed to it, how it acts on them and the reply it sends.
// The sockets of SimEngine only move bytes and call these.

#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace sim {
/** How a request reached the device: to every device (broadcast), or to one of the device's addresses. */
enum class Arrival
{
    Broadcast,
    Unicast,
};

/** What acting on a request gives: the reply datagram (never empty) and whether the device's record or
 *  password changed. */
struct Answer
{
    QByteArray reply;
    bool changed = false;
};

/** Checks a datagram as a device does: exactly one frame, magic, not a reply, header checksum, FCS of
 *  the descrambled body. The request with its body descrambled, or nothing. */
std::optional<frame::Frame> acceptDatagram(QByteArrayView datagram);

/** True for the commands a device answers (1 to 5). */
bool isKnownCommand(const frame::Frame& request);

/** True when `device` is the one a request is for: every device for a search; for a broadcast read,
 *  write, password change or status the device whose MAC equals header bytes 10..15; for a unicast
 *  request the device that received it, whatever MAC the body holds. */
bool isAddressed(const SimDevice& device, const frame::Frame& request, Arrival arrival);

/** True when an 8-byte password field (as a write carries it: hashed, or zero for none) matches the
 *  device's stored hash. */
bool passwordMatches(const SimDevice& device, const std::uint8_t* field8);

/** The record a write stores: the written record with the device's own MAC, productId, productInfo,
 *  capability bits (13, 14) and password field (the password changes only by command 4); its
 *  sourceAddress is the device's own (new) ipAddress, as a device reports it. */
EnvRecord recordToStore(const EnvRecord& current, const EnvRecord& written);

/** Acts on a request addressed to `device` (write, password change) and builds its reply: the device's
 *  record in the body, and for a status request its status items behind the frame. */
Answer answerRequest(SimDevice& device, const frame::Frame& request, const SimFaults& faults);

/** A reply frame to `request`: reply flags with the request's unicast bit, command and random words
 *  copied, `result`, the device's MAC in the header (another one with faults.foreignMac), `record` as
 *  body, sealed, then damaged as the faults ask, followed by `trailer`. */
QByteArray buildReply(const frame::Frame& request, const EnvRecord& record, std::uint8_t result, QByteArrayView trailer,
                      const SimFaults& faults);
} // namespace sim
