// Telling interfaces apart (serial number, USB port path) and seeing them come and go:
// the port path form, virtual devices' identity, and the change notifier over virtual
// publications and a watched folder.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "platform/hid/change_notifier.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/hidsdi.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/file_api.h"
#include "platform/win/text.h"

namespace {

namespace fs = std::filesystem;
using hidtransport::ChangeNotifier;
using hidtransport::NotifierOptions;

class Quiet final : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return ERROR_SUCCESS; }
    DWORD OnInputRequest(std::uint8_t, ULONG, std::vector<std::uint8_t>&) override { return ERROR_SUCCESS; }
};

std::unique_ptr<vhid::Publication> Publish(std::u16string serial, std::u16string port) {
    vhid::DeviceInfo info;
    info.path = vhid::MakePath("hotplug");
    info.vendorId = 0x1209;
    info.productId = 0x0D0D;
    info.serialNumber = std::move(serial);
    info.portPath = std::move(port);
    return vhid::Publish(std::move(info), std::make_shared<Quiet>());
}

const hidtransport::InterfaceInfo* Listed(const std::vector<hidtransport::InterfaceInfo>& all, const std::u16string& path) {
    for (const auto& info : all)
        if (info.path == path) return &info;
    return nullptr;
}

TEST(UsbPortPath, FormIsBusDashThenOneToSevenPorts) {
    int row = 0;
    for (const char16_t* good : {u"1-2", u"1-2.3", u"12-1.2.3.4.5.6.7", u"1-999", u"999-1"})
        EXPECT_TRUE(hidtransport::IsUsbPortPath(good)) << "good row " << row++;
    row = 0;
    for (const char16_t* bad : {u"", u"1", u"1-", u"-1", u"1-2.", u"1-.2", u"01-2", u"1-02", u"0-1", u"1-2.0",
                                u"1-1.2.3.4.5.6.7.8", u"1-1000", u"usb1", u"1-2:1.0", u"1-2/3", u"1-2 "})
        EXPECT_FALSE(hidtransport::IsUsbPortPath(bad)) << "bad row " << row++;
}

std::unique_ptr<hidtransport::Connection> Connect(const std::u16string& path) {
    std::unique_ptr<hidtransport::Connection> connection;
    for (const auto& provider : hidtransport::Providers())
        if (provider->Owns(path)) { EXPECT_EQ(provider->Open(path, 0, 0, connection), ERROR_SUCCESS); }
    return connection;
}

// Enumeration, an open connection's attributes and HidD_GetSerialNumberString all carry
// what the device was published with; a device without them shows none. Each publication
// is a plug-in of its own: a device withdrawn and published again under the same path,
// serial number and port gets a new plug identity, and what the publisher gave is not
// taken. The identity stays while the device stays, and an open connection tells the same.
TEST(VirtualIdentity, SerialPortAndPlugIdentityReachEnumerationAttributesAndHidD) {
    vhid::DeviceInfo info;
    info.path = vhid::MakePath("plug");
    info.serialNumber = u"ABC123";
    info.portPath = u"3-1.4";
    info.plugId = u"chosen by the publisher";
    auto board = vhid::Publish(info, std::make_shared<Quiet>());
    auto plain = Publish(u"", u""), other = Publish(u"ABC123", u"1-5");
    auto listed = hidtransport::EnumerateInterfaces();
    const auto *a = Listed(listed, board->Path()), *b = Listed(listed, plain->Path()), *c = Listed(listed, other->Path());
    ASSERT_TRUE(a && b && c);
    const std::u16string first = a->plugId;
    EXPECT_TRUE(first.starts_with(u"vhid:")) << Utf16ToUtf8(first);
    EXPECT_EQ(std::tuple(a->serialNumber, a->portPath), std::tuple(u"ABC123", u"3-1.4"));
    EXPECT_EQ(std::tuple(b->serialNumber, b->portPath), std::tuple(u"", u""));
    EXPECT_NE(c->plugId, first);
    EXPECT_EQ(Listed(hidtransport::EnumerateInterfaces(), info.path)->plugId, first);

    auto connection = Connect(board->Path());
    ASSERT_TRUE(connection);
    hidtransport::InterfaceInfo attributes;
    ASSERT_EQ(connection->GetAttributes(attributes), ERROR_SUCCESS);
    EXPECT_EQ(std::tuple(attributes.serialNumber, attributes.portPath, attributes.plugId), std::tuple(u"ABC123", u"3-1.4", first));

    for (const auto& [device, serial] : {std::pair{board.get(), u"ABC123"}, {plain.get(), u""}}) {
        HANDLE h = CreateFileW(device->Path().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        WCHAR text[32]{};
        // A device without a serial number answers as Windows does for a missing string.
        const BOOLEAN got = HidD_GetSerialNumberString(h, text, sizeof text);
        EXPECT_EQ(got ? std::u16string(text) : u"(none)", *serial ? serial : u"(none)");
        CloseHandle(h);
    }

    board.reset();
    board = vhid::Publish(info, std::make_shared<Quiet>());
    listed = hidtransport::EnumerateInterfaces();
    ASSERT_TRUE(Listed(listed, info.path));
    const std::u16string second = Listed(listed, info.path)->plugId;
    EXPECT_TRUE(second.starts_with(u"vhid:")) << Utf16ToUtf8(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(connection->GetAttributes(attributes), ERROR_DEVICE_NOT_CONNECTED) << "the old plug-in's handle went with it";
}

NotifierOptions VirtualOnly() { return {.hidraw = false, .simulators = false, .virtualDevices = true}; }

TEST(ChangeNotifier, WakesOnPublishAndWithdrawalAndIsQuietOnceDrained) {
    ChangeNotifier notifier(VirtualOnly());
    ASSERT_GE(notifier.Fd(), 0);
    EXPECT_FALSE(notifier.Wait(0)) << "nothing happened yet";

    auto board = Publish(u"S1", u"1-1");
    ASSERT_TRUE(notifier.Wait(2000));
    EXPECT_TRUE(notifier.Drain());
    EXPECT_FALSE(notifier.Wait(0)) << "a drained notifier must not wake its consumer again";
    EXPECT_FALSE(notifier.Drain());

    board.reset();
    ASSERT_TRUE(notifier.Wait(2000));
    EXPECT_TRUE(notifier.Drain());
    EXPECT_FALSE(notifier.Wait(0));
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Every source at once, made and dropped repeatedly: nothing stays open, and a withdrawal
// after the notifier is gone writes to no descriptor of its.
TEST(ChangeNotifier, ClosesEveryDescriptorItOpened) {
    char pattern[] = "/tmp/uvc-notify-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    auto board = Publish(u"S1", u"");
    const std::size_t before = OpenDescriptors();
    for (int i = 0; i < 5; ++i) {
        ChangeNotifier notifier({.hidraw = true, .simulators = true, .simulatorFolder = pattern, .virtualDevices = true});
        EXPECT_FALSE(notifier.SimulatorFolder().empty());
        EXPECT_TRUE(notifier.WatchesVirtualDevices());
    }
    EXPECT_EQ(OpenDescriptors(), before);
    board.reset();
    fs::remove_all(pattern);
}

// A consumer that drains before it enumerates sees every device a publisher thread adds,
// however the two interleave: it never waits out its timeout for a change it missed.
TEST(ChangeNotifier, ConsumerThatDrainsThenEnumeratesMissesNothing) {
    constexpr int kBoards = 40;
    ChangeNotifier notifier(VirtualOnly());
    std::vector<std::unique_ptr<vhid::Publication>> boards;
    auto seen = [&] {
        int count = 0;
        for (const auto& info : hidtransport::EnumerateInterfaces()) count += info.productId == 0x0D0D;
        return count;
    };
    std::thread publisher([&] {
        for (int i = 0; i < kBoards; ++i) {
            boards.push_back(Publish(u"S" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)), u""));
            if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    int count = seen();
    int timeouts = 0;
    while (count < kBoards && timeouts < 3) {
        if (!notifier.Wait(2000)) {
            ++timeouts;
            continue;
        }
        notifier.Drain();
        count = seen();
    }
    publisher.join();
    EXPECT_EQ(count, kBoards);
    EXPECT_EQ(timeouts, 0);
}

// The folder watch over plain files: names the socket transport lists count, others wake
// the consumer but Drain says nothing changed; the folder's removal counts too.
TEST(ChangeNotifier, FolderWatchCountsSocketNamesOnly) {
    char pattern[] = "/tmp/uvc-notify-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    ChangeNotifier notifier({.hidraw = false, .simulators = true, .simulatorFolder = folder, .virtualDevices = false});
    EXPECT_EQ(notifier.SimulatorFolder(), folder);

    std::ofstream(folder + "/notes.txt") << "x";
    std::ofstream(folder + "/.bind-1-0") << "x";
    ASSERT_TRUE(notifier.Wait(2000));
    EXPECT_FALSE(notifier.Drain()) << "neither name is a simulator's";
    std::ofstream(folder + "/board.sock") << "x";
    ASSERT_TRUE(notifier.Wait(2000));
    EXPECT_TRUE(notifier.Drain());
    fs::rename(folder + "/board.sock", folder + "/other.sock");
    ASSERT_TRUE(notifier.Wait(2000));
    EXPECT_TRUE(notifier.Drain());
    EXPECT_FALSE(notifier.Wait(0));
    fs::remove_all(folder);
    ASSERT_TRUE(notifier.Wait(2000));
    EXPECT_TRUE(notifier.Drain()) << "every simulator went with the folder";
    EXPECT_FALSE(notifier.Wait(50));
}

}  // namespace
