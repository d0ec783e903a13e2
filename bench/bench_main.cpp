// Benchmarks of the paths whose speed users feel: parsing a device's descriptor at open,
// and the per-command cost of a register read against the in-process simulated device
// (dispatcher, platform layer and device model, no USB). Not part of the test suite.
#include <benchmark/benchmark.h>

#include "platform/hid/preparsed.h"
#include "protocol/command_protocol.h"
#include "sim/simulated_device.h"
#include "ui/services/control_ids.h"
#include "ui/services/recording_window.h"

namespace {

class Host : public CommandProtocol {
public:
    using CommandProtocol::CommandProtocol;
    ~Host() override {
        ReleaseHidDevice(device);
        ReleaseCommandBuffers();
    }
};

void ParseCaptureDeviceDescriptor(benchmark::State& state) {
    std::string error;
    auto device = sim::SimulatedDevice::Create({}, error);
    const std::vector<std::uint8_t> descriptor = device->Info().reportDescriptor;
    for (auto _ : state) {
        std::unique_ptr<hidparse::PreparsedData> parsed;
        benchmark::DoNotOptimize(hidparse::ParseReportDescriptor(descriptor, parsed));
    }
}
BENCHMARK(ParseCaptureDeviceDescriptor);

void RegisterReadAgainstSimulator(benchmark::State& state) {
    std::string error;
    sim::Config config;
    config.logLimit = 0;
    auto device = sim::SimulatedDevice::Create(config, error);
    vhid::DeviceInfo info = device->Info();
    info.path = vhid::MakePath("bench");
    auto publication = vhid::Publish(std::move(info), device);
    ui::RecordingWindow window;
    Host host(window);
    window.TypeText(ui::ids::kVid, "1209");
    window.TypeText(ui::ids::kPid, "0001");
    host.OnOpenDevice();
    if (host.IsDeviceOpen() != 1) {
        state.SkipWithError("the simulated device did not open");
        return;
    }
    for (auto _ : state) {
        ULONG value = 0;
        benchmark::DoNotOptimize(host.RegisterCommand(1, 0x54, value));
    }
    window.ClearCalls();
}
BENCHMARK(RegisterReadAgainstSimulator);

}  // namespace

BENCHMARK_MAIN();
