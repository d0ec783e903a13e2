#include "sim/socket_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {
namespace {

using simsocket::IoStatus;
using simsocket::MessageType;

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
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

}  // namespace

std::unique_ptr<SocketServer> SocketServer::Start(std::shared_ptr<vhid::DeviceHandler> handler, vhid::DeviceInfo info,
                                                  const std::string& socketPath, std::string& error) {
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
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || chmod(socketPath.c_str(), 0600) != 0 ||
        listen(fd, 8) != 0) {
        error = "cannot listen at " + socketPath + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        close(fd);
        unlink(socketPath.c_str());
        return nullptr;
    }
    std::unique_ptr<SocketServer> server(
        new SocketServer(std::move(handler), std::move(info), socketPath, fd, wake[0], wake[1]));
    server->acceptor_ = std::thread([s = server.get()] { s->AcceptLoop(); });
    return server;
}

SocketServer::SocketServer(std::shared_ptr<vhid::DeviceHandler> handler, vhid::DeviceInfo info, std::string path,
                           int listenFd, int wakeRead, int wakeWrite)
    : handler_(std::move(handler)), info_(std::move(info)), path_(std::move(path)), listenFd_(listenFd),
      wakeRead_(wakeRead), wakeWrite_(wakeWrite) {}

SocketServer::~SocketServer() { Stop(); }

void SocketServer::Stop() {
    if (stopped_.exchange(true)) return;
    const std::uint8_t byte = 1;
    [[maybe_unused]] ssize_t written = write(wakeWrite_, &byte, 1);
    if (acceptor_.joinable()) acceptor_.join();
    {
        std::lock_guard guard(clientsLock_);
        for (Client& client : clients_)
            if (client.thread.joinable()) client.thread.join();
        clients_.clear();
    }
    close(listenFd_);
    unlink(path_.c_str());
    close(wakeRead_);
    close(wakeWrite_);
}

void SocketServer::ReapFinished() {
    std::lock_guard guard(clientsLock_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (it->finished) {
            it->thread.join();
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void SocketServer::AcceptLoop() {
    for (;;) {
        // Waits for a connection (the listening socket turns readable) or for Stop.
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (fds[1].revents & POLLIN)) return;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors, say: back off instead of spinning, still waking for Stop.
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
                pollfd wake{wakeRead_, POLLIN, 0};
                if (poll(&wake, 1, 100) > 0) return;
            }
            continue;
        }
        ReapFinished();
        std::lock_guard guard(clientsLock_);
        if (clients_.size() >= kMaxClientConnections) {
            close(fd);
            continue;
        }
        Client& client = clients_.emplace_back();
        client.fd = fd;
        client.thread = std::thread([this, &client] { Serve(client); });
    }
}

void SocketServer::Serve(Client& client) {
    std::vector<std::uint8_t> reply;
    for (;;) {
        simsocket::Message request;
        IoStatus got = simsocket::ReceiveMessage(client.fd, request, -1, simsocket::kReplyTimeoutMs, wakeRead_);
        if (got != IoStatus::Ok) break;
        if (!Dispatch(request, reply)) break;
        if (simsocket::SendMessage(client.fd, MessageType::Reply, reply, simsocket::kReplyTimeoutMs) != IoStatus::Ok)
            break;
    }
    close(client.fd);
    client.finished = true;
}

bool SocketServer::Dispatch(const simsocket::Message& request, std::vector<std::uint8_t>& reply) {
    const std::vector<std::uint8_t>& body = request.payload;
    DWORD status = ERROR_SUCCESS;
    std::vector<std::uint8_t> data;
    switch (request.type) {
    case MessageType::Info:
        if (!body.empty()) return false;
        data = simsocket::EncodeInfo(info_);
        break;
    case MessageType::SetOutput:
    case MessageType::SetFeature:
    case MessageType::Write: {
        std::lock_guard guard(transfer_);
        status = request.type == MessageType::SetOutput    ? handler_->OnOutputReport(body)
                 : request.type == MessageType::SetFeature ? handler_->OnSetFeature(body)
                                                           : handler_->OnWrite(body);
        break;
    }
    case MessageType::GetInput:
    case MessageType::GetFeature: {
        if (body.size() != 5) return false;
        std::lock_guard guard(transfer_);
        status = request.type == MessageType::GetInput ? handler_->OnInputRequest(body[0], Le32(body, 1), data)
                                                       : handler_->OnGetFeature(body[0], Le32(body, 1), data);
        break;
    }
    case MessageType::Read: {
        if (body.size() != 4) return false;
        std::lock_guard guard(transfer_);
        status = handler_->OnRead(data, Le32(body, 0));
        break;
    }
    default: return false;  // a reply, or a type this end does not serve
    }
    if (data.size() > simsocket::kMaxPayload - 4) data.resize(simsocket::kMaxPayload - 4);
    reply.clear();
    for (int i = 0; i < 4; ++i) reply.push_back(static_cast<std::uint8_t>(status >> (8 * i)));
    reply.insert(reply.end(), data.begin(), data.end());
    return true;
}

}  // namespace sim
