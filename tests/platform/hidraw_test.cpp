// The hidraw transport: its pure rules, its view of a fake sysfs tree, opens of fake /dev
// nodes, and connections over a packet socket standing in for the node.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <utility>

#include "platform/hid/hid_library.h"
#include "platform/hid/transport_hidraw.h"
#include "platform/win/text.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using hidraw::ReportRequest;
using hidtransport::StringKind;

// A fake sysfs tree and /dev in a temporary directory, laid out as the kernel does it:
// class/hidraw/hidrawN links to devices/.../<HID device>/hidraw/hidrawN, whose `device`
// link points back up to the HID device, below a USB interface and device.
class FakeSysfs {
public:
    FakeSysfs() {
        std::string pattern = (fs::temp_directory_path() / "hidraw-test-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        fs::create_directories(root_ + "/sys/class/hidraw");
        fs::create_directories(root_ + "/dev");
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const std::string& Root() const { return root_; }
    hidraw::Roots Roots() const { return {root_ + "/sys/class/hidraw", root_ + "/dev"}; }
    std::string DevPath(unsigned n) const { return root_ + "/dev/hidraw" + std::to_string(n); }
    std::u16string Wide(unsigned n) const { return Utf8ToUtf16(DevPath(n)); }

    static void Write(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    // A hidraw node below `parentDir` (relative to sys/devices); answers the HID device dir.
    std::string AddNode(unsigned n, const std::string& parentDir, const std::string& hidId, std::string hidName = "") {
        const std::string number = std::to_string(n);
        if (hidName.empty()) hidName = "HID." + number;
        const std::string hidDir = root_ + "/sys/devices/" + parentDir + "/" + hidName;
        const std::string nodeDir = hidDir + "/hidraw/hidraw" + number;
        Write(hidDir + "/uevent", "DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=x\n");
        Write(nodeDir + "/uevent", "MAJOR=241\nMINOR=" + number + "\nDEVNAME=hidraw" + number + "\n");
        Write(nodeDir + "/dev", "241:" + number + "\n");
        fs::create_directory_symlink("../../../" + hidName, nodeDir + "/device");
        fs::create_directory_symlink(fs::relative(nodeDir, root_ + "/sys/class/hidraw"),
                                     root_ + "/sys/class/hidraw/hidraw" + number);
        Write(DevPath(n), "");
        return hidDir;
    }

    // A node on USB interface `usbDevice`:1.`interfaceHex` of a device with bcdDevice 0112.
    std::string AddUsbNode(unsigned n, const std::string& usbDevice, const std::string& interfaceHex,
                           const std::string& hidId = "0003:0000046D:0000C077") {
        const std::string usbDir = "pci0000:00/usb1/" + usbDevice;
        const std::string interfaceDir = usbDir + "/" + usbDevice + ":1." + interfaceHex;
        Write(root_ + "/sys/devices/" + interfaceDir + "/bInterfaceNumber", interfaceHex + "\n");
        Write(root_ + "/sys/devices/" + usbDir + "/bcdDevice", "0112\n");
        return AddNode(n, interfaceDir, hidId);
    }

    // Takes node n away as an unplug does: its class link and /dev node.
    void RemoveNode(unsigned n) const {
        fs::remove(root_ + "/sys/class/hidraw/hidraw" + std::to_string(n));
        fs::remove(DevPath(n));
    }
    // The USB device's bus and device number attributes, for the node whose HID device is hidDir.
    static void SetUsbNumbers(const std::string& hidDir, const std::string& bus, const std::string& device) {
        const std::string usbDir = fs::path(hidDir).parent_path().parent_path().string();
        Write(usbDir + "/busnum", bus + "\n");
        Write(usbDir + "/devnum", device + "\n");
    }

    static void AddEndpoint(const std::string& hidDir, const std::string& name, const std::string& direction,
                            const std::string& type) {
        const std::string dir = fs::path(hidDir).parent_path().string() + "/" + name;
        Write(dir + "/direction", direction + "\n");
        Write(dir + "/type", type + "\n");
    }

private:
    std::string root_;
};

// ---- pure rules

TEST(HidrawRules, LengthLimitsIoctlNumbersWireAndAnswerLengths) {
    struct Row { std::size_t length; DWORD ioctl, write; };
    for (Row row : {Row{1, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER}, Row{2, ERROR_SUCCESS, ERROR_SUCCESS},
                    Row{16383, ERROR_SUCCESS, ERROR_SUCCESS}, Row{16384, ERROR_INVALID_PARAMETER, ERROR_SUCCESS},
                    Row{16385, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER}}) {
        EXPECT_EQ(hidraw::CheckIoctlLength(row.length), row.ioctl) << row.length;
        EXPECT_EQ(hidraw::CheckWriteLength(row.length), row.write) << row.length;
    }
    // Each request has the kernel's command number, with the length whole, up to the largest accepted.
    for (std::size_t n : {std::size_t{2}, hidraw::kMaxIoctlReportLength})
        EXPECT_EQ(std::tuple(hidraw::ReportIoctl(ReportRequest::SetFeature, n), hidraw::ReportIoctl(ReportRequest::GetFeature, n),
                             hidraw::ReportIoctl(ReportRequest::GetInput, n), hidraw::ReportIoctl(ReportRequest::SetOutput, n)),
                  std::tuple(HIDIOCSFEATURE(n), HIDIOCGFEATURE(n), HIDIOCGINPUT(n), HIDIOCSOUTPUT(n))) << n;
    // The wire length drops the ID byte of report 0 only.
    EXPECT_EQ(std::tuple(hidraw::WireLength(0, 0x240), hidraw::WireLength(1, 0x240), hidraw::WireLength(0, 2)),
              std::tuple(0x23Fu, 0x240u, 1u));
    // Report 0 with an empty data stage still has its ID byte; a numbered report has nothing.
    for (auto [id, returned, length] : {std::tuple<std::uint8_t, long, long>{0, 0, 1}, {1, 0, 0}, {0, 9, 9}, {0, -1, 0}})
        EXPECT_EQ(hidraw::AnswerLength(id, returned), length) << int{id} << " " << returned;
    EXPECT_EQ(std::tuple(hidraw::SentWhole(64, 64), hidraw::SentWhole(63, 64), hidraw::SentWhole(-1, 64)),
              std::tuple(true, false, false));
}

// A register read asks for 0x200|0x40 bytes with a 0x40-byte report buffer: the kernel
// receives into a buffer of the full requested length, and the answer is what came back.
TEST(HidrawRules, AnswerIsTheReturnedPartOfTheScratchBuffer) {
    Bytes scratch(0x300, 0xEE), expected(0x240, 0);  // a longer request's bytes were in it
    hidraw::MakeRequestBuffer(0x05, 0x240, scratch);
    expected[0] = 0x05;
    ASSERT_EQ(scratch, expected);
    for (std::size_t i = 0; i < scratch.size(); ++i) scratch[i] = static_cast<std::uint8_t>(i);
    Bytes answer;
    for (auto [returned, size] : {std::pair<long, std::size_t>{5, 5}, {0x240, 0x240}, {0x10000, 0x240}, {0, 0}, {-1, 0}}) {
        hidraw::TakeAnswer(scratch, returned, answer);
        ASSERT_EQ(answer.size(), size) << returned;
        EXPECT_TRUE(std::equal(answer.begin(), answer.end(), scratch.begin())) << returned;
    }
}

TEST(HidrawRules, TransferErrorsAreUrbStatuses) {
    struct Row { int err; bool gone; DWORD expected; };
    // URB statuses the errno mapping would call otherwise; the rest go through it.
    for (Row row : {Row{ENOENT, false, ERROR_GEN_FAILURE}, {ECONNRESET, false, ERROR_GEN_FAILURE},
                    {EPIPE, false, ERROR_GEN_FAILURE}, {ETIMEDOUT, false, ERROR_SEM_TIMEOUT},
                    {EPIPE, true, ERROR_DEVICE_NOT_CONNECTED}})
        EXPECT_EQ(hidraw::TransferError(row.err, row.gone), row.expected) << row.err << " gone " << row.gone;
    EXPECT_TRUE(hidraw::MayBeUnplug(EILSEQ));
    EXPECT_FALSE(hidraw::MayBeUnplug(EPIPE));
}

TEST(HidrawRules, ReportIdItemsQuirkEntriesAndAdvice) {
    struct Descriptor { Bytes bytes; bool ids; };
    for (const Descriptor& d : {Descriptor{{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0xC0}, true},
                                {{0x06, 0x00, 0xFF, 0xA1, 0x01, 0xC0}, false},
                                {{0x96, 0x84, 0x85, 0xC0}, false},              // 0x84/0x85 as item data
                                {{0xFE, 0x02, 0x10, 0x85, 0x01, 0xC0}, false},  // inside a long item
                                {{0xFE, 0x00, 0x10, 0x86, 0x00, 0x01}, true},   // after one, 2-byte Report ID
                                {{0x06, 0x00}, false}})                         // cut short
        EXPECT_EQ(hidraw::UsesReportIds(d.bytes), d.ids) << testing::PrintToString(d.bytes);

    struct Quirk { const char* parameter; bool set; };
    for (Quirk q : {Quirk{"0x1209:0x0001:0x00040000\n", true}, {"0x1209:0x0001:0x00040004", true},
                    {"0x046d:0xc077:0x4,0x1209:0x0001:0x40000", true}, {"0x1209:0x0001:0x00000004", false},
                    {"0x1209:0x0002:0x00040000", false}, {"", false}, {"0x1209:0x0001", false}, {",,", false}})
        EXPECT_EQ(hidraw::QuirkSendsOutputAsSetReport(q.parameter, 0x1209, 0x0001), q.set) << q.parameter;
}

TEST(HidrawRules, NodeNamesSortByNumberAndHidIdsMustFit) {
    auto sorted = hidraw::SortedNodeNames({"hidraw10", "hidraw2", "hidraw", "hidrawx", "hidraw1a", "foo", "hidraw0"});
    EXPECT_EQ(sorted, (std::vector<std::string>{"hidraw0", "hidraw2", "hidraw10"}));
    auto id = hidraw::ParseHidId("0003:0000046D:0000C077\n");
    ASSERT_TRUE(id);
    EXPECT_EQ(std::tuple(id->bus, id->vendor, id->product), std::tuple(0x0003, 0x046D, 0xC077));
    for (const char* bad : {"0003:0001046D:0000C077", "0003:0000046D", "0003:0000046D:0000C077:1", "0003::0000C077",
                            "0003:0000046G:0000C077", "0003:000000046D:0000C077", ""})
        EXPECT_FALSE(hidraw::ParseHidId(bad)) << bad;
}

// ---- sysfs

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

    // Name, product, USB, interface number (bInterfaceNumber is hex), version, interrupt OUT.
    using Seen = std::tuple<std::string, USHORT, bool, unsigned, USHORT, bool>;
    std::vector<Seen> seen;
    for (const hidraw::NodeInfo& n : hidraw::ScanNodes(sys.Roots()))
        seen.emplace_back(n.name, n.id.product, n.usb, n.interfaceNumber, n.version, n.hasInterruptOut);
    EXPECT_EQ(seen, (std::vector<Seen>{{"hidraw2", 0xABCD, true, 0, 0x0112, false},
                                       {"hidraw5", 0xBBBB, false, 0, 0, false},
                                       {"hidraw10", 0xC077, true, 10, 0x0112, true}}));
    EXPECT_TRUE(hidraw::HasInterruptOut(sys.Roots(), sys.Wide(10)));
    EXPECT_FALSE(hidraw::HasInterruptOut(sys.Roots(), sys.Wide(2)));

    // A provider made with a fake tree lists through the sysfs walk (libudev sees only the
    // system's): serial number and port path come from the USB device's directory.
    FakeSysfs::Write(fs::path(keyboard).parent_path().parent_path().string() + "/serial", "KB-0042\n");
    hidraw::ProviderOptions options{.roots = sys.Roots()};
    EXPECT_FALSE(hidraw::ListsThroughUdev(options));
    std::vector<hidtransport::InterfaceInfo> listed;
    hidraw::MakeHidrawProvider(options)->Enumerate(listed);
    using Identity = std::tuple<std::u16string, USHORT, USHORT, std::u16string, std::u16string>;
    std::vector<Identity> identities;
    for (const auto& i : listed) identities.emplace_back(i.path, i.productId, i.versionNumber, i.serialNumber, i.portPath);
    EXPECT_EQ(identities, (std::vector<Identity>{{sys.Wide(2), 0xABCD, 0x0112, u"", u"1-3"}, {sys.Wide(5), 0xBBBB, 0, u"", u""},
                                                 {sys.Wide(10), 0xC077, 0x0112, u"KB-0042", u"1-2"}}));
}

// The plug identity: the USB device's bus and device number, which the kernel gives anew
// at every plug-in, so a board unplugged and plugged in again at the same port, with the
// same serial number and node, is told from the one before; without a USB parent, the HID
// device's name, numbered anew for every HID device.
TEST(HidrawSysfs, PlugIdentityIsNewForEveryPlugInAndStaysWhileTheDeviceStays) {
    struct Row {
        const char *bus, *device, *id;
    };
    for (Row row : {Row{"1\n", "7\n", "usb:1:7"}, {"12", "127", "usb:12:127"}, {"1\n", "", ""}, {"x", "7", ""},
                    {"1", "-7", ""}, {"1", "7 8", ""}})
        EXPECT_EQ(hidraw::UsbPlugId(row.bus, row.device), row.id) << row.bus << "/" << row.device;

    FakeSysfs sys;
    auto provider = hidraw::MakeHidrawProvider({.roots = sys.Roots()});
    using Seen = std::tuple<std::u16string, std::u16string, std::u16string, std::u16string>;  // path, serial, port, plug
    auto look = [&] {
        std::vector<hidtransport::InterfaceInfo> listed;
        provider->Enumerate(listed);
        std::vector<Seen> seen;
        for (const auto& info : listed) seen.emplace_back(info.path, info.serialNumber, info.portPath, info.plugId);
        return seen;
    };
    // A board of two interfaces at 1-2 (both its plug-in), a USB device whose numbers cannot
    // be read (unknown: empty), and a node without a USB parent.
    auto plugIn = [&](const std::string& device, const std::string& hidName) {
        const std::string first = sys.AddUsbNode(3, "1-2", "00");
        sys.AddUsbNode(4, "1-2", "01");
        FakeSysfs::SetUsbNumbers(first, "1", device);
        FakeSysfs::Write(fs::path(first).parent_path().parent_path().string() + "/serial", "SN-1\n");
        sys.AddNode(6, "virtual/misc/uhid", "0003:00001209:00000001", hidName);
    };
    plugIn("7", "0003:1209:0001.0004");
    sys.AddUsbNode(5, "1-3", "00");
    const std::vector<Seen> before = look();
    EXPECT_EQ(before, (std::vector<Seen>{{sys.Wide(3), u"SN-1", u"1-2", u"usb:1:7"},
                                         {sys.Wide(4), u"SN-1", u"1-2", u"usb:1:7"},
                                         {sys.Wide(5), u"", u"1-3", u""},
                                         {sys.Wide(6), u"", u"", u"hid:0003:1209:0001.0004"}}));
    EXPECT_EQ(look(), before) << "the identity must not change while the devices stay";

    // Both unplugged and plugged in again between two looks: the same nodes, port and serial
    // number, new numbers from the kernel.
    for (unsigned n : {3u, 4u, 6u}) sys.RemoveNode(n);
    fs::remove_all(sys.Root() + "/sys/devices/pci0000:00/usb1/1-2");
    fs::remove_all(sys.Root() + "/sys/devices/virtual/misc/uhid");
    plugIn("8", "0003:1209:0001.0005");
    EXPECT_EQ(look(), (std::vector<Seen>{{sys.Wide(3), u"SN-1", u"1-2", u"usb:1:8"},
                                         {sys.Wide(4), u"SN-1", u"1-2", u"usb:1:8"},
                                         {sys.Wide(5), u"", u"1-3", u""},
                                         {sys.Wide(6), u"", u"", u"hid:0003:1209:0001.0005"}}));
}

// Strings come from the USB device; the USB route needs bus 0003 and a parent with
// bInterfaceNumber.
TEST(HidrawSysfs, StringsComeFromTheUsbDeviceOnly) {
    FakeSysfs sys;
    sys.AddUsbNode(1, "1-3", "00", "0005:0000046D:0000C077");       // Bluetooth id below a USB-looking parent
    sys.AddNode(2, "virtual/misc/uhid", "0003:0000046D:0000C077");  // USB id from uhid
    std::u16string text;
    for (unsigned n : {1u, 2u}) {
        auto node = hidraw::ReadNode(sys.Roots(), "hidraw" + std::to_string(n));
        ASSERT_TRUE(node) << n;
        EXPECT_FALSE(node->usb) << n;
        EXPECT_EQ(hidraw::ReadString(*node, StringKind::Product, 0, text), ERROR_NOT_SUPPORTED) << n;
    }
    const std::string usbDir = fs::path(sys.AddUsbNode(3, "1-2", "00")).parent_path().parent_path().string();
    FakeSysfs::Write(usbDir + "/manufacturer", "Caf\xC3\xA9 Labs\n");
    FakeSysfs::Write(usbDir + "/product", "Capture\n\n");
    auto node = hidraw::ReadNode(sys.Roots(), "hidraw3");
    ASSERT_TRUE(node);
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
    auto node = hidraw::ReadNode(sys.Roots(), "hidraw4");
    ASSERT_TRUE(node);
    Bytes descriptor;
    ASSERT_EQ(hidraw::ReadSysfsDescriptor(*node, descriptor), ERROR_SUCCESS);
    ASSERT_EQ(descriptor.size(), 4096u);
    EXPECT_EQ(descriptor.back(), 0xC0);
    FakeSysfs::Write(hidDir + "/report_descriptor", bytes + "x");  // more than any descriptor can be
    EXPECT_EQ(hidraw::ReadSysfsDescriptor(*node, descriptor), ERROR_INVALID_DATA);
    EXPECT_TRUE(descriptor.empty());
}

// ---- opening nodes: the fake nodes are plain files, so an open that passes every check
// of its own fails at the first hidraw ioctl with ENOTTY, as ERROR_NOT_SUPPORTED.

class HidrawOpen : public ::testing::Test {
protected:
    DWORD Open(unsigned n, DWORD share = 3) { return provider_->Open(sys_.Wide(n), 0, share, connection_); }
    std::string QuirksPath() const { return sys_.Root() + "/quirks"; }

    FakeSysfs sys_;
    // Opens of refusedNode_ fail with refusal_, as the system refuses a user without access.
    std::string refusedNode_;
    int refusal_ = 0;
    std::shared_ptr<hidtransport::Provider> provider_ = hidraw::MakeHidrawProvider(
        {.roots = sys_.Roots(), .usbhidQuirks = QuirksPath(), .openNode = [this](const std::string& file) {
             if (file != refusedNode_) return ::open(file.c_str(), O_RDWR | O_CLOEXEC);
             errno = refusal_;
             return -1;
         }});
    std::unique_ptr<hidtransport::Connection> connection_;
};

TEST_F(HidrawOpen, RefusalsOfTheSystemAndOfNonHidrawFiles) {
    fs::create_directory(sys_.DevPath(1));
    EXPECT_EQ(Open(1), ERROR_ACCESS_DENIED);  // EISDIR
    EXPECT_EQ(Open(2), ERROR_FILE_NOT_FOUND);
    FakeSysfs::Write(sys_.DevPath(3), "");
    EXPECT_EQ(Open(3), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(connection_);
    EXPECT_TRUE(provider_->Owns(sys_.Wide(3)));
    EXPECT_FALSE(provider_->Owns(u"\\\\?\\vhid#tool#0"));
    // Mode 000 stops everyone but root.
    FakeSysfs::Write(sys_.DevPath(4), "");
    fs::permissions(sys_.DevPath(4), fs::perms::none);
    if (::geteuid() != 0) {
        EXPECT_EQ(Open(4), ERROR_ACCESS_DENIED);
    }
    // A refused node of a device sysfs knows gets the udev rule for its ids on standard
    // error; a refused file sysfs does not know gets nothing.
    sys_.AddUsbNode(6, "1-1", "00", "0003:00001209:00000001");
    for (auto [node, err, advised] : {std::tuple{6u, EACCES, true}, {6u, EPERM, true}, {4u, EACCES, false}}) {
        refusedNode_ = sys_.DevPath(node);
        refusal_ = err;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Open(node), ERROR_ACCESS_DENIED) << node << " " << err;
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.find(sys_.DevPath(node) + ": permission denied") != std::string::npos, advised) << said;
        EXPECT_EQ(said.find("ATTRS{idVendor}==\"1209\", ATTRS{idProduct}==\"0001\"") != std::string::npos, advised);
    }
    EXPECT_FALSE(connection_);
}

TEST_F(HidrawOpen, SharingFollowsTheLocksOfOtherOpens) {
    FakeSysfs::Write(sys_.DevPath(5), "");
    int other = ::open(sys_.DevPath(5).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_SH), 0);
    EXPECT_EQ(Open(5, 0), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Open(5), ERROR_NOT_SUPPORTED);  // past the lock
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_EQ(Open(5), ERROR_SHARING_VIOLATION);
    ::close(other);
    EXPECT_EQ(Open(5, 0), ERROR_NOT_SUPPORTED);
}

// An interface with an interrupt OUT endpoint is opened with a warning naming the quirk
// to set, unless usbhid already has that quirk for the device.
TEST_F(HidrawOpen, InterruptOutEndpointNeedsTheQuirk) {
    sys_.AddEndpoint(sys_.AddUsbNode(2, "1-1", "00", "0003:00001209:00000001"), "ep_02", "out", "Interrupt");
    for (const char* parameter : {"", "0x1209:0x0001:0x00040000"}) {
        FakeSysfs::Write(QuirksPath(), parameter);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Open(2), ERROR_NOT_SUPPORTED);
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.find("usbhid.quirks=0x1209:0x0001:0x00040000") != std::string::npos, *parameter == '\0')
            << parameter << ": " << said;
    }
}

// ---- connections: the fd is one end of a packet socket, the test holds the other. A
// socket answers every ioctl with ENOTTY, so ERROR_NOT_SUPPORTED shows that a request
// reached the ioctl and ERROR_INVALID_PARAMETER that it was refused before.

class HidrawSocket : public ::testing::Test {
protected:
    void SetUp() override { Connect(30); }
    void TearDown() override {
        connection_.reset();
        if (peer_ >= 0) Unplug();
    }
    void Connect(int readTimeoutMs) {
        TearDown();
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
        peer_ = ends[1];
        connection_ = hidraw::MakeConnection(ends[0], node_, {u"/dev/hidraw9", 0x1234, 0x5678, 0x0100},
                                             {.readTimeoutMs = readTimeoutMs, .ioctl = ioctl_});
    }
    void Send(Bytes report) {
        ASSERT_EQ(::send(peer_, report.data(), report.size(), 0), static_cast<ssize_t>(report.size()));
    }
    void Unplug() {
        ::close(peer_);
        peer_ = -1;
    }

    std::optional<hidraw::NodeInfo> node_;
    std::function<int(int, unsigned long, void*)> ioctl_;  // empty: the real ioctl
    int peer_ = -1;
    std::unique_ptr<hidtransport::Connection> connection_;
};

TEST_F(HidrawSocket, ReadTakesOneReportAtATimeFlushDrainsAndUnplugEndsBoth) {
    Send({0x01, 0xAA, 0xBB, 0xCC});
    Send({0x02, 0x11});
    Bytes report;
    EXPECT_EQ(connection_->ReadReport(report, 3), ERROR_SUCCESS);
    EXPECT_EQ(report, (Bytes{0x01, 0xAA, 0xBB}));
    EXPECT_EQ(connection_->ReadReport(report, 64), ERROR_SUCCESS);
    EXPECT_EQ(report, (Bytes{0x02, 0x11}));
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

// Reports queued before a request the device may answer on its interrupt IN pipe are not
// its answer: output and SET_REPORT(Feature) requests drop them first, so the next read
// takes what came after the request. GET_REPORT requests get their own answer from the
// kernel and leave the queue alone. (The socket refuses the ioctls; the drain comes first.)
TEST_F(HidrawSocket, RequestsAnsweredOnTheInputPipeDropStaleReportsFirst) {
    struct Row { const char* name; std::function<DWORD()> request; DWORD result; bool drains; };
    Bytes answer;
    const Row rows[] = {
        {"write", [&] { return connection_->WriteReport(Bytes{0x00, 0x10}); }, ERROR_SUCCESS, true},
        {"output", [&] { return connection_->SetOutputReport(Bytes{0x00, 0x10}); }, ERROR_NOT_SUPPORTED, true},
        {"set feature", [&] { return connection_->SetFeature(Bytes{0x00, 0x10}); }, ERROR_NOT_SUPPORTED, true},
        {"get input", [&] { return connection_->GetInputReport(0, 8, answer); }, ERROR_NOT_SUPPORTED, false},
        {"get feature", [&] { return connection_->GetFeature(0, 8, answer); }, ERROR_NOT_SUPPORTED, false},
    };
    Bytes report;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Send({0x01, 0xEE});
        Send({0x02, 0xEE});
        EXPECT_EQ(row.request(), row.result);
        Send({0x03, 0x42});
        EXPECT_EQ(connection_->ReadReport(report, 8), ERROR_SUCCESS);
        EXPECT_EQ(report, row.drains ? (Bytes{0x03, 0x42}) : (Bytes{0x01, 0xEE}));
        EXPECT_EQ(connection_->FlushQueue(), ERROR_SUCCESS);
    }
    // A request refused for its length leaves the queue as it is.
    Send({0x01, 0xEE});
    EXPECT_EQ(connection_->SetOutputReport(Bytes(16384)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(connection_->WriteReport(Bytes{0x00}), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(connection_->ReadReport(report, 8), ERROR_SUCCESS);
    EXPECT_EQ(report, (Bytes{0x01, 0xEE}));
    // The write reached the device once, after the stale reports were gone.
    std::uint8_t got[16];
    EXPECT_EQ(::recv(peer_, got, sizeof got, MSG_DONTWAIT), 2);
    EXPECT_EQ(::recv(peer_, got, sizeof got, MSG_DONTWAIT), -1);
    // An unplug found while draining fails the request before it is sent.
    Send({0x01, 0xEE});
    Unplug();
    EXPECT_EQ(connection_->WriteReport(Bytes{0x00, 0x10}), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(HidrawSocket, WriteSendsTheReportAndRequestsOutOfRangeNeverReachTheIoctl) {
    Bytes out{0x00, 0x06, 0x01, 0x10, 0x20};
    EXPECT_EQ(connection_->WriteReport(out), ERROR_SUCCESS);
    std::uint8_t got[16];
    EXPECT_EQ(::recv(peer_, got, sizeof got, MSG_DONTWAIT), 5);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), got));
    Bytes answer{1, 2, 3};
    EXPECT_EQ(connection_->GetInputReport(0, 0x240, answer), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(connection_->GetInputReport(0, 0x4040, answer), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(connection_->GetFeature(3, 1, answer), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(connection_->SetOutputReport(Bytes(16383)), ERROR_NOT_SUPPORTED);  // 16384 is refused: see above
    EXPECT_EQ(connection_->SetFeature(Bytes{7}), ERROR_INVALID_PARAMETER);
    std::u16string text;
    EXPECT_EQ(connection_->GetString(StringKind::Product, 0, text), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(connection_->GetReportDescriptor(answer), ERROR_NOT_SUPPORTED);  // no sysfs: the ioctl
}

// A failure with a status an unplug may leave waits for the node to go, which the kernel
// does only after the failed request has returned (here 200 ms later): the request then
// fails as an unplug. A stall is answered at once, as a failed request.
TEST_F(HidrawSocket, StatusesAnUnplugMayLeaveWaitForTheNodeToGo) {
    struct Row { int err; DWORD expected; };
    for (Row row : {Row{ETIMEDOUT, ERROR_DEVICE_NOT_CONNECTED}, {EPROTO, ERROR_DEVICE_NOT_CONNECTED},
                    {EPIPE, ERROR_GEN_FAILURE}}) {
        SCOPED_TRACE(row.err);
        std::promise<void> failed;
        ioctl_ = [&](int, unsigned long, void*) {
            failed.set_value();
            errno = row.err;
            return -1;
        };
        Connect(30);
        std::thread kernel([&] {
            failed.get_future().wait();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            Unplug();
        });
        Bytes answer;
        EXPECT_EQ(connection_->GetInputReport(1, 64, answer), row.expected);
        kernel.join();
    }
}

// A read waiting for a report must not hold up report requests on the same handle, nor
// lose its report to the drain before a request.
TEST_F(HidrawSocket, WaitingReadDoesNotBlockReportRequests) {
    Connect(60000);
    std::atomic<bool> reading{false}, done{false};
    Bytes report;
    std::thread reader([&] {
        reading = true;
        EXPECT_EQ(connection_->ReadReport(report, 8), ERROR_SUCCESS);
        done = true;
    });
    while (!reading) std::this_thread::yield();
    // A socket refuses the ioctl at once (ENOTTY); held behind the read, it would wait a minute.
    EXPECT_EQ(connection_->SetOutputReport(Bytes{1, 2}), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(connection_->WriteReport(Bytes{1, 2}), ERROR_SUCCESS);
    EXPECT_FALSE(done);
    Send({7, 8});
    reader.join();
    EXPECT_EQ(report, (Bytes{7, 8}));
}

// With a sysfs view, the descriptor comes from sysfs. An unplug shows on the open file
// (poll: POLLHUP) while the node's sysfs directory is still there: the kernel removes it
// only after the failing call has returned.
class HidrawSocketWithNode : public HidrawSocket {
protected:
    void SetUp() override {
        hidDir_ = sys_.AddUsbNode(9, "1-2", "00");
        FakeSysfs::Write(hidDir_ + "/report_descriptor", std::string("\x06\x00\xFF\x09\x01\xA1\x01\xC0", 8));
        node_ = hidraw::ReadNode(sys_.Roots(), "hidraw9");
        ASSERT_TRUE(node_);
        HidrawSocket::SetUp();
    }
    FakeSysfs sys_;
    std::string hidDir_;
};

TEST_F(HidrawSocketWithNode, DescriptorFromSysfsAndUnplugFromTheOpenFile) {
    Bytes descriptor;
    EXPECT_EQ(connection_->GetReportDescriptor(descriptor), ERROR_SUCCESS);
    EXPECT_EQ(descriptor.size(), 8u);
    hidtransport::InterfaceInfo info;
    EXPECT_EQ(connection_->GetAttributes(info), ERROR_SUCCESS);
    Bytes answer;
    EXPECT_EQ(connection_->GetInputReport(1, 0x240, answer), ERROR_NOT_SUPPORTED);  // present: the ioctl's own error
    Unplug();
    ASSERT_TRUE(fs::exists(hidDir_));
    EXPECT_EQ(connection_->GetInputReport(1, 0x240, answer), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection_->SetOutputReport(Bytes{1, 2}), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(connection_->GetAttributes(info), ERROR_DEVICE_NOT_CONNECTED);
}

// This descriptor declares no report IDs: read() delivers reports without the ID byte,
// and ReadReport puts it first, as ReadFile does, within the caller's length.
TEST_F(HidrawSocketWithNode, ReadsOfADeviceWithoutReportIdsStartWithIdZero) {
    Send({0xAA, 0xBB, 0xCC});
    Send({0x11});
    Bytes report;
    EXPECT_EQ(connection_->ReadReport(report, 3), ERROR_SUCCESS);
    EXPECT_EQ(report, (Bytes{0x00, 0xAA, 0xBB}));
    EXPECT_EQ(connection_->ReadReport(report, 64), ERROR_SUCCESS);
    EXPECT_EQ(report, (Bytes{0x00, 0x11}));
    EXPECT_EQ(connection_->ReadReport(report, 1), ERROR_INVALID_USER_BUFFER);  // room for the ID byte only
}

}  // namespace
