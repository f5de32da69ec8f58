#include "TftpPacket.h"

#include <array>

namespace {
void appendBe16(QByteArray& out, std::uint16_t value)
{
    out.append(static_cast<char>(value >> 8));
    out.append(static_cast<char>(value & 0xFF));
}

std::uint16_t be16At(QByteArrayView bytes, qsizetype at)
{
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(bytes[at]) << 8) |
                                      static_cast<std::uint8_t>(bytes[at + 1]));
}

// The texts of the error codes RFC 1350 defines; code 0 carries the device's own message.
constexpr std::array<const char*, 8> kErrorTexts = {
    "TFTP error: %1",
    "TFTP error: file not found",
    "TFTP error: access violation",
    "TFTP error: disk full",
    "TFTP error: illegal TFTP operation",
    "TFTP error: unknown transfer ID",
    "TFTP error: file already exists",
    "TFTP error: no such user",
};
} // namespace

namespace tftp {
QByteArray writeRequest(QByteArrayView fileName, QByteArrayView mode)
{
    QByteArray out;
    out.reserve(fileName.size() + mode.size() + kHeaderSize);
    appendBe16(out, kWriteRequest);
    out.append(fileName);
    out.append('\0');
    out.append(mode);
    out.append('\0');
    return out;
}

QByteArray dataPacket(std::uint32_t block, QByteArrayView payload)
{
    QByteArray out;
    out.reserve(kHeaderSize + payload.size());
    appendBe16(out, kData);
    appendBe16(out, static_cast<std::uint16_t>(block & 0xFFFF));
    out.append(payload);
    return out;
}

QByteArray ackPacket(std::uint16_t block)
{
    QByteArray out;
    appendBe16(out, kAck);
    appendBe16(out, block);
    return out;
}

QByteArray errorPacket(std::uint16_t code, QByteArrayView message)
{
    QByteArray out;
    appendBe16(out, kError);
    appendBe16(out, code);
    out.append(message);
    out.append('\0');
    return out;
}

std::optional<std::uint16_t> opcodeOf(QByteArrayView datagram)
{
    if (datagram.size() < 2)
        return std::nullopt;
    return be16At(datagram, 0);
}

std::optional<std::uint16_t> secondField(QByteArrayView datagram)
{
    if (datagram.size() < kHeaderSize)
        return std::nullopt;
    return be16At(datagram, 2);
}

std::optional<ErrorPacket> parseError(QByteArrayView datagram)
{
    if (opcodeOf(datagram) != kError || datagram.size() < kHeaderSize)
        return std::nullopt;
    ErrorPacket error;
    error.code = be16At(datagram, 2);
    QByteArrayView message = datagram.sliced(kHeaderSize);
    if (const qsizetype end = message.indexOf('\0'); end >= 0)
        message.truncate(end);
    error.message = message.toByteArray();
    return error;
}

std::optional<Request> parseRequest(QByteArrayView datagram)
{
    const std::optional<std::uint16_t> opcode = opcodeOf(datagram);
    if (opcode != kReadRequest && opcode != kWriteRequest)
        return std::nullopt;
    const QByteArrayView rest = datagram.sliced(2);
    const qsizetype nameEnd = rest.indexOf('\0');
    if (nameEnd < 0)
        return std::nullopt;
    const qsizetype modeEnd = rest.indexOf('\0', nameEnd + 1);
    if (modeEnd < 0)
        return std::nullopt;
    return Request{*opcode, rest.first(nameEnd).toByteArray(),
                   rest.sliced(nameEnd + 1, modeEnd - nameEnd - 1).toByteArray()};
}

QString errorText(const ErrorPacket& error)
{
    if (error.code >= kErrorTexts.size())
        return QStringLiteral("unknown TFTP error");
    const QString text = QString::fromLatin1(kErrorTexts[error.code]);
    // The device's message is bytes of its own; Latin-1 shows every byte as some character.
    return error.code == 0 ? text.arg(QString::fromLatin1(error.message)) : text;
}
} // namespace tftp
