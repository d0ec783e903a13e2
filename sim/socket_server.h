// Serves one device handler over a Unix-domain socket, the server end of the simulator
// socket transport (platform/hid/transport_socket.h has the wire format).
//
// One thread does every connection's socket I/O (epoll, non-blocking) and answers Info
// itself, so enumeration probes are answered while a transfer is slow; one worker thread
// serves the device requests (transfers and claims) one at a time, in arrival order. A
// connection has at most one request in service: its next message is read once the reply
// to the last one is sent. Against hostile or broken peers:
// - a malformed or oversized message closes that connection and nothing else;
// - a message must arrive whole, and a reply be taken, within the stall time, or that
//   connection is closed; the bodies being received share a memory budget, beyond which
//   the longest in transit is closed;
// - connections are bounded by the process's descriptors, not by a small count. At the
//   bound a new connection takes the place of the longest-stalled partial message, else of
//   the longest-idle connection (clients open an idle connection again by themselves);
//   never of the claim's holder or of one with a request in service. When none can go
//   the new one is closed at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/hid/transport_socket.h"
#include "platform/hid/virtual_device.h"

namespace sim {

inline constexpr int kStallTimeoutMs = 5000;
inline constexpr std::size_t kMaxConnectionsCap = 4096;
inline constexpr std::size_t kPartialBytesBudget = std::size_t{64} << 20;

struct ServerLimits {
    int stallTimeoutMs = kStallTimeoutMs;
    // 0: from the process's descriptor limit (less a reserve), at most kMaxConnectionsCap.
    std::size_t maxConnections = 0;
    std::size_t partialBytesBudget = kPartialBytesBudget;
};

// Gathers one message from a byte stream without reading past its end, in pieces of any
// size. The body grows as its bytes arrive, never on the header's word alone.
class FrameReader {
public:
    // Where the next bytes go: the rest of the header, then up to kBodyWindow of the body.
    // Empty once the message is complete.
    std::span<std::uint8_t> Space();
    // `count` bytes were placed at the start of Space(). False for a malformed header.
    bool Commit(std::size_t count);
    bool Started() const { return headerBytes_ > 0; }
    bool Complete() const { return headerBytes_ == simsocket::kHeaderBytes && bodyBytes_ == header_.length; }
    // Bytes of the body held so far.
    std::size_t BodyBytes() const { return bodyBytes_; }
    // The complete message; the reader starts over.
    simsocket::Message Take();

    static constexpr std::size_t kBodyWindow = 64 * 1024;

private:
    std::uint8_t headerRaw_[simsocket::kHeaderBytes]{};
    std::size_t headerBytes_ = 0;
    simsocket::Header header_;
    std::vector<std::uint8_t> body_;
    std::size_t bodyBytes_ = 0;
};

// Decodes and serves one request of a connection, and keeps the device's claim across
// connections. Device requests of one server are served in the order Serve is called.
class RequestServer {
public:
    RequestServer(std::shared_ptr<vhid::DeviceHandler> handler, const vhid::DeviceInfo& info);

    // The Reply payload for `request` from connection `client` (its process `pid`); false
    // for a request that closes the connection (a malformed body, a type this end does
    // not serve). While another connection holds the claim, transfers answer ERROR_BUSY.
    bool Serve(std::uint64_t client, std::uint32_t pid, const simsocket::Message& request,
               std::vector<std::uint8_t>& reply);
    // The connection ended: its claim, if it held it, is released.
    void Disconnected(std::uint64_t client);
    // The connection holding the claim.
    std::optional<std::uint64_t> Holder() const;

private:
    bool ServeClaim(std::uint64_t client, std::uint32_t pid, std::uint8_t op, DWORD& status, std::uint32_t& holderPid);

    std::shared_ptr<vhid::DeviceHandler> handler_;
    std::vector<std::uint8_t> info_;  // the encoded Info reply body
    std::mutex transfer_;             // one device request at a time; taken before claim_
    mutable std::mutex claim_;
    std::optional<std::uint64_t> holder_;  // under claim_, as the pid
    std::uint32_t holderPid_ = 0;
};

class SocketServer {
public:
    // Listens at socketPath. A socket file already there whose connect is refused (its
    // simulator died) is replaced; one that answers is left alone and Start fails.
    static std::unique_ptr<SocketServer> Start(std::shared_ptr<vhid::DeviceHandler> handler, vhid::DeviceInfo info,
                                               const std::string& socketPath, std::string& error,
                                               ServerLimits limits = {});
    ~SocketServer();
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Closes every connection, joins the threads and removes the socket file. Idempotent.
    void Stop();
    const std::string& SocketPath() const { return path_; }
    // Open connections now (for tests).
    std::size_t ConnectionCount() const { return connectionCount_; }

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Idle, Receiving, Serving, Sending };
    struct Connection {
        int fd = -1;
        std::uint64_t id = 0;
        std::uint32_t pid = 0;
        Phase phase = Phase::Idle;
        Clock::time_point since;  // when the phase began
        FrameReader reader;
        std::vector<std::uint8_t> out;  // the reply being sent
        std::size_t sent = 0;
    };
    struct Job {
        std::uint64_t client = 0;
        std::uint32_t pid = 0;
        simsocket::Message request;
    };
    struct Done {
        std::uint64_t client = 0;
        bool keep = false;
        std::vector<std::uint8_t> frame;  // the whole Reply message
    };

    SocketServer(std::shared_ptr<vhid::DeviceHandler> handler, const vhid::DeviceInfo& info, std::string path,
                 ServerLimits limits);
    bool Open(int listenFd, std::string& error);
    void Loop();
    void Work();
    void Accept();
    bool MakeRoom();
    void OnReadable(Connection& connection);
    void OnWritable(Connection& connection);
    void OnMessage(Connection& connection);
    void OnDone();
    void Reply(Connection& connection, std::vector<std::uint8_t> frame);
    void Watch(Connection& connection, std::uint32_t events);
    void SetPhase(Connection& connection, Phase phase);
    void Close(std::uint64_t id);
    void Sweep();

    RequestServer requests_;
    std::string path_;
    ServerLimits limits_;
    int listenFd_ = -1;
    int epollFd_ = -1;
    int wakeFd_ = -1;   // eventfd: Stop, or a reply from the worker
    int spareFd_ = -1;  // held in reserve, so a connection beyond the descriptors can be refused
    std::thread loop_, worker_;
    std::atomic<bool> stopped_{false};
    std::atomic<std::size_t> connectionCount_{0};

    // The I/O thread's own.
    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t nextId_ = 16;  // ids below are the listening socket and the wake event
    std::size_t partialBytes_ = 0;

    std::mutex queueLock_;
    std::condition_variable queueWake_;
    std::deque<Job> jobs_;    // under queueLock_, as the two below
    std::deque<Done> done_;
    bool stopping_ = false;
};

}  // namespace sim
