#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace serial {
QString systemReason(int number)
{
    return QStringLiteral("[%1] %2").arg(number).arg(QString::fromLocal8Bit(std::strerror(number)));
}

bool makeRaw(int fd, QString* error)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    return true;
}

Pty::~Pty()
{
    close();
}

bool Pty::open(QString* error)
{
    close();
    const auto fail = [&](int number) {
        if (error)
            *error = systemReason(number);
        close();
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return fail(errno);
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(errno);
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(errno);
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail(errno);
    if (!makeRaw(m_slave, error)) {
        close();
        return false;
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(errno);
    return true;
}

void Pty::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
    m_slavePath.clear();
}
} // namespace serial
