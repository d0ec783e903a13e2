// Get ID and the device status queries.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/format.h"
#include "protocol/command_protocol.h"
#include "protocol/wire.h"

std::optional<ULONG> CommandProtocol::GetId() {
    auto lock = LockTransfers();
    // A failed request identifies nothing: the previous identification stays.
    if (!FetchRowQuietly(REPORT_FLASH_GET_ID) || AnswerLength() < 2) {
        TraceFailedRow(REPORT_FLASH_GET_ID);
        return std::nullopt;
    }
    if (std::uint8_t* kept = ControlFrame(2)) {
        std::memset(kept, 0, host.controlBuffer.length);
        std::memcpy(kept, Answer(), 2);
    }
    ULONG row = static_cast<ULONG>(Answer()[0]) | static_cast<ULONG>(Answer()[1]) << 8;
    reporter.Trace(core::Format("Device ID: %d\n", static_cast<int>(row)));
    IdentifyPart(row);
    return row;
}

// A row outside the table names no part: no geometry, and Burn and Dump stay refused.
void CommandProtocol::IdentifyPart(ULONG row) {
    if (row >= static_cast<ULONG>(kFlashPartCount)) {
        identifiedIndex = kNoIdentifiedPart;
        flashSectorSize = 0;
        flashTotalSize = 0;
        return;
    }
    identifiedIndex = row;
    SetPartGeometry(identifiedPart, FlashPartTable[row]);
    flashSectorSize = identifiedPart.sectorSize;
    flashTotalSize = FlashPartTotalSize(identifiedPart);
}

std::optional<std::string> CommandProtocol::GetFwVersion() {
    std::string text;
    for (int i = 0; i < wire::kFirmwareVersionBytes; ++i) {
        ULONG value = 0;
        if (!RegisterCommand(OP_REG_READ, wire::kFirmwareVersionRegister + 4 * static_cast<ULONG>(i), value))
            return std::nullopt;
        text += core::Format("%02x", value & 0xFFu);
        if (i < wire::kFirmwareVersionBytes - 1) text += ".";
    }
    return text;
}

std::optional<std::string> CommandProtocol::GetHdmiInfo() {
    auto lock = LockTransfers();
    if (!FetchRow(REPORT_HDMI_INFO)) return std::nullopt;
    ULONG carried = std::min(AnswerLength(), wire::kHdmiInfoBytes);
    if (const CommandBuffer& kept = host.iicBuffer) {
        std::memset(kept.get(), 0, kept.length);
        std::memcpy(kept.get(), Answer(), std::min(carried, kept.length));
    }
    std::string text;
    for (ULONG i = 0; i < carried; ++i) {
        if (i > 0) text += " ";
        text += core::Format("%02x", Answer()[i]);
    }
    return text;
}

bool CommandProtocol::GetUsbInfo() {
    auto lock = LockTransfers();
    return FetchRow(REPORT_USB_INFO);
}

int CommandProtocol::SwitchHdcpKey(bool enable) {
    ULONG value = enable ? wire::kHdcpKeyEnable : wire::kHdcpKeyDisable;
    return RegisterCommand(OP_REG_WRITE, wire::kHdcpKeyRegister, value);
}
