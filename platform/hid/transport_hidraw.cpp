// The Linux hidraw transport: sysfs enumeration, /dev/hidrawN connections.
#include "platform/hid/transport_hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <mutex>

#include "platform/win/text.h"

namespace hidraw {

static_assert(kMaxIoctlReportLength == (1u << _IOC_SIZEBITS) - 1, "the ioctl size field is not 14 bits here");
static_assert(kMaxIoctlReportLength < kHidMaxBufferSize);
static_assert(kMaxDescriptorLength == HID_MAX_DESCRIPTOR_SIZE);

namespace {

namespace fs = std::filesystem;

// ---- configuration --------------------------------------------------------------------

constexpr const char* kUsbhidQuirks = "/sys/module/usbhid/parameters/quirks";

struct Roots {
    std::mutex lock;
    std::string sysfs = "/sys/class/hidraw";
    std::string dev = "/dev";
    std::string quirks = kUsbhidQuirks;
    std::string failingNode;  // SetOpenErrorForTesting
    int failingError = 0;
};

Roots& TheRoots() {
    static Roots roots;
    return roots;
}

// ---- small POSIX helpers --------------------------------------------------------------

template <class F>
auto RetryOnEintr(F&& call) {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Reads a whole small file (sysfs attributes). Answers 0 or an errno value; EFBIG when the
// file holds more than `limit` bytes.
int ReadFile(const std::string& path, std::size_t limit, std::string& out) {
    out.clear();
    UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (fd.get() < 0) return errno;
    char chunk[4096];
    for (;;) {
        ssize_t got = RetryOnEintr([&] { return ::read(fd.get(), chunk, sizeof chunk); });
        if (got < 0) return errno;
        if (got == 0) return 0;
        auto count = static_cast<std::size_t>(got);
        if (out.size() + count > limit) return EFBIG;
        out.append(chunk, count);
    }
}

constexpr std::size_t kAttributeLimit = 4096;  // a sysfs text attribute is one page at most

std::optional<std::string> ReadAttribute(const std::string& path) {
    std::string text;
    if (ReadFile(path, kAttributeLimit, text) != 0) return std::nullopt;
    return text;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string_view TrimLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::optional<std::uint32_t> ParseHex32(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

std::optional<std::uint32_t> ParseDecimal32(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

std::string Parent(const std::string& dir) { return fs::path(dir).parent_path().string(); }

// Fills the USB part of a node below a USB interface: the interface is the HID device's
// parent, the USB device its grandparent.
void ReadUsbPart(NodeInfo& node) {
    if (node.id.bus != 0x0003) return;
    std::string interfaceDir = Parent(node.hidDir);
    auto interfaceNumber = ReadAttribute(interfaceDir + "/bInterfaceNumber");
    if (!interfaceNumber) return;
    auto number = ParseHexAttribute(*interfaceNumber, 0xFF);
    if (!number) return;
    node.usb = true;
    node.interfaceDir = interfaceDir;
    node.usbDeviceDir = Parent(interfaceDir);
    node.interfaceNumber = *number;
    node.hasInterruptOut = InterfaceHasInterruptOut(interfaceDir);
    if (auto bcd = ReadAttribute(node.usbDeviceDir + "/bcdDevice"))
        if (auto version = ParseHexAttribute(*bcd, 0xFFFF)) node.version = static_cast<USHORT>(*version);
}

// The /dev node must exist (udev creates it a moment after the sysfs node appears) and,
// when it is a character device, be this node's.
bool DevNodeMatches(const NodeInfo& node) {
    struct stat st {};
    if (::stat(node.devicePath.c_str(), &st) != 0) return false;
    if (S_ISCHR(st.st_mode) && node.devNumber && st.st_rdev != *node.devNumber) return false;
    return true;
}

// ---- the connection -------------------------------------------------------------------

class HidrawConnection final : public hidtransport::Connection {
public:
    HidrawConnection(int fd, std::optional<NodeInfo> node, hidtransport::InterfaceInfo attributes, int readTimeoutMs)
        : fd_(fd), node_(std::move(node)), attributes_(std::move(attributes)), readTimeoutMs_(readTimeoutMs) {
        std::vector<std::uint8_t> descriptor;
        if (node_ && ReadSysfsDescriptor(*node_, descriptor) == ERROR_SUCCESS && !descriptor.empty())
            prefixReportId_ = !UsesReportIds(descriptor);
    }

    DWORD GetReportDescriptor(std::vector<std::uint8_t>& descriptor) override {
        descriptor.clear();
        if (node_ && ReadSysfsDescriptor(*node_, descriptor) == ERROR_SUCCESS && !descriptor.empty())
            return ERROR_SUCCESS;
        return DescriptorFromIoctl(descriptor);
    }

    DWORD GetAttributes(hidtransport::InterfaceInfo& info) override {
        if (!DevicePresent()) return ERROR_DEVICE_NOT_CONNECTED;
        info = attributes_;
        return ERROR_SUCCESS;
    }

    DWORD SetOutputReport(std::span<const std::uint8_t> report) override {
        return SendReport(ReportRequest::SetOutput, report);
    }
    DWORD SetFeature(std::span<const std::uint8_t> report) override {
        return SendReport(ReportRequest::SetFeature, report);
    }
    DWORD GetInputReport(std::uint8_t reportId, ULONG length, std::vector<std::uint8_t>& answer) override {
        return ReceiveReport(ReportRequest::GetInput, reportId, length, answer);
    }
    DWORD GetFeature(std::uint8_t reportId, ULONG length, std::vector<std::uint8_t>& answer) override {
        return ReceiveReport(ReportRequest::GetFeature, reportId, length, answer);
    }

    DWORD WriteReport(std::span<const std::uint8_t> report) override {
        if (DWORD error = CheckWriteLength(report.size()); error != ERROR_SUCCESS) return error;
        if (DWORD error = DrainBeforeRequest(); error != ERROR_SUCCESS) return error;
        std::lock_guard guard(transfer_);
        ssize_t sent = RetryOnEintr([&] { return ::write(fd_.get(), report.data(), report.size()); });
        if (sent < 0) return Failure(errno);
        return SentWhole(sent, report.size()) ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
    }

    DWORD ReadReport(std::vector<std::uint8_t>& report, ULONG maxLength) override;
    DWORD FlushQueue() override;
    DWORD Claim(hidtransport::ClaimOp op, std::uint32_t& holderPid) override;

    DWORD GetString(hidtransport::StringKind kind, ULONG index, std::u16string& text) override {
        text.clear();
        if (kind == hidtransport::StringKind::Indexed || !node_) return ERROR_NOT_SUPPORTED;
        return ReadString(*node_, kind, index, text);
    }

private:
    bool DevicePresent() const { return !NodeGone(fd_.get(), 0) && (!node_ || Exists(node_->hidDir)); }
    // A transfer cut off by an unplug fails before hidraw marks the node gone: give it a
    // moment when the status is one an unplug leaves.
    DWORD Failure(int err) const {
        bool gone = NodeGone(fd_.get(), MayBeUnplug(err) ? kUnplugSettleMs : 0) || (node_ && !Exists(node_->hidDir));
        return TransferError(err, gone);
    }

    // Input reports wait in the open file's queue until read() takes them: answers the
    // device sent on its interrupt IN pipe to earlier requests (ours that timed out or were
    // never read, and other programs', since every open file of a node gets every report).
    // A request whose answer comes on that pipe must not be matched with one of them, so
    // the queue is emptied before every request the device may answer there: the output
    // reports (write() and HIDIOCSOUTPUT) and SET_REPORT(Feature). Not before GET_REPORT
    // (HIDIOCGINPUT, HIDIOCGFEATURE): the kernel hands that request its own answer. Not in
    // ReadReport: an answer that arrived before the read is the one it wants. While another
    // thread waits in ReadReport nothing is drained: that read waits for an answer of its
    // own and takes the next report; draining could take it first.
    DWORD DrainBeforeRequest() {
        std::unique_lock guard(read_, std::try_to_lock);
        return guard.owns_lock() ? DrainQueue() : ERROR_SUCCESS;
    }
    // Reads the queued reports without waiting, at most kMaxFlushReads of them. Needs read_.
    DWORD DrainQueue();

    // SET_REPORT(Output) or SET_REPORT(Feature), after the drain.
    DWORD SendReport(ReportRequest request, std::span<const std::uint8_t> report) {
        if (DWORD error = CheckIoctlLength(report.size()); error != ERROR_SUCCESS) return error;
        if (DWORD error = DrainBeforeRequest(); error != ERROR_SUCCESS) return error;
        // The ioctls are read-write: hand the kernel a copy, never the caller's const data.
        std::vector<std::uint8_t> scratch(report.begin(), report.end());
        unsigned long number = ReportIoctl(request, scratch.size());
        std::lock_guard guard(transfer_);
        int sent = RetryOnEintr([&] { return ::ioctl(fd_.get(), number, scratch.data()); });
        if (sent < 0) return Failure(errno);
        return SentWhole(sent, scratch.size()) ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
    }

    DWORD ReceiveReport(ReportRequest request, std::uint8_t reportId, ULONG length, std::vector<std::uint8_t>& answer) {
        answer.clear();
        if (DWORD error = CheckIoctlLength(length); error != ERROR_SUCCESS) return error;
        std::vector<std::uint8_t> scratch = MakeRequestBuffer(reportId, length);
        unsigned long number = ReportIoctl(request, length);
        std::lock_guard guard(transfer_);
        int received = RetryOnEintr([&] { return ::ioctl(fd_.get(), number, scratch.data()); });
        if (received < 0) return Failure(errno);
        TakeAnswer(scratch, AnswerLength(reportId, received), answer);
        return ERROR_SUCCESS;
    }

    DWORD DescriptorFromIoctl(std::vector<std::uint8_t>& descriptor) {
        std::lock_guard guard(transfer_);
        int size = 0;
        if (RetryOnEintr([&] { return ::ioctl(fd_.get(), HIDIOCGRDESCSIZE, &size); }) < 0) return Failure(errno);
        if (size <= 0) return ERROR_INVALID_DATA;
        // HIDIOCGRDESC refuses sizes above 4095: a 4096-byte descriptor cannot be read whole,
        // and a truncated one would parse as a different device.
        if (static_cast<std::size_t>(size) > kMaxDescriptorIoctlLength) return ERROR_INSUFFICIENT_BUFFER;
        auto block = std::make_unique<hidraw_report_descriptor>();
        block->size = static_cast<__u32>(size);
        if (RetryOnEintr([&] { return ::ioctl(fd_.get(), HIDIOCGRDESC, block.get()); }) < 0) return Failure(errno);
        descriptor.assign(block->value, block->value + std::min<std::size_t>(block->size, kMaxDescriptorIoctlLength));
        return ERROR_SUCCESS;
    }

    // Waits for the fd to become readable until `deadline`. ERROR_SUCCESS when it is,
    // ERROR_SEM_TIMEOUT when the deadline passes.
    DWORD WaitReadable(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            int timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
            pollfd entry{fd_.get(), POLLIN, 0};
            int ready = ::poll(&entry, 1, timeout);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return Failure(errno);
            if (ready == 0) return Win32ErrorFromErrno(ETIMEDOUT);
            if (entry.revents & POLLIN) return ERROR_SUCCESS;
            // POLLERR | POLLHUP: hidraw reports a device that has gone this way.
            return Win32ErrorFromErrno(ENODEV);
        }
    }

    // One read() of a report the fd holds: the report's size, or 0 and the error in
    // `error` (`err` keeps the errno value).
    std::size_t ReadOnce(std::vector<std::uint8_t>& buffer, DWORD& error, int& err) {
        ssize_t received = RetryOnEintr([&] { return ::read(fd_.get(), buffer.data(), buffer.size()); });
        err = received < 0 ? errno : 0;
        error = ERROR_SUCCESS;
        if (received > 0) return static_cast<std::size_t>(received);
        // hidraw's read() fails with EIO once the device is gone; end of file means the
        // same for any other kind of node.
        error = received == 0 || err == EIO ? Win32ErrorFromErrno(ENODEV) : Failure(err);
        return 0;
    }

    UniqueFd fd_;
    std::optional<NodeInfo> node_;
    hidtransport::InterfaceInfo attributes_;
    int readTimeoutMs_;
    bool prefixReportId_ = false;  // the device has no report IDs: reads lack the ID byte
    std::mutex transfer_;  // one report request at a time on this open device
    // Reads wait up to seconds for a report; they keep their own order without holding up
    // report requests (the kernel serialises reads of one open file itself).
    std::mutex read_;
    std::mutex claim_;
    bool claimed_ = false;  // under claim_
};

DWORD HidrawConnection::ReadReport(std::vector<std::uint8_t>& report, ULONG maxLength) {
    report.clear();
    if (maxLength == 0) return ERROR_INVALID_USER_BUFFER;
    // The kernel copies at most the buffer's size of a queued report and drops the rest.
    // Without report IDs the report comes without its ID byte: it goes first, as 0.
    std::size_t prefix = prefixReportId_ ? 1 : 0;
    if (maxLength <= prefix) return ERROR_INVALID_USER_BUFFER;
    std::vector<std::uint8_t> buffer(std::min<std::size_t>(maxLength - prefix, kHidMaxBufferSize));
    std::lock_guard guard(read_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    for (;;) {
        if (DWORD error = WaitReadable(deadline); error != ERROR_SUCCESS) return error;
        DWORD error = ERROR_SUCCESS;
        int err = 0;
        std::size_t received = ReadOnce(buffer, error, err);
        if (err == EAGAIN) continue;  // a non-blocking fd that poll() woke for nothing: wait on
        if (error != ERROR_SUCCESS) return error;
        buffer.resize(received);
        if (prefix) buffer.insert(buffer.begin(), std::uint8_t{0});
        report = std::move(buffer);
        return ERROR_SUCCESS;
    }
}

// hidraw has no exclusive open, so a claim is an open-file-description lock on the node,
// which every program of ours takes: a write lock on byte 0 is the claim itself, and a
// write lock on byte 1 + pid names its holder, so that another process can learn the pid
// (F_OFD_GETLK reports the conflicting lock's range, never an OFD lock's pid). Locks of
// this connection's own description never conflict with it, and both vanish when the node
// is closed or the process ends. Programs that take no lock are not stopped.
DWORD HidrawConnection::Claim(hidtransport::ClaimOp op, std::uint32_t& holderPid) {
    holderPid = 0;
    auto lock = [&](short type, off_t start, off_t length, int command) {
        struct flock entry {};
        entry.l_type = type;
        entry.l_whence = SEEK_SET;
        entry.l_start = start;
        entry.l_len = length;
        int result = RetryOnEintr([&] { return ::fcntl(fd_.get(), command, &entry); });
        return std::pair{result, entry};
    };
    auto otherHolder = [&](bool& held) -> DWORD {
        auto [result, entry] = lock(F_WRLCK, 0, 1, F_OFD_GETLK);
        if (result < 0) return Win32ErrorFromErrno(errno);
        held = entry.l_type != F_UNLCK;
        if (!held) return ERROR_SUCCESS;
        auto [named, label] = lock(F_WRLCK, 1, 0, F_OFD_GETLK);
        if (named == 0 && label.l_type != F_UNLCK && label.l_start >= 1)
            holderPid = static_cast<std::uint32_t>(label.l_start - 1);
        return ERROR_SUCCESS;
    };
    std::lock_guard guard(claim_);
    bool held = false;
    switch (op) {
    case hidtransport::ClaimOp::Take: {
        if (claimed_) return ERROR_SUCCESS;
        auto [result, entry] = lock(F_WRLCK, 0, 1, F_OFD_SETLK);
        if (result < 0) {
            int err = errno;
            if (err != EAGAIN && err != EACCES) return Win32ErrorFromErrno(err);
            otherHolder(held);
            return ERROR_BUSY;
        }
        claimed_ = true;
        // The label is a courtesy: without it the claim still excludes, the holder shows as 0.
        lock(F_WRLCK, 1 + static_cast<off_t>(::getpid()), 1, F_OFD_SETLK);
        return ERROR_SUCCESS;
    }
    case hidtransport::ClaimOp::Release:
        if (!claimed_) return ERROR_SUCCESS;
        claimed_ = false;
        lock(F_UNLCK, 0, 0, F_OFD_SETLK);  // the claim and the label together
        return ERROR_SUCCESS;
    case hidtransport::ClaimOp::Query:
        return otherHolder(held);
    }
    return ERROR_INVALID_PARAMETER;
}

DWORD HidrawConnection::FlushQueue() {
    std::lock_guard guard(read_);
    return DrainQueue();
}

DWORD HidrawConnection::DrainQueue() {
    std::vector<std::uint8_t> buffer;  // sized only when a report is there: most drains find none
    for (int i = 0; i < kMaxFlushReads; ++i) {
        pollfd entry{fd_.get(), POLLIN, 0};
        int ready = RetryOnEintr([&] { return ::poll(&entry, 1, 0); });
        if (ready < 0) return Failure(errno);
        if (ready == 0) return ERROR_SUCCESS;  // the queue is empty
        if (!(entry.revents & POLLIN)) return Win32ErrorFromErrno(ENODEV);
        buffer.resize(kHidMaxBufferSize);
        DWORD error = ERROR_SUCCESS;
        int err = 0;
        ReadOnce(buffer, error, err);
        if (err == EAGAIN) return ERROR_SUCCESS;
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

// ---- the provider ---------------------------------------------------------------------

// The node an open fd belongs to: by device number when the fd is a character device
// (the authoritative match, even if the node was renumbered since the caller's scan),
// else by path.
std::optional<NodeInfo> NodeOfFd(int fd, std::u16string_view path) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        for (NodeInfo& node : ScanNodes())
            if (node.devNumber && *node.devNumber == st.st_rdev) return node;
        return std::nullopt;
    }
    return FindNode(path);
}

std::string QuirksPath() {
    Roots& roots = TheRoots();
    std::lock_guard guard(roots.lock);
    return roots.quirks;
}

bool OutputReportsUseSetReport(const NodeInfo& node) {
    auto parameter = ReadAttribute(QuirksPath());
    return parameter && QuirkSendsOutputAsSetReport(*parameter, node.id.vendor, node.id.product);
}

// Opens a node for reading and writing, or fails with the error a test set for it.
int OpenNode(const std::string& file) {
    int injected = 0;
    {
        Roots& roots = TheRoots();
        std::lock_guard guard(roots.lock);
        if (!roots.failingNode.empty() && roots.failingNode == file) injected = roots.failingError;
    }
    if (injected != 0) {
        errno = injected;
        return -1;
    }
    return ::open(file.c_str(), O_RDWR | O_CLOEXEC);
}

class HidrawProvider final : public hidtransport::Provider {
public:
    void Enumerate(std::vector<hidtransport::InterfaceInfo>& out) override {
        for (const NodeInfo& node : ScanNodes())
            out.push_back({Utf8ToUtf16(node.devicePath), node.id.vendor, node.id.product, node.version});
    }

    bool Owns(std::u16string_view path) const override {
        return path.starts_with(Utf8ToUtf16(DevRoot() + "/hidraw"));
    }

    // Linux cannot open a file for no access, and the report ioctls work on any open fd,
    // so every open asks for reading and writing, whatever `access` says. A sharing mode
    // of 0 takes an exclusive lock, any other a shared one, so that our own processes
    // see a sharing violation as on Windows; programs that take no lock are not stopped.
    DWORD Open(std::u16string_view path, DWORD, DWORD share, std::unique_ptr<hidtransport::Connection>& out) override {
        out.reset();
        std::string file = Utf16ToUtf8(path);
        UniqueFd fd(RetryOnEintr([&] { return OpenNode(file); }));
        if (fd.get() < 0) {
            int err = errno;
            // A node the user may not open is not an absent one: say what would open it.
            if (err == EACCES || err == EPERM) {
                auto node = FindNode(path);
                if (node) std::fprintf(stderr, "%s\n", PermissionAdvice(file, node->id.vendor, node->id.product).c_str());
            }
            return Win32ErrorFromErrno(err);
        }
        int lock = (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (RetryOnEintr([&] { return ::flock(fd.get(), lock); }) < 0)
            return errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(errno);
        std::optional<NodeInfo> node = NodeOfFd(fd.get(), path);
        if (node && node->hasInterruptOut && !OutputReportsUseSetReport(*node)) {
            std::fprintf(stderr, "%s\n", InterruptOutAdvice(file, node->id.vendor, node->id.product).c_str());
            return ERROR_NOT_SUPPORTED;
        }
        hidraw_devinfo info{};
        if (RetryOnEintr([&] { return ::ioctl(fd.get(), HIDIOCGRAWINFO, &info); }) < 0)
            return Win32ErrorFromErrno(errno);  // ENOTTY: not a hidraw node
        // vendor and product are signed 16-bit in hidraw_devinfo.
        hidtransport::InterfaceInfo attributes{std::u16string(path), static_cast<USHORT>(info.vendor),
                                               static_cast<USHORT>(info.product),
                                               node ? node->version : USHORT{0}};
        out = MakeConnection(fd.release(), std::move(node), std::move(attributes));
        return ERROR_SUCCESS;
    }
};

}  // namespace

// ---- configuration --------------------------------------------------------------------

void SetSysfsRootForTesting(std::string root) {
    Roots& roots = TheRoots();
    std::lock_guard guard(roots.lock);
    roots.sysfs = root.empty() ? "/sys/class/hidraw" : std::move(root);
}

void SetOpenErrorForTesting(std::string node, int err) {
    Roots& roots = TheRoots();
    std::lock_guard guard(roots.lock);
    roots.failingNode = std::move(node);
    roots.failingError = err;
}

void SetDevRootForTesting(std::string root) {
    Roots& roots = TheRoots();
    std::lock_guard guard(roots.lock);
    roots.dev = root.empty() ? "/dev" : std::move(root);
}

std::string SysfsRoot() {
    Roots& roots = TheRoots();
    std::lock_guard guard(roots.lock);
    return roots.sysfs;
}

std::string DevRoot() {
    Roots& roots = TheRoots();
    std::lock_guard guard(roots.lock);
    return roots.dev;
}

// ---- transfers ------------------------------------------------------------------------

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

std::vector<std::uint8_t> MakeRequestBuffer(std::uint8_t reportId, std::size_t length) {
    std::vector<std::uint8_t> scratch(length, 0);
    if (!scratch.empty()) scratch[0] = reportId;
    return scratch;
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

// ---- usbhid quirks and advice -----------------------------------------------------------

bool QuirkSendsOutputAsSetReport(std::string_view parameter, USHORT vendor, USHORT product) {
    auto hex = [](std::string_view text) {
        if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
        return ParseHex32(text);
    };
    parameter = TrimLineEnd(parameter);
    while (!parameter.empty()) {
        std::size_t end = parameter.find(',');
        std::string_view entry = parameter.substr(0, end);
        parameter = end == std::string_view::npos ? std::string_view{} : parameter.substr(end + 1);
        std::size_t first = entry.find(':');
        std::size_t second = first == std::string_view::npos ? first : entry.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        auto v = hex(entry.substr(0, first));
        auto p = hex(entry.substr(first + 1, second - first - 1));
        auto q = hex(entry.substr(second + 1));
        if (v && p && q && *v == vendor && *p == product && (*q & kQuirkNoOutputReportsOnInterruptEp)) return true;
    }
    return false;
}

void SetUsbhidQuirksPathForTesting(std::string path) {
    Roots& roots = TheRoots();
    std::lock_guard guard(roots.lock);
    roots.quirks = path.empty() ? kUsbhidQuirks : std::move(path);
}

std::string InterruptOutAdvice(std::string_view node, USHORT vendor, USHORT product) {
    char quirk[64];
    std::snprintf(quirk, sizeof quirk, "0x%04x:0x%04x:0x%08x", vendor, product, kQuirkNoOutputReportsOnInterruptEp);
    return std::string(node) +
           ": the device has an interrupt OUT endpoint, and Linux sends output reports there, where the device "
           "does not read them. Not opened. Boot with the kernel parameter usbhid.quirks=" + quirk +
           " or add the line \"options usbhid quirks=" + quirk +
           "\" to a file in /etc/modprobe.d/ (then reload usbhid or reboot), and plug the device in again.";
}

std::string PermissionAdvice(std::string_view node, USHORT vendor, USHORT product) {
    char rule[192];
    std::snprintf(rule, sizeof rule,
                  "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", MODE=\"0660\", "
                  "GROUP=\"plugdev\", TAG+=\"uaccess\"",
                  vendor, product);
    return std::string(node) + ": permission denied. The device is there, but this user may not open it. Add the "
                               "udev rule '" + rule +
           "' to /etc/udev/rules.d/70-uvc-hid-tool.rules, run 'udevadm control --reload-rules && udevadm trigger', "
           "and plug the device in again.";
}

// ---- sysfs ----------------------------------------------------------------------------

std::optional<unsigned> NodeNumber(std::string_view name) {
    constexpr std::string_view prefix = "hidraw";
    if (!name.starts_with(prefix)) return std::nullopt;
    return ParseDecimal32(name.substr(prefix.size()));
}

std::vector<std::string> SortedNodeNames(std::vector<std::string> names) {
    std::erase_if(names, [](const std::string& name) { return !NodeNumber(name); });
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return *NodeNumber(a) < *NodeNumber(b); });
    return names;
}

std::optional<std::string> UeventValue(std::string_view uevent, std::string_view key) {
    while (!uevent.empty()) {
        std::size_t end = uevent.find('\n');
        std::string_view line = uevent.substr(0, end);
        uevent = end == std::string_view::npos ? std::string_view{} : uevent.substr(end + 1);
        line = TrimLineEnd(line);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
    }
    return std::nullopt;
}

std::optional<HidId> ParseHidId(std::string_view value) {
    value = TrimLineEnd(value);
    std::uint32_t fields[3] = {};
    for (int i = 0; i < 3; ++i) {
        std::size_t end = value.find(':');
        if ((i < 2) != (end != std::string_view::npos)) return std::nullopt;
        auto field = ParseHex32(value.substr(0, end));
        if (!field || *field > 0xFFFF) return std::nullopt;
        fields[i] = *field;
        value = end == std::string_view::npos ? std::string_view{} : value.substr(end + 1);
    }
    return HidId{static_cast<USHORT>(fields[0]), static_cast<USHORT>(fields[1]), static_cast<USHORT>(fields[2])};
}

std::optional<unsigned> ParseHexAttribute(std::string_view text, unsigned maximum) {
    auto value = ParseHex32(TrimLineEnd(text));
    if (!value || *value > maximum) return std::nullopt;
    return *value;
}

std::optional<dev_t> ParseDevNumber(std::string_view text) {
    text = TrimLineEnd(text);
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto major = ParseDecimal32(text.substr(0, colon));
    auto minor = ParseDecimal32(text.substr(colon + 1));
    if (!major || !minor) return std::nullopt;
    return makedev(*major, *minor);
}

bool IsInterruptOut(std::string_view direction, std::string_view type) {
    return TrimLineEnd(direction) == "out" && TrimLineEnd(type) == "Interrupt";
}

bool InterfaceHasInterruptOut(const std::string& interfaceDir) {
    std::error_code ec;
    fs::directory_iterator it(interfaceDir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.starts_with("ep_")) continue;
        auto direction = ReadAttribute(it->path().string() + "/direction");
        auto type = ReadAttribute(it->path().string() + "/type");
        if (direction && type && IsInterruptOut(*direction, *type)) return true;
    }
    return false;
}

std::u16string SysfsText(std::string_view raw) {
    if (raw.ends_with('\n')) raw.remove_suffix(1);
    return Utf8ToUtf16(raw);
}

std::optional<NodeInfo> ReadNode(const std::string& name, bool requireDevNode) {
    auto number = NodeNumber(name);
    if (!number) return std::nullopt;
    NodeInfo node;
    node.name = name;
    node.number = *number;
    std::string classDir = SysfsRoot() + "/" + name;
    // Every step may meet ENOENT when the device goes away meanwhile: the node is skipped.
    auto uevent = ReadAttribute(classDir + "/uevent");
    if (!uevent) return std::nullopt;
    std::string devName = UeventValue(*uevent, "DEVNAME").value_or(name);
    if (devName.empty() || devName.find("..") != std::string::npos) return std::nullopt;
    node.devicePath = DevRoot() + "/" + devName;
    if (auto dev = ReadAttribute(classDir + "/dev")) node.devNumber = ParseDevNumber(*dev);
    std::error_code ec;
    fs::path hidDir = fs::canonical(classDir + "/device", ec);
    if (ec) return std::nullopt;
    node.hidDir = hidDir.string();
    auto hidUevent = ReadAttribute(node.hidDir + "/uevent");
    if (!hidUevent) return std::nullopt;
    auto hidId = UeventValue(*hidUevent, "HID_ID");
    if (!hidId) return std::nullopt;
    auto id = ParseHidId(*hidId);
    if (!id) return std::nullopt;
    node.id = *id;
    ReadUsbPart(node);
    if (requireDevNode && !DevNodeMatches(node)) return std::nullopt;
    return node;
}

std::vector<NodeInfo> ScanNodes() {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(SysfsRoot(), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) names.push_back(it->path().filename().string());
    std::vector<NodeInfo> nodes;
    for (const std::string& name : SortedNodeNames(std::move(names)))
        if (auto node = ReadNode(name)) nodes.push_back(std::move(*node));
    return nodes;
}

std::optional<NodeInfo> FindNode(std::u16string_view path) {
    std::string wanted = Utf16ToUtf8(path);
    for (NodeInfo& node : ScanNodes())
        if (node.devicePath == wanted) return node;
    return std::nullopt;
}

bool HasInterruptOut(std::u16string_view path) {
    auto node = FindNode(path);
    return node && node->hasInterruptOut;
}

DWORD ReadSysfsDescriptor(const NodeInfo& node, std::vector<std::uint8_t>& descriptor) {
    descriptor.clear();
    if (node.hidDir.empty()) return ERROR_FILE_NOT_FOUND;
    std::string bytes;
    int err = ReadFile(node.hidDir + "/report_descriptor", kMaxDescriptorLength, bytes);
    if (err == EFBIG) return ERROR_INVALID_DATA;
    if (err != 0) return Win32ErrorFromErrno(err);
    descriptor.assign(bytes.begin(), bytes.end());
    return ERROR_SUCCESS;
}

DWORD ReadString(const NodeInfo& node, hidtransport::StringKind kind, ULONG, std::u16string& text) {
    text.clear();
    if (!node.usb) return ERROR_NOT_SUPPORTED;
    const char* attribute = nullptr;
    switch (kind) {
    case hidtransport::StringKind::Manufacturer: attribute = "manufacturer"; break;
    case hidtransport::StringKind::Product: attribute = "product"; break;
    case hidtransport::StringKind::SerialNumber: attribute = "serial"; break;
    case hidtransport::StringKind::Indexed: return ERROR_NOT_SUPPORTED;
    }
    std::string raw;
    int err = ReadFile(node.usbDeviceDir + "/" + attribute, kAttributeLimit, raw);
    if (err == 0) {
        text = SysfsText(raw);
        return ERROR_SUCCESS;
    }
    // USB string attributes are absent when the device has no such string; an absent
    // device directory is an unplug.
    if (err == ENOENT) return Exists(node.usbDeviceDir) ? ERROR_INVALID_PARAMETER : ERROR_DEVICE_NOT_CONNECTED;
    return Win32ErrorFromErrno(err);
}

std::unique_ptr<hidtransport::Connection> MakeConnection(int fd, std::optional<NodeInfo> node,
                                                         hidtransport::InterfaceInfo attributes, int readTimeoutMs) {
    return std::make_unique<HidrawConnection>(fd, std::move(node), std::move(attributes), readTimeoutMs);
}

std::shared_ptr<hidtransport::Provider> MakeHidrawProvider() { return std::make_shared<HidrawProvider>(); }

}  // namespace hidraw
