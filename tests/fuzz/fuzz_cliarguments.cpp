// How the command-line tool reads device names, addresses and ports. Checks: an accepted MAC or address
// prints back as the text given (MAC case aside); a device name is exactly one of a MAC, a single-device
// address or an error naming the text; the profile options take exactly their own arguments and ports
// 1..65535 written in plain digits.

#include "device/DeviceName.h"
#include "FuzzCheck.h"
#include "protocol/Ipv4.h"
#include "protocol/NetworkProfile.h"

#include <QRegularExpression>

namespace {
void names(const QString& text)
{
    if (const auto mac = device::parseMac(text))
        FUZZ_CHECK(device::macText(*mac) == text.toLower(), text);
    // The one address reader: an accepted address prints back as the text given, blanks around it aside,
    // so it took no leading zero, no sign and no shorthand.
    if (const auto address = ipv4::parse(text)) {
        static const QRegularExpression blanks(QStringLiteral("\\A[ \\t]*|[ \\t]*\\z"));
        FUZZ_CHECK(ipv4::dotted(*address) == QString(text).remove(blanks), text);
    }

    const device::DeviceName name = device::parseDeviceName(text);
    if (name.mac) {
        FUZZ_CHECK(name.error.isEmpty() && name.address == 0 && device::parseMac(text) == name.mac, text);
    } else if (name.error.isEmpty()) {
        FUZZ_CHECK(ipv4::parse(text) == name.address && ipv4::isUnicastDeviceAddress(name.address), text);
        const std::uint32_t first = name.address >> 24;
        FUZZ_CHECK(first >= 1 && first <= 223, text);
    } else {
        FUZZ_CHECK(name.error.contains(text), name.error);
    }
}

void profileOptions(FuzzedDataProvider& in)
{
    static const QString kOptions[] = {QStringLiteral("--loopback"), QStringLiteral("--device-port"),
                                       QStringLiteral("--tftp-port"), QStringLiteral("--shell-port"),
                                       QStringLiteral("--json")};
    QStringList args;
    while (in.remaining_bytes() > 0 && args.size() < 8)
        args << (in.ConsumeBool() ? in.PickValueInArray(kOptions) : fuzz::text(in, 12));
    const QStringList given = args;
    NetworkProfile profile;
    const std::optional<QString> error = NetworkProfile::fromArguments(args, profile);
    static const QRegularExpression plainPort(QStringLiteral("\\A[0-9]{1,5}\\z"));
    if (error) {
        FUZZ_CHECK(!error->isEmpty(), given.join(QLatin1Char(' ')));
        return;
    }
    FUZZ_CHECK(!args.contains(QStringLiteral("--loopback")), given.join(QLatin1Char(' ')));
    FUZZ_CHECK(profile.loopback == given.contains(QStringLiteral("--loopback")), given.join(QLatin1Char(' ')));
    const std::pair<QString, std::uint16_t> ports[] = {{QStringLiteral("--device-port"), profile.devicePort},
                                                       {QStringLiteral("--tftp-port"), profile.tftpPort},
                                                       {QStringLiteral("--shell-port"), profile.shellPort}};
    // The options are taken in this order; the first use of each takes the next argument as its port.
    QStringList left = given;
    left.removeAll(QStringLiteral("--loopback"));
    for (const auto& [option, port] : ports) {
        const qsizetype at = left.indexOf(option);
        if (at < 0)
            continue;
        const QString value = left.at(at + 1);
        FUZZ_CHECK(plainPort.match(value).hasMatch() && port != 0 && port == value.toUInt(),
                   given.join(QLatin1Char(' ')));
        left.remove(at, 2);
    }
    FUZZ_CHECK(args == left, given.join(QLatin1Char(' ')));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        profileOptions(in);
        return 0;
    }
    const QByteArray raw = fuzz::bytes(in, 64);
    names(QString::fromUtf8(raw));
    names(QString::fromLatin1(raw));
    return 0;
}
