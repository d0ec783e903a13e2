// The simulator socket transport: server and client provider in one process, garbage on
// the wire, stale sockets, silent simulators, the runtime directory's rules; the
// uvc_hid_sim program in a process of its own; and the simulated device through the
// platform HID library, in-process and over the socket. Each test has a private runtime
// directory.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

private:
    std::string root_;
    std::string saved_;
};

// ---- the transport in one process

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

// ---- the simulator program

// A running simulator program; killed (and reaped) if the test did not stop it.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), UVC_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, UVC_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        stdout_ = out[0];
    }
    ~Program() {
        if (pid_ > 0) Stop(SIGKILL);
        if (stdout_ >= 0) close(stdout_);
    }
    // What the program printed up to its first line, or until it fell silent for 10 s.
    std::string FirstLine() {
        std::string text;
        char buffer[256];
        for (pollfd p{stdout_, POLLIN, 0}; text.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0;) {
            const ssize_t n = read(stdout_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    // The exit status after `signal`, or -1.
    int Stop(int signal) { return pid_ > 0 && kill(pid_, signal) == 0 ? Wait() : -1; }
    int Wait() {
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SimProgram : public RuntimeDirFixture {};

TEST_F(SimProgram, ServesOverItsSocketAndSavesAtSigterm) {
    const std::string flash = Root() + "/flash.bin", log = Root() + "/log.txt", image = Root() + "/image.bin";
    std::ofstream(image, std::ios::binary) << "IMAGE";
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
}

TEST_F(SimProgram, KilledSimulatorLeavesAStaleSocketThatEnumerationRemoves) {
    Program program({"--name", "k.sock", "--fail-transfer", "1"});
    ASSERT_NE(program.FirstLine().find("ready"), std::string::npos);
    std::unique_ptr<hidtransport::Connection> connection;
    ASSERT_EQ(Provider().Open(u"\\\\?\\simhid#k.sock", 0, 0, connection), ERROR_SUCCESS);
    Bytes answer;
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_GEN_FAILURE) << "the fault option";
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_SUCCESS);
    program.Stop(SIGKILL);
    EXPECT_TRUE(std::filesystem::exists(SimDir() + "/k.sock"));
    EXPECT_EQ(connection->GetInputReport(2, 0x440, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_FALSE(std::filesystem::exists(SimDir() + "/k.sock"));
}

TEST_F(SimProgram, HelpAndBadOptions) {
    Program help({"--help"});
    EXPECT_NE(help.FirstLine().find("usage: uvc_hid_sim"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--frobnicate", "1"}, {"--part-row", "46"},
                                         {"--vid", "xyz"}, {"--report", "flash-in=1"}, {"--name", "../x.sock"},
                                         {"--part-row"}}) {
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

    // The descriptor's layout is checked in descriptor_faults_test; here, that it arrives.
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
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimEndToEnd, testing::Values(Reach::InProcess, Reach::Socket),
                         [](const auto& row) { return row.param == Reach::Socket ? "Socket" : "InProcess"; });

}  // namespace
