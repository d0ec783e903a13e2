#include "tools/cli/file_digest.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace cli {

namespace {

constexpr std::size_t kPiece = 64 * 1024;
// How often the follower looks for more while the writer is busy; a dump writes 64 KiB at a time.
constexpr std::chrono::milliseconds kLookEvery{5};

// Only the time nothing else wants: a transfer the device has answered goes on at once.
void TakeIdleTimeOnly() {
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
}

}  // namespace

FollowingDigest::~FollowingDigest() {
    {
        std::lock_guard guard(lock_);
        dropped_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

bool FollowingDigest::Start(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    thread_ = std::thread([this] { Follow(); });
    return true;
}

// Reads to the end of what is there, waits for more, and once the writer is done makes one
// more pass: `written_` is read before each pass, so the last pass sees every byte.
IdleDigest::IdleDigest(std::vector<std::span<const std::uint8_t>> pieces)
    : pieces_(std::move(pieces)), thread_([this] {
          TakeIdleTimeOnly();
          Sha256 sha;
          for (std::span<const std::uint8_t> piece : pieces_)
              for (std::size_t at = 0; at < piece.size(); at += kPiece) {
                  if (dropped_) return;
                  sha.Update(piece.subspan(at, std::min(kPiece, piece.size() - at)));
              }
          digest_ = sha.HexDigest();
      }) {}

IdleDigest::~IdleDigest() {
    dropped_ = true;
    if (thread_.joinable()) thread_.join();
}

std::string IdleDigest::Result() {
    if (thread_.joinable()) thread_.join();
    return digest_;
}

void FollowingDigest::Follow() {
    TakeIdleTimeOnly();
    std::vector<std::uint8_t> piece(kPiece);
    for (;;) {
        bool last = false;
        {
            std::lock_guard guard(lock_);
            if (dropped_) return;
            last = written_;
        }
        for (;;) {
            const ssize_t n = ::pread(fd_, piece.data(), piece.size(), static_cast<off_t>(hashed_));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error_ = errno;
                return;
            }
            if (n == 0) break;
            sha_.Update(std::span<const std::uint8_t>(piece.data(), static_cast<std::size_t>(n)));
            hashed_ += static_cast<std::uint64_t>(n);
        }
        if (last) return;
        std::unique_lock guard(lock_);
        wake_.wait_for(guard, kLookEvery, [this] { return written_ || dropped_; });
    }
}

core::Result<FileDigest> FollowingDigest::Finish() {
    if (!thread_.joinable()) return core::Error{0, "the dump file was not followed"};
    {
        std::lock_guard guard(lock_);
        written_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (error_ != 0) return core::Error{0, std::string("cannot read the dump back: ") + std::strerror(error_)};
    // Every byte of the file was hashed: it ends where the follower stopped.
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return core::Error{0, std::string("cannot read the dump back: ") + std::strerror(errno)};
    if (static_cast<std::uint64_t>(st.st_size) != hashed_)
        return core::Error{0, "the dump file changed while it was read back"};
    return FileDigest{hashed_, sha_.HexDigest()};
}

}  // namespace cli
