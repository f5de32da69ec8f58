#pragma once

// The desired state of a fleet of devices, as `apply` reads it from a JSON file (or the same in YAML: a
// file that does not start with "{"):
//
//     {
//       "defaults": { "com1.baudRate": 115200 },
//       "devices": {
//         "02:7e:55:00:00:01": { "comment": "Line 1" },
//         "10.1.0.7": { "comment": "Line 2", "com1.baudRate": 9600 }
//       }
//     }
//
// Devices are named by MAC or IPv4 address; fields as `read --json` names them ("com2.baudRate", or
// nested as read --json shows them: "ports": [{...}, ...]). The defaults apply to every device listed; a
// device's own value of a field wins. Everything that needs no device record is checked here, and a
// refusal names the line of the file and the field.

#include "device/DeviceName.h"
#include "record/RecordEdit.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace device {
using record_edit::Change;
/** One device of the file and the fields it must hold, the defaults merged in. */
struct DesiredDevice
{
    QString name; // as the file names it
    DeviceName device;
    int line = 0; // where the file names it
    QList<Change> fields;
};

struct DesiredState
{
    QList<DesiredDevice> devices; // in the file's order
};

/** Reads the text of a desired-state file. Nothing when it is not one, and in `error` why, beginning
 *  with the line ("line 7: com1.baudRate: 115300 is not one of …"). */
std::optional<DesiredState> parseDesiredState(const QByteArray& text, QString& error);
} // namespace device
