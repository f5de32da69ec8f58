#pragma once

#include "DeviceLogic.h"
#include "ReplyMemory.h"
#include "TesselSim.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QString>

#include <array>
#include <map>
#include <memory>
#include <vector>

class QObject;
class QUdpSocket;

/**
 * The sockets and bookkeeping behind TesselSim. Each device listens on its own address at the device
 * port (and on aliases: a record ipAddress it was written, its ports' addresses when multiIp is set);
 * broadcasts come in on one shared socket (loopback profile) or a raw socket (real profile) and go to
 * every device. What a device answers is DeviceLogic's; this class remembers the replies for the
 * second copy of each request, applies the drop and delay faults and keeps the state file.
 */
class SimEngine final
{
public:
    SimEngine(TesselSim& owner, const NetworkProfile& profile);
    ~SimEngine();

    void addDevice(const SimDevice& device);
    bool start(QString* error);
    void stop();
    bool isRunning() const { return m_run != nullptr; }
    void setFaults(const SimFaults& faults);
    void restartDevice(int index);
    int deviceCount() const { return static_cast<int>(m_slots.size()); }
    SimDevice& device(int index) { return m_slots.at(static_cast<std::size_t>(index))->device; }
    const NetworkProfile& profile() const { return m_profile; }
    bool setStateFile(const QString& path, QString* error);
    void setSerialCounters(TesselSim::SerialCounters counters) { m_serialCounters = std::move(counters); }

private:
    struct Sender
    {
        std::uint32_t address;
        std::uint16_t port;
    };
    struct Slot
    {
        SimDevice device;
        std::uint32_t uptimeBase = 0;
        std::array<std::uint32_t, 8> counterStart{}; // serial counters when the device started
        qint64 startedAtMs = 0;                       // on the engine's clock
        QUdpSocket* home = nullptr;
        std::map<std::uint32_t, QUdpSocket*> aliases;
        ReplyMemory memory;
    };
    using Mac = std::array<std::uint8_t, 6>;

    bool openBroadcastListener(QString* error);
    bool openHome(int index, QString* error);
    QUdpSocket* openSocket(std::uint32_t address, int bufferBytes, QString* error);
    void listen(QUdpSocket* socket, int index);
    void syncAliases(int index);
    bool isUsableAddress(std::uint32_t address) const;
    void readSocket(QUdpSocket* socket, int index);
    void handleDatagram(const QByteArray& bytes, const Sender& from, int index, QUdpSocket* via);
    void serve(int index, const frame::Frame& request, const QByteArray& key, sim::Arrival arrival, const Sender& from,
               QUdpSocket* via);
    QUdpSocket* replySocket(const Slot& slot) const;
    /** Sends `reply` now, or after the delay of the faults; `first`: the answer to a request's first
     *  copy, counted while it waits. */
    void send(QUdpSocket* via, const QByteArray& reply, const Sender& to, bool first = false);
    /** Milliseconds since the device last started (the simulator's start, or its last restart). */
    qint64 sinceStart(const Slot& slot) const;
    void refreshStatus(int index);
    void applyStoredRecord(Slot& slot);
    void saveState();

    TesselSim& m_owner;
    NetworkProfile m_profile;
    SimFaults m_faults;
    QRandomGenerator m_random;
    QElapsedTimer m_clock;
    std::vector<std::unique_ptr<Slot>> m_slots;
    /** Parent of every socket and delayed reply while running; deleting it closes them all. */
    QObject* m_run = nullptr;
    /** Which device listens on an address (home or alias). */
    QHash<std::uint32_t, int> m_owners;
    /** Depth of socket handlers running, during which sockets are not deleted at once. */
    int m_busy = 0;
    int m_waiting = 0; // first answers waiting for their delay
    QString m_statePath;
    std::map<Mac, EnvRecord> m_storedRecords;
    TesselSim::SerialCounters m_serialCounters;
};
