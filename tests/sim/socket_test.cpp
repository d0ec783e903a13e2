// The simulator socket transport (server, client, hostile peers, the runtime directory), the
// uvc_hid_sim program, and the device through the HID library. Each test has its own runtime directory.
#include <gtest/gtest.h>
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
#include <string>
#include <thread>

#include "platform/hid/change_notifier.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/hidsdi.h"
#include "platform/hid/setupapi.h"
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
inline int UnixSocket(const std::string& path, bool connectTo, int backlog = 0) {
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

// Sets XDG_RUNTIME_DIR to a fresh directory, so that tests see only their own simulators.
class RuntimeDirFixture : public testing::Test {
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
        if (saved_.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::string& Root() const { return root_; }
    std::string SimDir() const { return root_ + "/uvc-hid-sim"; }

    static hidtransport::Provider& Provider() {
        for (auto& provider : hidtransport::Providers())
            if (provider->Owns(u"\\\\?\\simhid#x.sock")) return *provider;
        ADD_FAILURE() << "no socket provider registered";
        std::abort();
    }
    // Serves a fresh simulated device at SimDir()/one.sock.
    bool Serve(sim::ServerLimits limits = {}) {
        std::string error;
        device = sim::SimulatedDevice::Create({}, error);
        if (device) server = sim::SocketServer::Start(device, device->Info(), SimDir() + "/one.sock", error, limits);
        EXPECT_TRUE(server) << error;
        return server != nullptr;
    }
    static std::unique_ptr<hidtransport::Connection> Open(const char16_t* name = u"one.sock") {
        std::unique_ptr<hidtransport::Connection> connection;
        EXPECT_EQ(Provider().Open(u"\\\\?\\simhid#" + std::u16string(name), 0, 0, connection), ERROR_SUCCESS);
        return connection;
    }
    static std::vector<hidtransport::InterfaceInfo> Enumerate() {
        std::vector<hidtransport::InterfaceInfo> out;
        Provider().Enumerate(out);
        return out;
    }
    // Leaves a socket file nobody listens on, as a killed simulator does.
    static void BindWithoutListening(const std::string& path) { close(UnixSocket(path, false)); }
    // True when the peer closes the connection within a few seconds.
    static bool ClosedByPeer(int fd) {
        pollfd p{fd, POLLIN, 0};
        char byte;
        return poll(&p, 1, 5000) > 0 && recv(fd, &byte, 1, 0) <= 0;
    }

    std::shared_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<sim::SocketServer> server;

private:
    std::string root_;
    std::string saved_;
};

// ---- the transport in one process

class SimSocket : public RuntimeDirFixture {
protected:
    void SetUp() override {
        RuntimeDirFixture::SetUp();
        ASSERT_TRUE(Serve());
    }
};

TEST_F(SimSocket, StoppedSimulatorFailsCallsAsDisconnectedAndRemovesItsSocket) {
    auto connection = Open();
    ASSERT_TRUE(connection);
    Bytes answer;
    EXPECT_EQ(connection->GetFeature(2, 64, answer), ERROR_GEN_FAILURE) << "the device's refusal, carried back";
    server->Stop();
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/one.sock"));
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection->FlushQueue(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(Enumerate().empty());
}

TEST_F(SimSocket, StaleSocketIsSkippedAndUnlinked) {
    const std::string stale = SimDir() + "/dead.sock";
    BindWithoutListening(stale);
    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, u"\\\\?\\simhid#one.sock");
    EXPECT_FALSE(std::filesystem::exists(stale));
    // A new simulator may take over a stale name; a live one keeps its own.
    BindWithoutListening(stale);
    std::string error;
    auto second = sim::SocketServer::Start(device, device->Info(), stale, error);
    EXPECT_TRUE(second) << error;
    EXPECT_FALSE(sim::SocketServer::Start(device, device->Info(), SimDir() + "/one.sock", error)) << "live";
    EXPECT_EQ(Enumerate().size(), 2u);
}

struct Garbage {
    const char* name;
    Bytes bytes;
};

const Garbage kGarbage[] = {
    {"OversizedLength", {0xFF, 0xFF, 0xFF, 0x7F, 0x02, 0, 0, 0}},
    {"UnknownType", {0x00, 0x00, 0x00, 0x00, 0x42, 0, 0, 0}},
    {"ReplyTypeFromClient", {0x04, 0x00, 0x00, 0x00, 0x80, 0, 0, 0, 1, 2, 3, 4}},
    {"ClaimWithUnknownOp", {0x01, 0x00, 0x00, 0x00, 0x08, 0, 0, 0, 7}},
    {"ClaimWithoutOp", {0x00, 0x00, 0x00, 0x00, 0x08, 0, 0, 0}},
    {"InputRequestTooShort", {0x02, 0x00, 0x00, 0x00, 0x03, 0, 0, 0, 2, 0x40}},
    {"InfoWithBody", {0x01, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 9}},
};

class SimSocketGarbage : public SimSocket, public testing::WithParamInterface<Garbage> {};

TEST_P(SimSocketGarbage, ClosesThatConnectionOnlyAndTheServerGoesOn) {
    auto connection = Open();
    ASSERT_TRUE(connection);
    int raw = UnixSocket(SimDir() + "/one.sock", true);
    ASSERT_GE(raw, 0);
    const auto& bytes = GetParam().bytes;
    ASSERT_EQ(send(raw, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    EXPECT_TRUE(ClosedByPeer(raw));
    close(raw);
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    EXPECT_EQ(device->TransferCount(), 1u) << "the garbage reached no handler";
}

INSTANTIATE_TEST_SUITE_P(Messages, SimSocketGarbage, testing::ValuesIn(kGarbage),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SimSocket, SlowSimulatorTimesOutInsteadOfHanging) {
    simsocket::SetClientTimeouts(150, 150);  // TearDown restores the defaults
    auto connection = Open();
    ASSERT_TRUE(connection);
    device->SetDelay(std::chrono::milliseconds(400));  // far beyond the client's wait
    const auto start = std::chrono::steady_clock::now();
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SEM_TIMEOUT);
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SimSocket, ClaimKeepsEveryTransferOfOtherConnectionsOut) {
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

    const Bench frames;
    const Bytes control = frames.Control(0x06, 0x01, {Le4(0x58)});
    const std::uint64_t before = device->TransferCount();
    Bytes answer;
    EXPECT_EQ(other->SetOutputReport(control), ERROR_BUSY);
    EXPECT_EQ(other->GetInputReport(2, 0x240, answer), ERROR_BUSY);
    EXPECT_EQ(other->SetFeature(control), ERROR_BUSY);
    EXPECT_EQ(other->GetFeature(2, 64, answer), ERROR_BUSY);
    EXPECT_EQ(other->WriteReport(control), ERROR_BUSY);
    EXPECT_EQ(other->ReadReport(answer, 64), ERROR_BUSY);
    EXPECT_EQ(device->TransferCount(), before) << "no refused transfer reached the device";
    EXPECT_EQ(holder->SetOutputReport(control), ERROR_SUCCESS);
    EXPECT_EQ(device->TransferCount(), before + 1);

    EXPECT_EQ(other->Claim(ClaimOp::Release, pid), ERROR_SUCCESS) << "nothing of its own to release";
    EXPECT_EQ(other->Claim(ClaimOp::Take, pid), ERROR_BUSY) << "and the holder's claim stands";
    EXPECT_EQ(holder->Claim(ClaimOp::Release, pid), ERROR_SUCCESS);
    EXPECT_EQ(other->Claim(ClaimOp::Take, pid), ERROR_SUCCESS);
    EXPECT_EQ(holder->GetInputReport(2, 0x240, answer), ERROR_BUSY);
    EXPECT_EQ(holder->Claim(static_cast<ClaimOp>(7), pid), ERROR_INVALID_PARAMETER);

    other.reset();  // a holder that goes away releases the device
    EXPECT_TRUE(Eventually([&] { return holder->Claim(ClaimOp::Take, pid) == ERROR_SUCCESS; }));
    EXPECT_EQ(holder->GetInputReport(2, 0x240, answer), ERROR_SUCCESS);
}

TEST_F(SimSocket, EnumerationIsAnsweredWhileATransferIsSlow) {
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
}

Bytes InputRequest(std::uint32_t number, ULONG length) {
    Bytes body{2};
    for (std::uint8_t byte : Le4(length)) body.push_back(byte);
    return simsocket::EncodeMessage(MessageType::GetInput, number, body);
}

// A client that sends its requests without waiting for the replies (and takes none for a
// while, so that the server's replies fill the socket) gets them one at a time and in
// order: a large body read in parts, Info between device requests, then a thousand more.
TEST_F(SimSocket, RequestsSentAheadOfTheirRepliesAreServedOneAtATimeInOrder) {
    constexpr std::uint32_t kInputs = 2000;
    Bytes stream = simsocket::EncodeMessage(MessageType::Write, 1, Pattern(3000, 0x10));
    for (std::uint8_t byte : simsocket::EncodeMessage(MessageType::Info, 2, {})) stream.push_back(byte);
    for (std::uint32_t i = 0; i < kInputs; ++i)
        for (std::uint8_t byte : InputRequest(3 + i, 0x240)) stream.push_back(byte);
    const int raw = UnixSocket(SimDir() + "/one.sock", true);
    ASSERT_GE(raw, 0);
    ASSERT_EQ(send(raw, stream.data(), stream.size(), MSG_NOSIGNAL), static_cast<ssize_t>(stream.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (std::uint32_t number = 1; number < 3 + kInputs; ++number) {
        simsocket::Message reply;
        ASSERT_EQ(simsocket::ReceiveMessage(raw, reply, 5000, 5000), IoStatus::Ok) << number;
        ASSERT_EQ(reply.type, MessageType::Reply);
        ASSERT_EQ(reply.number, number);
        if (number == 2) {
            EXPECT_EQ(Bytes(reply.payload.begin() + 4, reply.payload.end()), simsocket::EncodeInfo(device->Info()));
        }
    }
    close(raw);
    const auto log = device->Log();
    ASSERT_EQ(log.size(), 1 + kInputs);
    EXPECT_EQ(log[0].direction, sim::Direction::Write);
    EXPECT_EQ(log[0].bytes, Pattern(3000, 0x10)) << "the large body whole";
}

// Device requests of several connections wait while the device is busy and are served in
// the order they came; one whose client left meanwhile never reaches the device.
TEST_F(SimSocket, DeviceRequestsOfSeveralConnectionsAreServedInArrivalOrder) {
    device->SetDelay(std::chrono::milliseconds(20));
    std::vector<int> clients;
    for (ULONG command = 1; command <= 7; ++command) {
        clients.push_back(UnixSocket(SimDir() + "/one.sock", true));
        ASSERT_GE(clients.back(), 0);
        const Bytes request = InputRequest(command, command << 8 | 0x40);
        ASSERT_EQ(send(clients.back(), request.data(), request.size(), MSG_NOSIGNAL), 13);
        if (command == 4) close(clients.back()), clients.back() = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    std::vector<ULONG> served;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (clients[i] < 0) continue;
        simsocket::Message reply;
        EXPECT_EQ(simsocket::ReceiveMessage(clients[i], reply, 5000, 5000), IoStatus::Ok);
        EXPECT_EQ(reply.number, i + 1);
        close(clients[i]);
    }
    for (const auto& record : device->Log()) served.push_back(record.requestedLength >> 8);
    EXPECT_EQ(served, (std::vector<ULONG>{1, 2, 3, 5, 6, 7}));
}

// ---- hostile peers: an impostor simulator at SimDir()/fake.sock

Bytes ReplyFrame(std::uint32_t number, DWORD status, const Bytes& data = {}, MessageType type = MessageType::Reply) {
    Bytes payload = Le4(status);
    payload.insert(payload.end(), data.begin(), data.end());
    return simsocket::EncodeMessage(type, number, payload);
}

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
    int Connections() const { return connections_; }
    int Closed() const { return closed_; }
    int Calls() const { return calls_; }

private:
    void Run() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int fd = accept(listen_, nullptr, nullptr);
            if (fd < 0) continue;
            const int k = connections_++;
            Serve(fd, infos_[std::min<std::size_t>(static_cast<std::size_t>(k), infos_.size() - 1)], k == 0);
            close(fd);
            ++closed_;
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
                if (first) action.bytes.insert(action.bytes.end(), afterInfo_.begin(), afterInfo_.end());
                first = false;
            } else {
                action = script_(request, calls_++);
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
    FakePeer::Script script_;
    Bytes afterInfo_;
    int listen_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0}, closed_{0}, calls_{0};
    std::thread thread_;
};

// The answer a faithful simulator gives to the k-th input request.
FakePeer::Action Faithful(const simsocket::Message& request, int call) {
    return {ReplyFrame(request.number, ERROR_SUCCESS, {static_cast<std::uint8_t>(0xA0 + call)})};
}

struct Hostile {
    const char* name;
    int goodCalls;  // input requests answered rightly before the bad answer
    FakePeer::Script script;
    Bytes afterInfo;
};

// A reply to `request` of this status, data and type.
FakePeer::Action Reply(const simsocket::Message& request, int numberOffset, Bytes data,
                       MessageType type = MessageType::Reply) {
    return {ReplyFrame(request.number + static_cast<std::uint32_t>(numberOffset), ERROR_SUCCESS, data, type)};
}

const Hostile kHostile[] = {
    {"AnswersTwice", 1, [](const simsocket::Message& request, int call) {
         FakePeer::Action action = Faithful(request, call);
         if (call == 0) action.bytes.insert(action.bytes.end(), action.bytes.begin(), action.bytes.end());
         return action;
     }, {}},
    {"AnswersWithTheWrongNumber", 0, [](const simsocket::Message& r, int) { return Reply(r, 1, {0xEE}); }, {}},
    {"AnswersWithARequestType", 0,
     [](const simsocket::Message& r, int) { return Reply(r, 0, {0xEE}, MessageType::GetInput); }, {}},
    {"AnswersWithoutAStatus", 0, [](const simsocket::Message& r, int) {
         return FakePeer::Action{simsocket::EncodeMessage(MessageType::Reply, r.number, Bytes{0, 0})};
     }, {}},
    // Numbered as the first request will be, but sent before it was asked.
    {"AnswersBeforeItIsAsked", 0, Faithful, ReplyFrame(2, ERROR_SUCCESS, {0xEE})},
};

class SimSocketHostile : public RuntimeDirFixture, public testing::WithParamInterface<Hostile> {};

TEST_P(SimSocketHostile, WrongAnswerFailsTheTransferAndDropsTheConnection) {
    const Hostile& row = GetParam();
    FakePeer peer(SimDir() + "/fake.sock", {FakeInfo(0x0F0F)}, row.script, row.afterInfo);
    auto connection = Open(u"fake.sock");
    ASSERT_TRUE(connection);
    Bytes answer;
    for (int call = 0; call < row.goodCalls; ++call) {
        ASSERT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
        EXPECT_EQ(answer, Bytes{static_cast<std::uint8_t>(0xA0 + call)});
    }
    answer = {0x55};
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(answer, Bytes{0x55}) << "no answer, least of all another request's";
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    std::uint32_t pid = 0;
    EXPECT_EQ(connection->Claim(ClaimOp::Query, pid), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(peer.Connections(), 1) << "an untrusted peer is not connected to again";
}

INSTANTIATE_TEST_SUITE_P(Peers, SimSocketHostile, testing::ValuesIn(kHostile),
                         [](const auto& row) { return std::string(row.param.name); });

// The peer closes the connection after its first answer (or instead of it).
struct Reopen {
    const char* name;
    bool claimFirst;        // the first request takes the claim
    bool answerFirst;       // the first request is answered before the close
    USHORT secondProduct;   // what the peer says it is on its second connection
    DWORD second;           // the result of the input request after the close
    int connections;
};

const Reopen kReopen[] = {
    {"ClosedWhileIdle", false, true, 0x0F0F, ERROR_SUCCESS, 2},
    {"ClosedWhileHoldingTheClaim", true, true, 0x0F0F, ERROR_DEVICE_NOT_CONNECTED, 1},
    {"ReopenedAsAnotherDevice", false, true, 0x0F10, ERROR_DEVICE_NOT_CONNECTED, 2},
    {"ClosedInsideARequest", false, false, 0x0F0F, ERROR_DEVICE_NOT_CONNECTED, 1},
};

class SimSocketReopen : public RuntimeDirFixture, public testing::WithParamInterface<Reopen> {};

TEST_P(SimSocketReopen, ClosedIdleConnectionIsOpenedAgainOnlyWhenNothingIsLost) {
    const Reopen& row = GetParam();
    FakePeer peer(SimDir() + "/fake.sock", {FakeInfo(0x0F0F), FakeInfo(row.secondProduct)},
                  [&](const simsocket::Message& request, int call) {
                      FakePeer::Action action = Faithful(request, call);
                      if (request.type == MessageType::Claim) action.bytes = ReplyFrame(request.number, 0, Le4(0));
                      if (call == 0 && !row.answerFirst) action.bytes.clear();
                      action.close = call == 0;
                      return action;
                  });
    auto connection = Open(u"fake.sock");
    ASSERT_TRUE(connection);
    Bytes answer;
    std::uint32_t pid = 0;
    const DWORD first =
        row.claimFirst ? connection->Claim(ClaimOp::Take, pid) : connection->GetInputReport(2, 0x440, answer);
    EXPECT_EQ(first, row.answerFirst ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED);
    ASSERT_TRUE(Eventually([&] { return peer.Closed() == 1; }));
    answer = {0x55};
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), row.second);
    EXPECT_EQ(answer, row.second == ERROR_SUCCESS ? Bytes{0xA1} : Bytes{0x55});
    EXPECT_EQ(peer.Connections(), row.connections);
}

INSTANTIATE_TEST_SUITE_P(Peers, SimSocketReopen, testing::ValuesIn(kReopen),
                         [](const auto& row) { return std::string(row.param.name); });

// A reply is read with as few calls as it allows; one that comes in pieces (the header
// split, a body beyond the first read) is put together, and one that stops midway times out.
TEST_F(RuntimeDirFixture, ReplyInPiecesIsPutTogetherAndOneThatStopsMidwayTimesOut) {
    simsocket::SetClientTimeouts(400, 400);
    const Bytes big = Pattern(20000, 0x31);
    FakePeer peer(SimDir() + "/fake.sock", {FakeInfo(0x0F0F)}, [&](const simsocket::Message& request, int call) {
        FakePeer::Action action{ReplyFrame(request.number, ERROR_SUCCESS, big)};
        action.first = 5;  // inside the header
        if (call == 1) action.bytes.resize(action.bytes.size() / 2), action.first = 0;  // and the rest never comes
        return action;
    });
    auto connection = Open(u"fake.sock");
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

using SimSocketDir = RuntimeDirFixture;

TEST_F(SimSocketDir, FloodOfIdleStalledAndGarbageConnectionsLeavesWellBehavedClientsServed) {
    ASSERT_TRUE(Serve({.stallTimeoutMs = 300}));
    const std::string path = SimDir() + "/one.sock";
    std::vector<int> idle, stalled;
    for (int i = 0; i < 300; ++i) idle.push_back(UnixSocket(path, true));
    Bytes header{100, 0, 0, 0, 0x02, 1, 0, 0};  // SetOutput with a 100-byte body
    for (int i = 0; i < 60; ++i) {
        Bytes part = i % 2 ? Head(header, 3) : header;
        if (i % 2 == 0) part.resize(part.size() + 10, 0);
        stalled.push_back(UnixSocket(path, true));
        ASSERT_EQ(send(stalled.back(), part.data(), part.size(), MSG_NOSIGNAL), static_cast<ssize_t>(part.size()));
    }
    for (int i = 0; i < 20; ++i) {
        const int fd = UnixSocket(path, true);
        send(fd, "\xFF\xFF\xFF\x7F\x42\x01\x02\x03", 8, MSG_NOSIGNAL);
        close(fd);
    }
    // A request that arrives a byte at a time, but whole within the stall time, is served.
    const int slow = UnixSocket(path, true);
    for (std::uint8_t byte : simsocket::EncodeMessage(MessageType::Info, 0x123456, {})) {
        send(slow, &byte, 1, MSG_NOSIGNAL);
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

    int closed = 0;
    for (int fd : stalled) closed += ClosedByPeer(fd);
    EXPECT_EQ(closed, 60) << "every message stalled beyond the stall time is closed";
    int open = 0;
    for (int fd : idle) {
        pollfd p{fd, POLLIN, 0};
        open += poll(&p, 1, 0) == 0;
    }
    EXPECT_EQ(open, 300) << "idle connections stay while there is room";
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    for (int fd : idle) close(fd);
    for (int fd : stalled) close(fd);
}

TEST_F(SimSocketDir, AtTheBoundTheLongestIdleGivesWayAndItsClientConnectsAgain) {
    ASSERT_TRUE(Serve({.maxConnections = 4}));
    const std::string path = SimDir() + "/one.sock";
    auto client = Open(), holder = Open();
    ASSERT_TRUE(client && holder);
    Bytes answer;
    ASSERT_EQ(client->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    std::uint32_t pid = 0;
    ASSERT_EQ(holder->Claim(ClaimOp::Take, pid), ERROR_SUCCESS);
    std::vector<int> raw;
    for (int i = 0; i < 4; ++i) raw.push_back(UnixSocket(path, true));
    // The client's connection went first, then the oldest raw one; never the holder's.
    EXPECT_TRUE(ClosedByPeer(raw[0]));
    EXPECT_EQ(holder->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    ASSERT_EQ(holder->Claim(ClaimOp::Release, pid), ERROR_SUCCESS);
    EXPECT_EQ(client->GetInputReport(2, 0x440, answer), ERROR_SUCCESS) << "connected again, transparently";
    EXPECT_LE(server->ConnectionCount(), 4u);
    EXPECT_TRUE(ClosedByPeer(raw[1])) << "made room for the client";
    for (int fd : raw) close(fd);
}

TEST_F(SimSocketDir, EnumerationSkipsASimulatorThatDoesNotAnswer) {
    simsocket::SetClientTimeouts(150, 150);
    const int silent = UnixSocket(SimDir() + "/silent.sock", false, 4);  // listens, never accepts
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_TRUE(std::filesystem::exists(SimDir() + "/silent.sock")) << "alive: not unlinked";
    close(silent);
}

TEST_F(SimSocketDir, DirectoryRules) {
    std::string directory;
    ASSERT_EQ(simsocket::RuntimeDirectory(true, directory), ERROR_SUCCESS);
    EXPECT_EQ(directory, SimDir());
    struct stat st {};
    ASSERT_EQ(stat(directory.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A directory others may enter is refused, also for enumeration.
    ASSERT_EQ(chmod(directory.c_str(), 0755), 0);
    EXPECT_EQ(simsocket::RuntimeDirectory(false, directory), ERROR_ACCESS_DENIED);
    // A symlink in its place is refused.
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

TEST(SimSocketNames, OnlyPlainSocketNamesAreAccepted) {
    EXPECT_TRUE(simsocket::IsValidSocketName("sim-42.sock"));
    for (const std::string bad : {".sock", "../x.sock", "a/b.sock", "sim.socket", "x.sock\n"})
        EXPECT_FALSE(simsocket::IsValidSocketName(bad)) << bad;
    EXPECT_TRUE(simsocket::IsValidSocketName(std::string(59, 'a') + ".sock")) << "64 characters";
    EXPECT_FALSE(simsocket::IsValidSocketName(std::string(60, 'a') + ".sock")) << "65 characters";
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
    EXPECT_EQ(back.reportDescriptor, info.reportDescriptor);
    EXPECT_EQ(back.indexedStrings, info.indexedStrings);
    EXPECT_EQ(back.portPath, info.portPath);
    // An older simulator's body ends before the port path: a device without one.
    const std::size_t withoutPort = body.size() - 2 - 2 * info.portPath.size();
    for (std::size_t cut = 0; cut < body.size(); ++cut) {
        EXPECT_EQ(simsocket::DecodeInfo(std::span(body).first(cut), back), cut == withoutPort) << cut;
        if (cut == withoutPort) {
            EXPECT_EQ(back.portPath, u"") << cut;
        }
    }
    body.push_back(0);
    EXPECT_FALSE(simsocket::DecodeInfo(body, back));
    // A port path that is none is refused with the whole description.
    info.portPath = std::u16string(u"1-2/../x");
    EXPECT_FALSE(simsocket::DecodeInfo(simsocket::EncodeInfo(info), back));
}

// ---- the simulator program

// A running simulator program; killed (and reaped) if the test did not stop it.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), UVC_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        if (posix_spawn(&pid_, UVC_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        stdout_ = out[0];
        stderr_ = err[0];
    }
    ~Program() {
        Stop(SIGKILL);
        close(stdout_);
        close(stderr_);
    }
    // Standard error once the program has ended; standard output up to its first line.
    std::string Errors() { return Read(stderr_, false, 2000); }
    std::string FirstLine() { return Read(stdout_, true, 10000); }
    // The exit status, or -1 when the program had not ended within `ms` (it is killed).
    int Wait(int ms = 10000) {
        for (int waited = 0; pid_ > 0 && waited < ms; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Stop(SIGKILL), -1;
    }
    // The exit status after `signal`, or -1.
    int Stop(int signal) {
        if (pid_ <= 0 || kill(pid_, signal) != 0) return -1;
        int status = 0;
        const bool reaped = waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return !reaped ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    static std::string Read(int fd, bool lineOnly, int silenceMs) {
        std::string text;
        char buffer[256];
        for (pollfd p{fd, POLLIN, 0}; !(lineOnly && text.find('\n') != std::string::npos) && poll(&p, 1, silenceMs) > 0;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class SimProgram : public RuntimeDirFixture {};

TEST_F(SimProgram, ServesOverItsSocketAndSavesAtSigterm) {
    const std::string flash = Root() + "/flash.bin", log = Root() + "/log.txt", image = Root() + "/image.bin";
    std::ofstream(image, std::ios::binary) << "IMAGE";
    std::ofstream(flash, std::ios::binary) << "an older flash";
    ASSERT_EQ(chmod(flash.c_str(), 0640), 0);
    Program program({"--vid", "abcd", "--pid", "0x0002", "--part-row", "34", "--image", image, "--name", "t.sock",
                     "--save-flash", flash, "--save-log", log});
    ASSERT_EQ(program.FirstLine(), "uvc_hid_sim ready: " + SimDir() + "/t.sock\n");

    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].vendorId, 0xABCD);
    EXPECT_EQ(listed[0].productId, 0x0002);
    std::unique_ptr<hidtransport::Connection> connection;
    ASSERT_EQ(Provider().Open(listed[0].path, 0, 0, connection), ERROR_SUCCESS);

    // Write 16 bytes at 0x100 of the 256 KiB flash, over the wire.
    const Bench frames;  // only builds frames; its own device is not used
    const Bytes data = Pattern(16, 0xA0);
    ASSERT_EQ(connection->SetOutputReport(frames.Control(0x07, 0x03, {{1}, Le4(0x100)})), ERROR_SUCCESS);
    ASSERT_EQ(connection->SetOutputReport(frames.Control(0x06, 0x05, {Le4(16)})), ERROR_SUCCESS);
    ASSERT_EQ(connection->SetOutputReport(frames.Frame(ReportKind::FlashData, 0, 0, {{0}, data})), ERROR_SUCCESS);
    Bytes answer;
    ASSERT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    EXPECT_EQ(First(answer), 34);

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/t.sock"));
    const Bytes saved = ReadFile(flash);
    ASSERT_EQ(saved.size(), 0x40000u);
    // The write burst erased sector 0 (and with it the loaded image) and programmed its bytes.
    EXPECT_EQ(saved[0], 0xFF);
    EXPECT_EQ(Bytes(saved.begin() + 0x100, saved.begin() + 0x110), data);
    const Bytes logText = ReadFile(log);
    EXPECT_EQ(std::count(logText.begin(), logText.end(), '\n'), 4) << "one line a transfer";
    struct stat st {};
    ASSERT_EQ(stat(flash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "replaced, keeping its mode";
    for (const auto& entry : std::filesystem::directory_iterator(Root()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".uvc_hid_sim")) << "temporary file left behind";
}

TEST_F(SimProgram, SaveThatFailsAtExitSaysSo) {
    const std::string folder = Root() + "/gone";
    std::filesystem::create_directory(folder);
    Program program({"--name", "g.sock", "--save-flash", folder + "/flash.bin"});
    ASSERT_NE(program.FirstLine().find("ready"), std::string::npos);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(program.Stop(SIGTERM), 1);
    EXPECT_NE(program.Errors().find("cannot write " + folder + "/flash.bin: No such file or directory"),
              std::string::npos);
}

struct BadPath {
    const char* name;
    std::vector<std::string> args;  // "@" stands for the test's root folder
    const char* says;
};

const BadPath kBadPaths[] = {
    {"ImageIsAFolder", {"--image", "@/folder"}, "cannot load @/folder into the flash: Is a directory"},
    {"ImageMissing", {"--image", "@/missing.bin"}, "cannot load @/missing.bin into the flash: No such file"},
    {"ImageIsADevice", {"--image", "/dev/zero"}, "cannot load /dev/zero into the flash: not a regular file"},
    {"ImageIsAFifo", {"--image", "@/fifo"}, "into the flash: not a regular file"},
    {"ImageLargerThanTheFlash", {"--part-row", "34", "--image", "@/big.bin"},
     "262145 bytes, larger than the flash (262144 bytes)"},
    {"SaveFlashIsAFolder", {"--save-flash", "@/folder"}, "cannot write @/folder: Is a directory"},
    {"SaveFlashInAMissingFolder", {"--save-flash", "@/nowhere/flash.bin"}, "No such file or directory"},
    {"SaveFlashIsAFifo", {"--save-flash", "@/fifo"}, "cannot write @/fifo: not a regular file"},
    {"SaveLogThroughADanglingLink", {"--save-log", "@/dangling"}, "cannot write @/dangling: No such file"},
    {"SaveSetupLogEmpty", {"--save-setup-log", ""}, "bad value for --save-setup-log"},
};

class SimProgramBadPath : public RuntimeDirFixture, public testing::WithParamInterface<BadPath> {};

TEST_P(SimProgramBadPath, RefusedBeforeServingWithTheReason) {
    std::filesystem::create_directory(Root() + "/folder");
    ASSERT_EQ(mkfifo((Root() + "/fifo").c_str(), 0600), 0);
    std::ofstream(Root() + "/big.bin", std::ios::binary) << std::string(0x40001, 'x');
    std::filesystem::create_symlink(Root() + "/nowhere/log.txt", Root() + "/dangling");
    auto expand = [&](std::string text) {
        for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + Root().size()))
            text.replace(at, 1, Root());
        return text;
    };
    std::vector<std::string> args{"--name", "bad.sock"};
    for (const std::string& arg : GetParam().args) args.push_back(expand(arg));
    Program program(args);
    EXPECT_NE(program.Wait(5000), 0);
    EXPECT_NE(program.Errors().find(expand(GetParam().says)), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/bad.sock")) << "it never served";
}

INSTANTIATE_TEST_SUITE_P(Paths, SimProgramBadPath, testing::ValuesIn(kBadPaths),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SimProgram, KilledSimulatorLeavesAStaleSocketThatEnumerationRemoves) {
    Program program({"--name", "k.sock", "--fail-transfer", "1"});
    ASSERT_NE(program.FirstLine().find("ready"), std::string::npos);
    auto connection = Open(u"k.sock");
    ASSERT_TRUE(connection);
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_GEN_FAILURE) << "the fault option";
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    program.Stop(SIGKILL);
    EXPECT_TRUE(std::filesystem::exists(SimDir() + "/k.sock"));
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/k.sock"));
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
    Program program({"--name", "b.sock", "--serial", "ABC123", "--port-path", "1-2.3"});
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
    Program help({"--help"});
    EXPECT_NE(help.FirstLine().find("usage: uvc_hid_sim"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--frobnicate", "1"}, {"--part-row", "46"},
                                         {"--vid", "xyz"}, {"--report", "flash-in=1"}, {"--name", "../x.sock"},
                                         {"--part-row"}, {"--port-path", "1-2/3"}, {"--port-path", "0-1"},
                                         {"--serial", "AB\tC"}, {"--serial", std::string(127, 'S')},
                                         {"--serial", "\xC3("}, {"--pace-us", "60000001"}}) {
        Program program(bad);
        EXPECT_EQ(program.Wait(), 2) << bad[0];
    }
}

// ---- through the platform HID library

enum class Reach { InProcess, Socket };

class SimEndToEnd : public RuntimeDirFixture, public testing::WithParamInterface<Reach> {
protected:
    void SetUp() override {
        RuntimeDirFixture::SetUp();
        config.productId = 0x7E57;  // not the default, so no other device is mistaken for it
        std::string error;
        device = sim::SimulatedDevice::Create(config, error);
        ASSERT_TRUE(device) << error;
        if (GetParam() == Reach::InProcess)
            publication = sim::Publish(device, "e2e");
        else
            server = sim::SocketServer::Start(device, device->Info(), SimDir() + "/e2e.sock", error);
        ASSERT_TRUE(publication || server) << error;
    }
    void TearDown() override {
        publication.reset();
        server.reset();
        RuntimeDirFixture::TearDown();
    }

    // The first present HID interface with our ids, as the tool's discovery finds it, opened.
    HANDLE Find(std::u16string& path) {
        GUID hid{};
        HidD_GetHidGuid(&hid);
        HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        HANDLE found = INVALID_HANDLE_VALUE;
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; found == INVALID_HANDLE_VALUE && SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data);
             ++i) {
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
            std::vector<std::uint8_t> block(needed);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) continue;
            HANDLE h = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            HIDD_ATTRIBUTES attributes{};
            attributes.Size = sizeof attributes;
            if (h != INVALID_HANDLE_VALUE && HidD_GetAttributes(h, &attributes) &&
                attributes.VendorID == config.vendorId && attributes.ProductID == config.productId)
                found = h, path = detail->DevicePath;
            else if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        }
        SetupDiDestroyDeviceInfoList(set);
        return found;
    }

    sim::Config config;
    std::shared_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<vhid::Publication> publication;
    std::unique_ptr<sim::SocketServer> server;
};

TEST_P(SimEndToEnd, FoundOpenedAndCommandedThroughHidD) {
    std::u16string path;
    HANDLE h = Find(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(path.starts_with(GetParam() == Reach::Socket ? u"\\\\?\\simhid#" : u"\\\\?\\vhid#"));

    // The descriptor's layout is checked in SimDescriptor; here, that it arrives.
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(h, &preparsed));
    HIDP_CAPS caps{};
    ASSERT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    HidD_FreePreparsedData(preparsed);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.OutputReportByteLength, 260);
    EXPECT_EQ(caps.InputReportByteLength, 257);
    EXPECT_EQ(caps.NumberOutputValueCaps, 3);
    EXPECT_EQ(caps.NumberInputValueCaps, 3);
    WCHAR product[64]{};
    ASSERT_TRUE(HidD_GetProductString(h, product, sizeof product));
    EXPECT_EQ(std::u16string(product), config.product);

    // Register read of the firmware version register 0x58: row 1 then row 2.
    std::vector<std::uint8_t> control{config.output[1].id, 0x06, 0x01, 0x58};
    control.resize(64);
    ASSERT_TRUE(HidD_SetOutputReport(h, control.data(), 64));
    std::vector<std::uint8_t> input(caps.InputReportByteLength, 0);
    input[0] = config.input[1].id;
    ASSERT_TRUE(HidD_GetInputReport(h, input.data(), 0x200 | 64));
    EXPECT_EQ(Le32(input), device->Register(0x58));
    EXPECT_EQ(device->Log().back().requestedLength, 0x240u);

    // A refused frame is a failed call with the device's error.
    control[1] = 0x07;
    EXPECT_FALSE(HidD_SetOutputReport(h, control.data(), 64));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    // Another handle is kept out while this one holds the claim.
    HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ULONG holder = 0;
    ASSERT_TRUE(HidExt_ClaimDevice(h, HidExtClaim::Take, &holder));
    control[1] = 0x01;
    EXPECT_FALSE(HidD_SetOutputReport(other, control.data(), 64));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    CloseHandle(h);
    CloseHandle(other);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimEndToEnd, testing::Values(Reach::InProcess, Reach::Socket),
                         [](const auto& row) { return row.param == Reach::Socket ? "Socket" : "InProcess"; });

}  // namespace
