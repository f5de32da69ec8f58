#pragma once

// Records that the editor's tests open the editor on.

#include "TesselSim.h"
#include "protocol/Codec.h"
#include "record/EnvRecord.h"

namespace guitest {
/** A device on which every control of the settings editor is in use: a password, Multi IP, every port in
 *  U2S (all network fields of the ports), a comment and the address search. Only SSL stays disabled, as
 *  always. */
inline EnvRecord everythingInUse()
{
    EnvRecord record = TesselSim::makeDevice(0, 0x7F000002).record;
    record.setTypedPassword("secret");
    HashPassword(record.passwordField());
    record.setMultiIp(true);
    record.setIpv4Type(EnvRecord::kStatic);
    record.setCommentSupported(true);
    record.setRemoteSearchSupported(true);
    for (int i = 0; i < 4; ++i) {
        EnvPortBlock port = record.port(i);
        port.setMode(EnvPortBlock::kUdp);
        record.setPort(i, port);
    }
    return record;
}
} // namespace guitest
