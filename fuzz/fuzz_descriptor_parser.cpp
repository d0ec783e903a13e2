// libFuzzer target: any byte string through ParseReportDescriptor; whatever it accepts
// must then satisfy every invariant of the preparsed data, checked through all the
// capability functions (platform/hid/preparsed_invariants.h, shared with the test suite).
//
// Only the library under test guides the fuzzer. The checks are the oracle: their own
// code (and the standard library code they instantiate here) is left out of coverage, so
// their sorts and loops neither add features that say nothing about the parser nor pay
// for the per-comparison tracing. They still run under ASan and UBSan.
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "platform/hid/preparsed.h"
#include "platform/hid/preparsed_invariants.h"
#pragma clang attribute pop

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<hidparse::PreparsedData> parsed;
    const NTSTATUS status = hidparse::ParseReportDescriptor(std::span<const std::uint8_t>(data, size), parsed);
    if (status != HIDP_STATUS_SUCCESS) {
        if (parsed != nullptr) {
            std::fprintf(stderr, "refused descriptor left preparsed data behind\n");
            std::abort();
        }
        return 0;
    }
    if (parsed == nullptr) {
        std::fprintf(stderr, "success without preparsed data\n");
        std::abort();
    }
    const std::string broken = hidparse::invariants::CheckPreparsed(*parsed);
    if (!broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
