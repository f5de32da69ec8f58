// The record's conversions: every getter/setter pair round-trips every byte of a fuzzed record, each
// setter touches only its own bytes and bits, the rate and list-position conversions keep their tables,
// and the import merge takes exactly the importable parts.

#include "FuzzCheck.h"
#include "record/EnvRecord.h"
#include "record/RecordFields.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {
QString hex(const EnvRecord& r)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(r.data()), EnvRecord::kSize).toHex());
}

/** True when the text field at `offset` is as a setter leaves it: no byte after the first NUL. */
bool canonicalText(const EnvRecord& r, std::size_t offset, std::size_t width, std::size_t limit)
{
    const auto* begin = r.data() + offset;
    const auto* nul = std::find(begin, begin + width, std::uint8_t{0});
    return static_cast<std::size_t>(nul - begin) <= limit &&
           std::all_of(nul, begin + width, [](auto b) { return b == 0; });
}

/** A setter given what its getter read leaves the record byte for byte as it was. */
void roundTrips(const EnvRecord& r)
{
    const std::function<void(EnvRecord&)> numeric[] = {
        [](EnvRecord& x) { x.setMac(x.mac()); },
        [](EnvRecord& x) { x.setProductId(x.productId()); },
        [](EnvRecord& x) { x.setProductInfo(x.productInfo()); },
        [](EnvRecord& x) { x.setFlags(x.flags()); },
        [](EnvRecord& x) { x.setMultiIp(x.multiIp()); },
        [](EnvRecord& x) { x.setIpv4Type(x.ipv4Type()); },
        [](EnvRecord& x) { x.setArp(x.arp()); },
        [](EnvRecord& x) { x.setTelnet(x.telnet()); },
        [](EnvRecord& x) { x.setEapol(x.eapol()); },
        [](EnvRecord& x) { x.setSsl(x.ssl()); },
        [](EnvRecord& x) { x.setCommentSupported(x.commentSupported()); },
        [](EnvRecord& x) { x.setRemoteSearchSupported(x.remoteSearchSupported()); },
        [](EnvRecord& x) { x.setRemoteSearch(x.remoteSearch()); },
        [](EnvRecord& x) { x.setIpAddress(x.ipAddress()); },
        [](EnvRecord& x) { x.setSubnetMask(x.subnetMask()); },
        [](EnvRecord& x) { x.setGateway(x.gateway()); },
        [](EnvRecord& x) { x.setSourceAddress(x.sourceAddress()); },
        [](EnvRecord& x) { x = EnvRecord(x.data()); },
    };
    for (const auto& setBack : numeric) {
        EnvRecord copy = r;
        setBack(copy);
        FUZZ_CHECK(copy == r, hex(r));
    }
    for (int p = 0; p < EnvRecord::kPortCount; ++p) {
        const EnvPortBlock block = r.port(p);
        const std::function<void(EnvPortBlock&)> fields[] = {
            [](EnvPortBlock& b) { b.setSerialFormat(b.serialFormat()); },
            [](EnvPortBlock& b) { b.setDataBits(b.dataBits()); },
            [](EnvPortBlock& b) { b.setStopBits(b.stopBits()); },
            [](EnvPortBlock& b) { b.setParity(b.parity()); },
            [](EnvPortBlock& b) { b.setFlowControl(b.flowControl()); },
            [](EnvPortBlock& b) { b.setMode(b.mode()); },
            [](EnvPortBlock& b) { b.setLocalIp(b.localIp()); },
            [](EnvPortBlock& b) { b.setPeerIp(b.peerIp()); },
            [](EnvPortBlock& b) { b.setLocalPort(b.localPort()); },
            [](EnvPortBlock& b) { b.setPeerPort(b.peerPort()); },
            [](EnvPortBlock& b) { b.setBaudRate(b.baudRate()); },
            [](EnvPortBlock& b) { b.setTimeout(b.timeout()); },
            [](EnvPortBlock& b) { b.setWaterMark(b.waterMark()); },
        };
        for (const auto& setBack : fields) {
            EnvPortBlock copy = block;
            setBack(copy);
            FUZZ_CHECK(copy == block, hex(r));
        }
        EnvRecord copy = r;
        copy.setPort(p, block);
        FUZZ_CHECK(copy == r, hex(r));
        // Port blocks sit at 316 + 24 * p, little-endian numbers, addresses first octet first.
        const std::uint8_t* raw = r.data() + EnvRecord::kOffPorts + 24 * p;
        FUZZ_CHECK(block.baudRate() == (raw[16] | raw[17] << 8 | raw[18] << 16 | std::uint32_t(raw[19]) << 24), hex(r));
        FUZZ_CHECK(block.localIp() == (std::uint32_t(raw[4]) << 24 | raw[5] << 16 | raw[6] << 8 | raw[7]), hex(r));
        FUZZ_CHECK(block.peerPort() == (raw[14] | raw[15] << 8), hex(r));
    }
    // Texts: a field a setter could have written reads back and is written back unchanged; any field
    // reads at most its width.
    struct TextField
    {
        std::size_t offset, width, limit;
        std::function<std::string(const EnvRecord&)> get;
        std::function<void(EnvRecord&, const std::string&)> set;
    };
    const TextField texts[] = {
        {32, 32, 32, &EnvRecord::accountId, &EnvRecord::setAccountId},
        {64, 12, 8, &EnvRecord::accountPassword, &EnvRecord::setAccountPassword},
        {88, 32, 32, &EnvRecord::comment, &EnvRecord::setComment},
    };
    for (const TextField& t : texts) {
        const std::string value = t.get(r);
        FUZZ_CHECK(value.size() <= t.width && value.find('\0') == std::string::npos, hex(r));
        FUZZ_CHECK(std::equal(value.begin(), value.end(), reinterpret_cast<const char*>(r.data() + t.offset)), hex(r));
        if (!canonicalText(r, t.offset, t.width, t.limit))
            continue;
        EnvRecord copy = r;
        t.set(copy, value);
        FUZZ_CHECK(copy == r, hex(r));
    }
    FUZZ_CHECK(r.macText().size() == 17, hex(r));
}

/** Each setter given any value changes only its own bytes, and its getter reads the value back. */
void settersStayInTheirBytes(const EnvRecord& r, FuzzedDataProvider& in)
{
    const std::uint32_t v = in.ConsumeIntegral<std::uint32_t>();
    const int port = in.ConsumeIntegralInRange(0, 3);
    EnvRecord x = r;
    EnvPortBlock b = x.port(port);
    std::size_t from = 0, to = 0; // the bytes the change may touch
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        x.setIpv4Type(static_cast<int>(v & 3));
        FUZZ_CHECK(x.ipv4Type() == static_cast<int>(v & 3), hex(r));
        from = 16, to = 17;
        break;
    case 1:
        x.setEapol(static_cast<int>(v & 3));
        FUZZ_CHECK(x.eapol() == static_cast<int>(v & 3), hex(r));
        from = 17, to = 18;
        break;
    case 2:
        b.setParity(static_cast<int>(v & 3));
        FUZZ_CHECK(b.parity() == static_cast<int>(v & 3), hex(r));
        b.setFlowControl(static_cast<int>((v >> 2) & 3));
        FUZZ_CHECK(b.flowControl() == static_cast<int>((v >> 2) & 3) && b.parity() == static_cast<int>(v & 3), hex(r));
        x.setPort(port, b);
        from = to = EnvRecord::kOffPorts + 24 * port, ++to;
        break;
    case 3:
        b.setBaudRate(v);
        FUZZ_CHECK(b.baudRate() == v, hex(r));
        x.setPort(port, b);
        from = EnvRecord::kOffPorts + 24 * port + 16, to = from + 4;
        break;
    case 4:
        x.setGateway(v);
        FUZZ_CHECK(x.gateway() == v && x.data()[28] == (v >> 24), hex(r));
        from = 28, to = 32;
        break;
    case 5:
        x.setTypedPassword(fuzz::bytes(in, 16).toStdString());
        from = 76, to = 88;
        break;
    case 6:
        x.setComment(fuzz::bytes(in, 40).toStdString());
        from = 88, to = 120;
        break;
    default:
        b.setDataBits(static_cast<int>(v & 3));
        b.setStopBits(static_cast<int>((v >> 2) & 1));
        FUZZ_CHECK(b.dataBits() == static_cast<int>(v & 3) && b.stopBits() == static_cast<int>((v >> 2) & 1), hex(r));
        x.setPort(port, b);
        from = to = EnvRecord::kOffPorts + 24 * port, ++to;
        break;
    }
    FUZZ_CHECK(std::equal(x.data(), x.data() + from, r.data()), hex(r));
    FUZZ_CHECK(std::equal(x.data() + to, x.data() + EnvRecord::kSize, r.data() + to), hex(r));
}

void conversions(FuzzedDataProvider& in)
{
    static constexpr std::uint32_t kRates[] = {600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400};
    const std::uint32_t rate = in.ConsumeIntegral<std::uint32_t>();
    const int index = record_fields::baudToIndex(rate);
    FUZZ_CHECK(index >= 0 && index <= 10, QString::number(rate));
    // The nearest listed rate, an exact midpoint going to the higher one.
    for (int i = 0; i <= 10; ++i) {
        const auto d = [rate](std::uint32_t listed) { return rate > listed ? rate - listed : listed - rate; };
        const std::uint32_t chosen = d(kRates[index]), other = d(kRates[i]);
        FUZZ_CHECK(chosen < other || (chosen == other && (i == index || i < index)), QString::number(rate));
    }
    const int position = in.ConsumeIntegral<int>();
    const std::uint32_t listed = record_fields::indexToBaud(position);
    FUZZ_CHECK(position >= 0 && position <= 10 ? listed == kRates[position] && record_fields::baudToIndex(listed) == position
                                               : listed == 19200,
               QString::number(position));
    const int code = in.ConsumeIntegralInRange(0, 3);
    FUZZ_CHECK(record_fields::parityToPosition(record_fields::positionToParity(record_fields::parityToPosition(code))) == record_fields::parityToPosition(code),
               QString::number(code));
    FUZZ_CHECK(record_fields::positionToFlowControl(record_fields::flowControlToPosition(code)) == (code >= 2 ? 3 : code), QString::number(code));
}

void importMerge(const EnvRecord& target, const EnvRecord& imported)
{
    EnvRecord merged = target;
    mergeImportedRecord(merged, imported);
    constexpr std::uint32_t kImportedFlags = 0x9FFE; // bits 1..12 and 15
    FUZZ_CHECK(merged.flags() == ((target.flags() & ~kImportedFlags) | (imported.flags() & kImportedFlags)),
               hex(imported));
    for (std::size_t i = 0; i < EnvRecord::kSize; ++i) {
        if (i >= 16 && i < 20)
            continue;
        const bool importedByte = (i >= 20 && i < 32) || (i >= 88 && i < 152) || (i >= 156 && i < 508);
        FUZZ_CHECK(merged.data()[i] == (importedByte ? imported.data()[i] : target.data()[i]),
                   QStringLiteral("byte %1").arg(i));
    }
    EnvRecord twice = merged;
    mergeImportedRecord(twice, imported);
    FUZZ_CHECK(twice == merged, hex(imported));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 * EnvRecord::kSize)
        return 0;
    const EnvRecord r(data);
    const EnvRecord other(data + EnvRecord::kSize);
    FuzzedDataProvider in(data + 2 * EnvRecord::kSize, size - 2 * EnvRecord::kSize);
    roundTrips(r);
    settersStayInTheirBytes(r, in);
    conversions(in);
    importMerge(r, other);
    return 0;
}
