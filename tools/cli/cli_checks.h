// What the command line checks before a device is touched or a byte is written: the files
// a command reads and writes, that no file serves two of them, the log, and an Entire
// Flash image much shorter than the flash. Every check answers at once: nothing here
// opens a path in a way that could block (a pipe without its other end).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"
#include "platform/win/win_types.h"
#include "tools/cli/cli_options.h"

namespace cli {

class ConsoleReporter;

// The files of `o`, checked before the device is opened: the image of burn, verify and
// station read whole into `image` (from standard input for "-"), and the dump file and the
// backup checked as outputs. An error says why one cannot serve.
core::Status PrepareFiles(const Options& o, std::vector<std::uint8_t>& image);

// The whole of a regular file, or why not, with the OS error.
core::Result<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path);

// The size and SHA-256 of a regular file, read in pieces (no copy of it is held), or why
// not, with the OS error.
struct FileDigest {
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
};
core::Result<FileDigest> HashRegularFile(const std::string& path);

// An image on standard input ("-"), read to its end; refused when standard input is a
// terminal (the run would wait for typing) or holds more than any flash.
inline constexpr std::size_t kMaxStandardInputImage = std::size_t{64} << 20;
core::Result<std::vector<std::uint8_t>> ReadStandardInput();

// A private folder (mode 0700) under $TMPDIR or /tmp, removed with what it holds when the
// object ends. A dump to standard output is made complete there first; an image from
// standard input is kept there for the flash programmer's file slot, which holds a file.
class TemporaryFolder {
public:
    TemporaryFolder() = default;
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    core::Status Create();
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` to a new file of the folder; answers its path.
    core::Result<std::string> Keep(const std::string& name, std::span<const std::uint8_t> bytes);

private:
    std::string path_;
};

// A file the command writes: an existing regular file the user may write, or a name not
// taken yet in a folder the user may write. `replaced`: the file is written beside and
// renamed over (a dump, a backup), so its folder must be writable too. An error says why
// it cannot be written.
core::Status CheckOutputFile(const std::string& path, bool replaced);

// The image, backup, dump file and log of `o`, pairwise: one file when they are the same
// existing file (device and inode: hard links, symbolic links and other spellings of it),
// or the same name in the same resolved folder for those not created yet. An error names
// both roles.
core::Status SameFileInTwoRoles(const Options& o);

// Opens the log for appending, checked as an output first, or says why it cannot be.
core::Result<std::FILE*> OpenLog(const std::string& path);

// An Entire Flash image of `imageSize` bytes on a flash of `flashSize` bytes: refused
// (status 6) when shorter than one sector unless `force`; a warning when shorter than half
// the flash. Answers whether the burn may go on.
bool AcceptImageLength(ConsoleReporter& console, std::size_t imageSize, ULONG sectorSize, ULONG flashSize, bool force);

}  // namespace cli
