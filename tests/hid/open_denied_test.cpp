// Open Device when the wanted device is there but this user may not open its hidraw node:
// the dialog says so and how to get access, instead of calling the device absent.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "platform/hid/transport_hidraw.h"
#include "support/host_fixture.h"

namespace {

namespace fs = std::filesystem;

// A fake sysfs and /dev holding hidraw nodes; a node's open can be made to fail as for a
// user without access (tests run as root, whom file modes do not stop).
class OpenDenied : public testsupport::HostFixture {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "open-denied-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(root + "/sys/class/hidraw");
        fs::create_directories(root + "/dev");
        auto opener = [this](const std::string& file) {
            if (file != refusedNode) return ::open(file.c_str(), O_RDWR | O_CLOEXEC);
            errno = refusal;
            return -1;
        };
        hidrawProvider = std::make_unique<hidtransport::ProviderOverride>(
            hidtransport::kRankHidraw,
            hidraw::MakeHidrawProvider({.roots = {root + "/sys/class/hidraw", root + "/dev"}, .openNode = opener}));
    }
    void TearDown() override {
        hidrawProvider.reset();
        fs::remove_all(root);
        HostFixture::TearDown();
    }

    static void Write(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    // hidrawN of a device with `hidId` ("bus:vendor:product"); answers its /dev path.
    std::string AddNode(unsigned n, const std::string& hidId) {
        const std::string number = std::to_string(n);
        const std::string hidDir = root + "/sys/devices/HID." + number;
        const std::string classDir = root + "/sys/class/hidraw/hidraw" + number;
        Write(hidDir + "/uevent", "HID_ID=" + hidId + "\n");
        Write(classDir + "/uevent", "DEVNAME=hidraw" + number + "\n");
        fs::create_directory_symlink(hidDir, classDir + "/device");
        const std::string dev = root + "/dev/hidraw" + number;
        Write(dev, "");
        return dev;
    }

    // Presses Open Device; the transport's advice on standard error is its own tests' concern.
    void PressQuietly() {
        testing::internal::CaptureStderr();
        Press("1209", "0001");
        testing::internal::GetCapturedStderr();
    }

    // Opens of `node` fail with `err` (no node: none fails).
    void Refuse(std::string node, int err) {
        refusedNode = std::move(node);
        refusal = err;
    }

    std::string root;
    std::string refusedNode;
    int refusal = 0;
    std::unique_ptr<hidtransport::ProviderOverride> hidrawProvider;  // over the fake tree
};

TEST_F(OpenDenied, PresentButNotAccessibleSaysHowToGetAccessThenCloses) {
    AddNode(2, "0003:0000046D:0000C077");  // another device, open to this user
    const std::string node = AddNode(3, "0003:00001209:00000001");
    Refuse(node, EACCES);
    PressQuietly();
    EXPECT_EQ(host.IsDeviceOpen(), 0);
    auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(std::tuple(boxes[0].caption, boxes[0].icon, boxes[0].owner),
              std::tuple("Error", ui::Icon::Error, ui::BoxOwner::Dialog));
    const std::string& text = boxes[0].text;
    for (const std::string& part : {std::string("(VID 0x1209, PID 0x0001) is present, but this user may not open it"),
                                    node, std::string("70-uvc-hid-tool.rules"), std::string("plugdev")})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    EXPECT_EQ(window.CloseRequests(), 1);
}

// Nothing with the wanted ids, or a denied node of another device: the not-found text.
TEST_F(OpenDenied, AbsentOrOtherDeniedDevicesKeepTheNotFoundText) {
    for (const char* hidId : {static_cast<const char*>(nullptr), "0003:0000AAAA:0000BBBB"}) {
        window.ClearCalls();
        Refuse(hidId ? AddNode(4, hidId) : "", EACCES);
        PressQuietly();
        auto boxes = window.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "HID Device no found !") << (hidId ? hidId : "none");
    }
}

}  // namespace
