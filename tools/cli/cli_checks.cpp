#include "tools/cli/cli_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>

#include "flash/flash_programmer.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/sha256.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

std::string Reason(int error) { return std::strerror(error); }

// A refusal the message alone tells.
core::Error Refused(std::string message) { return {0, std::move(message)}; }

// What a path that is not a regular file is, for the refusal.
std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a directory";
    if (S_ISFIFO(mode)) return "it is a FIFO (named pipe)";
    if (S_ISSOCK(mode)) return "it is a socket";
    if (S_ISCHR(mode)) return "it is a character device";
    if (S_ISBLK(mode)) return "it is a block device";
    return "it is not a regular file";
}

fs::path FolderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

// Reads an open regular file to its end, handing `take` each piece as it comes. `size`,
// if given, holds the file's size before the first piece and the bytes read at the end.
core::Status ReadPieces(int fd, const std::string& path, const std::function<void(std::span<const std::uint8_t>)>& take,
                        std::uint64_t* size = nullptr) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Refused("cannot read " + path + ": " + Reason(errno));
    if (!S_ISREG(st.st_mode)) return Refused("cannot read " + path + ": " + KindOf(st.st_mode));
    if (static_cast<std::uint64_t>(st.st_size) >= 0xFFFFFFFFu) return Refused(path + " is larger than 4 GiB");
    if (size != nullptr) *size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t total = 0;
    std::uint8_t chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Refused("cannot read " + path + ": " + Reason(errno));
        if (n == 0) break;
        take(std::span<const std::uint8_t>(chunk, static_cast<std::size_t>(n)));
        total += static_cast<std::uint64_t>(n);
        if (total >= 0xFFFFFFFFu) return Refused(path + " is larger than 4 GiB");  // it grew while read
    }
    if (size != nullptr) *size = total;
    return core::Ok();
}

// Opens a regular file to read without blocking (another file may have taken its name
// since it was checked: the open of a FIFO returns at once) and reads it in pieces.
core::Status ReadRegularPieces(const std::string& path, const std::function<void(std::span<const std::uint8_t>)>& take,
                               std::uint64_t* size = nullptr) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Refused("cannot read " + path + ": " + Reason(errno));
    if (!S_ISREG(st.st_mode)) return Refused("cannot read " + path + ": " + KindOf(st.st_mode));
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Refused("cannot read " + path + ": " + Reason(errno));
    core::Status read = ReadPieces(fd, path, take, size);
    ::close(fd);
    return read;
}

// Who a file is: device and inode when it exists; else its resolved folder and name.
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string where;
    bool operator==(const Identity& other) const {
        return exists == other.exists &&
               (exists ? device == other.device && inode == other.inode : where == other.where);
    }
};

// The file slot of the flash programmer holds paths of fewer than 260 UTF-16 characters.
constexpr std::size_t kSlotPathChars = 259;

// A path the file slot cannot hold is refused before the device is opened.
core::Status CheckSlotPath(const std::string& path, const char* verb) {
    const std::size_t length = Utf8ToUtf16(path).size();
    if (length <= kSlotPathChars) return core::Ok();
    return Refused(std::string("cannot ") + verb + " " + path + ": the path is too long (" + std::to_string(length) +
           " characters, at most " + std::to_string(kSlotPathChars) + ")");
}

Identity IdentityOf(const std::string& path) {
    Identity id;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    fs::path target = FollowSymlinks(path);
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(fs::absolute(FolderOf(target), ec), ec);
    id.where = (folder / target.filename()).lexically_normal().string();
    return id;
}

}  // namespace

core::Status PrepareFiles(const Options& o, std::vector<std::uint8_t>& image) {
    const bool standard = o.file == kStandardStream;
    if (o.command == Command::Burn && !standard)
        if (core::Status checked = CheckSlotPath(o.file, "read"); !checked) return checked;
    if (o.command == Command::Burn || o.command == Command::Verify || o.command == Command::Station) {
        core::Result<std::vector<std::uint8_t>> read = standard ? ReadStandardInput() : ReadRegularFile(o.file);
        if (!read) return read.error();
        image = std::move(read.value());
    }
    if (o.command == Command::Dump && !standard) {
        if (core::Status checked = CheckSlotPath(o.file, "write"); !checked) return checked;
        if (core::Status checked = CheckOutputFile(o.file, true); !checked) return checked;
    }
    if (!o.backup.empty()) {
        if (core::Status checked = CheckSlotPath(o.backup, "write"); !checked) return checked;
        if (core::Status checked = CheckOutputFile(o.backup, true); !checked) return checked;
    }
    return core::Ok();
}

core::Result<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
    core::Status read = ReadRegularPieces(
        path,
        [&](std::span<const std::uint8_t> piece) {
            if (bytes.empty()) bytes.reserve(static_cast<std::size_t>(size));  // one allocation, as a rule
            bytes.insert(bytes.end(), piece.begin(), piece.end());
        },
        &size);
    if (!read) return read.error();
    return bytes;
}

core::Result<FileDigest> HashRegularFile(const std::string& path) {
    Sha256 sha;
    FileDigest digest;
    core::Status read = ReadRegularPieces(path, [&](std::span<const std::uint8_t> piece) { sha.Update(piece); },
                                          &digest.size);
    if (!read) return read.error();
    digest.sha256 = sha.HexDigest();
    return digest;
}

core::Result<std::vector<std::uint8_t>> ReadStandardInput() {
    const std::string what = "cannot read the image from standard input: ";
    if (::isatty(STDIN_FILENO)) return Refused(what + "it is a terminal (pipe the image in, or name its file)");
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    // A pipe hands over what its writer has written so far: read on to its end.
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Refused(what + Reason(errno));
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > kMaxStandardInputImage)
            return Refused(what + "it holds more than " + std::to_string(kMaxStandardInputImage >> 20) +
                           " MiB, more than any flash");
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

TemporaryFolder::~TemporaryFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

core::Status TemporaryFolder::Create() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/uvc-hid-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return Refused("cannot create a folder in " + pattern + ": " + Reason(errno));
    path_ = pattern;
    return core::Ok();
}

core::Result<std::string> TemporaryFolder::Keep(const std::string& name, std::span<const std::uint8_t> bytes) {
    const std::string path = File(name);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return Refused("cannot write " + path + ": " + Reason(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const int error = done < bytes.size() ? (errno ? errno : ENOSPC) : 0;
    ::close(fd);
    if (error != 0) return Refused("cannot write " + path + ": " + Reason(error));
    return path;
}

core::Status CheckOutputFile(const std::string& path, bool replaced) {
    const std::string prefix = "cannot write " + path + ": ";
    const fs::path target = FollowSymlinks(path);
    const fs::path folder = FolderOf(target);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return Refused(prefix + KindOf(st.st_mode));
        if (::access(target.c_str(), W_OK) != 0) return Refused(prefix + Reason(errno));
        if (replaced && ::access(folder.c_str(), W_OK) != 0)
            return Refused(prefix + "folder " + folder.string() + ": " + Reason(errno));
        return core::Ok();
    }
    if (errno != ENOENT) return Refused(prefix + Reason(errno));
    if (::stat(folder.c_str(), &st) != 0)
        return Refused(prefix + "no folder " + folder.string() + " (" + Reason(errno) + ")");
    if (!S_ISDIR(st.st_mode)) return Refused(prefix + folder.string() + " is not a folder");
    if (::access(folder.c_str(), W_OK) != 0) return Refused(prefix + "folder " + folder.string() + ": " + Reason(errno));
    return core::Ok();
}

core::Status SameFileInTwoRoles(const Options& o) {
    std::vector<std::pair<std::string, std::string>> roles;  // role, path
    const bool image = o.command == Command::Burn || o.command == Command::Verify || o.command == Command::Station;
    // Standard input and output are no files of these roles.
    if (o.file != kStandardStream) {
        if (image) roles.emplace_back("the image", o.file);
        if (o.command == Command::Dump) roles.emplace_back("the dump file", o.file);
    }
    if (!o.backup.empty()) roles.emplace_back("the backup", o.backup);
    if (!o.log.empty()) roles.emplace_back("the log", o.log);
    std::vector<Identity> ids;
    for (const auto& role : roles) ids.push_back(IdentityOf(role.second));
    for (std::size_t i = 0; i < roles.size(); ++i)
        for (std::size_t j = i + 1; j < roles.size(); ++j)
            if (ids[i] == ids[j])
                return Refused(roles[i].first + " " + roles[i].second + " and " + roles[j].first + " " +
                               roles[j].second + " are the same file; each needs a file of its own");
    return core::Ok();
}

core::Result<std::FILE*> OpenLog(const std::string& path) {
    if (core::Status checked = CheckOutputFile(path, false); !checked) return checked.error();
    const std::string prefix = "cannot append to " + path + ": ";
    // Non-blocking, so that a FIFO put in its place since the check fails instead of waiting.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return Refused(prefix + Reason(errno));
    struct stat st {};
    std::FILE* log = nullptr;
    std::string error;
    if (::fstat(fd, &st) != 0) error = prefix + Reason(errno);
    else if (!S_ISREG(st.st_mode)) error = prefix + KindOf(st.st_mode);
    else if (int flags = ::fcntl(fd, F_GETFL); flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
                                                (log = ::fdopen(fd, "a")) == nullptr)
        error = prefix + Reason(errno);
    if (log != nullptr) return log;
    ::close(fd);
    return Refused(error);
}

bool AcceptImageLength(ConsoleReporter& console, std::size_t imageSize, ULONG sectorSize, ULONG flashSize, bool force) {
    const std::string size = "the image (" + std::to_string(imageSize) + " bytes)";
    if (imageSize < sectorSize && !force) {
        console.Fail(kExitRefused, size + " is shorter than one sector of the flash (" + std::to_string(sectorSize) +
                                       " bytes); nothing was written (--force burns it anyway)");
        return false;
    }
    if (imageSize < flashSize / 2)
        console.Warn(size + " is less than half the flash (" + std::to_string(flashSize) +
                     " bytes); an Entire Flash burn writes only the image's bytes from address 0");
    return true;
}


}  // namespace cli
