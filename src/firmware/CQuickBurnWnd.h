#pragma once

#include "CQuickBurnSock.h"
#include "ShellScanner.h"
#include "protocol/NetworkProfile.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>

class PleaseWaitWindow;

/**
 * The firmware transfer engine. It uploads an image held in memory to one device: directly as a TFTP
 * write request to the device's TFTP port followed by 512-byte data blocks in lock step with the
 * acknowledgements, or framed by a conversation with the device's shell (prompt, flash command, the
 * upload when the device waits for it, the "y" to program the flash and to reboot).
 *
 * It reports progress and exactly one final result per transfer through transferNotification; after
 * a final result neither timer runs and neither socket is open. Destroying the engine abandons a
 * transfer under way without a report. The image belongs to the caller and must stay unchanged until
 * the final result.
 */
class CQuickBurnWnd final : public QObject
{
    Q_OBJECT

public:
    /** The codes of the transfer notification (event 9991). */
    enum Code
    {
        kNoResponse = 0,   // watchdog ran out, retries exhausted, or shell closed with the flash command pending
        kProgress = 1,     // value: bytes of the image acknowledged so far
        kComplete = 2,     //
        kTftpError = 3,    // message: the text for the device's error packet
        kSocketError = 4,  // value: the system error code
        kSizeRejected = 5, // the device rejected the firmware size
        kDeviceTimeout = 6 // the device reported "timeout"
    };
    static constexpr int kTransferEvent = 9991;

    static constexpr int kRetransmitMs = 500; // periodic
    static constexpr int kMaxRetries = 10;    // ticks without an accepted acknowledgement
    // The next acknowledgement is looked for without the event loop for kQuickLookNs after a block (see
    // onDatagrams), for at most kQuickTurnMs at a time; after a look that found none, not for kQuickPause
    // blocks.
    static constexpr qint64 kQuickLookNs = 60000;
    static constexpr qint64 kQuickTurnMs = 4;
    static constexpr int kQuickPause = 64;
    static constexpr int kWatchdogMs = 10000; // one-shot, restarted at every shell step; bounds the connection
    static constexpr int kShellReadSize = 2048;
    /** The shell text kept while no keyword comes: a chatty device cannot exhaust memory. */
    static constexpr int kShellTextCap = firmware::ShellScanner::kTextCap;

    /** "pf", carriage return, "y": makes the device wait for a TFTP upload. */
    static const QByteArray kFlashCommand;
    static const QByteArray kConfirm;
    static const QString kPleaseWaitText;

    /** Clears the device's entry from the address-resolution cache; started, never waited for. */
    using AddressCacheFlush = std::function<void(std::uint32_t address)>;

    /** `profile` gives the device's TFTP and shell ports; `pleaseWait` (may be null) is shown while the
     *  device programs its flash. */
    CQuickBurnWnd(const NetworkProfile& profile, PleaseWaitWindow* pleaseWait, QObject* parent = nullptr);
    ~CQuickBurnWnd() override;

    /** The shell way: connects to the device's shell and runs the conversation; when the connection
     *  cannot be made (refused, or not answered within the shell watchdog's time), uploads directly
     *  instead. Ignored while a transfer is under way. `target` is a host-order address. */
    void StartShellUpload(std::uint32_t target, const QString& fileName, const std::uint8_t* image,
                          std::uint32_t length);
    /** The direct way: a TFTP upload. Ignored while an upload is active. */
    void StartTftpUpload(std::uint32_t target, const QString& fileName, const std::uint8_t* image,
                         std::uint32_t length);

    /** Replaces the default flush ("ip neigh flush to ADDR"). */
    void setAddressCacheFlush(AddressCacheFlush flush) { m_flush = std::move(flush); }
    /** Shorter periods for tests of the timeouts. */
    void setTimings(int retransmitMs, int watchdogMs);

    /** True while a socket is open or a timer runs. */
    bool isBusy() const;
    bool uploadActive() const { return m_uploadActive; }
    bool shellConnected() const { return m_shellConnected; }
    bool pleaseWaitShown() const { return m_pleaseWaitShown; }
    std::uint16_t destinationPort() const { return m_destinationPort; }
    const QString& shellText() const { return m_shell.text(); }

    /** The default flush: starts `ip neigh flush to ADDR` detached, output discarded, failure ignored. */
    static void flushAddressCache(std::uint32_t address);

signals:
    /** Progress (code 1) or a final result; `message` is set for code 3. Delivered synchronously. */
    void transferNotification(int code, qint64 value, const QString& message);

private:
    void store(std::uint32_t target, const QString& fileName, const std::uint8_t* image, std::uint32_t length);
    void startUpload();
    void endTransfer(int code, qint64 value = 0, const QString& message = {});
    void report(int code, qint64 value = 0, const QString& message = {});

    void onSocketEvent(CQuickBurnSock* socket, int event, int errorCode);
    void onDatagrams();
    void onDatagram(QByteArrayView datagram, std::uint16_t senderPort);
    void onAck(std::uint32_t block, std::uint16_t senderPort);
    void finishUpload();
    void onRetransmitTick();
    void sendCurrent();

    void onConnect(int errorCode);
    void onWatchdog();
    void onShellData();
    void applyShellStep(firmware::ShellStep step);
    void onShellClosed(int errorCode);
    void typeIntoShell(const QByteArray& bytes);
    void startWatchdog();
    void showPleaseWait();

    NetworkProfile m_profile;
    PleaseWaitWindow* m_pleaseWait;
    AddressCacheFlush m_flush;

    bool m_flashPending = false;
    bool m_flashTyped = false; // the flash command has been typed in this conversation
    firmware::ShellScanner m_shell;
    bool m_pleaseWaitShown = false;
    bool m_shellConnected = false;
    QByteArray m_fileName;
    int m_retryCount = 0;
    bool m_sentSinceTick = false; // a block went out in answer to an acknowledgement since the last tick
    int m_quickPause = 0;         // blocks left before the next acknowledgement is looked for at once
    const std::uint8_t* m_image = nullptr;
    std::uint32_t m_blockOffset = 0; // start of the current data block in the image
    std::uint16_t m_destinationPort = 0;
    std::uint32_t m_target = 0;
    std::uint32_t m_imageLength = 0;
    std::uint32_t m_blockLength = 0;
    std::uint32_t m_bytesSent = 0;
    std::uint32_t m_blockNumber = 0;
    bool m_uploadActive = false;
    CQuickBurnSock m_datagram;
    CQuickBurnSock m_stream;
    QTimer m_retransmit;
    QTimer m_watchdog;
    QByteArray m_receiveBuffer;
    QByteArray m_sendBuffer;
};
