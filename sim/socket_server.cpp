#include "sim/socket_server.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>

namespace sim {
namespace {

using simsocket::MessageType;

constexpr std::uint64_t kListenId = 1;
constexpr std::uint64_t kWakeId = 2;
constexpr std::size_t kAcceptsPerWake = 64;   // then the other connections get their turn
constexpr std::size_t kReadsPerWake = 8;      // pieces of one message read before the others
// A connection's events: edge-triggered, so a request wakes one thread once and a
// connection in service needs no change of its watch. EPOLLOUT only while a reply waits
// for room: a client taking a reply would otherwise wake a thread for nothing.
constexpr std::uint32_t kWatch = EPOLLIN | EPOLLRDHUP | EPOLLET;

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    out.insert(out.end(), bytes, bytes + 4);  // one insert: it is on every reply's path
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// True when something listens at path; unlinks a socket file nobody listens on.
bool LiveSocketAt(const std::string& path, const sockaddr_un& address) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISSOCK(st.st_mode)) return true;  // not ours to remove
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return true;
    int connected = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int err = errno;
    close(probe);
    if (connected == 0 || err != ECONNREFUSED) return true;
    unlink(path.c_str());
    return false;
}

// Binds and listens under a hidden name beside socketPath, then gives the socket its name.
// A client that sees the name appear (the change notifier wakes it at once) must never
// find it bound but not yet listening: its connect would be refused, and a refused socket
// is taken for a dead simulator and removed. The name is linked, not renamed, so that a
// simulator that took the name meanwhile is not replaced.
bool ListenAt(int fd, const std::string& socketPath, const sockaddr_un& address, std::string& error) {
    static std::atomic<unsigned> counter{0};
    const auto slash = socketPath.rfind('/');
    const std::string hidden = socketPath.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".bind-" +
                               std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    sockaddr_un hiddenAddress;
    // A name too long for the hidden one is bound directly (the window stays open then).
    const bool direct = !MakeAddress(hidden, hiddenAddress);
    const std::string& bound = direct ? socketPath : hidden;
    const sockaddr_un& at = direct ? address : hiddenAddress;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || chmod(bound.c_str(), 0600) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        error = "cannot listen at " + socketPath + ": " + std::strerror(errno);
        if (!direct) unlink(hidden.c_str());
        return false;
    }
    if (direct) return true;
    int linked = link(hidden.c_str(), socketPath.c_str());
    // A file system without hard links: the rename replaces what came meanwhile.
    if (linked != 0 && errno != EEXIST) linked = rename(hidden.c_str(), socketPath.c_str());
    const int err = errno;
    unlink(hidden.c_str());
    if (linked == 0) return true;
    error = err == EEXIST ? "another simulator (or another file) is at " + socketPath
                          : "cannot listen at " + socketPath + ": " + std::strerror(err);
    return false;
}

// Connections the descriptor limit allows, keeping a reserve for everything else.
std::size_t ConnectionsFromDescriptors() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxConnectionsCap;
    const auto descriptors = static_cast<std::size_t>(limit.rlim_cur);
    const std::size_t usable = descriptors > 128 ? descriptors - 64 : descriptors / 2;
    return std::clamp<std::size_t>(usable, 8, kMaxConnectionsCap);
}

}  // namespace

// ---- FrameReader

std::span<std::uint8_t> FrameReader::Space() {
    if (headerBytes_ < simsocket::kHeaderBytes)
        return {headerRaw_ + headerBytes_, simsocket::kHeaderBytes - headerBytes_};
    const std::size_t remaining = header_.length - bodyBytes_;
    if (remaining == 0) return {};
    // At most double what has arrived, so memory follows the bytes a peer really sent.
    const std::size_t step = std::min(remaining, std::clamp(bodyBytes_, kMinBodyStep, kBodyWindow));
    if (body_.size() < bodyBytes_ + step) body_.resize(bodyBytes_ + step);
    return {body_.data() + bodyBytes_, step};
}

bool FrameReader::Commit(std::size_t count) {
    if (headerBytes_ < simsocket::kHeaderBytes) {
        headerBytes_ = std::min(simsocket::kHeaderBytes, headerBytes_ + count);
        return headerBytes_ < simsocket::kHeaderBytes || simsocket::DecodeHeader(headerRaw_, header_);
    }
    bodyBytes_ = std::min<std::size_t>(header_.length, bodyBytes_ + count);
    return true;
}

simsocket::Message FrameReader::Take() {
    simsocket::Message message;
    Take(message);
    return message;
}

void FrameReader::Take(simsocket::Message& message) {
    message.type = header_.type;
    message.number = header_.number;
    body_.resize(bodyBytes_);
    std::swap(message.payload, body_);
    body_.clear();
    if (body_.capacity() > kMinBodyStep) std::vector<std::uint8_t>().swap(body_);
    headerBytes_ = 0;
    bodyBytes_ = 0;
    header_ = {};
}

// ---- RequestServer

RequestServer::RequestServer(std::shared_ptr<vhid::DeviceHandler> handler, const vhid::DeviceInfo& info)
    : handler_(std::move(handler)), info_(simsocket::EncodeInfo(info)) {}

bool RequestServer::Serve(std::uint64_t client, std::uint32_t pid, const simsocket::Message& request,
                          std::vector<std::uint8_t>& reply) {
    const std::vector<std::uint8_t>& body = request.payload;
    reply.clear();
    if (request.type == MessageType::Info) {
        if (!body.empty()) return false;
        PutLe32(reply, ERROR_SUCCESS);
        reply.insert(reply.end(), info_.begin(), info_.end());
        return true;
    }
    if (request.type == MessageType::Claim) {
        if (body.size() != 1) return false;
        std::lock_guard guard(transfer_);
        DWORD status = ERROR_SUCCESS;
        std::uint32_t holderPid = 0;
        if (!ServeClaim(client, pid, body[0], status, holderPid)) return false;
        PutLe32(reply, status);
        PutLe32(reply, holderPid);
        return true;
    }
    const bool input = request.type == MessageType::GetInput || request.type == MessageType::GetFeature;
    const bool output = request.type == MessageType::SetOutput || request.type == MessageType::SetFeature ||
                        request.type == MessageType::Write;
    if (!input && !output && request.type != MessageType::Read) return false;  // a reply, say
    if ((input && body.size() != 5) || (request.type == MessageType::Read && body.size() != 4)) return false;

    std::lock_guard guard(transfer_);
    DWORD status = ERROR_SUCCESS;
    std::vector<std::uint8_t>& data = answer_;
    data.clear();
    const auto holder = Holder();
    if (holder && *holder != client) {
        status = ERROR_BUSY;  // another program's frames must not land between the holder's
    } else {
        switch (request.type) {
        case MessageType::SetOutput: status = handler_->OnOutputReport(body); break;
        case MessageType::SetFeature: status = handler_->OnSetFeature(body); break;
        case MessageType::Write: status = handler_->OnWrite(body); break;
        case MessageType::GetInput: status = handler_->OnInputRequest(body[0], Le32(body, 1), data); break;
        case MessageType::GetFeature: status = handler_->OnGetFeature(body[0], Le32(body, 1), data); break;
        default: status = handler_->OnRead(data, Le32(body, 0)); break;
        }
    }
    if (data.size() > simsocket::kMaxPayload - 4) data.resize(simsocket::kMaxPayload - 4);
    PutLe32(reply, status);
    reply.insert(reply.end(), data.begin(), data.end());
    if (data.capacity() > FrameReader::kBodyWindow) std::vector<std::uint8_t>().swap(data);
    return true;
}

bool RequestServer::ServeClaim(std::uint64_t client, std::uint32_t pid, std::uint8_t op, DWORD& status,
                               std::uint32_t& holderPid) {
    std::lock_guard guard(claim_);
    const std::uint64_t holder = holder_;
    const bool other = holder != kNobody && holder != client;
    status = ERROR_SUCCESS;
    switch (op) {
    case 0:  // take
        if (other) {
            status = ERROR_BUSY;
            holderPid = holderPid_;
        } else {
            holder_ = client;
            holderPid_ = pid;
        }
        return true;
    case 1:  // release: only the holder's own
        if (holder == client) holder_ = kNobody;
        return true;
    case 2:  // query
        if (other) holderPid = holderPid_;
        return true;
    default: return false;
    }
}

void RequestServer::Disconnected(std::uint64_t client) {
    std::lock_guard guard(claim_);
    if (holder_ == client) holder_ = kNobody;
}

std::optional<std::uint64_t> RequestServer::Holder() const {
    const std::uint64_t holder = holder_;
    return holder == kNobody ? std::nullopt : std::optional(holder);
}

// ---- SocketServer

std::unique_ptr<SocketServer> SocketServer::Start(std::shared_ptr<vhid::DeviceHandler> handler, vhid::DeviceInfo info,
                                                  const std::string& socketPath, std::string& error,
                                                  ServerLimits limits) {
    sockaddr_un address;
    if (!MakeAddress(socketPath, address)) {
        error = "socket path too long or empty";
        return nullptr;
    }
    if (LiveSocketAt(socketPath, address)) {
        error = "another simulator (or another file) is at " + socketPath;
        return nullptr;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    if (!ListenAt(fd, socketPath, address, error)) {
        close(fd);
        return nullptr;
    }
    std::unique_ptr<SocketServer> server(new SocketServer(std::move(handler), info, socketPath, limits));
    if (!server->Open(fd, error)) return nullptr;  // its destructor closes and unlinks
    for (std::thread& thread : server->threads_) thread = std::thread([s = server.get()] { s->Loop(); });
    return server;
}

SocketServer::SocketServer(std::shared_ptr<vhid::DeviceHandler> handler, const vhid::DeviceInfo& info,
                           std::string path, ServerLimits limits)
    : requests_(std::move(handler), info), path_(std::move(path)), limits_(limits) {
    if (limits_.maxConnections == 0) limits_.maxConnections = ConnectionsFromDescriptors();
    limits_.stallTimeoutMs = std::max(limits_.stallTimeoutMs, 1);
}

bool SocketServer::Open(int listenFd, std::string& error) {
    listenFd_ = listenFd;
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    epoll_event listen{EPOLLIN, {.u64 = kListenId}};
    epoll_event wake{EPOLLIN, {.u64 = kWakeId}};
    if (epollFd_ < 0 || wakeFd_ < 0 || epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &listen) != 0 ||
        epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &wake) != 0) {
        error = std::string("cannot serve: ") + std::strerror(errno);
        return false;
    }
    return true;
}

SocketServer::~SocketServer() { Stop(); }

void SocketServer::Stop() {
    if (stopped_.exchange(true)) return;
    {
        std::lock_guard guard(lock_);
        for (auto& [id, connection] : connections_)
            if (connection->reading) shutdown(connection->fd, SHUT_RDWR);  // its thread leaves the read
    }
    if (wakeFd_ >= 0) Wake();
    for (std::thread& thread : threads_)
        if (thread.joinable()) thread.join();
    for (auto& [id, connection] : connections_) close(connection->fd);
    connections_.clear();
    connectionCount_ = 0;
    for (int fd : {listenFd_, epollFd_, wakeFd_, spareFd_})
        if (fd >= 0) close(fd);
    listenFd_ = epollFd_ = wakeFd_ = spareFd_ = -1;
    unlink(path_.c_str());
}

// The wake event is never read: once Stop wrote it, it stays readable, and each thread
// writes it again as it leaves, so a thread already asleep wakes too.
void SocketServer::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

void SocketServer::Loop() {
    const auto sweepEvery = std::chrono::milliseconds(std::clamp(limits_.stallTimeoutMs / 4, 10, 250));
    epoll_event events[64];
    Job job;  // the device request this thread serves; its buffers are kept for the next
    std::vector<std::uint8_t> reply;
    for (;;) {
        const int timeout = connectionCount_ > 0 ? static_cast<int>(sweepEvery.count()) : -1;
        const int n = epoll_wait(epollFd_, events, 64, timeout);
        if (stopped_) {
            Wake();
            return;
        }
        if (n < 0 && errno != EINTR) return;
        bool serve = false;
        {
            std::lock_guard guard(lock_);
            now_ = Clock::now();
            for (int i = 0; i < n; ++i) OnEvent(events[i].data.u64, events[i].events);
            if (now_ >= nextSweep_) {
                Sweep();
                nextSweep_ = now_ + sweepEvery;
            }
            if (!deviceBusy_ && Dequeue(job)) serve = deviceBusy_ = true;
        }
        if (!serve) continue;
        for (Connection* next = ServeDevice(job, reply, 0); next != nullptr;) next = ReadDirect(*next, job, reply);
    }
}

// The claim holder's next request, waited for with a blocking read of its socket alone
// (one system call, where the event set costs a wait and a read), and served. The socket
// is out of the event set meanwhile; Direct chose it and marked it read. The connection to
// read so next, or none when the thread goes back to the event set.
SocketServer::Connection* SocketServer::ReadDirect(Connection& connection, Job& job, std::vector<std::uint8_t>& reply) {
    ssize_t n = 0;
    do {
        n = recv(connection.fd, connection.ahead.data(), kReadAhead, 0);
    } while (n < 0 && errno == EINTR);
    std::unique_lock guard(lock_);
    now_ = Clock::now();
    connection.reading = false;
    const std::uint64_t id = connection.id;
    if (stopped_) return nullptr;  // Stop closes it
    if (n <= 0 || connection.closeWanted) {
        Close(id);
        return nullptr;
    }
    // One whole device request, as a holder waiting for its replies sends them: served as it
    // lies. Anything else (Info, pieces, more than one, a malformed header) goes the general
    // way, through the connection's reader and the queue.
    const auto got = static_cast<std::size_t>(n);
    simsocket::Header header;
    if (!deviceBusy_ && got < kReadAhead &&
        simsocket::DecodeHeader(std::span(connection.ahead).first<simsocket::kHeaderBytes>(), header) &&
        header.type != MessageType::Info && got == simsocket::kHeaderBytes + header.length) {
        job.client = id;
        job.pid = connection.pid;
        job.request.type = header.type;
        job.request.number = header.number;
        job.request.payload.assign(connection.ahead.begin() + simsocket::kHeaderBytes, connection.ahead.begin() + got);
        SetPhase(connection, Phase::Serving);
        deviceBusy_ = true;
        guard.unlock();
        return ServeDevice(job, reply, id);
    }
    connection.aheadAt = 0;
    connection.aheadEnd = got;
    connection.unread = got == kReadAhead;
    OnReadable(connection);
    if (!deviceBusy_ && Dequeue(job)) {
        deviceBusy_ = true;
        guard.unlock();
        return ServeDevice(job, reply, id);
    }
    // Info, answered; or a request that waits for the device or for more of its bytes.
    return Direct(id, id);
}

// Serves `job` and then every device request queued meanwhile, in order; under no lock
// of the connections', so the other thread goes on reading, queueing and answering Info.
// `held`: the connection this thread reads outside the event set, if any. The connection
// to read so next, or none.
SocketServer::Connection* SocketServer::ServeDevice(Job& job, std::vector<std::uint8_t>& reply, std::uint64_t held) {
    for (;;) {
        bool keep = false;
        try {
            keep = requests_.Serve(job.client, job.pid, job.request, reply);
        } catch (const std::exception&) {
            keep = false;  // out of memory, say: that request's connection goes
        }
        std::lock_guard guard(lock_);
        now_ = Clock::now();
        auto it = connections_.find(job.client);
        if (it == connections_.end()) {
            requests_.Disconnected(job.client);  // gone while served: a claim it took then is no one's
        } else if (!keep) {
            Close(job.client);
        } else if (Connection& connection = *it->second; Reply(connection, job.request.number, reply) &&
                                                         (connection.unread || connection.aheadAt < connection.aheadEnd)) {
            OnReadable(connection);  // what it sent while it was served
        }
        if (stopped_ || !Dequeue(job)) {
            deviceBusy_ = false;
            return Direct(job.client, held);
        }
    }
}

// Under lock_: whether `candidate` (the connection just answered) is read outside the
// event set next, and then marked as read. Only the claim's holder is: every other
// connection's device request is answered busy at once, so the other thread, on the event
// set, is never held up by a slow transfer meanwhile. Only one that is idle and whole,
// with nothing read ahead. `held`, the connection this thread has out of the event set,
// goes back unless it is the one chosen.
SocketServer::Connection* SocketServer::Direct(std::uint64_t candidate, std::uint64_t held) {
    Connection* chosen = nullptr;
    if (auto it = connections_.find(candidate); it != connections_.end() && !stopped_) {
        Connection& connection = *it->second;
        if (connection.phase == Phase::Idle && !connection.reader.Started() && !connection.unread &&
            connection.aheadAt == connection.aheadEnd && !connection.closeWanted && requests_.Holder() == candidate)
            chosen = &connection;
    }
    if (chosen != nullptr && chosen->id != held) {
        // Out of the set already would mean another thread reads it: never two.
        if (!chosen->detached && epoll_ctl(epollFd_, EPOLL_CTL_DEL, chosen->fd, nullptr) == 0)
            chosen->detached = true;
        else
            chosen = nullptr;
    }
    if (held != 0 && (chosen == nullptr || chosen->id != held))
        if (auto it = connections_.find(held); it != connections_.end()) Attach(*it->second);
    if (chosen != nullptr) chosen->reading = true;
    return chosen;
}

// Puts a connection read outside the event set back into it. Adding it reports what its
// socket holds already, so nothing that came meanwhile is missed.
void SocketServer::Attach(Connection& connection) {
    if (!connection.detached) return;
    epoll_event watch{kWatch | (connection.watchingOut ? EPOLLOUT : 0u), {.u64 = connection.id}};
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, connection.fd, &watch) != 0) {
        Close(connection.id);  // it could never be heard again
        return;
    }
    connection.detached = false;
}

void SocketServer::OnEvent(std::uint64_t id, std::uint32_t got) {
    if (id == kWakeId) return;  // Stop's, seen by the loop
    if (id == kListenId) {
        Accept();
        return;
    }
    auto it = connections_.find(id);
    if (it == connections_.end()) return;  // closed by an earlier event of this batch
    Connection& connection = *it->second;
    // Read by a thread outside the event set (an event taken before it left): that thread
    // sees what the socket holds, and the set reports it again when the connection is back.
    if (connection.detached) return;
    if (got & EPOLLERR) {
        Close(id);
        return;
    }
    switch (connection.phase) {
    case Phase::Serving:
    case Phase::Sending:
        if (got & EPOLLHUP) {
            Close(id);  // its reply has nobody to go to
            return;
        }
        // Read once the reply is sent: one request at a time.
        if (got & (EPOLLIN | EPOLLRDHUP)) connection.unread = true;
        if ((got & EPOLLOUT) && connection.phase == Phase::Sending) OnWritable(connection);
        return;
    case Phase::Idle:
    case Phase::Receiving:
        if (!(got & (EPOLLIN | EPOLLHUP | EPOLLRDHUP))) return;
        OnReadable(connection);
        // A request and the hang-up after it can come as one event: that edge will not be
        // seen again, and the request has nobody to answer to.
        if (got & EPOLLHUP) Close(id);
        return;
    }
}

void SocketServer::Accept() {
    for (std::size_t i = 0; i < kAcceptsPerWake; ++i) {
        // A blocking socket, for the claim holder's direct read; every other read and write
        // asks not to wait.
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if ((errno == EMFILE || errno == ENFILE) && spareFd_ >= 0) {
                // Out of descriptors: take the connection with the spare one and close it,
                // so its client learns at once instead of waiting in the backlog.
                close(spareFd_);
                int refused = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (refused >= 0) close(refused);
                spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
                continue;
            }
            return;  // EAGAIN: none waiting (or nothing to be done before the next wake)
        }
        if (connections_.size() >= limits_.maxConnections && !MakeRoom()) {
            close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->id = nextId_++;
        connection->since = now_;
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && credentials.pid > 0)
            connection->pid = static_cast<std::uint32_t>(credentials.pid);
        epoll_event watch{kWatch, {.u64 = connection->id}};
        if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &watch) != 0) {
            close(fd);
            continue;
        }
        connections_.emplace(connection->id, std::move(connection));
        connectionCount_ = connections_.size();
    }
}

// Closes one connection to make room for a new one: the partial message longest in
// transit, else the connection idle longest. Never the claim's holder, never one with a
// request in service or a reply on its way.
bool SocketServer::MakeRoom() {
    const auto holder = requests_.Holder();
    const Connection* victim = nullptr;
    for (const auto& [id, connection] : connections_) {
        if (id == holder || connection->phase == Phase::Serving || connection->phase == Phase::Sending) continue;
        const bool better = victim == nullptr ||
                            (connection->phase == Phase::Receiving && victim->phase == Phase::Idle) ||
                            (connection->phase == victim->phase && Earlier(*connection, *victim));
        if (better) victim = connection.get();
    }
    if (victim == nullptr) return false;
    Close(victim->id);
    return true;
}

// Room in the budget of bodies in transit for `more` bytes of this connection's: the
// longest in transit gives way. False when that is this connection (it is closed).
bool SocketServer::WithinBudget(Connection& connection, std::size_t more) {
    while (connection.reader.Started() && partialBytes_ + more > limits_.partialBytesBudget) {
        const Connection* oldest = nullptr;
        for (const auto& [otherId, other] : connections_)
            if (other->phase == Phase::Receiving && (oldest == nullptr || Earlier(*other, *oldest)))
                oldest = other.get();
        if (oldest == nullptr || oldest == &connection) {
            Close(connection.id);
            return false;
        }
        Close(oldest->id);
    }
    return true;
}

// Reads up to one whole message and acts on it; Info answered, the next is read too.
// A header and a small body come in one read, into the connection's read-ahead buffer
// (what lies beyond the message waits there); a large body is read where it goes.
void SocketServer::OnReadable(Connection& connection) {
    const std::uint64_t id = connection.id;
    for (std::size_t reads = 0;;) {
        const std::span<std::uint8_t> space = connection.reader.Space();
        if (!WithinBudget(connection, space.size())) return;
        const std::size_t before = connection.reader.BodyBytes();
        if (connection.aheadAt < connection.aheadEnd) {
            const std::size_t count = std::min(space.size(), connection.aheadEnd - connection.aheadAt);
            std::memcpy(space.data(), connection.ahead.data() + connection.aheadAt, count);
            connection.aheadAt += count;
            if (!connection.reader.Commit(count)) {
                Close(id);
                return;
            }
        } else {
            if (reads++ == kReadsPerWake) break;
            const bool ahead = space.size() < kReadAhead;
            const std::size_t want = ahead ? kReadAhead : space.size();
            const ssize_t n = recv(connection.fd, ahead ? connection.ahead.data() : space.data(), want, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                connection.unread = false;
                return;
            }
            if (n <= 0) {
                Close(id);  // the peer left (or broke) between or inside messages
                return;
            }
            // A read that filled its buffer may have left bytes behind; one that did not
            // took all there was, and anything later comes with an event of its own.
            connection.unread = static_cast<std::size_t>(n) == want;
            if (ahead) {
                connection.aheadAt = 0;
                connection.aheadEnd = static_cast<std::size_t>(n);
                continue;
            }
            connection.reader.Commit(static_cast<std::size_t>(n));  // body bytes: nothing to refuse
        }
        partialBytes_ += connection.reader.BodyBytes() - before;
        if (connection.reader.Complete()) {
            partialBytes_ -= connection.reader.BodyBytes();
            if (!OnMessage(connection)) return;
        } else if (connection.phase == Phase::Idle) {
            SetPhase(connection, Phase::Receiving);  // from here it must arrive within the stall time
        }
    }
    // Its reads are spent with bytes still in the socket: the edge that announced them is
    // gone, so ask for another, behind the other connections' events.
    if (connection.unread) Watch(connection, connection.watchingOut);
}

// A whole message: Info is answered here, a device request queued. True when the
// connection is ready for its next message.
bool SocketServer::OnMessage(Connection& connection) {
    connection.reader.Take(incoming_);
    if (incoming_.type == MessageType::Info) {
        // Answered here, not behind a slow transfer: enumeration must go on.
        if (!requests_.Serve(connection.id, connection.pid, incoming_, infoReply_)) {
            Close(connection.id);
            return false;
        }
        return Reply(connection, incoming_.number, infoReply_);
    }
    SetPhase(connection, Phase::Serving);
    Queue(connection);
    return false;
}

// Sends a reply whole if the socket has room, else what fits and the rest as it drains.
// True when it went whole (the connection is idle again).
bool SocketServer::Reply(Connection& connection, std::uint32_t number, std::span<const std::uint8_t> payload) {
    std::uint8_t header[simsocket::kHeaderBytes];
    simsocket::EncodeHeader(MessageType::Reply, number, static_cast<std::uint32_t>(payload.size()), header);
    iovec parts[2] = {{header, sizeof header}, {const_cast<std::uint8_t*>(payload.data()), payload.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    ssize_t n = 0;
    do {
        n = sendmsg(connection.fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        Close(connection.id);
        return false;
    }
    const std::size_t sent = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (sent == sizeof header + payload.size()) {
        SetPhase(connection, Phase::Idle);
        return true;
    }
    connection.out.assign(header, header + sizeof header);
    connection.out.insert(connection.out.end(), payload.begin(), payload.end());
    connection.sent = sent;
    SetPhase(connection, Phase::Sending);
    Watch(connection, true);
    return false;
}

void SocketServer::OnWritable(Connection& connection) {
    while (connection.sent < connection.out.size()) {
        const ssize_t n = send(connection.fd, connection.out.data() + connection.sent,
                               connection.out.size() - connection.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            connection.sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // the next EPOLLOUT goes on
        Close(connection.id);
        return;
    }
    connection.out = {};
    SetPhase(connection, Phase::Idle);
    Watch(connection, false);
    if (connection.unread || connection.aheadAt < connection.aheadEnd) OnReadable(connection);
}

void SocketServer::Watch(Connection& connection, bool out) {
    connection.watchingOut = out;
    if (connection.detached) {
        Attach(connection);  // with its new watch
        return;
    }
    epoll_event watch{kWatch | (out ? EPOLLOUT : 0u), {.u64 = connection.id}};
    epoll_ctl(epollFd_, EPOLL_CTL_MOD, connection.fd, &watch);
}

// Phases begun under one taking of the lock share a time; the one accepted first counts
// as the earlier.
bool SocketServer::Earlier(const Connection& a, const Connection& b) {
    return a.since < b.since || (a.since == b.since && a.id < b.id);
}

void SocketServer::SetPhase(Connection& connection, Phase phase) {
    connection.phase = phase;
    connection.since = now_;
}

void SocketServer::Close(std::uint64_t id) {
    auto it = connections_.find(id);
    if (it == connections_.end()) return;
    Connection& connection = *it->second;
    if (connection.reading) {
        // A thread waits in a read of it: wake that thread, which closes it.
        shutdown(connection.fd, SHUT_RDWR);
        connection.closeWanted = true;
        return;
    }
    if (connection.phase == Phase::Receiving) partialBytes_ -= connection.reader.BodyBytes();
    if (!connection.detached) epoll_ctl(epollFd_, EPOLL_CTL_DEL, connection.fd, nullptr);
    close(connection.fd);
    // A request still queued is dropped; one in service is answered into the void, and
    // its server releases a claim it took.
    Unqueue(id);
    requests_.Disconnected(id);
    connections_.erase(it);
    connectionCount_ = connections_.size();
}

// Closes the connections stalled inside a message or a reply.
void SocketServer::Sweep() {
    const auto limit = now_ - std::chrono::milliseconds(limits_.stallTimeoutMs);
    std::vector<std::uint64_t> stalled;
    for (const auto& [id, connection] : connections_)
        if ((connection->phase == Phase::Receiving || connection->phase == Phase::Sending) && connection->since <= limit)
            stalled.push_back(id);
    for (std::uint64_t id : stalled) Close(id);
}

// ---- the queue of device requests: a ring whose slots keep their buffers

void SocketServer::Queue(Connection& connection) {
    if (queued_ == queue_.size()) {
        std::rotate(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queueHead_), queue_.end());
        queueHead_ = 0;
        queue_.resize(std::max<std::size_t>(4, queue_.size() * 2));
    }
    Job& slot = queue_[(queueHead_ + queued_) % queue_.size()];
    slot.client = connection.id;
    slot.pid = connection.pid;
    std::swap(slot.request, incoming_);
    ++queued_;
}

bool SocketServer::Dequeue(Job& job) {
    if (queued_ == 0) return false;
    std::swap(job, queue_[queueHead_]);
    queueHead_ = (queueHead_ + 1) % queue_.size();
    --queued_;
    return true;
}

void SocketServer::Unqueue(std::uint64_t client) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < queued_; ++i) {
        Job& job = queue_[(queueHead_ + i) % queue_.size()];
        if (job.client == client) continue;
        if (kept != i) std::swap(queue_[(queueHead_ + kept) % queue_.size()], job);
        ++kept;
    }
    queued_ = kept;
}

}  // namespace sim
