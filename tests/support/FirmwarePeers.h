#pragma once

// Fixtures for tests of the firmware transfer engine: plain-socket stand-ins for a device's TFTP port
// and shell that a test drives step by step, and a recorder of the engine's notifications.

#include "firmware/CQuickBurnWnd.h"
#include "firmware/PleaseWaitWindow.h"

#include <QByteArray>
#include <QEventLoop>
#include <QList>
#include <QNetworkDatagram>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cstdint>
#include <memory>

namespace fwtest {
/** SHA-256 of `bytes` in hex. */
QByteArray sha256(const QByteArray& bytes);
/** `size` bytes of a fixed pseudo-random pattern (so the blocks differ from one another). */
QByteArray pattern(qsizetype size, std::uint32_t seed = 1);

/** A UDP socket at an address and port of the test's own that keeps every datagram it receives. */
class UdpPeer final
{
public:
    /** Port 0: a port the system chooses. */
    UdpPeer(std::uint32_t address, std::uint16_t port);
    bool isBound() const { return m_socket.state() == QAbstractSocket::BoundState; }
    std::uint16_t port() const { return m_socket.localPort(); }
    /** Waits until `count` datagrams have arrived in all; false when they did not within `timeoutMs`. */
    bool waitFor(int count, int timeoutMs = 5000);
    const QList<QNetworkDatagram>& received() const { return m_received; }
    QByteArray data(int index) const { return m_received.at(index).data(); }
    /** Sends `bytes` to where datagram `index` came from. */
    void replyTo(int index, const QByteArray& bytes);
    /** Sends `bytes` to the sender of `datagram` (received by any peer). */
    void sendTo(const QNetworkDatagram& datagram, const QByteArray& bytes);

private:
    QUdpSocket m_socket;
    QList<QNetworkDatagram> m_received;
};

/** A stand-in for the device's shell: accepts one connection and keeps what the engine types. */
class ShellPeer final
{
public:
    ShellPeer(std::uint32_t address, std::uint16_t port);
    bool isListening() const { return m_server.isListening(); }
    bool waitForConnection(int timeoutMs = 5000);
    /** Waits until the engine has typed `bytes` in all (compared whole). */
    bool waitForTyped(const QByteArray& bytes, int timeoutMs = 5000);
    const QByteArray& typed() const { return m_typed; }
    void say(const QByteArray& text);
    void hangUp();
    bool engineClosed() const { return m_closed; }

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_typed;
    bool m_closed = false;
};

/** A shell port that drops every connection attempt without an answer, as a firewall that drops the
 *  packets does: a listener with no room in its accept queue (one connection of its own fills it and is
 *  never accepted), so the system discards each further SYN and the connecting side hears nothing and
 *  keeps retrying. Nothing leaves the machine. */
class DroppingShellPeer final
{
public:
    DroppingShellPeer(std::uint32_t address, std::uint16_t port);
    ~DroppingShellPeer();
    DroppingShellPeer(const DroppingShellPeer&) = delete;
    DroppingShellPeer& operator=(const DroppingShellPeer&) = delete;
    /** Listening, with its accept queue full: from now on every attempt is dropped. */
    bool isDropping() const;
    /** Connections waiting in the accept queue (only its own while it drops the rest). */
    int queued() const;

private:
    int m_listener = -1;
    int m_filler = -1;
};

/** What the engine reported, in order, with the please-wait window's calls among them. */
class Recorder final : public QObject, public PleaseWaitWindow
{
public:
    struct Entry
    {
        int code;
        qint64 value;
        QString message;
    };
    /** Please-wait calls are logged as code -1 (shown) and -2 (hidden). */
    static constexpr int kShown = -1;
    static constexpr int kHidden = -2;

    explicit Recorder(CQuickBurnWnd* engine = nullptr);
    void attach(CQuickBurnWnd* engine);

    void ShowProgress(const QString& text) override;
    void HideProgress() override;

    const QList<Entry>& log() const { return m_log; }
    /** The codes other than 1 (and the please-wait entries). */
    QList<int> finalCodes() const;
    QList<qint64> progress() const;
    /** The last final entry; code -100 when none. */
    Entry lastFinal() const;
    QString pleaseWaitText() const { return m_pleaseWaitText; }
    bool pleaseWaitShown() const { return m_shown; }
    /** Runs an event loop until at least one final code has come (a real loop, so that a lock-step
     *  exchange with a peer in this thread runs at full speed). */
    bool waitForFinal(int timeoutMs = 10000);

    /** Addresses the engine flushed from the address cache. */
    QList<std::uint32_t> flushed;

private:
    QList<Entry> m_log;
    QString m_pleaseWaitText;
    bool m_shown = false;
    QEventLoop* m_waiting = nullptr;
};
} // namespace fwtest
