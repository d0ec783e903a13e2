// Open Device against virtual devices: the search, the checks of the device's reports,
// and what the dialog's controls show afterwards.
#include <gtest/gtest.h>

#include "hid/device_host.h"
#include "platform/win/handles.h"
#include "platform/win/module.h"
#include "support/vendor_descriptor.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace ids = ui::ids;
using testsupport::VendorDescriptor;

namespace {

class TestHost : public HidDeviceHost {
public:
    using HidDeviceHost::HidDeviceHost;
    using HidDeviceHost::controlBuffer;
    using HidDeviceHost::controlBufferLength;
    using HidDeviceHost::device;
    using HidDeviceHost::flashBuffer;
    using HidDeviceHost::flashBufferLength;
    using HidDeviceHost::flashReadLength;
    using HidDeviceHost::iicBuffer;
    using HidDeviceHost::iicBufferLength;
};

class OpenDevice : public ::testing::Test {
protected:
    std::unique_ptr<vhid::Publication> Publish(USHORT vid, USHORT pid, std::vector<std::uint8_t> descriptor) {
        vhid::DeviceInfo info;
        info.path = vhid::MakePath("open");
        info.vendorId = vid;
        info.productId = pid;
        info.reportDescriptor = std::move(descriptor);
        return vhid::Publish(std::move(info), std::make_shared<testsupport::RecordingDevice>());
    }

    void Press(const std::string& vid, const std::string& pid) {
        window.TypeText(ids::kVid, vid);
        window.TypeText(ids::kPid, pid);
        host.OnOpenDevice();
    }

    void TearDown() override {
        host.ReleaseHidDevice(host.device);
        host.ReleaseCommandBuffers();
        EXPECT_EQ(LiveHandleCount(), handlesBefore);
    }

    std::size_t handlesBefore = LiveHandleCount();
    ui::RecordingWindow window;
    TestHost host{window};
};

struct IdText {
    const char* text;
    USHORT value;
};

class IdFieldText : public OpenDevice, public ::testing::WithParamInterface<IdText> {};

TEST_P(IdFieldText, IsReadAsHexadecimal) {
    auto device = Publish(GetParam().value, 0x4242, testsupport::CaptureDeviceDescriptor());
    Press(GetParam().text, "4242");
    EXPECT_EQ(WantedVendorId, GetParam().value);
    EXPECT_EQ(window.Traces().at(0), ui::Format("Open Device Info--VID/PID (0x%04x~0x4242) \n", GetParam().value));
    EXPECT_EQ(host.IsDeviceOpen(), 1);
}

INSTANTIATE_TEST_SUITE_P(Texts, IdFieldText,
                         ::testing::Values(IdText{"abcd", 0xABCD}, IdText{"ABCD", 0xABCD}, IdText{"0x1F", 0x1F},
                                           IdText{"32G0", 0x32}, IdText{"", 0}, IdText{"  12", 0x12},
                                           IdText{"123456789", 0xFFFF}));  // saturates

TEST_F(OpenDevice, MatchAtIndexThreeShowsItsInfoAndReleasesTheOthers) {
    auto a = Publish(0x1111, 0x0001, testsupport::CaptureDeviceDescriptor());
    auto b = Publish(0x1209, 0x7E58, testsupport::CaptureDeviceDescriptor());
    auto c = Publish(0x2222, 0x0001, testsupport::CaptureDeviceDescriptor());
    auto match = Publish(0x1209, 0x7E57, testsupport::CaptureDeviceDescriptor());
    auto second = Publish(0x1209, 0x7E57, testsupport::CaptureDeviceDescriptor());  // not opened: the first wins
    Press("1209", "7E57");
    ASSERT_EQ(host.IsDeviceOpen(), 1);
    EXPECT_EQ(MatchedDeviceIndex, 3u);
    EXPECT_EQ(window.Control(ids::kDeviceInfo).text, "Device #3: VID: 0x1209  PID: 0x7E57  UsagePage: 0xFF00  Usage: 0x1");
    EXPECT_EQ(std::u16string(host.device.path.get()), match->Path());
    // Only the opened device's handle is left of the search.
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
}

TEST_F(OpenDevice, NoMatchShowsOneBoxAndRequestsClose) {
    auto other = Publish(0x1111, 0x0001, testsupport::CaptureDeviceDescriptor());
    Press("1209", "7E57");
    EXPECT_EQ(host.IsDeviceOpen(), 0);
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "HID Device no found !");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].icon, ui::Icon::Error);
    EXPECT_EQ(boxes[0].owner, ui::BoxOwner::Dialog);
    EXPECT_EQ(window.CloseRequests(), 1);
    // The close path releases a record that was never opened (handle 0) without harm.
    host.ReleaseHidDevice(host.device);
    EXPECT_EQ(LiveHandleCount(), handlesBefore);
    EXPECT_EQ(host.device.handle, INVALID_HANDLE_VALUE);
}

TEST_F(OpenDevice, SizesTheBuffersFromTheValueCapabilitiesBuildsTheEntriesAndStartsThePanel) {
    auto device = Publish(0x1209, 0x7E57, VendorDescriptor({259, 40, 50}, {256, 63, 63}));
    Press("1209", "7E57");
    ASSERT_EQ(host.IsDeviceOpen(), 1);
    EXPECT_EQ(host.flashBufferLength, 260u);
    EXPECT_EQ(host.controlBufferLength, 41u);
    EXPECT_EQ(host.iicBufferLength, 51u);
    EXPECT_EQ(host.flashReadLength, 256u);
    EXPECT_TRUE(host.flashBuffer && host.controlBuffer && host.iicBuffer);
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));

    const HidDevice& d = host.device;  // one usage entry per value capability
    ASSERT_EQ(d.outputEntryCount, 3u);
    ASSERT_EQ(d.inputEntryCount, 3u);
    EXPECT_EQ(d.featureEntryCount, 0u);
    for (ULONG i = 0; i < 3; ++i) {
        EXPECT_EQ(d.outputEntries[i].isButton, 0);
        EXPECT_EQ(d.outputEntries[i].reportId, i + 1);
        EXPECT_EQ(d.outputEntries[i].usagePage, 0xFF00);
        EXPECT_EQ(d.outputEntries[i].status, HIDP_STATUS_SUCCESS);
        EXPECT_EQ(d.inputEntries[i].reportId, i + 4);
    }
    EXPECT_EQ(d.caps.InputReportByteLength, 257);
    EXPECT_EQ(d.caps.OutputReportByteLength, 260);

    EXPECT_EQ(window.Control(ids::kRadioRegister).check, 1);
    EXPECT_EQ(window.Control(ids::kRadioIic).check, 0);
    EXPECT_EQ(window.Control(ids::kRadioGpio).check, 0);
    EXPECT_EQ(window.Control(ids::kGpioNumber).items, (std::vector<std::string>{"GPIO_0", "GPIO_1", "GPIO_2", "GPIO_3"}));
    EXPECT_EQ(window.Control(ids::kGpioNumber).selection, 0);
    EXPECT_EQ(window.Control(ids::kGpioDirection).items, (std::vector<std::string>{"INPUT", "OUTPUT"}));
    struct Field {
        int id;
        const char* text;
        int limit;
    };
    for (Field f : {Field{ids::kGpioValue, "00", 2}, Field{ids::kIicAddr, "90", 2}, Field{ids::kIicRetCode, "00", 2},
                    Field{ids::kIicData, "0F00", 4}, Field{ids::kRegAddr, "D8000004", 8},
                    Field{ids::kRegValue, "12345678", 8}, Field{ids::kProgressTotal, "0", -1},
                    Field{ids::kProgressDone, "0", -1}, Field{ids::kStatusText, "Status: Wait", -1}}) {
        EXPECT_EQ(window.Control(f.id).text, f.text) << f.id;
        if (f.limit > 0) {
            EXPECT_EQ(window.Control(f.id).textLimit, f.limit) << f.id;
        }
    }
    for (int id : {ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kGetFwVersion, ids::kGetHdmiInfo})
        EXPECT_TRUE(window.Control(id).enabled) << id;
}

struct RefusedLayout {
    std::vector<std::uint16_t> outputs;
    std::vector<std::uint16_t> inputs;
};

class RefusedDevice : public OpenDevice, public ::testing::WithParamInterface<RefusedLayout> {};

TEST_P(RefusedDevice, IsTracedAndLeavesOpenDeviceEnabled) {
    auto device = Publish(0x1209, 0x7E57, VendorDescriptor(GetParam().outputs, GetParam().inputs));
    Press("1209", "7E57");
    EXPECT_EQ(host.IsDeviceOpen(), 1);
    EXPECT_EQ(window.Traces().back(), "Error initializing flash and RW buffer\n");
    EXPECT_TRUE(window.IsControlEnabled(ids::kOpenDevice));
    EXPECT_FALSE(host.flashBuffer || host.controlBuffer || host.iicBuffer);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, RefusedDevice,
                         ::testing::Values(RefusedLayout{{259}, {256, 63, 63}},          // one output capability
                                           RefusedLayout{{259, 63}, {256, 63, 63}},      // two
                                           RefusedLayout{{259, 63, 63}, {256, 63}},      // two inputs
                                           RefusedLayout{{259, 63, 63}, {0, 63, 63}},    // flash read length 0
                                           RefusedLayout{{259, 63, 63}, {261, 63, 63}}));  // read > write buffer

TEST_F(OpenDevice, SecondPressAfterARefusalSearchesAfreshAndReleasesTheFirstRecord) {
    auto refused = Publish(0x1209, 0x7E57, VendorDescriptor({259, 63}, {256, 63, 63}));
    Press("1209", "7E57");
    ASSERT_TRUE(window.IsControlEnabled(ids::kOpenDevice));
    refused.reset();
    auto good = Publish(0x1209, 0x7E57, testsupport::CaptureDeviceDescriptor());
    Press("1209", "7E57");
    EXPECT_EQ(std::u16string(host.device.path.get()), good->Path());
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
    EXPECT_EQ(LiveHandleCount(), handlesBefore + 1);
}

TEST_F(OpenDevice, FailedBufferAllocationIsTracedAndTheOpenGoesOn) {
    auto device = Publish(0x1209, 0x7E57, testsupport::CaptureDeviceDescriptor());
    heap_testing::FailAllocationAfter(1);  // the control buffer, the second of the three
    Press("1209", "7E57");
    heap_testing::FailAllocationAfter(-1);
    EXPECT_EQ(window.Traces().back(), "Error allocating memory\n");
    EXPECT_TRUE(host.flashBuffer);
    EXPECT_FALSE(host.controlBuffer);
    EXPECT_TRUE(host.iicBuffer);
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
}

TEST_F(OpenDevice, MissingHidEntryPointIsTracedAndTheOpenGoesOn) {
    auto device = Publish(0x1209, 0x7E57, testsupport::CaptureDeviceDescriptor());
    module_testing::HideExport(u"HID.DLL", "HidP_InitializeReportForID", true);
    Press("1209", "7E57");
    module_testing::HideExport(u"HID.DLL", "HidP_InitializeReportForID", false);
    auto traces = window.Traces();
    EXPECT_NE(std::find(traces.begin(), traces.end(), "Fail to get HID function\n"), traces.end());
    EXPECT_EQ(pHidP_InitializeReportForID, nullptr);
    EXPECT_FALSE(window.IsControlEnabled(ids::kOpenDevice));
}

TEST_F(OpenDevice, BuildsOneUsageEntryPerButtonCapAndValueUsage) {
    auto device = Publish(0x1209, 0x7E57, testsupport::CaptureDeviceDescriptor());
    Press("1209", "7E57");
    ASSERT_EQ(host.IsDeviceOpen(), 1);
    const HidDevice& d = host.device;
    ASSERT_EQ(d.outputEntryCount, 3u);
    ASSERT_EQ(d.inputEntryCount, 3u);
    EXPECT_EQ(d.featureEntryCount, 0u);
    for (ULONG i = 0; i < 3; ++i) {
        EXPECT_EQ(d.outputEntries[i].isButton, 0);
        EXPECT_EQ(d.outputEntries[i].reportId, i + 1);
        EXPECT_EQ(d.outputEntries[i].usagePage, 0xFF00);
        EXPECT_EQ(d.outputEntries[i].status, HIDP_STATUS_SUCCESS);
        EXPECT_EQ(d.inputEntries[i].reportId, i + 4);
    }
    EXPECT_EQ(d.caps.InputReportByteLength, 257);
    EXPECT_EQ(d.caps.OutputReportByteLength, 260);
}

}  // namespace
