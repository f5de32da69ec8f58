#pragma once

// The simulator's status file (`tessel-sim --status FILE`): the items a device sends behind the frame of
// a status reply, one per line, so a report can be shaped by hand, hostile data included.
//
//   # comment
//   version 3 2 B 50          major, minor, revision (letter or index), clock in MHz
//   uptime 360000             hundredths of a second (it keeps growing while the report is live)
//   mac | ip | mask | gateway [VALUE]   the device's own from its record (a live report keeps them in
//                             step with it; a VALUE shows as given with live off)
//   com1.rx 4096              com1..com4 .rx/.tx: serial byte counters (u32)
//   lan.rx 1000               lan.rx, lan.tx (u32); lan.crc, lan.align, lan.lost (u16)
//   text "LAN\r\n"            text with the escapes \r \n \t \\ \" \xHH
//   separator                 the line of hyphens
//   item 200 0a0b0c           any type, with these value bytes (hex)
//   raw 0201                  bytes as they are, lengths included (hostile data)
//   live off                  send the items verbatim (default on: uptime, identity and counters move)
//   rate com1.rx 1000         com1.rx grows by 1000 bytes a second (from its value above, 0 without one)
//   rate com2.tx 0 4000 every 5   rates held in turn for 5 s each, over and over: a known shape
//                             (once a rate is set, counters without one stay still)
//   restart every 60          the device starts again every 60 s: uptime and rated counters anew

#include "StatusItems.h"
#include "record/EnvRecord.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace sim {
/** One line of a status file. */
struct ScriptLine
{
    enum Kind
    {
        Item,     // type and value
        Identity, // type whose value comes from the device's record (MAC, IP, mask, gateway)
        Raw,      // bytes as they are
    };
    Kind kind = Item;
    std::uint8_t type = 0;
    QByteArray bytes;
};

struct StatusScript
{
    std::vector<ScriptLine> lines;
    bool live = true;
    SerialTraffic traffic; // set rates and restarts of a live report
};

/** Reads a status file's text; nothing, with the line number and what is wrong in `error`, when a line
 *  cannot be read or the items would not fit into a reply (820 bytes). */
std::optional<StatusScript> parseStatusScript(const QByteArray& text, QString* error);

/** Reads the file at `path` (see parseStatusScript). */
std::optional<StatusScript> loadStatusScript(const QString& path, QString* error);

/** The items of `script` for the device with `record`; a counter with a rate but no line of its own is
 *  added at the end, starting from 0. */
QByteArray statusItemsFor(const StatusScript& script, const EnvRecord& record);
} // namespace sim
