// The size and SHA-256 of a file as it lies on the disk, read back while it is written, so
// that a long dump's digest is ready with its last chunk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/result.h"
#include "tools/cli/cli_checks.h"
#include "tools/cli/sha256.h"

namespace cli {

// Reads a file back from its start while another thread writes it, never past its end at
// the time, and hashes it: the hashing runs while the writer waits on its device. The file
// must only grow, each byte written once, as a dump's temporary file does.
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
