// The command-line tool over a bad network, on the real profile in namespaces of this test's own:
// `tc netem` on both ends of the veth link (or, on a kernel without netem, a relay between the two
// namespaces that makes the same faults) loses, duplicates, reorders and delays datagrams, one fault at
// a time and all together. Under each: a search lists every device whose answer reached the client
// host (seen by a packet capture there) and nothing else; a read returns the device asked for; writes
// and password changes either succeed (and the device's stored state shows it) or end with exactly one
// of their messages, and never report success for a refused or lost request; a firmware upload, direct
// and through the shell, either arrives intact (the device's SHA-256 of what it received) or ends with
// exactly one failure message, and the device never takes a damaged image.

#include "NetnsFixture.h"
#include "text/StringTable.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <tuple>

namespace {
const QString kCli = QStringLiteral(CORMAPMP_CLI_PATH);
const QString kSim = QStringLiteral(TESSEL_SIM_PATH);
const QByteArray kPassword = "tessel1";
constexpr int kCliMs = 20000;
constexpr std::uint16_t kDevicePort = 50005;
constexpr int kOffComment = 88;
constexpr int kCommentSize = 32;

/** A message of the tool as it prints it (English, a line break after it). */
QString programText(int id)
{
    return StringTable(UiLanguage::English).text(id).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
           QLatin1Char('\n');
}
constexpr int kNoResponse = 166;
constexpr int kMismatch = 961;
constexpr int kFirmwareDone = 163;
constexpr int kImageSize = 3000; // six TFTP blocks

/** Search replies (command 1) that reach the client host, by the MAC in their header: an AF_PACKET
 *  socket on the client's veth sees every datagram that arrives there. */
class SearchReplyCapture final
{
public:
    explicit SearchReplyCapture(const QString& clientNamespace)
    {
        const netns::ThreadInNamespace inClient(clientNamespace);
        m_error = inClient.error();
        if (!m_error.isEmpty())
            return;
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_IP);
        at.sll_ifindex = static_cast<int>(::if_nametoindex("vcli"));
        if (m_fd < 0 || at.sll_ifindex == 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            m_error = QStringLiteral("packet capture on vcli: %1").arg(qt_error_string(errno));
        const int buffer = 4 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    ~SearchReplyCapture()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    QString error() const { return m_error; }

    /** The MACs of the search replies that arrived since the last call. */
    QSet<QString> take()
    {
        QSet<QString> macs;
        std::array<std::uint8_t, 2048> packet{};
        for (;;) {
            sockaddr_ll from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n =
                ::recvfrom(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n <= 0)
                return macs;
            if (from.sll_pkttype == PACKET_OUTGOING || n < static_cast<ssize_t>(sizeof(iphdr)))
                continue;
            const auto* ip = reinterpret_cast<const iphdr*>(packet.data());
            const std::size_t udpAt = ip->ihl * 4u;
            if (ip->protocol != IPPROTO_UDP || static_cast<std::size_t>(n) < udpAt + sizeof(udphdr) + 640)
                continue;
            const auto* udp = reinterpret_cast<const udphdr*>(packet.data() + udpAt);
            const std::uint8_t* frame = packet.data() + udpAt + sizeof(udphdr);
            if (ntohs(udp->source) != kDevicePort || !(frame[5] & 0x80) || frame[6] != 1)
                continue;
            QStringList bytes;
            for (int i = 10; i < 16; ++i)
                bytes << QStringLiteral("%1").arg(frame[i], 2, 16, QLatin1Char('0'));
            macs.insert(bytes.join(QLatin1Char(':')));
        }
    }

private:
    int m_fd = -1;
    QString m_error;
};

struct Started
{
    std::unique_ptr<QProcess> process;
    QString what;
};

/** How one run of the tool ended. */
struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

Outcome outcomeOf(Started& s)
{
    return {s.process->exitCode(), QString::fromUtf8(s.process->readAllStandardOutput()),
            QString::fromUtf8(s.process->readAllStandardError())};
}

/** A firmware upload of a round: the way, the device's address and the file's name. */
struct Upload
{
    QString way, address, name;
};
} // namespace

class TestE2eBadNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyExchangeEndsRightOrWithOneMessage_data();
    void everyExchangeEndsRightOrWithOneMessage();

private:
    Started start(const QStringList& args, const QByteArray& password, const QString& what);
    /** The comment the simulator keeps for `mac` in its state file (written after every change). */
    QString storedComment(const QString& mac) const;
    /** Every device whose answer reached the client is listed, each at its own address, and no other. */
    void checkSearch(const Outcome& search, const QSet<QString>& answered);
    /** Success only with the image intact on the device; else exactly one failure message. */
    void checkFirmware(const std::vector<Outcome>& runs, const std::vector<Upload>& uploads, const QString& sha);

    QTemporaryDir m_dir;
    std::unique_ptr<netns::NamespacePair> m_namespaces;
    std::unique_ptr<SearchReplyCapture> m_capture;
    QMap<QString, QString> m_macByAddress;
    int m_round = 0;
};

void TestE2eBadNetwork::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tc")).isEmpty() &&
        !QFile::exists(QStringLiteral("/usr/sbin/tc")) && !QFile::exists(QStringLiteral("/sbin/tc")))
        QSKIP("needs `tc` (iproute2) for the netem discipline");
    QVERIFY(m_dir.isValid());
    netns::Setup setup = netns::setUpBadLink(QStringLiteral("cormap-e2e-net-"), kSim,
                                             {QStringLiteral("--password"), QString::fromLatin1(kPassword),
                                              QStringLiteral("--state"), m_dir.filePath(QStringLiteral("state.json"))});
    if (!setup.skipReason.isEmpty())
        QSKIP(qPrintable(setup.skipReason));
    m_namespaces = std::move(setup.pair);
    QVERIFY2(setup.error.isEmpty(), qPrintable(setup.error));
    m_macByAddress = m_namespaces->macByAddress();
    m_capture = std::make_unique<SearchReplyCapture>(m_namespaces->client);
    QVERIFY2(m_capture->error().isEmpty(), qPrintable(m_capture->error()));
}

void TestE2eBadNetwork::cleanupTestCase()
{
    m_capture.reset();
    m_namespaces.reset();
}

Started TestE2eBadNetwork::start(const QStringList& args, const QByteArray& password, const QString& what)
{
    Started s{std::make_unique<QProcess>(), what};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("CORMAPMP_PASSWORD"), QString::fromLatin1(password));
    env.insert(QStringLiteral("CORMAPMP_NEW_PASSWORD"), QString::fromLatin1(kPassword));
    s.process->setProcessEnvironment(env);
    s.process->start(QStringLiteral("ip"),
                     QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_namespaces->client, kCli} + args);
    return s;
}

QString TestE2eBadNetwork::storedComment(const QString& mac) const
{
    QFile file(m_dir.filePath(QStringLiteral("state.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonArray devices =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("devices")).toArray();
    for (const QJsonValue& d : devices) {
        if (d.toObject().value(QStringLiteral("mac")).toString() != mac)
            continue;
        const QByteArray record =
            QByteArray::fromHex(d.toObject().value(QStringLiteral("record")).toString().toLatin1());
        const QByteArray comment = record.mid(kOffComment, kCommentSize);
        return QString::fromLatin1(comment.left(comment.indexOf('\0') < 0 ? kCommentSize : comment.indexOf('\0')));
    }
    return {};
}

void TestE2eBadNetwork::everyExchangeEndsRightOrWithOneMessage_data()
{
    QTest::addColumn<QStringList>("netem");
    const auto spec = [](const char* text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
    QTest::newRow("20% loss") << spec("loss 20%");
    QTest::newRow("10% duplication") << spec("duplicate 10%");
    QTest::newRow("reordering") << spec("delay 10ms reorder 25% 50%");
    QTest::newRow("50 ms jitter") << spec("delay 60ms 50ms");
    QTest::newRow("all together") << spec("loss 20% duplicate 10% delay 60ms 50ms reorder 25% 50%");
}

void TestE2eBadNetwork::everyExchangeEndsRightOrWithOneMessage()
{
    QFETCH(QStringList, netem);
    QVERIFY2(m_namespaces->setNetem(netem).isEmpty(), qPrintable(m_namespaces->setNetem(netem)));
    const auto cleanup = qScopeGuard([this] { m_namespaces->setNetem({}); });
    const QString a = QStringLiteral("10.250.0.10"), b = QStringLiteral("10.250.0.11"),
                  c = QStringLiteral("10.250.0.12");
    const QString comment = QStringLiteral("netem %1").arg(QString::fromLatin1(QTest::currentDataTag()).left(20));
    const QString wrongComment = QStringLiteral("must never be stored");
    m_capture->take();

    // Round one side by side: a search, a read by address, a write and two password changes by MAC (every
    // exchange from a port of its own). Round two: a refused write by address, right after its read, and
    // a read by MAC.
    std::vector<Started> round1;
    round1.push_back(start({QStringLiteral("search")}, {}, QStringLiteral("search")));
    round1.push_back(start({QStringLiteral("read"), QStringLiteral("--json"), a}, {}, QStringLiteral("read ") + a));
    round1.push_back(start({QStringLiteral("write"), m_macByAddress.value(b), QStringLiteral("comment=") + comment},
                           kPassword, QStringLiteral("write")));
    round1.push_back(start({QStringLiteral("passwd"), m_macByAddress.value(a)}, kPassword, QStringLiteral("passwd")));
    round1.push_back(
        start({QStringLiteral("passwd"), m_macByAddress.value(c)}, "wrong12", QStringLiteral("passwd wrong")));
    for (Started& s : round1)
        QVERIFY2(s.process->waitForFinished(kCliMs), qPrintable(s.what));
    const QSet<QString> answered = m_capture->take();
    std::vector<Started> round2;
    round2.push_back(start({QStringLiteral("write"), c, QStringLiteral("comment=") + wrongComment}, "wrong12",
                           QStringLiteral("write wrong")));
    round2.push_back(start({QStringLiteral("read"), QStringLiteral("--json"), m_macByAddress.value(b)}, {},
                           QStringLiteral("read by MAC")));
    // Firmware, both ways, beside round two: to the first device directly, to the second through its shell.
    QByteArray image(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i)
        image[i] = static_cast<char>((i * 131 + m_round) ^ (i >> 9));
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    const std::vector<Upload> uploads = {
        {QStringLiteral("--direct"), a, QStringLiteral("bad-%1-direct.bin").arg(m_round)},
        {QStringLiteral("--shell"), b, QStringLiteral("bad-%1-shell.bin").arg(m_round)}};
    ++m_round;
    for (const Upload& u : uploads) {
        QFile file(m_dir.filePath(u.name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();
        round2.push_back(start({QStringLiteral("firmware"), m_dir.filePath(u.name), u.address, u.way}, {}, u.way));
    }
    for (Started& s : round2)
        QVERIFY2(s.process->waitForFinished(kCliMs), qPrintable(s.what));

    checkSearch(outcomeOf(round1[0]), answered);
    if (QTest::currentTestFailed())
        return;
    // Reads: the device asked for, or no answer.
    for (const auto& [s, mac] :
         {std::pair{&round1[1], m_macByAddress.value(a)}, {&round2[1], m_macByAddress.value(b)}}) {
        const auto [status, out, err] = outcomeOf(*s);
        if (status == 0)
            QCOMPARE(QJsonDocument::fromJson(out.toUtf8()).object().value(QStringLiteral("mac")).toString(), mac);
        else
            QCOMPARE(err, programText(kNoResponse));
    }
    // The right password: success, and the device stores it, or no answer; never a refusal.
    {
        const auto [status, out, err] = outcomeOf(round1[2]);
        // Without an answer the device is read back: stored (success), not stored (the request was
        // lost on the way, and the device still holds its settings), or, when that read goes unanswered
        // too, the program's message first and then that nobody can tell.
        if (status == 0)
            QCOMPARE(storedComment(m_macByAddress.value(b)), comment);
        else if (err.contains(QStringLiteral("did not take the write")))
            QVERIFY(storedComment(m_macByAddress.value(b)) != comment);
        else
            QVERIFY2(err.startsWith(programText(kNoResponse)), qPrintable(err));
        const auto [pstatus, pout, perr] = outcomeOf(round1[3]);
        QVERIFY2(pstatus == 0 ? perr.isEmpty() : perr.startsWith(programText(kNoResponse)), qPrintable(perr));
    }
    // A wrong password: the refusal or no answer, never success; nothing stored.
    for (Started* s : {&round1[4], &round2[0]}) {
        const auto [status, out, err] = outcomeOf(*s);
        QCOMPARE(status, 1);
        // Its refusal, no answer, or, its answer lost, the device read back still holding what it had.
        QVERIFY2(err == programText(kMismatch) || err.startsWith(programText(kNoResponse)) ||
                     err.contains(QStringLiteral("did not take the write")) ||
                     err.contains(QStringLiteral("it was not changed")),
                 qPrintable(s->what + QStringLiteral(": ") + err));
    }
    QVERIFY(storedComment(m_macByAddress.value(c)) != wrongComment);

    checkFirmware({outcomeOf(round2[2]), outcomeOf(round2[3])}, uploads, sha);
}

void TestE2eBadNetwork::checkSearch(const Outcome& search, const QSet<QString>& answered)
{
    QSet<QString> listed;
    for (const QString& line : search.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString mac = line.section(QLatin1Char(' '), 0, 0);
        QVERIFY2(line.contains(QLatin1Char(' ') + m_macByAddress.key(mac) + QLatin1Char(' ')), qPrintable(line));
        listed.insert(mac);
    }
    QVERIFY2(answered.contains(listed) && listed.contains(answered),
             qPrintable(QStringLiteral("answered: %1; listed: %2; status %3, %4")
                            .arg(QStringList(answered.values()).join(QLatin1Char(' ')),
                                 QStringList(listed.values()).join(QLatin1Char(' ')), QString::number(search.status),
                                 search.err)));
    QCOMPARE(search.status, listed.isEmpty() ? 1 : 0);
    QCOMPARE(search.err, listed.isEmpty() ? programText(kNoResponse) : QString());
}

void TestE2eBadNetwork::checkFirmware(const std::vector<Outcome>& runs, const std::vector<Upload>& uploads,
                                      const QString& sha)
{
    int succeeded = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Outcome& run = runs[i];
        qInfo("firmware %s: %s", qPrintable(uploads[i].way),
              run.status == 0 ? "arrived" : qPrintable(run.err.trimmed()));
        if (run.status == 0) {
            QVERIFY2(run.out.endsWith(programText(kFirmwareDone)) && run.err.isEmpty(), qPrintable(run.out + run.err));
            ++succeeded;
        } else {
            QCOMPARE(run.status, 1);
            QVERIFY2(run.err.count(QLatin1Char('\n')) == 1 && !run.out.contains(programText(kFirmwareDone)),
                     qPrintable(uploads[i].way + QStringLiteral(": ") + run.err));
        }
    }
    // What the devices say they received: every image of this round intact, one per success at least.
    QStringList received;
    for (QString line; (line = m_namespaces->waitForSimulatorLine(QStringLiteral("firmware "),
                                                                  received.size() < succeeded ? 5000 : 300))
                           .size() > 0;)
        received << line;
    int intact = 0;
    for (const QString& line : received) {
        for (const Upload& u : uploads) {
            if (!line.contains(QLatin1Char(' ') + u.name + QLatin1Char(' ')))
                continue;
            QCOMPARE(line, QStringLiteral("firmware %1 %2 %3 %4")
                               .arg(m_macByAddress.value(u.address), u.name, QString::number(kImageSize), sha));
            ++intact;
        }
    }
    QVERIFY2(intact >= succeeded, qPrintable(received.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestE2eBadNetwork)
#include "tst_e2e_badnetwork.moc"
