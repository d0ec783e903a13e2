#include "protocol/report_table.h"

const ReportSelector ReportTable[kReportTableRows] = {
    {.reportType = kOutputRow, .capsIndex = 1, .command = 0x00, .length = 0x0A},  // REPORT_REG_WRITE
    {.reportType = kOutputRow, .capsIndex = 1, .command = 0x01, .length = 0x06},  // REPORT_REG_WRITE_ADDR
    {.reportType = kInputRow, .capsIndex = 1, .command = 0x02, .length = 0x02},   // REPORT_REG_READ
    {.reportType = kOutputRow, .capsIndex = 1, .command = 0x03, .length = 0x07},  // REPORT_FLASH_ACCESS_MODE
    {.reportType = kInputRow, .capsIndex = 1, .command = 0x04, .length = 0x02},   // REPORT_FLASH_GET_ID
    {.reportType = kOutputRow, .capsIndex = 1, .command = 0x05, .length = 0x06},  // REPORT_FLASH_SET_LEN
    {.reportType = kOutputRow, .capsIndex = 0, .command = 0x10, .length = 0xFF},  // REPORT_FLASH_WRITE
    {.reportType = kInputRow, .capsIndex = 0, .command = 0x11, .length = 0xFF},   // REPORT_FLASH_READ
    {.reportType = kOutputRow, .capsIndex = 2, .command = 0x06, .length = 0x04},  // REPORT_IIC_WRITE(OUTPUT)
    {.reportType = kInputRow, .capsIndex = 2, .command = 0x06, .length = 0x02},   // REPORT_IIC_WRITE(INPUT)
    {.reportType = kOutputRow, .capsIndex = 2, .command = 0x07, .length = 0x04},  // REPORT_IIC_READ(OUTPUT)
    {.reportType = kInputRow, .capsIndex = 2, .command = 0x07, .length = 0x02},   // REPORT_IIC_READ(INPUT)
    {.reportType = kOutputRow, .capsIndex = 1, .command = 0x08, .length = 0x04},  // REPORT_GPIO_SET
    {.reportType = kOutputRow, .capsIndex = 1, .command = 0x09, .length = 0x04},  // REPORT_GPIO_WRITE
    {.reportType = kOutputRow, .capsIndex = 1, .command = 0x0A, .length = 0x03},  // REPORT_GPIO_READ(OUTPUT)
    {.reportType = kInputRow, .capsIndex = 1, .command = 0x0A, .length = 0x02},   // REPORT_GPIO_READ(INPUT)
    {.reportType = kInputRow, .capsIndex = 2, .command = 0x0B, .length = 0x02},   // REPORT_HDMI_INFO
    {.reportType = kInputRow, .capsIndex = 2, .command = 0x0C, .length = 0x02},   // (no name)
    {.reportType = kInputRow, .capsIndex = 2, .command = 0x0D, .length = 0x02},   // REPORT_USB_INFO
};

const char* const ReportName[kReportTableRows] = {
    "REPORT_REG_WRITE",         "REPORT_REG_WRITE_ADDR",    "REPORT_REG_READ",
    "REPORT_FLASH_ACCESS_MODE", "REPORT_FLASH_GET_ID",      "REPORT_FLASH_SET_LEN",
    "REPORT_FLASH_WRITE",       "REPORT_FLASH_READ",        "REPORT_IIC_WRITE(OUTPUT)",
    "REPORT_IIC_WRITE(INPUT)",  "REPORT_IIC_READ(OUTPUT)",  "REPORT_IIC_READ(INPUT)",
    "REPORT_GPIO_SET",          "REPORT_GPIO_WRITE",        "REPORT_GPIO_READ(OUTPUT)",
    "REPORT_GPIO_READ(INPUT)",  "REPORT_HDMI_INFO",         "",
    "REPORT_USB_INFO",
};
