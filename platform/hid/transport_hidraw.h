// The Linux hidraw transport. Interfaces are found by a scan of sysfs (the hidraw class
// directory), opened through their /dev/hidrawN nodes, and served by the hidraw ioctls
// (HIDIOCSOUTPUT, HIDIOCGINPUT, HIDIOCSFEATURE, HIDIOCGFEATURE) and read()/write().
// Every Connection member answers a Win32 error number, through Win32ErrorFromErrno.
//
// The pieces that need no kernel device (length limits, the answer copy rule, uevent
// and attribute parsing, node order, endpoint detection, sysfs strings) are free
// functions here, so they can be tested against a fake sysfs tree.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid/hid_transport.h"

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
// How long ReadReport waits for an input report. ReadFile on Windows would block until
// one arrives; we wait as long as the kernel waits for a control transfer, so a silent
// device can never hang the tool.
inline constexpr int kReadTimeoutMs = 5000;
// FlushQueue, and the drain before each output or SET_REPORT(Feature) request (so that an
// answer read afterwards is never one queued before the request), read at most this many
// queued reports (the kernel queues 64 per open file), so a device that keeps sending
// cannot keep them busy forever.
inline constexpr int kMaxFlushReads = 256;

// Where the scan looks. Empty restores the defaults "/sys/class/hidraw" and "/dev".
void SetSysfsRootForTesting(std::string root);
void SetDevRootForTesting(std::string root);
// Makes every open of the node `node` (a /dev path) fail with errno `err`, as the system
// refuses a node this user may not open, which a test run as root cannot make otherwise.
// An empty node ends it.
void SetOpenErrorForTesting(std::string node, int err);
std::string SysfsRoot();
std::string DevRoot();

// ---- Transfers ------------------------------------------------------------------------

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
std::vector<std::uint8_t> MakeRequestBuffer(std::uint8_t reportId, std::size_t length);

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
// Whether `err` is a URB status an unplug in progress may leave.
bool MayBeUnplug(int err);
// Whether hidraw reports the node of `fd` gone (poll: POLLHUP or POLLERR), waiting up to
// `waitMs` for it: the node goes only after the failed transfer has returned.
bool NodeGone(int fd, int waitMs);
inline constexpr int kUnplugSettleMs = 1000;

// Whether a report descriptor declares report IDs (a Report ID global item). Without
// them read() delivers reports without the leading ID byte that ReadFile puts first.
bool UsesReportIds(std::span<const std::uint8_t> descriptor);

// ---- sysfs ----------------------------------------------------------------------------

// 12 for "hidraw12"; nothing for other names.
std::optional<unsigned> NodeNumber(std::string_view name);
// The hidraw node names among `names`, in node-number order (hidraw2 before hidraw10).
std::vector<std::string> SortedNodeNames(std::vector<std::string> names);

// The value of `key` in a uevent file ("KEY=value" lines), without line end.
std::optional<std::string> UeventValue(std::string_view uevent, std::string_view key);

struct HidId {
    USHORT bus = 0;
    USHORT vendor = 0;
    USHORT product = 0;
};
// HID_ID "0003:0000046D:0000C077" (bus:vendor:product, hex). A value that does not fit
// 16 bits is refused: truncating it could make the node pass for another device.
std::optional<HidId> ParseHidId(std::string_view value);

// A sysfs hex attribute such as bInterfaceNumber ("%02x\n") or bcdDevice ("%04x\n").
std::optional<unsigned> ParseHexAttribute(std::string_view text, unsigned maximum);
// "241:3\n" from a device's `dev` attribute.
std::optional<dev_t> ParseDevNumber(std::string_view text);

// Whether an endpoint directory's `direction` and `type` texts describe an interrupt OUT
// endpoint.
bool IsInterruptOut(std::string_view direction, std::string_view type);
// Whether the USB interface directory has an interrupt OUT endpoint (an ep_XX directory).
bool InterfaceHasInterruptOut(const std::string& interfaceDir);

// A UTF-8 sysfs text as UTF-16, without its trailing newline.
std::u16string SysfsText(std::string_view raw);

// What sysfs tells of one hidraw node.
struct NodeInfo {
    std::string name;        // "hidraw3"
    unsigned number = 0;     // 3
    std::string devicePath;  // dev root + "/" + DEVNAME
    std::optional<dev_t> devNumber;
    std::string hidDir;      // real path of the HID device directory
    HidId id;
    USHORT version = 0;      // bcdDevice of a USB device, else 0
    bool usb = false;        // bus 0003 below a USB interface
    std::string interfaceDir;   // USB only: the interface, hidDir/..
    std::string usbDeviceDir;   // USB only: the device, hidDir/../..
    unsigned interfaceNumber = 0;
    // USB only: output reports (HIDIOCSOUTPUT and write()) go to this endpoint instead of
    // a SET_REPORT(Output) control transfer, unless the usbhid quirk
    // HID_QUIRK_NO_OUTPUT_REPORTS_ON_INTR_EP is set for the device.
    bool hasInterruptOut = false;
};

// Reads node `name` of the sysfs root; nothing when any part of it is missing (a node
// that goes away during the scan) or does not parse. `requireDevNode` also asks for the
// /dev node, and for it to be the node's character device when it is one.
std::optional<NodeInfo> ReadNode(const std::string& name, bool requireDevNode = true);
// Every readable node, in node-number order.
std::vector<NodeInfo> ScanNodes();
// The node whose device path is `path`.
std::optional<NodeInfo> FindNode(std::u16string_view path);
// Whether the interface behind `path` has an interrupt OUT endpoint (false when unknown).
bool HasInterruptOut(std::u16string_view path);

// With an interrupt OUT endpoint Linux sends output reports on it, where the firmware
// does not read them, unless usbhid's quirk HID_QUIRK_NO_OUTPUT_REPORTS_ON_INTR_EP is set
// for the device; then they go out as SET_REPORT requests, as on Windows.
inline constexpr std::uint32_t kQuirkNoOutputReportsOnInterruptEp = 0x00040000;
// Whether usbhid's `quirks` parameter ("0xVVVV:0xPPPP:0xQQQQQQQQ" entries, comma-separated
// as sysfs shows them) sets that quirk for vid:pid.
bool QuirkSendsOutputAsSetReport(std::string_view parameter, USHORT vendor, USHORT product);
// The parameter's file; settable for tests (empty restores the default).
void SetUsbhidQuirksPathForTesting(std::string path);
// What the user must set for vid:pid: the kernel parameter and the modprobe option.
std::string InterruptOutAdvice(std::string_view node, USHORT vendor, USHORT product);
// What the user must do when a node may not be opened: the udev rule for vid:pid.
std::string PermissionAdvice(std::string_view node, USHORT vendor, USHORT product);

// The report descriptor from the node's sysfs `report_descriptor` (up to 4096 bytes).
DWORD ReadSysfsDescriptor(const NodeInfo& node, std::vector<std::uint8_t>& descriptor);
// Manufacturer, product and serial number from the USB device's sysfs attributes.
// Indexed strings: ERROR_NOT_SUPPORTED (only a control transfer of our own could fetch
// them, and that needs the interface taken from usbhid). Not a USB node:
// ERROR_NOT_SUPPORTED. A device without that string: ERROR_INVALID_PARAMETER, as
// HidD_Get...String answers for a missing string descriptor.
DWORD ReadString(const NodeInfo& node, hidtransport::StringKind kind, ULONG index, std::u16string& text);

// ---- Connections ----------------------------------------------------------------------

// A connection over an open hidraw file descriptor, which it owns and closes. `node` is
// the node's sysfs view when known; `attributes` are what GetAttributes answers. Open()
// builds one per node; tests build one over a socket to exercise read(), write(), poll().
std::unique_ptr<hidtransport::Connection> MakeConnection(int fd, std::optional<NodeInfo> node,
                                                         hidtransport::InterfaceInfo attributes,
                                                         int readTimeoutMs = kReadTimeoutMs);

std::shared_ptr<hidtransport::Provider> MakeHidrawProvider();

}  // namespace hidraw
