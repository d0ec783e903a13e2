// uvc-hid: the tool's command line. One command per run over the dialog's own handlers.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/cli_options.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/json.h"
#include "tools/cli/runner.h"

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
    return cli::RunCommandLine(options, stdout);
}
