// A digest hashed while the caller waits on its device.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace cli {

// The SHA-256 of pieces of memory, one after the other, hashed on a thread that takes only
// the time nothing else wants (the caller waiting on its device), ready when asked for. The
// pieces must stay unchanged until Result or the destructor.
class IdleDigest {
public:
    explicit IdleDigest(std::vector<std::span<const std::uint8_t>> pieces);
    ~IdleDigest();  // an unasked digest is dropped
    IdleDigest(const IdleDigest&) = delete;
    IdleDigest& operator=(const IdleDigest&) = delete;
    // Waits for the digest (lower-case hex); the rest of the hashing runs at normal priority.
    std::string Result();

private:
    std::vector<std::span<const std::uint8_t>> pieces_;
    std::atomic<bool> dropped_{false};
    std::string digest_;
    std::thread thread_;  // last: it starts once the rest is made
};

}  // namespace cli
