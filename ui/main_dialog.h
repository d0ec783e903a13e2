// The main dialog's logic, without any toolkit: it owns the long-lived state (the opened
// device, the command buffers, the identified flash geometry) through the shares of each
// subsystem it inherits, and reaches its controls only through the window services.
#pragma once

#include "protocol/command_protocol.h"

// The USB identifiers of the device the tool serves, shown in the VID and PID fields at
// start. We do not know the product's own pair, so this is the pid.codes test pair; change
// it here for a real product (the fields stay editable). The simulator's defaults agree.
inline constexpr USHORT DefaultVendorId = 0x1209;
inline constexpr USHORT DefaultProductId = 0x0001;

class Cuvc_hid_quendaDlg : public CommandProtocol {
public:
    explicit Cuvc_hid_quendaDlg(ui::WindowServices& windows);

    void OnBnClickedOk();
    void OnBnClickedCancel();

private:
    void ReleaseOwnedState();
};
