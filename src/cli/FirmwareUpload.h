#pragma once

// The firmware verb of the command-line tool: uploads a file to one device with the program's transfer
// engine, directly or through the device's shell, showing progress on the output stream.

#include "Verbs.h"
#include "protocol/NetworkProfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

class QTextStream;
class StringTable;

namespace cli {
/** One upload: the image, the name sent to the device, where it goes and how. */
struct FirmwareJob
{
    QByteArray image;
    QString fileName;
    std::uint32_t target = 0; // host order
    bool shell = false;
};

/** The firmware dialog's message for a final transfer code (in `strings`' language); empty when the system
 *  has no text for it. */
QString firmwareResultText(const StringTable& strings, int code, qint64 value, const QString& message);

/** The way to take for a device of `productCode` (-1: not known). */
bool usesShell(FirmwareWay way, int productCode);

/**
 * Runs the upload in a local event loop until the engine's final result. Progress goes to `out`: a bar
 * redrawn in place when `terminal`, else a line at each tenth of the image. The result is printed as the
 * firmware dialog's message: success on `out`, failure on `err`. True on success.
 */
bool runFirmwareUpload(const NetworkProfile& profile, const FirmwareJob& job, QTextStream& out, QTextStream& err,
                       bool terminal);
} // namespace cli
