// Runs one command line: checks its files, opens and claims the device, runs the command
// on the services and reports the result; or runs the station.
#pragma once

#include <cstdio>
#include <memory>

#include "core/result.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/log_file.h"

namespace cli {

// Prints the result (text or JSON) on `out` and answers the exit status. `stopWakeFd`
// becomes readable at each stop request (core::StopSignals::WakeFd); the station waits on
// it, -1 when there is none.
int RunCommandLine(const Options& options, std::FILE* out, int stopWakeFd = -1);

// The --log file opened for appending, none without --log, or why it cannot be.
core::Result<std::unique_ptr<LogFile>> OpenLogFile(const Options& options);
// Closes the log; a failure to write it turns a passing outcome into a file error and is
// added to a failing one's text. Answers why the log could not be written, or empty.
std::string FinishLog(const Options& options, LogFile* log, Outcome& outcome);

}  // namespace cli
