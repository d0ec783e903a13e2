#include "platform/hid/hidraw_connection.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/hid/hidraw_io.h"
#include "platform/hid/hidraw_ioctl.h"

namespace hidraw {

namespace {

class HidrawConnection final : public hidtransport::Connection {
public:
    HidrawConnection(int fd, std::optional<NodeInfo> node, hidtransport::InterfaceInfo attributes,
                     ConnectionOptions options)
        : fd_(fd), node_(std::move(node)), attributes_(std::move(attributes)), readTimeoutMs_(options.readTimeoutMs),
          ioctl_(std::move(options.ioctl)) {
        if (!ioctl_)
            ioctl_ = [](int file, unsigned long request, void* argument) { return ::ioctl(file, request, argument); };
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
        unsigned long number = ReportIoctl(request, report.size());
        std::lock_guard guard(transfer_);
        // The ioctls are read-write: hand the kernel a copy, never the caller's const data.
        // The copy's buffer is kept from one request to the next.
        scratch_.assign(report.begin(), report.end());
        int sent = RetryOnEintr([&] { return ioctl_(fd_.get(), number, scratch_.data()); });
        if (sent < 0) return Failure(errno);
        return SentWhole(sent, scratch_.size()) ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
    }

    DWORD ReceiveReport(ReportRequest request, std::uint8_t reportId, ULONG length, std::vector<std::uint8_t>& answer) {
        answer.clear();
        if (DWORD error = CheckIoctlLength(length); error != ERROR_SUCCESS) return error;
        unsigned long number = ReportIoctl(request, length);
        std::lock_guard guard(transfer_);
        MakeRequestBuffer(reportId, length, scratch_);
        int received = RetryOnEintr([&] { return ioctl_(fd_.get(), number, scratch_.data()); });
        if (received < 0) return Failure(errno);
        TakeAnswer(scratch_, AnswerLength(reportId, received), answer);
        return ERROR_SUCCESS;
    }

    DWORD DescriptorFromIoctl(std::vector<std::uint8_t>& descriptor) {
        std::lock_guard guard(transfer_);
        int size = 0;
        if (RetryOnEintr([&] { return ioctl_(fd_.get(), HIDIOCGRDESCSIZE, &size); }) < 0) return Failure(errno);
        if (size <= 0) return ERROR_INVALID_DATA;
        // HIDIOCGRDESC refuses sizes above 4095: a 4096-byte descriptor cannot be read whole,
        // and a truncated one would parse as a different device.
        if (static_cast<std::size_t>(size) > kMaxDescriptorIoctlLength) return ERROR_INSUFFICIENT_BUFFER;
        auto block = std::make_unique<hidraw_report_descriptor>();
        block->size = static_cast<__u32>(size);
        if (RetryOnEintr([&] { return ioctl_(fd_.get(), HIDIOCGRDESC, block.get()); }) < 0) return Failure(errno);
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
    std::function<int(int, unsigned long, void*)> ioctl_;
    bool prefixReportId_ = false;  // the device has no report IDs: reads lack the ID byte
    std::mutex transfer_;  // one report request at a time on this open device
    std::vector<std::uint8_t> scratch_;  // under transfer_: the report handed to the kernel
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

}  // namespace

std::unique_ptr<hidtransport::Connection> MakeConnection(int fd, std::optional<NodeInfo> node,
                                                         hidtransport::InterfaceInfo attributes,
                                                         ConnectionOptions options) {
    return std::make_unique<HidrawConnection>(fd, std::move(node), std::move(attributes), std::move(options));
}

}  // namespace hidraw
