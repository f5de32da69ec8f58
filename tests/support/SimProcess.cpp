#include "SimProcess.h"

#include <QTest>

namespace {
constexpr int kKillWaitMs = 5000;
}

SimProcess::~SimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kKillWaitMs)) {
        m_process.kill();
        m_process.waitForFinished(kKillWaitMs);
    }
}

QString SimProcess::executable()
{
    return QStringLiteral(TESSEL_SIM_PATH);
}

bool SimProcess::start(const QStringList& arguments, int devices, int timeoutMs)
{
    m_lines.clear();
    m_pending.clear();
    m_error.clear();
    m_process.setProgram(executable());
    m_process.setArguments(arguments);
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(executable(), m_process.errorString());
        return false;
    }
    const bool listed = QTest::qWaitFor(
        [&] {
            readLines();
            return m_lines.size() >= devices || m_process.state() == QProcess::NotRunning;
        },
        timeoutMs);
    readLines();
    if (m_lines.size() >= devices)
        return true;
    m_error = listed ? QStringLiteral("tessel-sim ended (status %1) after listing %2 of %3 devices")
                           .arg(m_process.exitCode())
                           .arg(m_lines.size())
                           .arg(devices)
                     : QStringLiteral("tessel-sim listed %1 of %2 devices in %3 ms")
                           .arg(m_lines.size())
                           .arg(devices)
                           .arg(timeoutMs);
    return false;
}

bool SimProcess::stop(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs)) {
        m_error = QStringLiteral("tessel-sim did not end within %1 ms of SIGTERM").arg(timeoutMs);
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QString SimProcess::errorText()
{
    const QString stderrText = QString::fromLocal8Bit(m_process.readAllStandardError());
    return stderrText.isEmpty() ? m_error : QStringLiteral("%1\n%2").arg(m_error, stderrText);
}

void SimProcess::readLines()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        m_lines << QString::fromLocal8Bit(m_pending.first(end)).trimmed();
        m_pending.remove(0, end + 1);
    }
}
