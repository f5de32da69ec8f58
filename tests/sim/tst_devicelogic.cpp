// What a simulated device makes of a request, over bytes only: DeviceLogic.

#include "DeviceLogic.h"
#include "SimExchange.h"
#include "StatusItems.h"

#include <QTest>

using sim::Arrival;

namespace {
constexpr std::uint32_t kAddress = 0x7F000002;
constexpr std::uint32_t kRandom1 = 0x1234;
constexpr std::uint32_t kRandom2 = 0x7ABC;

SimDevice device(const QByteArray& password = {})
{
    SimDevice d = TesselSim::makeDevice(0, kAddress);
    d.setPassword(password);
    return d;
}

// A request as the program sends it: body filled, then header, checksums and scrambling.
QByteArray wire(int command, const EnvRecord& body, bool unicast = false, const QByteArray& newPassword = {})
{
    frame::Frame f{};
    std::copy_n(body.data(), frame::kRecordSize, f.begin() + frame::kOffBody);
    const std::array<std::uint8_t, 8> extension = simtest::hashedPassword(newPassword);
    std::copy(extension.begin(), extension.end(), f.begin() + frame::kOffBody + frame::kBodyOffNewPassword);
    frame::BuildRequest(f, unicast ? frame::kFlagsUnicastRequest : frame::kFlagsBroadcastRequest,
                        static_cast<std::uint8_t>(command), kRandom1, kRandom2);
    return QByteArray(reinterpret_cast<const char*>(f.data()), frame::kFrameSize);
}

frame::Frame accepted(const QByteArray& datagram)
{
    const std::optional<frame::Frame> f = sim::acceptDatagram(datagram);
    if (!f)
        qFatal("the test's own request was not accepted");
    return *f;
}

// The reply as the program's endpoint checks it; nothing when a check fails.
std::optional<frame::Frame> asReceived(const QByteArray& reply)
{
    if (reply.size() < static_cast<qsizetype>(frame::kFrameSize))
        return std::nullopt;
    frame::Frame f;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(reply.constData()), frame::kFrameSize, f.begin());
    if (!frame::AcceptReply(f))
        return std::nullopt;
    return f;
}

EnvRecord macOnly(const EnvRecord& record)
{
    EnvRecord r;
    r.setMac(record.mac());
    return r;
}

EnvRecord withPassword(EnvRecord record, const QByteArray& typed)
{
    simtest::setHashedPassword(record, typed);
    return record;
}
} // namespace

class TestDeviceLogic : public QObject
{
    Q_OBJECT

private slots:
    void acceptsARequestAndDescramblesItsBody();
    void rejectsMalformedDatagrams_data();
    void rejectsMalformedDatagrams();
    void searchIsForEveryDevice();
    void broadcastRequestIsForTheDeviceWithTheHeaderMac_data();
    void broadcastRequestIsForTheDeviceWithTheHeaderMac();
    void unicastRequestIsForTheReceiverWhateverTheBodyHolds();
    void unknownCommandIsForNoDevice();
    void replyCarriesTheDeviceMacRecordAndRequestWords_data();
    void replyCarriesTheDeviceMacRecordAndRequestWords();
    void writeIsJudgedByPassword_data();
    void writeIsJudgedByPassword();
    void writeKeepsIdentityCapabilitiesAndPassword();
    void passwordChangeStoresTheNewHash_data();
    void passwordChangeStoresTheNewHash();
    void statusReplyCarriesTheItemsBehindTheFrame();
    void statusItemsAreCappedAt820Bytes();
    void damagedRepliesFailTheEndpointsChecks_data();
    void damagedRepliesFailTheEndpointsChecks();
    void foreignMacReplyCarriesAnotherMac();
    void forcedResultIsReportedAndActsOnlyWhenZeroAndMatching_data();
    void forcedResultIsReportedAndActsOnlyWhenZeroAndMatching();
    void deviceReportsItsPasswordAsItsHash();
};

void TestDeviceLogic::acceptsARequestAndDescramblesItsBody()
{
    const SimDevice d = device();
    const std::optional<frame::Frame> f = sim::acceptDatagram(wire(frame::kWrite, d.record));
    QVERIFY(f);
    QVERIFY(std::equal(d.record.data(), d.record.data() + frame::kRecordSize, f->begin() + frame::kOffBody));
}

void TestDeviceLogic::rejectsMalformedDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    const QByteArray good = wire(frame::kRead, device().record);
    const auto damaged = [&](int offset) {
        QByteArray d = good;
        d[offset] = static_cast<char>(d[offset] ^ 0x5A);
        return d;
    };
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short") << good.first(639);
    QTest::newRow("long") << good + '\0';
    QTest::newRow("magic") << damaged(0);
    QTest::newRow("header checksum") << damaged(frame::kOffHeaderSum);
    QTest::newRow("random word, header checksum unchanged") << damaged(frame::kOffRandom1);
    QTest::newRow("body byte, FCS unchanged") << damaged(frame::kOffBody + 100);
    QTest::newRow("FCS") << damaged(frame::kOffFcs);
    QTest::newRow("seed") << damaged(frame::kOffSeed);

    frame::Frame reply{};
    std::copy_n(device().record.data(), frame::kRecordSize, reply.begin() + frame::kOffBody);
    frame::BuildRequest(reply, frame::kFlagReply | frame::kFlagScrambled, frame::kRead, 1, 2);
    QTest::newRow("a reply") << QByteArray(reinterpret_cast<const char*>(reply.data()), frame::kFrameSize);
}

void TestDeviceLogic::rejectsMalformedDatagrams()
{
    QFETCH(QByteArray, datagram);
    QVERIFY(!sim::acceptDatagram(datagram));
}

void TestDeviceLogic::searchIsForEveryDevice()
{
    const frame::Frame search = accepted(wire(frame::kSearch, EnvRecord()));
    QVERIFY(sim::isAddressed(device(), search, Arrival::Broadcast));
    QVERIFY(sim::isAddressed(TesselSim::makeDevice(7, kAddress + 7), search, Arrival::Broadcast));
    QVERIFY(sim::isAddressed(device(), search, Arrival::Unicast));
}

void TestDeviceLogic::broadcastRequestIsForTheDeviceWithTheHeaderMac_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("read") << int(frame::kRead);
    QTest::newRow("write") << int(frame::kWrite);
    QTest::newRow("password") << int(frame::kChangePassword);
    QTest::newRow("status") << int(frame::kStatus);
}

void TestDeviceLogic::broadcastRequestIsForTheDeviceWithTheHeaderMac()
{
    QFETCH(int, command);
    const SimDevice mine = device();
    const SimDevice other = TesselSim::makeDevice(1, kAddress + 1);
    const frame::Frame request = accepted(wire(command, macOnly(mine.record)));
    QVERIFY(sim::isAddressed(mine, request, Arrival::Broadcast));
    QVERIFY(!sim::isAddressed(other, request, Arrival::Broadcast));
}

void TestDeviceLogic::unicastRequestIsForTheReceiverWhateverTheBodyHolds()
{
    const frame::Frame zeroBody = accepted(wire(frame::kRead, EnvRecord(), true));
    QVERIFY(sim::isAddressed(device(), zeroBody, Arrival::Unicast));
    QVERIFY(!sim::isAddressed(device(), zeroBody, Arrival::Broadcast));
    const frame::Frame otherMac = accepted(wire(frame::kWrite, TesselSim::makeDevice(5, 1).record, true));
    QVERIFY(sim::isAddressed(device(), otherMac, Arrival::Unicast));
}

void TestDeviceLogic::unknownCommandIsForNoDevice()
{
    for (int command : {0, 6, 255}) {
        const frame::Frame request = accepted(wire(command, macOnly(device().record), true));
        QVERIFY(!sim::isKnownCommand(request));
        QVERIFY(!sim::isAddressed(device(), request, Arrival::Unicast));
    }
}

void TestDeviceLogic::replyCarriesTheDeviceMacRecordAndRequestWords_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("unicast");
    QTest::newRow("search") << int(frame::kSearch) << false;
    QTest::newRow("broadcast read") << int(frame::kRead) << false;
    QTest::newRow("unicast read") << int(frame::kRead) << true;
    QTest::newRow("unicast status") << int(frame::kStatus) << true;
}

void TestDeviceLogic::replyCarriesTheDeviceMacRecordAndRequestWords()
{
    QFETCH(int, command);
    QFETCH(bool, unicast);
    SimDevice d = device();
    const EnvRecord body = command == frame::kSearch ? EnvRecord() : macOnly(d.record);
    const sim::Answer answer = sim::answerRequest(d, accepted(wire(command, body, unicast)), SimFaults());
    QVERIFY(!answer.changed);
    const std::optional<frame::Frame> reply = asReceived(answer.reply);
    QVERIFY(reply);
    QCOMPARE(int((*reply)[frame::kOffFlags]), unicast ? 0x83 : 0x81);
    QCOMPARE(int((*reply)[frame::kOffFormat]), int(frame::kFormat));
    QCOMPARE(int((*reply)[frame::kOffCommand]), command);
    QCOMPARE(int((*reply)[frame::kOffResult]), 0);
    QVERIFY(std::equal(reply->begin() + frame::kOffMac, reply->begin() + frame::kOffMac + 6, d.record.data()));
    QCOMPARE(frame::readLe32(reply->data() + frame::kOffRandom1), kRandom1);
    QCOMPARE(frame::readLe32(reply->data() + frame::kOffRandom2), kRandom2);
    QCOMPARE(EnvRecord(reply->data() + frame::kOffBody), d.record);
}

void TestDeviceLogic::writeIsJudgedByPassword_data()
{
    QTest::addColumn<QByteArray>("devicePassword");
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<int>("result");
    QTest::newRow("no password, none typed") << QByteArray() << QByteArray() << 0;
    QTest::newRow("right password") << QByteArray("secret") << QByteArray("secret") << 0;
    QTest::newRow("eight characters") << QByteArray("12345678") << QByteArray("12345678") << 0;
    QTest::newRow("wrong password") << QByteArray("secret") << QByteArray("guess") << 2;
    QTest::newRow("none typed where one is set") << QByteArray("secret") << QByteArray() << 2;
    QTest::newRow("one typed where none is set") << QByteArray() << QByteArray("guess") << 2;
}

void TestDeviceLogic::writeIsJudgedByPassword()
{
    QFETCH(QByteArray, devicePassword);
    QFETCH(QByteArray, typed);
    QFETCH(int, result);
    SimDevice d = device(devicePassword);
    const EnvRecord before = d.record;
    EnvRecord written = withPassword(d.record, typed);
    written.setComment("written");
    const sim::Answer answer = sim::answerRequest(d, accepted(wire(frame::kWrite, written)), SimFaults());
    const std::optional<frame::Frame> reply = asReceived(answer.reply);
    QVERIFY(reply);
    QCOMPARE(int((*reply)[frame::kOffResult]), result);
    QCOMPARE(answer.changed, result == 0);
    QCOMPARE(d.record.comment(), result == 0 ? std::string("written") : before.comment());
    QCOMPARE(d.passwordHash(), simtest::hashedPassword(devicePassword));
    QCOMPARE(EnvRecord(reply->data() + frame::kOffBody), d.record);
}

void TestDeviceLogic::writeKeepsIdentityCapabilitiesAndPassword()
{
    SimDevice d = device("pw");
    const EnvRecord before = d.record;
    EnvRecord written = withPassword(d.record, "pw");
    written.setMac({0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F});
    written.setProductId(0x99);
    written.setProductInfo(0x77);
    written.setCommentSupported(false);
    written.setRemoteSearchSupported(false);
    written.setTelnet(false);
    written.setIpAddress(0x7F000063);
    written.raw()[EnvRecord::kOffPassword + 9] = 0x42; // bytes 84..87 are the device's as well
    const sim::Answer answer = sim::answerRequest(d, accepted(wire(frame::kWrite, written, true)), SimFaults());
    QVERIFY(answer.changed);
    QCOMPARE(d.record.mac(), before.mac());
    QCOMPARE(d.record.productId(), before.productId());
    QCOMPARE(d.record.productInfo(), before.productInfo());
    QVERIFY(d.record.commentSupported());
    QVERIFY(d.record.remoteSearchSupported());
    QVERIFY(!d.record.telnet());
    QCOMPARE(d.record.ipAddress(), 0x7F000063u);
    QVERIFY(std::equal(before.passwordField(), before.passwordField() + EnvRecord::kPasswordFieldSize,
                       d.record.passwordField()));
}

void TestDeviceLogic::passwordChangeStoresTheNewHash_data()
{
    QTest::addColumn<QByteArray>("devicePassword");
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("afterwards");
    QTest::newRow("set one") << QByteArray() << QByteArray() << QByteArray("new") << 0 << QByteArray("new");
    QTest::newRow("change it") << QByteArray("old") << QByteArray("old") << QByteArray("new") << 0 << QByteArray("new");
    QTest::newRow("remove it") << QByteArray("old") << QByteArray("old") << QByteArray() << 0 << QByteArray();
    QTest::newRow("wrong current") << QByteArray("old") << QByteArray("bad") << QByteArray("new") << 2
                                   << QByteArray("old");
}

void TestDeviceLogic::passwordChangeStoresTheNewHash()
{
    QFETCH(QByteArray, devicePassword);
    QFETCH(QByteArray, current);
    QFETCH(QByteArray, next);
    QFETCH(int, result);
    QFETCH(QByteArray, afterwards);
    SimDevice d = device(devicePassword);
    const EnvRecord request = withPassword(d.record, current);
    const sim::Answer answer =
        sim::answerRequest(d, accepted(wire(frame::kChangePassword, request, false, next)), SimFaults());
    const std::optional<frame::Frame> reply = asReceived(answer.reply);
    QVERIFY(reply);
    QCOMPARE(int((*reply)[frame::kOffResult]), result);
    QCOMPARE(d.passwordHash(), simtest::hashedPassword(afterwards));
    QCOMPARE(EnvRecord(reply->data() + frame::kOffBody).hasPassword(), !afterwards.isEmpty());
}

void TestDeviceLogic::statusReplyCarriesTheItemsBehindTheFrame()
{
    SimDevice d = device();
    const sim::Answer answer = sim::answerRequest(d, accepted(wire(frame::kStatus, macOnly(d.record))), SimFaults());
    QCOMPARE(answer.reply.size(), qsizetype(frame::kFrameSize) + d.statusItems.size());
    QCOMPARE(answer.reply.mid(frame::kFrameSize), d.statusItems);
    QVERIFY(asReceived(answer.reply));
}

void TestDeviceLogic::statusItemsAreCappedAt820Bytes()
{
    SimDevice d = device();
    d.statusItems = QByteArray(1000, '\x07');
    const sim::Answer answer = sim::answerRequest(d, accepted(wire(frame::kStatus, macOnly(d.record))), SimFaults());
    QCOMPARE(answer.reply.size(), qsizetype(frame::kMaxDatagram));
}

void TestDeviceLogic::damagedRepliesFailTheEndpointsChecks_data()
{
    QTest::addColumn<bool>("header");
    QTest::addColumn<bool>("fcs");
    QTest::newRow("header checksum") << true << false;
    QTest::newRow("FCS") << false << true;
}

void TestDeviceLogic::damagedRepliesFailTheEndpointsChecks()
{
    QFETCH(bool, header);
    QFETCH(bool, fcs);
    SimFaults faults;
    faults.corruptHeaderSum = header;
    faults.corruptFcs = fcs;
    SimDevice d = device();
    const frame::Frame request = accepted(wire(frame::kRead, macOnly(d.record)));
    QVERIFY(asReceived(sim::answerRequest(d, request, SimFaults()).reply));
    QVERIFY(!asReceived(sim::answerRequest(d, request, faults).reply));
}

void TestDeviceLogic::foreignMacReplyCarriesAnotherMac()
{
    SimFaults faults;
    faults.foreignMac = true;
    SimDevice d = device();
    const std::optional<frame::Frame> reply =
        asReceived(sim::answerRequest(d, accepted(wire(frame::kRead, macOnly(d.record))), faults).reply);
    QVERIFY(reply);
    QVERIFY(!std::equal(reply->begin() + frame::kOffMac, reply->begin() + frame::kOffMac + 6, d.record.data()));
    QCOMPARE(EnvRecord(reply->data() + frame::kOffBody), d.record);
}

void TestDeviceLogic::forcedResultIsReportedAndActsOnlyWhenZeroAndMatching_data()
{
    QTest::addColumn<int>("forced");
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<bool>("stored");
    QTest::newRow("7, right password") << 7 << QByteArray("pw") << false;
    QTest::newRow("0, wrong password") << 0 << QByteArray("bad") << false;
    QTest::newRow("0, right password") << 0 << QByteArray("pw") << true;
    QTest::newRow("2, right password") << 2 << QByteArray("pw") << false;
}

void TestDeviceLogic::forcedResultIsReportedAndActsOnlyWhenZeroAndMatching()
{
    QFETCH(int, forced);
    QFETCH(QByteArray, typed);
    QFETCH(bool, stored);
    SimFaults faults;
    faults.forcedResult = forced;
    SimDevice d = device("pw");
    EnvRecord written = withPassword(d.record, typed);
    written.setComment("forced");
    const sim::Answer write = sim::answerRequest(d, accepted(wire(frame::kWrite, written)), faults);
    QCOMPARE(int(asReceived(write.reply).value()[frame::kOffResult]), forced);
    QCOMPARE(d.record.comment() == "forced", stored);

    const sim::Answer change = sim::answerRequest(
        d, accepted(wire(frame::kChangePassword, withPassword(d.record, typed), false, "new")), faults);
    QCOMPARE(int(asReceived(change.reply).value()[frame::kOffResult]), forced);
    QCOMPARE(d.passwordHash() == simtest::hashedPassword("new"), stored);
}

void TestDeviceLogic::deviceReportsItsPasswordAsItsHash()
{
    SimDevice d = device("abc");
    QVERIFY(d.record.hasPassword());
    QCOMPARE(d.passwordHash(), simtest::hashedPassword("abc"));
    QVERIFY(!std::equal(d.record.passwordField(), d.record.passwordField() + 3, "abc"));
    d.setPassword({});
    QVERIFY(!d.record.hasPassword());
}

QTEST_GUILESS_MAIN(TestDeviceLogic)
#include "tst_devicelogic.moc"
