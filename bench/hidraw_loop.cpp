// The bare loop the guest's benchmark sets uvc-hid against: the hidraw calls of a dump or
// of an Entire Flash burn with its read-back, one after the other (the same calls the tool
// makes on the node), nothing around them.
// The simulator's default reports are assumed (the guest's device is the simulator).
//
//   uvc_hidraw_loop dump BYTES NODE [FILE]   a read burst of BYTES from address 0; with FILE,
//                                            what it reads is stored there as a dump stores
//                                            it: 64 KiB at a time, synced at the end
//   uvc_hidraw_loop burn IMAGE NODE          a write burst of IMAGE, then its read-back, compared
//
// Prints the count of flash data reports and the microseconds from the first frame to the
// last report, the span the tool's log brackets with its start and finish lines.
// Exit status 0 when every call moved its whole report (and the read-back matched).
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench/burst_frames.h"
#include "platform/hid/hidraw_ioctl.h"
#include "sim/config.h"

namespace {

const sim::Config kConfig;
const sim::ReportConfig& kDataOut = kConfig.output[static_cast<std::size_t>(sim::ReportKind::FlashData)];
const sim::ReportConfig& kDataIn = kConfig.input[static_cast<std::size_t>(sim::ReportKind::FlashData)];
constexpr std::size_t kDataOffset = 4;  // a flash data output report: ID, three zero bytes, the data

int node = -1;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "uvc_hidraw_loop: %s\n", what.c_str());
    std::exit(1);
}

// As the tool does before each SET_REPORT: a look, without waiting, for input reports the
// kernel queued (none come here), so that none is taken later for an answer.
void LookForQueuedInput() {
    pollfd entry{node, POLLIN, 0};
    if (::poll(&entry, 1, 0) != 0) Fail("input reports were queued, or the look failed");
}

void Set(std::vector<std::uint8_t>& report) {
    LookForQueuedInput();
    const int sent = ::ioctl(node, hidraw::ReportIoctl(hidraw::ReportRequest::SetOutput, report.size()), report.data());
    if (sent != static_cast<int>(report.size())) Fail(std::string("SET_REPORT failed: ") + std::strerror(errno));
}

void Get(std::vector<std::uint8_t>& report) {
    report[0] = kDataIn.id;
    const int got = ::ioctl(node, hidraw::ReportIoctl(hidraw::ReportRequest::GetInput, report.size()), report.data());
    if (got != static_cast<int>(report.size())) Fail(std::string("GET_REPORT failed: ") + std::strerror(errno));
}

void Announce(std::uint32_t length) {
    for (std::vector<std::uint8_t>& frame : benchsupport::BurstFrames(length)) Set(frame);
}

std::vector<std::uint8_t> ReadImage(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) Fail(std::string("cannot read ") + path + ": " + std::strerror(errno));
    std::vector<std::uint8_t> image;
    std::uint8_t block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) image.insert(image.end(), block, block + n);
    std::fclose(file);
    return image;
}

// The least a dump does with what it reads: gathered, written 64 KiB at a time, synced.
class StoredFile {
public:
    explicit StoredFile(const char* path) : path_(path) {
        fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) Fail(std::string("cannot create ") + path + ": " + std::strerror(errno));
        staged_.reserve(kStep);
    }
    void Add(const std::uint8_t* data, std::size_t length) {
        staged_.insert(staged_.end(), data, data + length);
        if (staged_.size() >= kStep) Write();
    }
    void Finish() {
        Write();
        if (::fsync(fd_) != 0 || ::close(fd_) != 0) Fail(std::string("cannot store ") + path_ + ": " + std::strerror(errno));
    }

private:
    static constexpr std::size_t kStep = 64 * 1024;
    void Write() {
        for (std::size_t at = 0; at < staged_.size();) {
            const ssize_t n = ::write(fd_, staged_.data() + at, staged_.size() - at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail(std::string("cannot store ") + path_ + ": " + std::strerror(errno));
            at += static_cast<std::size_t>(n);
        }
        staged_.clear();
    }
    const char* path_;
    int fd_;
    std::vector<std::uint8_t> staged_;
};

}  // namespace

int main(int argc, char** argv) {
    const bool burn = argc == 4 && std::strcmp(argv[1], "burn") == 0;
    if (!burn && !((argc == 4 || argc == 5) && std::strcmp(argv[1], "dump") == 0)) {
        std::fprintf(stderr, "usage: uvc_hidraw_loop dump BYTES NODE [FILE] | burn IMAGE NODE\n");
        return 2;
    }
    const std::vector<std::uint8_t> image = burn ? ReadImage(argv[2]) : std::vector<std::uint8_t>();
    const auto total = static_cast<std::uint32_t>(burn ? image.size() : std::strtoul(argv[2], nullptr, 0));
    node = ::open(argv[3], O_RDWR | O_CLOEXEC);
    if (node < 0) Fail(std::string("cannot open ") + argv[3] + ": " + std::strerror(errno));

    std::optional<StoredFile> stored;
    if (argc == 5) stored.emplace(argv[4]);
    std::size_t reports = 0;
    const auto start = std::chrono::steady_clock::now();
    if (burn) {
        const std::size_t chunk = std::size_t{kDataOut.count} + 1 - kDataOffset;
        std::vector<std::uint8_t> report(std::size_t{kDataOut.count} + 1);
        Announce(total);
        for (std::size_t at = 0; at < total; at += chunk, ++reports) {
            const std::size_t length = std::min<std::size_t>(chunk, total - at);
            std::fill(report.begin(), report.end(), 0);
            report[0] = kDataOut.id;
            std::memcpy(report.data() + kDataOffset, image.data() + at, length);
            Set(report);
        }
    }
    const std::size_t chunk = kDataIn.count;
    std::vector<std::uint8_t> report(std::size_t{kDataIn.count} + 1);
    Announce(total);
    for (std::size_t at = 0; at < total; at += chunk, ++reports) {
        Get(report);
        const std::size_t length = std::min<std::size_t>(chunk, total - at);
        // The device answers the data from the report's first byte.
        if (burn && std::memcmp(report.data(), image.data() + at, length) != 0)
            Fail("the read-back differs at " + std::to_string(at));
        if (stored) stored->Add(report.data(), length);
    }
    if (stored) stored->Finish();
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::printf("%zu flash data reports in %lld us\n", reports, static_cast<long long>(took.count()));
    ::close(node);
    return 0;
}
