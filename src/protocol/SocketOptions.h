#pragma once

#include <QHostAddress>
#include <QString>

#include <cstdint>

class QUdpSocket;

/** Receive buffer that holds the replies of a search answered by 256 devices at once (512 datagrams,
 *  each charged by the kernel at several times its 640 bytes). */
constexpr int kReplyBufferBytes = 4 * 1024 * 1024;

/** Whether a bound socket lets other sockets bind the same port (SO_REUSEADDR). */
enum class PortSharing
{
    Exclusive, // a second socket on the port gets the bind failure
    Shared,    // the loopback profile: simulated devices (and broadcast sockets) on one machine share a port
};

/**
 * Binds `socket` to `address`:`port` (port 0: the system chooses), with SO_REUSEADDR only when the port
 * is shared. Returns an empty text on success; otherwise what failed with the system's reason, e.g.
 * "bind 0.0.0.0 port 50005: [98] Address already in use" (port 0 reads "any port"), and the socket
 * stays unbound.
 */
QString bindUdp(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port, PortSharing sharing);

/** Binds a UDP socket with SO_REUSEADDR, so that simulated devices and the test peers beside them on
 *  one machine can share the device port. */
bool bindShared(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port);

/** Asks for a receive buffer of `bytes`: beyond the system's cap when the process may (SO_RCVBUFFORCE),
 *  else as much as the cap allows. Returns the size the kernel granted. */
int sizeReceiveBuffer(QUdpSocket& socket, int bytes);
