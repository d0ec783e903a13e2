// The vendor reports the device commands send and fetch: one row per report, with its
// direction, value-capability index, command code and length byte. Rows are referred to
// by number; the names appear in the trace lines of failed steps.
#pragma once

#include "hid/hid_call.h"

enum ReportRow : int {
    REPORT_REG_WRITE = 0,
    REPORT_REG_WRITE_ADDR = 1,
    REPORT_REG_READ = 2,
    REPORT_FLASH_ACCESS_MODE = 3,
    REPORT_FLASH_GET_ID = 4,
    REPORT_FLASH_SET_LEN = 5,
    REPORT_FLASH_WRITE = 6,
    REPORT_FLASH_READ = 7,
    REPORT_IIC_WRITE_OUTPUT = 8,
    REPORT_IIC_WRITE_INPUT = 9,
    REPORT_IIC_READ_OUTPUT = 10,
    REPORT_IIC_READ_INPUT = 11,
    REPORT_GPIO_SET = 12,
    REPORT_GPIO_WRITE = 13,
    REPORT_GPIO_READ_OUTPUT = 14,
    REPORT_GPIO_READ_INPUT = 15,
    REPORT_HDMI_INFO = 16,
    REPORT_UNNAMED_0C = 17,
    REPORT_USB_INFO = 18,
};

inline constexpr int kReportTableRows = 19;

// Directions of a row.
inline constexpr ULONG kInputRow = 0;
inline constexpr ULONG kOutputRow = 1;

extern const ReportSelector ReportTable[kReportTableRows];

// The system's name of each row as the trace lines use it ("" for the unnamed row 17).
extern const char* const ReportName[kReportTableRows];

// Operation numbers shared by the command members.
enum CommandOperation : int {
    OP_REG_WRITE = 0,
    OP_REG_READ = 1,
    OP_IIC_WRITE = 2,
    OP_IIC_READ = 3,
    OP_GPIO_SET_DIRECTION = 4,
    OP_GPIO_WRITE = 5,
    OP_GPIO_READ = 6,
    AP_FLASH_WRITE = 16,
    AP_FLASH_READ = 17,
    AP_FLASH_BURST_READ_TO_FILE = 18,
    AP_FLASH_BURST_LATER = 19,
    AP_FLASH_BURST_READ_TO_MEMORY = 32,
};

// Frame parameters are little-endian.
inline void PutLe32(std::uint8_t* at, ULONG value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
}
inline ULONG GetLe32(const std::uint8_t* at) {
    return static_cast<ULONG>(at[0]) | static_cast<ULONG>(at[1]) << 8 | static_cast<ULONG>(at[2]) << 16 |
           static_cast<ULONG>(at[3]) << 24;
}
