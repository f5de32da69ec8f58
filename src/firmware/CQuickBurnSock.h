#pragma once

#include <QHostAddress>
#include <QObject>

#include <cstdint>
#include <memory>

class QAbstractSocket;
class QSocketNotifier;
class QTcpSocket;

/**
 * One socket of the firmware transfer engine: the TFTP datagram socket or the shell connection,
 * created afresh for each upload or conversation. It turns the socket's notifications into the
 * engine's numbered socket events, each naming the socket and carrying the system error code that came
 * with it (0 for none).
 */
class CQuickBurnSock final : public QObject
{
    Q_OBJECT

public:
    enum Event
    {
        kAccept = 4321,
        kConnect = 4322,
        kClose = 4323,
        kData = 4324,
    };

    explicit CQuickBurnSock(QObject* parent = nullptr);
    ~CQuickBurnSock() override;

    /** Opens a datagram socket on any local address and a port the system chooses. Returns 0, or the
     *  system error code when it cannot be opened. It is a plain non-blocking socket watched by the
     *  event loop: one upload is thousands of lock-step exchanges, each a wake-up, a read and a send. */
    int openDatagram();
    /** Sends one datagram to `address` (host order) at `port`; false when the send failed. */
    bool sendDatagram(QByteArrayView bytes, std::uint32_t address, std::uint16_t port);
    /** Reads one waiting datagram (truncated to `capacity` bytes): its length and the sender's port,
     *  or -1 when none is waiting or the read failed. */
    qint64 receiveDatagram(char* buffer, qint64 capacity, std::uint16_t* senderPort);
    /** Starts connecting a stream socket; kConnect follows, with an error code when it failed. */
    void connectStream(const QHostAddress& address, std::uint16_t port);
    /** Closes the socket without any further event. Safe to call from the socket's own events. */
    void close();
    bool isOpen() const { return m_socket != nullptr || m_datagramFd >= 0; }
    bool isDatagramOpen() const { return m_datagramFd >= 0; }

    /** The stream socket while one is open, else nullptr. */
    QTcpSocket* stream() const;

    /** The system error code (errno) that stands for a socket error Qt reports. */
    static int systemErrorCode(int qtSocketError);

signals:
    /** A numbered socket event (kConnect, kClose, kData) of this socket. */
    void socketEvent(CQuickBurnSock* socket, int event, int errorCode);

private:
    void attach(QAbstractSocket* socket);
    void onError(int qtSocketError);

    QAbstractSocket* m_socket = nullptr; // the stream socket
    bool m_connected = false;
    int m_datagramFd = -1;
    QSocketNotifier* m_datagramNotifier = nullptr;
};
