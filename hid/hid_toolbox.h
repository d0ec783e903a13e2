// The dispatcher's toolbox codes beyond the transfers: descriptor strings, capability
// queries, usage and value parsing and building, data lists. Internal to ExecuteHidCall.
#pragma once

#include "hid/hid_call.h"

namespace hidtoolbox {
using Result = HidCallResult;
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
