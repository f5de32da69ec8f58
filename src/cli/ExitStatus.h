#pragma once

// The exit status of cormapmp-cli, for every verb.

namespace cli {
enum ExitStatus : int
{
    kExitOk = 0,
    /** No device answered, a device refused or failed, an endpoint could not be opened. */
    kExitFailed = 1,
    /** diff: the two differ. */
    kExitDiffer = 1,
    /** A usage error or bad input, with a message naming what is wrong; nothing was sent. */
    kExitUsage = 2,
};
} // namespace cli
