// The transports the HID library enumerates, in order.
#include "platform/hid/hid_device.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/transport_hidraw.h"

namespace hidlibrary {

void RegisterBuiltInProviders() {
    hidtransport::RegisterProvider(hidtransport::kRankHidraw, hidraw::MakeHidrawProvider());
    hidtransport::RegisterProvider(hidtransport::kRankVirtual, vhid::MakeVirtualProvider());
}

}  // namespace hidlibrary
