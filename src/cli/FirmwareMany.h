#pragma once

// The firmware verb for several devices: one image to each device named (or every device a search
// finds), at most `jobs` uploads at a time, one result line per device and a summary.

#include "FirmwareUpload.h"
#include "Verbs.h"

#include <QByteArray>
#include <QString>

class QTextStream;

namespace cli {
/** Most uploads that run at once. */
constexpr int kMaxFirmwareJobs = 4;

/** Uploads `image` (sent as `fileName`) to every device `request` names after the file, or with --all to
 *  every device a search finds; more than one device needs --yes. Devices named by MAC are read first
 *  for their address and product (product 10 takes the shell way unless --shell or --direct says
 *  otherwise). Runs at most --jobs (1..4) uploads at a time and prints, in the devices' order, one line
 *  per device with the firmware dialog's message, then a summary. Exit status 0 when every device took
 *  the image. */
int firmwareToMany(const VerbRequest& request, const QByteArray& image, const QString& fileName, QTextStream& out,
                   QTextStream& err);
} // namespace cli
