#pragma once

// A client with two network adapters, each on a LAN of its own with simulated devices behind it, for the
// searches that go out of one adapter or of every adapter. Three network namespaces made and removed by
// the test itself; nothing of it is visible in, or sent from, the machine's own namespace.
//
//   client  vla 10.251.1.1/24 (default route) ---- LAN A: devices 10.251.1.10, 10.251.1.11 (nos. 1, 2)
//           vlb 10.251.2.1/24                 ---- LAN B: device  10.251.2.10              (no. 3)

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace netns {
class TwoLans final
{
public:
    /** One LAN: the client's adapter on it, the device namespace and the devices' addresses. */
    struct Lan
    {
        QString adapter;
        QString clientAddress;
        QString devices; // namespace name
        QStringList deviceAddresses;
        int firstNumber = 1; // the simulator's first device number (its MAC)
    };

    /** Namespaces are named PREFIX + c|a|b + "-" + pid. */
    explicit TwoLans(const QString& prefix);
    ~TwoLans();

    const QString client;
    const Lan lanA; // behind the default route
    const Lan lanB;

    /** Makes and configures the namespaces and starts a simulator on each LAN; empty on success, else
     *  the first step that failed. */
    QString setUp(const QString& simulatorPath);
    /** MACs the simulators printed, keyed by device address. */
    const QMap<QString, QString>& macByAddress() const { return m_macByAddress; }

private:
    QString configure();
    QString startSimulator(const QString& simulatorPath, const Lan& lan);

    QStringList m_made;
    std::vector<std::unique_ptr<QProcess>> m_sims;
    QMap<QString, QString> m_macByAddress;
};
} // namespace netns
