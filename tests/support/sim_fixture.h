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

// A simulator built from `config` with the tests' ids, published as a virtual device while
// the holder lives.
class SimDevice {
public:
    void Publish(sim::Config config, const char* name) {
        config.vendorId = kSimVendorId;
        config.productId = kSimProductId;
        std::string error;
        sim = sim::SimulatedDevice::Create(std::move(config), error);
        ASSERT_TRUE(sim) << error;
        vhid::DeviceInfo info = sim->Info();
        info.path = vhid::MakePath(name);
        publication = vhid::Publish(std::move(info), sim);
    }
    std::vector<sim::TransferRecord> Log() const { return sim->Log(); }
    std::string Wire() const { return WireText(sim->Log()); }

    std::shared_ptr<sim::SimulatedDevice> sim;
    std::unique_ptr<vhid::Publication> publication;
};

// The host and the protocol, with no window, on a simulator opened by Start.
class SimFixture : public ::testing::Test, public SimDevice {
protected:
    void Start(sim::Config config = {}) {
        Publish(std::move(config), "protocol");
        ASSERT_TRUE(sim);
        ASSERT_EQ(host.OpenDevice({kSimVendorId, kSimProductId, {}}).kind, OpenOutcome::Kind::Opened);
        sim->ClearLog();
        sinks.Clear();
    }
    std::vector<std::string> Traces() const { return sinks.Traces(); }

    RecordingSinks sinks;
    HidDeviceHost host{sinks};
    CommandProtocol protocol{host, sinks, sinks};
};

}  // namespace testsupport
