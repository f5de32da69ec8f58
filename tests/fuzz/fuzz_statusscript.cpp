// The simulator's status file. Checks: a file it accepts gives items that fit a status reply for any
// device, the same number of bytes whatever the record, and items the program's decoder walks without
// reading outside them; a refusal names its line.

#include "FuzzCheck.h"
#include "StatusScript.h"
#include "protocol/Codec.h"
#include "status/StatusReport.h"

#include <QRegularExpression>

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < EnvRecord::kSize)
        return 0;
    const EnvRecord record(data);
    const QByteArray text(reinterpret_cast<const char*>(data + EnvRecord::kSize),
                          static_cast<qsizetype>(size - EnvRecord::kSize));
    QString error;
    const std::optional<sim::StatusScript> script = sim::parseStatusScript(text, &error);
    if (!script) {
        static const QRegularExpression named(QStringLiteral("\\A(line \\d+: .+|\\d+ bytes of items; .+)\\z"),
                                              QRegularExpression::DotMatchesEverythingOption);
        FUZZ_CHECK(named.match(error).hasMatch(), error);
        return 0;
    }
    const QByteArray items = sim::statusItemsFor(*script, record);
    FUZZ_CHECK(items.size() <= static_cast<qsizetype>(frame::kMaxStatusItems), QString::number(items.size()));
    FUZZ_CHECK(items.size() == sim::statusItemsFor(*script, EnvRecord()).size(), QString::fromLatin1(text));
    // Exactly the items, on the heap: the decoder must not read past them.
    const auto copy = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(items.size()));
    std::copy(items.begin(), items.end(), copy.get());
    status::StatusFields fields;
    status::decode({copy.get(), static_cast<std::size_t>(items.size())}, fields);
    return 0;
}
