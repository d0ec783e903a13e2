// Device claims: one holder at a time across connections and processes, the holder's process
// id for everyone else, and the claim gone with its connection or its process.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/hid/hid_library.h"
#include "platform/hid/hidsdi.h"
#include "platform/hid/transport_hidraw.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/file_api.h"
#include "tests/support/vendor_descriptor.h"

namespace {

using hidtransport::ClaimOp;
using Connection = std::unique_ptr<hidtransport::Connection>;

std::uint32_t Pid() { return static_cast<std::uint32_t>(::getpid()); }

// What one connection sees of a claim, as "<status>/<pid>".
std::string Ask(hidtransport::Connection& c, ClaimOp op) {
    std::uint32_t pid = 12345;  // must be overwritten
    DWORD status = c.Claim(op, pid);
    return std::to_string(status) + "/" + std::to_string(pid);
}

// The rules every transport keeps, over two connections to one device.
void ExpectClaimRules(const std::function<Connection()>& open, std::uint32_t holderPid) {
    const std::string busy = std::to_string(ERROR_BUSY) + "/" + std::to_string(holderPid);
    const std::string held = "0/" + std::to_string(holderPid);
    Connection a = open(), b = open();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Ask(*b, ClaimOp::Query), "0/0") << "nobody holds it yet";
    EXPECT_EQ(Ask(*a, ClaimOp::Take), "0/0");
    EXPECT_EQ(Ask(*a, ClaimOp::Take), "0/0") << "the holder may take it again";
    EXPECT_EQ(Ask(*a, ClaimOp::Query), "0/0") << "its own claim is no other's";
    EXPECT_EQ(Ask(*b, ClaimOp::Query), held);
    EXPECT_EQ(Ask(*b, ClaimOp::Take), busy);
    EXPECT_EQ(Ask(*b, ClaimOp::Release), "0/0") << "a release by a non-holder frees nothing";
    EXPECT_EQ(Ask(*b, ClaimOp::Take), busy);
    EXPECT_EQ(Ask(*a, ClaimOp::Release), "0/0");
    EXPECT_EQ(Ask(*b, ClaimOp::Take), "0/0") << "free after the holder's release";
    b.reset();  // closing the holder's connection ends its claim
    EXPECT_EQ(Ask(*a, ClaimOp::Take), "0/0");
}

TEST(DeviceClaim, HidrawNodeLocksExcludeAndNameTheHolderAcrossProcesses) {
    char pattern[] = "/tmp/uvc-claim-XXXXXX";
    int made = ::mkstemp(pattern);
    ASSERT_GE(made, 0);
    ::close(made);
    const std::string node = pattern;
    auto open = [&]() -> Connection {
        int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return nullptr;
        return hidraw::MakeConnection(fd, std::nullopt, {u"/dev/hidraw9", 0x1209, 0x0001, 0x0100});
    };
    ExpectClaimRules(open, Pid());

    // A child process takes the claim and waits; this process sees it busy with the child's
    // pid, and free again once the child has died without releasing it.
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(go[1]);  // so that the parent's close is this child's end of file
        Connection mine = open();
        std::uint32_t pid = 0;
        char byte = mine && mine->Claim(ClaimOp::Take, pid) == ERROR_SUCCESS ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(go[0], &byte, 1);
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y');
    Connection mine = open();
    EXPECT_EQ(Ask(*mine, ClaimOp::Take), std::to_string(ERROR_BUSY) + "/" + std::to_string(child));
    EXPECT_EQ(Ask(*mine, ClaimOp::Query), "0/" + std::to_string(child));
    ::close(go[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(Ask(*mine, ClaimOp::Take), "0/0");
    for (int fd : {ready[0], ready[1], go[0]}) ::close(fd);
    std::filesystem::remove(node);
}

// A device that counts the output reports it receives.
class CountingDevice final : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ++outputs, ERROR_SUCCESS; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_SUCCESS; }
    int outputs = 0;
};

TEST(DeviceClaim, InProcessDevicesRefuseOtherHandlesFramesWhileClaimed) {
    hidlibrary::EnsureRegistered();
    auto handler = std::make_shared<CountingDevice>();
    vhid::DeviceInfo info;
    info.path = vhid::MakePath("claim");
    info.vendorId = 0x1209;
    info.productId = 0x0001;
    info.reportDescriptor = testsupport::CaptureDeviceDescriptor();
    auto publication = vhid::Publish(info, handler);
    auto provider = vhid::MakeVirtualProvider();
    ExpectClaimRules([&] {
        Connection c;
        provider->Open(info.path, 0, 0, c);
        return c;
    }, Pid());

    // Through the HID library: the holder's frames pass, another handle's are refused.
    auto openHandle = [&] {
        return CreateFileW(info.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    };
    HANDLE holder = openHandle(), other = openHandle();
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ULONG pid = 0;
    ASSERT_TRUE(HidExt_ClaimDevice(holder, HidExtClaim::Take, &pid));
    std::uint8_t report[8] = {0x02};
    EXPECT_FALSE(HidExt_ClaimDevice(other, HidExtClaim::Take, &pid));
    EXPECT_EQ(std::tuple(GetLastError(), pid), std::tuple(DWORD{ERROR_BUSY}, ULONG{Pid()}));
    EXPECT_FALSE(HidD_SetOutputReport(other, report, sizeof report));
    EXPECT_EQ(std::tuple(GetLastError(), handler->outputs), std::tuple(DWORD{ERROR_BUSY}, 0));
    EXPECT_TRUE(HidD_SetOutputReport(holder, report, sizeof report));
    CloseHandle(holder);  // the claim ends with its handle
    EXPECT_TRUE(HidD_SetOutputReport(other, report, sizeof report));
    EXPECT_EQ(handler->outputs, 2);
    EXPECT_TRUE(HidExt_ClaimDevice(other, HidExtClaim::Query, &pid));
    EXPECT_EQ(pid, 0u);
    CloseHandle(other);
}

}  // namespace
