// uvc-hid: the tool's command line. One command per run over the services the dialog uses.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/cli_options.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/json.h"
#include "tools/cli/runner.h"
#include "core/stop_request.h"

namespace {

// The announcement of a deferred stop, in the form standard error has in this run; on a
// terminal it starts a line of its own after the progress bar.
std::string DeferredStopNotice(bool json) {
    if (json) return cli::JsonObject().Add("trace", core::kStopDeferredNotice).Text() + "\n";
    return std::string(isatty(STDERR_FILENO) ? "\n" : "") + core::kStopDeferredNotice + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    cli::Options options;
    std::string error = cli::ParseCommandLine(args, options);
    if (!error.empty()) {
        std::fprintf(stderr, "uvc-hid: %s\nTry 'uvc-hid --help'.\n", error.c_str());
        for (const std::string& arg : args)
            if (arg == "--json") {
                cli::JsonObject doc;
                doc.Add("command", "").Add("ok", false).Add("exit_code", std::int64_t{cli::kExitUsage}).Add("error", error).AddRaw("messages", "[]");
                std::printf("%s\n", doc.Text().c_str());
                break;
            }
        return cli::kExitUsage;
    }
    if (options.help) {
        std::fputs(cli::UsageText(), stdout);
        return cli::kExitOk;
    }
    if (options.version) {
        std::printf("%s\n", cli::VersionText());
        return cli::kExitOk;
    }
    // From here on a signal asks the run to stop where it safely can, and a closed pipe
    // is an output error instead of the end of a burn.
    core::StopSignals stopSignals(DeferredStopNotice(options.json));
    return cli::RunCommandLine(options, stdout, stopSignals.WakeFd());
}
