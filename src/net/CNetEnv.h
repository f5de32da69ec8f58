#pragma once

#include "net/LocalAdapters.h"
#include "protocol/Codec.h"
#include "protocol/NetworkProfile.h"
#include "protocol/SocketOptions.h"
#include "record/EnvRecord.h"

#include <QObject>

#include <QHash>
#include <QList>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

class QUdpSocket;

/**
 * The UDP endpoint of the device protocol. It opens a socket for broadcast requests (OpenLocal) or for
 * unicast requests (OpenRemote), sends one request frame at a time, twice, and merges the records of
 * accepted replies into a table of 256 records (or of the size its owner asks for). Owners drive it in a
 * fixed pattern: open, zero the request frame and fill its body, set the command (and count/limit for a
 * search), send, poll answered() and count() from a timer, Close.
 *
 * Addresses are host-order numbers (10.1.0.1 is 0x0A010001); the records keep them in network order.
 */
class CNetEnv : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTableSize = 256;
    static constexpr int kPauseBetweenCopiesMs = 10;
    /** How many requests sent before the one in progress are remembered, so that their late replies are
     *  recognised as theirs. */
    static constexpr int kEarlierRequests = 8;

    /** How many devices that answered a search beyond a full table are counted (unheld()); further ones
     *  are not, so a flood of made-up MACs cannot grow the count's memory without end. */
    static constexpr int kUnheldCounted = 65536;

    explicit CNetEnv(const NetworkProfile& profile = NetworkProfile::real(), QObject* parent = nullptr);
    /** An endpoint whose device table holds `tableSize` records (at least 1) instead of 256: the command
     *  line's searches hold far more devices than the search window's list. */
    CNetEnv(const NetworkProfile& profile, int tableSize, QObject* parent = nullptr);
    ~CNetEnv() override;

    /** Clears a record to the default record. */
    static void ResetRecord(EnvRecord& record);

    /** Returns the endpoint to its state after construction: closed, request and reply frames and status
     *  data zero, no command, not answered, count 0, limit the table's size, no target, no request
     *  remembered. The table's records keep their bytes (only the first count() are ever read). */
    void reset();

    /** Opens a socket for broadcast requests, bound to `bindAddress` (0: any address) at a random local
     *  port. Clears command, flags and answered. False when the socket cannot be opened. */
    bool OpenLocal(std::uint32_t bindAddress);
    /** Opens one socket for broadcast requests per adapter, each bound to the adapter's address at a
     *  random local port: SendBroadcast then sends from every one of them, and the replies they receive
     *  merge into the one table by the usual rules (a device heard on two adapters is stored once).
     *  Adapters whose socket cannot be bound are left out; false when none could be opened (openError()
     *  names each failure, or that there was no adapter). */
    bool OpenEveryAdapter(const QList<LocalAdapter>& adapters);
    /** OpenEveryAdapter on broadcastAdapters() of the endpoint's profile. */
    bool OpenEveryAdapter();
    /** How many sockets the endpoint has open: 1 after OpenLocal or OpenRemote, one per adapter after
     *  OpenEveryAdapter, 0 when closed. */
    int openSocketCount() const;
    /** Opens a socket for unicast requests on any local address, at a local port of this exchange's own:
     *  a random one 1024-32767, or one the system chooses when that is taken; never the device port nor
     *  the port of one of the process's recent unicast exchanges, and shared with no other socket. Joins
     *  the group of a multicast device address. Clears command, flags and answered. */
    bool OpenRemote(std::uint32_t deviceAddress);
    /** Completes the request frame as a broadcast request and sends it twice, 10 ms apart, to the
     *  profile's broadcast destination. Each request is a new one: answered is cleared, and its two
     *  random header words differ from those of the requests remembered before it. */
    void SendBroadcast();
    /** Completes the request frame as a unicast request, remembers the target address and sends it
     *  twice, 10 ms apart, to the device port of `deviceAddress`. A new request, as SendBroadcast. */
    void SendUnicast(std::uint32_t deviceAddress);
    /** Reads and merges the datagrams waiting on the socket: a bounded number per notification, so that a
     *  flood of datagrams leaves the event loop (and the owner's wait timer) running; the rest raise the
     *  next notification. */
    void OnReceive();
    /** Checks and merges one datagram from `sender` (host order), as OnReceive does with each datagram it
     *  reads: shorter than a frame or failing the checks, it changes nothing. Nor does a reply that
     *  carries the random header words of one of the last kEarlierRequests requests instead of the
     *  current one's: a device that echoes them (as the simulator does) marks a late reply to an earlier
     *  request, which must never answer this one. */
    void receiveDatagram(const QByteArray& datagram, std::uint32_t sender);
    void Close();
    bool isOpen() const;
    /** The local port of the (first) open socket; 0 when closed. */
    std::uint16_t localPort() const;
    /** Why the last open failed: what was bound and the system's reason, e.g. "bind 0.0.0.0 port 50005:
     *  [98] Address already in use". Empty after a successful open. */
    const QString& openError() const { return m_openError; }

    frame::Frame& requestFrame() { return m_request; }
    const frame::Frame& replyFrame() const { return m_reply; }
    /** The request body (604 bytes); its first 512 bytes are the record sent. */
    std::uint8_t* requestBody() { return m_request.data() + frame::kOffBody; }
    /** The reply body's record as last accepted or received. */
    EnvRecord replyRecord() const { return EnvRecord(m_reply.data() + frame::kOffBody); }
    std::uint8_t replyResult() const { return m_reply[frame::kOffResult]; }

    /** False when the device table could not be allocated. */
    bool hasTable() const { return m_table != nullptr; }
    /** How many records the table holds: 256 unless the endpoint was made with another size. */
    int tableSize() const { return m_tableSize; }
    EnvRecord& record(int index) { return m_table[index]; }
    const EnvRecord& record(int index) const { return m_table[index]; }

    const std::array<std::uint8_t, frame::kStatusDataSize>& statusData() const { return m_statusData; }

    int command() const { return m_command; }
    void setCommand(int command) { m_command = command; }
    int answered() const { return m_answered; }
    /** Answers to a write or password change after the first one, dropped (the first decides). */
    int laterAnswers() const { return m_laterAnswers; }
    int count() const { return m_count; }
    /** Setting the count to 0 restarts the table, and with it what heardOn() and unheld() know. */
    void setCount(int count);
    int limit() const { return m_limit; }
    /** Replies are ignored once count has reached the limit; it is kept within 0..tableSize(). */
    void setLimit(int limit);
    /** How many further devices (distinct MACs, none of them in the table) answered the search after the
     *  table had reached its limit, since the table last restarted; at most kUnheldCounted. */
    int unheld() const { return static_cast<int>(m_unheld.size()); }
    std::uint32_t targetAddress() const { return m_targetAddress; }
    const NetworkProfile& profile() const { return m_profile; }

    /** Sorts the first count() records by MAC, ascending, bytes compared unsigned. */
    void sortByMac();

    /** The name of the local adapter ("eth0") on which the reply that stored the record with this
     *  record's MAC arrived since the table last restarted; empty when none did. */
    QString heardOn(const EnvRecord& record) const;

signals:
    /** A reply was accepted and merged (or ignored as a duplicate); index is the stored record or -1. */
    void replyAccepted(int index);

private:
    /** The receive buffer asked for each socket: kReplyBufferBytes for 256 records, more for a larger table. */
    int replyBufferBytes() const;
    /** Remembers a search answer that came when the table was full, unless its device is in the table. */
    void countUnheld(const frame::Frame& reply);
    bool openSocket(std::uint32_t bindAddress, std::uint16_t port, PortSharing sharing);
    /** A random local port for a unicast exchange: not the device port, not a recent exchange's port. */
    std::uint16_t drawUnicastPort() const;
    bool openUnicastSocket();
    /** Binds a further broadcast socket of OpenEveryAdapter; the error text, or empty. */
    QString bindAdapterSocket(QUdpSocket& socket, std::uint32_t address);
    /** Reads and merges a bounded number of the datagrams waiting on one of the open sockets. */
    void drain(QUdpSocket* socket);
    bool isOpenSocket(const QUdpSocket* socket) const;
    QString interfaceName(int index);
    /** Starts a new request: remembers the one in progress as an earlier one, clears answered and the
     *  answer taken, and draws header words that no remembered request carries. */
    std::pair<std::uint32_t, std::uint32_t> beginRequest();
    /** A reply carrying the header words of an earlier request rather than the current one's. */
    bool answersEarlierRequest(const frame::Frame& reply) const;
    void sendTwice(std::uint32_t address, std::uint16_t port);
    void pauseBetweenCopies();
    /** What became of an accepted reply: stored at index, a repeat of an answer already in the table, or
     *  ignored as another device's. */
    struct Merge
    {
        enum Outcome
        {
            Stored,
            Repeated,
            Ignored,
        } outcome;
        int index;
    };
    using Mac = std::array<std::uint8_t, 6>;
    static Mac headerMac(const frame::Frame& frame);
    /** A reply from another MAC than the answer already taken for this request. */
    bool isStrayAfterAnswer(const frame::Frame& reply) const;
    Merge merge(const frame::Frame& reply, const EnvRecord& received, std::uint32_t sender);
    Merge mergeUnicastRead(const EnvRecord& received, std::uint32_t sender);
    int storeAsOnly(const EnvRecord& received);
    int findByIpAddress(std::uint32_t ip) const;
    int findByMac(const EnvRecord& received) const;

    NetworkProfile m_profile;
    QUdpSocket* m_socket = nullptr;
    /** The sockets of the second and further adapters of OpenEveryAdapter (m_socket is the first's). */
    QList<QUdpSocket*> m_moreSockets;
    frame::Frame m_request{};
    frame::Frame m_reply{};
    int m_tableSize = kTableSize;
    std::unique_ptr<EnvRecord[]> m_table;
    std::array<std::uint8_t, frame::kStatusDataSize> m_statusData{};
    int m_command = 0;
    int m_flags = 0;
    int m_answered = 0;
    int m_laterAnswers = 0;
    int m_count = 0;
    int m_limit = kTableSize;
    std::uint32_t m_targetAddress = 0;
    QString m_openError;
    /** The header MAC of the answer taken for the request in progress; cleared by every open and send. */
    std::optional<Mac> m_answerMac;
    /** The two random header words of the request in progress (random 1 in the low half), and of the
     *  requests sent before it, newest first. */
    std::optional<std::uint64_t> m_requestWords;
    std::array<std::uint64_t, kEarlierRequests> m_earlierWords{};
    int m_earlierCount = 0;
    /** The interface the datagram being merged arrived on (0: unknown). */
    int m_arrivalInterface = 0;
    /** Where each MAC of the table was heard, for heardOn(); cleared when the table restarts. */
    std::map<Mac, QString> m_heardOn;
    /** The MACs of the devices that answered a search when the table was full. */
    std::set<Mac> m_unheld;
    QHash<int, QString> m_interfaceNames;
};
