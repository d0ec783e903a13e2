// Get ID and the device status queries.
#include <cstring>
#include <string>

#include "protocol/command_protocol.h"
#include "ui/services/control_ids.h"

namespace ids = ui::ids;

void CommandProtocol::OnGetId() {
    if (!RequireOpenDevice()) return;
    auto lock = LockTransfers();
    // A failed request identifies nothing: the previous identification and texts stay.
    if (!FetchRowQuietly(REPORT_FLASH_GET_ID) || AnswerLength() < 2) {
        TraceFailedRow(REPORT_FLASH_GET_ID);
        return;
    }
    if (std::uint8_t* kept = ControlFrame(2)) {
        std::memset(kept, 0, controlBufferLength);
        std::memcpy(kept, Answer(), 2);
    }
    ULONG row = static_cast<ULONG>(Answer()[0]) | static_cast<ULONG>(Answer()[1]) << 8;
    windows.Trace(ui::Format("Device ID: %d\n", static_cast<int>(row)));
    if (row < static_cast<ULONG>(kFlashPartCount))
        ShowIdentifiedPart(row);
    else
        ShowUnknownPart(row);
}

void CommandProtocol::ShowIdentifiedPart(ULONG row) {
    IdentifiedPartIndex = row;
    SetPartGeometry(IdentifiedPart, FlashPartTable[row]);
    const FlashPart& part = IdentifiedPart;
    ULONG total = FlashPartTotalSize(part);
    windows.SetControlText(ids::kDeviceName, FlashPartTable[row].name);
    windows.SetControlText(ids::kPageSize, ui::Format("%d bytes", part.pageSize));
    windows.SetControlText(ids::kSectorSize, ui::Format("%d bytes", static_cast<int>(part.sectorSize)));
    windows.SetControlText(ids::kTotalBlock, ui::Format("%d", part.totalBlocks));
    windows.SetControlText(ids::kDeviceId, ui::Format("%d", static_cast<int>(row)));
    windows.SetControlText(ids::kPagesPerSector, ui::Format("%d", static_cast<int>(part.sectorSize / part.pageSize)));
    windows.SetControlText(ids::kSectorsPerBlock, ui::Format("%d", part.sectorsPerBlock));
    windows.SetControlText(ids::kTotalSize, ui::Format("%d KB", static_cast<int>(total >> 10)));
    flashSectorSize = part.sectorSize;
    flashTotalSize = total;
}

// An answer that names no row of the table: the number is shown, no geometry, and Burn and
// Dump stay refused until a Get ID names a known part.
void CommandProtocol::ShowUnknownPart(ULONG row) {
    IdentifiedPartIndex = kNoIdentifiedPart;
    windows.SetControlText(ids::kDeviceName, "Unknown");
    windows.SetControlText(ids::kDeviceId, ui::Format("%d", static_cast<int>(row)));
    for (int id : {ids::kPageSize, ids::kSectorSize, ids::kTotalBlock, ids::kPagesPerSector, ids::kSectorsPerBlock,
                   ids::kTotalSize})
        windows.SetControlText(id, "");
    flashSectorSize = 0;
    flashTotalSize = 0;
}

void CommandProtocol::OnGetFwVersion() {
    std::string text;
    for (ULONG i = 0; i < 4; ++i) {
        ULONG value = 0;
        if (!RegisterCommand(OP_REG_READ, 0x54 + 4 * i, value)) return;
        text += ui::Format("%02x", value & 0xFFu);
        if (i < 3) text += ".";
    }
    windows.SetControlText(ids::kFirmwareVersion, text);
}

void CommandProtocol::OnGetHdmiInfo() {
    auto lock = LockTransfers();
    // A failed request leaves the field as it was.
    if (!FetchRow(REPORT_HDMI_INFO)) return;
    constexpr ULONG kHdmiBytes = 24;
    ULONG carried = std::min(AnswerLength(), kHdmiBytes);
    if (iicBuffer) {
        std::memset(iicBuffer.get(), 0, iicBufferLength);
        std::memcpy(iicBuffer.get(), Answer(), std::min(carried, iicBufferLength));
    }
    std::string text;
    for (ULONG i = 0; i < carried; ++i) {
        if (i > 0) text += " ";
        text += ui::Format("%02x", Answer()[i]);
    }
    windows.SetControlText(ids::kHdmiInfo, text);
}

void CommandProtocol::OnTest() {
    if (!RequireOpenDevice()) return;
    auto lock = LockTransfers();
    FetchRow(REPORT_USB_INFO);
}

void CommandProtocol::SwitchHdcpKey(int radioId, ULONG value, const char* handlerName) {
    if (!RequireOpenDevice()) return;
    if (windows.GetCheck(radioId) != 1) return;
    int result = RegisterCommand(OP_REG_WRITE, 0x03FF0000u, value);
    if (result == 0) windows.Trace(ui::Format("%s fail -- return code is 0x%X\n", handlerName, result));
}

void CommandProtocol::OnBnClickedRdoDHdcpKey() {
    SwitchHdcpKey(ids::kDisableHdcpKey, 0xF9000000u, "OnBnClickedRdoDHdcpKey");
}

void CommandProtocol::OnBnClickedRdoEHdcpKey() {
    SwitchHdcpKey(ids::kEnableHdcpKey, 0xF9000001u, "OnBnClickedRdoEHdcpKey");
}
