// hidraw: URB statuses, answer and sent lengths, report ID detection, the usbhid quirk
// that routes output reports, and reads that must not hold up report requests.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/win/text.h"
#include "tests/platform/hidraw_fake_sysfs.h"

namespace {

TEST(HidrawMends, TransferErrorsAreUrbStatusesAndLengthsAreChecked) {
    struct Row { int err; bool gone; DWORD expected; };
    for (Row row : {Row{ENOENT, false, ERROR_GEN_FAILURE}, {ECONNRESET, false, ERROR_GEN_FAILURE},
                    {EPROTO, false, ERROR_GEN_FAILURE}, {EPIPE, false, ERROR_GEN_FAILURE},
                    {ETIMEDOUT, false, ERROR_SEM_TIMEOUT}, {ENODEV, false, ERROR_DEVICE_NOT_CONNECTED},
                    {ESHUTDOWN, false, ERROR_DEVICE_NOT_CONNECTED}, {EPROTO, true, ERROR_DEVICE_NOT_CONNECTED},
                    {EPIPE, true, ERROR_DEVICE_NOT_CONNECTED}})
        EXPECT_EQ(hidraw::TransferError(row.err, row.gone), row.expected) << row.err << " gone " << row.gone;
    EXPECT_TRUE(hidraw::MayBeUnplug(EILSEQ));
    EXPECT_FALSE(hidraw::MayBeUnplug(EPIPE));
    // Report 0 with an empty data stage still has its ID byte; a numbered report has nothing.
    EXPECT_EQ(hidraw::AnswerLength(0, 0), 1);
    EXPECT_EQ(hidraw::AnswerLength(1, 0), 0);
    EXPECT_EQ(hidraw::AnswerLength(0, 9), 9);
    EXPECT_EQ(hidraw::AnswerLength(0, -1), 0);
    EXPECT_TRUE(hidraw::SentWhole(64, 64));
    EXPECT_FALSE(hidraw::SentWhole(63, 64));
    EXPECT_FALSE(hidraw::SentWhole(-1, 64));
}

TEST(HidrawMends, ReportIdItemsAndQuirkEntries) {
    using Bytes = std::vector<std::uint8_t>;
    struct Descriptor { Bytes bytes; bool ids; };
    for (const Descriptor& d : {Descriptor{{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0xC0}, true},
                                {{0x06, 0x00, 0xFF, 0xA1, 0x01, 0xC0}, false},
                                {{0x96, 0x84, 0x85, 0xC0}, false},          // 0x84/0x85 as item data
                                {{0xFE, 0x02, 0x10, 0x85, 0x01, 0xC0}, false},  // inside a long item
                                {{0xFE, 0x00, 0x10, 0x86, 0x00, 0x01}, true},   // after one, 2-byte Report ID
                                {{0x06, 0x00}, false}})                     // cut short
        EXPECT_EQ(hidraw::UsesReportIds(d.bytes), d.ids) << testing::PrintToString(d.bytes);

    struct Quirk { const char* parameter; bool set; };
    for (Quirk q : {Quirk{"0x1209:0x0001:0x00040000\n", true}, {"0x1209:0x0001:0x00040004", true},
                    {"0x046d:0xc077:0x4,0x1209:0x0001:0x40000", true}, {"0x1209:0x0001:0x00000004", false},
                    {"0x1209:0x0002:0x00040000", false}, {"", false}, {"0x1209:0x0001", false}, {",,", false}})
        EXPECT_EQ(hidraw::QuirkSendsOutputAsSetReport(q.parameter, 0x1209, 0x0001), q.set) << q.parameter;
    std::string advice = hidraw::InterruptOutAdvice("/dev/hidraw0", 0x1209, 0x0001);
    EXPECT_NE(advice.find("usbhid.quirks=0x1209:0x0001:0x00040000"), std::string::npos) << advice;
    EXPECT_NE(advice.find("options usbhid quirks=0x1209:0x0001:0x00040000"), std::string::npos) << advice;
    advice = hidraw::PermissionAdvice("/dev/hidraw0", 0x1209, 0x0001);
    EXPECT_NE(advice.find("ATTRS{idVendor}==\"1209\", ATTRS{idProduct}==\"0001\""), std::string::npos) << advice;
}

// An interface with an interrupt OUT endpoint is refused, with the quirk to set, unless
// usbhid already has that quirk for the device.
TEST(HidrawMends, InterruptOutEndpointNeedsTheQuirk) {
    FakeSysfs sys;
    std::string hidDir = sys.AddUsbNode(2, "1-1", "00", "0003:00001209:00000001");
    sys.AddEndpoint(hidDir, "ep_02", "out", "Interrupt");
    std::string quirks = sys.Root() + "/quirks";
    hidraw::SetUsbhidQuirksPathForTesting(quirks);
    auto provider = hidraw::MakeHidrawProvider();
    std::unique_ptr<hidtransport::Connection> connection;
    for (const char* parameter : {"", "0x1209:0x0001:0x00040000"}) {
        FakeSysfs::Write(quirks, parameter);
        testing::internal::CaptureStderr();
        // The fake node is a plain file: past the check, the hidraw ioctl fails with ENOTTY.
        EXPECT_EQ(provider->Open(Utf8ToUtf16(sys.DevPath(2)), 0, 3, connection), ERROR_NOT_SUPPORTED);
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.find("usbhid.quirks=0x1209:0x0001:0x00040000") != std::string::npos, *parameter == '\0')
            << parameter << ": " << said;
    }
    hidraw::SetUsbhidQuirksPathForTesting("");
}

// A read waiting for a report must not hold up report requests on the same handle.
TEST(HidrawMends, WaitingReadDoesNotBlockReportRequests) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    auto connection = hidraw::MakeConnection(ends[0], std::nullopt, {u"/dev/hidraw9", 1, 2, 3}, 60000);
    std::atomic<bool> reading{false}, done{false};
    std::vector<std::uint8_t> report;
    std::thread reader([&] {
        reading = true;
        EXPECT_EQ(connection->ReadReport(report, 8), ERROR_SUCCESS);
        done = true;
    });
    while (!reading) std::this_thread::yield();
    // A socket refuses the ioctl at once (ENOTTY); held behind the read, it would wait a minute.
    EXPECT_EQ(connection->SetOutputReport(std::vector<std::uint8_t>{1, 2}), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(done);
    std::uint8_t wake[2] = {7, 8};
    ASSERT_EQ(::send(ends[1], wake, sizeof wake, 0), 2);
    reader.join();
    EXPECT_EQ(report, (std::vector<std::uint8_t>{7, 8}));
    ::close(ends[1]);
}

}  // namespace
