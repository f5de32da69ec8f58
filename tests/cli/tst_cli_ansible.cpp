// The Ansible collection in ansible/: built and installed with Debian's ansible-galaxy, then played with
// ansible-playbook against localhost, whose tasks run cormapmp-cli against simulated devices on loopback
// (127.0.17.2 and up, or 127.0.0.2 and up for the README's play; device port 53605, this test's own).
// The built collection carries what Galaxy expects, ansible-doc renders it, and ansible-test sanity
// passes on it (the tests that run without downloads, on Debian's packages) and fails on a broken copy.
// Skipped when ansible-core is not installed.
#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kFirstAddress = 0x7F001102; // 127.0.17.2
constexpr std::uint32_t kInventoryFirstAddress = 0x7F000002; // 127.0.0.2: the example inventory's devices
constexpr int kPlayTimeoutMs = 120000;
constexpr int kSanityTimeoutMs = 600000; // every sanity test, on two shared cores
const QString kSanityRunner = QStringLiteral(CORMAP_SOURCE_DIR "/tests/cli/ansible_sanity.py");
constexpr int kSanityToolsMissing = 3; // the runner's exit status when a tool it needs is not installed
const QString kCollectionPath = u"collections/ansible_collections/varkon/cormapmp"_s;

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

/** The README's two-site playbook, as written: its indented block, from its first line to the blank line. */
QByteArray readmePlaybook()
{
    QFile readme(QStringLiteral(CORMAP_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    QByteArray block;
    for (const QByteArray& line : readme.readAll().split('\n')) {
        if (block.isEmpty() && line != "    - name: Serial lines of both sites")
            continue;
        if (!line.startsWith("    "))
            break;
        block += line.mid(4) + '\n';
    }
    return block;
}

/** The file in which ansible-test --junit left the result of sanity test `test` (run on one Python
 *  version or on each). */
QString sanityResult(const QString& collection, const QString& test)
{
    const QDir junit(collection + u"/tests/output/junit"_s);
    const QString name = u"ansible-test-sanity-"_s + test;
    const QStringList files = junit.entryList({name + u".xml"_s, name + u"-python-*.xml"_s}, QDir::Files);
    return files.size() == 1 ? junit.filePath(files.constFirst()) : QString();
}

/** The recap line of `host` in ansible-playbook's output ("ok=2    changed=1 ..."). */
QString recap(const QString& output, const QString& host)
{
    const QRegularExpression line(u"^"_s + QRegularExpression::escape(host) + u"\\s+: (.*)$"_s,
                                  QRegularExpression::MultilineOption);
    return line.match(output).captured(1).simplified();
}
/** One site's devices in one task: by MAC and by address, with defaults and a device's own values. The
 *  play's header comes first (how the task reaches its host). */
const QByteArray kFleetPlaybook = R"(
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
        jobs: 32  # the most a task may ask for
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
    void readmePlaybookWithTheSimulatorInventoryChangesThenIsOk();
    void builtCollectionCarriesWhatGalaxyExpects();
    void ansibleDocRendersTheModules_data();
    void ansibleDocRendersTheModules();
    void builtCollectionPassesAnsibleTestSanity();
    void sanityRefusesABrokenCopy_data();
    void sanityRefusesABrokenCopy();
    void fleetTaskChangesOnceAndThenNothing_data();
    void fleetTaskChangesOnceAndThenNothing();
    void fleetTaskRefusesBadOptions_data();
    void fleetTaskRefusesBadOptions();

private:
    /** Runs `program` while the simulated devices keep answering (the event loop runs), in `folder`
     *  (the test's own by default). */
    Ran run(const QString& program, const QStringList& args, const QString& folder = {},
            int timeoutMs = kPlayTimeoutMs);
    /** Runs the offline ansible-test sanity in the collection at `collection` with `args`; skips the
     *  test when a tool it needs is not installed. */
    Ran sanity(const QString& collection, const QStringList& args);
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

Ran TestCliAnsible::run(const QString& program, const QStringList& args, const QString& folder, int timeoutMs)
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
    // Debian's programs first: ansible-test looks for the Python it runs on by name.
    env.insert(u"PATH"_s, u"/usr/bin:/bin:"_s + env.value(u"PATH"_s));
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder.isEmpty() ? m_dir.path() : folder);
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, args);
    loop.exec();
    Ran ran;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        ran.err = u"(ended after %1 s)\n"_s.arg(timeoutMs / 1000);
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

void TestCliAnsible::readmePlaybookWithTheSimulatorInventoryChangesThenIsOk()
{
    // The README's play, as written, is the collection's example; the example inventory gives both
    // sites to this host and the devices of tessel-sim --loopback --devices 2.
    const QByteArray playbook = readmePlaybook();
    QVERIFY2(playbook.contains("varkon.cormapmp.tessel_device:"), playbook.constData());
    const QString collection = m_dir.filePath(kCollectionPath);
    QFile example(collection + u"/examples/sites.yml"_s);
    QVERIFY(example.open(QIODevice::ReadOnly));
    QCOMPARE(example.readAll(), playbook);
    QFile readmePlay(m_dir.filePath(u"readme-sites.yml"_s));
    QVERIFY(readmePlay.open(QIODevice::WriteOnly) && readmePlay.write(playbook) == playbook.size());
    readmePlay.close();

    TesselSim sim(testProfile());
    sim.addDevices(2, kInventoryFirstAddress);
    QString problem;
    QVERIFY2(sim.start(&problem), qPrintable(problem));
    QSignalSpy handled(&sim, &TesselSim::requestHandled);
    const QStringList play = {
        u"-i"_s, collection + u"/examples/simulator/inventory.yml"_s, readmePlay.fileName(), u"-e"_s,
        u"tessel_device_port=%1 tessel_cli=%2"_s.arg(testProfile().devicePort).arg(QStringLiteral(CORMAPMP_CLI_PATH))};

    // Per site: the facts gathered, the devices found, the line's device written (then found as declared).
    const Ran first = run(m_playbook, play);
    QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
    for (const QString& host : {u"site-a.plant"_s, u"site-b.plant"_s}) {
        QVERIFY2(recap(first.out, host).startsWith(u"ok=3 changed=1 unreachable=0 failed=0"_s), qPrintable(first.out));
    }
    QCOMPARE(writesOf(handled), 2);
    // Site A's device named by its MAC, site B's by its address; both send to the plant server.
    const std::array<const char*, 2> comments{"Press 1", "Kiln 2"};
    for (int i = 0; i < 2; ++i) {
        const EnvRecord& record = sim.device(i).record;
        QCOMPARE(record.comment(), std::string(comments[static_cast<std::size_t>(i)]));
        QCOMPARE(record.port(0).mode(), std::uint8_t(EnvPortBlock::kTcpClient));
        QCOMPARE(record.port(0).peerIp(), 0x7F000001u);
        QCOMPARE(record.port(0).peerPort(), std::uint16_t(4001));
        QCOMPARE(record.port(0).baudRate(), 115200u);
    }

    handled.clear();
    const Ran second = run(m_playbook, play);
    QVERIFY2(second.status == 0, qPrintable(second.out + second.err));
    for (const QString& host : {u"site-a.plant"_s, u"site-b.plant"_s}) {
        QVERIFY2(recap(second.out, host).startsWith(u"ok=3 changed=0 unreachable=0 failed=0"_s),
                 qPrintable(second.out));
    }
    QCOMPARE(writesOf(handled), 0);
}

void TestCliAnsible::builtCollectionCarriesWhatGalaxyExpects()
{
    const QDir collection(m_dir.filePath(kCollectionPath));
    // What the archive shipped, as its FILES.json lists it.
    QFile filesJson(collection.filePath(u"FILES.json"_s));
    QVERIFY(filesJson.open(QIODevice::ReadOnly));
    QStringList shipped;
    for (const QJsonValue& f : QJsonDocument::fromJson(filesJson.readAll())[u"files"_s].toArray())
        shipped << f[u"name"_s].toString();
    for (const QString& file :
         {u"README.md"_s, u"LICENSE"_s, u"CHANGELOG.md"_s, u"changelogs/changelog.yaml"_s, u"tests/config.yml"_s,
          u"meta/runtime.yml"_s, u"examples/sites.yml"_s, u"examples/simulator/inventory.yml"_s}) {
        QVERIFY2(shipped.contains(file), qPrintable(file + u" not in "_s + shipped.join(u' ')));
        QVERIFY2(QFileInfo(collection.filePath(file)).size() > 0, qPrintable(file));
    }
    QVERIFY2(shipped.filter(u"tests/output"_s).isEmpty(), qPrintable(shipped.join(u' ')));
    QFile licence(collection.filePath(u"LICENSE"_s));
    QVERIFY(licence.open(QIODevice::ReadOnly));
    QVERIFY(licence.readAll().contains("GNU GENERAL PUBLIC LICENSE\n                       Version 3"));
    QFile manifest(collection.filePath(u"MANIFEST.json"_s));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    const QJsonObject info = QJsonDocument::fromJson(manifest.readAll())[u"collection_info"_s].toObject();
    QCOMPARE(info[u"readme"_s].toString(), u"README.md"_s);
    QCOMPARE(info[u"authors"_s].toArray(), QJsonArray{u"Varkon Systems (@varkonsystems)"_s});
}

void TestCliAnsible::ansibleDocRendersTheModules_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("tessel_device") << u"varkon.cormapmp.tessel_device"_s
                                   << QStringList{u"Reads the device named by `device', compares the `fields'"_s,
                                                  u"check_mode:\n          description: Reads the device"_s,
                                                  u"diff_mode:\n          description: Shows each field"_s};
    QTest::newRow("tessel_facts") << u"varkon.cormapmp.tessel_facts"_s
                                  << QStringList{u"or the one at `ip')"_s,
                                                 u"facts:\n          description: Sets `tessel_devices'"_s,
                                                 u"(default 50005, with `loopback'\n        51005)"_s};
    QTest::newRow("tessel_fleet") << u"varkon.cormapmp.tessel_fleet"_s
                                  << QStringList{u"Brings every device that `devices' names"_s,
                                                 u"When the task runs on the controller itself"_s,
                                                 u"This module has a corresponding action plugin."_s};
}

void TestCliAnsible::ansibleDocRendersTheModules()
{
    QFETCH(QString, module);
    QFETCH(QStringList, shown);
    const QString doc = QStandardPaths::findExecutable(u"ansible-doc"_s);
    if (doc.isEmpty())
        QSKIP("ansible-doc is not installed (Debian: ansible-core)");
    const Ran shownDoc = run(doc, {module});
    QVERIFY2(shownDoc.status == 0, qPrintable(shownDoc.out + shownDoc.err));
    for (const QString& text : shown)
        QVERIFY2(shownDoc.out.contains(text), qPrintable(text + u"\n--- in ---\n"_s + shownDoc.out));
    // Markup this ansible-doc does not know would show as written.
    static const QRegularExpression raw(u"\\b[OVIBCUMLRE]\\("_s);
    QVERIFY2(!raw.match(shownDoc.out).hasMatch(), qPrintable(shownDoc.out));
    QVERIFY(shownDoc.out.contains(u"AUTHOR: Varkon Systems (@varkonsystems)"_s));
}

Ran TestCliAnsible::sanity(const QString& collection, const QStringList& args)
{
    return run(QStringLiteral(CORMAP_PYTHON3), QStringList{kSanityRunner, u"--junit"_s} + args, collection,
               kSanityTimeoutMs);
}

void TestCliAnsible::builtCollectionPassesAnsibleTestSanity()
{
    const QString collection = m_dir.filePath(kCollectionPath);
    const Ran ran = sanity(collection, {});
    if (ran.status == kSanityToolsMissing)
        QSKIP(qPrintable(ran.err.trimmed() + u" (scripts/deps.sh --test installs them)"_s));
    QVERIFY2(ran.status == 0, qPrintable(ran.out + ran.err));
    // Each test's result as ansible-test wrote it: the tests that matter here ran (on Debian's tools)
    // and passed, not only passed by being left out.
    const QStringList checked = {u"ansible-doc"_s,      u"compile"_s,
                                 u"import"_s,           u"line-endings"_s,
                                 u"no-smart-quotes"_s,  u"pep8"_s,
                                 u"pylint"_s,           u"runtime-metadata"_s,
                                 u"shebang"_s,          u"use-argspec-type-path"_s,
                                 u"validate-modules"_s, u"yamllint"_s};
    for (const QString& test : checked) {
        QFile result(sanityResult(collection, test));
        QVERIFY2(result.open(QIODevice::ReadOnly), qPrintable(test + u" left no result\n"_s + ran.out + ran.err));
        const QByteArray xml = result.readAll();
        QVERIFY2(xml.contains("<testsuite disabled=\"0\" errors=\"0\" failures=\"0\" name=\"ansible-test\" "
                              "skipped=\"0\" tests=\"1\""),
                 qPrintable(test + u":\n"_s + QString::fromUtf8(xml)));
    }
    // Boilerplate for Python 2 does not apply: the collection declares Python 3 only.
    QFile boilerplate(sanityResult(collection, u"future-import-boilerplate"_s));
    QVERIFY(boilerplate.open(QIODevice::ReadOnly));
    QVERIFY(boilerplate.readAll().contains("failures=\"0\""));
}

void TestCliAnsible::sanityRefusesABrokenCopy_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("test");
    QTest::addColumn<QString>("message");
    const QString facts = u"plugins/modules/tessel_facts.py"_s;
    QTest::newRow("author without its handle")
        << facts << u"author: Varkon Systems (@varkonsystems)"_s << u"author: VarkonSystems"_s << u"validate-modules"_s
        << u"Invalid author"_s;
    QTest::newRow("attribute without description")
        << facts << u"    description: Sets C(tessel_devices) in the host's facts.\n"_s << QString()
        << u"validate-modules"_s << u"['attributes']['facts']['description']"_s;
    QTest::newRow("a line too long") << facts << u"# The Tessel devices a search"_s
                                     << u"# "_s + u"a long comment "_s.repeated(12) +
                                            u"end\n# The Tessel devices a search"_s
                                     << u"pep8"_s << u"E501"_s;
    QTest::newRow("a name never defined")
        << facts << u"    module.exit_json(changed=False"_s << u"    module.exit_json(changed=undefined_name"_s
        << u"pylint"_s << u"undefined-variable"_s;
    QTest::newRow("an unknown key in the runtime metadata")
        << u"meta/runtime.yml"_s << u"action_groups:"_s << u"unknown_key: 1\naction_groups:"_s << u"runtime-metadata"_s
        << u"extra keys not allowed"_s;
    QTest::newRow("a module importing what managed hosts lack")
        << facts << u"from ansible.module_utils.basic import AnsibleModule\n"_s
        << u"from ansible.module_utils.basic import AnsibleModule\nimport voluptuous\n"_s << u"import"_s
        << u"No module named 'voluptuous'"_s;
}

void TestCliAnsible::sanityRefusesABrokenCopy()
{
    QFETCH(QString, file);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, test);
    QFETCH(QString, message);
    const QString root =
        m_dir.filePath(u"broken/"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-'));
    const QString copy = root + u"/ansible_collections/varkon/cormapmp"_s;
    QVERIFY(QDir().mkpath(root + u"/ansible_collections/varkon"_s));
    QCOMPARE(QProcess::execute(u"cp"_s, {u"-r"_s, m_dir.filePath(kCollectionPath), copy}), 0);
    QFile broken(copy + u'/' + file);
    QVERIFY(broken.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(broken.readAll());
    broken.close();
    QVERIFY2(text.contains(from), qPrintable(from));
    text.replace(from, to);
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write(text.toUtf8());
    broken.close();
    const Ran ran = sanity(copy, {u"--test"_s, test});
    if (ran.status == kSanityToolsMissing)
        QSKIP(qPrintable(ran.err.trimmed() + u" (scripts/deps.sh --test installs them)"_s));
    QVERIFY2(ran.status != 0, qPrintable(ran.out + ran.err));
    QVERIFY2((ran.out + ran.err).contains(message), qPrintable(ran.out + ran.err));
    QVERIFY2((ran.out + ran.err).contains(u"ERROR: Found 1 "_s + test + u" issue(s)"_s), qPrintable(ran.out + ran.err));
}

void TestCliAnsible::fleetTaskChangesOnceAndThenNothing_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("asModule");
    const QByteArray local = "- name: One site\n  hosts: localhost\n  connection: local\n  gather_facts: false\n";
    // On the controller the task runs cormapmp-cli from Ansible's own process; with become the module is
    // sent to the host and run there (su from root to root asks no password), as on any managed host.
    QTest::newRow("on the controller") << local << false;
    QTest::newRow("sent as a module") << local + "  become: true\n  become_method: su\n" << true;
    // An environment for the task is the module's to apply, on the host it runs on.
    QTest::newRow("with an environment") << local + "  environment: {TZ: UTC}\n" << true;
}

void TestCliAnsible::fleetTaskChangesOnceAndThenNothing()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, asModule);
    if (header.contains("become") && ::geteuid() != 0)
        QSKIP("becoming root without a password needs the test to run as root");
    TesselSim sim(testProfile());
    sim.addDevices(kFleet, kFirstAddress);
    QString problem;
    QVERIFY2(sim.start(&problem), qPrintable(problem));
    QSignalSpy handled(&sim, &TesselSim::requestHandled);
    QFile playbook(m_dir.filePath(u"fleet.yml"_s));
    const QByteArray text = header + kFleetPlaybook;
    QVERIFY(playbook.open(QIODevice::WriteOnly) && playbook.write(text) == text.size());
    playbook.close();
    const QStringList play = {u"-i"_s, u"localhost,"_s, playbook.fileName(), u"-e"_s,
                              u"device_port=%1 cormapmp_cli=%2 results_file=%3"_s.arg(testProfile().devicePort)
                                  .arg(QStringLiteral(CORMAPMP_CLI_PATH), m_dir.filePath(u"results.json"_s))};
    // What each device must hold: comment, COM1's and COM2's rate.
    const std::string comments[kFleet] = {"Press 1", "Press 2", "Plant", "Kiln", "Plant", "Plant"};
    const unsigned com1[kFleet] = {115200, 57600, 115200, 115200, 115200, 115200};
    const unsigned com2 = 9600; // as the simulator starts, but device 4 (127.0.17.6) must take 38400

    // Check mode: every device would change, diff mode names the fields; nothing is written.
    const Ran checked = run(m_playbook, play + QStringList{u"--check"_s, u"--diff"_s, u"-vvv"_s});
    QVERIFY2(checked.status == 0, qPrintable(checked.out + checked.err));
    // Ansible names the module it sends to a host in what it says at this verbosity: which way the task went.
    QCOMPARE(checked.out.contains(u"AnsiballZ_tessel_fleet.py"_s), asModule);
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

void TestCliAnsible::fleetTaskRefusesBadOptions_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QString>("said");
    const QByteArray local = "- hosts: localhost\n  connection: local\n  gather_facts: false\n";
    const QByteArray become = local + "  become: true\n  become_method: su\n";
    const QByteArray cli = "        cli: " CORMAPMP_CLI_PATH "\n";
    const struct
    {
        const char* name;
        QByteArray options;
        QString said;
    } cases[] = {
        {"jobs beyond 32", "        devices: {127.0.17.2: {comment: A}}\n        jobs: 33\n" + cli,
         u"jobs: 33 is not a number from 1 to 32"_s},
        {"no jobs", "        devices: {127.0.17.2: {comment: A}}\n        jobs: 0\n" + cli,
         u"jobs: 0 is not a number from 1 to 32"_s},
        {"jobs not a number", "        devices: {127.0.17.2: {comment: A}}\n        jobs: many\n" + cli,
         u"argument 'jobs' is of type"_s},
        {"a device without a mapping", "        devices: {127.0.17.2: 5}\n" + cli,
         u"devices: 127.0.17.2: expected a mapping of fields to values, not 5"_s},
        {"no device", "        devices: {}\n" + cli, u"devices: name at least one device"_s},
        {"no such program", "        devices: {127.0.17.2: {comment: A}}\n        cli: no-such-cormapmp-cli\n",
         u"Failed to find required executable"_s},
    };
    for (const auto& c : cases) {
        QTest::addRow("%s, on the controller", c.name) << local << c.options << c.said;
        if (::geteuid() == 0)
            QTest::addRow("%s, sent as a module", c.name) << become << c.options << c.said;
    }
}

void TestCliAnsible::fleetTaskRefusesBadOptions()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, options);
    QFETCH(QString, said);
    QFile playbook(m_dir.filePath(u"refused.yml"_s));
    const QByteArray text = header + "  tasks:\n    - varkon.cormapmp.tessel_fleet:\n" + options +
                            "        loopback: true\n        device_port: " +
                            QByteArray::number(testProfile().devicePort) + "\n";
    QVERIFY(playbook.open(QIODevice::WriteOnly) && playbook.write(text) == text.size());
    playbook.close();
    const Ran refused = run(m_playbook, {u"-i"_s, u"localhost,"_s, playbook.fileName()});
    QVERIFY2(refused.status != 0, qPrintable(refused.out + refused.err));
    QVERIFY2(refused.out.contains(u"fatal: [localhost]: FAILED!"_s), qPrintable(refused.out));
    QVERIFY2(refused.out.contains(said), qPrintable(refused.out));
}

QTEST_GUILESS_MAIN(TestCliAnsible)
#include "tst_cli_ansible.moc"
