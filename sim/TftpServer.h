#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QUdpSocket;

/**
 * A simulated device's TFTP server (RFC 1350, write requests only). It listens on the device's address
 * at the TFTP port and answers each write request from a new transfer port, as real servers do:
 * acknowledgement 0, then one acknowledgement per data block in lock step, a repeated acknowledgement for
 * a repeated block. A block shorter than 512 bytes ends the upload; the image is then handed on whole.
 */
class TftpServer final : public QObject
{
    Q_OBJECT

public:
    /** Images longer than this are refused with "disk full". */
    static constexpr qsizetype kMaxImage = 64 * 1024 * 1024;
    /** A transfer without a datagram for this long is dropped. */
    static constexpr int kIdleMs = 10000;
    /** How long a finished transfer keeps its port, to acknowledge a repeated last block again. */
    static constexpr int kLingerMs = 3000;

    explicit TftpServer(QObject* parent = nullptr);
    ~TftpServer() override;

    /** Opens the server at `address`:`port` (host order). False with a message when the port is taken. */
    bool listen(std::uint32_t address, std::uint16_t port, QString* error = nullptr);
    void close();
    bool isListening() const { return m_listener != nullptr; }

    /** >= 0: every write request is answered by an error packet with this code (and no transfer). */
    void setErrorReply(int code) { m_errorReply = code; }
    /** The transfers under way (finished ones that still linger included). */
    int transferCount() const { return static_cast<int>(m_transfers.size()); }

signals:
    /** A write request was accepted. */
    void uploadStarted(const QByteArray& fileName);
    /** An upload ended with its short last block. */
    void uploadReceived(const QByteArray& fileName, const QByteArray& image);

private:
    struct Transfer;

    void onRequest();
    void startTransfer(const QByteArray& fileName, const QHostAddress& peer, std::uint16_t peerPort);
    void onTransferData(Transfer* transfer);
    void onBlock(Transfer* transfer, std::uint16_t block, QByteArrayView payload);
    void drop(Transfer* transfer);

    std::uint32_t m_address = 0;
    QUdpSocket* m_listener = nullptr;
    int m_errorReply = -1;
    std::vector<std::unique_ptr<Transfer>> m_transfers;
};
