// The commands of uvc-hid on an opened, claimed device: each calls the services as the
// dialog's handler does, checks what they answer and puts the result in the report. Burn
// and dump take their verdicts from the flash programmer, so the dialog and the command
// line can never disagree on what a run sends or how it is judged.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tools/cli/cli_options.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/report.h"
#include "tools/cli/session.h"

namespace cli {

// The image of burn and verify as read before the device was opened, and the file the
// flash programmer's slot holds for it: the image's own, or a private copy of what came on
// standard input.
struct Image {
    std::span<const std::uint8_t> bytes;
    std::string slotPath;
};

// Runs the command of `options` (not list) unless a stop was requested first; a stop that
// came while it ran decides the exit status unless a failure did.
void RunCommand(Session& session, ConsoleReporter& console, const Options& options, const Image& image,
                Report& report);

}  // namespace cli
