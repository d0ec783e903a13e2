// Runs one command line: checks its files, opens and claims the device, runs the command
// on the services and reports the result.
#pragma once

#include <cstdio>

#include "tools/cli/cli_options.h"

namespace cli {

// Prints the result (text or JSON) on `out` and answers the exit status.
int RunCommandLine(const Options& options, std::FILE* out);

}  // namespace cli
