#include "platform/hid/hidraw_ioctl.h"

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace hidraw {

static_assert(kMaxIoctlReportLength == (1u << _IOC_SIZEBITS) - 1, "the ioctl size field is not 14 bits here");
static_assert(kMaxIoctlReportLength < kHidMaxBufferSize);
static_assert(kMaxDescriptorLength == HID_MAX_DESCRIPTOR_SIZE);

DWORD CheckIoctlLength(std::size_t length) {
    return length >= kMinReportLength && length <= kMaxIoctlReportLength ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

DWORD CheckWriteLength(std::size_t length) {
    return length >= kMinReportLength && length <= kHidMaxBufferSize ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

unsigned long ReportIoctl(ReportRequest request, std::size_t length) {
    auto size = static_cast<unsigned long>(std::min(length, kMaxIoctlReportLength));
    switch (request) {
    case ReportRequest::SetFeature: return HIDIOCSFEATURE(size);
    case ReportRequest::GetFeature: return HIDIOCGFEATURE(size);
    case ReportRequest::GetInput: return HIDIOCGINPUT(size);
    case ReportRequest::SetOutput: return HIDIOCSOUTPUT(size);
    }
    return 0;
}

std::size_t WireLength(std::uint8_t reportId, std::size_t ioctlLength) {
    if (ioctlLength == 0) return 0;
    return reportId == 0 ? ioctlLength - 1 : ioctlLength;
}

void MakeRequestBuffer(std::uint8_t reportId, std::size_t length, std::vector<std::uint8_t>& scratch) {
    scratch.assign(length, 0);
    if (!scratch.empty()) scratch[0] = reportId;
}

void TakeAnswer(std::span<const std::uint8_t> scratch, long returned, std::vector<std::uint8_t>& answer) {
    std::size_t count = returned <= 0 ? 0 : std::min(static_cast<std::size_t>(returned), scratch.size());
    answer.assign(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(count));
}

long AnswerLength(std::uint8_t reportId, long returned) {
    if (returned < 0) return 0;
    return reportId == 0 && returned == 0 ? 1 : returned;
}

bool SentWhole(long returned, std::size_t length) {
    return returned >= 0 && static_cast<std::size_t>(returned) == length;
}

DWORD TransferError(int err, bool nodeGone) {
    if (nodeGone) return ERROR_DEVICE_NOT_CONNECTED;
    switch (err) {
    case ENOENT:      // the endpoint was disabled under the request (a reset)
    case ECONNRESET:  // the request was unlinked
    case EPROTO:
    case EILSEQ:
    case ETIME:
    case EOVERFLOW:   // the device sent more than asked
    case EREMOTEIO: return ERROR_GEN_FAILURE;
    default: return Win32ErrorFromErrno(err);
    }
}

// ETIMEDOUT too: an unplug during a report request removes the node only after the
// request has run into the 5 s time-out, because the removal waits for it.
bool MayBeUnplug(int err) { return err == EPROTO || err == EILSEQ || err == ETIME || err == ETIMEDOUT; }

bool NodeGone(int fd, int waitMs) {
    pollfd entry{fd, 0, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        int ready = ::poll(&entry, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
        if (ready > 0) return (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (ready == 0 || errno != EINTR) return false;
    }
}

bool UsesReportIds(std::span<const std::uint8_t> descriptor) {
    constexpr std::uint8_t kReportIdTag = 0x84;  // global item Report ID, size bits cleared
    constexpr std::uint8_t kLongItem = 0xFE;
    std::size_t at = 0;
    while (at < descriptor.size()) {
        std::uint8_t prefix = descriptor[at];
        if (prefix == kLongItem) {
            if (at + 1 >= descriptor.size()) return false;
            at += 3 + std::size_t{descriptor[at + 1]};
            continue;
        }
        if ((prefix & 0xFC) == kReportIdTag) return true;
        static constexpr std::size_t kDataSize[4] = {0, 1, 2, 4};
        at += 1 + kDataSize[prefix & 0x03];
    }
    return false;
}

}  // namespace hidraw
