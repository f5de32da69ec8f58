#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

/**
 * The tessel-sim executable run as a child process, for tests whose devices must answer while the test
 * itself blocks (a search answered by hundreds of devices) or that test the executable. The process is
 * ended (SIGTERM, then SIGKILL) when the object goes.
 */
class SimProcess final
{
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    /** Path of the tessel-sim executable built with the tests. */
    static QString executable();

    /** Starts tessel-sim with `arguments` and waits until it has listed `devices` devices. False when it
     *  ended first or did not list them in time (errorText() says why). */
    bool start(const QStringList& arguments, int devices, int timeoutMs = 10000);
    /** Sends SIGTERM and waits; true when it then ended normally with status 0. */
    bool stop(int timeoutMs = 5000);

    /** The device lines printed so far: "MAC address". */
    const QStringList& deviceLines() const { return m_lines; }
    /** What went wrong, with the process's standard error. */
    QString errorText();
    QProcess& process() { return m_process; }

private:
    void readLines();

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
    QString m_error;
};
