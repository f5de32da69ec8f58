#pragma once

#include "StatusItems.h"
#include "protocol/NetworkProfile.h"
#include "record/EnvRecord.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

/** Faults a simulated device can be told to show, for tests of the program's error paths. */
struct SimFaults
{
    double dropShare = 0.0;        // share of requests (0..1) ignored without an answer (both copies)
    int delayMs = 0;               // delay before every reply
    bool corruptHeaderSum = false; // replies carry a wrong header checksum
    bool corruptFcs = false;       // replies carry a wrong frame check sequence
    bool foreignMac = false;       // replies carry another device's MAC in header bytes 10..15
    int forcedResult = -1;         // >= 0: result byte of every write and password-change reply; the
                                   // device then acts only when it is 0 and the password matches
    bool storeDespiteResult = false; // with forcedResult: the device stores a write whose password matches
                                     // whatever result it reports (an unclear answer to a stored write)
    bool silentWrites = false;     // writes and password changes are acted on but never answered
    bool actOnEveryCopy = false;   // writes and password changes keep no memory: each copy acts again, and
                                   // each is answered as judged then (a second password change: result 2)
    std::uint32_t seed = 1;        // seed of the drop decisions, so a run can be repeated
};

/** One simulated device: its record (MAC, addresses, settings, password hash) and status report. */
struct SimDevice
{
    /** The device's settings. Its password field (bytes 76..83) is the device password: the hash a write
     *  must carry, all zero when the device has none; it is what the device reports, as a device does. */
    EnvRecord record;
    /** The address the device listens on (host order); 0: the record's ipAddress when started. */
    std::uint32_t address = 0;
    /** Status data items sent after the frame of a status reply (at most 820 bytes). */
    QByteArray statusItems;
    /** True: before each status reply the simulator refreshes the uptime (it keeps growing), the MAC and
     *  address items from the record and the LAN packet counters. False: the items go out verbatim. */
    bool liveStatus = true;
    /** With live status: serial counters that follow set rates, and restarts (uptime and those counters
     *  start again); without rates each look adds a few hundred bytes to every counter. */
    sim::SerialTraffic traffic;

    /** Sets the device password from the typed text (at most 8 bytes; empty removes it): the record's
     *  password field receives its hash. */
    void setPassword(const QByteArray& typed);
    /** The stored password hash, all zero when the device has no password. */
    std::array<std::uint8_t, 8> passwordHash() const;
};

class SimEngine;

/**
 * Simulated Tessel devices answering the device protocol: search, read, write, change password and
 * status. On the loopback profile each device listens on its own address (127.0.0.2 and up) at the
 * device port and all of them hear broadcasts to 127.255.255.255; on the real profile (inside a network
 * namespace) they hear broadcasts whatever their destination port, as devices do.
 *
 * Every request arrives twice; a device answers the second copy with the reply it gave to the first,
 * without acting again.
 */
class TesselSim : public QObject
{
    Q_OBJECT

public:
    /** Most devices one simulator runs. */
    static constexpr int kMaxDevices = 1000;

    explicit TesselSim(const NetworkProfile& profile, QObject* parent = nullptr);
    ~TesselSim() override;

    /** A device numbered `index`: MAC 02:7e:55 followed by index + 1 (three bytes, big-endian), listening
     *  on and reporting ipAddress `address`, default settings with four plausible serial ports, comment
     *  and remote-search support, no password, a plausible status report. */
    static SimDevice makeDevice(int index, std::uint32_t address);
    /** `count` devices at consecutive addresses from `firstAddress` (default 127.0.0.2), numbered on from
     *  the devices already added. */
    void addDevices(int count, std::uint32_t firstAddress = 0x7F000002);
    /** Adds a device; when the simulator runs, its sockets open at once. */
    void addDevice(const SimDevice& device);

    /** Opens the devices' sockets. False with a message when one cannot be opened (nothing stays open). */
    bool start(QString* error = nullptr);
    /** Closes every socket; replies still waiting for their delay are not sent. */
    void stop();
    bool isRunning() const;

    /** The device starts again now, as after a power cut: its uptime and its rated serial counters begin
     *  anew from their starting values. */
    void restartDevice(int index);

    /** Applies from the next request on; the drop decisions start afresh from faults.seed. */
    void setFaults(const SimFaults& faults);
    int deviceCount() const;
    /** A running device may be changed through the reference; it stays valid while the simulator lives. */
    SimDevice& device(int index);
    const NetworkProfile& profile() const;

    /** Keeps the devices' records (with their password hashes) in `path`: loaded now if it exists (each
     *  stored record goes to the device with its MAC, now or when it is added), written atomically after
     *  every change a device accepts. False with a message when the file exists but cannot be read. */
    bool setStateFile(const QString& path, QString* error = nullptr);

    /** The bytes each device's serial ports have carried (RX of COM1..COM4, then TX), from the serial
     *  side: with it, a live status report counts them on top of the counters' starting values instead
     *  of letting them grow a few hundred bytes a look. Empty: no serial side. */
    using SerialCounters = std::function<std::array<std::uint64_t, 8>(int deviceIndex)>;
    void setSerialCounters(SerialCounters counters);

signals:
    /** A device accepted a change of its record (a write, a password change). */
    void recordChanged(int deviceIndex);
    /** A device handled a request copy it was addressed by: answered it (also a repeated copy) or
     *  dropped it by fault. */
    void requestHandled(int deviceIndex, int command);
    /** A datagram was ignored as malformed (size, checks, a reply) or as an unknown command. */
    void datagramRejected();
    /** How many requests the devices hold the answer to for SimFaults::delayMs, each time that number
     *  changes: the requests in hand at once. A repeated copy, answered from memory, is not counted. */
    void answersWaiting(int count);

private:
    std::unique_ptr<SimEngine> m_engine;
};
