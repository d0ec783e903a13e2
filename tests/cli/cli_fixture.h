// Runs uvc-hid command lines in-process against simulators published in this process, in
// a private runtime directory so that no simulator of another test or user is seen.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/hid/hid_library.h"
#include "platform/hid/virtual_device.h"
#include "sim/simulated_device.h"
#include "tests/cli/json_reader.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/runner.h"

namespace clitest {

inline std::string Str(const Json& doc, std::string_view key) {
    const Json* v = doc.Find(key);
    return v && v->kind == Json::String ? v->text : "<" + std::string(key) + " missing>";
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
        publications_.clear();
        if (savedRuntime_.empty()) unsetenv("XDG_RUNTIME_DIR");
        else setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // A simulated device with the tests' own ids; by default the small 256 KiB part.
    std::shared_ptr<sim::SimulatedDevice> Publish(const std::string& tag, std::uint16_t partRow = 34) {
        sim::Config config;
        config.vendorId = 0x1209;
        config.productId = 0x5A5B;
        config.partRow = partRow;
        std::string error;
        auto device = sim::SimulatedDevice::Create(std::move(config), error);
        EXPECT_TRUE(device) << error;
        vhid::DeviceInfo info = device->Info();
        info.path = vhid::MakePath(tag);
        paths_.push_back(info.path);
        publications_.push_back(vhid::Publish(std::move(info), device));
        return device;
    }

    // Runs "uvc-hid --json --vid 1209 --pid 5a5b <line>" (ids left out when the line names
    // a --device); the document must parse.
    RunResult Run(const std::string& line) {
        std::vector<std::string> args = {"--json"};
        std::istringstream in(line);
        for (std::string word; in >> word;) args.push_back(word);
        if (line.find("--device") == std::string::npos && line.find("--pid") == std::string::npos)
            args.insert(args.end(), {"--vid", "1209", "--pid", "5a5b"});
        cli::Options options;
        RunResult result;
        std::string error = cli::ParseCommandLine(args, options);
        EXPECT_EQ(error, "") << line;
        std::FILE* out = std::tmpfile();
        result.code = cli::RunCommandLine(options, out);
        std::rewind(out);
        for (int c; (c = std::fgetc(out)) != EOF;) result.text += static_cast<char>(c);
        std::fclose(out);
        EXPECT_TRUE(JsonReader::Parse(result.text, result.doc)) << result.text;
        return result;
    }

    std::string File(const std::string& name) const { return dir_ + "/" + name; }
    static void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<std::uint8_t> Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 8));
        return bytes;
    }

    std::string dir_;
    std::vector<std::u16string> paths_;

private:
    std::string savedRuntime_;
    std::vector<std::unique_ptr<vhid::Publication>> publications_;
};

}  // namespace clitest
