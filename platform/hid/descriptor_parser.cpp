// Placeholder until the report-descriptor parser lands: refuses every descriptor.
#include "platform/hid/preparsed.h"

namespace hidparse {

NTSTATUS ParseReportDescriptor(std::span<const std::uint8_t>, std::unique_ptr<PreparsedData>& out) {
    out.reset();
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
}

}  // namespace hidparse
