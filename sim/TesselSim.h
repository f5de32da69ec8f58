#pragma once

#include "protocol/NetworkProfile.h"
#include "record/EnvRecord.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

/** Faults a simulated device can be told to show, for tests of the program's error paths. */
struct SimFaults
{
    double dropShare = 0.0;        // share of requests (0..1) ignored without an answer
    int delayMs = 0;               // delay before every reply
    bool corruptHeaderSum = false; // replies carry a wrong header checksum
    bool corruptFcs = false;       // replies carry a wrong frame check sequence
    bool foreignMac = false;       // replies carry another device's MAC in header bytes 10..15
    int forcedResult = -1;         // >= 0: result byte of every write and password-change reply
};

/** One simulated device: its record (MAC, addresses, settings), password and status report. */
struct SimDevice
{
    EnvRecord record;
    /** The device password as typed (at most 8 bytes), empty when none is set. The record's password
     *  field reports its hash, as a device does. */
    QByteArray password;
    /** Status data items sent after the frame of a status reply (at most 820 bytes). */
    QByteArray statusItems;
};

class SimEngine;

/**
 * Simulated Tessel devices answering the device protocol: search, read, write, change password and
 * status. On the loopback profile each device listens on its own address (127.0.0.2 and up) at the
 * device port and all of them hear broadcasts to 127.255.255.255; on the real profile (inside a network
 * namespace) they hear broadcasts whatever their destination port, as devices do.
 */
class TesselSim : public QObject
{
    Q_OBJECT

public:
    explicit TesselSim(const NetworkProfile& profile, QObject* parent = nullptr);
    ~TesselSim() override;

    /** A device numbered `index`: MAC 02:7e:55:xx:xx:xx derived from index, ipAddress `address`,
     *  default settings, comment and remote-search support, no password, a plausible status report. */
    static SimDevice makeDevice(int index, std::uint32_t address);
    /** `count` devices at consecutive addresses from `firstAddress` (default 127.0.0.2). */
    void addDevices(int count, std::uint32_t firstAddress = 0x7F000002);
    void addDevice(const SimDevice& device);

    /** Opens the devices' sockets. False with a message when one cannot be opened. */
    bool start(QString* error = nullptr);
    void stop();

    void setFaults(const SimFaults& faults);
    int deviceCount() const;
    SimDevice& device(int index);

    /** Keeps the devices' records and passwords in `path`: loaded now if it exists, written after every
     *  change a device accepts. */
    bool setStateFile(const QString& path, QString* error = nullptr);

signals:
    /** A device handled a request (answered or deliberately ignored it). */
    void requestHandled(int deviceIndex, int command);

private:
    std::unique_ptr<SimEngine> m_engine;
};
