// The production station: `uvc-hid station IMAGE`. It reads and checks the image once,
// then waits for boards (a hot-plug event, or a simulator appearing in its folder, makes
// it look again) and burns each board as it appears, several at once. Each board runs in
// a thread of its own with its own device host, command protocol and flash programmer, and
// the burn is the one `uvc-hid burn` runs. A board is served once per plug-in: after its
// result it must go before its port is served again. Its interfaces' plug identities tell
// when it went: a board unplugged and plugged in again between two looks, or swapped for
// one with the same serial number, is a new plug-in.
//
// A first SIGINT or SIGTERM stops the station taking boards and lets the burns in progress
// finish untouched; a second reaches the burns as a first reaches `uvc-hid burn` (the
// write in progress finishes), a third stops them at the next chunk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "tools/cli/cli_options.h"

namespace cli {

// Why no flash part the protocol knows could take `image` for `areas`, or empty when one
// can: a station refuses at its start what every board would refuse.
std::string StationImageRefusal(std::span<const std::uint8_t> image, const AreaChoice& areas);

// Runs the station of `options` until --count boards are done or a stop request; prints a
// line per board on `out` and answers the exit status. `stopWakeFd` becomes readable at
// each stop request; -1 when there is none.
int RunStation(const Options& options, std::FILE* out, int stopWakeFd);

}  // namespace cli
