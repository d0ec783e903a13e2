// In-process virtual devices: a registry of published devices and connections to them.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>

#include <unistd.h>

#include "platform/hid/hid_library.h"
#include "platform/hid/hid_transport.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/text.h"

namespace vhid {
namespace {

struct Device {
    DeviceInfo info;
    std::shared_ptr<DeviceHandler> handler;
    std::mutex transfer;             // one transfer at a time per device
    std::atomic<bool> present{true};  // false once withdrawn: an unplug
    const void* claimedBy = nullptr;  // the connection holding the device; under `transfer`
};

struct Registry {
    std::mutex lock;
    std::vector<std::shared_ptr<Device>> devices;  // publication order
    std::vector<int> watchers;                     // eventfds told of every change
};

// Under registry.lock, so that a watcher is never written after it was removed.
void TellWatchers(const Registry& registry) {
    const std::uint64_t one = 1;
    for (int fd : registry.watchers) {
        ssize_t written = 0;
        do {
            written = ::write(fd, &one, sizeof one);
        } while (written < 0 && errno == EINTR);
        // EAGAIN: the counter is full, the watcher will wake anyway.
    }
}

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

hidtransport::InterfaceInfo Describe(const DeviceInfo& info) {
    return {info.path, info.vendorId, info.productId, info.versionNumber, info.serialNumber, info.portPath, info.plugId};
}

class VirtualConnection final : public hidtransport::Connection {
public:
    explicit VirtualConnection(std::shared_ptr<Device> device) : device_(std::move(device)) {}
    ~VirtualConnection() override {
        std::lock_guard guard(device_->transfer);
        if (device_->claimedBy == this) device_->claimedBy = nullptr;
    }

    DWORD GetReportDescriptor(std::vector<std::uint8_t>& descriptor) override {
        if (!device_->present) return ERROR_DEVICE_NOT_CONNECTED;
        descriptor = device_->info.reportDescriptor;
        return ERROR_SUCCESS;
    }
    DWORD GetAttributes(hidtransport::InterfaceInfo& info) override {
        if (!device_->present) return ERROR_DEVICE_NOT_CONNECTED;
        info = Describe(device_->info);
        return ERROR_SUCCESS;
    }
    DWORD SetOutputReport(std::span<const std::uint8_t> report) override {
        return Call([&] { return device_->handler->OnOutputReport(report); });
    }
    DWORD GetInputReport(std::uint8_t id, ULONG length, std::vector<std::uint8_t>& answer) override {
        return Call([&] { return device_->handler->OnInputRequest(id, length, answer); });
    }
    DWORD SetFeature(std::span<const std::uint8_t> report) override {
        return Call([&] { return device_->handler->OnSetFeature(report); });
    }
    DWORD GetFeature(std::uint8_t id, ULONG length, std::vector<std::uint8_t>& answer) override {
        return Call([&] { return device_->handler->OnGetFeature(id, length, answer); });
    }
    DWORD WriteReport(std::span<const std::uint8_t> report) override {
        return Call([&] { return device_->handler->OnWrite(report); });
    }
    DWORD ReadReport(std::vector<std::uint8_t>& report, ULONG maxLength) override {
        return Call([&] { return device_->handler->OnRead(report, maxLength); });
    }
    DWORD GetString(hidtransport::StringKind kind, ULONG index, std::u16string& text) override {
        if (!device_->present) return ERROR_DEVICE_NOT_CONNECTED;
        return LookupString(device_->info, kind, index, text);
    }
    DWORD FlushQueue() override { return device_->present ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED; }
    // Every connection lives in this process, so a holder is always this process.
    DWORD Claim(hidtransport::ClaimOp op, std::uint32_t& holderPid) override {
        std::lock_guard guard(device_->transfer);
        holderPid = 0;
        const bool other = device_->claimedBy != nullptr && device_->claimedBy != this;
        switch (op) {
        case hidtransport::ClaimOp::Take:
            if (!device_->present) return ERROR_DEVICE_NOT_CONNECTED;
            if (other) {
                holderPid = static_cast<std::uint32_t>(::getpid());
                return ERROR_BUSY;
            }
            device_->claimedBy = this;
            return ERROR_SUCCESS;
        case hidtransport::ClaimOp::Release:
            if (device_->claimedBy == this) device_->claimedBy = nullptr;
            return ERROR_SUCCESS;
        case hidtransport::ClaimOp::Query:
            if (other) holderPid = static_cast<std::uint32_t>(::getpid());
            return ERROR_SUCCESS;
        }
        return ERROR_INVALID_PARAMETER;
    }

private:
    // A transfer through a connection other than the claim's holder is refused, so a
    // claimed device never sees another connection's frames between its holder's.
    template <class F>
    DWORD Call(F&& transfer) {
        std::lock_guard guard(device_->transfer);
        if (!device_->present) return ERROR_DEVICE_NOT_CONNECTED;
        if (device_->claimedBy != nullptr && device_->claimedBy != this) return ERROR_BUSY;
        return transfer();
    }

    std::shared_ptr<Device> device_;
};

class VirtualProvider final : public hidtransport::Provider {
public:
    void Enumerate(std::vector<hidtransport::InterfaceInfo>& out) override {
        Registry& registry = TheRegistry();
        std::lock_guard guard(registry.lock);
        for (auto& device : registry.devices)
            out.push_back(Describe(device->info));
    }
    bool Owns(std::u16string_view path) const override { return path.starts_with(u"\\\\?\\vhid#"); }
    DWORD Open(std::u16string_view path, DWORD, DWORD, std::unique_ptr<hidtransport::Connection>& out) override {
        Registry& registry = TheRegistry();
        std::lock_guard guard(registry.lock);
        for (auto& device : registry.devices) {
            if (device->info.path == path) {
                out = std::make_unique<VirtualConnection>(device);
                return ERROR_SUCCESS;
            }
        }
        return ERROR_FILE_NOT_FOUND;
    }
};

class PublicationImpl final : public Publication {
public:
    explicit PublicationImpl(std::shared_ptr<Device> device) : device_(std::move(device)) {}
    ~PublicationImpl() override {
        Registry& registry = TheRegistry();
        {
            std::lock_guard guard(registry.lock);
            auto& list = registry.devices;
            list.erase(std::remove(list.begin(), list.end(), device_), list.end());
            TellWatchers(registry);
        }
        // Wait for a transfer in progress, then mark the device gone.
        std::lock_guard transfer(device_->transfer);
        device_->present = false;
    }
    const std::u16string& Path() const override { return device_->info.path; }

private:
    std::shared_ptr<Device> device_;
};

}  // namespace

std::unique_ptr<Publication> Publish(DeviceInfo info, std::shared_ptr<DeviceHandler> handler) {
    hidlibrary::EnsureRegistered();
    static std::atomic<std::uint64_t> publications{0};
    auto device = std::make_shared<Device>();
    device->info = std::move(info);
    device->info.plugId = u"vhid:" + Utf8ToUtf16(std::to_string(publications.fetch_add(1) + 1));
    device->handler = std::move(handler);
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.devices.push_back(device);
    TellWatchers(registry);
    return std::make_unique<PublicationImpl>(device);
}

void WatchPublications(int eventFd) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.watchers.push_back(eventFd);
}

void UnwatchPublications(int eventFd) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    std::erase(registry.watchers, eventFd);
}

std::u16string MakePath(std::string_view tag) {
    static std::atomic<unsigned> counter{0};
    std::string path = "\\\\?\\vhid#" + std::string(tag) + "#" + std::to_string(counter.fetch_add(1));
    return Utf8ToUtf16(path);
}

DWORD LookupString(const DeviceInfo& info, hidtransport::StringKind kind, ULONG index, std::u16string& text) {
    switch (kind) {
    case hidtransport::StringKind::Manufacturer: text = info.manufacturer; break;
    case hidtransport::StringKind::Product: text = info.product; break;
    case hidtransport::StringKind::SerialNumber: text = info.serialNumber; break;
    case hidtransport::StringKind::Indexed:
        if (index >= info.indexedStrings.size()) return ERROR_INVALID_PARAMETER;
        text = info.indexedStrings[index];
        return ERROR_SUCCESS;
    }
    return text.empty() ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

std::shared_ptr<hidtransport::Provider> MakeVirtualProvider() { return std::make_shared<VirtualProvider>(); }

}  // namespace vhid
