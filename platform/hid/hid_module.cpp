// "HID.DLL": the table of entry points that can be resolved by name.
#include "platform/hid/hid_device.h"
#include "platform/win/module.h"

namespace hidlibrary {

void RegisterHidModule() {
    RegisterModule(u"HID.DLL", {});
}

}  // namespace hidlibrary
