#include "ui/main_dialog.h"

Cuvc_hid_quendaDlg::Cuvc_hid_quendaDlg(ui::WindowServices& windowServices) : CommandProtocol(windowServices) {}

void Cuvc_hid_quendaDlg::ReleaseOwnedState() {
    ReleaseHidDevice(device);
    ReleaseCommandBuffers();
}

void Cuvc_hid_quendaDlg::OnBnClickedOk() { ReleaseOwnedState(); }

void Cuvc_hid_quendaDlg::OnBnClickedCancel() { ReleaseOwnedState(); }
