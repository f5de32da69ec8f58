#include "TftpServer.h"

#include "firmware/TftpPacket.h"

#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace {
constexpr int kMaxRead = 2048;

QString addressText(std::uint32_t address)
{
    return QHostAddress(address).toString();
}
} // namespace

/** One upload: its own socket (the transfer port), its peer, what has arrived. */
struct TftpServer::Transfer
{
    std::unique_ptr<QUdpSocket> socket;
    QHostAddress peer;
    std::uint16_t peerPort = 0;
    QByteArray fileName;
    QByteArray image;
    std::uint16_t lastBlock = 0; // the block acknowledged last
    bool finished = false;
    std::unique_ptr<QTimer> idle = std::make_unique<QTimer>();
};

TftpServer::TftpServer(QObject* parent) : QObject(parent) {}

TftpServer::~TftpServer()
{
    close();
}

bool TftpServer::listen(std::uint32_t address, std::uint16_t port, QString* error)
{
    close();
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress(address), port)) {
        if (error)
            *error = QStringLiteral("TFTP server at %1:%2: %3")
                         .arg(addressText(address))
                         .arg(port)
                         .arg(socket->errorString());
        delete socket;
        return false;
    }
    m_address = address;
    m_listener = socket;
    connect(socket, &QUdpSocket::readyRead, this, &TftpServer::onRequest);
    return true;
}

void TftpServer::close()
{
    m_transfers.clear();
    delete m_listener;
    m_listener = nullptr;
}

void TftpServer::onRequest()
{
    while (m_listener && m_listener->hasPendingDatagrams()) {
        QByteArray datagram(kMaxRead, '\0');
        QHostAddress peer;
        quint16 peerPort = 0;
        const qint64 n = m_listener->readDatagram(datagram.data(), datagram.size(), &peer, &peerPort);
        if (n < 0)
            break;
        datagram.truncate(n);
        const std::optional<tftp::Request> request = tftp::parseRequest(datagram);
        if (!request)
            continue;
        if (request->opcode != tftp::kWriteRequest) {
            m_listener->writeDatagram(tftp::errorPacket(2, "only uploads are accepted"), peer, peerPort);
            continue;
        }
        // A repeated request of an upload under way: its acknowledgement 0 was lost.
        const auto same = std::find_if(m_transfers.begin(), m_transfers.end(), [&](const auto& t) {
            return t->peer == peer && t->peerPort == peerPort && !t->finished;
        });
        if (same != m_transfers.end()) {
            if ((*same)->lastBlock == 0 && (*same)->image.isEmpty())
                (*same)->socket->writeDatagram(tftp::ackPacket(0), peer, peerPort);
            continue;
        }
        startTransfer(request->fileName, peer, peerPort);
    }
}

void TftpServer::startTransfer(const QByteArray& fileName, const QHostAddress& peer, std::uint16_t peerPort)
{
    auto transfer = std::make_unique<Transfer>();
    transfer->socket = std::make_unique<QUdpSocket>();
    if (!transfer->socket->bind(QHostAddress(m_address), 0))
        return; // no port for the transfer: the client's retries run out
    if (m_errorReply >= 0) {
        transfer->socket->writeDatagram(
            tftp::errorPacket(static_cast<std::uint16_t>(m_errorReply), "simulated failure"), peer, peerPort);
        return;
    }
    transfer->peer = peer;
    transfer->peerPort = peerPort;
    transfer->fileName = fileName;
    Transfer* raw = transfer.get();
    connect(raw->socket.get(), &QUdpSocket::readyRead, this, [this, raw] { onTransferData(raw); });
    raw->idle->setSingleShot(true);
    raw->idle->setInterval(kIdleMs);
    connect(raw->idle.get(), &QTimer::timeout, this, [this, raw] { drop(raw); });
    raw->idle->start();
    m_transfers.push_back(std::move(transfer));
    raw->socket->writeDatagram(tftp::ackPacket(0), peer, peerPort);
    emit uploadStarted(fileName);
}

void TftpServer::onTransferData(Transfer* transfer)
{
    QUdpSocket* socket = transfer->socket.get();
    while (socket->hasPendingDatagrams()) {
        QByteArray datagram(kMaxRead, '\0');
        QHostAddress peer;
        quint16 peerPort = 0;
        const qint64 n = socket->readDatagram(datagram.data(), datagram.size(), &peer, &peerPort);
        if (n < 0)
            break;
        datagram.truncate(n);
        if (peer != transfer->peer || peerPort != transfer->peerPort) {
            socket->writeDatagram(tftp::errorPacket(5, "unknown transfer ID"), peer, peerPort);
            continue;
        }
        const std::optional<std::uint16_t> block = tftp::secondField(datagram);
        if (tftp::opcodeOf(datagram) != tftp::kData || !block)
            continue;
        onBlock(transfer, *block, QByteArrayView(datagram).sliced(tftp::kHeaderSize));
        if (std::none_of(m_transfers.begin(), m_transfers.end(), [&](const auto& t) { return t.get() == transfer; }))
            return; // dropped
    }
}

void TftpServer::onBlock(Transfer* transfer, std::uint16_t block, QByteArrayView payload)
{
    transfer->idle->start();
    const auto expected = static_cast<std::uint16_t>(transfer->lastBlock + 1);
    if (block == transfer->lastBlock) { // a repeat: its acknowledgement was lost or late
        transfer->socket->writeDatagram(tftp::ackPacket(block), transfer->peer, transfer->peerPort);
        return;
    }
    if (block != expected || transfer->finished)
        return;
    if (transfer->image.size() + payload.size() > kMaxImage) {
        transfer->socket->writeDatagram(tftp::errorPacket(3, "image too large"), transfer->peer, transfer->peerPort);
        drop(transfer);
        return;
    }
    transfer->image.append(payload);
    transfer->lastBlock = block;
    transfer->socket->writeDatagram(tftp::ackPacket(block), transfer->peer, transfer->peerPort);
    if (payload.size() < tftp::kBlockSize) {
        transfer->finished = true;
        transfer->idle->setInterval(kLingerMs);
        transfer->idle->start();
        emit uploadReceived(transfer->fileName, transfer->image);
    }
}

void TftpServer::drop(Transfer* transfer)
{
    const auto it =
        std::find_if(m_transfers.begin(), m_transfers.end(), [&](const auto& t) { return t.get() == transfer; });
    if (it == m_transfers.end())
        return;
    // The socket may be in its own handler: let it go from the event loop.
    (*it)->socket->disconnect(this);
    (*it)->socket->close();
    (*it)->socket.release()->deleteLater();
    (*it)->idle->stop();
    (*it)->idle.release()->deleteLater();
    m_transfers.erase(it);
}
