// The hidraw transport's rules for report requests: the kernel's length limits, the ioctl
// numbers, how a GET answer is taken from the buffer the kernel filled, and which errno
// values of a failed transfer mean a failed request, a stall or an unplug. Pure functions
// (NodeGone only polls the fd it is given), so they can be tested without a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/win/win_error.h"

namespace hidraw {

// The kernel refuses reports shorter than 2 bytes and longer than HID_MAX_BUFFER_SIZE.
inline constexpr std::size_t kMinReportLength = 2;
inline constexpr std::size_t kHidMaxBufferSize = 16384;
// The report ioctls carry the length in the size field of the ioctl number (14 bits on
// x86-64 and arm64). A larger length would spill into the direction bits and make a
// different request, so the ioctls stop at 16383 while write() may carry 16384.
inline constexpr std::size_t kMaxIoctlReportLength = 16383;
// HID_MAX_DESCRIPTOR_SIZE. HIDIOCGRDESC refuses a size above 4095, so only sysfs can
// deliver a descriptor of the full 4096 bytes.
inline constexpr std::size_t kMaxDescriptorLength = 4096;
inline constexpr std::size_t kMaxDescriptorIoctlLength = 4095;

// ERROR_SUCCESS when `length` may be passed to a report ioctl, else ERROR_INVALID_PARAMETER.
DWORD CheckIoctlLength(std::size_t length);
// The same for write(): 2 .. kHidMaxBufferSize.
DWORD CheckWriteLength(std::size_t length);

enum class ReportRequest { SetFeature, GetFeature, GetInput, SetOutput };
// The ioctl number of a report request of `length` bytes (a length CheckIoctlLength accepted).
unsigned long ReportIoctl(ReportRequest request, std::size_t length);

// wLength of the control transfer the kernel makes for an ioctl of `ioctlLength` bytes.
// For report number 0 the kernel strips the report-ID byte (GET: the data lands from
// byte 1, SET: byte 0 is not sent), so the wire carries one byte less; for a numbered
// report the whole length goes out. We pass the caller's requested length as the ioctl
// length in both cases: Windows strips the ID byte of an unnumbered report the same way.
std::size_t WireLength(std::uint8_t reportId, std::size_t ioctlLength);

// The buffer a GET ioctl receives into: `length` bytes (the requested length, which may be
// far larger than the caller's report buffer), byte 0 the report ID, the rest zero. The
// kernel may write up to `length` bytes, so a caller's buffer is never passed directly.
// Made in `scratch`, whose buffer a connection keeps from one request to the next.
void MakeRequestBuffer(std::uint8_t reportId, std::size_t length, std::vector<std::uint8_t>& scratch);

// The answer of a GET ioctl that returned `returned` (>= 0): the first min(returned,
// scratch size) bytes of the scratch buffer.
void TakeAnswer(std::span<const std::uint8_t> scratch, long returned, std::vector<std::uint8_t>& answer);

// How many bytes of the scratch buffer a GET ioctl filled. For report number 0 the kernel
// counts the ID byte only when the device sent data; the ID byte is there either way.
long AnswerLength(std::uint8_t reportId, long returned);

// Whether a write or output ioctl that returned `returned` sent the whole report.
bool SentWhole(long returned, std::size_t length);

// The error of a failed transfer, whose errno is a USB request block status, not a file
// system error: ENOENT (endpoint disabled, e.g. during a reset) and ECONNRESET (unlinked)
// are failed transfers; ENODEV and ESHUTDOWN an unplug; EPIPE a stall. On a node that has
// gone (`nodeGone`) every failure is an unplug: the URB status of a transfer cut off by the
// unplug depends on the host controller (EPROTO, EILSEQ, ETIME).
DWORD TransferError(int err, bool nodeGone);
// Whether `err` is a status an unplug in progress may leave, so the caller waits up to
// kUnplugSettleMs for the node to go before judging the failure.
bool MayBeUnplug(int err);
// Whether hidraw reports the node of `fd` gone (poll: POLLHUP or POLLERR), waiting up to
// `waitMs` for it: the node goes only after the failed transfer has returned.
bool NodeGone(int fd, int waitMs);
inline constexpr int kUnplugSettleMs = 1000;

// Whether a report descriptor declares report IDs (a Report ID global item). Without
// them read() delivers reports without the leading ID byte that ReadFile puts first.
bool UsesReportIds(std::span<const std::uint8_t> descriptor);

}  // namespace hidraw
