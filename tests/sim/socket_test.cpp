// The simulator socket transport: server and client provider in one process, garbage on
// the wire, stale sockets, silent simulators, the runtime directory's rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "sim/socket_server.h"
#include "sim_bench.h"
#include "socket_fixture.h"

namespace {

using namespace simtest;

class SimSocket : public RuntimeDirFixture {
protected:
    void SetUp() override {
        RuntimeDirFixture::SetUp();
        std::string error;
        device = sim::SimulatedDevice::Create({}, error);
        ASSERT_TRUE(device) << error;
        server = sim::SocketServer::Start(device, device->Info(), SimDir() + "/one.sock", error);
        ASSERT_TRUE(server) << error;
    }
    void TearDown() override {
        server.reset();
        RuntimeDirFixture::TearDown();
    }
    std::unique_ptr<hidtransport::Connection> Open() {
        std::unique_ptr<hidtransport::Connection> connection;
        EXPECT_EQ(Provider().Open(u"\\\\?\\simhid#one.sock", 0, 0, connection), ERROR_SUCCESS);
        return connection;
    }

    std::shared_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<sim::SocketServer> server;
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
    {"NonzeroReservedBytes", {0x00, 0x00, 0x00, 0x00, 0x01, 0, 7, 0}},
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

class SimSocketDir : public RuntimeDirFixture {};

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
    auto body = simsocket::EncodeInfo(info);
    vhid::DeviceInfo back;
    ASSERT_TRUE(simsocket::DecodeInfo(body, back));
    EXPECT_EQ(back.reportDescriptor, info.reportDescriptor);
    EXPECT_EQ(back.indexedStrings, info.indexedStrings);
    for (std::size_t cut = 0; cut < body.size(); ++cut)
        EXPECT_FALSE(simsocket::DecodeInfo(std::span(body).first(cut), back)) << cut;
    body.push_back(0);
    EXPECT_FALSE(simsocket::DecodeInfo(body, back));
}

}  // namespace
