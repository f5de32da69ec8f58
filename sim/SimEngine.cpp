#include "SimEngine.h"

#include "RawBroadcastListener.h"
#include "SimStateFile.h"
#include "StatusItems.h"
#include "protocol/SocketOptions.h"

#include <QNetworkDatagram>
#include <QPointer>
#include <QTimer>
#include <QUdpSocket>

#include <set>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {
constexpr int kDeviceBufferBytes = 512 * 1024;
constexpr std::uint32_t kLoopbackNet = 0x7F000000;    // 127.0.0.0/8
constexpr std::uint32_t kLoopbackClient = 0x7F000001; // 127.0.0.1, the program's side
constexpr std::uint64_t kSpareDescriptors = 128;
constexpr int kDatagramsPerNotification = 64;
constexpr qint64 kReadSliceMs = 5;

// A thousand devices need a thousand sockets: lift the soft limit on open files as far as allowed.
void raiseFileLimit(std::uint64_t needed)
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed)
        return;
    limit.rlim_cur = std::min(static_cast<rlim_t>(needed), limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
#else
    Q_UNUSED(needed); // no such limit to lift
#endif
}

QString addressText(std::uint32_t address)
{
    return QHostAddress(address).toString();
}
} // namespace

SimEngine::SimEngine(TesselSim& owner, const NetworkProfile& profile)
    : m_owner(owner), m_profile(profile), m_random(m_faults.seed)
{
    m_clock.start();
}

SimEngine::~SimEngine()
{
    stop();
}

void SimEngine::addDevice(const SimDevice& device)
{
    auto slot = std::make_unique<Slot>();
    slot->device = device;
    if (slot->device.address == 0)
        slot->device.address = device.record.ipAddress();
    slot->uptimeBase = sim::readU32Item(device.statusItems, sim::kStatusUptime).value_or(0);
    slot->counterStart = sim::serialCounters(device.statusItems);
    applyStoredRecord(*slot);
    m_slots.push_back(std::move(slot));
    if (m_run) {
        const int index = deviceCount() - 1;
        QString error;
        if (!openHome(index, &error))
            qWarning("tessel-sim: %s", qPrintable(error));
        syncAliases(index);
    }
}

bool SimEngine::start(QString* error)
{
    if (m_run)
        return true;
    raiseFileLimit(static_cast<std::uint64_t>(m_slots.size()) + kSpareDescriptors);
    m_run = new QObject;
    m_owners.clear();
    bool ok = openBroadcastListener(error);
    for (int i = 0; ok && i < deviceCount(); ++i)
        ok = openHome(i, error);
    if (!ok) {
        stop();
        return false;
    }
    for (int i = 0; i < deviceCount(); ++i)
        syncAliases(i);
    return true;
}

void SimEngine::stop()
{
    if (!m_run)
        return;
    for (const auto& slot : m_slots) {
        slot->home = nullptr;
        slot->aliases.clear();
        slot->memory.clear();
    }
    m_owners.clear();
    m_waiting = 0; // the delayed answers are not sent
    QObject* run = m_run;
    m_run = nullptr;
    // Sockets close now, so the port is free at once; while one of them is still handling a datagram
    // the objects go on the next turn of the event loop.
    for (QUdpSocket* socket : run->findChildren<QUdpSocket*>())
        socket->close();
    if (m_busy > 0)
        run->deleteLater();
    else
        delete run;
}

void SimEngine::setFaults(const SimFaults& faults)
{
    // Drop decisions start afresh from the seed, so a run repeats from here.
    m_random.seed(faults.seed);
    m_faults = faults;
}

bool SimEngine::openBroadcastListener(QString* error)
{
    if (m_profile.loopback) {
        QUdpSocket* socket = openSocket(m_profile.broadcastAddress, kReplyBufferBytes, error);
        if (!socket)
            return false;
        listen(socket, -1);
        return true;
    }
    auto* raw = new RawBroadcastListener(m_run);
    if (!raw->open(error))
        return false;
    QObject::connect(raw, &RawBroadcastListener::broadcastReceived, m_run,
                     [this, run = m_run](const QByteArray& payload, quint32 address, quint16 port) {
                         if (m_run != run)
                             return; // stopped while the listener was still reading
                         ++m_busy;
                         handleDatagram(payload, {address, port}, -1, nullptr);
                         --m_busy;
                     });
    return true;
}

bool SimEngine::openHome(int index, QString* error)
{
    Slot& slot = *m_slots[static_cast<std::size_t>(index)];
    const std::uint32_t address = slot.device.address;
    QString problem;
    if (!isUsableAddress(address))
        problem = QStringLiteral("%1 is not an address a simulated device may use").arg(addressText(address));
    else if (m_owners.contains(address))
        problem = QStringLiteral("%1 is taken by device %2").arg(addressText(address)).arg(m_owners.value(address) + 1);
    if (problem.isEmpty()) {
        slot.home = openSocket(address, kDeviceBufferBytes, &problem);
        if (slot.home) {
            m_owners.insert(address, index);
            listen(slot.home, index);
            return true;
        }
    }
    if (error)
        *error = QStringLiteral("device %1 (%2): %3")
                     .arg(index + 1)
                     .arg(QString::fromStdString(slot.device.record.macText()), problem);
    return false;
}

QUdpSocket* SimEngine::openSocket(std::uint32_t address, int bufferBytes, QString* error)
{
    auto* socket = new QUdpSocket(m_run);
    // On the loopback profile the device port is shared with other simulators and test peers on this
    // machine (the program itself never binds it).
    const PortSharing sharing = m_profile.loopback ? PortSharing::Shared : PortSharing::Exclusive;
    const QString problem = bindUdp(*socket, QHostAddress(address), m_profile.devicePort, sharing);
    if (!problem.isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot %1").arg(problem);
        delete socket;
        return nullptr;
    }
    sizeReceiveBuffer(*socket, bufferBytes);
    return socket;
}

void SimEngine::listen(QUdpSocket* socket, int index)
{
    QObject::connect(socket, &QUdpSocket::readyRead, m_run, [this, socket, index] { readSocket(socket, index); });
}

void SimEngine::syncAliases(int index)
{
    Slot& slot = *m_slots[static_cast<std::size_t>(index)];
    if (!m_run || !slot.home)
        return;
    std::set<std::uint32_t> wanted;
    const auto consider = [&](std::uint32_t address) {
        if (address != slot.device.address && isUsableAddress(address) && m_owners.value(address, index) == index)
            wanted.insert(address);
    };
    const EnvRecord& record = slot.device.record;
    consider(record.ipAddress());
    for (int p = 0; record.multiIp() && p < EnvRecord::kPortCount; ++p)
        consider(record.port(p).localIp());

    for (auto it = slot.aliases.begin(); it != slot.aliases.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        m_owners.remove(it->first);
        it->second->close();
        it->second->deleteLater(); // it may be the socket whose datagram is being handled
        it = slot.aliases.erase(it);
    }
    for (std::uint32_t address : wanted) {
        if (slot.aliases.count(address))
            continue;
        // An address this machine does not carry cannot be bound; the device then answers elsewhere.
        if (QUdpSocket* socket = openSocket(address, kDeviceBufferBytes, nullptr)) {
            slot.aliases[address] = socket;
            m_owners.insert(address, index);
            listen(socket, index);
        }
    }
}

bool SimEngine::isUsableAddress(std::uint32_t address) const
{
    if (m_profile.loopback) {
        // Never the program's 127.0.0.1, the network address or the loopback broadcast address.
        return (address & 0xFF000000) == kLoopbackNet && address != kLoopbackNet && address != kLoopbackClient &&
               address != NetworkProfile::kLoopbackBroadcast;
    }
    const std::uint32_t first = address >> 24;
    return address != 0 && address != NetworkProfile::kLimitedBroadcast && (first < 224 || first > 239);
}

void SimEngine::readSocket(QUdpSocket* socket, int index)
{
    const QObject* run = m_run;
    ++m_busy;
    // A bounded slice per notification: under a flood of datagrams the event loop (timers, delayed
    // replies, other sockets) keeps running; what is left raises the next notification.
    QElapsedTimer slice;
    slice.start();
    for (int taken = 0; run && m_run == run && socket->hasPendingDatagrams(); ++taken) {
        if (taken >= kDatagramsPerNotification || (taken > 0 && slice.elapsed() >= kReadSliceMs))
            break;
        const QNetworkDatagram datagram = socket->receiveDatagram();
        if (!datagram.isValid())
            continue;
        const Sender from{datagram.senderAddress().toIPv4Address(), static_cast<std::uint16_t>(datagram.senderPort())};
        handleDatagram(datagram.data(), from, index, socket);
    }
    --m_busy;
}

void SimEngine::handleDatagram(const QByteArray& bytes, const Sender& from, int index, QUdpSocket* via)
{
    const std::optional<frame::Frame> request = sim::acceptDatagram(bytes);
    if (!request || !sim::isKnownCommand(*request)) {
        emit m_owner.datagramRejected();
        return;
    }
    const QByteArray key = ReplyMemory::key(QByteArrayView(bytes).first(frame::kOffBody), from.address, from.port);
    if (index >= 0) {
        serve(index, *request, key, sim::Arrival::Unicast, from, via);
        return;
    }
    const QObject* run = m_run;
    for (int i = 0; m_run == run && i < deviceCount(); ++i)
        serve(i, *request, key, sim::Arrival::Broadcast, from, replySocket(*m_slots[static_cast<std::size_t>(i)]));
}

void SimEngine::serve(int index, const frame::Frame& request, const QByteArray& key, sim::Arrival arrival,
                      const Sender& from, QUdpSocket* via)
{
    Slot& slot = *m_slots[static_cast<std::size_t>(index)];
    if (!sim::isAddressed(slot.device, request, arrival))
        return;
    const int command = request[frame::kOffCommand];
    const qint64 now = m_clock.elapsed();
    const bool changesDevice = command == frame::kWrite || command == frame::kChangePassword;
    // The second copy of a request: the same answer again, nothing done again (unless the device is made
    // to forget, as some devices do).
    const bool remembers = !(changesDevice && m_faults.actOnEveryCopy);
    if (const std::optional<QByteArray> earlier = remembers ? slot.memory.find(key, now) : std::nullopt) {
        if (!earlier->isEmpty())
            send(via, *earlier, from);
        emit m_owner.requestHandled(index, command);
        return;
    }
    SimDevice& device = slot.device;
    if (device.liveStatus)
        sim::addToCounter(device.statusItems, sim::kStatusLanRx, 1);
    if (m_faults.dropShare > 0 && m_random.generateDouble() < m_faults.dropShare) {
        slot.memory.remember(key, QByteArray(), now);
        emit m_owner.requestHandled(index, command);
        return;
    }
    if (command == frame::kStatus && device.liveStatus)
        refreshStatus(index);
    const sim::Answer answer = sim::answerRequest(device, request, m_faults);
    const bool silent = changesDevice && m_faults.silentWrites;
    slot.memory.remember(key, silent ? QByteArray() : answer.reply, now);
    if (!silent)
        send(via, answer.reply, from, true);
    if (device.liveStatus)
        sim::addToCounter(device.statusItems, sim::kStatusLanTx, 1);
    if (answer.changed) {
        saveState();
        syncAliases(index);
        emit m_owner.recordChanged(index);
    }
    emit m_owner.requestHandled(index, command);
}

QUdpSocket* SimEngine::replySocket(const Slot& slot) const
{
    // A device answers a broadcast from its current address when it listens there.
    const auto alias = slot.aliases.find(slot.device.record.ipAddress());
    return alias != slot.aliases.end() ? alias->second : slot.home;
}

void SimEngine::send(QUdpSocket* via, const QByteArray& reply, const Sender& to, bool first)
{
    if (!via || !m_run)
        return;
    const QHostAddress address(to.address);
    if (m_faults.delayMs <= 0) {
        via->writeDatagram(reply, address, to.port);
        return;
    }
    if (first)
        emit m_owner.answersWaiting(++m_waiting);
    QTimer::singleShot(m_faults.delayMs, m_run,
                       [this, first, socket = QPointer<QUdpSocket>(via), reply, address, port = to.port] {
                           if (socket && socket->state() == QAbstractSocket::BoundState)
                               socket->writeDatagram(reply, address, port);
                           if (first)
                               emit m_owner.answersWaiting(--m_waiting);
                       });
}

qint64 SimEngine::sinceStart(const Slot& slot) const
{
    const qint64 restartMs = slot.device.traffic.restartEveryMs;
    const qint64 ms = m_clock.elapsed() - slot.startedAtMs;
    return restartMs > 0 ? ms % restartMs : ms;
}

void SimEngine::restartDevice(int index)
{
    m_slots.at(static_cast<std::size_t>(index))->startedAtMs = m_clock.elapsed();
}

void SimEngine::refreshStatus(int index)
{
    Slot& slot = *m_slots[static_cast<std::size_t>(index)];
    SimDevice& device = slot.device;
    // One look at the device's clock, in its uptime's hundredths, for the uptime and the counters alike.
    const qint64 hundredths = sinceStart(slot) / 10;
    const qint64 ms = hundredths * 10;
    sim::refreshStatusItems(device.statusItems, device.record,
                            slot.uptimeBase + static_cast<std::uint32_t>(hundredths));
    if (m_serialCounters) {
        // What the serial side really carried, on top of the counters' starting values (and rates).
        const std::array<std::uint64_t, 8> carried = m_serialCounters(index);
        std::array<std::uint32_t, 8> start = slot.counterStart;
        for (std::size_t i = 0; i < start.size(); ++i) {
            start[i] += static_cast<std::uint32_t>(carried[i]); // wraps at 2^32 as a device's counter does
            sim::writeU32Item(device.statusItems, static_cast<std::uint8_t>(sim::kStatusComRx + i), start[i]);
        }
        sim::applyTraffic(device.statusItems, device.traffic, start, ms);
    } else if (device.traffic.rates.empty()) {
        sim::advanceSerialCounters(device.statusItems);
    } else {
        sim::applyTraffic(device.statusItems, device.traffic, slot.counterStart, ms);
    }
}

bool SimEngine::setStateFile(const QString& path, QString* error)
{
    const std::optional<std::vector<EnvRecord>> records = sim::loadState(path, error);
    if (!records)
        return false;
    m_statePath = path;
    m_storedRecords.clear();
    for (const EnvRecord& record : *records)
        m_storedRecords[record.mac()] = record;
    for (int i = 0; i < deviceCount(); ++i) {
        applyStoredRecord(*m_slots[static_cast<std::size_t>(i)]);
        syncAliases(i);
    }
    return true;
}

void SimEngine::applyStoredRecord(Slot& slot)
{
    const auto stored = m_storedRecords.find(slot.device.record.mac());
    if (stored != m_storedRecords.end())
        slot.device.record = stored->second;
}

void SimEngine::saveState()
{
    if (m_statePath.isEmpty())
        return;
    std::vector<EnvRecord> records;
    std::set<Mac> present;
    for (const auto& slot : m_slots) {
        records.push_back(slot->device.record);
        present.insert(slot->device.record.mac());
    }
    // Devices of the file that this run does not simulate keep their records.
    for (const auto& [mac, record] : m_storedRecords) {
        if (!present.count(mac))
            records.push_back(record);
    }
    QString error;
    if (!sim::saveState(m_statePath, records, &error))
        qWarning("tessel-sim: %s", qPrintable(error));
}
