// Report descriptors and a minimal recording device for tests below the simulator.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "hid/hid_call.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/heap.h"

namespace testsupport {

// A vendor-defined top-level collection (page 0xFF00, usage 1) with one 8-bit value item
// per report, output reports first: output report i has ID outputIds[i] and count
// outputCounts[i]; then the input reports likewise.
inline std::vector<std::uint8_t> VendorDescriptor(const std::vector<std::uint16_t>& outputCounts,
                                                  const std::vector<std::uint16_t>& inputCounts,
                                                  std::uint16_t usagePage = 0xFF00, std::uint8_t usage = 1) {
    std::vector<std::uint8_t> d = {0x06, static_cast<std::uint8_t>(usagePage & 0xFF),
                                   static_cast<std::uint8_t>(usagePage >> 8), 0x09, usage, 0xA1, 0x01,
                                   0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08};
    std::uint8_t id = 1;
    auto item = [&](std::uint16_t count, std::uint8_t mainTag) {
        d.insert(d.end(), {0x85, id++, 0x09, static_cast<std::uint8_t>(id), 0x96,
                           static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8), mainTag,
                           0x02});
    };
    for (std::uint16_t count : outputCounts) item(count, 0x91);
    for (std::uint16_t count : inputCounts) item(count, 0x81);
    d.push_back(0xC0);
    return d;
}

// The capture device's usual layout: 259/63/63 out, 256/63/63 in.
inline std::vector<std::uint8_t> CaptureDeviceDescriptor() { return VendorDescriptor({259, 63, 63}, {256, 63, 63}); }

struct Transfer {
    bool output;
    std::uint8_t reportId;
    ULONG length;
    std::vector<std::uint8_t> bytes;
};

// Records every transfer; answers input requests with a fixed pattern.
class RecordingDevice : public vhid::DeviceHandler {
public:
    DWORD OnOutputReport(std::span<const std::uint8_t> report) override {
        std::lock_guard guard(lock);
        transfers.push_back({true, report.empty() ? std::uint8_t{0} : report[0], static_cast<ULONG>(report.size()),
                             {report.begin(), report.end()}});
        return ERROR_SUCCESS;
    }
    DWORD OnInputRequest(std::uint8_t reportId, ULONG length, std::vector<std::uint8_t>& answer) override {
        std::lock_guard guard(lock);
        transfers.push_back({false, reportId, length, {}});
        answer = inputAnswer;
        return failInput ? ERROR_GEN_FAILURE : ERROR_SUCCESS;
    }
    std::vector<Transfer> Transfers() {
        std::lock_guard guard(lock);
        return transfers;
    }

    std::mutex lock;
    std::vector<Transfer> transfers;
    std::vector<std::uint8_t> inputAnswer;
    bool failInput = false;
};

// Runs dispatcher codes, checks each one's error flag (-1: not carried out) and frees the
// blocks they hand over when the test ends.
class CallRunner {
public:
    ~CallRunner() {
        for (void* block : owned) HeapFree(GetProcessHeap(), 0, block);
    }
    HidCall Do(std::int32_t code, HidCall call, int flag) {
        const void* given[3] = {call.list, call.makeList, call.breakList};
        int got = ExecuteHidCall(code, call, result) == 1 ? static_cast<int>(result.errorFlag) : -1;
        EXPECT_EQ(got, flag) << "code " << code;
        for (void* block : {call.list, call.makeList, call.breakList})
            if (block && std::find(given, given + 3, block) == given + 3) owned.push_back(block);
        return call;
    }
    HidCallResult result{};
    std::vector<void*> owned;
};

}  // namespace testsupport
