// The Ansible collection in ansible/: built and installed with Debian's ansible-galaxy, then played with
// ansible-playbook against localhost, whose tasks run cormapmp-cli against simulated devices on loopback
// (127.0.17.2 and up; device port 53605, this test's own). Skipped when ansible-core is not installed.
#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kFirstAddress = 0x7F001102; // 127.0.17.2
constexpr int kPlayTimeoutMs = 120000;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 53605;
    p.tftpPort = 53669;
    p.shellPort = 53623;
    return p;
}

/** Two sites' devices: one named by its MAC (found by broadcast), one by its address. */
const QByteArray kPlaybook = R"(
- name: Two sites
  hosts: localhost
  connection: local
  gather_facts: false
  tasks:
    - name: Find the devices
      varkon.cormapmp.tessel_facts:
        loopback: true
        device_port: "{{ device_port }}"
        cli: "{{ cormapmp_cli }}"
      register: found
    - name: Site A
      varkon.cormapmp.tessel_device:
        device: 02:7e:55:00:00:01
        fields:
          comment: Site A
          com2.baudRate: 115200
        loopback: true
        device_port: "{{ device_port }}"
        cli: "{{ cormapmp_cli }}"
      register: site_a
    - name: Site B
      varkon.cormapmp.tessel_device:
        device: 127.0.17.3
        fields:
          comment: Site B
        loopback: true
        device_port: "{{ device_port }}"
        cli: "{{ cormapmp_cli }}"
      register: site_b
    # For the test: what each task returned (ansible-core has no JSON output of its own).
    - name: Keep the results
      ansible.builtin.copy:
        content: "{{ [found, site_a, site_b] | to_json }}"
        dest: "{{ results_file }}"
      check_mode: false
      changed_when: false
)";

/** One site's devices in one task: by MAC and by address, with defaults and a device's own values. */
const QByteArray kFleetPlaybook = R"(
- name: One site
  hosts: localhost
  connection: local
  gather_facts: false
  tasks:
    - name: The site's devices
      varkon.cormapmp.tessel_fleet:
        defaults:
          com1.baudRate: 115200
          comment: Plant
        devices:
          02:7e:55:00:00:01: {comment: Press 1}
          02:7e:55:00:00:02: {comment: Press 2, com1.baudRate: 57600}
          02:7e:55:00:00:03:
          127.0.17.5: {comment: Kiln}
          127.0.17.6: {ports: [{}, {baudRate: 38400}]}
          127.0.17.7: {}
        jobs: 4
        loopback: true
        device_port: "{{ device_port }}"
        cli: "{{ cormapmp_cli }}"
      register: fleet
      ignore_errors: true
    - name: Keep the results
      ansible.builtin.copy:
        content: "{{ [fleet] | to_json }}"
        dest: "{{ results_file }}"
      check_mode: false
      changed_when: false
)";

constexpr int kFleet = 6;

int writesOf(const QSignalSpy& handled)
{
    int copies = 0;
    for (const QList<QVariant>& h : handled)
        copies += h.at(1).toInt() == frame::kWrite ? 1 : 0;
    return copies / 2; // every request comes twice
}

struct Ran
{
    int status = -1;
    QString out;
    QString err;
};
} // namespace

class TestCliAnsible : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playbookChangesOnceAndThenNothing();
    void fleetTaskChangesOnceAndThenNothing();

private:
    /** Runs `program` while the simulated devices keep answering (the event loop runs). */
    Ran run(const QString& program, const QStringList& args);
    /** What task `task` of the last play returned (0 the facts, 1 site A, 2 site B). */
    QJsonObject taskResult(int task) const;

    QTemporaryDir m_dir;
    QString m_playbook;
    QString m_galaxy;
};

void TestCliAnsible::initTestCase()
{
    m_playbook = QStandardPaths::findExecutable(u"ansible-playbook"_s);
    m_galaxy = QStandardPaths::findExecutable(u"ansible-galaxy"_s);
    if (m_playbook.isEmpty() || m_galaxy.isEmpty())
        QSKIP("ansible-playbook and ansible-galaxy are not installed (Debian: ansible-core)");
    QVERIFY(m_dir.isValid());
    const Ran built = run(m_galaxy, {u"collection"_s, u"build"_s, QStringLiteral(CORMAP_SOURCE_DIR "/ansible"),
                                     u"--output-path"_s, m_dir.path(), u"--force"_s});
    QVERIFY2(built.status == 0, qPrintable(built.out + built.err));
    const QStringList archives = QDir(m_dir.path()).entryList({u"varkon-cormapmp-*.tar.gz"_s});
    QCOMPARE(archives.size(), 1);
    const Ran installed = run(m_galaxy, {u"collection"_s, u"install"_s, m_dir.filePath(archives.constFirst()), u"-p"_s,
                                         m_dir.filePath(u"collections"_s), u"--offline"_s});
    QVERIFY2(installed.status == 0, qPrintable(installed.out + installed.err));
    QFile playbook(m_dir.filePath(u"sites.yml"_s));
    QVERIFY(playbook.open(QIODevice::WriteOnly) && playbook.write(kPlaybook) == kPlaybook.size());
}

Ran TestCliAnsible::run(const QString& program, const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Everything Ansible keeps goes to this test's folder; it talks to nothing but this host.
    env.insert(u"HOME"_s, m_dir.path());
    env.insert(u"XDG_RUNTIME_DIR"_s, m_dir.path());
    env.insert(u"ANSIBLE_COLLECTIONS_PATH"_s, m_dir.filePath(u"collections"_s));
    env.insert(u"ANSIBLE_LOCAL_TEMP"_s, m_dir.filePath(u"tmp"_s));
    env.insert(u"ANSIBLE_REMOTE_TEMP"_s, m_dir.filePath(u"tmp"_s));
    env.insert(u"ANSIBLE_NOCOLOR"_s, u"1"_s);
    env.insert(u"ANSIBLE_PYTHON_INTERPRETER"_s, u"/usr/bin/python3"_s);
    env.insert(u"ANSIBLE_LOCALHOST_WARNING"_s, u"0"_s);
    env.insert(u"ANSIBLE_INVENTORY_UNPARSED_WARNING"_s, u"0"_s);
    env.insert(u"ANSIBLE_STDOUT_CALLBACK"_s, u"default"_s);
    env.insert(u"CORMAPMP_PASSWORD"_s, QString());
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir.path());
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(kPlayTimeoutMs, &loop, &QEventLoop::quit);
    process.start(program, args);
    loop.exec();
    Ran ran;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        ran.err = u"(ended after %1 s)\n"_s.arg(kPlayTimeoutMs / 1000);
    } else if (process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart) {
        ran.status = process.exitCode();
    }
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err += QString::fromUtf8(process.readAllStandardError());
    return ran;
}

QJsonObject TestCliAnsible::taskResult(int task) const
{
    QFile file(m_dir.filePath(u"results.json"_s));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array().at(task).toObject();
}

void TestCliAnsible::playbookChangesOnceAndThenNothing()
{
    TesselSim sim(testProfile());
    sim.addDevices(2, kFirstAddress);
    QString problem;
    QVERIFY2(sim.start(&problem), qPrintable(problem));
    QSignalSpy handled(&sim, &TesselSim::requestHandled);
    const QStringList play = {u"-i"_s, u"localhost,"_s, m_dir.filePath(u"sites.yml"_s), u"-e"_s,
                              u"device_port=%1 cormapmp_cli=%2 results_file=%3"_s.arg(testProfile().devicePort)
                                  .arg(QStringLiteral(CORMAPMP_CLI_PATH), m_dir.filePath(u"results.json"_s))};

    // Check mode: what would change is reported, with the fields in diff mode; nothing is written.
    const Ran checked = run(m_playbook, play + QStringList{u"--check"_s, u"--diff"_s});
    QVERIFY2(checked.status == 0, qPrintable(checked.out + checked.err));
    QCOMPARE(writesOf(handled), 0);
    QCOMPARE(sim.device(0).record.comment(), std::string("Tessel sim 1"));
    const QJsonArray found = taskResult(0)[u"ansible_facts"_s][u"tessel_devices"_s].toArray();
    QCOMPARE(found.size(), 2);
    QCOMPARE(found.at(1)[u"ipAddress"_s].toString(), u"127.0.17.3"_s);
    const QJsonObject siteA = taskResult(1);
    QCOMPARE(siteA[u"changed"_s].toBool(), true);
    QCOMPARE(siteA[u"written"_s].toBool(), false);
    const QJsonObject diff = siteA[u"diff"_s].toObject();
    QCOMPARE(diff[u"before"_s][u"comment"_s].toString(), u"Tessel sim 1"_s);
    QCOMPARE(diff[u"after"_s][u"comment"_s].toString(), u"Site A"_s);
    QCOMPARE(diff[u"before"_s][u"com2.baudRate"_s].toInt(), 9600);
    QCOMPARE(diff[u"after"_s][u"com2.baudRate"_s].toInt(), 115200);
    QVERIFY2(checked.out.contains(u"+    \"comment\": \"Site A\""_s), qPrintable(checked.out));

    // The first run writes each device once and says changed; diff mode shows the fields.
    const Ran first = run(m_playbook, play + QStringList{u"--diff"_s});
    QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
    QCOMPARE(writesOf(handled), 2);
    QCOMPARE(sim.device(0).record.comment(), std::string("Site A"));
    QCOMPARE(sim.device(0).record.port(1).baudRate(), 115200u);
    QCOMPARE(sim.device(1).record.comment(), std::string("Site B"));
    QVERIFY2(first.out.contains(u"-    \"comment\": \"Tessel sim 1\""_s), qPrintable(first.out));
    QVERIFY(first.out.contains(u"+    \"comment\": \"Site A\""_s));
    QVERIFY(first.out.contains(u"changed: [localhost]"_s));
    QCOMPARE(taskResult(1)[u"written"_s].toBool(), true);
    QVERIFY(first.out.contains(u"localhost                  : ok=4    changed=2 "_s));

    // The second finds everything in place: ok, nothing written.
    handled.clear();
    const Ran second = run(m_playbook, play);
    QVERIFY2(second.status == 0, qPrintable(second.out + second.err));
    QCOMPARE(writesOf(handled), 0);
    QCOMPARE(taskResult(1)[u"changed"_s].toBool(), false);
    QCOMPARE(taskResult(2)[u"changed"_s].toBool(), false);
    QVERIFY2(second.out.contains(u"localhost                  : ok=4    changed=0 "_s), qPrintable(second.out));

    // Someone changed site B by hand and gave it a password the play does not know: its task fails.
    sim.device(1).record.setComment("By hand");
    sim.device(1).setPassword("secret1");
    const Ran refused = run(m_playbook, play);
    QCOMPARE(refused.status, 2); // a host failed
    QVERIFY2(refused.out.contains(u"fatal: [localhost]: FAILED!"_s), qPrintable(refused.out));
    QVERIFY(refused.out.contains(u"[password mismatch]"_s));
    QCOMPARE(sim.device(1).record.comment(), std::string("By hand"));
}

void TestCliAnsible::fleetTaskChangesOnceAndThenNothing()
{
    TesselSim sim(testProfile());
    sim.addDevices(kFleet, kFirstAddress);
    QString problem;
    QVERIFY2(sim.start(&problem), qPrintable(problem));
    QSignalSpy handled(&sim, &TesselSim::requestHandled);
    QFile playbook(m_dir.filePath(u"fleet.yml"_s));
    QVERIFY(playbook.open(QIODevice::WriteOnly) && playbook.write(kFleetPlaybook) == kFleetPlaybook.size());
    playbook.close();
    const QStringList play = {u"-i"_s, u"localhost,"_s, playbook.fileName(), u"-e"_s,
                              u"device_port=%1 cormapmp_cli=%2 results_file=%3"_s.arg(testProfile().devicePort)
                                  .arg(QStringLiteral(CORMAPMP_CLI_PATH), m_dir.filePath(u"results.json"_s))};
    // What each device must hold: comment, COM1's and COM2's rate.
    const std::string comments[kFleet] = {"Press 1", "Press 2", "Plant", "Kiln", "Plant", "Plant"};
    const unsigned com1[kFleet] = {115200, 57600, 115200, 115200, 115200, 115200};
    const unsigned com2 = 9600; // as the simulator starts, but device 4 (127.0.17.6) must take 38400

    // Check mode: every device would change, diff mode names the fields; nothing is written.
    const Ran checked = run(m_playbook, play + QStringList{u"--check"_s, u"--diff"_s});
    QVERIFY2(checked.status == 0, qPrintable(checked.out + checked.err));
    QCOMPARE(writesOf(handled), 0);
    QJsonObject fleet = taskResult(0);
    QCOMPARE(fleet[u"changed"_s].toBool(), true);
    QCOMPARE(fleet[u"changed_count"_s].toInt(), kFleet);
    QJsonObject pressTwo = fleet[u"devices"_s][u"02:7e:55:00:00:02"_s].toObject();
    QCOMPARE(pressTwo[u"result"_s].toString(), u"wouldChange"_s);
    QCOMPARE(pressTwo[u"written"_s].toBool(), false);
    QCOMPARE(pressTwo[u"mac"_s].toString(), u"02:7e:55:00:00:02"_s);
    const QJsonArray diffs = fleet[u"diff"_s].toArray();
    QCOMPARE(diffs.size(), kFleet);
    const QJsonObject diff = diffs.at(1).toObject();
    QCOMPARE(diff[u"before_header"_s].toString(), u"02:7e:55:00:00:02"_s);
    QCOMPARE(diff[u"before"_s][u"comment"_s].toString(), u"Tessel sim 2"_s);
    QCOMPARE(diff[u"after"_s][u"comment"_s].toString(), u"Press 2"_s);
    QCOMPARE(diff[u"before"_s][u"com1.baudRate"_s].toInt(), 19200);
    QCOMPARE(diff[u"after"_s][u"com1.baudRate"_s].toInt(), 57600);
    QCOMPARE(diffs.at(4).toObject()[u"after"_s][u"com2.baudRate"_s].toInt(), 38400);
    QVERIFY2(checked.out.contains(u"+    \"comment\": \"Press 2\""_s), qPrintable(checked.out));
    QCOMPARE(sim.device(0).record.comment(), std::string("Tessel sim 1"));

    // The first run writes each device once and says changed.
    const Ran first = run(m_playbook, play + QStringList{u"--diff"_s});
    QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
    QCOMPARE(writesOf(handled), kFleet);
    for (int i = 0; i < kFleet; ++i) {
        QCOMPARE(sim.device(i).record.comment(), comments[i]);
        QCOMPARE(sim.device(i).record.port(0).baudRate(), com1[i]);
        QCOMPARE(sim.device(i).record.port(1).baudRate(), i == 4 ? 38400u : com2);
    }
    fleet = taskResult(0);
    QCOMPARE(fleet[u"changed_count"_s].toInt(), kFleet);
    QCOMPARE(fleet[u"devices"_s][u"127.0.17.5"_s][u"result"_s].toString(), u"changed"_s);
    QCOMPARE(fleet[u"devices"_s][u"127.0.17.5"_s][u"written"_s].toBool(), true);
    QVERIFY2(first.out.contains(u"-    \"comment\": \"Tessel sim 4\""_s), qPrintable(first.out));
    QVERIFY(first.out.contains(u"localhost                  : ok=2    changed=1 "_s));

    // The second finds everything in place: ok, nothing written.
    handled.clear();
    const Ran second = run(m_playbook, play);
    QVERIFY2(second.status == 0, qPrintable(second.out + second.err));
    QCOMPARE(writesOf(handled), 0);
    fleet = taskResult(0);
    QCOMPARE(fleet[u"changed"_s].toBool(), false);
    QCOMPARE(fleet[u"unchanged_count"_s].toInt(), kFleet);
    QVERIFY2(second.out.contains(u"localhost                  : ok=2    changed=0 "_s), qPrintable(second.out));

    // One device changed by hand with a password the play does not know: the task fails naming it, and
    // the device changed by hand beside it is still brought back.
    sim.device(3).record.setComment("By hand");
    sim.device(3).setPassword("secret1");
    sim.device(5).record.setComment("By hand");
    handled.clear();
    const Ran refused = run(m_playbook, play);
    QVERIFY2(refused.out.contains(u"fatal: [localhost]: FAILED!"_s), qPrintable(refused.out));
    QVERIFY(refused.out.contains(u"127.0.17.5: "_s));
    QVERIFY(refused.out.contains(u"[password mismatch]"_s));
    fleet = taskResult(0);
    QCOMPARE(fleet[u"failed_count"_s].toInt(), 1);
    QCOMPARE(fleet[u"devices"_s][u"127.0.17.5"_s][u"result"_s].toString(), u"failed"_s);
    QCOMPARE(fleet[u"devices"_s][u"127.0.17.7"_s][u"result"_s].toString(), u"changed"_s);
    QCOMPARE(sim.device(3).record.comment(), std::string("By hand"));
    QCOMPARE(sim.device(5).record.comment(), std::string("Plant"));
    QCOMPARE(writesOf(handled), 2); // the refused write went out once, and the one that was taken
}

QTEST_GUILESS_MAIN(TestCliAnsible)
#include "tst_cli_ansible.moc"
