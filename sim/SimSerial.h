#pragma once

#include "TesselSim.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

/** What the serial side of the simulated devices' ports is plugged into. */
struct SimSerialOptions
{
    /** True: the serial line takes the time its rate and framing take (start bit, data bits, parity,
     *  stop bits per byte); false: bytes pass at once (for benchmarks of what is on the network side). */
    bool paced = true;
    /** Pairs of ports (0..3) whose serial sides are wired to each other, on every device. */
    std::vector<std::pair<int, int>> joins;
    /** Ports whose serial side is a pseudo-terminal that a test plays, on every device. */
    std::vector<int> terminals;
};

/** How the network side of a port stands. */
enum class SerialPortState
{
    Idle,       // AT command mode, or nothing it may do (the reason was said in a note)
    Listening,  // T2S: waiting for a connection; U2S: bound
    Connecting, // COD: trying to reach its peer
    Connected,  // a TCP connection is up
};

/**
 * The serial ports of simulated devices, carrying data as each port's mode says. T2S listens on TCP at
 * the device's address (its own with multi IP) and the port's local port, one connection at a time; U2S
 * takes datagrams on the local port and answers the sender; COD connects to its peer only when the peer
 * is on the loopback network (127.0.0.0/8), and otherwise says why once and stays idle, so a simulator
 * never sends off the machine; ATC takes no network connection, and answers "AT" with "OK" on its serial
 * side.
 *
 * The serial side of a port loops back what the port sends (after the time the line takes, unless
 * unpaced), or is wired to another port, or to a pseudo-terminal. The devices' status counters count
 * what really crossed the serial line: TX what the port sent out on it, RX what it received from it.
 * A port follows a write of its device's settings at once.
 */
class SimSerial final : public QObject
{
    Q_OBJECT

public:
    explicit SimSerial(TesselSim& sim, const SimSerialOptions& options = {}, QObject* parent = nullptr);
    ~SimSerial() override;

    /** Opens every port of every device of the simulator. A port that cannot open says so in a note and
     *  stays idle; false with a message only when a pseudo-terminal asked for cannot be made. */
    bool start(QString* error = nullptr);
    void stop();

    /** Bytes carried by the serial side of device `device` since start: RX of COM1..COM4, then TX. */
    std::array<std::uint64_t, 8> carried(int device) const;
    SerialPortState state(int device, int port) const;
    /** The pseudo-terminal of a port whose serial side is one; empty otherwise. */
    QString terminalPath(int device, int port) const;
    /** Closes the port's TCP connection now, as a device whose link dropped. */
    void dropConnection(int device, int port);
    /** False: a T2S port refuses new connections (it stops listening) until set true again. */
    void setAccepting(int device, int port, bool accepting);
    /** Every note said so far, in order ("device 1 COM3: ..."). */
    const QStringList& notes() const { return m_notes; }

signals:
    /** Something worth a line in the simulator's log. */
    void note(const QString& text);
    /** A TCP connection of the port was made or ended. */
    void connectionChanged(int device, int port, bool connected);

private:
    class Port;
    friend class Port;

    void say(int device, int port, const QString& text);
    void deviceChanged(int device);
    Port* port(int device, int index) const;

    TesselSim& m_sim;
    SimSerialOptions m_options;
    std::vector<std::array<std::unique_ptr<Port>, 4>> m_ports;
    QStringList m_notes;
    bool m_running = false;
};
