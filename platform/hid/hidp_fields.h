// The HidP records as lists of (member name, value), in declaration order, so that tools
// and tests print and compare them by the Windows member names. A union member appears in
// the layout its flags select: Range.UsageMin/UsageMax/DataIndexMin/DataIndexMax when
// IsRange, NotRange.Usage/DataIndex otherwise (strings and designators likewise).
#pragma once

#include <vector>

#include "platform/hid/hidpi.h"

namespace hidparse {

struct Field {
    const char* name;
    long long value;
};
using Fields = std::vector<Field>;

Fields CapsFields(const HIDP_CAPS& caps);
Fields ButtonCapsFields(const HIDP_BUTTON_CAPS& caps);
Fields ValueCapsFields(const HIDP_VALUE_CAPS& caps);
Fields LinkNodeFields(const HIDP_LINK_COLLECTION_NODE& node);

// "Input", "Output", "Feature"; "?" for anything else.
const char* ReportTypeName(HIDP_REPORT_TYPE type);

}  // namespace hidparse
