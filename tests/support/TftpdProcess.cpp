#include "TftpdProcess.h"

#include <QFile>
#include <QHostAddress>
#include <QTest>
#include <QtEndian>

namespace {
constexpr int kStopMs = 5000;

/** True once a UDP socket is bound to the address and port. Read from the kernel's socket table rather
 *  than by binding a probe there: a probe holding the port for an instant makes the server's own bind
 *  fail when the two meet. The table shows each address as the native reading of its network bytes. */
bool portTaken(std::uint32_t address, std::uint16_t port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = QByteArray::number(qToBigEndian(address), 16).rightJustified(8, '0').toUpper() + ':' +
                              QByteArray::number(port, 16).rightJustified(4, '0').toUpper();
    table.readLine(); // heading
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() > 1 && fields.at(1) == wanted)
            return true;
    }
    return false;
}
} // namespace

TftpdProcess::~TftpdProcess()
{
    stop();
}

bool TftpdProcess::available()
{
    return QFile::exists(QString::fromLatin1(kProgram));
}

bool TftpdProcess::start(std::uint32_t address, std::uint16_t port, bool create, int timeoutMs)
{
    // The server drops its privileges to its own user, which must be able to write uploads here.
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther |
                                            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
    QStringList args{
        QStringLiteral("--foreground"), QStringLiteral("--listen"),
        QStringLiteral("--address"),    QStringLiteral("%1:%2").arg(QHostAddress(address).toString()).arg(port),
        QStringLiteral("--secure"),     QStringLiteral("--permissive"),
        QStringLiteral("--umask"),      QStringLiteral("022")};
    if (create)
        args << QStringLiteral("--create");
    args << m_dir.path();
    m_process.start(QString::fromLatin1(kProgram), args);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    const bool up =
        QTest::qWaitFor([&] { return m_process.state() != QProcess::Running || portTaken(address, port); }, timeoutMs);
    if (!up || m_process.state() != QProcess::Running) {
        m_error = QStringLiteral("in.tftpd did not come up at %1:%2").arg(QHostAddress(address).toString()).arg(port);
        return false;
    }
    return true;
}

void TftpdProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kStopMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopMs);
    }
}

QByteArray TftpdProcess::file(const QString& name) const
{
    QFile f(m_dir.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TftpdProcess::exists(const QString& name) const
{
    return QFile::exists(m_dir.filePath(name));
}

QString TftpdProcess::errorText()
{
    const QString stderrText = QString::fromLocal8Bit(m_process.readAllStandardError());
    return stderrText.isEmpty() ? m_error : m_error + u'\n' + stderrText;
}
