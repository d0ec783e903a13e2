// Start-up of the HID library: registers the transports, the device opener that
// CreateFileW uses for HID paths, and the "HID.DLL" export table. Idempotent; every
// entry point of the library calls it, so no static-initialisation order matters.
#pragma once

#include <memory>

#include "platform/hid/hid_transport.h"

namespace hidlibrary {
void EnsureRegistered();
}

#include "platform/hid/virtual_device.h"

namespace vhid {
std::shared_ptr<hidtransport::Provider> MakeVirtualProvider();

// A published device's string of one kind; a device string that is empty or absent
// answers ERROR_INVALID_PARAMETER, as a device without that string does. Shared by the
// in-process and the socket transports, which both carry a DeviceInfo.
DWORD LookupString(const DeviceInfo& info, hidtransport::StringKind kind, ULONG index, std::u16string& text);

// `eventFd` (an eventfd, non-blocking) is written after every publication and every
// withdrawal, until it is unwatched; the change notifier's source for virtual devices.
void WatchPublications(int eventFd);
void UnwatchPublications(int eventFd);
}
