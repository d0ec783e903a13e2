#include "protocol/command_protocol.h"

#include <cstring>

#include "core/format.h"
#include "platform/win/win_error.h"
#include "protocol/wire.h"

CommandProtocol::CommandProtocol(HidDeviceHost& h, core::Reporter& r, core::ProgressSink& p)
    : host(h), device(h.OpenedDevice()), reporter(r), progress(p) {}

void CommandProtocol::TraceFailedRow(int row) {
    reporter.Trace(core::Format("Unknown error: Couldn't execute %s function\n", ReportName[row]));
}

bool CommandProtocol::ClaimDevice() {
    std::lock_guard guard(claimLock);
    if (claimCount > 0) {
        ++claimCount;
        return true;
    }
    ULONG holder = 0;
    if (HidExt_ClaimDevice(device.handle, HidExtClaim::Take, &holder)) {
        claimCount = 1;
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_BUSY) {
        reporter.Show(core::ErrorBox(holder ? core::Format("device busy: held by process %lu",
                                                           static_cast<unsigned long>(holder))
                                            : std::string("device busy: held by another process")));
    } else if (host.IsDeviceOpen() != 0) {
        reporter.Trace(core::Format("Unknown error: Couldn't claim the device (error %lu)\n", static_cast<unsigned long>(error)));
    }
    return false;
}

void CommandProtocol::ReleaseDevice() {
    std::lock_guard guard(claimLock);
    if (claimCount == 0) return;
    if (--claimCount == 0) HidExt_ClaimDevice(device.handle, HidExtClaim::Release, nullptr);
}

bool CommandProtocol::HoldsDevice() const {
    std::lock_guard guard(claimLock);
    return claimCount > 0;
}

CommandProtocol::TransferGuard::TransferGuard(CommandProtocol& protocol)
    : protocol_(protocol), lock_(protocol.transferLock), claimed_(protocol.ClaimDevice()) {}

CommandProtocol::TransferGuard::~TransferGuard() {
    if (claimed_) protocol_.ReleaseDevice();
}

bool CommandProtocol::Transfer(HidCallCode code, HidCall& call) {
    if (!HoldsDevice()) return false;
    HidCallResult result{};
    return ExecuteHidCall(code, call, result) == 1 && result.errorFlag == 0;
}

bool CommandProtocol::SendRow(int row, std::uint8_t* buffer) {
    HidCall call;
    if (buffer != nullptr) {
        host.PrepareHidCall(call, ReportTable[row], buffer);
        if (Transfer(HidCallSetOutputReport, call)) return true;
    }
    TraceFailedRow(row);
    return false;
}

bool CommandProtocol::FetchRowQuietly(int row) {
    ReportTables& input = device.Tables(HidP_Input);
    if (!input.report) return false;
    std::memset(input.report.get(), 0, device.caps.InputReportByteLength);
    HidCall call;
    host.PrepareHidCall(call, ReportTable[row], nullptr);
    return Transfer(HidCallGetInputReport, call);
}

bool CommandProtocol::FetchRow(int row) {
    if (FetchRowQuietly(row)) return true;
    TraceFailedRow(row);
    return false;
}

ULONG CommandProtocol::AnswerLength() const { return HidExt_GetLastAnswerLength(device.handle); }

const std::uint8_t* CommandProtocol::Answer() const { return device.Tables(HidP_Input).report.get(); }

std::uint8_t* CommandProtocol::ControlFrame(ULONG bytes) {
    return host.controlBuffer.length >= bytes ? host.controlBuffer.get() : nullptr;
}

int CommandProtocol::RegisterCommand(int mode, ULONG address, ULONG& value) {
    if (mode != OP_REG_WRITE && mode != OP_REG_READ) return 1;
    auto lock = LockTransfers();
    // Address in bytes 3..6, a written value in bytes 7..10.
    std::uint8_t* frame = ControlFrame(mode == OP_REG_WRITE ? 11 : 7);
    if (frame != nullptr) {
        std::memset(frame, 0, host.controlBuffer.length);
        PutLe32(frame + wire::kParameterOffset, address);
    }
    if (mode == OP_REG_WRITE) {
        if (frame != nullptr) PutLe32(frame + wire::kRegisterValueOffset, value);
        return SendRow(REPORT_REG_WRITE, frame) ? 1 : 0;
    }
    if (!SendRow(REPORT_REG_WRITE_ADDR, frame)) return 0;
    // An answer too short to hold the value is a failed step, not a value with zero bytes.
    if (!FetchRowQuietly(REPORT_REG_READ) || AnswerLength() < 4) {
        TraceFailedRow(REPORT_REG_READ);
        return 0;
    }
    value = GetLe32(Answer());
    return 1;
}

int CommandProtocol::IicCommand(int op, std::uint8_t deviceAddress, std::uint8_t count, std::span<std::uint8_t> data,
                                std::uint8_t readCount) {
    if (op != OP_IIC_WRITE && op != OP_IIC_READ) return 1;
    bool write = op == OP_IIC_WRITE;
    int sendRow = write ? REPORT_IIC_WRITE_OUTPUT : REPORT_IIC_READ_OUTPUT;
    int fetchRow = write ? REPORT_IIC_WRITE_INPUT : REPORT_IIC_READ_INPUT;
    // Refuse what the frame, the caller's data or the answer report cannot hold.
    std::size_t frameBytes = 5u + count + (write ? 0u : 1u);
    std::size_t answerBytes = write ? 1u : readCount + 1u;
    std::size_t answerReport = device.caps.NumberInputValueCaps > 2 ? device.Tables(HidP_Input).valueCaps[2].ReportCount + 1u : 0u;
    const CommandBuffer& iic = host.iicBuffer;
    if (!iic || frameBytes > iic.length || count > data.size() || answerBytes > data.size() ||
        answerBytes > answerReport) {
        TraceFailedRow(sendRow);
        return 0;
    }
    auto lock = LockTransfers();
    std::uint8_t* frame = iic.get();
    std::memset(frame, 0, iic.length);
    frame[wire::kParameterOffset] = deviceAddress;
    frame[wire::kIicCountOffset] = count;
    std::memcpy(frame + wire::kIicDataOffset, data.data(), count);
    if (!write) frame[wire::kIicDataOffset + count] = readCount;
    ReportSelector row = ReportTable[sendRow];
    row.length = (row.length + count + (write ? 0u : 1u)) & 0xFFu;
    HidCall call;
    host.PrepareHidCall(call, row, frame);
    if (!Transfer(HidCallSetOutputReport, call)) {
        TraceFailedRow(sendRow);
        return 0;
    }
    if (!FetchRowQuietly(fetchRow) || AnswerLength() < answerBytes) {
        TraceFailedRow(fetchRow);
        return 0;
    }
    std::memcpy(data.data(), Answer(), answerBytes);
    return 1;
}

int CommandProtocol::GpioCommand(int op, std::uint8_t pin, std::uint8_t& value) {
    auto lock = LockTransfers();
    // The pin in byte 3, a direction or level in byte 4.
    std::uint8_t* frame = ControlFrame(op == OP_GPIO_SET_DIRECTION || op == OP_GPIO_WRITE ? 5 : 4);
    if (frame != nullptr) {
        std::memset(frame, 0, host.controlBuffer.length);
        frame[wire::kParameterOffset] = pin;
    }
    if (op == OP_GPIO_SET_DIRECTION || op == OP_GPIO_WRITE) {
        if (frame != nullptr) frame[wire::kGpioValueOffset] = value;
        return SendRow(op == OP_GPIO_SET_DIRECTION ? REPORT_GPIO_SET : REPORT_GPIO_WRITE, frame) ? 1 : 0;
    }
    if (!SendRow(REPORT_GPIO_READ_OUTPUT, frame)) return 0;
    if (!FetchRowQuietly(REPORT_GPIO_READ_INPUT) || AnswerLength() < 1) {
        TraceFailedRow(REPORT_GPIO_READ_INPUT);
        return 0;
    }
    value = Answer()[0];
    return 1;
}
