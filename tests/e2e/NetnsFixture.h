#pragma once

// Test hosts for end-to-end runs on the real profile: a client namespace and a device namespace joined
// by a veth pair (10.250.0.0/24), made and removed by the test itself, and the simulated devices started
// inside the device namespace. Nothing of it is visible in, or sent from, the machine's own namespace.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace netns {
class LinkRelay;

constexpr int kCommandMs = 10000; // any one `ip` command

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

/** Runs a program to its end within `timeoutMs`; a program still running then is killed. */
Run runProgram(const QString& program, const QStringList& args, int timeoutMs);
Run ip(const QStringList& args);

/** Empty when namespaces can be made here (root, `ip netns` works); else why not. */
QString unavailableReason();

/** Two namespaces joined by a veth pair, removed with everything in them when this object goes. */
class NamespacePair final
{
public:
    /** Namespaces are named PREFIX + c|d + "-" + pid; stale ones of killed runs are removed first. */
    explicit NamespacePair(const QString& prefix);
    ~NamespacePair();

    const QString client;
    const QString devices;
    /** The namespace between the two when the link is relayed (see useRelay). */
    const QString relay;
    static const QStringList& deviceAddresses();

    /** Makes the namespaces; the error text of the first command that failed, or empty. */
    QString make();
    /** True when this kernel has the netem discipline (tried on the client's loopback). */
    bool hasNetem();
    /** Joins client and devices through a namespace of their own where a LinkRelay forwards every frame
     *  and makes the faults setNetem asks for: for kernels without netem. Call before configure(). */
    QString useRelay();
    /** Client 10.250.0.1 with a default route over its veth (so 255.255.255.255 has a route), the
     *  device addresses on the other end. */
    QString configure();
    /** Starts `tessel-sim` with one device per address in the device namespace (and `extraArgs`); fills
     *  the MACs it printed, keyed by address. Empty on success, else what went wrong. */
    QString startSimulator(const QString& simulatorPath, const QStringList& extraArgs = {});
    /** Puts the `tc netem` discipline `netem` (e.g. {"loss", "20%"}) on both ends of the veth link, so
     *  requests and replies meet it; an empty list takes it off. Empty on success, else the error. */
    QString setNetem(const QStringList& netem);
    const QMap<QString, QString>& macByAddress() const { return m_macByAddress; }
    /** Waits for a line the simulator prints later that starts with `prefix` (such as the "firmware"
     *  line of an image it received); empty when none came within `timeoutMs`. */
    QString waitForSimulatorLine(const QString& prefix, int timeoutMs);

private:
    void stopSimulator();

    QString m_prefix;
    QStringList m_made;
    bool m_relayed = false;
    std::unique_ptr<LinkRelay> m_relay;
    std::unique_ptr<QProcess> m_sim;
    QMap<QString, QString> m_macByAddress;
    QString m_later; // printed after the device lines, not yet taken
};

/** A namespace pair made, configured and populated with simulated devices, or why not: `skipReason`
 *  when this machine cannot make namespaces, `error` when a step that should work failed. */
struct Setup
{
    std::unique_ptr<NamespacePair> pair;
    QString skipReason;
    QString error;
};
Setup setUp(const QString& prefix, const QString& simulatorPath, const QStringList& simulatorArgs = {});
/** As setUp, for tests of a bad link: netem on the veth ends where the kernel has it, else a relay. */
Setup setUpBadLink(const QString& prefix, const QString& simulatorPath, const QStringList& simulatorArgs = {});

/** Moves the calling thread into a namespace made by NamespacePair and back again on destruction, so
 *  that a test's in-process sockets live on the client host. */
class ThreadInNamespace final
{
public:
    explicit ThreadInNamespace(const QString& name);
    ~ThreadInNamespace();
    QString error() const { return m_error; }

private:
    int m_home = -1;
    QString m_error;
};
} // namespace netns
