// The HID call dispatcher and its records: the opened device (HidDevice), the parameter
// block and result of one numbered operation (HidCall, HidCallResult), and the report
// table's row type (ReportSelector).
//
// Failure convention: ExecuteHidCall answers 1 when it carried the operation out,
// whatever the platform answered (the platform's failure is in errorFlag), and 0 when it
// did not (a code outside the table, a failed allocation, a failed preliminary query).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/hid/hidsdi.h"

// One entry of a data list: a button capability or one value usage.
struct UsageEntry {
    std::uint8_t isButton = 0;
    USHORT usagePage = 0;
    NTSTATUS status = 0;
    ULONG reportId = 0;
    // button entries
    ULONG firstUsage = 0;
    ULONG lastUsage = 0;
    ULONG usageCapacity = 0;
    std::unique_ptr<USAGE[]> usageList;
    // value entries
    USAGE usage = 0;
};

// What the capability tables hold for one report type: a report buffer of the type's report
// length, its button and value capabilities, and one data-list entry per button
// capability and per value usage.
struct ReportTables {
    std::unique_ptr<std::uint8_t[]> report;
    std::unique_ptr<UsageEntry[]> entries;
    ULONG entryCount = 0;
    std::unique_ptr<HIDP_BUTTON_CAPS[]> buttonCaps;
    std::unique_ptr<HIDP_VALUE_CAPS[]> valueCaps;
};

// One HID interface and everything derived from it. Move-only: a move takes over what
// the source owned and leaves the source holding nothing, so no member is released twice.
struct HidDevice {
    std::unique_ptr<WCHAR[]> path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    ULONG readAccess = 0;
    ULONG writeAccess = 0;
    ULONG overlapped = 0;
    ULONG exclusive = 0;
    PHIDP_PREPARSED_DATA preparsedData = nullptr;
    HIDP_CAPS caps{};
    HIDD_ATTRIBUTES attributes{};

    // One set per report type, indexed by HIDP_REPORT_TYPE (input, output, feature).
    std::array<ReportTables, 3> tables;
    ReportTables& Tables(HIDP_REPORT_TYPE type) { return tables[static_cast<std::size_t>(type)]; }
    const ReportTables& Tables(HIDP_REPORT_TYPE type) const { return tables[static_cast<std::size_t>(type)]; }

    HidDevice() = default;
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;
    HidDevice(HidDevice&& other) noexcept;
    // The target must hold nothing (release it first); the source is left holding nothing.
    HidDevice& operator=(HidDevice&& other) noexcept;
    ~HidDevice() = default;  // owners release with ReleaseHidDevice; unique members free themselves

    // A record that holds nothing: every owned member null, handle invalid.
    void Clear();
};

// Operation numbers of ExecuteHidCall.
enum HidCallCode : std::int32_t {
    HidCallGetHidGuid = 1,
    HidCallFlushQueue = 5,
    HidCallGetAttributes = 6,
    HidCallSetFeature = 7,
    HidCallGetFeature = 8,
    HidCallGetInputReport = 9,
    HidCallSetOutputReport = 10,
    HidCallGetNumInputBuffers = 11,
    HidCallSetNumInputBuffers = 12,
    HidCallGetPhysicalDescriptor = 13,
    HidCallGetManufacturerString = 14,
    HidCallGetProductString = 15,
    HidCallGetIndexedString = 16,
    HidCallGetSerialNumberString = 17,
    HidCallGetMsGenreDescriptor = 18,
    HidCallReadFile = 19,
    HidCallWriteFile = 20,
    HidCallGetButtonCaps = 21,
    HidCallGetButtons = 22,
    HidCallGetButtonsEx = 23,
    HidCallGetCaps = 24,
    HidCallGetData = 25,
    HidCallGetExtendedAttributes = 26,
    HidCallGetLinkCollectionNodes = 27,
    HidCallGetScaledUsageValue = 28,
    HidCallGetSpecificButtonCaps = 29,
    HidCallGetSpecificValueCaps = 30,
    HidCallGetUsages = 31,
    HidCallGetUsagesEx = 32,
    HidCallGetUsageValue = 33,
    HidCallGetUsageValueArray = 34,
    HidCallGetValueCaps = 35,
    HidCallInitializeReportForId = 36,
    HidCallMaxDataListLength = 37,
    HidCallMaxUsageListLength = 38,
    HidCallSetButtons = 39,
    HidCallSetData = 40,
    HidCallSetUsageValueAlias = 41,
    HidCallSetUsages = 42,
    HidCallSetUsageValue = 43,
    HidCallSetUsageValueArray = 44,
    HidCallUnsetButtons = 46,
    HidCallUnsetUsages = 47,
    HidCallUsageListDifference = 48,
    HidCallGetPreparsedData = 50,
    HidCallFreePreparsedData = 51,
};

struct HidCall {
    HANDLE handle = nullptr;
    ULONG reportType = 0;  // 0 input, 1 output, 2 feature
    PHIDP_PREPARSED_DATA preparsedData = nullptr;
    USHORT usagePage = 0;
    USHORT usage = 0;
    USHORT linkCollection = 0;
    std::uint8_t reportId = 0;
    std::uint8_t* reportBuffer = nullptr;  // not owned
    ULONG reportLength = 0;
    void* list = nullptr;  // for the getting codes: a process-heap block that becomes the caller's
    ULONG listLength = 0;
    ULONG index = 0;
    ULONG_PTR value = 0;  // a value, a pointer, or (codes 34/44) reportCount | bitSize << 16
    void* makeList = nullptr;
    void* breakList = nullptr;
};

struct HidCallResult {
    ULONG errorFlag = 0;
    ULONG status = 0;
};

// One row of the report table.
struct ReportSelector {
    ULONG reportType;  // 0 input, 1 output
    ULONG capsIndex;   // value-capability index into the device's input or output value caps
    ULONG command;     // vendor command code
    ULONG length;      // length byte (byte 1 of an output report for commands below 0x10)
};

std::int32_t ExecuteHidCall(std::int32_t code, HidCall& call, HidCallResult& result);

// Packs `count` values of `bitSize` bits end to end, least significant bit first, into a
// new heap block of ceil(bitSize x reportCount / 8) bytes. On failure `packed` points at the
// constant "ERR" (never to be released) and the last error is 87 (reportCount 0 or bitSize
// above 32) or 14 (out of memory).
bool PackValueArray(const ULONG* values, ULONG count, USHORT bitSize, USHORT reportCount, std::uint8_t*& packed,
                    ULONG& packedLength);

// The constant text that PackValueArray leaves in `packed` on failure.
extern const char kPackValueArrayError[];
