#include "platform/hid/preparsed.h"

namespace hidparse {

const PreparsedData* FromHandle(PHIDP_PREPARSED_DATA handle) {
    const auto* data = reinterpret_cast<const PreparsedData*>(handle);
    if (data == nullptr || data->magic != PreparsedData::kMagic) return nullptr;
    return data;
}

PHIDP_PREPARSED_DATA ToHandle(PreparsedData* data) { return reinterpret_cast<PHIDP_PREPARSED_DATA>(data); }

}  // namespace hidparse
