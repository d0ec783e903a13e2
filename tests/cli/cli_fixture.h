// Runs uvc-hid command lines in-process against simulators published in this process, in
// a private runtime directory so that no simulator of another test or user is seen; and
// reads their JSON documents as a consumer would, against the documented schema.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <thread>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "core/stop_request.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/virtual_device.h"
#include "sim/simulated_device.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/runner.h"
#include "tools/cli/sha256.h"
#include "tests/support/spawn.h"

extern char** environ;

namespace clitest {

// A strict little JSON reader. The value comes out flat: every value under its path
// ("device.path", "areas.0"; "" for the whole), with its kind (s string, n number,
// b boolean, z null, a array, o object) and its text (a string decoded, a number or
// literal as written, the item count of an array or object).
class Json {
public:
    std::map<std::string, std::string> values;  // path -> the kind, then the text

    // False for anything but exactly one JSON value (surrounding blanks allowed).
    bool Parse(std::string_view text) {
        values.clear();
        s_ = text;
        return Read("", 0) && s_.find_first_not_of(" \t\r\n") == std::string_view::npos;
    }
    std::string operator[](const std::string& path) const {
        auto v = values.find(path);
        return v == values.end() ? "<" + path + " missing>" : v->second.substr(1);
    }
    char Kind(const std::string& path) const {
        auto v = values.find(path);
        return v == values.end() ? '\0' : v->second[0];
    }
    double Number(const std::string& path) const { return Kind(path) == 'n' ? std::stod((*this)[path]) : NAN; }

private:
    std::string Token() {  // the next string, number, literal or punctuation; "" when none
        static const std::regex kToken(R"(\s*("(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*")"
                                       R"(|-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][-+]?\d+)?|true|false|null|[[\]{},:]))");
        std::match_results<std::string_view::const_iterator> m;
        if (!std::regex_search(s_.begin(), s_.end(), m, kToken, std::regex_constants::match_continuous)) return "";
        s_.remove_prefix(static_cast<std::size_t>(m.length(0)));
        return m[1];
    }
    static std::string Unquote(const std::string& token) {
        std::string text;
        for (std::size_t i = 1; i + 1 < token.size(); ++i) {
            if (token[i] != '\\') text += token[i];
            else if (token[++i] != 'u') text += "\"\\/\b\f\n\r\t"[std::string_view("\"\\/bfnrt").find(token[i])];
            else text += static_cast<char>(std::stoi(token.substr(i + 1, 4), nullptr, 16)), i += 4;
        }
        return text;
    }
    bool Read(const std::string& path, int depth) {
        std::string token = Token();
        if (depth > 32 || token.empty() || std::string_view("]},:").find(token[0]) != std::string_view::npos) return false;
        const char kind = token[0] == '"' ? 's' : token[0] == '[' ? 'a' : token[0] == '{' ? 'o' : token[0] == 'n' ? 'z'
                          : std::isalpha(static_cast<unsigned char>(token[0])) ? 'b' : 'n';
        if (kind != 'a' && kind != 'o') return values.emplace(path, kind + (kind == 's' ? Unquote(token) : token)).second;
        const std::string close = kind == 'a' ? "]" : "}";
        std::size_t count = 0;
        for (auto before = s_; (token = Token()) != close; before = s_) {
            if (count == 0) s_ = before;  // the first item's token
            else if (token != ",") return false;
            std::string key = kind == 'a' ? std::to_string(count) : Token();
            if (kind == 'o' && (key.empty() || key[0] != '"' || Token() != ":")) return false;
            if (!Read((path.empty() ? "" : path + ".") + (kind == 'o' ? Unquote(key) : key), depth + 1)) return false;
            ++count;
        }
        return values.emplace(path, kind + std::to_string(count)).second;  // false for a key twice
    }

    std::string_view s_;
};

// The documented keys with their kinds; ".*" stands for every item of an array, "?" marks
// a key that may be left out.
inline void ExpectSchema(const Json& doc, const std::string& context) {
    static const std::string kCommon = "command:s ok:b exit_code:n error:s? messages:a messages.*:o "
                                       "messages.*.caption:s messages.*.text:s device:o? device.path:s device.vid:s device.pid:s "
                                       "device.port:s? device.serial:s? warnings:a? warnings.*:s candidates:a? "
                                       "candidates.*:o candidates.*.path:s candidates.*.device:s "
                                       "candidates.*.port:s? candidates.*.serial:s?";
    static const std::string kReg = "address:s value:s", kIic = "iic_device:s offset:s value:s return_code:s";
    static const std::map<std::string, std::string> kPerCommand = {
        {"", ""},  // after a usage error
        {"list", "interfaces:a interfaces.*:o interfaces.*.path:s interfaces.*.vid:s? interfaces.*.pid:s? "
                 "interfaces.*.usage_page:s? interfaces.*.usage:s? interfaces.*.product:s? interfaces.*.accessible:b "
                 "interfaces.*.problem:s? interfaces.*.busy_pid:n? interfaces.*.serial:s? interfaces.*.port:s?"},
        {"id", "flash:o flash.device_id:n flash.name:s flash.page_size:n flash.sector_size:n flash.pages_per_sector:n "
               "flash.sectors_per_block:n flash.total_blocks:n flash.total_size:n"},
        {"fw-version", "firmware_version:s"}, {"hdmi-info", "hdmi_info:s"},
        {"reg read", kReg}, {"reg write", kReg}, {"iic read", kIic}, {"iic write", kIic},
        {"gpio dir", "pin:s direction:s"}, {"gpio write", "pin:s level:s"}, {"gpio read", "pin:s level:s"},
        {"hdcp on", "hdcp:s"}, {"hdcp off", "hdcp:s"},
        {"burn", "image:s backup:sz areas:a areas.*:s bytes:n sha256:s verification:s result:s"},
        {"dump", "file:s bytes:n sha256:s"},
        {"verify", "image:s areas:a areas.*:s bytes:n differences:n first_difference:oz "
                   "first_difference.address:s first_difference.expected:s first_difference.found:s"},
    };
    ASSERT_EQ(doc.Kind(""), 'o') << context;
    auto own = kPerCommand.find(doc["command"]);
    ASSERT_NE(own, kPerCommand.end()) << context;
    const bool ok = doc["ok"] == "true";
    std::map<std::string, std::string> kinds;
    std::istringstream rules(kCommon + " " + own->second);
    for (std::string rule; rules >> rule;) kinds[rule.substr(0, rule.find(':'))] = rule.substr(rule.find(':') + 1);
    for (const auto& [path, value] : doc.values) {
        auto rule = kinds.find(std::regex_replace(path, std::regex("\\.\\d+"), ".*"));
        EXPECT_TRUE(path.empty() || (rule != kinds.end() && rule->second.find(value[0]) != std::string::npos))
            << context << ": " << path << " is undocumented or not of kind " << value[0];
    }
    // Present: the common keys, the command's own on success, every key of an object held.
    for (const auto& [key, kind] : kinds) {
        auto dot = key.rfind('.');
        std::string parent = dot == std::string::npos ? "" : key.substr(0, dot);
        bool ownTopKey = parent.empty() && (" " + own->second).find(" " + key + ":") != std::string::npos;
        bool needed = !kind.ends_with('?') && doc.Kind(parent) == 'o' && (ok || !ownTopKey);
        EXPECT_TRUE(!needed || doc.Kind(key)) << context << ": lacks " << key;
    }
    EXPECT_EQ(doc["exit_code"] == "0", ok) << context;
    EXPECT_EQ(doc.Kind("error") == 's', !ok) << context << ": an error only on failure";
}

inline std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

inline std::string Sha256Of(std::span<const std::uint8_t> bytes) {
    cli::Sha256 sha;
    sha.Update(bytes);
    return sha.HexDigest();
}

// The program's signal handlers installed; no stop request before or after the test.
struct StopState {
    StopState() { core::ResetStopRequests(); }
    ~StopState() { core::ResetStopRequests(); }
    core::StopSignals handlers{""};
};

// A temporary file's text from its start; closes the file.
inline std::string ReadAll(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

using testsupport::Spawn;

// The program's exit status within a minute; -1 when a signal ended it or it had to be killed.
inline int Wait(pid_t pid) {
    for (int tick = 0; pid > 0 && tick < 6000; ++tick) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    return -1;
}

struct RunResult {
    int code = -1;
    std::string text;  // standard output
    Json doc;
};

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/uvc-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) savedRuntime_ = old;
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        hidlibrary::EnsureRegistered();
    }
    void TearDown() override {
        for (pid_t sim : sims_)  // a test that stopped midway
            if (sim > 0 && kill(sim, SIGKILL) == 0) waitpid(sim, nullptr, 0);
        publications_.clear();
        if (savedRuntime_.empty()) unsetenv("XDG_RUNTIME_DIR");
        else setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Publishes a simulated device with the tests' own ids; by default the small 256 KiB part.
    // `wrap`, when given, makes the handler that serves the device's transfers in its place;
    // `serial` and `port` replace the simulator's serial number and give it a USB port path;
    // `path`, when given, is used in place of one made from `tag`.
    using Wrap = std::function<std::shared_ptr<vhid::DeviceHandler>(std::shared_ptr<sim::SimulatedDevice>)>;
    std::shared_ptr<sim::SimulatedDevice> Publish(const std::string& tag, std::uint16_t partRow = 34, const Wrap& wrap = {},
                                                  const std::string& serial = "", const std::string& port = "",
                                                  const std::u16string& path = {}) {
        std::string error;
        auto device = sim::SimulatedDevice::Create({.vendorId = 0x1209, .productId = 0x5A5B, .partRow = partRow}, error);
        EXPECT_TRUE(device) << error;
        vhid::DeviceInfo info = device->Info();
        info.path = path.empty() ? vhid::MakePath(tag) : path;
        if (!serial.empty()) info.serialNumber = std::u16string(serial.begin(), serial.end());
        info.portPath = std::u16string(port.begin(), port.end());
        paths_.push_back(info.path);
        publications_.push_back(vhid::Publish(std::move(info), wrap ? wrap(device) : device));
        return device;
    }

    // Runs "uvc-hid --json --vid 1209 --pid 5a5b <line>" (ids left out when the line names
    // a --device or --pid); the document must parse and match the schema.
    RunResult Run(const std::string& line) {
        std::vector<std::string> args = Words("--json " + line);
        if (line.find("--device") == std::string::npos && line.find("--pid") == std::string::npos)
            args.insert(args.end(), {"--vid", "1209", "--pid", "5a5b"});
        cli::Options options;
        EXPECT_EQ(cli::ParseCommandLine(args, options), "") << line;
        std::FILE* out = std::tmpfile();
        RunResult result{cli::RunCommandLine(options, out), ReadAll(out), {}};
        EXPECT_TRUE(result.doc.Parse(result.text)) << result.text;
        ExpectSchema(result.doc, line);
        return result;
    }

    std::string File(const std::string& name) const { return dir_ + "/" + name; }
    // The file's text once it holds `text` (at most a minute later).
    static std::string WaitFor(const std::string& path, const std::string& text) {
        std::string now;
        for (int tick = 0; tick < 6000 && (now = Text(path)).find(text) == std::string::npos; ++tick)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return now;
    }
    // Starts the simulator program named `name` with `options`; answers its socket once it is
    // ready, empty when it did not start. StopSimulator ends the last one started and expects
    // a clean exit.
    std::string StartSimulator(const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(), {UVC_SIM_PROGRAM, "--name", name});
        sims_.push_back(Spawn(options, File(name + ".out"), File(name + ".err")));
        std::string ready = WaitFor(File(name + ".out"), "\n");
        EXPECT_NE(ready.find("ready: "), std::string::npos) << ready << Text(File(name + ".err"));
        const auto at = ready.find("ready: ");
        return at == std::string::npos ? "" : ready.substr(at + 7, ready.find('\n') - at - 7);
    }
    void StopSimulator() {
        ASSERT_FALSE(sims_.empty());
        const pid_t sim = sims_.back();
        sims_.pop_back();
        if (sim > 0) kill(sim, SIGINT);
        EXPECT_EQ(Wait(sim), 0);
    }
    static void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<std::uint8_t> Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Text(const std::string& path) {
        auto bytes = Read(path);
        return std::string(bytes.begin(), bytes.end());
    }
    static std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 8));
        return bytes;
    }

    std::string dir_;
    std::vector<std::u16string> paths_;
    std::vector<std::unique_ptr<vhid::Publication>> publications_;  // withdrawn when erased
    std::vector<pid_t> sims_;

private:
    std::string savedRuntime_;
};

}  // namespace clitest
