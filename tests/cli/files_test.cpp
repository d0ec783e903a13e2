// The files of a command: roles, the image read once, atomic dumps and backups, the log, non-regular paths.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>

#include "tests/cli/cli_fixture.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/signaling_sim.h"
#include "tools/cli/exit_codes.h"

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

// One file in two roles, and pipes, folders, sockets, device nodes and overlong paths, are
// refused at once, before the device is opened.
TEST_F(CliFiles, UnfitPathsAreRefusedBeforeAnythingIsTouched) {
    auto device = Publish("cli-paths");
    const auto image = Pattern(0x20000, 5);
    Write(File("img.bin"), image);
    fs::create_hard_link(File("img.bin"), File("hard.bin"));
    fs::create_symlink(File("img.bin"), File("link.bin"));
    fs::create_directory(File("sub"));
    fs::create_symlink("later.bin", File("dangling.log"));  // names a file not created yet
    ASSERT_EQ(mkfifo(File("fifo").c_str(), 0600), 0);
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", File("sock").c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    auto same = [](const std::string& first, const std::string& second) {
        return "the " + first + " \\S+ and the " + second + " \\S+ are the same file; each needs a file of its own";
    };
    const std::string fifo = "it is a FIFO \\(named pipe\\)", tooLong = dir_ + "/" + std::string(250, 'n'),
                      longer = ": the path is too long \\(" + std::to_string(tooLong.size()) + " characters, at most 259\\)";
    const std::vector<std::tuple<std::string, int, std::string>> rows = {
        {"burn @/img.bin --backup @/hard.bin", cli::kExitUsage, same("image", "backup")},
        {"burn @/img.bin --log @/link.bin", cli::kExitUsage, same("image", "log")},
        {"dump @/later.bin --log @/dangling.log", cli::kExitUsage, same("dump file", "log")},
        {"burn @/img.bin --backup @/out.bin --log @/sub/../out.bin", cli::kExitUsage, same("backup", "log")},
        {"dump @/fifo", cli::kExitFileError, "cannot write @/fifo: " + fifo},
        {"burn @/fifo", cli::kExitFileError, "cannot read @/fifo: " + fifo},
        {"dump @/sub", cli::kExitFileError, "cannot write @/sub: it is a directory"},
        {"verify @/sock", cli::kExitFileError, "cannot read @/sock: it is a socket"},
        {"id --log /dev/full", cli::kExitFileError, "cannot write /dev/full: it is a character device"},
        {"burn @/img.bin --backup @/missing/x.bin", cli::kExitFileError,
         "cannot write @/missing/x.bin: no folder @/missing \\(No such file or directory\\)"},
        {"dump @/img.bin/x.bin", cli::kExitFileError, "cannot write @/img.bin/x.bin: Not a directory"},
        {"dump " + tooLong, cli::kExitFileError, "cannot write " + tooLong + longer},
        {"burn @/img.bin --backup " + tooLong, cli::kExitFileError, "cannot write " + tooLong + longer},
        {"burn " + tooLong, cli::kExitFileError, "cannot read " + tooLong + longer},
    };
    for (const auto& [line, code, error] : rows) {
        SCOPED_TRACE(line);
        auto start = std::chrono::steady_clock::now();
        RunResult r = Run(Line(line));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(r.code, code) << r.text;
        EXPECT_TRUE(std::regex_match(r.doc["error"], std::regex(Line(error)))) << r.doc["error"];
        EXPECT_EQ(r.doc.Kind("device"), '\0') << "the device was opened";
    }
    close(listener);
    EXPECT_TRUE(device->Log().empty());
    EXPECT_EQ(Read(File("img.bin")), image);
    for (const char* name : {"out.bin", "later.bin"}) EXPECT_FALSE(fs::exists(File(name))) << name;
}

// Files changed under a run after its checks: the image rewritten keeps the burn, its hash and
// its compare to the bytes read before; a folder removed has the dump say why with the
// system's words, and the flash is left as it was.
TEST_F(CliFiles, FilesChangedAfterTheChecksAreTakenAsTheyWere) {
    const auto image = Pattern(0x20000, 11), later = Pattern(0x20000, 99);
    Write(File("img.bin"), image);
    std::shared_ptr<testsupport::SignalingSim> hook;
    auto device = Publish("cli-once", 34, [&](auto simulated) { return hook = std::make_shared<testsupport::SignalingSim>(simulated); });
    hook->beforeNext = [&] { Write(File("img.bin"), later); };
    RunResult r = Run(Line("burn @/img.bin"));
    EXPECT_EQ(r.code, cli::kExitOk) << r.text;
    ASSERT_EQ(Read(File("img.bin")), later);  // the file did change under the run
    EXPECT_TRUE(std::equal(image.begin(), image.end(), device->FlashContents().begin())) << "the flash holds a second read";
    EXPECT_EQ(r.doc["sha256"] + " " + r.doc["verification"], Sha256Of(image) + " passed");

    const auto before = device->FlashContents();
    const std::string gone = ": cannot create the dump file beside @/gone/";
    for (const auto& [line, error] : {std::pair{"dump @/gone/d.bin", gone.substr(2) + "d.bin: No such file or directory"},
                                      {"burn @/img.bin --backup @/gone/b.bin",
                                       "the backup dump failed, nothing was burned" + gone + "b.bin: No such file or directory"}}) {
        fs::create_directory(File("gone"));
        hook->beforeNext = [&] { fs::remove_all(File("gone")); };  // at Get ID
        RunResult failed = Run(Line(line));
        EXPECT_EQ(failed.code, cli::kExitFileError) << line << ": " << failed.text;
        EXPECT_EQ(failed.doc["error"], Line(error)) << line;
    }
    EXPECT_EQ(device->FlashContents(), before);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A dump or backup stopped midway (an unplug, a full disk) keeps the old file and no
// temporary, and burns nothing; one that completes replaces it.
TEST_F(CliFiles, AFailedDumpOrBackupLeavesTheOldFileAsItWas) {
    auto device = Publish("cli-atomic");
    Write(File("img.bin"), Pattern(0x20000, 21));
    const auto old = Pattern(5000, 0x77), flashBefore = device->FlashContents();
    for (const char* line : {"dump @/prev.bin", "burn @/img.bin --backup @/prev.bin"})
        for (const bool fullDisk : {false, true}) {
            SCOPED_TRACE(line + std::string(fullDisk ? " (full disk)" : " (unplug)"));
            Write(File("prev.bin"), old);
            device->ClearFaults();
            RunResult r;
            if (fullDisk) {
                testsupport::FileSizeLimit full(0x4000);  // the dump stops at 16 KiB of 256
                r = Run(Line(line));
            } else {
                device->UnplugAfter(12);  // Get ID, the dump's set-up, a few chunks
                r = Run(Line(line));
            }
            EXPECT_EQ(r.code, fullDisk ? cli::kExitFileError : cli::kExitDeviceError) << r.text;
            EXPECT_EQ(Read(File("prev.bin")), old);
            EXPECT_EQ(Leftovers(), std::vector<std::string>{});
            if (!fullDisk && line[0] == 'b') {
                EXPECT_NE(r.doc["error"].find("the backup dump failed, nothing was burned"), std::string::npos) << r.doc["error"];
            }
        }
    device->ClearFaults();
    EXPECT_EQ(device->FlashContents(), flashBefore);  // no backup failed into a burn
    EXPECT_EQ(Run(Line("dump @/prev.bin")).code, cli::kExitOk);
    EXPECT_EQ(Read(File("prev.bin")), flashBefore);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// The command's result is still reported; the log's failure is a file error or joins the command's.
TEST_F(CliFiles, ALogThatCannotBeWrittenIsAFileErrorReportedOnce) {
    Publish("cli-log");
    const std::vector<std::uint8_t> filled(4096, '#');
    const std::string full = "cannot append to @/full.log: File too large";
    for (const auto& [line, code, error] :
         {std::tuple{"id --log @/full.log", cli::kExitFileError, full},
          {"id --pid 5a5c --vid 1209 --log @/full.log", cli::kExitNoDevice, "HID Device no found !; " + full}}) {
        Write(File("full.log"), filled);
        RunResult r;
        {
            testsupport::FileSizeLimit limit(filled.size());
            r = Run(Line(line));
        }
        EXPECT_EQ(r.code, code) << line << ": " << r.text;
        EXPECT_EQ(r.doc["error"], Line(error)) << line;
        EXPECT_EQ(Read(File("full.log")), filled);
        EXPECT_EQ(r.doc["flash.total_size"], code == cli::kExitFileError ? "262144" : "<flash.total_size missing>")
            << "the result is lost";
    }
}

// An Entire Flash image shorter than a sector is refused unless forced; under half the flash, warned about.
TEST_F(CliFiles, AShortEntireFlashImageIsRefusedOrWarnedAbout) {
    auto device = Publish("cli-short");  // 256 KiB of 64 KiB sectors
    Write(File("tiny.bin"), {0x42});
    const auto before = device->FlashContents();
    RunResult refused = Run(Line("burn @/tiny.bin"));
    EXPECT_EQ(refused.code, cli::kExitRefused) << refused.text;
    EXPECT_EQ(refused.doc["error"], "the image (1 bytes) is shorter than one sector of the flash (65536 bytes); nothing "
                                    "was written (--force burns it anyway)");
    EXPECT_EQ(device->FlashContents(), before);
    Write(File("sector.bin"), Pattern(0x10000, 41));
    Write(File("half.bin"), Pattern(0x20000, 43));
    for (const auto& [line, first, warned] : {std::tuple{"burn @/tiny.bin --force", 0x42, true},
                                              {"burn @/sector.bin", Pattern(1, 41)[0], true},
                                              {"burn @/half.bin", Pattern(1, 43)[0], false}}) {
        RunResult r = Run(Line(line));
        EXPECT_EQ(r.code, cli::kExitOk) << line << ": " << r.text;
        EXPECT_EQ(device->FlashContents()[0], first) << line;
        EXPECT_EQ(r.doc.Kind("warnings") == 'a', warned) << line;
        EXPECT_EQ(r.doc["warnings.0"].find("is less than half the flash (262144 bytes)") != std::string::npos, warned) << line;
    }
}

}  // namespace
}  // namespace clitest
