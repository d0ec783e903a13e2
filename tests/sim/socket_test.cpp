// The simulator socket transport: server and client provider in one process, garbage on
// the wire, stale sockets, silent simulators, the runtime directory's rules.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/hid/hid_library.h"
#include "platform/hid/transport_socket.h"
#include "sim/socket_server.h"
#include "sim_bench.h"
#include "socket_fixture.h"

namespace {

using simtest::RuntimeDirFixture;
using simtest::SilentServer;

class SimSocketDir : public RuntimeDirFixture {};

class SimSocket : public RuntimeDirFixture {
protected:
    void SetUp() override {
        RuntimeDirFixture::SetUp();
        std::string error;
        device = sim::SimulatedDevice::Create(config, error);
        ASSERT_TRUE(device) << error;
        server = sim::SocketServer::Start(device, device->Info(), SimDir() + "/one.sock", error);
        ASSERT_TRUE(server) << error;
    }
    void TearDown() override {
        server.reset();
        RuntimeDirFixture::TearDown();
    }
    std::unique_ptr<hidtransport::Connection> Open(std::u16string_view path = u"\\\\?\\simhid#one.sock") {
        std::unique_ptr<hidtransport::Connection> connection;
        EXPECT_EQ(Provider().Open(path, 0, 0, connection), ERROR_SUCCESS);
        return connection;
    }

    sim::Config config;
    std::shared_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<sim::SocketServer> server;
};

TEST_F(SimSocket, EnumeratesOpensAndCarriesTransfersUnchanged) {
    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, u"\\\\?\\simhid#one.sock");
    EXPECT_EQ(listed[0].vendorId, sim::kDefaultIds.vendorId);
    EXPECT_EQ(listed[0].productId, sim::kDefaultIds.productId);

    auto connection = Open();
    ASSERT_TRUE(connection);
    std::vector<std::uint8_t> descriptor;
    ASSERT_EQ(connection->GetReportDescriptor(descriptor), ERROR_SUCCESS);
    EXPECT_EQ(descriptor, device->Info().reportDescriptor);
    std::u16string product;
    ASSERT_EQ(connection->GetString(hidtransport::StringKind::Product, 0, product), ERROR_SUCCESS);
    EXPECT_EQ(product, device->Info().product);

    std::vector<std::uint8_t> report(64, 0);
    report[0] = 2;
    report[1] = 0x06;
    report[2] = 0x01;
    report[3] = 0x54;
    ASSERT_EQ(connection->SetOutputReport(report), ERROR_SUCCESS);
    std::vector<std::uint8_t> answer;
    ASSERT_EQ(connection->GetInputReport(2, 0x240, answer), ERROR_SUCCESS);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_EQ(answer[0], 0x01);
    EXPECT_EQ(device->Log().back().requestedLength, 0x240u);
    // A refusal travels back as the device's status.
    report[1] = 0x05;
    EXPECT_EQ(connection->SetOutputReport(report), ERROR_GEN_FAILURE);
    EXPECT_EQ(connection->GetFeature(2, 64, answer), ERROR_GEN_FAILURE);
}

TEST_F(SimSocket, StoppedSimulatorFailsCallsAsDisconnectedAndRemovesItsSocket) {
    auto connection = Open();
    ASSERT_TRUE(connection);
    server->Stop();
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/one.sock"));
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection->FlushQueue(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(Enumerate().empty());
}

TEST_F(SimSocket, StaleSocketIsSkippedAndUnlinked) {
    const std::string stale = SimDir() + "/dead.sock";
    BindWithoutListening(stale);
    ASSERT_TRUE(std::filesystem::exists(stale));
    auto listed = Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, u"\\\\?\\simhid#one.sock");
    EXPECT_FALSE(std::filesystem::exists(stale));
    // A new simulator may take over a stale name; a live one keeps its own.
    BindWithoutListening(stale);
    std::string error;
    auto second = sim::SocketServer::Start(device, device->Info(), stale, error);
    EXPECT_TRUE(second) << error;
    EXPECT_FALSE(sim::SocketServer::Start(device, device->Info(), SimDir() + "/one.sock", error));
    EXPECT_EQ(Enumerate().size(), 2u);
}

struct Garbage {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

void PrintTo(const Garbage& row, std::ostream* os) { *os << row.name; }

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
    int raw = ConnectRaw(SimDir() + "/one.sock");
    ASSERT_GE(raw, 0);
    const auto& bytes = GetParam().bytes;
    ASSERT_EQ(send(raw, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    EXPECT_TRUE(ClosedByPeer(raw));
    close(raw);
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    EXPECT_EQ(device->TransferCount(), 1u);  // the garbage reached no handler
}

INSTANTIATE_TEST_SUITE_P(Messages, SimSocketGarbage, testing::ValuesIn(kGarbage),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SimSocketDir, SilentSimulatorTimesOutInsteadOfHanging) {
    simsocket::SetClientTimeouts(300, 300);
    SilentServer silent(SimDir() + "/silent.sock", /*answerInfo=*/true);
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<hidtransport::Connection> connection;
    ASSERT_EQ(Provider().Open(u"\\\\?\\simhid#silent.sock", 0, 0, connection), ERROR_SUCCESS);
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SEM_TIMEOUT);
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    simsocket::SetClientTimeouts(simsocket::kReplyTimeoutMs, simsocket::kProbeTimeoutMs);
}

TEST_F(SimSocketDir, EnumerationSkipsASimulatorThatDoesNotAnswer) {
    simsocket::SetClientTimeouts(300, 300);
    SilentServer silent(SimDir() + "/silent.sock", /*answerInfo=*/false);
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_TRUE(std::filesystem::exists(SimDir() + "/silent.sock"));  // alive: not unlinked
    simsocket::SetClientTimeouts(simsocket::kReplyTimeoutMs, simsocket::kProbeTimeoutMs);
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
    ASSERT_EQ(chmod(SimDir().c_str(), 0700), 0);
    // A symlink in its place is refused.
    std::filesystem::remove(SimDir());
    std::filesystem::create_directory(Root() + "/elsewhere");
    std::filesystem::create_directory_symlink(Root() + "/elsewhere", SimDir());
    EXPECT_EQ(simsocket::RuntimeDirectory(true, directory), ERROR_ACCESS_DENIED);
    // Without a usable XDG_RUNTIME_DIR the per-user /tmp directory is the one.
    setenv("XDG_RUNTIME_DIR", "relative/path", 1);
    std::string fallback;
    if (simsocket::RuntimeDirectory(false, fallback) == ERROR_SUCCESS) {
        EXPECT_EQ(fallback, "/tmp/uvc-hid-sim-" + std::to_string(getuid()));
    }
}

TEST(SimSocketNames, OnlyPlainSocketNamesAreAccepted) {
    EXPECT_TRUE(simsocket::IsValidSocketName("sim-42.sock"));
    EXPECT_FALSE(simsocket::IsValidSocketName(".sock"));
    EXPECT_FALSE(simsocket::IsValidSocketName("../x.sock"));
    EXPECT_FALSE(simsocket::IsValidSocketName("a/b.sock"));
    EXPECT_FALSE(simsocket::IsValidSocketName("sim.socket"));
    EXPECT_FALSE(simsocket::IsValidSocketName(std::string(80, 'a') + ".sock"));
}

TEST(SimSocketInfo, DecodeRefusesTruncatedOrPaddedBodies) {
    vhid::DeviceInfo info;
    info.vendorId = 0x1209;
    info.reportDescriptor = {1, 2, 3};
    info.product = u"p";
    info.indexedStrings = {u"", u"x"};
    const auto body = simsocket::EncodeInfo(info);
    vhid::DeviceInfo back;
    ASSERT_TRUE(simsocket::DecodeInfo(body, back));
    EXPECT_EQ(back.reportDescriptor, info.reportDescriptor);
    EXPECT_EQ(back.indexedStrings, info.indexedStrings);
    for (std::size_t cut = 0; cut < body.size(); ++cut)
        EXPECT_FALSE(simsocket::DecodeInfo(std::span(body).first(cut), back)) << cut;
    auto padded = body;
    padded.push_back(0);
    EXPECT_FALSE(simsocket::DecodeInfo(padded, back));
}

}  // namespace
