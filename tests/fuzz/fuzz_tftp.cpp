// The firmware engine's TFTP packet handling, fed as a device's TFTP server would answer. Arbitrary
// datagrams: the opcode and second field read the first bytes big-endian; an error packet's message is
// its bytes up to the first zero; a request's name and mode are its two zero-terminated fields; the text
// for an error names a code of RFC 1350 or says it is unknown. Packets built from fuzzed fields read back
// as they were built.

#include "FuzzCheck.h"
#include "firmware/TftpPacket.h"

#include <memory>

namespace {
QString hex(QByteArrayView d)
{
    return QString::fromLatin1(d.toByteArray().left(64).toHex());
}

void arbitrary(QByteArrayView d)
{
    const auto be16 = [&d](qsizetype at) {
        return static_cast<std::uint16_t>(static_cast<std::uint8_t>(d[at]) << 8 | static_cast<std::uint8_t>(d[at + 1]));
    };
    FUZZ_CHECK(tftp::opcodeOf(d) == (d.size() >= 2 ? std::optional(be16(0)) : std::nullopt), hex(d));
    FUZZ_CHECK(tftp::secondField(d) == (d.size() >= 4 ? std::optional(be16(2)) : std::nullopt), hex(d));
    if (const auto error = tftp::parseError(d)) {
        FUZZ_CHECK(d.size() >= 4 && be16(0) == tftp::kError && error->code == be16(2), hex(d));
        FUZZ_CHECK(!error->message.contains('\0') && d.sliced(4).startsWith(error->message), hex(d));
        FUZZ_CHECK(d.size() == 4 + error->message.size() || d[4 + error->message.size()] == '\0', hex(d));
        const QString text = tftp::errorText(*error);
        FUZZ_CHECK(error->code <= 7 ? text.startsWith(QStringLiteral("TFTP error: "))
                                    : text == QStringLiteral("unknown TFTP error"),
                   text);
        if (error->code == 0)
            FUZZ_CHECK(text == QStringLiteral("TFTP error: ") + QString::fromLatin1(error->message), text);
    } else {
        FUZZ_CHECK(d.size() < 4 || be16(0) != tftp::kError, hex(d));
    }
    if (const auto request = tftp::parseRequest(d)) {
        FUZZ_CHECK(request->opcode == tftp::kReadRequest || request->opcode == tftp::kWriteRequest, hex(d));
        const QByteArray rebuilt = tftp::writeRequest(request->fileName, request->mode);
        FUZZ_CHECK(d.sliced(2).startsWith(rebuilt.mid(2)), hex(d));
    }
}

void built(FuzzedDataProvider& in)
{
    const QByteArray name = fuzz::bytes(in, 64).replace('\0', 'x');
    const QByteArray mode = fuzz::bytes(in, 16).replace('\0', 'x');
    const auto request = tftp::parseRequest(tftp::writeRequest(name, mode));
    FUZZ_CHECK(request && request->opcode == tftp::kWriteRequest && request->fileName == name && request->mode == mode,
               QString::fromLatin1(name));
    const std::uint32_t block = in.ConsumeIntegral<std::uint32_t>();
    const QByteArray payload = fuzz::bytes(in, tftp::kBlockSize);
    const QByteArray data = tftp::dataPacket(block, payload);
    FUZZ_CHECK(data.size() == tftp::kHeaderSize + payload.size() && tftp::opcodeOf(data) == tftp::kData &&
                   tftp::secondField(data) == (block & 0xFFFF) && data.mid(4) == payload,
               hex(data));
    const auto ackBlock = in.ConsumeIntegral<std::uint16_t>();
    const QByteArray ack = tftp::ackPacket(ackBlock);
    FUZZ_CHECK(ack.size() == 4 && tftp::opcodeOf(ack) == tftp::kAck && tftp::secondField(ack) == ackBlock, hex(ack));
    const auto code = in.ConsumeIntegral<std::uint16_t>();
    const QByteArray message = fuzz::bytes(in, 100).replace('\0', 'x');
    const auto error = tftp::parseError(tftp::errorPacket(code, message));
    FUZZ_CHECK(error && error->code == code && error->message == message, QString::fromLatin1(message));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0 && data[0] == 'B') {
        FuzzedDataProvider in(data + 1, size - 1);
        built(in);
        return 0;
    }
    // A heap copy of exactly the datagram, so a read past its end is a finding.
    const auto copy = std::make_unique<char[]>(size);
    std::copy(data, data + size, copy.get());
    arbitrary(QByteArrayView(copy.get(), static_cast<qsizetype>(size)));
    return 0;
}
