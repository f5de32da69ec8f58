#pragma once

// The network side of one serial port of a device, from this machine: connected as the port's mode
// dictates. A TCP server port (T2S) is connected to at its address and local port; a UDP port (U2S) is
// sent datagrams at its local port and answers the sender; a TCP client port (COD) connects to its peer,
// so this machine listens there when the peer address is one of its own; a port in AT command mode
// (ATC) takes no network connection. Window-free, so the command line and the desktop program share it.

#include "record/EnvPortBlock.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;
class StringTable;

namespace serial {
/** The largest datagram a UDP port is sent: what fits an Ethernet frame with room to spare. */
constexpr int kMaxDatagram = 1400;

/** One serial port of a device, as its record describes it. */
struct PortTarget
{
    std::uint32_t deviceAddress = 0; // where the device was reached (host order)
    int port = 0;                    // 0..3: COM1..COM4
    EnvPortBlock block;
    bool multiIp = false; // the device's ports have addresses of their own

    /** The address the port takes connections and datagrams at: its own with multi IP (when set), else
     *  the device's. */
    std::uint32_t address() const;
    /** "COM2 of 127.0.0.2", in the language of `texts`. */
    QString name(const StringTable& texts) const;
    /** "TCP 127.0.0.2:4002", "UDP 127.0.0.2:4004", "TCP 127.0.0.1:5000 (waiting for the device)". */
    QString endpointText() const;
};

/** Why a port could not be reached, or stopped being reachable. */
enum class Problem
{
    None,
    AtCommandMode, // the port takes no network connection
    UnknownMode,
    PeerNotLocal, // a TCP client port whose peer is not an address of this machine
    CannotListen, // the peer address and port cannot be listened on here
    CannotBind,   // no UDP socket
    Refused,      // the device did not accept the connection
    NoConnection, // no connection within the wait
    Lost,         // an open connection was closed
};

/** The message for `problem` about `target`, in the language of `texts`; `detail` is the system's
 *  reason where there is one, `waitMs` the wait that ran out. */
QString problemText(const StringTable& texts, Problem problem, const PortTarget& target, const QString& detail = {},
                    int waitMs = 0);

/** What stands in the way of reaching `target` at all, before anything is opened. */
Problem precheck(const PortTarget& target);

/**
 * The connection to one port. open() starts it; opened() says it can carry data, received() hands on
 * what the device sends, failed() says it could not be made and lost() that it was closed after
 * opened(). Nothing reconnects on its own: the owner decides (the terminal bridge does, with back-off).
 */
class PortLink final : public QObject
{
    Q_OBJECT

public:
    explicit PortLink(const PortTarget& target, QObject* parent = nullptr);
    ~PortLink() override;

    const PortTarget& target() const { return m_target; }
    /** Starts connecting (T2S), binds (U2S: open at once) or listens for the device (COD). */
    void open();
    /** Closes every socket; no signal follows. */
    void close();
    bool isOpen() const { return m_open; }
    /** Queues `bytes` for the port (UDP: in datagrams of at most kMaxDatagram bytes). False when the link
     *  is not open or a datagram could not be sent. */
    bool send(QByteArrayView bytes);
    /** Bytes queued and not yet handed to the system. */
    qint64 bytesToWrite() const;
    /** Stops (false) or resumes (true) taking bytes from the device, so a slow reader holds the sender
     *  back instead of filling memory. */
    void setReading(bool reading);
    /** Hands an open TCP connection over: a descriptor of its own (non-blocking; the caller closes it),
     *  with what had come in already in `received`. The link is closed after it (a TCP client port's
     *  listening too) and says nothing more until open() is called again. -1 for a UDP link or no
     *  connection. */
    int releaseTcp(QByteArray* received);

signals:
    void opened();
    void received(const QByteArray& bytes);
    void failed(serial::Problem problem, const QString& detail);
    void lost(const QString& detail);
    void bytesWritten();

private:
    void openTcp();
    void openUdp();
    void listenForDevice();
    void adopt(QTcpSocket* socket);
    void readTcp();
    void readUdp();
    void fail(Problem problem, const QString& detail);

    PortTarget m_target;
    QTcpSocket* m_tcp = nullptr;
    QTcpServer* m_server = nullptr;
    QUdpSocket* m_udp = nullptr;
    bool m_open = false;
    bool m_reading = true;
};
} // namespace serial
