// A fake sysfs tree and /dev in a temporary directory, laid out as the kernel does it:
// class/hidraw/hidrawN links to devices/.../<HID device>/hidraw/hidrawN, whose `device`
// link points back up to the HID device, below a USB interface and device.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/hid/transport_hidraw.h"

namespace fs = std::filesystem;

class FakeSysfs {
public:
    FakeSysfs() {
        std::string pattern = (fs::temp_directory_path() / "hidraw-test-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        fs::create_directories(root_ + "/sys/class/hidraw");
        fs::create_directories(root_ + "/dev");
        hidraw::SetSysfsRootForTesting(root_ + "/sys/class/hidraw");
        hidraw::SetDevRootForTesting(root_ + "/dev");
    }
    ~FakeSysfs() {
        hidraw::SetSysfsRootForTesting("");
        hidraw::SetDevRootForTesting("");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    const std::string& Root() const { return root_; }
    std::string DevPath(unsigned n) const { return root_ + "/dev/hidraw" + std::to_string(n); }

    static void Write(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    // A hidraw node below `parentDir` (relative to sys/devices); answers the HID device dir.
    std::string AddNode(unsigned n, const std::string& parentDir, const std::string& hidId) {
        std::string hidName = "HID." + std::to_string(n);
        std::string hidDir = root_ + "/sys/devices/" + parentDir + "/" + hidName;
        std::string nodeDir = hidDir + "/hidraw/hidraw" + std::to_string(n);
        Write(hidDir + "/uevent", "DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=x\n");
        Write(nodeDir + "/uevent", "MAJOR=241\nMINOR=" + std::to_string(n) + "\nDEVNAME=hidraw" + std::to_string(n) + "\n");
        Write(nodeDir + "/dev", "241:" + std::to_string(n) + "\n");
        fs::create_directory_symlink("../../../" + hidName, nodeDir + "/device");
        fs::create_directory_symlink(fs::relative(nodeDir, root_ + "/sys/class/hidraw"),
                                     root_ + "/sys/class/hidraw/hidraw" + std::to_string(n));
        Write(DevPath(n), "");
        return hidDir;
    }

    // A node on a USB interface `usbDevice`:1.`interface` (usb device dir answered in `usbDir`).
    std::string AddUsbNode(unsigned n, const std::string& usbDevice, const std::string& interfaceHex,
                           const std::string& hidId = "0003:0000046D:0000C077") {
        std::string usbDir = "pci0000:00/usb1/" + usbDevice;
        std::string interfaceDir = usbDir + "/" + usbDevice + ":1." + interfaceHex;
        Write(root_ + "/sys/devices/" + interfaceDir + "/bInterfaceNumber", interfaceHex + "\n");
        Write(root_ + "/sys/devices/" + usbDir + "/bcdDevice", "0112\n");
        return AddNode(n, interfaceDir, hidId);
    }

    void AddEndpoint(const std::string& hidDir, const std::string& name, const std::string& direction,
                     const std::string& type) {
        std::string dir = fs::path(hidDir).parent_path().string() + "/" + name;
        Write(dir + "/direction", direction + "\n");
        Write(dir + "/type", type + "\n");
    }

private:
    std::string root_;
};
