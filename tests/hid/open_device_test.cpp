// Open Device against virtual devices: the search, the checks of the device's reports,
// and what the dialog's controls show afterwards.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/win/module.h"
#include "support/host_fixture.h"

namespace ids = ui::ids;
using testsupport::VendorDescriptor;

namespace {

using OpenDevice = testsupport::HostFixture;

TEST_F(OpenDevice, IdFieldTextIsReadAsHexadecimal) {
    struct IdText {
        const char* text;
        USHORT value;
    };
    // The parse itself is the hex field's; here: nine characters read, kept to 16 bits.
    for (IdText t : {IdText{"0x1F", 0x1F}, IdText{"123456789", 0xFFFF}, IdText{"12345678", 0x5678}}) {
        auto device = Publish(t.value, 0x4242);
        window.ClearCalls();
        Press(t.text, "4242");
        EXPECT_EQ(host.Query().vendorId, t.value) << t.text;
        EXPECT_EQ(window.Traces().at(0), ui::Format("Open Device Info--VID/PID (0x%04x~0x4242) \n", t.value));
        EXPECT_EQ(std::u16string(host.OpenedDevice().path.get()), device->Path()) << t.text;
    }
}

TEST_F(OpenDevice, MatchAtIndexThreeShowsItsInfoAndReleasesTheOthers) {
    auto a = Publish(0x1111, 0x0001), b = Publish(0x1209, 0x7E58), c = Publish(0x2222, 0x0001);
    auto match = Publish(), second = Publish();  // the second match is not opened: the first wins
    Press();
    ASSERT_EQ(host.IsDeviceOpen(), 1);
    EXPECT_EQ(host.MatchedIndex(), 3u);
    EXPECT_EQ(window.Control(ids::kDeviceInfo).text, "Device #3: VID: 0x1209  PID: 0x7E57  UsagePage: 0xFF00  Usage: 0x1");
    EXPECT_EQ(std::u16string(host.OpenedDevice().path.get()), match->Path());
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);  // only the opened device's handle is left of the search
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
}

// The device list starts with room for 20 interfaces and grows: a match past the 20th and
// the 40th is still found, and every other interface's record is released.
TEST_F(OpenDevice, MatchBeyondTheFirstListCapacityIsFound) {
    std::vector<std::unique_ptr<vhid::Publication>> others;
    for (int i = 0; i < 45; ++i) others.push_back(Publish(0x1111, static_cast<USHORT>(i)));
    auto match = Publish();
    Press();
    ASSERT_EQ(host.IsDeviceOpen(), 1);
    EXPECT_EQ(host.MatchedIndex(), 45u);
    EXPECT_EQ(std::u16string(host.OpenedDevice().path.get()), match->Path());
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);
}

TEST_F(OpenDevice, NoMatchShowsOneBoxAndRequestsClose) {
    auto other = Publish(0x1111, 0x0001);
    Press();
    EXPECT_EQ(host.IsDeviceOpen(), 0);
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(std::tuple(boxes[0].text, boxes[0].caption, boxes[0].icon, boxes[0].owner),
              std::tuple("HID Device no found !", "Error", ui::Icon::Error, ui::BoxOwner::Dialog));
    EXPECT_EQ(window.CloseRequests(), 1);
    // The close path releases a record that was never opened (handle 0) without harm.
    host.Close();
    EXPECT_EQ(LiveHandleCount(), handlesBefore);
    EXPECT_EQ(host.OpenedDevice().handle, INVALID_HANDLE_VALUE);
}

TEST_F(OpenDevice, SizesTheBuffersFromTheValueCapabilitiesBuildsTheEntriesAndEnablesThePanel) {
    auto device = Publish(0x1209, 0x7E57, VendorDescriptor({259, 40, 50}, {256, 63, 63}));
    Press();
    ASSERT_EQ(host.IsDeviceOpen(), 1);
    EXPECT_EQ((std::vector<ULONG>{host.flashBuffer.length, host.controlBuffer.length, host.iicBuffer.length,
                                  host.flashReadLength}),
              (std::vector<ULONG>{260, 41, 51, 256}));
    EXPECT_TRUE(host.flashBuffer && host.controlBuffer && host.iicBuffer);
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));

    const HidDevice& d = host.OpenedDevice();  // one usage entry per value capability
    EXPECT_EQ(std::tuple(d.Tables(HidP_Output).entryCount, d.Tables(HidP_Input).entryCount, d.Tables(HidP_Feature).entryCount), std::tuple(3u, 3u, 0u));
    for (int id : {ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kGetFwVersion, ids::kGetHdmiInfo})
        EXPECT_TRUE(window.Control(id).enabled) << id;
}

TEST_F(OpenDevice, RefusedLayoutsAreTracedAndLeaveOpenDeviceEnabled) {
    struct Layout {
        std::vector<std::uint16_t> outputs, inputs;
        const char* what;
    };
    for (const Layout& l : {Layout{{259, 63}, {256, 63, 63}, "two outputs"}, Layout{{259, 63, 63}, {256, 63}, "two inputs"},
                            Layout{{259, 63, 63}, {0, 63, 63}, "flash read length 0"},
                            Layout{{259, 63, 63}, {261, 63, 63}, "read longer than the write buffer"}}) {
        auto device = Publish(0x1209, 0x7E57, VendorDescriptor(l.outputs, l.inputs));
        Press();
        EXPECT_EQ(host.IsDeviceOpen(), 1) << l.what;
        EXPECT_EQ(window.Traces().back(), "Error initializing flash and RW buffer\n") << l.what;
        EXPECT_TRUE(window.IsControlEnabled(ids::kOpenDevice)) << l.what;
        EXPECT_FALSE(host.flashBuffer || host.controlBuffer || host.iicBuffer) << l.what;
        EXPECT_TRUE(window.MessageBoxes().empty()) << l.what;
        EXPECT_EQ(LiveHandleCount(), handlesBefore + 1) << l.what;  // a press releases the earlier record
    }
    // After the refusals a good device is opened afresh.
    auto good = Publish();
    Press();
    EXPECT_EQ(std::u16string(host.OpenedDevice().path.get()), good->Path());
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);
}

TEST_F(OpenDevice, FailedBufferAllocationIsTracedAndTheOpenGoesOn) {
    auto device = Publish();
    heap_testing::FailAllocationAfter(1);  // the control buffer, the second of the three
    Press();
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(window.Traces().back(), "Error allocating memory\n");
    EXPECT_TRUE(host.flashBuffer && host.iicBuffer);
    EXPECT_FALSE(host.controlBuffer);
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
}

TEST_F(OpenDevice, MissingHidEntryPointIsTracedAndTheOpenGoesOn) {
    auto device = Publish();
    module_testing::HideExport(u"HID.DLL", "HidP_InitializeReportForID", true);
    Press();
    module_testing::HideExport(u"HID.DLL", "HidP_InitializeReportForID", false);
    auto traces = window.Traces();
    EXPECT_NE(std::find(traces.begin(), traces.end(), "Fail to get HID function\n"), traces.end());
    EXPECT_EQ(pHidP_InitializeReportForID, nullptr);
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
}

}  // namespace
