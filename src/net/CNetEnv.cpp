#include "CNetEnv.h"

#include "protocol/SocketOptions.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutex>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QUdpSocket>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {
constexpr std::uint32_t kHighestRandomWord = 32767;
constexpr std::uint16_t kLowestRandomLocalPort = 1024;
constexpr std::uint16_t kHighestRandomLocalPort = 32767;
// One receive notification takes at most this many datagrams, or reads for at most this long, and then
// lets the event loop run: a flood of datagrams must not keep the owner's wait timer from ticking.
constexpr int kDatagramsPerNotification = 64;
constexpr qint64 kReadSliceMs = 5;
// The most receive buffer an endpoint with a large table asks for.
constexpr int kLargestReplyBufferBytes = 64 * 1024 * 1024;

std::uint32_t randomWord()
{
    return QRandomGenerator::global()->bounded(kHighestRandomWord + 1);
}

std::uint64_t headerWords(const frame::Frame& f)
{
    return frame::readLe32(f.data() + frame::kOffRandom1) |
           std::uint64_t{frame::readLe32(f.data() + frame::kOffRandom2)} << 32;
}

bool isMulticast(std::uint32_t address)
{
    const std::uint32_t first = address >> 24;
    return first >= 224 && first <= 239;
}

/** The local ports the last unicast exchanges of this process ran on. A new exchange draws another, so
 *  that a late answer to one of them, still on its way to its closed port, cannot reach the new one. */
class RecentPorts
{
public:
    bool contains(std::uint16_t port)
    {
        const QMutexLocker lock(&m_mutex);
        return std::find(m_ports.begin(), m_ports.end(), port) != m_ports.end();
    }
    void add(std::uint16_t port)
    {
        const QMutexLocker lock(&m_mutex);
        m_ports[m_next] = port;
        m_next = (m_next + 1) % m_ports.size();
    }

private:
    QMutex m_mutex;
    std::array<std::uint16_t, 16> m_ports{};
    std::size_t m_next = 0;
};

RecentPorts& recentUnicastPorts()
{
    static RecentPorts ports;
    return ports;
}

constexpr int kUnicastBindAttempts = 4;
} // namespace

CNetEnv::CNetEnv(const NetworkProfile& profile, QObject* parent) : CNetEnv(profile, kTableSize, parent) {}

CNetEnv::CNetEnv(const NetworkProfile& profile, int tableSize, QObject* parent)
    : QObject(parent), m_profile(profile), m_tableSize(std::max(1, tableSize)),
      m_table(new (std::nothrow) EnvRecord[static_cast<std::size_t>(m_tableSize)]), m_limit(m_tableSize)
{
}

CNetEnv::~CNetEnv()
{
    Close();
}

void CNetEnv::ResetRecord(EnvRecord& record)
{
    record = EnvRecord::defaultRecord();
}

void CNetEnv::reset()
{
    Close();
    m_request.fill(0);
    m_reply.fill(0);
    m_statusData.fill(0);
    m_command = 0;
    m_flags = 0;
    m_answered = 0;
    setCount(0);
    m_limit = m_tableSize;
    m_targetAddress = 0;
    m_openError.clear();
    m_answerMac.reset();
    m_requestWords.reset();
    m_earlierCount = 0;
    m_arrivalInterface = 0;
}

bool CNetEnv::openSocket(std::uint32_t bindAddress, std::uint16_t port, PortSharing sharing)
{
    Close();
    m_socket = new QUdpSocket(this);
    const QHostAddress address = bindAddress ? QHostAddress(bindAddress) : QHostAddress(QHostAddress::AnyIPv4);
    m_openError = bindUdp(*m_socket, address, port, sharing);
    if (!m_openError.isEmpty()) {
        Close();
        return false;
    }
    sizeReceiveBuffer(*m_socket, replyBufferBytes());
    connect(m_socket, &QUdpSocket::readyRead, this, &CNetEnv::OnReceive);
    m_command = 0;
    m_flags = 0;
    m_answered = 0;
    m_answerMac.reset();
    return true;
}

bool CNetEnv::OpenLocal(std::uint32_t bindAddress)
{
    // A broadcast socket shares its port with nobody, on either profile. Devices answer to the port a
    // request came from, so a socket sharing its port would hand some of its answers to the other one;
    // and with port sharing allowed the system may choose, for port 0, a port another such socket holds
    // (many exchanges side by side then lose an answer now and then).
    if (bindAddress != 0) {
        // A bound endpoint takes a random local port; if that one is taken the system chooses.
        const auto port = static_cast<std::uint16_t>(
            QRandomGenerator::global()->bounded(kLowestRandomLocalPort, kHighestRandomLocalPort + 1));
        if (openSocket(bindAddress, port, PortSharing::Exclusive))
            return true;
    }
    return openSocket(bindAddress, 0, PortSharing::Exclusive);
}

bool CNetEnv::OpenEveryAdapter(const QList<LocalAdapter>& adapters)
{
    Close();
    QStringList failures;
    for (const LocalAdapter& adapter : adapters) {
        // The first adapter's socket is the endpoint's own; the others are opened beside it.
        if (!m_socket) {
            if (!OpenLocal(adapter.address))
                failures << QStringLiteral("%1: %2").arg(adapter.name, m_openError);
            continue;
        }
        auto* socket = new QUdpSocket(this);
        if (const QString error = bindAdapterSocket(*socket, adapter.address); !error.isEmpty()) {
            delete socket;
            failures << QStringLiteral("%1: %2").arg(adapter.name, error);
            continue;
        }
        m_moreSockets.append(socket);
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] { drain(socket); });
    }
    if (!m_socket) {
        m_openError = adapters.isEmpty() ? QStringLiteral("no network adapter is up with an IPv4 address")
                                         : failures.join(QStringLiteral("; "));
        return false;
    }
    // An adapter that could not be bound is left out; the others still reach their LANs.
    m_openError.clear();
    return true;
}

bool CNetEnv::OpenEveryAdapter()
{
    return OpenEveryAdapter(broadcastAdapters(m_profile));
}

QString CNetEnv::bindAdapterSocket(QUdpSocket& socket, std::uint32_t address)
{
    // Shared with nobody, as OpenLocal's socket.
    const PortSharing sharing = PortSharing::Exclusive;
    const auto port = static_cast<std::uint16_t>(
        QRandomGenerator::global()->bounded(kLowestRandomLocalPort, kHighestRandomLocalPort + 1));
    QString error = bindUdp(socket, QHostAddress(address), port, sharing);
    if (!error.isEmpty())
        error = bindUdp(socket, QHostAddress(address), 0, sharing);
    if (error.isEmpty())
        sizeReceiveBuffer(socket, replyBufferBytes());
    return error;
}

int CNetEnv::openSocketCount() const
{
    return m_socket ? 1 + static_cast<int>(m_moreSockets.size()) : 0;
}

bool CNetEnv::OpenRemote(std::uint32_t deviceAddress)
{
    if (!openUnicastSocket())
        return false;
    // Failures of these options are not fatal: the request may still reach the device.
    if (isMulticast(deviceAddress))
        m_socket->joinMulticastGroup(QHostAddress(deviceAddress));
    return true;
}

std::uint16_t CNetEnv::drawUnicastPort() const
{
    for (;;) {
        const auto port = static_cast<std::uint16_t>(
            QRandomGenerator::global()->bounded(kLowestRandomLocalPort, kHighestRandomLocalPort + 1));
        if (port != m_profile.devicePort && !recentUnicastPorts().contains(port))
            return port;
    }
}

bool CNetEnv::openUnicastSocket()
{
    // Each unicast exchange runs on a fresh local port of its own, never on the device port, and shares
    // it with nobody. Devices answer to the request's source address and port, so an answer that comes
    // late (or the answer to the second copy of a request) goes to the closed port of the exchange it
    // belongs to and can never be taken as the answer to a later request.
    bool opened = openSocket(0, drawUnicastPort(), PortSharing::Exclusive);
    // The random port is taken: the system chooses one, which must be neither the device port nor the
    // port of a recent exchange.
    for (int attempt = 0; !opened && attempt < kUnicastBindAttempts; ++attempt) {
        opened = openSocket(0, 0, PortSharing::Exclusive);
        if (opened && (localPort() == m_profile.devicePort || recentUnicastPorts().contains(localPort()))) {
            Close();
            opened = false;
            m_openError = QStringLiteral("no local port apart from the device port and recent exchanges' ports");
        }
    }
    if (opened)
        recentUnicastPorts().add(localPort());
    return opened;
}

void CNetEnv::Close()
{
    const QList<QUdpSocket*> more = std::exchange(m_moreSockets, {});
    for (QUdpSocket* socket : more) {
        socket->close();
        delete socket;
    }
    if (m_socket) {
        m_socket->close();
        delete m_socket;
        m_socket = nullptr;
    }
}

bool CNetEnv::isOpen() const
{
    return m_socket != nullptr;
}

std::uint16_t CNetEnv::localPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void CNetEnv::SendBroadcast()
{
    const auto [random1, random2] = beginRequest();
    frame::BuildRequest(m_request, static_cast<std::uint8_t>(frame::kFlagsBroadcastRequest | m_flags),
                        static_cast<std::uint8_t>(m_command), random1, random2);
    sendTwice(m_profile.broadcastAddress, m_profile.broadcastPort());
}

void CNetEnv::SendUnicast(std::uint32_t deviceAddress)
{
    const auto [random1, random2] = beginRequest();
    frame::BuildRequest(m_request, static_cast<std::uint8_t>(frame::kFlagsUnicastRequest | m_flags),
                        static_cast<std::uint8_t>(m_command), random1, random2);
    m_targetAddress = deviceAddress;
    sendTwice(deviceAddress, m_profile.devicePort);
}

std::pair<std::uint32_t, std::uint32_t> CNetEnv::beginRequest()
{
    if (m_requestWords) {
        std::copy_backward(m_earlierWords.begin(), m_earlierWords.end() - 1, m_earlierWords.end());
        m_earlierWords[0] = *m_requestWords;
        m_earlierCount = std::min(m_earlierCount + 1, kEarlierRequests);
    }
    const std::uint64_t* earlier = m_earlierWords.data();
    std::uint32_t random1 = 0;
    std::uint32_t random2 = 0;
    do {
        random1 = randomWord();
        random2 = randomWord();
    } while (std::find(earlier, earlier + m_earlierCount, random1 | std::uint64_t{random2} << 32) !=
             earlier + m_earlierCount);
    m_requestWords = random1 | std::uint64_t{random2} << 32;
    m_answered = 0;
    m_laterAnswers = 0;
    m_answerMac.reset();
    return {random1, random2};
}

bool CNetEnv::answersEarlierRequest(const frame::Frame& reply) const
{
    const std::uint64_t words = headerWords(reply);
    if (words == m_requestWords)
        return false;
    const std::uint64_t* earlier = m_earlierWords.data();
    return std::find(earlier, earlier + m_earlierCount, words) != earlier + m_earlierCount;
}

void CNetEnv::sendTwice(std::uint32_t address, std::uint16_t port)
{
    if (!m_socket)
        return;
    const QByteArray bytes(reinterpret_cast<const char*>(m_request.data()), frame::kFrameSize);
    const QHostAddress destination(address);
    // Send errors are not reported: a lost request shows up as a missing answer. With a socket per
    // adapter, each copy leaves from every adapter before the pause.
    const auto sendCopy = [&] {
        for (QUdpSocket* socket : QList<QUdpSocket*>{m_socket} + m_moreSockets) {
            if (socket)
                socket->writeDatagram(bytes, destination, port);
        }
    };
    sendCopy();
    pauseBetweenCopies();
    if (m_socket)
        sendCopy();
}

void CNetEnv::pauseBetweenCopies()
{
    // The pause blocks the caller, but replies to the first copy are taken in meanwhile, so a burst of
    // answers cannot overflow the socket's buffer while nobody reads it.
    QElapsedTimer clock;
    clock.start();
    qint64 left = kPauseBetweenCopiesMs;
    while (left > 0 && m_socket) {
        // With further adapter sockets the wait is sliced, so that their replies are taken in too.
        const int wait = m_moreSockets.isEmpty() ? static_cast<int>(left) : 1;
        if (m_socket->waitForReadyRead(wait))
            OnReceive();
        for (QUdpSocket* socket : QList<QUdpSocket*>(m_moreSockets)) {
            if (isOpenSocket(socket) && socket->hasPendingDatagrams())
                drain(socket);
        }
        left = kPauseBetweenCopiesMs - clock.elapsed();
    }
}

void CNetEnv::setLimit(int limit)
{
    m_limit = std::clamp(limit, 0, m_tableSize);
}

int CNetEnv::replyBufferBytes() const
{
    // Sized for the table: every device may answer both copies of a search at once.
    const qint64 scaled = qint64{kReplyBufferBytes} * m_tableSize / kTableSize;
    return static_cast<int>(std::clamp<qint64>(scaled, kReplyBufferBytes, kLargestReplyBufferBytes));
}

void CNetEnv::OnReceive()
{
    drain(m_socket);
}

bool CNetEnv::isOpenSocket(const QUdpSocket* socket) const
{
    // A merge may make the owner close the endpoint, which deletes its sockets.
    return socket && (socket == m_socket || m_moreSockets.contains(socket));
}

void CNetEnv::drain(QUdpSocket* socket)
{
    // Datagrams still waiting after this slice raise the next notification once the event loop has run.
    QElapsedTimer slice;
    slice.start();
    for (int taken = 0; isOpenSocket(socket) && socket->hasPendingDatagrams(); ++taken) {
        if (taken >= kDatagramsPerNotification || (taken > 0 && slice.elapsed() >= kReadSliceMs))
            break;
        const qint64 size = socket->pendingDatagramSize();
        QNetworkDatagram datagram = socket->receiveDatagram(size < 0 ? 0 : size);
        // A failed read, or a datagram longer than a receiver takes, is dropped.
        if (size <= 0 || size > static_cast<qint64>(frame::kMaxDatagram) || !datagram.isValid())
            continue;
        m_arrivalInterface = static_cast<int>(datagram.interfaceIndex());
        receiveDatagram(datagram.data(), datagram.senderAddress().toIPv4Address());
    }
}

QString CNetEnv::interfaceName(int index)
{
    if (index <= 0)
        return {};
    auto it = m_interfaceNames.find(index);
    if (it == m_interfaceNames.end())
        it = m_interfaceNames.insert(index, QNetworkInterface::interfaceNameFromIndex(index));
    return *it;
}

void CNetEnv::setCount(int count)
{
    m_count = count;
    if (count == 0) {
        m_heardOn.clear();
        m_unheld.clear();
    }
}

QString CNetEnv::heardOn(const EnvRecord& record) const
{
    Mac mac{};
    std::copy_n(record.data(), mac.size(), mac.begin());
    const auto it = m_heardOn.find(mac);
    return it == m_heardOn.end() ? QString() : it->second;
}

void CNetEnv::receiveDatagram(const QByteArray& datagram, std::uint32_t sender)
{
    // A datagram shorter than a frame is dropped: its missing bytes are never taken from an earlier one.
    if (datagram.size() < static_cast<qsizetype>(frame::kFrameSize) || !m_table)
        return;
    // A full table takes nothing more; a search still counts the devices it could not hold.
    if (m_count >= m_limit && m_command != frame::kSearch)
        return;
    frame::Frame candidate;
    std::memcpy(candidate.data(), datagram.constData(), frame::kFrameSize);
    if (!frame::AcceptReply(candidate) || answersEarlierRequest(candidate))
        return;
    if (m_count >= m_limit) {
        countUnheld(candidate);
        return;
    }
    const EnvRecord received(candidate.data() + frame::kOffBody);
    // The first answer to a write or a password change decides. A device that acts on both copies of the
    // request answers the second too, perhaps otherwise (the new password no longer matches the old one
    // the request carries): that later answer is counted and dropped, never taken as the result.
    if (m_answered && (m_command == frame::kWrite || m_command == frame::kChangePassword) &&
        !isStrayAfterAnswer(candidate)) {
        ++m_laterAnswers;
        emit replyAccepted(-1);
        return;
    }
    // After the answer, a reply from another device is a stray (e.g. meant for another program on a shared
    // port). A write, password change or status answer is never replaced by it; a read by IP may still
    // list further devices (a directed broadcast reaches several), but the answer read stays the first.
    const bool stray = isStrayAfterAnswer(candidate);
    const Merge merged =
        stray && m_command != frame::kRead ? Merge{Merge::Ignored, -1} : merge(candidate, received, sender);
    if (merged.outcome == Merge::Ignored || stray) {
        emit replyAccepted(merged.index);
        return;
    }
    // Only a reply that is taken (stored, or a repeat of the device's answer) replaces the reply frame, so
    // a stray reply from another device cannot change the result and record the caller reads.
    m_reply = candidate;
    if (m_answered && !m_answerMac)
        m_answerMac = headerMac(candidate);
    const int stored = merged.index;
    if (stored >= 0) {
        Mac mac{};
        std::copy_n(received.data(), mac.size(), mac.begin());
        m_heardOn[mac] = interfaceName(m_arrivalInterface);
    }
    if (m_command == frame::kStatus && stored >= 0) {
        m_statusData.fill(0);
        const auto extra = std::min<qsizetype>(datagram.size() - static_cast<qsizetype>(frame::kFrameSize),
                                               static_cast<qsizetype>(frame::kMaxStatusItems));
        std::memcpy(m_statusData.data(), datagram.constData() + frame::kFrameSize, static_cast<std::size_t>(extra));
    }
    emit replyAccepted(stored);
}

CNetEnv::Merge CNetEnv::merge(const frame::Frame& reply, const EnvRecord& received, std::uint32_t sender)
{
    if (m_command == frame::kSearch) {
        if (findByMac(received) >= 0)
            return {Merge::Repeated, -1};
        m_table[m_count] = received;
        return {Merge::Stored, m_count++};
    }
    // The unicast rules answer a unicast request only: the same bit on a reply to a broadcast request
    // (a stray of another exchange) must not make another device's answer the one asked for by MAC.
    if ((reply[frame::kOffFlags] & frame::kFlagUnicast) && (m_request[frame::kOffFlags] & frame::kFlagUnicast)) {
        m_answered = 1;
        if (m_command == frame::kRead)
            return mergeUnicastRead(received, sender);
        int index = findByIpAddress(received.ipAddress());
        if (index < 0)
            index = storeAsOnly(received);
        else
            m_table[index] = received;
        m_table[index].setSourceAddress(sender);
        return {Merge::Stored, index};
    }
    // Broadcast exchange: a reply from another device than the one addressed is not ours.
    if (!std::equal(reply.begin() + frame::kOffMac, reply.begin() + frame::kOffMac + 6,
                    m_request.begin() + frame::kOffMac))
        return {Merge::Ignored, -1};
    m_answered = 1;
    const int index = findByMac(received);
    if (index < 0)
        return {Merge::Stored, storeAsOnly(received)};
    m_table[index] = received;
    return {Merge::Stored, index};
}

CNetEnv::Merge CNetEnv::mergeUnicastRead(const EnvRecord& received, std::uint32_t sender)
{
    // The same device answering both copies of the request is listed once: a record with its MAC is
    // already there (a multi-IP device asked at its main address matches none of its port addresses).
    if (findByMac(received) >= 0)
        return {Merge::Repeated, -1};
    for (int i = 0; i < m_count; ++i) {
        const EnvRecord& r = m_table[i];
        if (!received.multiIp() && r.ipAddress() == received.ipAddress())
            return {Merge::Repeated, -1};
        for (int p = 0; received.multiIp() && p < EnvRecord::kPortCount; ++p) {
            if (r.port(p).localIp() == m_targetAddress)
                return {Merge::Repeated, -1};
        }
    }
    m_table[m_count] = received;
    m_table[m_count].setSourceAddress(sender);
    return {Merge::Stored, m_count++};
}

void CNetEnv::countUnheld(const frame::Frame& reply)
{
    const EnvRecord received(reply.data() + frame::kOffBody);
    if (static_cast<int>(m_unheld.size()) >= kUnheldCounted || findByMac(received) >= 0)
        return;
    Mac mac{};
    std::copy_n(received.data(), mac.size(), mac.begin());
    m_unheld.insert(mac);
}

CNetEnv::Mac CNetEnv::headerMac(const frame::Frame& frame)
{
    Mac mac{};
    std::copy_n(frame.begin() + frame::kOffMac, mac.size(), mac.begin());
    return mac;
}

bool CNetEnv::isStrayAfterAnswer(const frame::Frame& reply) const
{
    return m_command != frame::kSearch && m_answerMac && headerMac(reply) != *m_answerMac;
}

int CNetEnv::storeAsOnly(const EnvRecord& received)
{
    m_table[0] = received;
    m_count = 1;
    return 0;
}

int CNetEnv::findByIpAddress(std::uint32_t ip) const
{
    for (int i = 0; i < m_count; ++i) {
        if (m_table[i].ipAddress() == ip)
            return i;
    }
    return -1;
}

int CNetEnv::findByMac(const EnvRecord& received) const
{
    for (int i = 0; i < m_count; ++i) {
        if (std::equal(m_table[i].data(), m_table[i].data() + 6, received.data()))
            return i;
    }
    return -1;
}

void CNetEnv::sortByMac()
{
    std::stable_sort(m_table.get(), m_table.get() + m_count, [](const EnvRecord& a, const EnvRecord& b) {
        return std::lexicographical_compare(a.data(), a.data() + 6, b.data(), b.data() + 6);
    });
}
