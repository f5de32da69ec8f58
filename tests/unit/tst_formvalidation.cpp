// The checks that stop a write: their order, their ranges and what they name.
#include "record/FormValidation.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
/** A form every check accepts. */
form::FormValues validForm()
{
    form::FormValues v;
    v.password = u"12345678"_s;
    v.comment = QString(32, u'c');
    for (int p = 0; p < form::kPortCount; ++p) {
        v.peerPort[p] = u"1"_s;
        v.localPort[p] = u"65534"_s;
        v.timeout[p] = u"0"_s;
        v.eventByte[p] = u"8192"_s;
        v.localIp[p] = QString();
        v.peerIp[p] = u"255.255.255.255"_s;
    }
    v.ipAddress = u"10.1.0.1"_s;
    v.subnetMask = u"255.0.0.0"_s;
    v.gateway = u"0.0.0.0"_s;
    return v;
}
} // namespace

class TestFormValidation : public QObject
{
    Q_OBJECT

private slots:
    void acceptsEveryValueAtItsBounds();
    void refusesTheFirstProblemInOrder_data();
    void refusesTheFirstProblemInOrder();
    void readsIntegersAsTheFormDoes_data();
    void readsIntegersAsTheFormDoes();
    void networkAddressesAreCheckedOnlyForAStaticType();
};

void TestFormValidation::acceptsEveryValueAtItsBounds()
{
    QVERIFY(!form::validate(validForm()));
    form::FormValues v = validForm();
    v.multiIp = 1;
    v.eapol = 1;
    QVERIFY(!form::validate(v));
}

void TestFormValidation::refusesTheFirstProblemInOrder_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("rule");
    QTest::addColumn<QString>("describe");
    const auto row = [](const char* name, const char* change, const char* field, form::Rule rule, const char* text) {
        QTest::newRow(name) << QString::fromLatin1(change) << QString::fromLatin1(field) << int(rule)
                            << QString::fromUtf8(text);
    };
    using form::Rule;
    row("password of 9", "password", "password", Rule::TooLong, "password: at most 8 characters");
    row("password before peer port", "password,peer1", "password", Rule::TooLong, "password: at most 8 characters");
    row("peer port 0", "peer0", "com1.peerPort", Rule::OutOfRange, "com1.peerPort: 0 is outside 1 to 65534");
    row("peer ports before timeouts", "peer3,timeout0", "com4.peerPort", Rule::OutOfRange,
        "com4.peerPort: 0 is outside 1 to 65534");
    row("timeout 3601", "timeout2", "com3.timeout", Rule::OutOfRange, "com3.timeout: 3601 is outside 0 to 3600");
    row("timeouts before event bytes", "timeout3,event0", "com4.timeout", Rule::OutOfRange,
        "com4.timeout: 3601 is outside 0 to 3600");
    row("event byte 8193", "event1", "com2.waterMark", Rule::OutOfRange, "com2.waterMark: 8193 is outside 0 to 8192");
    row("event bytes before local ports", "event3,local0", "com4.waterMark", Rule::OutOfRange,
        "com4.waterMark: 8193 is outside 0 to 8192");
    row("local port 65535", "local2", "com3.localPort", Rule::OutOfRange,
        "com3.localPort: 65535 is outside 1 to 65534");
    row("local ports before the comment", "local3,comment", "com4.localPort", Rule::OutOfRange,
        "com4.localPort: 65535 is outside 1 to 65534");
    row("comment of 33", "comment", "comment", Rule::TooLong, "comment: at most 32 characters");
    row("not a number", "peerText1", "com2.peerPort", Rule::NotInteger, "com2.peerPort: \"4o01\" is not an integer");
    row("comment before addresses", "comment,gateway", "comment", Rule::TooLong, "comment: at most 32 characters");
    row("gateway of five numbers", "gateway", "gateway", Rule::NotAnAddress,
        "gateway: \"10.1.0.1.5\" is not a valid IPv4 address");
    row("port address 256", "peerIp2", "com3.peerIp", Rule::NotAnAddress,
        "com3.peerIp: \"10.0.0.256\" is not a valid IPv4 address");
    row("Multi IP with DHCP", "multiIpDhcp", "ipv4Type", Rule::MultiIpNeedsStatic,
        "ipv4Type: Multi IP needs the static IPv4 type (ipv4Type=0)");
    row("MD5 with PPPoE", "md5Pppoe", "eapol", Rule::Md5ExcludesPppoe,
        "eapol: EAPoL MD5 cannot be used with PPPoE (ipv4Type=2)");
}

void TestFormValidation::refusesTheFirstProblemInOrder()
{
    QFETCH(QString, change);
    QFETCH(QString, field);
    QFETCH(int, rule);
    QFETCH(QString, describe);
    form::FormValues v = validForm();
    for (const QString& c : change.split(u',')) {
        const int port = c.back().isDigit() ? c.back().digitValue() : 0;
        if (c == u"password")
            v.password = u"123456789"_s;
        else if (c.startsWith(u"peerText"))
            v.peerPort[port] = u"4o01"_s;
        else if (c.startsWith(u"peerIp"))
            v.peerIp[port] = u"10.0.0.256"_s;
        else if (c.startsWith(u"peer"))
            v.peerPort[port] = u"0"_s;
        else if (c.startsWith(u"timeout"))
            v.timeout[port] = u"3601"_s;
        else if (c.startsWith(u"event"))
            v.eventByte[port] = u"8193"_s;
        else if (c.startsWith(u"local"))
            v.localPort[port] = u"65535"_s;
        else if (c == u"comment")
            v.comment = QString(33, u'c');
        else if (c == u"gateway")
            v.gateway = u"10.1.0.1.5"_s;
        else if (c == u"multiIpDhcp")
            v.multiIp = 1, v.ipv4Type = 1;
        else if (c == u"md5Pppoe")
            v.eapol = 1, v.ipv4Type = 2;
    }
    const std::optional<form::Problem> problem = form::validate(v);
    QVERIFY(problem);
    QCOMPARE(problem->fieldName(), field);
    QCOMPARE(int(problem->rule), rule);
    QCOMPARE(problem->describe(), describe);
}

void TestFormValidation::readsIntegersAsTheFormDoes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("integer");
    QTest::addColumn<qint64>("value");
    QTest::newRow("digits") << u"4001"_s << true << qint64(4001);
    QTest::newRow("blanks around") << u" 12 "_s << true << qint64(12);
    QTest::newRow("negative") << u"-1"_s << true << qint64(-1);
    QTest::newRow("plus sign") << u"+7"_s << true << qint64(7);
    QTest::newRow("empty") << QString() << false << qint64(0);
    QTest::newRow("letters") << u"12a"_s << false << qint64(0);
    QTest::newRow("decimal") << u"1.5"_s << false << qint64(0);
    QTest::newRow("hex") << u"0x10"_s << false << qint64(0);
    QTest::newRow("beyond any range") << u"99999999999999999999"_s << false << qint64(0);
    QTest::newRow("inner blank") << u"1 2"_s << false << qint64(0);
}

void TestFormValidation::readsIntegersAsTheFormDoes()
{
    QFETCH(QString, text);
    QFETCH(bool, integer);
    QFETCH(qint64, value);
    const std::optional<qint64> read = form::readInteger(text);
    QCOMPARE(read.has_value(), integer);
    if (integer)
        QCOMPARE(*read, value);
}

void TestFormValidation::networkAddressesAreCheckedOnlyForAStaticType()
{
    form::FormValues v = validForm();
    v.ipAddress = u"300.1.1.1"_s;
    QVERIFY(form::validate(v));
    v.checkNetworkAddresses = false;
    QVERIFY(!form::validate(v));
    v.peerIp[0] = u"1.2.3"_s;
    QCOMPARE(form::validate(v)->fieldName(), u"com1.peerIp"_s);
}

QTEST_MAIN(TestFormValidation)
#include "tst_formvalidation.moc"
