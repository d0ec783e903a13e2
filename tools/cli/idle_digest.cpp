#include "tools/cli/idle_digest.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>

#include "tools/cli/sha256.h"

namespace cli {

namespace {

constexpr std::size_t kPiece = 64 * 1024;  // the pieces between which a dropped digest stops

// Only the time nothing else wants: a transfer the device has answered goes on at once.
void TakeIdleTimeOnly() {
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
}

}  // namespace

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
    if (!thread_.joinable()) return digest_;
    // Asked for now: what is left is hashed at the caller's own priority, so that a machine
    // kept busy by others cannot starve it.
    const sched_param normal{};
    pthread_setschedparam(thread_.native_handle(), SCHED_OTHER, &normal);
    thread_.join();
    return digest_;
}

}  // namespace cli
