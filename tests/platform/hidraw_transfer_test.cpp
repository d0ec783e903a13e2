// hidraw transfers: length limits, the answer copy rule, and connections over a socket
// that stands in for the node's read()/write()/poll() side.
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <utility>

#include "platform/win/text.h"
#include "tests/platform/hidraw_fake_sysfs.h"

namespace {

using hidraw::ReportRequest;

TEST(HidrawTransfer, LengthLimitsIoctlNumbersAndWireLength) {
    struct Row { std::size_t length; DWORD ioctl, write; };
    for (Row row : {Row{1, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER}, Row{2, ERROR_SUCCESS, ERROR_SUCCESS},
                    Row{16383, ERROR_SUCCESS, ERROR_SUCCESS}, Row{16384, ERROR_INVALID_PARAMETER, ERROR_SUCCESS},
                    Row{16385, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER}}) {
        EXPECT_EQ(hidraw::CheckIoctlLength(row.length), row.ioctl) << row.length;
        EXPECT_EQ(hidraw::CheckWriteLength(row.length), row.write) << row.length;
    }
    // Each request has its own command number, both directions, and the length whole in
    // the size field, up to the largest accepted.
    for (auto [request, nr] : {std::pair{ReportRequest::SetFeature, 0x06u}, {ReportRequest::GetFeature, 0x07u},
                               {ReportRequest::GetInput, 0x0Au}, {ReportRequest::SetOutput, 0x0Bu}}) {
        for (std::size_t length : {std::size_t{2}, hidraw::kMaxIoctlReportLength}) {
            unsigned long number = hidraw::ReportIoctl(request, length);
            EXPECT_EQ(_IOC_NR(number), nr);
            EXPECT_EQ(_IOC_TYPE(number), static_cast<unsigned>('H'));
            EXPECT_EQ(_IOC_DIR(number), static_cast<unsigned>(_IOC_READ | _IOC_WRITE));
            EXPECT_EQ(_IOC_SIZE(number), length);
        }
    }
    // The wire length drops the ID byte of report 0 only.
    EXPECT_EQ(hidraw::WireLength(0, 0x240), 0x23Fu);
    EXPECT_EQ(hidraw::WireLength(1, 0x240), 0x240u);
    EXPECT_EQ(hidraw::WireLength(0, 2), 1u);
}

// A register read asks for 0x200|0x40 bytes with a 0x40-byte report buffer: the kernel
// receives into a buffer of the full requested length, and the answer is what came back.
TEST(HidrawTransfer, AnswerIsTheReturnedPartOfTheScratchBuffer) {
    std::vector<std::uint8_t> scratch = hidraw::MakeRequestBuffer(0x05, 0x240);
    ASSERT_EQ(scratch.size(), 0x240u);
    EXPECT_EQ(scratch[0], 0x05);
    EXPECT_EQ(std::count(scratch.begin() + 1, scratch.end(), 0), 0x23F);
    for (std::size_t i = 0; i < scratch.size(); ++i) scratch[i] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> answer;
    for (auto [returned, size] : {std::pair<long, std::size_t>{5, 5}, {0x240, 0x240}, {0x10000, 0x240}, {0, 0}, {-1, 0}}) {
        hidraw::TakeAnswer(scratch, returned, answer);
        ASSERT_EQ(answer.size(), size) << returned;
        EXPECT_TRUE(std::equal(answer.begin(), answer.end(), scratch.begin())) << returned;
    }
}

// A connection whose fd is one end of a packet socket; the test holds the other end.
class HidrawSocket : public ::testing::Test {
protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
        peer_ = ends[1];
        connection_ = hidraw::MakeConnection(ends[0], node_, {u"/dev/hidraw9", 0x1234, 0x5678, 0x0100}, 30);
    }
    void TearDown() override {
        connection_.reset();
        if (peer_ >= 0) ::close(peer_);
    }
    void Send(std::vector<std::uint8_t> report) {
        ASSERT_EQ(::send(peer_, report.data(), report.size(), 0), static_cast<ssize_t>(report.size()));
    }
    void Unplug() {
        ::close(peer_);
        peer_ = -1;
    }

    std::optional<hidraw::NodeInfo> node_;
    int peer_ = -1;
    std::unique_ptr<hidtransport::Connection> connection_;
};

TEST_F(HidrawSocket, ReadTakesOneReportAtATimeFlushDrainsAndUnplugEndsBoth) {
    Send({0x01, 0xAA, 0xBB, 0xCC});
    Send({0x02, 0x11});
    std::vector<std::uint8_t> report;
    EXPECT_EQ(connection_->ReadReport(report, 3), ERROR_SUCCESS);
    EXPECT_EQ(report, (std::vector<std::uint8_t>{0x01, 0xAA, 0xBB}));
    EXPECT_EQ(connection_->ReadReport(report, 64), ERROR_SUCCESS);
    EXPECT_EQ(report, (std::vector<std::uint8_t>{0x02, 0x11}));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connection_->ReadReport(report, 64), ERROR_SEM_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(report.empty());
    EXPECT_EQ(connection_->ReadReport(report, 0), ERROR_INVALID_USER_BUFFER);
    EXPECT_EQ(connection_->FlushQueue(), ERROR_SUCCESS);  // an empty queue
    for (std::uint8_t i = 0; i < 3; ++i) Send({i, i});
    EXPECT_EQ(connection_->FlushQueue(), ERROR_SUCCESS);
    EXPECT_EQ(connection_->ReadReport(report, 64), ERROR_SEM_TIMEOUT);
    Unplug();
    EXPECT_EQ(connection_->ReadReport(report, 64), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection_->FlushQueue(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(HidrawSocket, WriteSendsTheReportAndRefusesBadLengthsFirst) {
    std::vector<std::uint8_t> out{0x00, 0x06, 0x01, 0x10, 0x20};
    EXPECT_EQ(connection_->WriteReport(out), ERROR_SUCCESS);
    std::uint8_t got[16];
    EXPECT_EQ(::recv(peer_, got, sizeof got, MSG_DONTWAIT), 5);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), got));
    EXPECT_EQ(connection_->WriteReport(std::vector<std::uint8_t>{0x00}), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(::recv(peer_, got, sizeof got, MSG_DONTWAIT), -1);  // nothing was sent
}

// A socket answers every ioctl with ENOTTY, so ERROR_NOT_SUPPORTED shows that a request
// reached the ioctl and ERROR_INVALID_PARAMETER that it was refused before.
TEST_F(HidrawSocket, ReportRequestsOutOfRangeNeverReachTheIoctl) {
    std::vector<std::uint8_t> answer{1, 2, 3};
    EXPECT_EQ(connection_->GetInputReport(0, 0x240, answer), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(connection_->GetInputReport(0, 0x4040, answer), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(connection_->GetFeature(3, 1, answer), ERROR_INVALID_PARAMETER);
    std::vector<std::uint8_t> big(16384);
    EXPECT_EQ(connection_->SetOutputReport(big), ERROR_INVALID_PARAMETER);
    big.resize(16383);
    EXPECT_EQ(connection_->SetOutputReport(big), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(connection_->SetFeature(std::vector<std::uint8_t>{7}), ERROR_INVALID_PARAMETER);
    std::u16string text;
    EXPECT_EQ(connection_->GetString(hidtransport::StringKind::Product, 0, text), ERROR_NOT_SUPPORTED);
    std::vector<std::uint8_t> descriptor;
    EXPECT_EQ(connection_->GetReportDescriptor(descriptor), ERROR_NOT_SUPPORTED);  // no sysfs: the ioctl
}

// With a sysfs view, the descriptor comes from sysfs. An unplug shows on the open file
// (poll: POLLHUP) while the node's sysfs directory is still there: the kernel removes it
// only after the failing call has returned.
class HidrawSocketWithNode : public HidrawSocket {
protected:
    void SetUp() override {
        hidDir_ = sys_.AddUsbNode(9, "1-2", "00");
        FakeSysfs::Write(hidDir_ + "/report_descriptor", std::string("\x06\x00\xFF\x09\x01\xA1\x01\xC0", 8));
        node_ = hidraw::ReadNode("hidraw9");
        ASSERT_TRUE(node_);
        HidrawSocket::SetUp();
    }
    FakeSysfs sys_;
    std::string hidDir_;
};

TEST_F(HidrawSocketWithNode, DescriptorFromSysfsAndUnplugFromTheOpenFile) {
    std::vector<std::uint8_t> descriptor;
    EXPECT_EQ(connection_->GetReportDescriptor(descriptor), ERROR_SUCCESS);
    EXPECT_EQ(descriptor.size(), 8u);
    hidtransport::InterfaceInfo info;
    EXPECT_EQ(connection_->GetAttributes(info), ERROR_SUCCESS);
    EXPECT_EQ(info.productId, 0x5678);
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(connection_->GetInputReport(1, 0x240, answer), ERROR_NOT_SUPPORTED);  // present: the ioctl's own error
    Unplug();
    ASSERT_TRUE(fs::exists(hidDir_));
    EXPECT_EQ(connection_->GetInputReport(1, 0x240, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection_->SetOutputReport(std::vector<std::uint8_t>{1, 2}), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection_->GetAttributes(info), ERROR_DEVICE_NOT_CONNECTED);
}

// This descriptor declares no report IDs: read() delivers reports without the ID byte,
// and ReadReport puts it first, as ReadFile does, within the caller's length.
TEST_F(HidrawSocketWithNode, ReadsOfADeviceWithoutReportIdsStartWithIdZero) {
    Send({0xAA, 0xBB, 0xCC});
    Send({0x11});
    std::vector<std::uint8_t> report;
    EXPECT_EQ(connection_->ReadReport(report, 3), ERROR_SUCCESS);
    EXPECT_EQ(report, (std::vector<std::uint8_t>{0x00, 0xAA, 0xBB}));
    EXPECT_EQ(connection_->ReadReport(report, 64), ERROR_SUCCESS);
    EXPECT_EQ(report, (std::vector<std::uint8_t>{0x00, 0x11}));
    EXPECT_EQ(connection_->ReadReport(report, 1), ERROR_INVALID_USER_BUFFER);  // room for the ID byte only
}

TEST(HidrawOpen, RefusalsOfTheSystemAndOfNonHidrawFiles) {
    FakeSysfs sys;
    auto provider = hidraw::MakeHidrawProvider();
    std::unique_ptr<hidtransport::Connection> connection;
    std::string dir = sys.Root() + "/dev/hidraw1";
    fs::create_directory(dir);
    EXPECT_EQ(provider->Open(Utf8ToUtf16(dir), 0, 3, connection), ERROR_ACCESS_DENIED);  // EISDIR
    EXPECT_EQ(provider->Open(Utf8ToUtf16(sys.DevPath(2)), 0, 3, connection), ERROR_FILE_NOT_FOUND);
    FakeSysfs::Write(sys.DevPath(3), "");
    EXPECT_EQ(provider->Open(Utf8ToUtf16(sys.DevPath(3)), 0, 3, connection), ERROR_NOT_SUPPORTED);  // ENOTTY
    EXPECT_FALSE(connection);
    EXPECT_TRUE(provider->Owns(Utf8ToUtf16(sys.DevPath(3))));
    EXPECT_FALSE(provider->Owns(u"\\\\?\\vhid#tool#0"));
}

// Mode 000 stops everyone but root, so this case runs only for a user.
TEST(HidrawOpen, NodeWithoutPermissionIsAccessDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens any file";
    FakeSysfs sys;
    FakeSysfs::Write(sys.DevPath(4), "");
    fs::permissions(sys.DevPath(4), fs::perms::none);
    std::unique_ptr<hidtransport::Connection> connection;
    EXPECT_EQ(hidraw::MakeHidrawProvider()->Open(Utf8ToUtf16(sys.DevPath(4)), 0, 3, connection), ERROR_ACCESS_DENIED);
}

TEST(HidrawOpen, SharingFollowsTheLocksOfOtherOpens) {
    FakeSysfs sys;
    FakeSysfs::Write(sys.DevPath(5), "");
    std::u16string path = Utf8ToUtf16(sys.DevPath(5));
    auto provider = hidraw::MakeHidrawProvider();
    std::unique_ptr<hidtransport::Connection> connection;
    int other = ::open(sys.DevPath(5).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_SH), 0);
    EXPECT_EQ(provider->Open(path, 0, 0, connection), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(provider->Open(path, 0, 3, connection), ERROR_NOT_SUPPORTED);  // past the lock
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_EQ(provider->Open(path, 0, 3, connection), ERROR_SHARING_VIOLATION);
    ::close(other);
    EXPECT_EQ(provider->Open(path, 0, 0, connection), ERROR_NOT_SUPPORTED);
}

}  // namespace
