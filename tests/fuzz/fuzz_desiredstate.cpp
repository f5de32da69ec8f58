// The desired state apply reads, in JSON or YAML. Checks: a refused text names a line of the text (from 1
// to one past its last line, lines broken as YAML breaks them) and nothing else comes back; an accepted one names at
// least one device, each on a line of the text, by a name the device-name reader takes, and its fields pass the checks
// that need no device, as the command line's field=value changes do.

#include "device/DesiredState.h"
#include "FuzzCheck.h"
#include "record/RecordEdit.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // The most lines the text can have: YAML also breaks lines at CR (a CR LF counted twice here) and at
    // NEL, LS and PS.
    const int lastLine = static_cast<int>(text.count('\n') + text.count('\r') + text.count("\xc2\x85") +
                                          text.count("\xe2\x80\xa8") + text.count("\xe2\x80\xa9")) +
                         1;
    QString error;
    const std::optional<device::DesiredState> state = device::parseDesiredState(text, error);
    if (!state) {
        static const QRegularExpression lineFirst(QStringLiteral("\\Aline ([0-9]+): "));
        const QRegularExpressionMatch m = lineFirst.match(error);
        FUZZ_CHECK(m.hasMatch(), error);
        const int line = m.captured(1).toInt();
        FUZZ_CHECK(line >= 1 && line <= lastLine + 1, error);
        FUZZ_CHECK(error.size() > m.capturedLength(), error); // and says why
        return 0;
    }
    FUZZ_CHECK(error.isEmpty(), error);
    FUZZ_CHECK(!state->devices.isEmpty(), QStringLiteral("a state without devices"));
    for (const device::DesiredDevice& device : state->devices) {
        FUZZ_CHECK(device.line >= 1 && device.line <= lastLine, device.name);
        FUZZ_CHECK(device::parseDeviceName(device.name).error.isEmpty(), device.name);
        FUZZ_CHECK(!record_edit::checkChanges(device.fields).has_value(), device.name);
    }
    return 0;
}
