// Serves one device handler over a Unix-domain socket, the server end of the simulator
// socket transport (platform/hid/transport_socket.h has the wire format).
//
// Two threads wait on one epoll set of every connection (edge-triggered; every read and
// write asks not to wait). The thread that a request wakes reads it, and serves it itself:
// Info at once, a device request (a transfer or a claim) when the device is free, sending
// the reply from the same thread, so a request costs no hand-off between threads. The
// claim's holder, once answered, is taken out of the set and read by that thread with a
// blocking read of its socket alone, one system call a request where the set costs two;
// it goes back into the set when it gives the claim up or sends anything but whole small
// messages, and Stop wakes that read by shutting the socket down. Device requests are served one
// at a time in arrival order: one that comes while the device is busy waits in a queue,
// which the thread serving the device empties before it waits again. So one thread is
// always free to answer Info and to read and queue the others while a transfer is slow. A
// connection has at most one request in service: what it sends meanwhile (at most one
// small read ahead, the rest left in the socket) is taken once the reply is sent. Against
// hostile or broken peers:
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

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
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
    // The same into `message`, whose payload buffer the reader keeps for the next message
    // when it is small, so a connection's requests need no allocation each.
    void Take(simsocket::Message& message);

    static constexpr std::size_t kBodyWindow = 64 * 1024;
    static constexpr std::size_t kMinBodyStep = 4096;

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
    // The connection holding the claim; read without a lock, so asking costs nothing.
    std::optional<std::uint64_t> Holder() const;

private:
    bool ServeClaim(std::uint64_t client, std::uint32_t pid, std::uint8_t op, DWORD& status, std::uint32_t& holderPid);

    std::shared_ptr<vhid::DeviceHandler> handler_;
    std::vector<std::uint8_t> info_;  // the encoded Info reply body
    std::mutex transfer_;             // one device request at a time; taken before claim_
    std::vector<std::uint8_t> answer_;  // under transfer_: the device's answer, its buffer kept
    static constexpr std::uint64_t kNobody = ~std::uint64_t{0};  // no client has this id
    std::mutex claim_;
    std::atomic<std::uint64_t> holder_{kNobody};  // written under claim_
    std::uint32_t holderPid_ = 0;                 // under claim_
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
    static constexpr std::size_t kReadAhead = 512;
    struct Connection {
        int fd = -1;
        std::uint64_t id = 0;
        std::uint32_t pid = 0;
        Phase phase = Phase::Idle;
        Clock::time_point since;  // when the phase began
        FrameReader reader;
        // Bytes read past the message in hand (a client that did not wait for its reply),
        // taken once that message is answered.
        std::array<std::uint8_t, kReadAhead> ahead;
        std::size_t aheadAt = 0, aheadEnd = 0;
        bool unread = false;      // the socket may hold bytes no event will announce again
        bool watchingOut = false;
        bool detached = false;     // out of the event set: a thread reads it directly
        bool reading = false;      // a thread waits in a read of it, outside lock_
        bool closeWanted = false;  // closed while read: its reader closes it
        std::vector<std::uint8_t> out;  // the part of a reply the socket had no room for
        std::size_t sent = 0;
    };
    struct Job {
        std::uint64_t client = 0;
        std::uint32_t pid = 0;
        simsocket::Message request;
    };

    SocketServer(std::shared_ptr<vhid::DeviceHandler> handler, const vhid::DeviceInfo& info, std::string path,
                 ServerLimits limits);
    bool Open(int listenFd, std::string& error);
    void Loop();
    Connection* ServeDevice(Job& job, std::vector<std::uint8_t>& reply, std::uint64_t held);
    Connection* ReadDirect(Connection& connection, Job& job, std::vector<std::uint8_t>& reply);
    Connection* Direct(std::uint64_t candidate, std::uint64_t held);
    void Attach(Connection& connection);
    void Wake();
    void OnEvent(std::uint64_t id, std::uint32_t events);
    void Accept();
    bool MakeRoom();
    bool WithinBudget(Connection& connection, std::size_t more);
    void OnReadable(Connection& connection);
    bool OnMessage(Connection& connection);
    bool Reply(Connection& connection, std::uint32_t number, std::span<const std::uint8_t> payload);
    void OnWritable(Connection& connection);
    void Watch(Connection& connection, bool out);
    void SetPhase(Connection& connection, Phase phase);
    static bool Earlier(const Connection& a, const Connection& b);
    void Close(std::uint64_t id);
    void Sweep();
    void Queue(Connection& connection);
    bool Dequeue(Job& job);
    void Unqueue(std::uint64_t client);

    RequestServer requests_;
    std::string path_;
    ServerLimits limits_;
    int listenFd_ = -1;
    int epollFd_ = -1;
    int wakeFd_ = -1;   // eventfd: Stop
    int spareFd_ = -1;  // held in reserve, so a connection beyond the descriptors can be refused
    std::thread threads_[2];
    std::atomic<bool> stopped_{false};
    std::atomic<std::size_t> connectionCount_{0};

    std::mutex lock_;  // everything below; never held while a device request is served
    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t nextId_ = 16;  // ids below are the listening socket and the wake event
    std::size_t partialBytes_ = 0;
    Clock::time_point now_;  // read as a thread takes the lock: phases begin then
    Clock::time_point nextSweep_;
    bool deviceBusy_ = false;     // a thread is serving device requests
    std::vector<Job> queue_;      // device requests waiting, a ring whose slots keep their buffers
    std::size_t queueHead_ = 0, queued_ = 0;
    simsocket::Message incoming_;           // the message just read, before it is queued or answered
    std::vector<std::uint8_t> infoReply_;
};

}  // namespace sim
