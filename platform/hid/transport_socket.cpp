// Client side of the simulator socket transport, and the wire helpers both ends share.
#include "platform/hid/transport_socket.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/hid/hid_library.h"
#include "platform/win/text.h"

namespace simsocket {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` on fd, or for wakeFd to become readable. timeoutMs -1 waits without limit.
IoStatus Wait(int fd, short events, int timeoutMs, int wakeFd) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int n = poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return IoStatus::Closed;
        if (n == 0) return IoStatus::Timeout;
        if (wakeFd >= 0 && (fds[1].revents & POLLIN)) return IoStatus::Woken;
        return IoStatus::Ok;  // readable, writable, or hung up: the next call tells which
    }
}

IoStatus ReadExactly(int fd, std::uint8_t* out, std::size_t count, Clock::time_point deadline, int wakeFd) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = recv(fd, out + done, count - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return IoStatus::Closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::Closed;
        IoStatus waited = Wait(fd, POLLIN, RemainingMs(deadline), wakeFd);
        if (waited != IoStatus::Ok) return waited;
    }
    return IoStatus::Ok;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutText(std::vector<std::uint8_t>& out, const std::u16string& text) {
    const std::size_t units = std::min<std::size_t>(text.size(), 0xFFFF);
    PutLe(out, static_cast<std::uint32_t>(units), 2);
    for (std::size_t i = 0; i < units; ++i) PutLe(out, text[i], 2);
}

// Bounds-checked reader over a received body.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool Le(std::uint32_t& value, int count) {
        if (bytes_.size() - at_ < static_cast<std::size_t>(count)) return false;
        value = 0;
        for (int i = 0; i < count; ++i) value |= std::uint32_t{bytes_[at_++]} << (8 * i);
        return true;
    }
    bool Bytes(std::size_t count, std::vector<std::uint8_t>& out) {
        if (bytes_.size() - at_ < count) return false;
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + count));
        at_ += count;
        return true;
    }
    bool Text(std::u16string& text) {
        std::uint32_t units = 0;
        if (!Le(units, 2)) return false;
        text.clear();
        for (std::uint32_t i = 0; i < units; ++i) {
            std::uint32_t unit = 0;
            if (!Le(unit, 2)) return false;
            text.push_back(static_cast<char16_t>(unit));
        }
        return true;
    }
    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

bool IsKnownType(std::uint8_t type) {
    return (type >= static_cast<std::uint8_t>(MessageType::Info) && type <= static_cast<std::uint8_t>(MessageType::Claim)) ||
           type == static_cast<std::uint8_t>(MessageType::Reply);
}

bool SafeDirectory(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

std::atomic<int> replyTimeoutMs{kReplyTimeoutMs};
std::atomic<int> probeTimeoutMs{kProbeTimeoutMs};

}  // namespace

int ReplyTimeoutMs() { return replyTimeoutMs; }
int ProbeTimeoutMs() { return probeTimeoutMs; }
void SetClientTimeouts(int replyMs, int probeMs) {
    replyTimeoutMs = replyMs;
    probeTimeoutMs = probeMs;
}

bool DecodeHeader(std::span<const std::uint8_t, kHeaderBytes> bytes, Header& header) {
    const std::uint32_t length = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                 std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    if (length > kMaxPayload || !IsKnownType(bytes[4])) return false;
    header.length = length;
    header.type = static_cast<MessageType>(bytes[4]);
    header.number = std::uint32_t{bytes[5]} | std::uint32_t{bytes[6]} << 8 | std::uint32_t{bytes[7]} << 16;
    return true;
}

void EncodeHeader(MessageType type, std::uint32_t number, std::uint32_t length, std::span<std::uint8_t, kHeaderBytes> out) {
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(length >> (8 * i));
    out[4] = static_cast<std::uint8_t>(type);
    for (std::size_t i = 0; i < 3; ++i) out[5 + i] = static_cast<std::uint8_t>((number & kRequestNumberMask) >> (8 * i));
}

std::vector<std::uint8_t> EncodeMessage(MessageType type, std::uint32_t number, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame(kHeaderBytes + payload.size());
    EncodeHeader(type, number, static_cast<std::uint32_t>(payload.size()), std::span(frame).first<kHeaderBytes>());
    std::copy(payload.begin(), payload.end(), frame.begin() + kHeaderBytes);
    return frame;
}

IoStatus SendMessage(int fd, MessageType type, std::uint32_t number, std::span<const std::uint8_t> payload,
                     int timeoutMs) {
    if (payload.size() > kMaxPayload) return IoStatus::Malformed;
    const std::vector<std::uint8_t> frame = EncodeMessage(type, number, payload);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::Closed;
        IoStatus waited = Wait(fd, POLLOUT, RemainingMs(deadline), -1);
        if (waited != IoStatus::Ok) return waited;
    }
    return IoStatus::Ok;
}

IoStatus ReceiveMessage(int fd, Message& message, int firstByteTimeoutMs, int restTimeoutMs, int wakeFd) {
    IoStatus waited = Wait(fd, POLLIN, firstByteTimeoutMs, wakeFd);
    if (waited != IoStatus::Ok) return waited;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(restTimeoutMs);
    std::uint8_t bytes[kHeaderBytes];
    if (IoStatus status = ReadExactly(fd, bytes, kHeaderBytes, deadline, wakeFd); status != IoStatus::Ok)
        return status;
    Header header;
    if (!DecodeHeader(bytes, header)) return IoStatus::Malformed;
    message.type = header.type;
    message.number = header.number;
    message.payload.resize(header.length);
    return ReadExactly(fd, message.payload.data(), header.length, deadline, wakeFd);
}

std::vector<std::uint8_t> EncodeInfo(const vhid::DeviceInfo& info) {
    std::vector<std::uint8_t> out;
    PutLe(out, info.vendorId, 2);
    PutLe(out, info.productId, 2);
    PutLe(out, info.versionNumber, 2);
    const std::size_t descriptorBytes = std::min<std::size_t>(info.reportDescriptor.size(), 0xFFFF);
    PutLe(out, static_cast<std::uint32_t>(descriptorBytes), 2);
    out.insert(out.end(), info.reportDescriptor.begin(),
               info.reportDescriptor.begin() + static_cast<std::ptrdiff_t>(descriptorBytes));
    PutText(out, info.manufacturer);
    PutText(out, info.product);
    PutText(out, info.serialNumber);
    const std::size_t strings = std::min<std::size_t>(info.indexedStrings.size(), 255);
    PutLe(out, static_cast<std::uint32_t>(strings), 1);
    for (std::size_t i = 0; i < strings; ++i) PutText(out, info.indexedStrings[i]);
    PutText(out, info.portPath);
    return out;
}

bool DecodeInfo(std::span<const std::uint8_t> bytes, vhid::DeviceInfo& info) {
    Reader reader(bytes);
    std::uint32_t vid = 0, pid = 0, version = 0, descriptorBytes = 0, strings = 0;
    if (!reader.Le(vid, 2) || !reader.Le(pid, 2) || !reader.Le(version, 2) || !reader.Le(descriptorBytes, 2))
        return false;
    vhid::DeviceInfo out;
    out.vendorId = static_cast<USHORT>(vid);
    out.productId = static_cast<USHORT>(pid);
    out.versionNumber = static_cast<USHORT>(version);
    if (!reader.Bytes(descriptorBytes, out.reportDescriptor)) return false;
    if (!reader.Text(out.manufacturer) || !reader.Text(out.product) || !reader.Text(out.serialNumber)) return false;
    if (!reader.Le(strings, 1)) return false;
    out.indexedStrings.resize(strings);
    for (auto& text : out.indexedStrings)
        if (!reader.Text(text)) return false;
    // The port path came later: a body that ends before it describes a device without one.
    if (!reader.AtEnd() && !reader.Text(out.portPath)) return false;
    if (!out.portPath.empty() && !hidtransport::IsUsbPortPath(out.portPath)) return false;
    if (!reader.AtEnd()) return false;
    info = std::move(out);
    return true;
}

DWORD RuntimeDirectory(bool create, std::string& directory) {
    std::string base;
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
        struct stat st {};
        if (stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && access(xdg, W_OK | X_OK) == 0)
            base = std::string(xdg) + "/uvc-hid-sim";
    }
    if (base.empty()) base = "/tmp/uvc-hid-sim-" + std::to_string(getuid());
    if (create && mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) return ERROR_ACCESS_DENIED;
    struct stat st {};
    if (lstat(base.c_str(), &st) != 0) return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    if (!SafeDirectory(base)) return ERROR_ACCESS_DENIED;
    directory = base;
    return ERROR_SUCCESS;
}

bool IsValidSocketName(std::string_view name) {
    if (name.size() <= kSocketSuffix.size() || name.size() > kMaxNameLength || name.front() == '.') return false;
    if (!name.ends_with(kSocketSuffix)) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    });
}

}  // namespace simsocket

namespace hidlibrary {
namespace {

using Clock = std::chrono::steady_clock;
using simsocket::IoStatus;
using simsocket::RemainingMs;
using simsocket::Message;
using simsocket::MessageType;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { Reset(); }
    void Reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

enum class ConnectResult { Connected, Refused, Failed };

ConnectResult ConnectTo(const std::string& path, Fd& out) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return ConnectResult::Failed;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) return ConnectResult::Failed;
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return errno == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
    out = std::move(fd);
    return ConnectResult::Connected;
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// One request and its reply on a fresh connection (the probe). Fills `status` with the
// Win32 status the device answered. Only a Reply carrying this request's number answers it.
IoStatus Exchange(int fd, MessageType type, std::uint32_t number, std::span<const std::uint8_t> payload, int timeoutMs,
                  DWORD& status, std::vector<std::uint8_t>& data) {
    if (IoStatus sent = simsocket::SendMessage(fd, type, number, payload, timeoutMs); sent != IoStatus::Ok) return sent;
    Message reply;
    if (IoStatus got = simsocket::ReceiveMessage(fd, reply, timeoutMs, timeoutMs); got != IoStatus::Ok) return got;
    if (reply.type != MessageType::Reply || reply.number != (number & simsocket::kRequestNumberMask) ||
        reply.payload.size() < 4)
        return IoStatus::Malformed;
    status = Le32(reply.payload);
    data.assign(reply.payload.begin() + 4, reply.payload.end());
    return IoStatus::Ok;
}

bool Probe(int fd, int timeoutMs, std::uint32_t number, vhid::DeviceInfo& info) {
    DWORD status = ERROR_GEN_FAILURE;
    std::vector<std::uint8_t> data;
    if (Exchange(fd, MessageType::Info, number, {}, timeoutMs, status, data) != IoStatus::Ok) return false;
    return status == ERROR_SUCCESS && simsocket::DecodeInfo(data, info);
}

bool SameDevice(const vhid::DeviceInfo& a, const vhid::DeviceInfo& b) {
    return a.vendorId == b.vendorId && a.productId == b.productId && a.versionNumber == b.versionNumber &&
           a.reportDescriptor == b.reportDescriptor && a.manufacturer == b.manufacturer && a.product == b.product &&
           a.serialNumber == b.serialNumber && a.indexedStrings == b.indexedStrings && a.portPath == b.portPath;
}

// `seen`, when given, receives the file's status.
bool OwnedSocket(const std::string& path, struct stat* seen = nullptr) {
    struct stat st {};
    const bool owned = lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == getuid();
    if (seen) *seen = st;
    return owned;
}

// A simulator's plug identity, "sock:DEV:INO:PID": its socket file and the process that
// listens on it (the peer of `fd`, connected at `path`). A simulator started again under
// the same name binds a new file, mostly in a new process. `before` is the file as it was
// before connecting; when another file has the name since, which simulator answered is
// not known, and neither is the identity (empty).
std::u16string SocketPlugId(const std::string& path, const struct stat& before, int fd) {
    struct stat after {};
    ucred peer{};
    socklen_t length = sizeof peer;
    if (lstat(path.c_str(), &after) != 0 || after.st_dev != before.st_dev || after.st_ino != before.st_ino ||
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return {};
    return Utf8ToUtf16("sock:" + std::to_string(before.st_dev) + ":" + std::to_string(before.st_ino) + ":" +
                       std::to_string(peer.pid));
}

// The probe of enumeration and Open; a connection numbers its own requests after it.
constexpr std::uint32_t kProbeNumber = 1;

class SocketConnection final : public hidtransport::Connection {
public:
    // socketPath: where to connect again after the simulator closed an idle connection
    // (empty: never).
    SocketConnection(Fd fd, vhid::DeviceInfo info, std::u16string path, std::string socketPath)
        : fd_(std::move(fd)), info_(std::move(info)), path_(std::move(path)), socketPath_(std::move(socketPath)) {}

    DWORD GetReportDescriptor(std::vector<std::uint8_t>& descriptor) override {
        std::lock_guard guard(lock_);
        if (fd_.Get() < 0) return ERROR_DEVICE_NOT_CONNECTED;
        descriptor = info_.reportDescriptor;
        return ERROR_SUCCESS;
    }
    DWORD GetAttributes(hidtransport::InterfaceInfo& info) override {
        std::lock_guard guard(lock_);
        if (fd_.Get() < 0) return ERROR_DEVICE_NOT_CONNECTED;
        info = {path_, info_.vendorId, info_.productId, info_.versionNumber, info_.serialNumber, info_.portPath,
                info_.plugId};
        return ERROR_SUCCESS;
    }
    DWORD SetOutputReport(std::span<const std::uint8_t> report) override {
        return Call(MessageType::SetOutput, report, nullptr);
    }
    DWORD GetInputReport(std::uint8_t id, ULONG length, std::vector<std::uint8_t>& answer) override {
        const auto body = Request(id, length);
        return Call(MessageType::GetInput, body, &answer);
    }
    DWORD SetFeature(std::span<const std::uint8_t> report) override {
        return Call(MessageType::SetFeature, report, nullptr);
    }
    DWORD GetFeature(std::uint8_t id, ULONG length, std::vector<std::uint8_t>& answer) override {
        const auto body = Request(id, length);
        return Call(MessageType::GetFeature, body, &answer);
    }
    DWORD WriteReport(std::span<const std::uint8_t> report) override {
        return Call(MessageType::Write, report, nullptr);
    }
    DWORD ReadReport(std::vector<std::uint8_t>& report, ULONG maxLength) override {
        std::uint8_t body[4];
        for (int i = 0; i < 4; ++i) body[i] = static_cast<std::uint8_t>(maxLength >> (8 * i));
        return Call(MessageType::Read, body, &report);
    }
    DWORD GetString(hidtransport::StringKind kind, ULONG index, std::u16string& text) override {
        std::lock_guard guard(lock_);
        if (fd_.Get() < 0) return ERROR_DEVICE_NOT_CONNECTED;
        return vhid::LookupString(info_, kind, index, text);
    }
    DWORD FlushQueue() override {
        std::lock_guard guard(lock_);
        return fd_.Get() < 0 ? ERROR_DEVICE_NOT_CONNECTED : ERROR_SUCCESS;
    }
    // The simulator keeps the claim: it knows every connection, and a connection's end
    // ends its claim there. A closed connection holds none, so Release has nothing to do.
    DWORD Claim(hidtransport::ClaimOp op, std::uint32_t& holderPid) override {
        holderPid = 0;
        if (op != hidtransport::ClaimOp::Take && op != hidtransport::ClaimOp::Release &&
            op != hidtransport::ClaimOp::Query)
            return ERROR_INVALID_PARAMETER;
        std::lock_guard guard(lock_);
        if (fd_.Get() < 0) return op == hidtransport::ClaimOp::Release ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED;
        const std::uint8_t body = static_cast<std::uint8_t>(op);
        DWORD status = ERROR_GEN_FAILURE;
        std::span<const std::uint8_t> data;
        if (DWORD error = Transact(MessageType::Claim, std::span(&body, 1), status, data); error != ERROR_SUCCESS)
            return error;
        if (data.size() != simsocket::kClaimReplyBytes - 4) {
            Drop();
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        holderPid = Le32(data);
        if (status == ERROR_SUCCESS && op != hidtransport::ClaimOp::Query) claimed_ = op == hidtransport::ClaimOp::Take;
        return status;
    }

private:
    static std::array<std::uint8_t, 5> Request(std::uint8_t id, ULONG length) {
        std::array<std::uint8_t, 5> body{id};
        for (std::size_t i = 0; i < 4; ++i) body[1 + i] = static_cast<std::uint8_t>(length >> (8 * i));
        return body;
    }

    // One transfer at a time; a broken or silent simulator closes the connection for good.
    DWORD Call(MessageType type, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* answer) {
        std::lock_guard guard(lock_);
        if (fd_.Get() < 0) return ERROR_DEVICE_NOT_CONNECTED;
        if (payload.size() > simsocket::kMaxPayload) return ERROR_INVALID_PARAMETER;
        DWORD status = ERROR_GEN_FAILURE;
        std::span<const std::uint8_t> data;
        if (DWORD error = Transact(type, payload, status, data); error != ERROR_SUCCESS) return error;
        if (answer) answer->assign(data.begin(), data.end());
        return status;
    }

    // Sends one request and takes its reply, under lock_. ERROR_SUCCESS when the exchange
    // worked: the device's status is in `status` and its data in `data` (valid until the
    // next request); otherwise the connection is dropped.
    DWORD Transact(MessageType type, std::span<const std::uint8_t> payload, DWORD& status,
                   std::span<const std::uint8_t>& data) {
        if (!Quiet()) return ERROR_DEVICE_NOT_CONNECTED;
        next_ = (next_ + 1) & simsocket::kRequestNumberMask;
        IoStatus io = Send(type, payload);
        if (io == IoStatus::Ok) io = Receive(status, data);
        if (io == IoStatus::Ok) return ERROR_SUCCESS;
        Drop();
        return io == IoStatus::Timeout ? ERROR_SEM_TIMEOUT : ERROR_DEVICE_NOT_CONNECTED;
    }

    // The request as one frame, in one call unless the socket has no room for it.
    IoStatus Send(MessageType type, std::span<const std::uint8_t> payload) {
        if (!Prepare()) return IoStatus::Closed;
        frame_.resize(simsocket::kHeaderBytes + payload.size());
        simsocket::EncodeHeader(type, next_, static_cast<std::uint32_t>(payload.size()),
                                std::span(frame_).first<simsocket::kHeaderBytes>());
        if (!payload.empty()) std::memcpy(frame_.data() + simsocket::kHeaderBytes, payload.data(), payload.size());
        std::size_t done = 0;
        Clock::time_point deadline{};
        while (done < frame_.size()) {
            const ssize_t n = send(fd_.Get(), frame_.data() + done, frame_.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::Closed;
            if (deadline == Clock::time_point{})
                deadline = Clock::now() + std::chrono::milliseconds(simsocket::ReplyTimeoutMs());
            if (IoStatus waited = simsocket::Wait(fd_.Get(), POLLOUT, RemainingMs(deadline), -1); waited != IoStatus::Ok)
                return waited;
        }
        return IoStatus::Ok;
    }

    // The reply to request next_. The socket blocks for at most the reply time, so the
    // first read waits for the reply and, as a rule, brings all of it; what is missing then
    // must come within the reply time too. Bytes beyond the reply answer nothing this end
    // asked for: the reply is taken (it is the one awaited), and the connection is dropped
    // before the next request.
    IoStatus Receive(DWORD& status, std::span<const std::uint8_t>& data) {
        constexpr std::size_t kHeader = simsocket::kHeaderBytes;
        if (in_.size() < kFirstRead) in_.resize(kFirstRead);
        Clock::time_point deadline{};  // taken only when one read is not enough
        std::size_t got = 0, total = 0;
        simsocket::Header header;
        for (bool first = true;; first = false) {
            const std::size_t want = total == 0 ? in_.size() - got : total - got;
            const ssize_t n = recv(fd_.Get(), in_.data() + got, want, first ? 0 : MSG_DONTWAIT);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                if (total == 0 && got >= kHeader) {
                    if (!simsocket::DecodeHeader(std::span<const std::uint8_t, kHeader>(in_.data(), kHeader), header))
                        return IoStatus::Malformed;
                    total = kHeader + header.length;
                    if (in_.size() < total) in_.resize(total);
                }
                if (total != 0 && got >= total) break;
                continue;
            }
            if (n == 0) return IoStatus::Closed;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (first) return IoStatus::Timeout;  // the socket's own wait ran out
            } else if (errno != EINTR) {
                return IoStatus::Closed;
            }
            if (deadline == Clock::time_point{})
                deadline = Clock::now() + std::chrono::milliseconds(simsocket::ReplyTimeoutMs());
            if (IoStatus waited = simsocket::Wait(fd_.Get(), POLLIN, RemainingMs(deadline), -1); waited != IoStatus::Ok)
                return waited;
        }
        if (header.type != MessageType::Reply || header.number != next_ || header.length < 4) return IoStatus::Malformed;
        status = Le32(std::span<const std::uint8_t>(in_.data() + kHeader, 4));
        data = std::span<const std::uint8_t>(in_.data() + kHeader + 4, total - kHeader - 4);
        poisoned_ = got > total;
        return IoStatus::Ok;
    }

    // Before its first request a connection's socket is made blocking, with the reply time
    // as its receive time-out (set again whenever a test changed it).
    bool Prepare() {
        const int timeoutMs = std::max(simsocket::ReplyTimeoutMs(), 1);
        if (preparedMs_ == timeoutMs) return true;
        if (preparedMs_ < 0) {
            const int flags = fcntl(fd_.Get(), F_GETFL);
            if (flags < 0 || fcntl(fd_.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
        }
        const timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) return false;
        preparedMs_ = timeoutMs;
        return true;
    }

    // Before a request nothing may be waiting: data now answers nothing this end asked for
    // (a peer that answered twice, or out of turn), so the connection is not trusted any
    // more. A connection the simulator closed while idle is opened again, unless it held
    // the claim: that ended with it, and the program must learn so.
    bool Quiet() {
        if (poisoned_) {
            Drop();
            return false;
        }
        std::uint8_t byte = 0;
        ssize_t n = 0;
        do {
            n = recv(fd_.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n > 0 || claimed_ || socketPath_.empty() || !Reconnect()) {
            Drop();
            return false;
        }
        return true;
    }

    // A new connection to the same simulator, which must describe the same device and be the
    // same plug-in: a simulator started again under the name is another device.
    bool Reconnect() {
        Fd fd;
        vhid::DeviceInfo info;
        struct stat file {};
        next_ = (next_ + 1) & simsocket::kRequestNumberMask;
        if (!OwnedSocket(socketPath_, &file) || ConnectTo(socketPath_, fd) != ConnectResult::Connected ||
            !Probe(fd.Get(), simsocket::ReplyTimeoutMs(), next_, info) || !SameDevice(info, info_) ||
            SocketPlugId(socketPath_, file, fd.Get()) != info_.plugId)
            return false;
        fd_ = std::move(fd);
        preparedMs_ = -1;
        return true;
    }

    void Drop() {
        fd_.Reset();
        claimed_ = false;
        poisoned_ = false;
        preparedMs_ = -1;
    }

    // A reply of a flash chunk, and most others, fits the first read.
    static constexpr std::size_t kFirstRead = 4096;

    std::mutex lock_;
    Fd fd_;                  // under lock_, as everything below
    bool claimed_ = false;   // this connection holds the device's claim
    bool poisoned_ = false;  // bytes came after a reply: the connection goes before the next request
    int preparedMs_ = -1;    // the receive time-out the socket has; -1: not made blocking yet
    std::vector<std::uint8_t> frame_, in_;  // the request being sent, the reply being read
    std::uint32_t next_ = kProbeNumber;  // the last request number used
    vhid::DeviceInfo info_;
    std::u16string path_;
    std::string socketPath_;
};

class SocketProvider final : public hidtransport::Provider {
public:
    void Enumerate(std::vector<hidtransport::InterfaceInfo>& out) override {
        std::string directory;
        if (simsocket::RuntimeDirectory(false, directory) != ERROR_SUCCESS) return;
        std::vector<std::string> names;
        if (DIR* dir = opendir(directory.c_str())) {
            while (dirent* entry = readdir(dir))
                if (simsocket::IsValidSocketName(entry->d_name)) names.emplace_back(entry->d_name);
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = directory + "/" + name;
            struct stat file {};
            if (!OwnedSocket(path, &file)) continue;
            Fd fd;
            ConnectResult connected = ConnectTo(path, fd);
            if (connected == ConnectResult::Refused) {
                unlink(path.c_str());  // nobody listens: a simulator that died
                continue;
            }
            vhid::DeviceInfo info;
            if (connected != ConnectResult::Connected || !Probe(fd.Get(), simsocket::ProbeTimeoutMs(), kProbeNumber, info)) continue;
            out.push_back({PathOf(name), info.vendorId, info.productId, info.versionNumber, info.serialNumber,
                           info.portPath, SocketPlugId(path, file, fd.Get())});
        }
    }
    bool Owns(std::u16string_view path) const override { return path.starts_with(simsocket::kPathPrefix); }
    DWORD Open(std::u16string_view path, DWORD, DWORD, std::unique_ptr<hidtransport::Connection>& out) override {
        if (!Owns(path)) return ERROR_FILE_NOT_FOUND;
        const std::string name = Utf16ToUtf8(path.substr(simsocket::kPathPrefix.size()));
        if (!simsocket::IsValidSocketName(name)) return ERROR_FILE_NOT_FOUND;
        std::string directory;
        if (DWORD error = simsocket::RuntimeDirectory(false, directory); error != ERROR_SUCCESS)
            return error == ERROR_ACCESS_DENIED ? error : ERROR_FILE_NOT_FOUND;
        const std::string socketPath = directory + "/" + name;
        struct stat file {};
        if (!OwnedSocket(socketPath, &file)) return ERROR_FILE_NOT_FOUND;
        Fd fd;
        if (ConnectTo(socketPath, fd) != ConnectResult::Connected) return ERROR_FILE_NOT_FOUND;
        vhid::DeviceInfo info;
        if (!Probe(fd.Get(), simsocket::ReplyTimeoutMs(), kProbeNumber, info)) return ERROR_GEN_FAILURE;
        info.plugId = SocketPlugId(socketPath, file, fd.Get());
        out = std::make_unique<SocketConnection>(std::move(fd), std::move(info), std::u16string(path), socketPath);
        return ERROR_SUCCESS;
    }

private:
    static std::u16string PathOf(const std::string& name) {
        return std::u16string(simsocket::kPathPrefix) + Utf8ToUtf16(name);
    }
};

}  // namespace

std::shared_ptr<hidtransport::Provider> MakeSocketProvider() { return std::make_shared<SocketProvider>(); }

}  // namespace hidlibrary

std::unique_ptr<hidtransport::Connection> simsocket::AdoptConnection(int fd, vhid::DeviceInfo info,
                                                                     std::u16string path) {
    return std::make_unique<hidlibrary::SocketConnection>(hidlibrary::Fd(fd), std::move(info), std::move(path),
                                                          std::string());
}
