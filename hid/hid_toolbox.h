// The dispatcher's toolbox codes beyond the transfers: descriptor strings, capability
// queries, usage and value parsing and building, data lists. Internal to ExecuteHidCall.
#pragma once

#include "hid/hid_call.h"
#include "platform/win/heap.h"

namespace hidtoolbox {
using Result = HidCallResult;

// A flag call: errorFlag 1 when the HidD_ or file function failed.
inline void FlagCall(Result& result, BOOLEAN ok) { result.errorFlag = ok ? 0 : 1; }

// A status call: the HIDP status, and errorFlag 1 unless it is success.
inline void StatusCall(Result& result, NTSTATUS status) {
    result.status = static_cast<ULONG>(status);
    result.errorFlag = status == HIDP_STATUS_SUCCESS ? 0 : 1;
}

// A process-heap block into call.list, which becomes the caller's; false when none.
inline bool AllocateList(HidCall& call, std::size_t bytes) {
    void* block = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (block == nullptr) return false;
    call.list = block;
    return true;
}

inline HIDP_REPORT_TYPE Type(const HidCall& call) { return static_cast<HIDP_REPORT_TYPE>(call.reportType); }

// The capability-list codes: listLength records (a 16-bit count) allocated, filled by
// `query(list, &count)`, and listLength set to the count the library answered.
template <class Caps, class Query>
std::int32_t CapsList(HidCall& call, Result& result, Query query) {
    auto count = static_cast<USHORT>(call.listLength & 0xFFFFu);
    if (!AllocateList(call, sizeof(Caps) * count)) return 0;
    StatusCall(result, query(static_cast<Caps*>(call.list), &count));
    call.listLength = count;
    return 1;
}

std::int32_t GetNumInputBuffers(HidCall& call, Result& result);
std::int32_t SetNumInputBuffers(HidCall& call, Result& result);
std::int32_t GetDeviceBlock(std::int32_t code, HidCall& call, Result& result);  // codes 13 to 18
std::int32_t ReadReportFile(HidCall& call, Result& result);
std::int32_t WriteReportFile(HidCall& call, Result& result);
std::int32_t GetButtons(HidCall& call, Result& result);
std::int32_t GetButtonsEx(HidCall& call, Result& result);
std::int32_t GetData(HidCall& call, Result& result);
std::int32_t GetExtendedAttributes(HidCall& call, Result& result);
std::int32_t GetLinkCollectionNodes(HidCall& call, Result& result);
std::int32_t GetScaledUsageValue(HidCall& call, Result& result);
std::int32_t GetSpecificButtonCaps(HidCall& call, Result& result);
std::int32_t GetSpecificValueCaps(HidCall& call, Result& result);
std::int32_t GetUsageValue(HidCall& call, Result& result);
std::int32_t GetUsageValueArray(HidCall& call, Result& result);
std::int32_t InitializeReportForId(HidCall& call, Result& result);
std::int32_t MaxDataListLength(HidCall& call, Result& result);
std::int32_t SetButtons(HidCall& call, Result& result);
std::int32_t SetData(HidCall& call, Result& result);
std::int32_t SetUsageValue(HidCall& call, Result& result);
std::int32_t SetUsageValueArray(HidCall& call, Result& result);
std::int32_t UnsetButtons(HidCall& call, Result& result);
std::int32_t UsageListDifference(HidCall& call, Result& result);
}  // namespace hidtoolbox
