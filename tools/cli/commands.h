// The commands of uvc-hid on an opened, claimed device: each calls the services as the
// dialog's handler does, checks what they answer and puts the result in the report. Burn
// and dump take their verdicts from the flash programmer, so the dialog and the command
// line can never disagree on what a run sends or how it is judged.
#pragma once

#include <cstdint>
#include <span>

#include "tools/cli/cli_options.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/report.h"
#include "tools/cli/session.h"

namespace cli {

// Runs the command of `options` (not list) unless a stop was requested first; a stop that
// came while it ran decides the exit status unless a failure did. `image` is the image of
// burn and verify as read before the device was opened.
void RunCommand(Session& session, ConsoleReporter& console, const Options& options,
                std::span<const std::uint8_t> image, Report& report);

}  // namespace cli
