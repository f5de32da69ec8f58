#pragma once

// How long the program waits for a device's reply, written once for the search window, the settings
// editor and the command line alike: the endpoint is polled from a timer until it holds the answer or
// ten ticks have passed. The ticks run on precise timers (Qt::PreciseTimer): a coarse timer may be 5 %
// off, and these waits are promised to the user in whole seconds.

namespace reply_wait {
constexpr int kTicks = 10;
constexpr int kSearchTickMs = 300;   // a search by MAC or by IP address: 3 s
constexpr int kReadTickMs = 200;     // a read: 2 s
constexpr int kWriteTickMs = 200;    // a write: 2 s, as a read: a slow device still answers within it
constexpr int kStatusTickMs = 200;   // a status request: 2 s
constexpr int kPasswordTickMs = 200; // a password change: 2 s
} // namespace reply_wait
