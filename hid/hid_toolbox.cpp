#include "hid/hid_toolbox.h"

#include "hid/device_host.h"
#include "platform/win/file_api.h"
#include "platform/win/heap.h"

namespace hidtoolbox {
namespace {

void* Allocate(std::size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

PCHAR Report(const HidCall& call) { return reinterpret_cast<PCHAR>(call.reportBuffer); }
PUSAGE Usages(void* list) { return static_cast<PUSAGE>(list); }

// Steps shared by the value-array codes: one value capability of the usage, its count and
// bit size stored in `value`, and the byte length of the packed array.
bool QueryValueArray(HidCall& call, HIDP_VALUE_CAPS& cap, ULONG& bytes) {
    USHORT one = 1;
    if (HidP_GetSpecificValueCaps(Type(call), call.usagePage, call.linkCollection, call.usage, &cap, &one,
                                  call.preparsedData) != HIDP_STATUS_SUCCESS)
        return false;
    call.value = static_cast<ULONG_PTR>(cap.ReportCount) | static_cast<ULONG_PTR>(cap.BitSize) << 16;
    ULONG bits = static_cast<ULONG>(cap.BitSize) * cap.ReportCount;
    bytes = bits / 8 + (bits % 8 != 0 ? 1 : 0);
    return true;
}

}  // namespace

std::int32_t GetNumInputBuffers(HidCall& call, Result& result) {
    ULONG count = 0;
    FlagCall(result, HidD_GetNumInputBuffers(call.handle, &count));
    call.value = count;
    return 1;
}

std::int32_t SetNumInputBuffers(HidCall& call, Result& result) {
    FlagCall(result, HidD_SetNumInputBuffers(call.handle, static_cast<ULONG>(call.value)));
    return 1;
}

std::int32_t GetDeviceBlock(std::int32_t code, HidCall& call, Result& result) {
    if (!AllocateList(call, call.listLength)) return 0;
    BOOLEAN ok = FALSE;
    switch (code) {
    case HidCallGetPhysicalDescriptor: ok = HidD_GetPhysicalDescriptor(call.handle, call.list, call.listLength); break;
    case HidCallGetManufacturerString: ok = HidD_GetManufacturerString(call.handle, call.list, call.listLength); break;
    case HidCallGetProductString: ok = HidD_GetProductString(call.handle, call.list, call.listLength); break;
    case HidCallGetIndexedString:
        ok = HidD_GetIndexedString(call.handle, call.index, call.list, call.listLength);
        break;
    case HidCallGetSerialNumberString: ok = HidD_GetSerialNumberString(call.handle, call.list, call.listLength); break;
    case HidCallGetMsGenreDescriptor: ok = HidD_GetMsGenreDescriptor(call.handle, call.list, call.listLength); break;
    default: break;
    }
    FlagCall(result, ok);
    return 1;
}

std::int32_t ReadReportFile(HidCall& call, Result& result) {
    DWORD done = 0;
    FlagCall(result, ReadFile(call.handle, call.reportBuffer, call.reportLength, &done, nullptr) != FALSE);
    return 1;
}

std::int32_t WriteReportFile(HidCall& call, Result& result) {
    DWORD done = 0;
    FlagCall(result, WriteFile(call.handle, call.reportBuffer, call.reportLength, &done, nullptr) != FALSE);
    return 1;
}

std::int32_t GetButtons(HidCall& call, Result& result) {
    call.listLength = HidP_MaxUsageListLength(Type(call), call.usagePage, call.preparsedData);
    if (!AllocateList(call, sizeof(USAGE) * call.listLength)) return 0;
    StatusCall(result, HidP_GetUsages(Type(call), call.usagePage, call.linkCollection, Usages(call.list),
                                      &call.listLength, call.preparsedData, Report(call), call.reportLength));
    return 1;
}

std::int32_t GetButtonsEx(HidCall& call, Result& result) {
    call.listLength = HidP_MaxUsageListLength(Type(call), call.usagePage, call.preparsedData);
    if (!AllocateList(call, sizeof(USAGE_AND_PAGE) * call.listLength)) return 0;
    StatusCall(result, HidP_GetUsagesEx(Type(call), call.linkCollection, static_cast<PUSAGE_AND_PAGE>(call.list),
                                        &call.listLength, call.preparsedData, Report(call), call.reportLength));
    return 1;
}

std::int32_t GetData(HidCall& call, Result& result) {
    call.listLength = HidP_MaxDataListLength(Type(call), call.preparsedData);
    if (!AllocateList(call, sizeof(HIDP_DATA) * call.listLength)) return 0;
    StatusCall(result, HidP_GetData(Type(call), static_cast<PHIDP_DATA>(call.list), &call.listLength,
                                    call.preparsedData, Report(call), call.reportLength));
    return 1;
}

// Codes 26 and 36 go through the entry points resolved when the device was opened; before
// that, or when the module lacks them, the call is not carried out.
std::int32_t GetExtendedAttributes(HidCall& call, Result& result) {
    const PFN_HidP_GetExtendedAttributes getExtendedAttributes = pHidP_GetExtendedAttributes;
    if (getExtendedAttributes == nullptr) return 0;
    if (!AllocateList(call, call.listLength)) return 0;
    StatusCall(result, getExtendedAttributes(Type(call), static_cast<USHORT>(call.index & 0xFFFFu), call.preparsedData,
                                             static_cast<PHIDP_EXTENDED_ATTRIBUTES>(call.list), &call.listLength));
    return 1;
}

std::int32_t InitializeReportForId(HidCall& call, Result& result) {
    const PFN_HidP_InitializeReportForID initializeReportForId = pHidP_InitializeReportForID;
    if (initializeReportForId == nullptr) return 0;
    StatusCall(result,
               initializeReportForId(Type(call), call.reportId, call.preparsedData, Report(call), call.reportLength));
    return 1;
}

std::int32_t GetLinkCollectionNodes(HidCall& call, Result& result) {
    if (!AllocateList(call, sizeof(HIDP_LINK_COLLECTION_NODE) * call.listLength)) return 0;
    StatusCall(result, HidP_GetLinkCollectionNodes(static_cast<PHIDP_LINK_COLLECTION_NODE>(call.list),
                                                   &call.listLength, call.preparsedData));
    return 1;
}

std::int32_t GetScaledUsageValue(HidCall& call, Result& result) {
    LONG scaled = 0;
    StatusCall(result, HidP_GetScaledUsageValue(Type(call), call.usagePage, call.linkCollection, call.usage, &scaled,
                                                call.preparsedData, Report(call), call.reportLength));
    call.value = static_cast<ULONG>(scaled);  // the signed value's 32 bits
    return 1;
}

std::int32_t GetSpecificButtonCaps(HidCall& call, Result& result) {
    return CapsList<HIDP_BUTTON_CAPS>(call, result, [&](PHIDP_BUTTON_CAPS list, PUSHORT count) {
        return HidP_GetSpecificButtonCaps(Type(call), call.usagePage, call.linkCollection, call.usage, list, count,
                                          call.preparsedData);
    });
}

std::int32_t GetSpecificValueCaps(HidCall& call, Result& result) {
    return CapsList<HIDP_VALUE_CAPS>(call, result, [&](PHIDP_VALUE_CAPS list, PUSHORT count) {
        return HidP_GetSpecificValueCaps(Type(call), call.usagePage, call.linkCollection, call.usage, list, count,
                                         call.preparsedData);
    });
}

std::int32_t GetUsageValue(HidCall& call, Result& result) {
    ULONG value = 0;
    StatusCall(result, HidP_GetUsageValue(Type(call), call.usagePage, call.linkCollection, call.usage, &value,
                                          call.preparsedData, Report(call), call.reportLength));
    call.value = value;
    return 1;
}

std::int32_t GetUsageValueArray(HidCall& call, Result& result) {
    HIDP_VALUE_CAPS cap{};
    ULONG bytes = 0;
    if (!QueryValueArray(call, cap, bytes)) return 0;
    call.listLength = bytes;
    if (!AllocateList(call, bytes)) return 0;
    StatusCall(result, HidP_GetUsageValueArray(Type(call), call.usagePage, call.linkCollection, call.usage,
                                               static_cast<PCHAR>(call.list), static_cast<USHORT>(bytes & 0xFFFFu),
                                               call.preparsedData, Report(call), call.reportLength));
    return 1;
}

std::int32_t SetUsageValueArray(HidCall& call, Result& result) {
    HIDP_VALUE_CAPS cap{};
    ULONG bytes = 0;
    if (!QueryValueArray(call, cap, bytes)) return 0;
    std::uint8_t* packed = nullptr;
    ULONG packedLength = 0;
    bool ok = PackValueArray(static_cast<const ULONG*>(call.list), call.listLength, cap.BitSize, cap.ReportCount,
                             packed, packedLength);
    call.list = packed;  // on failure the constant "ERR", which must not be released
    if (!ok) return 0;
    call.listLength = packedLength;
    StatusCall(result, HidP_SetUsageValueArray(Type(call), call.usagePage, call.linkCollection, call.usage,
                                               reinterpret_cast<PCHAR>(packed),
                                               static_cast<USHORT>(packedLength & 0xFFFFu), call.preparsedData,
                                               Report(call), call.reportLength));
    return 1;
}

std::int32_t MaxDataListLength(HidCall& call, Result& result) {
    call.value = HidP_MaxDataListLength(Type(call), call.preparsedData);
    result.errorFlag = 0;
    result.status = static_cast<ULONG>(HIDP_STATUS_SUCCESS);
    return 1;
}

std::int32_t SetButtons(HidCall& call, Result& result) {
    StatusCall(result, HidP_SetUsages(Type(call), call.usagePage, call.linkCollection, Usages(call.list),
                                      &call.listLength, call.preparsedData, Report(call), call.reportLength));
    return 1;
}

std::int32_t UnsetButtons(HidCall& call, Result& result) {
    StatusCall(result, HidP_UnsetUsages(Type(call), call.usagePage, call.linkCollection, Usages(call.list),
                                        &call.listLength, call.preparsedData, Report(call), call.reportLength));
    return 1;
}

std::int32_t SetData(HidCall& call, Result& result) {
    StatusCall(result, HidP_SetData(Type(call), static_cast<PHIDP_DATA>(call.list), &call.listLength,
                                    call.preparsedData, Report(call), call.reportLength));
    return 1;
}

std::int32_t SetUsageValue(HidCall& call, Result& result) {
    StatusCall(result, HidP_SetUsageValue(Type(call), call.usagePage, call.linkCollection, call.usage,
                                          static_cast<ULONG>(call.value), call.preparsedData, Report(call),
                                          call.reportLength));
    return 1;
}

std::int32_t UsageListDifference(HidCall& call, Result& result) {
    call.makeList = nullptr;
    call.breakList = nullptr;
    void* make = Allocate(sizeof(USAGE) * call.listLength);
    if (make == nullptr) return 0;
    void* broken = Allocate(sizeof(USAGE) * call.listLength);
    if (broken == nullptr) {
        HeapFree(GetProcessHeap(), 0, make);
        return 0;
    }
    call.makeList = make;
    call.breakList = broken;
    StatusCall(result, HidP_UsageListDifference(Usages(call.list), reinterpret_cast<PUSAGE>(call.value),
                                                Usages(broken), Usages(make), call.listLength));
    return 1;
}

}  // namespace hidtoolbox
