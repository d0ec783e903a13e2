// "HID.DLL": the table of entry points that can be resolved by name.
#include "platform/hid/hid_device.h"
#include "platform/hid/hidpi.h"
#include "platform/win/module.h"

namespace hidlibrary {

namespace {

template <class Function>
FARPROC Export(Function* function) {
    return reinterpret_cast<FARPROC>(function);
}

}  // namespace

void RegisterHidModule() {
    RegisterModule(u"HID.DLL", {
                                   {"HidP_GetExtendedAttributes", Export(&HidP_GetExtendedAttributes)},
                                   {"HidP_InitializeReportForID", Export(&HidP_InitializeReportForID)},
                               });
}

}  // namespace hidlibrary
