// Runs one command line against the device: the dialog's logic under the console window
// services, its handlers pressed in the order a user would press them.
#pragma once

#include <cstdio>

#include "tools/cli/cli_options.h"

namespace cli {

// Prints the result (text or JSON) on `out` and answers the exit status.
int RunCommandLine(const Options& options, std::FILE* out);

}  // namespace cli
