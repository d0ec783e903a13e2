// The size and SHA-256 of a file as it lies on the disk, read back while it is written, so
// that a long dump's digest is ready with its last chunk.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <span>
#include <thread>
#include <vector>

#include "core/result.h"
#include "tools/cli/cli_checks.h"
#include "tools/cli/sha256.h"

namespace cli {

// Reads a file back from its start while another thread writes it, never past its end at
// the time, and hashes it: the hashing runs while the writer waits on its device. The file
// must only grow, each byte written once, as a dump's temporary file does.
// The SHA-256 of pieces of memory, one after the other, hashed on a thread that takes only
// the time nothing else wants (the caller waiting on its device), ready when asked for. The
// pieces must stay unchanged until Result or the destructor.
class IdleDigest {
public:
    explicit IdleDigest(std::vector<std::span<const std::uint8_t>> pieces);
    ~IdleDigest();  // an unasked digest is dropped
    IdleDigest(const IdleDigest&) = delete;
    IdleDigest& operator=(const IdleDigest&) = delete;
    // Waits for the digest (lower-case hex).
    std::string Result();

private:
    std::vector<std::span<const std::uint8_t>> pieces_;
    std::atomic<bool> dropped_{false};
    std::string digest_;
    std::thread thread_;  // last: it starts once the rest is made
};

class FollowingDigest {
public:
    FollowingDigest() = default;
    ~FollowingDigest();  // an unfinished digest is dropped
    FollowingDigest(const FollowingDigest&) = delete;
    FollowingDigest& operator=(const FollowingDigest&) = delete;

    // Opens `path` and starts reading it; false (nothing followed) when it cannot be opened.
    bool Start(const std::string& path);
    bool Following() const { return thread_.joinable(); }
    // The writer is done: reads to the file's end and answers its size and digest, or why not.
    core::Result<FileDigest> Finish();

private:
    void Follow();

    int fd_ = -1;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool written_ = false;  // under lock_: the writer is done
    bool dropped_ = false;  // under lock_: the digest is not wanted
    // The follower's own until it is joined:
    Sha256 sha_;
    std::uint64_t hashed_ = 0;
    int error_ = 0;
};

}  // namespace cli
