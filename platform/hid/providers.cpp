// The transports the HID library enumerates, in order.
#include "platform/hid/hid_device.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/transport_hidraw.h"
#include "platform/hid/transport_socket.h"

namespace hidlibrary {

void RegisterBuiltInProviders() {
    hidtransport::RegisterProvider(hidtransport::kRankHidraw, hidraw::MakeHidrawProvider());
    hidtransport::RegisterProvider(hidtransport::kRankVirtual, vhid::MakeVirtualProvider());
    hidtransport::RegisterProvider(hidtransport::kRankSocket, MakeSocketProvider());
}

}  // namespace hidlibrary

std::vector<hidtransport::InterfaceInfo> hidtransport::EnumerateInterfaces() {
    hidlibrary::EnsureRegistered();
    std::vector<InterfaceInfo> out;
    for (const auto& provider : Providers()) provider->Enumerate(out);
    return out;
}
