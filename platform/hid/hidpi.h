// HID parser interface in the shape of the Windows HID class library (hidpi.h):
// the published record layouts, the HIDP_STATUS_* values and the HidP_* functions,
// implemented over our own report-descriptor parser.
#pragma once

#include "platform/win/win_types.h"

using USAGE = USHORT;
using PUSAGE = USAGE*;

enum HIDP_REPORT_TYPE : int { HidP_Input = 0, HidP_Output = 1, HidP_Feature = 2 };

// Opaque to callers; see platform/hid/preparsed.h for the layout our parser builds.
struct _HIDP_PREPARSED_DATA;
using PHIDP_PREPARSED_DATA = _HIDP_PREPARSED_DATA*;

struct HIDP_CAPS {
    USAGE Usage;
    USAGE UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT Reserved[17];
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
};
using PHIDP_CAPS = HIDP_CAPS*;
static_assert(sizeof(HIDP_CAPS) == 64);

struct HIDP_RANGE {
    USAGE UsageMin, UsageMax;
    USHORT StringMin, StringMax;
    USHORT DesignatorMin, DesignatorMax;
    USHORT DataIndexMin, DataIndexMax;
};

struct HIDP_NOT_RANGE {
    USAGE Usage, Reserved1;
    USHORT StringIndex, Reserved2;
    USHORT DesignatorIndex, Reserved3;
    USHORT DataIndex, Reserved4;
};

struct HIDP_BUTTON_CAPS {
    USAGE UsagePage;
    UCHAR ReportID;
    BOOLEAN IsAlias;
    USHORT BitField;
    USHORT LinkCollection;
    USAGE LinkUsage;
    USAGE LinkUsagePage;
    BOOLEAN IsRange;
    BOOLEAN IsStringRange;
    BOOLEAN IsDesignatorRange;
    BOOLEAN IsAbsolute;
    USHORT ReportCount;
    USHORT Reserved2;
    ULONG Reserved[9];
    union {
        HIDP_RANGE Range;
        HIDP_NOT_RANGE NotRange;
    };
};
using PHIDP_BUTTON_CAPS = HIDP_BUTTON_CAPS*;
static_assert(sizeof(HIDP_BUTTON_CAPS) == 72);

struct HIDP_VALUE_CAPS {
    USAGE UsagePage;
    UCHAR ReportID;
    BOOLEAN IsAlias;
    USHORT BitField;
    USHORT LinkCollection;
    USAGE LinkUsage;
    USAGE LinkUsagePage;
    BOOLEAN IsRange;
    BOOLEAN IsStringRange;
    BOOLEAN IsDesignatorRange;
    BOOLEAN IsAbsolute;
    BOOLEAN HasNull;
    UCHAR Reserved;
    USHORT BitSize;
    USHORT ReportCount;
    USHORT Reserved2[5];
    ULONG UnitsExp;
    ULONG Units;
    LONG LogicalMin, LogicalMax;
    LONG PhysicalMin, PhysicalMax;
    union {
        HIDP_RANGE Range;
        HIDP_NOT_RANGE NotRange;
    };
};
using PHIDP_VALUE_CAPS = HIDP_VALUE_CAPS*;
static_assert(sizeof(HIDP_VALUE_CAPS) == 72);

struct HIDP_LINK_COLLECTION_NODE {
    USAGE LinkUsage;
    USAGE LinkUsagePage;
    USHORT Parent;
    USHORT NumberOfChildren;
    USHORT NextSibling;
    USHORT FirstChild;
    ULONG CollectionType : 8;
    ULONG IsAlias : 1;
    ULONG Reserved : 23;
    PVOID UserContext;
};
using PHIDP_LINK_COLLECTION_NODE = HIDP_LINK_COLLECTION_NODE*;

struct HIDP_DATA {
    USHORT DataIndex;
    USHORT Reserved;
    union {
        ULONG RawValue;
        BOOLEAN On;
    };
};
using PHIDP_DATA = HIDP_DATA*;
static_assert(sizeof(HIDP_DATA) == 8);

struct USAGE_AND_PAGE {
    USAGE Usage;
    USAGE UsagePage;
};
using PUSAGE_AND_PAGE = USAGE_AND_PAGE*;

struct HIDP_UNKNOWN_TOKEN {
    UCHAR Token;
    UCHAR Reserved[3];
    ULONG BitField;
};
using PHIDP_UNKNOWN_TOKEN = HIDP_UNKNOWN_TOKEN*;

struct HIDP_EXTENDED_ATTRIBUTES {
    UCHAR NumGlobalUnknowns;
    UCHAR Reserved[3];
    PHIDP_UNKNOWN_TOKEN GlobalUnknowns;
    ULONG Data[1];
};
using PHIDP_EXTENDED_ATTRIBUTES = HIDP_EXTENDED_ATTRIBUTES*;

// HIDP status codes: (severity << 28) | (0x11 << 16) | code.
inline constexpr NTSTATUS HidpStatus(ULONG value) { return static_cast<NTSTATUS>(value); }
inline constexpr NTSTATUS HIDP_STATUS_SUCCESS = HidpStatus(0x00110000u);
inline constexpr NTSTATUS HIDP_STATUS_NULL = HidpStatus(0x80110001u);
inline constexpr NTSTATUS HIDP_STATUS_INVALID_PREPARSED_DATA = HidpStatus(0xC0110001u);
inline constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_TYPE = HidpStatus(0xC0110002u);
inline constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_LENGTH = HidpStatus(0xC0110003u);
inline constexpr NTSTATUS HIDP_STATUS_USAGE_NOT_FOUND = HidpStatus(0xC0110004u);
inline constexpr NTSTATUS HIDP_STATUS_VALUE_OUT_OF_RANGE = HidpStatus(0xC0110005u);
inline constexpr NTSTATUS HIDP_STATUS_BAD_LOG_PHY_VALUES = HidpStatus(0xC0110006u);
inline constexpr NTSTATUS HIDP_STATUS_BUFFER_TOO_SMALL = HidpStatus(0xC0110007u);
inline constexpr NTSTATUS HIDP_STATUS_INTERNAL_ERROR = HidpStatus(0xC0110008u);
inline constexpr NTSTATUS HIDP_STATUS_I8042_TRANS_UNKNOWN = HidpStatus(0xC0110009u);
inline constexpr NTSTATUS HIDP_STATUS_INCOMPATIBLE_REPORT_ID = HidpStatus(0xC011000Au);
inline constexpr NTSTATUS HIDP_STATUS_NOT_VALUE_ARRAY = HidpStatus(0xC011000Bu);
inline constexpr NTSTATUS HIDP_STATUS_IS_VALUE_ARRAY = HidpStatus(0xC011000Cu);
inline constexpr NTSTATUS HIDP_STATUS_DATA_INDEX_NOT_FOUND = HidpStatus(0xC011000Du);
inline constexpr NTSTATUS HIDP_STATUS_DATA_INDEX_OUT_OF_RANGE = HidpStatus(0xC011000Eu);
inline constexpr NTSTATUS HIDP_STATUS_BUTTON_NOT_PRESSED = HidpStatus(0xC011000Fu);
inline constexpr NTSTATUS HIDP_STATUS_REPORT_DOES_NOT_EXIST = HidpStatus(0xC0110010u);
inline constexpr NTSTATUS HIDP_STATUS_NOT_IMPLEMENTED = HidpStatus(0xC0110020u);

// Capability queries (platform/hid/hidp_caps.cpp).
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities);
NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE reportType, PHIDP_BUTTON_CAPS buttonCaps,
                            PUSHORT buttonCapsLength, PHIDP_PREPARSED_DATA preparsedData);
NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE reportType, PHIDP_VALUE_CAPS valueCaps,
                           PUSHORT valueCapsLength, PHIDP_PREPARSED_DATA preparsedData);
NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection,
                                    USAGE usage, PHIDP_BUTTON_CAPS buttonCaps, PUSHORT buttonCapsLength,
                                    PHIDP_PREPARSED_DATA preparsedData);
NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection,
                                   USAGE usage, PHIDP_VALUE_CAPS valueCaps, PUSHORT valueCapsLength,
                                   PHIDP_PREPARSED_DATA preparsedData);
NTSTATUS HidP_GetLinkCollectionNodes(PHIDP_LINK_COLLECTION_NODE linkCollectionNodes,
                                     PULONG linkCollectionNodesLength, PHIDP_PREPARSED_DATA preparsedData);
ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE reportType, USAGE usagePage, PHIDP_PREPARSED_DATA preparsedData);
ULONG HidP_MaxDataListLength(HIDP_REPORT_TYPE reportType, PHIDP_PREPARSED_DATA preparsedData);

// Report contents (platform/hid/hidp_usages.cpp, hidp_values.cpp, hidp_data.cpp). Every
// function checks, in this order: the preparsed data (HIDP_STATUS_INVALID_PREPARSED_DATA),
// the report type (HIDP_STATUS_INVALID_REPORT_TYPE), its pointer arguments (a null one,
// where Windows would fault: HIDP_STATUS_INTERNAL_ERROR, as the capability queries answer),
// and ReportLength against the type's report byte length (HIDP_STATUS_INVALID_REPORT_LENGTH).
// HIDP_STATUS_NULL keeps its Windows meaning: a scaled value outside the logical range of a
// control with a Null State. Report byte 0 selects the report: 0 matches every
// report ID; a nonzero ID whose report lacks the usage gives HIDP_STATUS_INCOMPATIBLE_REPORT_ID
// when another report of the type has it, HIDP_STATUS_USAGE_NOT_FOUND otherwise. A nonzero
// LinkCollection restricts the search to that link collection node.
using PLONG = LONG*;
NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, PUSAGE usageList,
                        PULONG usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
NTSTATUS HidP_GetUsagesEx(HIDP_REPORT_TYPE reportType, USHORT linkCollection, PUSAGE_AND_PAGE buttonList,
                          ULONG* usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, PUSAGE usageList,
                        PULONG usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
NTSTATUS HidP_UnsetUsages(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, PUSAGE usageList,
                          PULONG usageLength, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                            PULONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                            ULONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                  PLONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report,
                                  ULONG reportLength);
NTSTATUS HidP_SetScaledUsageValue(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                  LONG usageValue, PHIDP_PREPARSED_DATA preparsedData, PCHAR report,
                                  ULONG reportLength);
NTSTATUS HidP_GetUsageValueArray(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                 PCHAR usageValue, USHORT usageValueByteLength, PHIDP_PREPARSED_DATA preparsedData,
                                 PCHAR report, ULONG reportLength);
NTSTATUS HidP_SetUsageValueArray(HIDP_REPORT_TYPE reportType, USAGE usagePage, USHORT linkCollection, USAGE usage,
                                 PCHAR usageValue, USHORT usageValueByteLength, PHIDP_PREPARSED_DATA preparsedData,
                                 PCHAR report, ULONG reportLength);
NTSTATUS HidP_GetData(HIDP_REPORT_TYPE reportType, PHIDP_DATA dataList, PULONG dataLength,
                      PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
NTSTATUS HidP_SetData(HIDP_REPORT_TYPE reportType, PHIDP_DATA dataList, PULONG dataLength,
                      PHIDP_PREPARSED_DATA preparsedData, PCHAR report, ULONG reportLength);
// Usages in previousUsageList missing from currentUsageList go to breakUsageList, usages
// new in currentUsageList to makeUsageList; a list ends at its first 0 or at
// usageListLength, and the rest of both output lists is zero-filled.
NTSTATUS HidP_UsageListDifference(PUSAGE previousUsageList, PUSAGE currentUsageList, PUSAGE breakUsageList,
                                  PUSAGE makeUsageList, ULONG usageListLength);
NTSTATUS HidP_InitializeReportForID(HIDP_REPORT_TYPE reportType, UCHAR reportId, PHIDP_PREPARSED_DATA preparsedData,
                                    PCHAR report, ULONG reportLength);
// Our parser keeps no unknown global items: a known data index gives NumGlobalUnknowns 0.
NTSTATUS HidP_GetExtendedAttributes(HIDP_REPORT_TYPE reportType, USHORT dataIndex, PHIDP_PREPARSED_DATA preparsedData,
                                    PHIDP_EXTENDED_ATTRIBUTES attributes, PULONG lengthAttributes);
