// Start-up of the HID library: registers the transports, the device opener that
// CreateFileW uses for HID paths, and the "HID.DLL" export table. Idempotent; every
// entry point of the library calls it, so no static-initialisation order matters.
#pragma once

#include <memory>

#include "platform/hid/hid_transport.h"

namespace hidlibrary {
void EnsureRegistered();
}

namespace vhid {
std::shared_ptr<hidtransport::Provider> MakeVirtualProvider();
}
