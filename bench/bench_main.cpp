// Benchmarks of the paths whose speed users feel: parsing a device's descriptor at open,
// hid_caps on a descriptor of thousands of top-level collections, and the per-command
// cost of a register read against the in-process simulated device (dispatcher, platform
// layer and device model, no USB). Not part of the test suite.
#include <benchmark/benchmark.h>

#include <ostream>
#include <sstream>

#include "platform/hid/preparsed.h"
#include "protocol/command_protocol.h"
#include "sim/simulated_device.h"
#include "tools/hid_caps_collections.h"

namespace {

// Trace lines and boxes go nowhere.
class Quiet final : public core::Reporter {
public:
    void Trace(std::string_view) override {}
    void Show(const core::Box&) override {}
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

// hid_caps' split, parse and JSON output of N top-level collections, each after a global
// item of its own. Goal: linear in N (the fitted complexity reads O(N)); 4,000 collections
// well under a second.
void HidCapsManyTopLevelCollections(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> descriptor = {0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08};
    for (std::size_t i = 0; i < count; ++i)
        descriptor.insert(descriptor.end(),
                          {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x81, 0x02, 0xC0});
    for (auto _ : state) {
        std::ostringstream out, err;
        if (hidcaps::PrintTopLevelCollections("bench", descriptor, out, err) != 0) {
            state.SkipWithError("descriptor refused");
            return;
        }
        benchmark::DoNotOptimize(out.str().size());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(HidCapsManyTopLevelCollections)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

void RegisterReadAgainstSimulator(benchmark::State& state) {
    std::string error;
    sim::Config config;
    config.logLimit = 0;
    auto device = sim::SimulatedDevice::Create(config, error);
    vhid::DeviceInfo info = device->Info();
    info.path = vhid::MakePath("bench");
    auto publication = vhid::Publish(std::move(info), device);
    Quiet quiet;
    core::NoProgress progress;
    HidDeviceHost host(quiet);
    CommandProtocol protocol(host, quiet, progress);
    if (host.OpenDevice({config.vendorId, config.productId, {}}).kind != OpenOutcome::Kind::Opened) {
        state.SkipWithError("the simulated device did not open");
        return;
    }
    for (auto _ : state) {
        ULONG value = 0;
        benchmark::DoNotOptimize(protocol.RegisterCommand(1, 0x54, value));
    }
}
BENCHMARK(RegisterReadAgainstSimulator);

}  // namespace

BENCHMARK_MAIN();
