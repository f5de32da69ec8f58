#include "ShellServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
// What the device prints. Only the texts meant as keywords contain one.
constexpr char kBanner[] = "\r\nTessel device shell\r\nmsh>";
constexpr char kAskUpdate[] = "pf\r\nUpdate the firmware? (y/n) ";
constexpr char kWaiting[] = "y\r\nWaiting for the TFTP upload...\r\n";
constexpr char kSizeRejected[] = "\r\nThe firmware size is not valid.\r\nmsh>";
constexpr char kAskFlash[] = "\r\nImage received. program flash now? (y/n) ";
constexpr char kProgramming[] = "y\r\nProgramming the flash...\r\n";
constexpr char kFlashTimeout[] = "\r\nError: flash write timeout\r\nmsh>";
constexpr char kAskReboot[] = "\r\nDone. reboot now? (y/n) ";
constexpr char kRebooting[] = "y\r\nRebooting...\r\n";
constexpr char kPromptAgain[] = "\r\nmsh>";
} // namespace

ShellServer::ShellServer(QObject* parent) : QObject(parent), m_flashTimer(new QTimer(this))
{
    m_flashTimer->setSingleShot(true);
    connect(m_flashTimer, &QTimer::timeout, this, &ShellServer::onFlashDone);
}

ShellServer::~ShellServer()
{
    close();
}

bool ShellServer::listen(std::uint32_t address, std::uint16_t port, QString* error)
{
    close();
    auto* server = new QTcpServer(this);
    if (!server->listen(QHostAddress(address), port)) {
        if (error)
            *error = QStringLiteral("shell at %1:%2: %3")
                         .arg(QHostAddress(address).toString())
                         .arg(port)
                         .arg(server->errorString());
        delete server;
        return false;
    }
    m_server = server;
    connect(server, &QTcpServer::newConnection, this, &ShellServer::onConnection);
    return true;
}

void ShellServer::close()
{
    m_flashTimer->stop();
    if (m_client) {
        m_client->disconnect(this);
        m_client->abort();
        m_client->deleteLater();
    }
    m_client = nullptr;
    m_state = State::Idle;
    delete m_server;
    m_server = nullptr;
}

void ShellServer::onConnection()
{
    while (QTcpSocket* socket = m_server ? m_server->nextPendingConnection() : nullptr) {
        if (m_client) { // one conversation at a time
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        m_line.clear();
        m_state = State::Prompt;
        connect(socket, &QTcpSocket::readyRead, this, &ShellServer::onInput);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            socket->deleteLater();
            if (m_client == socket) {
                m_client = nullptr;
                m_state = State::Idle;
                m_flashTimer->stop();
                emit conversationEnded();
            }
        });
        if (m_ending != ShellEnding::Silent)
            say(kBanner);
    }
}

void ShellServer::onInput()
{
    while (m_client && m_client->bytesAvailable() > 0) {
        const QByteArray bytes = m_client->readAll();
        emit typed(bytes);
        if (m_ending == ShellEnding::Silent)
            continue;
        for (const char key : bytes) {
            if (!m_client)
                return;
            onKey(key);
        }
    }
}

void ShellServer::onKey(char key)
{
    switch (m_state) {
    case State::Prompt:
        if (key != '\r' && key != '\n') {
            m_line.append(key);
        } else if (m_line == "pf") {
            m_line.clear();
            say(kAskUpdate);
            m_state = State::ConfirmUpdate;
        } else if (!m_line.isEmpty()) {
            m_line.clear();
            say(kPromptAgain);
        }
        break;
    case State::ConfirmUpdate:
        if (key != 'y')
            break;
        if (m_ending == ShellEnding::CloseEarly) {
            hangUp();
            return;
        }
        say(kWaiting);
        m_state = State::WaitingForUpload;
        break;
    case State::ConfirmFlash:
        if (key != 'y')
            break;
        say(kProgramming);
        m_state = State::Programming;
        m_flashTimer->start(m_flashMs);
        break;
    case State::ConfirmReboot:
        if (key != 'y')
            break;
        say(kRebooting);
        hangUp();
        break;
    default:
        break; // typed while the device is busy: ignored
    }
}

void ShellServer::uploadReceived(const QByteArray& image)
{
    Q_UNUSED(image);
    if (m_state != State::WaitingForUpload)
        return;
    if (m_ending == ShellEnding::SizeRejected) {
        say(kSizeRejected);
        m_state = State::Prompt;
        return;
    }
    say(kAskFlash);
    m_state = State::ConfirmFlash;
}

void ShellServer::onFlashDone()
{
    if (m_state != State::Programming)
        return;
    if (m_ending == ShellEnding::Timeout) {
        say(kFlashTimeout);
        m_state = State::Prompt;
        return;
    }
    say(kAskReboot);
    m_state = State::ConfirmReboot;
}

void ShellServer::say(const char* text)
{
    if (m_client)
        m_client->write(text);
}

void ShellServer::hangUp()
{
    if (!m_client)
        return;
    QTcpSocket* socket = m_client;
    m_client = nullptr;
    m_state = State::Idle;
    socket->disconnect(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost(); // what was said goes out first
    emit conversationEnded();
}
