// The firmware engine's shell-text scanner, fed as a device would answer: its stream cut into reads at
// fuzzed places. Checks: the kept text never passes the cap and is always the tail of what came (since
// the last clear), up to each read's first zero byte; a step comes only when its keyword is in the text
// it scanned, by the rules' order; and a stream without zero bytes moves the conversation the same way
// however it is cut into reads, as long as no read holds two keywords.

#include "FuzzCheck.h"
#include "firmware/ShellScanner.h"

#include <vector>

using firmware::ShellScanner;
using firmware::ShellStep;

namespace {
const char* const kKeywords[] = {"msh>", "firmware size is not", "TFTP", "program flash now", "timeout", "reboot now"};

/** The step the rules give for `text`, worked out apart from the scanner. */
ShellStep expectedStep(const QString& text, bool pleaseWaitShown)
{
    const auto has = [&text](const char* k) { return text.contains(QLatin1String(k)); };
    if (has("msh>") && !pleaseWaitShown)
        return has("firmware size is not") ? ShellStep::SizeRejected : ShellStep::TypeFlash;
    if (has("TFTP"))
        return ShellStep::StartUpload;
    if (has("program flash now"))
        return ShellStep::ConfirmFlash;
    if (has("timeout"))
        return ShellStep::DeviceTimeout;
    if (has("reboot now"))
        return ShellStep::ConfirmReboot;
    return ShellStep::None;
}

std::vector<ShellStep> feedAll(const std::vector<QByteArray>& reads, bool pleaseWaitShown)
{
    ShellScanner scanner;
    std::vector<ShellStep> steps;
    QString expectedText;
    for (const QByteArray& read : reads) {
        const QString before = scanner.text();
        const ShellStep step = scanner.feed(read, pleaseWaitShown);
        const qsizetype zero = read.indexOf('\0');
        QString scanned = before + QString::fromLatin1(zero < 0 ? read : read.first(zero));
        scanned = scanned.right(ShellScanner::kTextCap);
        FUZZ_CHECK(step == expectedStep(scanned, pleaseWaitShown), scanned.right(200));
        const bool cleared =
            step != ShellStep::None && step != ShellStep::DeviceTimeout && step != ShellStep::SizeRejected;
        FUZZ_CHECK(scanner.text() == (cleared ? QString() : scanned), scanned.right(200));
        FUZZ_CHECK(scanner.text().size() <= ShellScanner::kTextCap, QString::number(scanner.text().size()));
        if (step != ShellStep::None)
            steps.push_back(step);
        if (step == ShellStep::DeviceTimeout || step == ShellStep::SizeRejected)
            break; // the engine ends the transfer here
    }
    return steps;
}

int keywordsIn(const QByteArray& bytes)
{
    int n = 0;
    for (const char* k : kKeywords)
        n += static_cast<int>(bytes.count(k));
    return n;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool pleaseWaitShown = in.ConsumeBool();
    // The device's answer, cut where the fuzz says; reads of at most the engine's 2048 bytes.
    std::vector<QByteArray> reads;
    QByteArray stream;
    while (in.remaining_bytes() > 0 && reads.size() < 64) {
        QByteArray read = fuzz::bytes(in, 2048);
        if (in.ConsumeBool() && !read.isEmpty()) // a keyword as a device says it, now and then
            read.insert(in.ConsumeIntegralInRange<qsizetype>(0, read.size()), in.PickValueInArray(kKeywords));
        reads.push_back(read);
        stream += read;
    }
    const std::vector<ShellStep> steps = feedAll(reads, pleaseWaitShown);
    // The same stream in one piece (when it fits one read) or a byte at a time: the same steps, when it
    // has no zero bytes and no two keywords could meet in one read.
    if (stream.contains('\0') || stream.size() > 2048 || keywordsIn(stream) > 1)
        return 0;
    FUZZ_CHECK(feedAll({stream}, pleaseWaitShown) == steps, QString::fromLatin1(stream.right(200)));
    std::vector<QByteArray> bytes;
    for (const char c : stream)
        bytes.emplace_back(1, c);
    FUZZ_CHECK(feedAll(bytes, pleaseWaitShown) == steps, QString::fromLatin1(stream.right(200)));
    return 0;
}
