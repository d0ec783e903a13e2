// The hidraw provider: lists the nodes sysfs shows and opens them.
#include "platform/hid/transport_hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/hid/hidraw_io.h"
#include "platform/hid/hidraw_udev.h"
#include "platform/win/text.h"

namespace hidraw {

namespace {

class HidrawProvider final : public hidtransport::Provider {
public:
    explicit HidrawProvider(ProviderOptions options) : options_(std::move(options)) {
        if (!options_.openNode)
            options_.openNode = [](const std::string& file) { return ::open(file.c_str(), O_RDWR | O_CLOEXEC); };
    }

    void Enumerate(std::vector<hidtransport::InterfaceInfo>& out) override {
        for (const NodeInfo& node : Scan()) out.push_back(Describe(node, node.id.vendor, node.id.product));
    }

    bool Owns(std::u16string_view path) const override {
        return path.starts_with(Utf8ToUtf16(options_.roots.dev + "/hidraw"));
    }

    DWORD Open(std::u16string_view path, DWORD access, DWORD share,
               std::unique_ptr<hidtransport::Connection>& out) override;

private:
    static hidtransport::InterfaceInfo Describe(const NodeInfo& node, USHORT vendor, USHORT product) {
        return {Utf8ToUtf16(node.devicePath), vendor, product, node.version, node.serialNumber,
                Utf8ToUtf16(node.portPath), Utf8ToUtf16(node.plugId)};
    }
    std::vector<NodeInfo> Scan() const {
        if (ListsThroughUdev(options_))
            if (auto nodes = ScanNodesWithUdev()) return std::move(*nodes);
        return ScanNodes(options_.roots);
    }
    std::optional<NodeInfo> Find(std::u16string_view path) const {
        const std::string wanted = Utf16ToUtf8(path);
        for (NodeInfo& node : Scan())
            if (node.devicePath == wanted) return std::move(node);
        return std::nullopt;
    }
    std::optional<NodeInfo> NodeOfFd(int fd, std::u16string_view path) const;

    ProviderOptions options_;
};

// The node an open fd belongs to: by device number when the fd is a character device
// (the authoritative match, even if the node was renumbered since the caller's scan),
// else by path.
std::optional<NodeInfo> HidrawProvider::NodeOfFd(int fd, std::u16string_view path) const {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        for (NodeInfo& node : Scan())
            if (node.devNumber && *node.devNumber == st.st_rdev) return std::move(node);
        return std::nullopt;
    }
    return Find(path);
}

// Linux cannot open a file for no access, and the report ioctls work on any open fd,
// so every open asks for reading and writing, whatever `access` says. A sharing mode
// of 0 takes an exclusive lock, any other a shared one, so that our own processes
// see a sharing violation as on Windows; programs that take no lock are not stopped.
DWORD HidrawProvider::Open(std::u16string_view path, DWORD, DWORD share,
                           std::unique_ptr<hidtransport::Connection>& out) {
    out.reset();
    std::string file = Utf16ToUtf8(path);
    UniqueFd fd(RetryOnEintr([&] { return options_.openNode(file); }));
    if (fd.get() < 0) {
        int err = errno;
        // A node the user may not open is not an absent one: say what would open it.
        if (err == EACCES || err == EPERM) {
            auto node = Find(path);
            if (node) std::fprintf(stderr, "%s\n", PermissionAdvice(file, node->id.vendor, node->id.product).c_str());
        }
        return Win32ErrorFromErrno(err);
    }
    int lock = (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (RetryOnEintr([&] { return ::flock(fd.get(), lock); }) < 0)
        return errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(errno);
    std::optional<NodeInfo> node = NodeOfFd(fd.get(), path);
    if (node && node->hasInterruptOut &&
        !QuirkFileSendsOutputAsSetReport(options_.usbhidQuirks, node->id.vendor, node->id.product)) {
        std::fprintf(stderr, "%s\n", InterruptOutAdvice(file, node->id.vendor, node->id.product).c_str());
        return ERROR_NOT_SUPPORTED;
    }
    hidraw_devinfo info{};
    if (RetryOnEintr([&] { return ::ioctl(fd.get(), HIDIOCGRAWINFO, &info); }) < 0)
        return Win32ErrorFromErrno(errno);  // ENOTTY: not a hidraw node
    // vendor and product are signed 16-bit in hidraw_devinfo.
    hidtransport::InterfaceInfo attributes{std::u16string(path), static_cast<USHORT>(info.vendor),
                                           static_cast<USHORT>(info.product)};
    if (node) {
        attributes = Describe(*node, attributes.vendorId, attributes.productId);
        attributes.path = path;
    }
    out = MakeConnection(fd.release(), std::move(node), std::move(attributes));
    return ERROR_SUCCESS;
}

}  // namespace

bool ListsThroughUdev(const ProviderOptions& options) {
    const Roots system;
    return options.udev && options.roots.sysfs == system.sysfs && options.roots.dev == system.dev;
}

std::shared_ptr<hidtransport::Provider> MakeHidrawProvider(ProviderOptions options) {
    return std::make_shared<HidrawProvider>(std::move(options));
}

}  // namespace hidraw
