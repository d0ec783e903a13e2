// A private runtime directory per test, and raw socket helpers for the transport tests.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/hid/hid_library.h"
#include "platform/hid/transport_socket.h"

namespace simtest {

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

}  // namespace simtest
