#include "hid/hid_call.h"

#include "hid/hid_toolbox.h"

#include <cstring>

#include "platform/win/heap.h"
#include "platform/win/win_error.h"

const char kPackValueArrayError[] = "ERR";

HidDevice::HidDevice(HidDevice&& other) noexcept { *this = std::move(other); }

HidDevice& HidDevice::operator=(HidDevice&& other) noexcept {
    if (this == &other) return *this;
    path = std::move(other.path);
    handle = other.handle;
    other.handle = INVALID_HANDLE_VALUE;
    readAccess = other.readAccess;
    writeAccess = other.writeAccess;
    overlapped = other.overlapped;
    exclusive = other.exclusive;
    preparsedData = other.preparsedData;
    other.preparsedData = nullptr;
    caps = other.caps;
    attributes = other.attributes;
    for (std::size_t type = 0; type < tables.size(); ++type) {
        tables[type] = std::move(other.tables[type]);
        other.tables[type].entryCount = 0;
    }
    return *this;
}

void HidDevice::Clear() {
    HidDevice empty;
    *this = std::move(empty);
}

namespace {

using Result = HidCallResult;
using hidtoolbox::AllocateList;
using hidtoolbox::CapsList;
using hidtoolbox::FlagCall;
using hidtoolbox::StatusCall;
using hidtoolbox::Type;


std::int32_t GetHidGuid(HidCall& call, Result&) {
    if (!AllocateList(call, sizeof(GUID))) return 0;
    HidD_GetHidGuid(static_cast<GUID*>(call.list));
    return 1;
}

std::int32_t FlushQueue(HidCall& call, Result& result) {
    FlagCall(result, HidD_FlushQueue(call.handle));
    return 1;
}

std::int32_t GetAttributes(HidCall& call, Result& result) {
    if (!AllocateList(call, sizeof(HIDD_ATTRIBUTES))) return 0;
    FlagCall(result, HidD_GetAttributes(call.handle, static_cast<HIDD_ATTRIBUTES*>(call.list)));
    return 1;
}

std::int32_t SetFeature(HidCall& call, Result& result) {
    FlagCall(result, HidD_SetFeature(call.handle, call.reportBuffer, call.reportLength));
    return 1;
}

std::int32_t GetFeature(HidCall& call, Result& result) {
    if (call.reportBuffer != nullptr) call.reportBuffer[0] = call.reportId;
    FlagCall(result, HidD_GetFeature(call.handle, call.reportBuffer, call.reportLength));
    return 1;
}

std::int32_t GetInputReport(HidCall& call, Result& result) {
    if (call.reportBuffer != nullptr) call.reportBuffer[0] = call.reportId;
    FlagCall(result, HidD_GetInputReport(call.handle, call.reportBuffer, call.reportLength));
    return 1;
}

std::int32_t SetOutputReport(HidCall& call, Result& result) {
    FlagCall(result, HidD_SetOutputReport(call.handle, call.reportBuffer, call.reportLength));
    return 1;
}

std::int32_t GetButtonCaps(HidCall& call, Result& result) {
    return CapsList<HIDP_BUTTON_CAPS>(call, result, [&](PHIDP_BUTTON_CAPS list, PUSHORT count) {
        return HidP_GetButtonCaps(Type(call), list, count, call.preparsedData);
    });
}

std::int32_t GetCaps(HidCall& call, Result& result) {
    call.listLength = 64;
    if (!AllocateList(call, 64)) return 0;
    StatusCall(result, HidP_GetCaps(call.preparsedData, static_cast<PHIDP_CAPS>(call.list)));
    return 1;
}

std::int32_t GetValueCaps(HidCall& call, Result& result) {
    return CapsList<HIDP_VALUE_CAPS>(call, result, [&](PHIDP_VALUE_CAPS list, PUSHORT count) {
        return HidP_GetValueCaps(Type(call), list, count, call.preparsedData);
    });
}

std::int32_t MaxUsageListLength(HidCall& call, Result& result) {
    call.value = HidP_MaxUsageListLength(Type(call), call.usagePage, call.preparsedData);
    result.errorFlag = 0;
    result.status = static_cast<ULONG>(HIDP_STATUS_SUCCESS);
    return 1;
}

std::int32_t GetPreparsedData(HidCall& call, Result& result) {
    auto* place = reinterpret_cast<PHIDP_PREPARSED_DATA*>(call.value);
    FlagCall(result, HidD_GetPreparsedData(call.handle, place));
    return 1;
}

std::int32_t FreePreparsedData(HidCall& call, Result& result) {
    FlagCall(result, HidD_FreePreparsedData(call.preparsedData));
    return 1;
}

}  // namespace

std::int32_t ExecuteHidCall(std::int32_t code, HidCall& call, HidCallResult& result) {
    result.errorFlag = 0;
    switch (code) {
    case HidCallGetHidGuid: return GetHidGuid(call, result);
    case HidCallFlushQueue: return FlushQueue(call, result);
    case HidCallGetAttributes: return GetAttributes(call, result);
    case HidCallSetFeature: return SetFeature(call, result);
    case HidCallGetFeature: return GetFeature(call, result);
    case HidCallGetInputReport: return GetInputReport(call, result);
    case HidCallSetOutputReport: return SetOutputReport(call, result);
    case HidCallGetButtonCaps: return GetButtonCaps(call, result);
    case HidCallGetCaps: return GetCaps(call, result);
    case HidCallGetValueCaps: return GetValueCaps(call, result);
    case HidCallMaxUsageListLength: return MaxUsageListLength(call, result);
    case HidCallGetNumInputBuffers: return hidtoolbox::GetNumInputBuffers(call, result);
    case HidCallSetNumInputBuffers: return hidtoolbox::SetNumInputBuffers(call, result);
    case HidCallGetPhysicalDescriptor:
    case HidCallGetManufacturerString:
    case HidCallGetProductString:
    case HidCallGetIndexedString:
    case HidCallGetSerialNumberString:
    case HidCallGetMsGenreDescriptor: return hidtoolbox::GetDeviceBlock(code, call, result);
    case HidCallReadFile: return hidtoolbox::ReadReportFile(call, result);
    case HidCallWriteFile: return hidtoolbox::WriteReportFile(call, result);
    case HidCallGetButtons:
    case HidCallGetUsages: return hidtoolbox::GetButtons(call, result);
    case HidCallGetButtonsEx:
    case HidCallGetUsagesEx: return hidtoolbox::GetButtonsEx(call, result);
    case HidCallGetData: return hidtoolbox::GetData(call, result);
    case HidCallGetExtendedAttributes: return hidtoolbox::GetExtendedAttributes(call, result);
    case HidCallGetLinkCollectionNodes: return hidtoolbox::GetLinkCollectionNodes(call, result);
    case HidCallGetScaledUsageValue: return hidtoolbox::GetScaledUsageValue(call, result);
    case HidCallGetSpecificButtonCaps: return hidtoolbox::GetSpecificButtonCaps(call, result);
    case HidCallGetSpecificValueCaps: return hidtoolbox::GetSpecificValueCaps(call, result);
    case HidCallGetUsageValue: return hidtoolbox::GetUsageValue(call, result);
    case HidCallGetUsageValueArray: return hidtoolbox::GetUsageValueArray(call, result);
    case HidCallInitializeReportForId: return hidtoolbox::InitializeReportForId(call, result);
    case HidCallMaxDataListLength: return hidtoolbox::MaxDataListLength(call, result);
    case HidCallSetButtons:
    case HidCallSetUsages: return hidtoolbox::SetButtons(call, result);
    case HidCallSetData: return hidtoolbox::SetData(call, result);
    case HidCallSetUsageValueAlias:
    case HidCallSetUsageValue: return hidtoolbox::SetUsageValue(call, result);
    case HidCallSetUsageValueArray: return hidtoolbox::SetUsageValueArray(call, result);
    case HidCallUnsetButtons:
    case HidCallUnsetUsages: return hidtoolbox::UnsetButtons(call, result);
    case HidCallUsageListDifference: return hidtoolbox::UsageListDifference(call, result);
    case HidCallGetPreparsedData: return GetPreparsedData(call, result);
    case HidCallFreePreparsedData: return FreePreparsedData(call, result);
    default: return 0;  // outside the table, or a code with no operation (2, 3, 4, 45, 49)
    }
}

bool PackValueArray(const ULONG* values, ULONG count, USHORT bitSize, USHORT reportCount, std::uint8_t*& packed,
                    ULONG& packedLength) {
    packed = nullptr;
    packedLength = 0;
    auto fail = [&](DWORD error) {
        packed = reinterpret_cast<std::uint8_t*>(const_cast<char*>(kPackValueArrayError));
        SetLastError(error);
        return false;
    };
    if (reportCount == 0 || bitSize > 32) return fail(ERROR_INVALID_PARAMETER);
    if (count > reportCount) count = reportCount;
    ULONG bits = static_cast<ULONG>(bitSize) * reportCount;
    ULONG size = bits / 8 + (bits % 8 != 0 ? 1 : 0);
    auto* block = static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (block == nullptr) return fail(ERROR_OUTOFMEMORY);
    std::memset(block, 0, size);
    ULONG mask = bitSize == 32 ? 0xFFFFFFFFu : (1u << bitSize) - 1u;
    USHORT byteIndex = 0, bitOffset = 0;
    for (ULONG i = 0; i < count; ++i) {
        ULONG v = (values != nullptr ? values[i] : 0) & mask;
        ULONG remaining = bitSize;
        while (remaining > 0) {
            ULONG chunk = std::min<ULONG>(8u - bitOffset, remaining);
            block[byteIndex] = static_cast<std::uint8_t>(block[byteIndex] | (((v & 0xFFu) << bitOffset) & 0xFFu));
            if (bitOffset + chunk >= 8) ++byteIndex;
            bitOffset = static_cast<USHORT>((bitOffset + chunk) % 8);
            remaining -= chunk;
            v = chunk >= 32 ? 0 : v >> chunk;
        }
    }
    packed = block;
    packedLength = size;
    return true;
}
