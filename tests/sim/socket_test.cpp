// The simulator socket transport (server, client, hostile peers, the runtime directory) and the
// uvc_hid_sim program. Each test has its own runtime directory.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "platform/hid/change_notifier.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/hidsdi.h"
#include "platform/hid/transport_socket.h"
#include "platform/win/file_api.h"
#include "platform/win/handles.h"
#include "sim/socket_server.h"
#include "sim_bench.h"

extern char** environ;

namespace {

using namespace simtest;
using hidtransport::ClaimOp;
using simsocket::IoStatus;
using simsocket::MessageType;

// True once `condition` holds, polled for up to five seconds.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// A stream socket bound to `path` (listening when `backlog` is set), or connected to it:
// -1 when the connect fails.
int UnixSocket(const std::string& path, bool connectTo, int backlog = 0) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (connectTo) return connect(fd, raw, sizeof address) == 0 ? fd : (close(fd), -1);
    EXPECT_EQ(bind(fd, raw, sizeof address), 0) << path;
    EXPECT_EQ(backlog > 0 ? listen(fd, backlog) : 0, 0);
    return fd;
}
bool SendAll(int fd, const Bytes& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}
void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
// True when the peer closes the connection within a few seconds.
bool ClosedByPeer(int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return poll(&p, 1, 5000) > 0 && recv(fd, &byte, 1, 0) <= 0;
}
Bytes InputRequest(std::uint32_t number, ULONG length) {
    Bytes body{2};
    Append(body, Le4(length));
    return simsocket::EncodeMessage(MessageType::GetInput, number, body);
}
Bytes ReplyFrame(std::uint32_t number, DWORD status, const Bytes& data = {}, MessageType type = MessageType::Reply) {
    Bytes payload = Le4(status);
    Append(payload, data);
    return simsocket::EncodeMessage(type, number, payload);
}

// Sets XDG_RUNTIME_DIR to a fresh directory, so that tests see only their own simulators.
class SimSocket : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/uvc-sim-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old;
        setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
        std::string directory;
        ASSERT_EQ(simsocket::RuntimeDirectory(true, directory), ERROR_SUCCESS);
        hidlibrary::EnsureRegistered();
    }
    void TearDown() override {
        server.reset();
        simsocket::SetClientTimeouts(simsocket::kReplyTimeoutMs, simsocket::kProbeTimeoutMs);
        saved_.empty() ? unsetenv("XDG_RUNTIME_DIR") : setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::string& Root() const { return root_; }
    std::string SimDir() const { return root_ + "/uvc-hid-sim"; }
    std::string OneSock() const { return SimDir() + "/one.sock"; }

    static hidtransport::Provider& Provider() {
        for (auto& provider : hidtransport::Providers())
            if (provider->Owns(u"\\\\?\\simhid#x.sock")) return *provider;
        ADD_FAILURE() << "no socket provider registered";
        std::abort();
    }
    // Serves a fresh simulated device at OneSock().
    bool Serve(sim::ServerLimits limits = {}) {
        std::string error;
        device = sim::SimulatedDevice::Create({}, error);
        if (device) server = sim::SocketServer::Start(device, device->Info(), OneSock(), error, limits);
        EXPECT_TRUE(server) << error;
        return server != nullptr;
    }
    static std::unique_ptr<hidtransport::Connection> Open(const std::string& name = "one.sock") {
        std::unique_ptr<hidtransport::Connection> connection;
        EXPECT_EQ(Provider().Open(u"\\\\?\\simhid#" + std::u16string(name.begin(), name.end()), 0, 0, connection),
                  ERROR_SUCCESS);
        return connection;
    }
    static std::vector<hidtransport::InterfaceInfo> Enumerate() {
        std::vector<hidtransport::InterfaceInfo> out;
        Provider().Enumerate(out);
        return out;
    }
    // Leaves a socket file nobody listens on, as a killed simulator does.
    static void BindWithoutListening(const std::string& path) { close(UnixSocket(path, false)); }

    std::shared_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<sim::SocketServer> server;

private:
    std::string root_;
    std::string saved_;
};

// ---- the transport in one process

// A stale socket is skipped and unlinked, and a new simulator may take its name; a live one
// keeps its own, one that never answers is skipped but left alone, and a stopped one removes
// its socket and fails its connections' calls as disconnected.
TEST_F(SimSocket, EnumerationUnlinksStaleSocketsAndSkipsSilentOnesAndStopIsADisconnect) {
    ASSERT_TRUE(Serve());
    auto connection = Open();
    ASSERT_TRUE(connection);
    const std::string stale = SimDir() + "/dead.sock", silentPath = SimDir() + "/silent.sock";
    BindWithoutListening(stale);
    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, u"\\\\?\\simhid#one.sock");
    EXPECT_FALSE(std::filesystem::exists(stale));
    BindWithoutListening(stale);
    std::string error;
    auto second = sim::SocketServer::Start(device, device->Info(), stale, error);
    EXPECT_TRUE(second) << error;
    EXPECT_FALSE(sim::SocketServer::Start(device, device->Info(), OneSock(), error)) << "live";
    simsocket::SetClientTimeouts(2000, 300);
    const int silent = UnixSocket(silentPath, false, 4);  // listens, never accepts
    EXPECT_EQ(Enumerate().size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(silentPath)) << "alive: not unlinked";
    close(silent);
    server->Stop();
    EXPECT_FALSE(std::filesystem::exists(OneSock()));
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection->FlushQueue(), ERROR_DEVICE_NOT_CONNECTED);
}

// Each malformed message closes its own connection without reaching a handler; the server goes on.
TEST_F(SimSocket, GarbageClosesThatConnectionOnly) {
    const Bytes garbage[] = {
        {0xFF, 0xFF, 0xFF, 0x7F, 0x02, 0, 0, 0},              // oversized length
        {0x00, 0x00, 0x00, 0x00, 0x42, 0, 0, 0},              // unknown type
        {0x04, 0x00, 0x00, 0x00, 0x80, 0, 0, 0, 1, 2, 3, 4},  // a reply type from a client
        {0x01, 0x00, 0x00, 0x00, 0x08, 0, 0, 0, 7},           // claim with an unknown op
        {0x00, 0x00, 0x00, 0x00, 0x08, 0, 0, 0},              // claim without an op
        {0x02, 0x00, 0x00, 0x00, 0x03, 0, 0, 0, 2, 0x40},     // input request too short
        {0x01, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 9},           // info with a body
    };
    ASSERT_TRUE(Serve());
    auto connection = Open();
    ASSERT_TRUE(connection);
    Bytes answer;
    for (const Bytes& bytes : garbage) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        const int raw = UnixSocket(OneSock(), true);
        EXPECT_TRUE(SendAll(raw, bytes));
        EXPECT_TRUE(ClosedByPeer(raw));
        close(raw);
        EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    }
    EXPECT_EQ(device->TransferCount(), std::size(garbage)) << "the garbage reached no handler";
}

TEST_F(SimSocket, ClaimKeepsEveryTransferOfOtherConnectionsOut) {
    ASSERT_TRUE(Serve());
    auto holder = Open(), other = Open();
    ASSERT_TRUE(holder && other);
    const auto self = static_cast<std::uint32_t>(getpid());
    std::uint32_t pid = 99;
    ASSERT_EQ(holder->Claim(ClaimOp::Take, pid), ERROR_SUCCESS);
    EXPECT_EQ(pid, 0u);
    EXPECT_EQ(holder->Claim(ClaimOp::Take, pid), ERROR_SUCCESS) << "taken again by its holder";
    EXPECT_EQ(other->Claim(ClaimOp::Take, pid), ERROR_BUSY);
    EXPECT_EQ(pid, self) << "the holder's pid, from the socket's credentials";
    EXPECT_EQ(other->Claim(ClaimOp::Query, pid), ERROR_SUCCESS);
    EXPECT_EQ(pid, self);
    EXPECT_EQ(holder->Claim(ClaimOp::Query, pid), ERROR_SUCCESS);
    EXPECT_EQ(pid, 0u) << "its own claim is no other's";

    const Bytes control = Bench().Control(0x06, 0x01, {Le4(0x58)});
    const std::uint64_t before = device->TransferCount();
    Bytes answer;
    EXPECT_EQ((std::vector<DWORD>{other->SetOutputReport(control), other->GetInputReport(2, 0x240, answer),
                                  other->SetFeature(control), other->GetFeature(2, 64, answer),
                                  other->WriteReport(control), other->ReadReport(answer, 64)}),
              std::vector<DWORD>(6, ERROR_BUSY));
    EXPECT_EQ(device->TransferCount(), before) << "no refused transfer reached the device";
    EXPECT_EQ(holder->SetOutputReport(control), ERROR_SUCCESS);

    EXPECT_EQ(other->Claim(ClaimOp::Release, pid), ERROR_SUCCESS) << "nothing of its own to release";
    EXPECT_EQ(other->Claim(ClaimOp::Take, pid), ERROR_BUSY) << "and the holder's claim stands";
    EXPECT_EQ(holder->Claim(ClaimOp::Release, pid), ERROR_SUCCESS);
    EXPECT_EQ(other->Claim(ClaimOp::Take, pid), ERROR_SUCCESS);
    EXPECT_EQ(holder->GetInputReport(2, 0x240, answer), ERROR_BUSY);
    EXPECT_EQ(holder->Claim(static_cast<ClaimOp>(7), pid), ERROR_INVALID_PARAMETER);
    other.reset();  // a holder that goes away releases the device
    EXPECT_TRUE(Eventually([&] { return holder->Claim(ClaimOp::Take, pid) == ERROR_SUCCESS; }));
}

// Enumeration is answered while a transfer is slow; a client whose wait runs out gets a
// timeout rather than hanging, and later calls fail as disconnected.
TEST_F(SimSocket, SlowTransferNeitherHoldsUpEnumerationNorHangsTheClient) {
    ASSERT_TRUE(Serve());
    simsocket::SetClientTimeouts(5000, 1000);
    auto connection = Open();
    ASSERT_TRUE(connection);
    device->SetDelay(std::chrono::milliseconds(1500));
    std::thread slow([&] {
        Bytes answer;
        EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Enumerate().size(), 1u) << "the probe waited behind the transfer";
    slow.join();
    simsocket::SetClientTimeouts(150, 150);
    device->SetDelay(std::chrono::milliseconds(400));
    const auto start = std::chrono::steady_clock::now();
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SEM_TIMEOUT);
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// A client that sends its requests without waiting for the replies (and takes none for a
// while, so that the server's replies fill the socket) gets them one at a time and in
// order: a large body read in parts, Info between device requests, then a thousand more.
// It holds the claim, so it is read by a thread of its own until its replies fill up.
TEST_F(SimSocket, RequestsSentAheadOfTheirRepliesAreServedOneAtATimeInOrder) {
    ASSERT_TRUE(Serve());
    constexpr std::uint32_t kInputs = 2000;
    const int raw = UnixSocket(OneSock(), true);
    simsocket::Message claimed;
    ASSERT_TRUE(SendAll(raw, simsocket::EncodeMessage(MessageType::Claim, 0, Bytes{0})));
    ASSERT_EQ(simsocket::ReceiveMessage(raw, claimed, 5000, 5000), IoStatus::Ok);
    ASSERT_EQ(Le32(claimed.payload), DWORD{ERROR_SUCCESS});
    Bytes stream = simsocket::EncodeMessage(MessageType::Write, 1, Pattern(3000, 0x10));
    Append(stream, simsocket::EncodeMessage(MessageType::Info, 2, {}));
    for (std::uint32_t i = 0; i < kInputs; ++i) Append(stream, InputRequest(3 + i, 0x240));
    ASSERT_TRUE(SendAll(raw, stream));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (std::uint32_t number = 1; number < 3 + kInputs; ++number) {
        simsocket::Message reply;
        ASSERT_EQ(simsocket::ReceiveMessage(raw, reply, 5000, 5000), IoStatus::Ok) << number;
        ASSERT_EQ(std::tuple(reply.type, reply.number), std::tuple(MessageType::Reply, number));
        if (number == 2) {
            EXPECT_EQ(Bytes(reply.payload.begin() + 4, reply.payload.end()), simsocket::EncodeInfo(device->Info()));
        }
    }
    close(raw);
    const auto log = device->Log();
    ASSERT_EQ(log.size(), 1 + kInputs);
    EXPECT_EQ(std::tuple(log[0].direction, log[0].bytes), std::tuple(sim::Direction::Write, Pattern(3000, 0x10)));
}

// Device requests of several connections wait while the device is busy and are served in
// the order they came; one whose client left meanwhile never reaches the device.
TEST_F(SimSocket, DeviceRequestsOfSeveralConnectionsAreServedInArrivalOrder) {
    ASSERT_TRUE(Serve());
    device->SetDelay(std::chrono::milliseconds(20));
    std::vector<int> clients;
    for (ULONG command = 1; command <= 7; ++command) {
        clients.push_back(UnixSocket(OneSock(), true));
        ASSERT_TRUE(SendAll(clients.back(), InputRequest(command, command << 8 | 0x40)));
        if (command == 4) close(clients.back()), clients.back() = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (clients[i] < 0) continue;
        simsocket::Message reply;
        EXPECT_EQ(simsocket::ReceiveMessage(clients[i], reply, 5000, 5000), IoStatus::Ok);
        EXPECT_EQ(reply.number, i + 1);
        close(clients[i]);
    }
    std::vector<ULONG> served;
    for (const auto& record : device->Log()) served.push_back(record.requestedLength >> 8);
    EXPECT_EQ(served, (std::vector<ULONG>{1, 2, 3, 5, 6, 7}));
}

// The claim's holder is read by a thread of its own, outside the event set: the other
// connections are answered meanwhile, the holder's message in pieces, a large one and two
// sent at once are served, it is heard through the event set again once it gives the claim
// up, a message of its that stalls is closed, and Stop ends the holder's read.
TEST_F(SimSocket, TheClaimHoldersOwnReaderLeavesOthersServedAndEndsWithTheServer) {
    ASSERT_TRUE(Serve({.stallTimeoutMs = 400}));
    std::uint32_t number = 0;
    // The status of the reply to request `expected`, which must come next on `fd`.
    auto reply = [](int fd, std::uint32_t expected) {
        simsocket::Message message;
        if (simsocket::ReceiveMessage(fd, message, 3000, 3000) != IoStatus::Ok || message.payload.size() < 4) return ~0u;
        EXPECT_EQ(message.number, expected);
        return Le32(message.payload);
    };
    auto claim = [&](int fd, std::uint8_t op) {
        SendAll(fd, simsocket::EncodeMessage(MessageType::Claim, ++number, Bytes{op}));
        return reply(fd, number);
    };
    auto input = [&](int fd) {
        SendAll(fd, InputRequest(++number, 0x440));
        return reply(fd, number);
    };
    {
        // Only the holder is read so: a quiet connection without the claim keeps no thread
        // from enumeration while another connection's transfer is slow.
        simsocket::SetClientTimeouts(5000, 300);
        auto quiet = Open(), slowOne = Open();
        ASSERT_TRUE(quiet && slowOne);
        Bytes answer;
        ASSERT_EQ(quiet->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
        device->SetDelay(std::chrono::milliseconds(1000));
        std::thread slow([&] { EXPECT_EQ(slowOne->GetInputReport(2, 0x440, answer), ERROR_SUCCESS); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(Enumerate().size(), 1u) << "the probe waited behind the transfer";
        slow.join();
        device->SetDelay(std::chrono::microseconds(0));
    }
    const int holder = UnixSocket(OneSock(), true);
    ASSERT_EQ(claim(holder, 0), ERROR_SUCCESS);
    ASSERT_EQ(input(holder), ERROR_SUCCESS);  // from here read directly

    auto other = Open();
    ASSERT_TRUE(other);
    Bytes answer;
    EXPECT_EQ(other->GetInputReport(2, 0x440, answer), ERROR_BUSY);
    const Bytes split = InputRequest(++number, 0x440);
    SendAll(holder, Head(split, 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Enumerate().size(), 1u) << "enumeration waited behind the holder's unfinished message";
    SendAll(holder, Bytes(split.begin() + 5, split.end()));
    EXPECT_EQ(reply(holder, number), ERROR_SUCCESS);
    Bytes two = simsocket::EncodeMessage(MessageType::Write, ++number, Pattern(3000, 0x10));
    Append(two, InputRequest(++number, 0x440));
    SendAll(holder, two);
    EXPECT_EQ(reply(holder, number - 1), ERROR_GEN_FAILURE);  // no report the model takes, but it reached it
    EXPECT_EQ(reply(holder, number), ERROR_SUCCESS);
    EXPECT_EQ(device->TransferCount(), 6u);

    EXPECT_EQ(claim(holder, 1), ERROR_SUCCESS);
    std::uint32_t pid = 0;
    EXPECT_EQ(other->Claim(ClaimOp::Take, pid), ERROR_SUCCESS);
    EXPECT_EQ(input(holder), ERROR_BUSY) << "heard again, as one of the others";
    EXPECT_EQ(other->Claim(ClaimOp::Release, pid), ERROR_SUCCESS);
    EXPECT_EQ(claim(holder, 0), ERROR_SUCCESS);
    EXPECT_EQ(input(holder), ERROR_SUCCESS);
    SendAll(holder, Head(InputRequest(++number, 0x440), 3));
    EXPECT_TRUE(ClosedByPeer(holder)) << "a stalled message of the holder's is closed too";
    close(holder);

    EXPECT_TRUE(Eventually([&] { return other->Claim(ClaimOp::Take, pid) == ERROR_SUCCESS; }));
    EXPECT_EQ(other->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    auto stopped = std::async(std::launch::async, [&] { server->Stop(); });
    const bool ended = stopped.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(ended) << "Stop waited for the holder's next request";
    if (!ended) other.reset();  // lets it end
    stopped.wait();
}

// ---- hostile peers: an impostor simulator in SimDir()

vhid::DeviceInfo FakeInfo(USHORT productId) {
    vhid::DeviceInfo info;
    info.vendorId = 0x1209;
    info.productId = productId;
    info.reportDescriptor = {0x06, 0x00, 0xFF};
    return info;
}

// Answers Info on its k-th connection with infos[k] (the last for later ones), sends
// `afterInfo` unasked after the first Info reply, and answers every other request as its
// script says. One connection at a time.
class FakePeer {
public:
    struct Action {
        Bytes bytes;             // sent as they are
        bool close = false;      // then the connection is closed
        std::size_t first = 0;   // when set: these many bytes first, the rest 50 ms later
    };
    using Script = std::function<Action(const simsocket::Message& request, int call)>;

    FakePeer(const std::string& path, std::vector<vhid::DeviceInfo> infos, Script script, Bytes afterInfo = {})
        : infos_(std::move(infos)), script_(std::move(script)), afterInfo_(std::move(afterInfo)),
          listen_(UnixSocket(path, false, 4)), thread_([this] { Run(); }) {}
    ~FakePeer() {
        stop_ = true;
        thread_.join();
        close(listen_);
    }
    std::atomic<int> connections{0}, closed{0}, calls{0};

private:
    void Run() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int fd = accept(listen_, nullptr, nullptr);
            if (fd < 0) continue;
            const int k = connections++;
            Serve(fd, infos_[std::min<std::size_t>(static_cast<std::size_t>(k), infos_.size() - 1)], k == 0);
            close(fd);
            ++closed;
        }
    }
    void Serve(int fd, const vhid::DeviceInfo& info, bool first) {
        while (!stop_) {
            simsocket::Message request;
            const IoStatus got = simsocket::ReceiveMessage(fd, request, 20, 2000);
            if (got == IoStatus::Timeout) continue;
            if (got != IoStatus::Ok) return;
            Action action;
            if (request.type == MessageType::Info) {
                action.bytes = ReplyFrame(request.number, ERROR_SUCCESS, simsocket::EncodeInfo(info));
                if (first) Append(action.bytes, afterInfo_);
                first = false;
            } else {
                action = script_(request, calls++);
            }
            std::size_t at = 0;
            if (action.first > 0 && action.first < action.bytes.size()) {
                send(fd, action.bytes.data(), action.first, MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                at = action.first;
            }
            if (at < action.bytes.size()) send(fd, action.bytes.data() + at, action.bytes.size() - at, MSG_NOSIGNAL);
            if (action.close) return;
        }
    }

    std::vector<vhid::DeviceInfo> infos_;
    Script script_;
    Bytes afterInfo_;
    int listen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The answer a faithful simulator gives to the k-th input request.
FakePeer::Action Faithful(const simsocket::Message& request, int call) {
    return {ReplyFrame(request.number, ERROR_SUCCESS, {static_cast<std::uint8_t>(0xA0 + call)})};
}

// An impostor that answers wrongly, or closes the connection after its first answer (or
// instead of it): the transfer fails and the connection is dropped, and it is opened again
// only when the close lost nothing.
TEST_F(SimSocket, WrongAnswerOrCloseFailsTheTransferUnlessNothingIsLost) {
    using Request = const simsocket::Message&;
    const FakePeer::Script closeAfterFirst = [](Request r, int call) {
        FakePeer::Action action = Faithful(r, call);
        if (r.type == MessageType::Claim) action.bytes = ReplyFrame(r.number, 0, Le4(0));
        return action.close = call == 0, action;
    };
    struct Peer {
        const char* name;
        FakePeer::Script script;
        std::vector<DWORD> results;  // of successive input requests, or a claim first when `claimFirst`
        int connections = 1;
        bool closes = false;  // the script closes after its first answer
        bool claimFirst = false;
        Bytes afterInfo = {};
        USHORT secondProduct = 0x0F0F;  // what the peer says it is on its second connection
    };
    constexpr DWORD kOk = ERROR_SUCCESS, kGone = ERROR_DEVICE_NOT_CONNECTED;
    const Peer rows[] = {
        {"AnswersTwice", [](Request r, int call) {
             FakePeer::Action action = Faithful(r, call);
             if (call == 0) Append(action.bytes, Bytes(action.bytes));
             return action;
         }, {kOk, kGone, kGone}},
        {"WrongNumber", [](Request r, int) { return FakePeer::Action{ReplyFrame(r.number + 1, 0, {0xEE})}; },
         {kGone, kGone}},
        {"RequestType",
         [](Request r, int) { return FakePeer::Action{ReplyFrame(r.number, 0, {0xEE}, MessageType::GetInput)}; },
         {kGone, kGone}},
        {"NoStatus",
         [](Request r, int) {
             return FakePeer::Action{simsocket::EncodeMessage(MessageType::Reply, r.number, Bytes{0, 0})};
         },
         {kGone, kGone}},
        // Numbered as the first request will be, but sent before it was asked.
        {"BeforeAsked", Faithful, {kGone, kGone}, 1, false, false, ReplyFrame(2, ERROR_SUCCESS, {0xEE})},
        {"ClosedWhileIdle", closeAfterFirst, {kOk, kOk}, 2, true},
        {"ClosedWhileHoldingTheClaim", closeAfterFirst, {kOk, kGone}, 1, true, true},
        {"ReopenedAsAnotherDevice", closeAfterFirst, {kOk, kGone}, 2, true, false, {}, 0x0F10},
        {"ClosedInsideARequest", [](Request, int) { return FakePeer::Action{{}, true}; }, {kGone, kGone}, 1, true},
    };
    for (const Peer& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string name = std::string(row.name) + ".sock";
        FakePeer peer(SimDir() + "/" + name, {FakeInfo(0x0F0F), FakeInfo(row.secondProduct)}, row.script,
                      row.afterInfo);
        auto connection = Open(name);
        ASSERT_TRUE(connection);
        std::uint32_t pid = 0;
        for (std::size_t i = 0; i < row.results.size(); ++i) {
            ASSERT_TRUE(i != 1 || !row.closes || Eventually([&] { return peer.closed == 1; }));
            Bytes answer{0x55};
            if (i == 0 && row.claimFirst) {
                EXPECT_EQ(connection->Claim(ClaimOp::Take, pid), row.results[i]);
                continue;
            }
            EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), row.results[i]) << i;
            const auto expected = static_cast<std::uint8_t>(row.results[i] == kOk ? 0xA0 + i : 0x55);
            EXPECT_EQ(answer, Bytes{expected}) << i << ": no answer, least of all another request's";
        }
        if (row.results.back() == kGone) {
            EXPECT_EQ(connection->Claim(ClaimOp::Query, pid), kGone) << "nor any later call";
        }
        EXPECT_EQ(peer.connections, row.connections) << "an untrusted peer is not connected to again";
    }
}

// A reply that comes in pieces (the header split, a body beyond the first read) is put
// together, and one that stops midway times out.
TEST_F(SimSocket, ReplyInPiecesIsPutTogetherAndOneThatStopsMidwayTimesOut) {
    simsocket::SetClientTimeouts(400, 400);
    const Bytes big = Pattern(20000, 0x31);
    FakePeer peer(SimDir() + "/fake.sock", {FakeInfo(0x0F0F)}, [&](const simsocket::Message& request, int call) {
        FakePeer::Action action{ReplyFrame(request.number, ERROR_SUCCESS, big)};
        action.first = 5;  // inside the header
        if (call == 1) action.bytes.resize(action.bytes.size() / 2), action.first = 0;  // and the rest never comes
        return action;
    });
    auto connection = Open("fake.sock");
    ASSERT_TRUE(connection);
    Bytes answer;
    ASSERT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    EXPECT_EQ(answer, big);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SEM_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
}

// ---- floods

TEST_F(SimSocket, FloodOfIdleAndStalledConnectionsLeavesWellBehavedClientsServed) {
    ASSERT_TRUE(Serve({.stallTimeoutMs = 300}));
    std::vector<int> idle, stalled;
    for (int i = 0; i < 300; ++i) idle.push_back(UnixSocket(OneSock(), true));
    const Bytes header{100, 0, 0, 0, 0x02, 1, 0, 0};  // SetOutput with a 100-byte body
    for (int i = 0; i < 60; ++i) {
        Bytes part = i % 2 ? Head(header, 3) : header;  // inside the header, or 10 bytes into the body
        if (i % 2 == 0) part.resize(part.size() + 10, 0);
        stalled.push_back(UnixSocket(OneSock(), true));
        ASSERT_TRUE(SendAll(stalled.back(), part));
    }
    // A request that arrives a byte at a time, but whole within the stall time, is served.
    const int slow = UnixSocket(OneSock(), true);
    for (std::uint8_t byte : simsocket::EncodeMessage(MessageType::Info, 0x123456, {})) {
        SendAll(slow, {byte});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    simsocket::Message reply;
    ASSERT_EQ(simsocket::ReceiveMessage(slow, reply, 2000, 2000), IoStatus::Ok);
    EXPECT_EQ(reply.number, 0x123456u);
    close(slow);

    ASSERT_EQ(Enumerate().size(), 1u);
    auto connection = Open();
    ASSERT_TRUE(connection);
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    int closed = 0, open = 0;
    for (int fd : stalled) closed += ClosedByPeer(fd);
    EXPECT_EQ(closed, 60) << "every message stalled beyond the stall time is closed";
    for (int fd : idle) {
        pollfd p{fd, POLLIN, 0};
        open += poll(&p, 1, 0) == 0;
    }
    EXPECT_EQ(open, 300) << "idle connections stay while there is room";
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    for (int fd : idle) close(fd);
    for (int fd : stalled) close(fd);
}

TEST_F(SimSocket, AtTheBoundTheLongestIdleGivesWayAndItsClientConnectsAgain) {
    ASSERT_TRUE(Serve({.maxConnections = 4}));
    auto client = Open(), holder = Open();
    ASSERT_TRUE(client && holder);
    Bytes answer;
    ASSERT_EQ(client->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    std::uint32_t pid = 0;
    ASSERT_EQ(holder->Claim(ClaimOp::Take, pid), ERROR_SUCCESS);
    std::vector<int> raw;
    for (int i = 0; i < 4; ++i) raw.push_back(UnixSocket(OneSock(), true));
    // The client's connection went first, then the oldest raw one; never the holder's.
    EXPECT_TRUE(ClosedByPeer(raw[0]));
    EXPECT_EQ(holder->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    ASSERT_EQ(holder->Claim(ClaimOp::Release, pid), ERROR_SUCCESS);
    EXPECT_EQ(client->GetInputReport(2, 0x440, answer), ERROR_SUCCESS) << "connected again, transparently";
    EXPECT_LE(server->ConnectionCount(), 4u);
    EXPECT_TRUE(ClosedByPeer(raw[1])) << "made room for the client";
    for (int fd : raw) close(fd);
}

// ---- the runtime directory, names and the Info body

TEST_F(SimSocket, DirectoryRules) {
    std::string directory;
    ASSERT_EQ(simsocket::RuntimeDirectory(true, directory), ERROR_SUCCESS);
    EXPECT_EQ(directory, SimDir());
    struct stat st {};
    ASSERT_EQ(stat(directory.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A directory others may enter is refused, also for enumeration; so is a symlink in its place.
    ASSERT_EQ(chmod(directory.c_str(), 0755), 0);
    EXPECT_EQ(simsocket::RuntimeDirectory(false, directory), ERROR_ACCESS_DENIED);
    std::filesystem::remove(SimDir());
    std::filesystem::create_directory(Root() + "/elsewhere");
    std::filesystem::create_directory_symlink(Root() + "/elsewhere", SimDir());
    EXPECT_EQ(simsocket::RuntimeDirectory(true, directory), ERROR_ACCESS_DENIED);
    // Without a usable XDG_RUNTIME_DIR the per-user /tmp directory is the one.
    setenv("XDG_RUNTIME_DIR", "relative/path", 1);
    if (simsocket::RuntimeDirectory(false, directory) == ERROR_SUCCESS) {
        EXPECT_EQ(directory, "/tmp/uvc-hid-sim-" + std::to_string(getuid()));
    }
}

TEST(SimSocketNames, OnlyPlainSocketNamesOfAtMost64CharactersAreAccepted) {
    const std::string longest = std::string(59, 'a') + ".sock";
    for (const std::string name : {"sim-42.sock", ".sock", "../x.sock", "a/b.sock", "sim.socket", "x.sock\n"})
        EXPECT_EQ(simsocket::IsValidSocketName(name), name == "sim-42.sock") << name;
    EXPECT_TRUE(simsocket::IsValidSocketName(longest));
    EXPECT_FALSE(simsocket::IsValidSocketName("a" + longest));
}

TEST(SimSocketInfo, DecodeRefusesTruncatedOrPaddedBodies) {
    vhid::DeviceInfo info;
    info.vendorId = 0x1209;
    info.reportDescriptor = {1, 2, 3};
    // Moved in rather than assigned from the literal, which GCC 12 at -O2 flags falsely (-Wrestrict).
    info.product = std::u16string(u"p");
    info.indexedStrings = {u"", u"x"};
    info.portPath = std::u16string(u"1-2.3");
    auto body = simsocket::EncodeInfo(info);
    vhid::DeviceInfo back;
    ASSERT_TRUE(simsocket::DecodeInfo(body, back));
    EXPECT_EQ(std::tie(back.reportDescriptor, back.indexedStrings, back.portPath),
              std::tie(info.reportDescriptor, info.indexedStrings, info.portPath));
    // An older simulator's body ends before the port path: a device without one.
    const std::size_t withoutPort = body.size() - 2 - 2 * info.portPath.size();
    for (std::size_t cut = 0; cut < body.size(); ++cut) {
        EXPECT_EQ(simsocket::DecodeInfo(std::span(body).first(cut), back), cut == withoutPort) << cut;
        if (cut == withoutPort) {
            EXPECT_EQ(back.portPath, u"");
        }
    }
    body.push_back(0);
    EXPECT_FALSE(simsocket::DecodeInfo(body, back));
    // A port path that is none is refused with the whole description.
    info.portPath = std::u16string(u"1-2/../x");
    EXPECT_FALSE(simsocket::DecodeInfo(simsocket::EncodeInfo(info), back));
}

// ---- the simulator program

// A running simulator program, its output kept in `folder`; killed (and reaped) if the test did not stop it.
class Program {
public:
    Program(std::vector<std::string> args, const std::string& folder)
        : out_(folder + "/sim.out"), err_(folder + "/sim.err") {
        args.insert(args.begin(), UVC_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, UVC_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() { Stop(SIGKILL); }
    // Standard output's first line, once written; standard error so far.
    std::string FirstLine() const {
        std::string text;
        Eventually([&] { return (text = Read(out_)).find('\n') != std::string::npos; });
        return text.substr(0, text.find('\n'));
    }
    std::string Errors() const { return Read(err_); }
    // The exit status once the program ends (within five seconds; else it is killed and -1).
    int Wait() {
        int status = 0;
        if (pid_ <= 0) return -1;
        if (!Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return Stop(SIGKILL), -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int Stop(int signal) { return pid_ > 0 && kill(pid_, signal) == 0 ? Wait() : -1; }

private:
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string out_, err_;
    pid_t pid_ = -1;
};

using SimProgram = SimSocket;

TEST_F(SimProgram, ServesOverItsSocketAndSavesAtSigterm) {
    const std::string flash = Root() + "/flash.bin", log = Root() + "/log.txt", image = Root() + "/image.bin";
    std::ofstream(image, std::ios::binary) << "IMAGE";
    std::ofstream(flash, std::ios::binary) << "an older flash";
    ASSERT_EQ(chmod(flash.c_str(), 0640), 0);
    Program program({"--vid", "abcd", "--pid", "0x0002", "--part-row", "34", "--image", image, "--name", "t.sock",
                     "--save-flash", flash, "--save-log", log, "--fail-transfer", "5"}, Root());
    ASSERT_EQ(program.FirstLine(), "uvc_hid_sim ready: " + SimDir() + "/t.sock");
    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(std::tuple(listed[0].vendorId, listed[0].productId), std::tuple(0xABCD, 0x0002));
    auto connection = Open("t.sock");
    ASSERT_TRUE(connection);

    // Write 16 bytes at 0x100 of the 256 KiB flash, over the wire.
    const Bench frames;  // only builds frames; its own device is not used
    const Bytes data = Pattern(16, 0xA0);
    ASSERT_EQ(connection->SetOutputReport(frames.Control(0x07, 0x03, {{1}, Le4(0x100)})), ERROR_SUCCESS);
    ASSERT_EQ(connection->SetOutputReport(frames.Control(0x06, 0x05, {Le4(16)})), ERROR_SUCCESS);
    ASSERT_EQ(connection->SetOutputReport(frames.Frame(ReportKind::FlashData, 0, 0, {{0}, data})), ERROR_SUCCESS);
    Bytes answer;
    ASSERT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    EXPECT_EQ(First(answer), 34);
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_GEN_FAILURE) << "the fault option";

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/t.sock"));
    std::ifstream in(flash, std::ios::binary);
    const Bytes saved(std::istreambuf_iterator<char>(in), {});
    ASSERT_EQ(saved.size(), 0x40000u);
    // The write burst erased sector 0 (and with it the loaded image) and programmed its bytes.
    EXPECT_EQ(saved[0], 0xFF);
    EXPECT_EQ(Bytes(saved.begin() + 0x100, saved.begin() + 0x110), data);
    std::ifstream logText(log);
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(logText), {}, '\n'), 5) << "one line a transfer";
    struct stat st {};
    ASSERT_EQ(stat(flash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "replaced, keeping its mode";
    for (const auto& entry : std::filesystem::directory_iterator(Root()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".uvc_hid_sim")) << "temporary file left behind";
}

TEST_F(SimProgram, SaveThatFailsAtExitSaysSo) {
    const std::string folder = Root() + "/gone";
    std::filesystem::create_directory(folder);
    Program program({"--name", "g.sock", "--save-flash", folder + "/flash.bin"}, Root());
    ASSERT_NE(program.FirstLine().find("ready"), std::string::npos);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(program.Stop(SIGTERM), 1);
    EXPECT_NE(program.Errors().find("cannot write " + folder + "/flash.bin: No such file or directory"),
              std::string::npos);
}

TEST_F(SimProgram, BadPathIsRefusedBeforeServingWithTheReason) {
    struct BadPath {
        std::vector<std::string> args;  // "@" stands for the test's root folder
        const char* says;
    };
    const BadPath rows[] = {
        {{"--image", "@/folder"}, "cannot load @/folder into the flash: Is a directory"},
        {{"--image", "@/missing.bin"}, "cannot load @/missing.bin into the flash: No such file"},
        {{"--image", "@/fifo"}, "into the flash: not a regular file"},
        {{"--part-row", "34", "--image", "@/big.bin"}, "262145 bytes, larger than the flash (262144 bytes)"},
        {{"--save-flash", "@/folder"}, "cannot write @/folder: Is a directory"},
        {{"--save-flash", "@/nowhere/flash.bin"}, "No such file or directory"},
        {{"--save-flash", "@/fifo"}, "cannot write @/fifo: not a regular file"},
        {{"--save-log", "@/dangling"}, "cannot write @/dangling: No such file"},
        {{"--save-setup-log", ""}, "bad value for --save-setup-log"},
    };
    std::filesystem::create_directory(Root() + "/folder");
    ASSERT_EQ(mkfifo((Root() + "/fifo").c_str(), 0600), 0);
    std::ofstream(Root() + "/big.bin", std::ios::binary) << std::string(0x40001, 'x');
    std::filesystem::create_symlink(Root() + "/nowhere/log.txt", Root() + "/dangling");
    auto expand = [&](std::string text) {
        for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + Root().size()))
            text.replace(at, 1, Root());
        return text;
    };
    for (const BadPath& row : rows) {
        SCOPED_TRACE(row.says);
        std::vector<std::string> args{"--name", "bad.sock"};
        for (const std::string& arg : row.args) args.push_back(expand(arg));
        Program program(args, Root());
        EXPECT_NE(program.Wait(), 0);
        EXPECT_NE(program.Errors().find(expand(row.says)), std::string::npos) << program.Errors();
        EXPECT_FALSE(std::filesystem::exists(SimDir() + "/bad.sock")) << "it never served";
    }
}

// A simulator started with --serial and --port-path is told apart by them; the change
// notifier wakes as its socket appears and goes, and an enumeration right after the wake
// finds it listening.
TEST_F(SimProgram, SerialAndPortPathAreListedAndItsComingAndGoingWakesTheNotifier) {
    hidtransport::ChangeNotifier notifier({.hidraw = false, .virtualDevices = false});
    ASSERT_EQ(notifier.SimulatorFolder(), SimDir()) << "the folder the transport looks in";
    // As a consumer does: wake, drain, and look again only when something may have changed.
    auto changed = [&] {
        for (int wakes = 0; wakes < 10 && notifier.Wait(10000);)
            if (++wakes, notifier.Drain()) return true;
        return false;
    };
    Program program({"--name", "b.sock", "--serial", "ABC123", "--port-path", "1-2.3"}, Root());
    ASSERT_TRUE(changed());
    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(std::tuple(listed[0].serialNumber, listed[0].portPath), std::tuple(u"ABC123", u"1-2.3"));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(SimDir())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"b.sock"}) << "the name it listened under first is gone";
    HANDLE h = CreateFileW(listed[0].path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    WCHAR serial[16]{};
    EXPECT_TRUE(HidD_GetSerialNumberString(h, serial, sizeof serial));
    EXPECT_EQ(std::u16string(serial), u"ABC123");
    CloseHandle(h);

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    ASSERT_TRUE(changed());
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_FALSE(notifier.Wait(0));
}

TEST_F(SimProgram, HelpAndBadOptions) {
    Program help({"--help"}, Root());
    EXPECT_NE(help.FirstLine().find("usage: uvc_hid_sim"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--frobnicate", "1"}, {"--part-row", "46"},
                                         {"--vid", "xyz"}, {"--report", "flash-in=1"}, {"--name", "../x.sock"},
                                         {"--part-row"}, {"--port-path", "1-2/3"},
                                         {"--serial", "AB\tC"}, {"--serial", std::string(127, 'S')},
                                         {"--serial", "\xC3("}, {"--pace-us", "60000001"}}) {
        Program program(bad, Root());
        EXPECT_EQ(program.Wait(), 2) << bad[0];
    }
}

}  // namespace
