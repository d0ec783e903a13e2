// The hidraw transport's view of sysfs, against a fake tree.
#include <gtest/gtest.h>

#include "platform/win/text.h"
#include "tests/platform/hidraw_fake_sysfs.h"

namespace {

using hidtransport::StringKind;

TEST(HidrawSysfs, NodeNamesSortByNumberAndOthersAreDropped) {
    auto sorted = hidraw::SortedNodeNames({"hidraw10", "hidraw2", "hidraw", "hidrawx", "hidraw1a", "foo", "hidraw0"});
    EXPECT_EQ(sorted, (std::vector<std::string>{"hidraw0", "hidraw2", "hidraw10"}));
}

TEST(HidrawSysfs, HidIdParsesUppercaseHexAndRefusesWhatDoesNotFit) {
    auto id = hidraw::ParseHidId("0003:0000046D:0000C077\n");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->bus, 0x0003);
    EXPECT_EQ(id->vendor, 0x046D);
    EXPECT_EQ(id->product, 0xC077);
    for (const char* bad : {"0003:0001046D:0000C077", "0003:0000046D", "0003:0000046D:0000C077:1", "0003::0000C077",
                            "0003:0000046G:0000C077", "0003:000000046D:0000C077", ""})
        EXPECT_FALSE(hidraw::ParseHidId(bad)) << bad;
}

// Three good nodes among ones that are broken, gone or half made; the scan lists the
// good ones in node order and skips the rest.
TEST(HidrawSysfs, ScanListsReadableNodesInNodeOrder) {
    FakeSysfs sys;
    std::string keyboard = sys.AddUsbNode(10, "1-2", "0a");
    sys.AddEndpoint(keyboard, "ep_81", "in", "Interrupt");
    sys.AddEndpoint(keyboard, "ep_02", "out", "Interrupt");
    std::string tool = sys.AddUsbNode(2, "1-3", "00", "0003:00001234:0000ABCD");
    sys.AddEndpoint(tool, "ep_81", "in", "Interrupt");
    sys.AddEndpoint(tool, "ep_03", "out", "Bulk");
    sys.AddNode(5, "virtual/misc/uhid", "0005:0000AAAA:0000BBBB");
    sys.AddUsbNode(6, "1-4", "00", "0003:0001046D:0000C077");  // vendor beyond 16 bits
    sys.AddUsbNode(8, "1-5", "00");
    fs::remove(sys.DevPath(8));  // udev has not made the /dev node yet
    fs::remove_all(sys.AddUsbNode(7, "1-6", "00"));  // the device went away: dangling links

    auto nodes = hidraw::ScanNodes();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].name, "hidraw2");
    EXPECT_EQ(nodes[0].id.product, 0xABCD);
    EXPECT_FALSE(nodes[0].hasInterruptOut);
    EXPECT_EQ(nodes[1].name, "hidraw5");
    EXPECT_FALSE(nodes[1].usb);
    EXPECT_EQ(nodes[1].version, 0);
    EXPECT_EQ(nodes[2].name, "hidraw10");
    EXPECT_TRUE(nodes[2].usb);
    EXPECT_EQ(nodes[2].interfaceNumber, 10u);  // bInterfaceNumber is hex
    EXPECT_EQ(nodes[2].version, 0x0112);
    EXPECT_TRUE(nodes[2].hasInterruptOut);
    EXPECT_TRUE(hidraw::HasInterruptOut(Utf8ToUtf16(sys.DevPath(10))));
    EXPECT_FALSE(hidraw::HasInterruptOut(Utf8ToUtf16(sys.DevPath(2))));

    std::vector<hidtransport::InterfaceInfo> listed;
    hidraw::MakeHidrawProvider()->Enumerate(listed);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[2].path, Utf8ToUtf16(sys.DevPath(10)));
    EXPECT_EQ(listed[2].vendorId, 0x046D);
    EXPECT_EQ(listed[2].productId, 0xC077);
    EXPECT_EQ(listed[2].versionNumber, 0x0112);
}

// The USB route needs bus 0003 and a parent with bInterfaceNumber.
TEST(HidrawSysfs, UsbRouteNeedsUsbBusAndInterface) {
    FakeSysfs sys;
    sys.AddUsbNode(1, "1-2", "00", "0005:0000046D:0000C077");   // Bluetooth id below a USB-looking parent
    sys.AddNode(2, "virtual/misc/uhid", "0003:0000046D:0000C077");  // USB id from uhid
    for (unsigned n : {1u, 2u}) {
        auto node = hidraw::ReadNode("hidraw" + std::to_string(n));
        ASSERT_TRUE(node) << n;
        EXPECT_FALSE(node->usb) << n;
        std::u16string text;
        EXPECT_EQ(hidraw::ReadString(*node, StringKind::Product, 0, text), ERROR_NOT_SUPPORTED) << n;
    }
}

TEST(HidrawSysfs, StringsComeFromTheUsbDevice) {
    FakeSysfs sys;
    std::string hidDir = sys.AddUsbNode(3, "1-2", "00");
    std::string usbDir = fs::path(hidDir).parent_path().parent_path().string();
    FakeSysfs::Write(usbDir + "/manufacturer", "Caf\xC3\xA9 Labs\n");
    FakeSysfs::Write(usbDir + "/product", "Capture\n\n");
    auto node = hidraw::ReadNode("hidraw3");
    ASSERT_TRUE(node);
    std::u16string text;
    EXPECT_EQ(hidraw::ReadString(*node, StringKind::Manufacturer, 0, text), ERROR_SUCCESS);
    EXPECT_EQ(text, u"Caf\u00E9 Labs");
    EXPECT_EQ(hidraw::ReadString(*node, StringKind::Product, 0, text), ERROR_SUCCESS);
    EXPECT_EQ(text, u"Capture\n");  // only the attribute's own line end goes
    EXPECT_EQ(hidraw::ReadString(*node, StringKind::SerialNumber, 0, text), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(hidraw::ReadString(*node, StringKind::Indexed, 1, text), ERROR_NOT_SUPPORTED);
    fs::remove_all(usbDir);
    EXPECT_EQ(hidraw::ReadString(*node, StringKind::SerialNumber, 0, text), ERROR_DEVICE_NOT_CONNECTED);
}

TEST(HidrawSysfs, DescriptorOfTheFullKernelSizeIsReadWhole) {
    FakeSysfs sys;
    std::string hidDir = sys.AddUsbNode(4, "1-2", "00");
    std::string bytes(hidraw::kMaxDescriptorLength, '\x05');
    bytes[4095] = '\xC0';
    FakeSysfs::Write(hidDir + "/report_descriptor", bytes);
    auto node = hidraw::ReadNode("hidraw4");
    ASSERT_TRUE(node);
    std::vector<std::uint8_t> descriptor;
    ASSERT_EQ(hidraw::ReadSysfsDescriptor(*node, descriptor), ERROR_SUCCESS);
    ASSERT_EQ(descriptor.size(), 4096u);
    EXPECT_EQ(descriptor.back(), 0xC0);
    FakeSysfs::Write(hidDir + "/report_descriptor", bytes + "x");  // more than any descriptor can be
    EXPECT_EQ(hidraw::ReadSysfsDescriptor(*node, descriptor), ERROR_INVALID_DATA);
    EXPECT_TRUE(descriptor.empty());
}

}  // namespace
