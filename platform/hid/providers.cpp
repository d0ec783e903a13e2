// The transports the HID library enumerates, in order.
#include "platform/hid/hid_device.h"
#include "platform/hid/hid_library.h"

namespace hidlibrary {

void RegisterBuiltInProviders() {
    hidtransport::RegisterProvider(hidtransport::kRankVirtual, vhid::MakeVirtualProvider());
}

}  // namespace hidlibrary
