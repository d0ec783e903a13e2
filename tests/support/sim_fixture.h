// The device host and the command protocol, with no window, talking to an in-process
// simulated device.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/format.h"
#include "platform/hid/virtual_device.h"
#include "protocol/command_protocol.h"
#include "sim/simulated_device.h"
#include "support/recording_sinks.h"

namespace testsupport {

inline constexpr USHORT kSimVendorId = 0x1209;
inline constexpr USHORT kSimProductId = 0x5A5A;  // unique to these tests

// The log as text: "> 02 0a .." for an output report (its trailing zeros dropped, so a
// stale byte shows), "< 2 0x240" for an input request (report ID, requested length).
inline std::string WireText(const std::vector<sim::TransferRecord>& log) {
    std::string out;
    for (const sim::TransferRecord& r : log) {
        if (!out.empty()) out += " | ";
        if (r.direction == sim::Direction::Input) {
            out += core::Format("< %u 0x%x", r.reportId, static_cast<unsigned>(r.requestedLength));
            continue;
        }
        std::size_t end = r.bytes.size();
        while (end > 0 && r.bytes[end - 1] == 0) --end;
        out += ">";
        for (std::size_t i = 0; i < end; ++i) out += core::Format(" %02x", r.bytes[i]);
    }
    return out;
}

// A simulator built from `config` with the tests' ids, published as a virtual device.
struct PublishedSim {
    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
};
inline PublishedSim PublishSim(sim::Config config, const char* name) {
    config.vendorId = kSimVendorId;
    config.productId = kSimProductId;
    std::string error;
    PublishedSim published;
    published.sim = sim::SimulatedDevice::Create(std::move(config), error);
    EXPECT_TRUE(published.sim) << error;
    if (!published.sim) return published;
    vhid::DeviceInfo info = published.sim->Info();
    info.path = vhid::MakePath(name);
    published.publication = vhid::Publish(std::move(info), published.sim);
    return published;
}

class SimFixture : public ::testing::Test {
protected:
    // Publishes a simulator built from `config` and opens it.
    void Start(sim::Config config = {}) {
        PublishedSim published = PublishSim(std::move(config), "protocol");
        ASSERT_TRUE(published.sim);
        sim = std::move(published.sim);
        publication = std::move(published.publication);
        ASSERT_EQ(host.OpenDevice({kSimVendorId, kSimProductId, {}}).kind, OpenOutcome::Kind::Opened);
        sim->ClearLog();
        sinks.Clear();
    }

    std::vector<sim::TransferRecord> Log() const { return sim->Log(); }
    std::vector<std::string> Traces() const { return sinks.Traces(); }
    std::string Wire() const { return WireText(sim->Log()); }

    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
    RecordingSinks sinks;
    HidDeviceHost host{sinks};
    CommandProtocol protocol{host, sinks, sinks};
};

}  // namespace testsupport
