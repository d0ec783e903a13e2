// A private runtime directory per test, and raw socket helpers for the transport tests.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/hid/hid_library.h"
#include "platform/hid/transport_socket.h"

namespace simtest {

inline sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
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
    static void BindWithoutListening(const std::string& path) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = AddressOf(path);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    static int ConnectRaw(const std::string& path) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = AddressOf(path);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }
    // True when the peer closes the connection within a few seconds.
    static bool ClosedByPeer(int fd) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return false;
        char byte;
        return recv(fd, &byte, 1, 0) <= 0;
    }

private:
    std::string root_;
    std::string saved_;
};

// A listener that never serves a transfer: with answerInfo it answers the Info request of
// the first connection and then reads without replying; without, it never accepts.
class SilentServer {
public:
    SilentServer(const std::string& path, bool answerInfo) {
        listen_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = AddressOf(path);
        EXPECT_EQ(bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listen_, 4), 0);
        EXPECT_EQ(pipe(wake_), 0);
        if (answerInfo) thread_ = std::thread([this] { Serve(); });
    }
    ~SilentServer() {
        [[maybe_unused]] ssize_t n = write(wake_[1], "x", 1);
        if (thread_.joinable()) thread_.join();
        close(listen_);
        close(wake_[0]);
        close(wake_[1]);
    }

private:
    void Serve() {
        pollfd p[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, 10000) <= 0 || (p[1].revents & POLLIN)) return;
        int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK);
        if (fd < 0) return;
        simsocket::Message request;
        if (simsocket::ReceiveMessage(fd, request, 5000, 5000, wake_[0]) == simsocket::IoStatus::Ok) {
            vhid::DeviceInfo info;
            auto body = simsocket::EncodeInfo(info);
            std::vector<std::uint8_t> reply(4, 0);
            reply.insert(reply.end(), body.begin(), body.end());
            simsocket::SendMessage(fd, simsocket::MessageType::Reply, reply, 5000);
            // Takes the next request and never answers it.
            simsocket::ReceiveMessage(fd, request, 10000, 10000, wake_[0]);
            pollfd w{wake_[0], POLLIN, 0};
            poll(&w, 1, 10000);
        }
        close(fd);
    }

    int listen_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace simtest
