// The status-data decoder. The block is a heap copy of exactly the fuzz bytes, so a read past its end
// is a finding. Checks: only the first 1460 bytes count; a field changes exactly when an item of its
// type is met walking the items as the format says, and then holds text of its kind; the counters read
// as numbers agree with the fields; decoding twice gives the same.

#include "FuzzCheck.h"
#include "status/StatusReport.h"

#include <QRegularExpression>

#include <memory>
#include <set>

using namespace status;

namespace {
const QString kUntouched = QStringLiteral("\x01untouched");

/** The item types met walking the block: type 0 ends it, as do a length below 2 and an item that runs
 *  past the (at most 1460-byte) block. */
std::set<int> typesMet(const std::uint8_t* block, std::size_t size)
{
    size = std::min(size, kBlockSize);
    std::set<int> types;
    for (std::size_t at = 0; at < size && block[at] != 0;) {
        if (at + 1 >= size || block[at + 1] < 2 || at + block[at + 1] > size)
            break;
        types.insert(block[at]);
        at += block[at + 1];
    }
    return types;
}

struct Expectation
{
    Field field;
    int type;
    const char* pattern;
};

const QString kQuad = QStringLiteral("\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}");
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto block = std::make_unique<std::uint8_t[]>(size);
    std::copy(data, data + size, block.get());
    StatusFields fields;
    fields.texts.fill(kUntouched);
    const QString text = decode({block.get(), size}, fields);

    const std::set<int> met = typesMet(block.get(), size);
    static const QRegularExpression counter(QStringLiteral("\\A\\d{1,10}\\z"));
    static const QRegularExpression dotted(QStringLiteral("\\A%1\\z").arg(kQuad));
    static const QRegularExpression mac(QStringLiteral("\\A[0-9a-f]{2}(:[0-9a-f]{2}){5}\\z"));
    static const QRegularExpression uptime(QStringLiteral("\\A\\d{1,3} days, \\d\\d:\\d\\d:\\d\\d\\z"));
    static const QRegularExpression version(QStringLiteral("\\ATessel/LAN Rev. \\d{1,3}\\.\\d{1,3}.? \\d{1,3}MHz\\z"),
                                            QRegularExpression::DotMatchesEverythingOption);
    const auto expect = [&](Field field, int type, const QRegularExpression& form) {
        const QString& got = fields[field];
        if (met.count(type))
            FUZZ_CHECK(form.match(got).hasMatch(), got);
        else
            FUZZ_CHECK(got == kUntouched, got);
    };
    expect(Field::Uptime, kUptime, uptime);
    expect(Field::Version, kVersion, version);
    expect(Field::Mac, kMac, mac);
    expect(Field::LocalIp, kLocalIp, dotted);
    expect(Field::Subnet, kSubnet, dotted);
    expect(Field::Gateway, kGateway, dotted);
    for (int port = 0; port < 4; ++port) {
        expect(comField(port, false), kCom1Rx + port, counter);
        expect(comField(port, true), kCom1Tx + port, counter);
    }
    // The text box only grows from text, separator and LAN items.
    const bool textItems = met.count(kText) || met.count(kSeparator) || met.count(kLanRx) || met.count(kLanTx) ||
                           met.count(kLanCrc) || met.count(kLanAlign) || met.count(kLanLost);
    FUZZ_CHECK(textItems || text.isEmpty(), text);
    FUZZ_CHECK(text.size() <= static_cast<qsizetype>(kBlockSize) * 40, QString::number(text.size()));

    // The counters as numbers (what the live rates are made of) agree with the fields as texts.
    const StatusCounters counters = readCounters({block.get(), size});
    FUZZ_CHECK(counters.uptime.has_value() == (met.count(kUptime) > 0), text);
    if (counters.uptime)
        FUZZ_CHECK(uptimeText(*counters.uptime) == fields[Field::Uptime], fields[Field::Uptime]);
    for (int port = 0; port < 4; ++port) {
        for (const bool tx : {false, true}) {
            const auto& value = (tx ? counters.tx : counters.rx)[static_cast<std::size_t>(port)];
            FUZZ_CHECK(value.has_value() == (met.count((tx ? kCom1Tx : kCom1Rx) + port) > 0), text);
            if (value)
                FUZZ_CHECK(QString::number(*value) == fields[comField(port, tx)], fields[comField(port, tx)]);
        }
    }

    StatusFields again;
    again.texts.fill(kUntouched);
    FUZZ_CHECK(decode({block.get(), std::min(size, kBlockSize)}, again) == text, text);
    FUZZ_CHECK(again.texts == fields.texts, text);
    return 0;
}
