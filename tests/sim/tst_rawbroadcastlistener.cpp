// Taking apart the IPv4 and UDP headers of what a raw socket delivers: RawBroadcastListener.

#include "RawBroadcastListener.h"

#include <QTest>

namespace {
// An IPv4/UDP packet from 10.1.0.9:4321 to 255.255.255.255:1234 carrying `payload`.
QByteArray packet(const QByteArray& payload, int headerWords = 5)
{
    const int headerLength = headerWords * 4;
    const int udpLength = 8 + static_cast<int>(payload.size());
    const int total = headerLength + udpLength;
    QByteArray p(headerLength, '\0');
    p[0] = static_cast<char>(0x40 | headerWords);
    p[2] = static_cast<char>(total >> 8);
    p[3] = static_cast<char>(total);
    p[8] = 64;
    p[9] = 17;
    const char source[] = {10, 1, 0, 9};
    p.replace(12, 4, source, 4);
    p.replace(16, 4, QByteArray(4, '\xFF'));
    const char udp[] = {0x10,
                        static_cast<char>(0xE1),
                        0x04,
                        static_cast<char>(0xD2),
                        static_cast<char>(udpLength >> 8),
                        static_cast<char>(udpLength),
                        0,
                        0};
    p.append(udp, 8);
    p.append(payload);
    return p;
}
} // namespace

class TestRawBroadcastListener : public QObject
{
    Q_OBJECT

private slots:
    void parsesAddressesPortsAndPayload();
    void skipsIpOptions();
    void refusesWhatIsNotIpv4Udp_data();
    void refusesWhatIsNotIpv4Udp();
};

void TestRawBroadcastListener::parsesAddressesPortsAndPayload()
{
    const std::optional<RawUdpDatagram> d = parseIpv4Udp(packet("hello"));
    QVERIFY(d);
    QCOMPARE(d->sourceAddress, 0x0A010009u);
    QCOMPARE(d->destinationAddress, 0xFFFFFFFFu);
    QCOMPARE(d->sourcePort, std::uint16_t(4321));
    QCOMPARE(d->destinationPort, std::uint16_t(1234));
    QCOMPARE(d->payload, QByteArray("hello"));
}

void TestRawBroadcastListener::skipsIpOptions()
{
    const std::optional<RawUdpDatagram> d = parseIpv4Udp(packet("x", 6));
    QVERIFY(d);
    QCOMPARE(d->payload, QByteArray("x"));
}

void TestRawBroadcastListener::refusesWhatIsNotIpv4Udp_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = packet("payload");
    QByteArray tcp = good;
    tcp[9] = 6;
    QByteArray v6 = good;
    v6[0] = 0x65;
    QByteArray longUdp = good;
    longUdp[20 + 5] = static_cast<char>(longUdp[20 + 5] + 1);
    QByteArray shortHeader = good;
    shortHeader[0] = 0x44;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << good.first(good.size() - 1);
    QTest::newRow("TCP") << tcp;
    QTest::newRow("IPv6 version") << v6;
    QTest::newRow("UDP length past the packet") << longUdp;
    QTest::newRow("header below 20 bytes") << shortHeader;
}

void TestRawBroadcastListener::refusesWhatIsNotIpv4Udp()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!parseIpv4Udp(bytes));
}

QTEST_GUILESS_MAIN(TestRawBroadcastListener)
#include "tst_rawbroadcastlistener.moc"
