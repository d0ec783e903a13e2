// A simulated 256 KiB part (1209:5a5b) that raises a signal on the moving thread once the
// nth flash data report has been written or fetched, as an interrupt at that chunk would;
// and runs `beforeNext`, once, before the next transfer.
#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/hid/virtual_device.h"
#include "sim/simulated_device.h"

namespace testsupport {

class SignalingSim final : public vhid::DeviceHandler {
public:
    explicit SignalingSim(std::shared_ptr<sim::SimulatedDevice> simulated) : device(std::move(simulated)) {}

    DWORD OnOutputReport(std::span<const std::uint8_t> report) override {
        if (auto before = std::exchange(beforeNext, nullptr)) before();
        DWORD result = device->OnOutputReport(report);
        if (!report.empty() && report[0] == kFlashData) Pass(afterWrite, ++writes_);
        return result;
    }
    DWORD OnInputRequest(std::uint8_t reportId, ULONG length, std::vector<std::uint8_t>& answer) override {
        if (auto before = std::exchange(beforeNext, nullptr)) before();
        DWORD result = device->OnInputRequest(reportId, length, answer);
        if (reportId == kFlashData) Pass(afterRead, ++reads_);
        return result;
    }

    const std::shared_ptr<sim::SimulatedDevice> device;
    std::map<int, int> afterWrite, afterRead;  // chunk number -> signal
    std::function<void()> beforeNext;

private:
    static constexpr std::uint8_t kFlashData = 1;
    static void Pass(const std::map<int, int>& at, int chunk) {
        if (auto it = at.find(chunk); it != at.end()) std::raise(it->second);
    }
    std::atomic<int> writes_{0}, reads_{0};
};

// The device stays published while `publication` lives.
struct SignalingPublication {
    std::shared_ptr<SignalingSim> sim;
    std::unique_ptr<vhid::Publication> publication;
};

// `afterWrite` and `afterRead` map a chunk number to the signal raised there.
inline SignalingPublication PublishSignalingSim(const std::string& tag, std::map<int, int> afterWrite = {},
                                                std::map<int, int> afterRead = {}) {
    std::string error;
    auto device = sim::SimulatedDevice::Create({.vendorId = 0x1209, .productId = 0x5A5B, .partRow = 34}, error);
    if (!device) return {};
    vhid::DeviceInfo info = device->Info();
    info.path = vhid::MakePath(tag);
    auto signaling = std::make_shared<SignalingSim>(std::move(device));
    signaling->afterWrite = std::move(afterWrite);
    signaling->afterRead = std::move(afterRead);
    return {signaling, vhid::Publish(std::move(info), signaling)};
}

}  // namespace testsupport
