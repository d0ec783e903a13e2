// The files of a command: roles, the image read once, atomic dumps and backups, the log, non-regular paths.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "tests/cli/cli_fixture.h"
#include "tests/support/file_size_limit.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/sha256.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;

class CliFiles : public CliFixture {
protected:
    // The line with every "@" standing for the test's folder.
    std::string Line(const std::string& line) const { return std::regex_replace(line, std::regex("@"), dir_); }
    // Names in the test's folder that the test did not make: a dump's temporary files.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (entry.path().filename().string().starts_with(".")) names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST_F(CliFiles, OneFileInTwoRolesIsRefusedBeforeAnythingIsTouched) {
    auto device = Publish("cli-roles");
    const auto image = Pattern(0x20000, 5);
    Write(File("new.bin"), image);
    fs::create_hard_link(File("new.bin"), File("hard.bin"));
    fs::create_symlink(File("new.bin"), File("link.bin"));
    fs::create_directory(File("sub"));
    fs::create_symlink("later.bin", File("dangling.log"));  // names a file not created yet
    const struct {
        const char *line, *first, *second;
    } rows[] = {
        {"burn @/new.bin --backup @/new.bin", "the image", "the backup"},
        {"burn @/new.bin --backup @/hard.bin", "the image", "the backup"},
        {"burn @/new.bin --log @/link.bin", "the image", "the log"},
        {"verify @/new.bin --log @/sub/../new.bin", "the image", "the log"},
        {"dump @/out.bin --log @/./out.bin", "the dump file", "the log"},
        {"dump @/later.bin --log @/dangling.log", "the dump file", "the log"},
        {"burn @/new.bin --backup @/out.bin --log @/sub/../out.bin", "the backup", "the log"},
    };
    for (const auto& row : rows) {
        RunResult r = Run(Line(row.line));
        EXPECT_EQ(r.code, cli::kExitUsage) << row.line << ": " << r.text;
        EXPECT_TRUE(std::regex_search(r.doc["error"], std::regex(std::string("^") + row.first + " \\S+ and " + row.second +
                                                                 " \\S+ are the same file")))
            << row.line << ": " << r.doc["error"];
        EXPECT_EQ(r.doc.Kind("device"), '\0') << row.line << ": the device was opened";
    }
    EXPECT_TRUE(device->Log().empty());
    EXPECT_EQ(Read(File("new.bin")), image);
    for (const char* name : {"out.bin", "later.bin"}) EXPECT_FALSE(fs::exists(File(name))) << name;
}

// Forwards every transfer to the simulated device; `first` runs before the first of them
// (the first after Arm).
class FirstTransferHook final : public vhid::DeviceHandler {
public:
    FirstTransferHook(std::shared_ptr<sim::SimulatedDevice> device, std::function<void()> first)
        : device_(std::move(device)), first_(std::move(first)) {}
    void Arm(std::function<void()> first) { first_ = std::move(first); }
    DWORD OnOutputReport(std::span<const std::uint8_t> report) override { return Once().OnOutputReport(report); }
    DWORD OnInputRequest(std::uint8_t id, ULONG length, std::vector<std::uint8_t>& answer) override {
        return Once().OnInputRequest(id, length, answer);
    }

private:
    sim::SimulatedDevice& Once() {
        if (auto first = std::exchange(first_, nullptr)) first();
        return *device_;
    }
    std::shared_ptr<sim::SimulatedDevice> device_;
    std::function<void()> first_;
};

// The image file rewritten mid-run: the burn, its hash and its compare keep to the bytes read before.
TEST_F(CliFiles, ABurnWritesTheImageItReadNotTheFileAsItIsLater) {
    const auto image = Pattern(0x20000, 11), later = Pattern(0x20000, 99);
    Write(File("img.bin"), image);
    auto device = Publish("cli-once", 34, [&](auto simulated) {
        return std::make_shared<FirstTransferHook>(simulated, [&] { Write(File("img.bin"), later); });
    });

    RunResult r = Run(Line("burn @/img.bin"));
    EXPECT_EQ(r.code, cli::kExitOk) << r.text;
    ASSERT_EQ(Read(File("img.bin")), later);  // the file did change under the run
    auto flash = device->FlashContents();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "the flash holds a second read of the file";
    cli::Sha256 sha;
    sha.Update(image);
    EXPECT_EQ(r.doc["sha256"], sha.HexDigest());
    EXPECT_EQ(r.doc["verification"], "passed");
}

// A folder removed after the checks (here at Get ID): the dump says why with the system's words.
TEST_F(CliFiles, AFolderGoneBeforeTheDumpIsNamedWithTheSystemsReason) {
    Write(File("img.bin"), Pattern(0x20000, 51));
    std::shared_ptr<FirstTransferHook> hook;
    auto device = Publish("cli-gone", 34, [&](auto simulated) {
        return hook = std::make_shared<FirstTransferHook>(simulated, nullptr);
    });
    const auto before = device->FlashContents();
    const std::pair<const char*, const char*> rows[] = {
        {"dump @/gone/d.bin", "cannot create the dump file beside @/gone/d.bin: No such file or directory"},
        {"burn @/img.bin --backup @/gone/b.bin",
         "the backup dump failed, nothing was burned: cannot create the dump file beside @/gone/b.bin: No such file or "
         "directory"},
    };
    for (const auto& [line, error] : rows) {
        fs::create_directory(File("gone"));
        hook->Arm([&] { fs::remove_all(File("gone")); });
        RunResult r = Run(Line(line));
        EXPECT_EQ(r.code, cli::kExitFileError) << line << ": " << r.text;
        EXPECT_EQ(r.doc["error"], Line(error)) << line;
    }
    EXPECT_EQ(device->FlashContents(), before);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A dump or backup stopped midway keeps the old file and no temporary; one that completes replaces it.
TEST_F(CliFiles, AFailedDumpOrBackupLeavesTheOldFileAsItWas) {
    auto device = Publish("cli-atomic");
    Write(File("img.bin"), Pattern(0x20000, 21));
    const auto old = Pattern(5000, 0x77);
    const struct {
        const char* line;
        bool fullDisk;  // else an unplug
        int code;
    } rows[] = {
        {"dump @/prev.bin", false, cli::kExitDeviceError},
        {"dump @/prev.bin", true, cli::kExitFileError},
        {"burn @/img.bin --backup @/prev.bin", false, cli::kExitDeviceError},
        {"burn @/img.bin --backup @/prev.bin", true, cli::kExitFileError},
    };
    const auto flashBefore = device->FlashContents();
    for (const auto& row : rows) {
        Write(File("prev.bin"), old);
        device->ClearFaults();
        RunResult r;
        if (row.fullDisk) {
            testsupport::FileSizeLimit full(0x4000);  // the dump stops at 16 KiB of 256
            r = Run(Line(row.line));
        } else {
            device->UnplugAfter(12);  // Get ID, the dump's set-up, a few chunks
            r = Run(Line(row.line));
        }
        EXPECT_EQ(r.code, row.code) << row.line << (row.fullDisk ? " (full disk): " : " (unplug): ") << r.text;
        EXPECT_EQ(Read(File("prev.bin")), old) << row.line;
        EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << row.line;
        if (row.code == cli::kExitDeviceError && row.line[0] == 'b') {
            EXPECT_NE(r.doc["error"].find("the backup dump failed, nothing was burned"), std::string::npos) << r.doc["error"];
        }
    }
    device->ClearFaults();
    EXPECT_EQ(device->FlashContents(), flashBefore);  // no backup failed into a burn
    RunResult done = Run(Line("dump @/prev.bin"));
    EXPECT_EQ(done.code, cli::kExitOk) << done.text;
    EXPECT_EQ(Read(File("prev.bin")), flashBefore);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// The command's result is still reported; the log's failure is a file error or joins the command's.
TEST_F(CliFiles, ALogThatCannotBeWrittenIsAFileErrorReportedOnce) {
    Publish("cli-log");
    const std::vector<std::uint8_t> filled(4096, '#');
    const struct {
        const char* line;
        int code;
        const char* error;
    } rows[] = {
        {"id --log @/full.log", cli::kExitFileError, "cannot append to @/full.log: File too large"},
        {"id --pid 5a5c --vid 1209 --log @/full.log", cli::kExitNoDevice,
         "HID Device no found !; cannot append to @/full.log: File too large"},
    };
    for (const auto& row : rows) {
        Write(File("full.log"), filled);
        RunResult r;
        {
            testsupport::FileSizeLimit full(filled.size());
            r = Run(Line(row.line));
        }
        EXPECT_EQ(r.code, row.code) << row.line << ": " << r.text;
        EXPECT_EQ(r.doc["error"], Line(row.error)) << row.line;
        EXPECT_EQ(Read(File("full.log")), filled);
        if (row.code == cli::kExitFileError) {
            EXPECT_EQ(r.doc["flash.total_size"], "262144") << "the result is lost";
        }
    }
}

// Pipes, folders, sockets, device nodes and overlong paths are refused at once, before the device is opened.
TEST_F(CliFiles, PathsThatAreNoRegularFilesAreRefusedAtOnce) {
    auto device = Publish("cli-paths");
    Write(File("img.bin"), Pattern(0x20000, 31));
    ASSERT_EQ(mkfifo(File("fifo").c_str(), 0600), 0);
    fs::create_directory(File("folder"));
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", File("sock").c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::pair<const char*, const char*> rows[] = {
        {"dump @/fifo", "cannot write @/fifo: it is a FIFO (named pipe)"},
        {"burn @/img.bin --backup @/fifo", "cannot write @/fifo: it is a FIFO (named pipe)"},
        {"id --log @/fifo", "cannot write @/fifo: it is a FIFO (named pipe)"},
        {"burn @/fifo", "cannot read @/fifo: it is a FIFO (named pipe)"},
        {"dump @/folder", "cannot write @/folder: it is a directory"},
        {"verify @/sock", "cannot read @/sock: it is a socket"},
        {"dump /dev/null", "cannot write /dev/null: it is a character device"},
        {"id --log /dev/full", "cannot write /dev/full: it is a character device"},
        {"burn @/img.bin --backup @/missing/x.bin", "cannot write @/missing/x.bin: no folder @/missing (No such file or directory)"},
        {"dump @/img.bin/x.bin", "cannot write @/img.bin/x.bin: Not a directory"},
    };
    // Paths longer than the file slot holds.
    const std::string tooLong = dir_ + "/" + std::string(250, 'n');
    const std::string longer = "the path is too long (" + std::to_string(tooLong.size()) + " characters, at most 259)";
    std::vector<std::pair<std::string, std::string>> lines(std::begin(rows), std::end(rows));
    lines.emplace_back("dump " + tooLong, "cannot write " + tooLong + ": " + longer);
    lines.emplace_back("burn @/img.bin --backup " + tooLong, "cannot write " + tooLong + ": " + longer);
    lines.emplace_back("burn " + tooLong, "cannot read " + tooLong + ": " + longer);
    for (const auto& [line, error] : lines) {
        auto start = std::chrono::steady_clock::now();
        RunResult r = Run(Line(line));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << line;
        EXPECT_EQ(r.code, cli::kExitFileError) << line << ": " << r.text;
        EXPECT_EQ(r.doc["error"], Line(error)) << line;
        EXPECT_EQ(r.doc.Kind("device"), '\0') << line << ": the device was opened";
    }
    close(listener);
    EXPECT_TRUE(device->Log().empty());
}

// An Entire Flash image shorter than a sector is refused unless forced; under half the flash, warned about.
TEST_F(CliFiles, AShortEntireFlashImageIsRefusedOrWarnedAbout) {
    auto device = Publish("cli-short");  // 256 KiB of 64 KiB sectors
    Write(File("tiny.bin"), {0x42});
    Write(File("sector.bin"), Pattern(0x10000, 41));
    Write(File("half.bin"), Pattern(0x20000, 43));
    const auto before = device->FlashContents();
    RunResult refused = Run(Line("burn @/tiny.bin"));
    EXPECT_EQ(refused.code, cli::kExitRefused) << refused.text;
    EXPECT_EQ(refused.doc["error"],
              "the image (1 bytes) is shorter than one sector of the flash (65536 bytes); nothing was written "
              "(--force burns it anyway)");
    EXPECT_EQ(device->FlashContents(), before);

    const struct {
        const char* line;
        std::uint8_t first;
        bool warned;
    } rows[] = {{"burn @/tiny.bin --force", 0x42, true}, {"burn @/sector.bin", Pattern(1, 41)[0], true},
                {"burn @/half.bin", Pattern(1, 43)[0], false}};
    for (const auto& row : rows) {
        RunResult r = Run(Line(row.line));
        EXPECT_EQ(r.code, cli::kExitOk) << row.line << ": " << r.text;
        EXPECT_EQ(device->FlashContents()[0], row.first) << row.line;
        EXPECT_EQ(r.doc.Kind("warnings") == 'a', row.warned) << row.line;
        if (row.warned) {
            EXPECT_NE(r.doc["warnings.0"].find("is less than half the flash (262144 bytes)"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace clitest
