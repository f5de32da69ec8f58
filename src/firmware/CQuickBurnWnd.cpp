#include "CQuickBurnWnd.h"

#include "PleaseWaitWindow.h"
#include "TftpPacket.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>

const QByteArray CQuickBurnWnd::kFlashCommand = QByteArray("\x70\x66\x0D\x79", 4);
const QByteArray CQuickBurnWnd::kConfirm = QByteArray("\x79", 1);
const QString CQuickBurnWnd::kPleaseWaitText = QStringLiteral("Please wait while upgrading firmware.");

CQuickBurnWnd::CQuickBurnWnd(const NetworkProfile& profile, PleaseWaitWindow* pleaseWait, QObject* parent)
    : QObject(parent), m_profile(profile), m_pleaseWait(pleaseWait), m_flush(&CQuickBurnWnd::flushAddressCache),
      m_destinationPort(profile.tftpPort), m_receiveBuffer(tftp::kMaxDatagram, '\0'),
      m_sendBuffer(tftp::kHeaderSize + tftp::kBlockSize, '\0')
{
    setObjectName(QStringLiteral("QuickBurn"));
    m_retransmit.setParent(this);
    m_watchdog.setParent(this);
    // Both waits have a stated length: a coarse timer may fire 5 % early or late.
    m_retransmit.setObjectName(QStringLiteral("retransmitTimer"));
    m_retransmit.setTimerType(Qt::PreciseTimer);
    m_retransmit.setInterval(kRetransmitMs);
    m_watchdog.setObjectName(QStringLiteral("shellWatchdog"));
    m_watchdog.setTimerType(Qt::PreciseTimer);
    m_watchdog.setInterval(kWatchdogMs);
    m_watchdog.setSingleShot(true);
    connect(&m_datagram, &CQuickBurnSock::socketEvent, this, &CQuickBurnWnd::onSocketEvent);
    connect(&m_stream, &CQuickBurnSock::socketEvent, this, &CQuickBurnWnd::onSocketEvent);
    connect(&m_retransmit, &QTimer::timeout, this, &CQuickBurnWnd::onRetransmitTick);
    connect(&m_watchdog, &QTimer::timeout, this, &CQuickBurnWnd::onWatchdog);
}

CQuickBurnWnd::~CQuickBurnWnd()
{
    // A transfer under way is abandoned without a report.
    m_datagram.disconnect(this);
    m_stream.disconnect(this);
    m_retransmit.stop();
    m_watchdog.stop();
    m_datagram.close();
    m_stream.close();
    if (m_pleaseWait && m_pleaseWaitShown)
        m_pleaseWait->HideProgress();
}

void CQuickBurnWnd::setTimings(int retransmitMs, int watchdogMs)
{
    m_retransmit.setInterval(retransmitMs);
    m_watchdog.setInterval(watchdogMs);
}

bool CQuickBurnWnd::isBusy() const
{
    return m_datagram.isOpen() || m_stream.isOpen() || m_retransmit.isActive() || m_watchdog.isActive();
}

void CQuickBurnWnd::flushAddressCache(std::uint32_t address)
{
    QProcess process;
    process.setProgram(QStringLiteral("ip"));
    process.setArguments(
        {QStringLiteral("neigh"), QStringLiteral("flush"), QStringLiteral("to"), QHostAddress(address).toString()});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached(); // without privileges it fails; that is ignored
}

void CQuickBurnWnd::store(std::uint32_t target, const QString& fileName, const std::uint8_t* image,
                          std::uint32_t length)
{
    m_target = target;
    m_fileName = QFile::encodeName(fileName);
    m_image = image;
    m_imageLength = image ? length : 0;
}

void CQuickBurnWnd::StartTftpUpload(std::uint32_t target, const QString& fileName, const std::uint8_t* image,
                                    std::uint32_t length)
{
    if (m_uploadActive)
        return;
    store(target, fileName, image, length);
    startUpload();
}

void CQuickBurnWnd::startUpload()
{
    if (m_uploadActive)
        return;
    if (m_flush)
        m_flush(m_target);
    if (const int error = m_datagram.openDatagram(); error != 0) {
        endTransfer(kSocketError, error);
        return;
    }
    m_blockOffset = 0;
    m_retryCount = 0;
    m_blockLength = 0;
    m_bytesSent = 0;
    m_blockNumber = 0;
    m_sentSinceTick = false;
    m_quickPause = 0;
    m_destinationPort = m_profile.tftpPort;
    sendCurrent();
    m_uploadActive = true;
    m_retransmit.start();
}

void CQuickBurnWnd::sendCurrent()
{
    // A failed send is not reported: the retransmission timer covers it.
    if (m_blockNumber == 0) {
        m_datagram.sendDatagram(tftp::writeRequest(m_fileName), m_target, m_destinationPort);
        return;
    }
    // The data packet is built in place: this runs once per block.
    char* packet = m_sendBuffer.data();
    packet[0] = 0;
    packet[1] = static_cast<char>(tftp::kData);
    packet[2] = static_cast<char>((m_blockNumber >> 8) & 0xFF);
    packet[3] = static_cast<char>(m_blockNumber & 0xFF);
    std::copy_n(m_image + m_blockOffset, m_blockLength, packet + tftp::kHeaderSize);
    m_datagram.sendDatagram(QByteArrayView(packet, tftp::kHeaderSize + m_blockLength), m_target, m_destinationPort);
}

void CQuickBurnWnd::onRetransmitTick()
{
    if (++m_retryCount >= kMaxRetries) {
        endTransfer(kNoResponse);
        return;
    }
    // A block sent in answer to an acknowledgement since the last tick is not due yet. Sent again at
    // once, it reaches a server that is still acknowledging its previous copy, and servers such as
    // tftpd-hpa then discard what is queued, the next block included: a half-second stall each tick.
    if (m_sentSinceTick) {
        m_sentSinceTick = false;
        return;
    }
    sendCurrent();
}

void CQuickBurnWnd::onSocketEvent(CQuickBurnSock* socket, int event, int errorCode)
{
    if (socket == &m_datagram) {
        if (event == CQuickBurnSock::kData)
            onDatagrams();
        return;
    }
    switch (event) {
    case CQuickBurnSock::kConnect:
        onConnect(errorCode);
        break;
    case CQuickBurnSock::kClose:
        onShellClosed(errorCode);
        break;
    case CQuickBurnSock::kData:
        onShellData();
        break;
    default:
        break; // accept is not used
    }
}

void CQuickBurnWnd::onDatagrams()
{
    // A fast peer acknowledges a block within tens of microseconds of its send. Going back to the event
    // loop to wait for that costs more than the wait itself: the thread sleeps, and waking it takes longer
    // than the answer took to come. So after each block the next acknowledgement is looked for here for
    // a short while; once one does not come that soon (a slower peer, such as most devices over a LAN,
    // or one in this very thread), the event loop waits instead for the next kQuickPause blocks before
    // trying again. After kQuickTurnMs the thread is given back, so windows repaint and other uploads in
    // this thread take their turn.
    QElapsedTimer turn;
    turn.start();
    std::uint16_t senderPort = 0;
    qint64 n = m_datagram.receiveDatagram(m_receiveBuffer.data(), tftp::kMaxDatagram, &senderPort);
    while (n >= 0 && m_uploadActive) {
        onDatagram(QByteArrayView(m_receiveBuffer.constData(), n), senderPort);
        if (!m_uploadActive || turn.hasExpired(kQuickTurnMs))
            return;
        if (m_quickPause > 0) {
            --m_quickPause;
            return;
        }
        const qint64 lookFrom = turn.nsecsElapsed();
        do
            n = m_datagram.receiveDatagram(m_receiveBuffer.data(), tftp::kMaxDatagram, &senderPort);
        while (n < 0 && turn.nsecsElapsed() - lookFrom < kQuickLookNs);
        if (n < 0)
            m_quickPause = kQuickPause;
    }
}

void CQuickBurnWnd::onDatagram(QByteArrayView datagram, std::uint16_t senderPort)
{
    const std::optional<std::uint16_t> opcode = tftp::opcodeOf(datagram);
    if (opcode == tftp::kAck) {
        // The sender's address is not compared; any accepted acknowledgement may move the port.
        if (const std::optional<std::uint16_t> block = tftp::secondField(datagram))
            onAck(*block, senderPort);
    } else if (opcode == tftp::kError) {
        if (const std::optional<tftp::ErrorPacket> error = tftp::parseError(datagram))
            endTransfer(kTftpError, 0, tftp::errorText(*error));
    }
}

void CQuickBurnWnd::onAck(std::uint32_t block, std::uint16_t senderPort)
{
    // Whole numbers, no wrap-around: an acknowledgement of any other block is a duplicate or a stray.
    if (block != m_blockNumber)
        return;
    m_destinationPort = senderPort;
    report(kProgress, m_bytesSent);
    if (!m_uploadActive)
        return; // the owner abandoned the transfer while it was told
    if (m_bytesSent < m_imageLength) {
        m_blockOffset += m_blockLength;
        m_blockLength = std::min<std::uint32_t>(m_imageLength - m_bytesSent, tftp::kBlockSize);
        m_bytesSent += m_blockLength;
    } else if (m_blockLength == tftp::kBlockSize || m_blockNumber == 0) {
        // A full last block (or an empty image) is followed by an empty block that ends the upload.
        m_blockOffset += m_blockLength;
        m_blockLength = 0;
    } else {
        finishUpload();
        return;
    }
    ++m_blockNumber;
    m_retryCount = 0;
    m_sentSinceTick = true;
    sendCurrent();
}

void CQuickBurnWnd::finishUpload()
{
    m_retransmit.stop();
    m_datagram.close();
    m_uploadActive = false;
    // On the shell way the shell delivers the result.
    if (!m_shellConnected)
        endTransfer(kComplete);
}

void CQuickBurnWnd::endTransfer(int code, qint64 value, const QString& message)
{
    m_watchdog.stop();
    m_retransmit.stop();
    m_datagram.close();
    m_uploadActive = false;
    m_stream.close();
    m_shellConnected = false;
    m_flashPending = false;
    if (m_pleaseWait)
        m_pleaseWait->HideProgress();
    m_pleaseWaitShown = false;
    report(code, value, message);
}

void CQuickBurnWnd::report(int code, qint64 value, const QString& message)
{
    emit transferNotification(code, value, message);
}

// The shell way.

void CQuickBurnWnd::StartShellUpload(std::uint32_t target, const QString& fileName, const std::uint8_t* image,
                                     std::uint32_t length)
{
    if (isBusy())
        return;
    if (m_flush)
        m_flush(target);
    m_shell.clear();
    m_flashPending = false;
    m_flashTyped = false;
    store(target, fileName, image, length);
    m_shellConnected = false;
    // The watchdog bounds the connection attempt too: a device (or a firewall) that drops the attempt
    // without a word would otherwise leave the user waiting for the system's TCP timeout, minutes long.
    m_stream.connectStream(QHostAddress(target), m_profile.shellPort);
    startWatchdog();
}

void CQuickBurnWnd::onConnect(int errorCode)
{
    if (errorCode == 0) {
        // A shell that never shows its prompt would otherwise hold the transfer open for good.
        m_shellConnected = true;
        startWatchdog();
        return;
    }
    // No shell: the direct upload, and the shell is not used again in this transfer.
    m_watchdog.stop();
    m_stream.close();
    startUpload();
}

void CQuickBurnWnd::onWatchdog()
{
    // A connection attempt still unanswered is given up as a refused one would be.
    if (m_stream.isOpen() && !m_shellConnected) {
        onConnect(ETIMEDOUT);
        return;
    }
    endTransfer(kNoResponse);
}

void CQuickBurnWnd::onShellData()
{
    for (QTcpSocket* socket = m_stream.stream(); socket && socket->bytesAvailable() > 0; socket = m_stream.stream()) {
        char buffer[kShellReadSize];
        const qint64 n = socket->read(buffer, kShellReadSize);
        if (n <= 0)
            break;
        applyShellStep(m_shell.feed(QByteArrayView(buffer, n), m_pleaseWaitShown));
    }
}

void CQuickBurnWnd::applyShellStep(firmware::ShellStep step)
{
    using firmware::ShellStep;
    switch (step) {
    case ShellStep::SizeRejected:
        endTransfer(kSizeRejected);
        break;
    case ShellStep::TypeFlash:
        m_flashPending = true;
        m_flashTyped = true;
        typeIntoShell(kFlashCommand);
        startWatchdog();
        break;
    case ShellStep::StartUpload:
        m_watchdog.stop();
        startUpload();
        if (m_shellConnected) // unless the upload could not start and ended the transfer
            startWatchdog();
        break;
    case ShellStep::ConfirmFlash:
        showPleaseWait();
        typeIntoShell(kConfirm);
        startWatchdog();
        break;
    case ShellStep::DeviceTimeout:
        endTransfer(kDeviceTimeout);
        break;
    case ShellStep::ConfirmReboot:
        m_flashPending = false;
        m_watchdog.stop();
        typeIntoShell(kConfirm);
        startWatchdog();
        break;
    case ShellStep::None: // no keyword yet: keep the text and wait for more; the watchdog is not touched
        break;
    }
}

void CQuickBurnWnd::onShellClosed(int errorCode)
{
    // A close before the flash command was ever typed means nothing was updated: not a success.
    const bool failed = m_flashPending || !m_flashTyped;
    m_flashPending = false;
    endTransfer(failed ? kNoResponse : kComplete);
    if (errorCode != 0)
        report(kSocketError, errorCode);
}

void CQuickBurnWnd::typeIntoShell(const QByteArray& bytes)
{
    // A failed write is not reported: the watchdog covers it.
    if (QTcpSocket* socket = m_stream.stream())
        socket->write(bytes);
}

void CQuickBurnWnd::startWatchdog()
{
    m_watchdog.start();
}

void CQuickBurnWnd::showPleaseWait()
{
    m_pleaseWaitShown = true;
    if (m_pleaseWait)
        m_pleaseWait->ShowProgress(kPleaseWaitText);
}
