#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QTcpServer;
class QTcpSocket;
class QTimer;

/** How a simulated device's shell conversation ends. */
enum class ShellEnding
{
    Normal,       // asks to program the flash, then to reboot, then closes the connection
    SizeRejected, // after the upload: "firmware size is not …" and the prompt
    Timeout,      // while programming the flash: "timeout"
    CloseEarly,   // closes the connection right after the flash command
    Silent,       // accepts the connection and never says anything
};

/**
 * A simulated device's command shell on its shell port. The normal conversation: a banner and the
 * prompt "msh>"; the flash command "pf" (carriage return) asks "Update the firmware? (y/n)"; "y" makes
 * the device wait for a TFTP upload; when the upload has arrived the device asks "program flash now?",
 * programs its flash after "y", asks "reboot now?" and closes the connection after "y". One
 * conversation at a time; a second connection is closed at once.
 */
class ShellServer final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultFlashMs = 200;

    explicit ShellServer(QObject* parent = nullptr);
    ~ShellServer() override;

    /** Opens the shell at `address`:`port` (host order). False with a message when the port is taken. */
    bool listen(std::uint32_t address, std::uint16_t port, QString* error = nullptr);
    void close();

    void setEnding(ShellEnding ending) { m_ending = ending; }
    /** How long programming the flash takes. */
    void setFlashMs(int ms) { m_flashMs = ms; }
    /** True between the confirmed flash command and the arrival of the upload. */
    bool waitingForUpload() const { return m_state == State::WaitingForUpload; }

    /** The TFTP server received an image: a conversation waiting for it goes on. */
    void uploadReceived(const QByteArray& image);

signals:
    /** Everything the device has been sent in the current conversation so far. */
    void typed(const QByteArray& bytes);
    /** The conversation ended (either side closed). */
    void conversationEnded();

private:
    enum class State
    {
        Idle,
        Prompt,
        ConfirmUpdate,
        WaitingForUpload,
        ConfirmFlash,
        Programming,
        ConfirmReboot,
    };

    void onConnection();
    void onInput();
    void onKey(char key);
    void onFlashDone();
    void say(const char* text);
    void hangUp();

    QTcpServer* m_server = nullptr;
    QPointer<QTcpSocket> m_client;
    QTimer* m_flashTimer = nullptr;
    ShellEnding m_ending = ShellEnding::Normal;
    int m_flashMs = kDefaultFlashMs;
    State m_state = State::Idle;
    QByteArray m_line;
};
