// The checks that stop a write: their order, their ranges and what they name, the fields each port's
// mode leaves out of them, the characters a record cannot hold, and each typed value's own rule.
#include "FieldTables.h"
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
    v.situation.modes = {3, 3, 3, 3}; // U2S: every number and the peer address of each port in use
    return v;
}

/** Puts `text` into the form's value of a port field named as read --json names it. */
void typeInto(form::FormValues& v, const QString& field, int port, const QString& text)
{
    const auto at = static_cast<std::size_t>(port);
    if (field == u"localPort")
        v.localPort[at] = text;
    else if (field == u"peerPort")
        v.peerPort[at] = text;
    else if (field == u"timeout")
        v.timeout[at] = text;
    else if (field == u"waterMark")
        v.eventByte[at] = text;
    else if (field == u"peerIp")
        v.peerIp[at] = text;
    else if (field == u"localIp")
        v.localIp[at] = text;
}

/** A value each port field refuses. */
QString refusedText(const QString& field)
{
    return field.endsWith(u"Ip") ? u"127.0.0.256"_s : u"70000"_s;
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
    void portFieldsAreCheckedOnlyWhereTheModeUsesThem_data();
    void portFieldsAreCheckedOnlyWhereTheModeUsesThem();
    void fieldsOfTheCapabilitiesAndTypesAreCheckedOnlyInUse();
    void typedValuesFollowTheirFieldsOwnRule_data();
    void typedValuesFollowTheirFieldsOwnRule();
    void typedAddressesAsTheReaderTakesThem_data();
    void typedAddressesAsTheReaderTakesThem();
};

void TestFormValidation::acceptsEveryValueAtItsBounds()
{
    QVERIFY(!form::validate(validForm()));
    form::FormValues v = validForm();
    v.situation.multiIp = true;
    v.situation.eapol = 1;
    v.localIp = {u"127.0.0.1"_s, u"0.0.0.0"_s, u"255.255.255.255"_s, QString()};
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
    row("password in Hangul", "passwordHangul", "password", Rule::Unstorable,
        "password: \"비밀1\" holds characters a device cannot store: 비밀 (its texts are Latin-1)");
    row("comment with Hanzi after accents", "commentHanzi", "comment", Rule::Unstorable,
        "comment: \"Café Zürich 東京\" holds characters a device cannot store: 東京 (its texts are Latin-1)");
    row("a character outside the basic plane, named whole", "commentEmoji", "comment", Rule::Unstorable,
        "comment: \"x😀y😁\" holds characters a device cannot store: 😀😁 (its texts are Latin-1)");
    row("peer ports before the password's characters", "passwordHangul,peer2", "password", Rule::Unstorable,
        "password: \"비밀1\" holds characters a device cannot store: 비밀 (its texts are Latin-1)");
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
        else if (c == u"passwordHangul")
            v.password = u"비밀1"_s;
        else if (c == u"commentHanzi")
            v.comment = u"Café Zürich 東京"_s;
        else if (c == u"commentEmoji")
            v.comment = u"x😀y😁"_s;
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
            v.situation.multiIp = true, v.situation.ipv4Type = 1;
        else if (c == u"md5Pppoe")
            v.situation.eapol = 1, v.situation.ipv4Type = 2;
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
    v.situation.ipv4Type = 1; // DHCP
    QVERIFY(!form::validate(v));
    v.peerIp[0] = u"1.2.3"_s;
    QCOMPARE(form::validate(v)->fieldName(), u"com1.peerIp"_s);
}

void TestFormValidation::portFieldsAreCheckedOnlyWhereTheModeUsesThem_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("multiIp");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("checked");
    for (const fieldtables::ModeUse& mode : fieldtables::kModeUse) {
        for (const fieldtables::PortField& f : fieldtables::kPortFields)
            QTest::addRow("%s, %s", mode.name, f.name)
                << mode.code << false << QString::fromLatin1(f.name) << mode.*f.used;
        // The port's own address follows Multi IP, in every mode.
        QTest::addRow("%s, localIp without Multi IP", mode.name) << mode.code << false << u"localIp"_s << false;
        QTest::addRow("%s, localIp with Multi IP", mode.name) << mode.code << true << u"localIp"_s << true;
    }
    // A mode no list entry holds (no selection, or a code the device invented) uses none of them.
    QTest::newRow("code 7, timeout") << 7 << true << u"timeout"_s << false;
    QTest::newRow("no selection, localIp") << -1 << true << u"localIp"_s << false;
}

void TestFormValidation::portFieldsAreCheckedOnlyWhereTheModeUsesThem()
{
    QFETCH(int, mode);
    QFETCH(bool, multiIp);
    QFETCH(QString, field);
    QFETCH(bool, checked);
    // COM2 holds the value its field refuses; the other ports are valid in any mode.
    form::FormValues v = validForm();
    v.situation.modes[1] = mode;
    v.situation.multiIp = multiIp;
    typeInto(v, field, 1, refusedText(field));
    const std::optional<form::Problem> problem = form::validate(v);
    QCOMPARE(problem.has_value(), checked);
    if (checked)
        QCOMPARE(problem->fieldName(), u"com2."_s + field);
}

void TestFormValidation::fieldsOfTheCapabilitiesAndTypesAreCheckedOnlyInUse()
{
    // A comment on a device that keeps none is not looked at; one that keeps it is.
    form::FormValues v = validForm();
    v.comment = u"東京"_s;
    QCOMPARE(form::validate(v)->fieldName(), u"comment"_s);
    v.situation.commentSupported = false;
    QVERIFY(!form::validate(v));
    // The device password is always checked: an empty box of a device without one passes.
    v.password = u"密码"_s;
    QCOMPARE(form::validate(v)->fieldName(), u"password"_s);
}

void TestFormValidation::typedValuesFollowTheirFieldsOwnRule_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal"); // empty: taken
    QTest::newRow("port at its bounds") << u"com1.localPort"_s << u"65534"_s << QString();
    QTest::newRow("port 0") << u"com1.localPort"_s << u"0"_s << u"com1.localPort: 0 is outside 1 to 65534"_s;
    QTest::newRow("timeout 3600") << u"com4.timeout"_s << u"3600"_s << QString();
    QTest::newRow("event byte 8193") << u"com2.waterMark"_s << u"8193"_s
                                     << u"com2.waterMark: 8193 is outside 0 to 8192"_s;
    QTest::newRow("blank address") << u"gateway"_s << QString() << QString();
    QTest::newRow("address with a leading zero")
        << u"ipAddress"_s << u"127.0.0.010"_s << u"ipAddress: \"127.0.0.010\" is not a valid IPv4 address"_s;
    QTest::newRow("account ID of 32") << u"accountId"_s << QString(32, u'a') << QString();
    QTest::newRow("account password of 9")
        << u"accountPassword"_s << u"123456789"_s << u"accountPassword: at most 8 characters"_s;
    QTest::newRow("account ID in Hangul") << u"accountId"_s << u"사용자"_s
                                          << u"accountId: \"사용자\" holds characters a device cannot store: 사용자 "
                                             "(its texts are Latin-1)"_s;
    QTest::newRow("mode by name, any case") << u"com1.mode"_s << u"cod"_s << QString();
    QTest::newRow("mode not listed") << u"com1.mode"_s << u"TCP"_s
                                     << u"com1.mode: \"TCP\" is not one of T2S, ATC, COD, U2S"_s;
    QTest::newRow("flag") << u"telnet"_s << u"off"_s << QString();
    QTest::newRow("Multi IP by its entry") << u"multiIp"_s << u"Use"_s << QString();
    QTest::newRow("rate not listed") << u"com3.baudRate"_s << u"460800"_s
                                     << u"com3.baudRate: \"460800\" is not one of 600, 1200, 2400, 4800, 9600, "
                                        "14400, 19200, 38400, 57600, 115200, 230400"_s;
}

void TestFormValidation::typedValuesFollowTheirFieldsOwnRule()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    const std::optional<record_fields::FieldRef> ref = record_fields::resolve(field);
    QVERIFY(ref);
    const std::optional<form::Problem> problem = form::checkTyped(*ref, typed);
    QCOMPARE(problem ? problem->describe() : QString(), refusal);
}

void TestFormValidation::typedAddressesAsTheReaderTakesThem_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("taken");
    for (const fieldtables::AddressText& t : fieldtables::addressTexts())
        QTest::newRow(t.name) << t.typed << t.address.has_value();
}

void TestFormValidation::typedAddressesAsTheReaderTakesThem()
{
    // The texts the editor's and the search window's address fields are tested with, as the form checks
    // an address field.
    QFETCH(QString, typed);
    QFETCH(bool, taken);
    const std::optional<form::Problem> problem = form::checkTyped(*record_fields::resolve(u"gateway"_s), typed);
    QCOMPARE(problem ? problem->describe() : QString(),
             taken ? QString() : u"gateway: \"%1\" is not a valid IPv4 address"_s.arg(typed));
}

QTEST_MAIN(TestFormValidation)
#include "tst_formvalidation.moc"
