// The tessel-sim command line: SimOptions.

#include "SimOptions.h"

#include <QTest>

namespace {
QStringList split(const char* line)
{
    return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}
} // namespace

class TestSimOptions : public QObject
{
    Q_OBJECT

private slots:
    void withoutOptionsRunsFourDevicesOnTheRealProfile();
    void loopbackStartsAt127002();
    void everyOptionIsRead();
    void badOptionIsNamed_data();
    void badOptionIsNamed();
};

void TestSimOptions::withoutOptionsRunsFourDevicesOnTheRealProfile()
{
    const auto parsed = parseSimOptions({});
    const SimOptions& o = std::get<SimOptions>(parsed);
    QVERIFY(!o.profile.loopback);
    QCOMPARE(o.profile.devicePort, NetworkProfile::kDevicePort);
    QCOMPARE(o.devices, 4);
    QCOMPARE(o.firstAddress, SimOptions::kRealFirstAddress);
    QVERIFY(o.stateFile.isEmpty());
    QCOMPARE(o.faults.dropShare, 0.0);
}

void TestSimOptions::loopbackStartsAt127002()
{
    const auto parsed = parseSimOptions(split("--loopback"));
    const SimOptions& o = std::get<SimOptions>(parsed);
    QVERIFY(o.profile.loopback);
    QCOMPARE(o.profile.devicePort, NetworkProfile::kLoopbackDevicePort);
    QCOMPARE(o.firstAddress, 0x7F000002u);
}

void TestSimOptions::everyOptionIsRead()
{
    const auto parsed = parseSimOptions(
        split("--loopback --devices 1000 --first-address 127.1.0.0 --device-port 52999 --state /tmp/s.json "
              "--drop 0.25 --delay 40 --corrupt-header --corrupt-fcs --foreign-mac --result 7 --seed 99 "
              "--password abc"));
    const QString* error = std::get_if<QString>(&parsed);
    QVERIFY2(!error, error ? qPrintable(*error) : "");
    const SimOptions* o = &std::get<SimOptions>(parsed);
    QCOMPARE(o->devices, 1000);
    QCOMPARE(o->firstAddress, 0x7F010000u);
    QCOMPARE(o->profile.devicePort, std::uint16_t(52999));
    QCOMPARE(o->stateFile, QStringLiteral("/tmp/s.json"));
    QCOMPARE(o->faults.dropShare, 0.25);
    QCOMPARE(o->faults.delayMs, 40);
    QVERIFY(o->faults.corruptHeaderSum);
    QVERIFY(o->faults.corruptFcs);
    QVERIFY(o->faults.foreignMac);
    QCOMPARE(o->faults.forcedResult, 7);
    QCOMPARE(o->faults.seed, 99u);
    QCOMPARE(o->password, QByteArray("abc"));
    QVERIFY(o->serial);
    QVERIFY(o->serialOptions.paced);
    QVERIFY(std::get<SimOptions>(parseSimOptions(split("-h"))).help);

    const auto serial = parseSimOptions(split("--loopback --serial-unpaced --join COM2,com4 --pty COM1 --pty COM3"));
    const QString* serialError = std::get_if<QString>(&serial);
    QVERIFY2(!serialError, serialError ? qPrintable(*serialError) : "");
    const SimSerialOptions& so = std::get<SimOptions>(serial).serialOptions;
    QVERIFY(!so.paced);
    QCOMPARE(so.joins.size(), std::size_t(1));
    QCOMPARE(so.joins[0], std::make_pair(1, 3));
    QCOMPARE(so.terminals, (std::vector<int>{0, 2}));
    QVERIFY(!std::get<SimOptions>(parseSimOptions(split("--no-serial"))).serial);
}

void TestSimOptions::badOptionIsNamed_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("named");
    const auto row = [](const char* line, const char* named) {
        QTest::newRow(line) << QString::fromLatin1(line) << QString::fromLatin1(named);
    };
    row("--frobnicate", "--frobnicate");
    row("--devices", "--devices");
    row("--devices 0", "--devices");
    row("--devices 1001", "--devices");
    row("--devices many", "--devices");
    row("--first-address 300.1.1.1", "--first-address");
    row("--loopback --first-address 127.0.0.1", "--first-address");
    row("--loopback --first-address 10.1.0.2", "--first-address");
    row("--loopback --first-address 127.255.255.250 --devices 10", "--first-address");
    row("--device-port 0", "--device-port");
    row("--device-port x", "--device-port");
    row("--drop 1.5", "--drop");
    row("--drop -0.1", "--drop");
    row("--delay -1", "--delay");
    row("--result 256", "--result");
    row("--password 123456789", "--password");
    row("--state", "--state");
    row("--join COM1", "--join");
    row("--join COM1,COM1", "--join");
    row("--join COM1,COM5", "--join");
    row("--join COM1,COM2 --join COM2,COM3", "--join");
    row("--pty COM0", "--pty");
    row("--pty tty", "--pty");
    row("--join COM1,COM2 --pty COM2", "--pty");
}

void TestSimOptions::badOptionIsNamed()
{
    QFETCH(QString, line);
    QFETCH(QString, named);
    const auto parsed = parseSimOptions(line.split(QLatin1Char(' ')));
    const QString* error = std::get_if<QString>(&parsed);
    QVERIFY(error);
    QVERIFY2(error->contains(named), qPrintable(*error));
}

QTEST_GUILESS_MAIN(TestSimOptions)
#include "tst_simoptions.moc"
