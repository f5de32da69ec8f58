#pragma once

#include "BytePump.h"
#include "PortLink.h"
#include "Pty.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;

namespace serial {
/**
 * A local serial device for a port of a device: a pseudo-terminal in raw mode, with a symbolic link at a
 * path of the user's choice, whose bytes go to the port and back. When the connection fails or drops the
 * bridge connects again after a pause that doubles from kFirstRetryMs up to kLastRetryMs (and starts
 * again from the first once a connection is made). While there is no connection the bridge does not read
 * the terminal, so what a program writes waits in the terminal and goes out once the port is reached.
 *
 * Over TCP the bytes are moved by a BytePump, one thread each way, while the connection lasts; over UDP
 * (datagrams of a bounded size) they pass through the event loop.
 */
class TtyBridge final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kFirstRetryMs = 100;
    static constexpr int kLastRetryMs = 5000;

    explicit TtyBridge(const PortTarget& target, QObject* parent = nullptr);
    ~TtyBridge() override;

    /** Opens the terminal, makes the link at `linkPath` (an existing symbolic link is replaced, anything
     *  else there is refused) and starts connecting. False with the reason in `error`. */
    bool start(const QString& linkPath, QString* error);
    /** Closes the connection and the terminal and removes the link when it is still ours. */
    void stop();

    const PortTarget& target() const { return m_link->target(); }
    const QString& terminalPath() const { return m_pty.slavePath(); }
    quint64 bytesToPort() const { return m_toPort + (m_pump ? m_pump->fromTerminal() : 0); }
    quint64 bytesFromPort() const { return m_fromPort + (m_pump ? m_pump->fromPort() : 0); }

signals:
    /** The connection is made; `again` after a lost or failed one. */
    void connected(bool again);
    /** The connection could not be made (`problem`) or was lost (Problem::Lost); the next try follows in
     *  `retryMs`. */
    void interrupted(serial::Problem problem, const QString& detail, int retryMs);

private:
    void onOpened();
    void onFailure(Problem problem, const QString& detail);
    void readTerminal();
    void writeTerminal();
    void deliver(const QByteArray& bytes);
    void updateReading();
    /** Takes a TCP connection from the link and starts the pump on it. */
    void startPump();
    /** Ends the pump; what it held for the port goes out first on the next connection, what it held for
     *  the terminal is written to it. */
    void stopPump();
    /** The connection of pump `run` ended (an empty `reason`: closed by the device). */
    void onPumpEnded(unsigned run, const QString& reason);

    Pty m_pty;
    std::unique_ptr<PortLink> m_link;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    std::unique_ptr<QTimer> m_retry;
    std::unique_ptr<BytePump> m_pump;
    int m_pumpSocket = -1;
    unsigned m_pumpRun = 0;   // which pump a queued end belongs to
    QByteArray m_heldForPort; // read from the terminal, not yet taken by a connection
    QByteArray m_toTerminal;  // from the port; the terminal has taken the first m_written bytes
    qint64 m_written = 0;
    QString m_linkPath;
    int m_nextRetryMs = kFirstRetryMs;
    bool m_everConnected = false;
    bool m_interrupted = false;
    quint64 m_toPort = 0;
    quint64 m_fromPort = 0;
};
} // namespace serial
