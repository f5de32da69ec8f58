#pragma once

#include <QHostAddress>

#include <cstdint>

class QUdpSocket;

/** Receive buffer that holds the replies of a search answered by 256 devices at once (512 datagrams,
 *  each charged by the kernel at several times its 640 bytes). */
constexpr int kReplyBufferBytes = 4 * 1024 * 1024;

/** Binds a UDP socket with SO_REUSEADDR, so the program's remote-mode socket and simulated devices on
 *  the same machine can share the device port. */
bool bindShared(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port);

/** Asks for a receive buffer of `bytes`: beyond the system's cap when the process may (SO_RCVBUFFORCE),
 *  else as much as the cap allows. Returns the size the kernel granted. */
int sizeReceiveBuffer(QUdpSocket& socket, int bytes);
