// libFuzzer target: the vendor command protocol against a hostile device. An in-process
// virtual device answers every output report and input request with the status, the
// answer length and the answer bytes the input gives; the device host opens it as Open
// Device does (enumeration, opening, capability tables, command buffers) and the protocol
// runs the commands the input picks: Get ID, the firmware version, HDMI and USB queries,
// register, IIC and GPIO commands, the HDCP switch, and single flash accesses and short
// bursts.
//
// Beyond ASan and UBSan, every command is held to what it promises: a command that
// answers success had every transfer succeed and an answer long enough for what it
// returns, and returns exactly those bytes; a failed command changes none of its outputs;
// nothing is written outside the caller's buffer; a burst accounts for every byte; and
// an iteration leaves no handle, device or global behind for the next.
//
// The device's report descriptor is the vendor's (tests/support/vendor_descriptor.h),
// unless the input asks for other report counts or for descriptor bytes of its own.
//
// The harness's own code (the input decoding, the checks, and the standard library code
// instantiated here) is left out of coverage, so that only the code under test guides
// the fuzzer; it still runs under ASan and UBSan.
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>

// vendor_descriptor.h is shared with the test suites: its CallRunner uses GoogleTest's
// macros. They only need declaring; nothing of GoogleTest is linked or run here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#pragma clang attribute pop

// The code under test, its inline parts included, keeps its coverage.
#include "core/stop_request.h"
#include "platform/hid/transport_hidraw.h"
#include "platform/hid/virtual_device.h"
#include "platform/win/handles.h"
#include "protocol/command_protocol.h"

#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#include "tests/support/vendor_descriptor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr USHORT kVendorId = 0x1209;
constexpr USHORT kProductId = 0xF022;
constexpr int kMaxCommands = 24;
constexpr ULONG kMaxAnswer = 1024;  // beyond any report of the descriptors built here

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "protocol fault: %s\n", what);
    std::abort();
}

void Require(bool holds, const char* what) {
    if (!holds) Fail(what);
}

// The device: every status, answer length and answer byte is the input's. It remembers
// whether a transfer failed and what the host kept of the last answer, for the checks.
class FuzzedDevice final : public vhid::DeviceHandler {
public:
    explicit FuzzedDevice(FuzzedDataProvider& input) : input_(input) {}

    DWORD OnOutputReport(std::span<const std::uint8_t>) override { return Status(); }

    DWORD OnInputRequest(std::uint8_t, ULONG requestedLength, Bytes& answer) override {
        const DWORD status = Status();
        const auto length = input_.ConsumeIntegralInRange<std::size_t>(0, std::min(requestedLength, kMaxAnswer));
        answer = input_.ConsumeBytes<std::uint8_t>(length);
        // What the host keeps: HidD_GetInputReport places at most the requested length and
        // the input report length.
        lastAnswer_ = answer;
        lastAnswer_.resize(std::min<std::size_t>(lastAnswer_.size(), std::min<std::size_t>(requestedLength, inputLength_)));
        return status;
    }

    void StartCommand(USHORT inputLength) {
        failed_ = false;
        inputLength_ = inputLength;
        lastAnswer_.clear();
    }
    bool TransferFailed() const { return failed_; }
    const Bytes& LastAnswer() const { return lastAnswer_; }

private:
    DWORD Status() {
        static constexpr DWORD kFailures[] = {ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, ERROR_SEM_TIMEOUT,
                                              ERROR_BUSY, ERROR_INVALID_PARAMETER};
        const auto pick = input_.ConsumeIntegral<std::uint8_t>();
        if (pick < 0xF0) return ERROR_SUCCESS;
        failed_ = true;
        return kFailures[static_cast<std::size_t>(pick) % std::size(kFailures)];
    }

    FuzzedDataProvider& input_;
    bool failed_ = false;
    USHORT inputLength_ = 0;
    Bytes lastAnswer_;
};

// Trace lines and boxes go nowhere: the checks look at answers and outputs.
class Quiet final : public core::Reporter {
public:
    void Trace(std::string_view) override {}
    void Show(const core::Box&) override {}
};

// The device host and the protocol over it, with an in-memory dump file of limited room.
struct Host {
    Host() {
        protocol.SetFileWriter([this](const std::uint8_t* buffer, ULONG count) {
            const ULONG n = std::min(count, room);
            file.insert(file.end(), buffer, buffer + n);
            room -= n;
            return n;
        });
    }
    Quiet quiet;
    core::NoProgress progress;
    HidDeviceHost device{quiet};
    CommandProtocol protocol{device, quiet, progress};
    Bytes file;
    ULONG room = 0;
};

// A buffer of `size` bytes inside guard bytes that nothing may touch.
class Guarded {
public:
    Guarded(std::size_t size, std::uint8_t fill) : bytes_(size + 2 * kGuard, kGuardByte) {
        std::fill_n(bytes_.begin() + kGuard, size, fill);
    }
    std::span<std::uint8_t> Span() { return {bytes_.data() + kGuard, bytes_.size() - 2 * kGuard}; }
    Bytes Copy() { return {Span().begin(), Span().end()}; }
    void CheckGuards() const {
        for (std::size_t i = 0; i < kGuard; ++i)
            Require(bytes_[i] == kGuardByte && bytes_[bytes_.size() - 1 - i] == kGuardByte,
                    "a write outside the caller's buffer");
    }

private:
    static constexpr std::size_t kGuard = 16;
    static constexpr std::uint8_t kGuardByte = 0xCD;
    Bytes bytes_;
};

ULONG Le32(const Bytes& bytes) {
    return static_cast<ULONG>(bytes[0]) | static_cast<ULONG>(bytes[1]) << 8 | static_cast<ULONG>(bytes[2]) << 16 |
           static_cast<ULONG>(bytes[3]) << 24;
}

Bytes PickDescriptor(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
    case 6: {  // the vendor's layout with other report counts
        std::vector<std::uint16_t> counts(6);
        for (auto& count : counts) count = input.ConsumeIntegralInRange<std::uint16_t>(0, 300);
        return testsupport::VendorDescriptor({counts[0], counts[1], counts[2]}, {counts[3], counts[4], counts[5]});
    }
    case 7:  // bytes of the input's own
        return input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 256));
    default: return testsupport::CaptureDeviceDescriptor();
    }
}

// Runs one command the input picks and checks what it promises.
void RunCommand(FuzzedDataProvider& input, Host& host, FuzzedDevice& device) {
    CommandProtocol& protocol = host.protocol;
    device.StartCommand(host.device.OpenedDevice().caps.InputReportByteLength);
    switch (input.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: {
        // An answer of two bytes or more names a flash table row; anything less, or a
        // failed transfer, identifies nothing and leaves the last identification.
        const ULONG partBefore = protocol.IdentifiedPartIndex(), totalBefore = protocol.FlashTotalSize();
        const std::optional<ULONG> answered = protocol.GetId();
        const Bytes& answer = device.LastAnswer();
        if (device.TransferFailed() || answer.size() < 2) {
            Require(!answered, "Get ID answered a row over a failed or short answer");
            Require(protocol.IdentifiedPartIndex() == partBefore && protocol.FlashTotalSize() == totalBefore,
                    "a failed Get ID changed the identification");
            break;
        }
        const ULONG row = static_cast<ULONG>(answer[0]) | static_cast<ULONG>(answer[1]) << 8;
        Require(answered == row, "Get ID answered another row than the device");
        const bool known = row < static_cast<ULONG>(kFlashPartCount);
        Require(protocol.IdentifiedPartIndex() == (known ? row : kNoIdentifiedPart) &&
                    protocol.FlashTotalSize() == (known ? FlashPartTotalSize(FlashPartTable[row]) : 0),
                "Get ID kept another flash geometry than the answer's row");
        break;
    }
    case 1: {
        const std::optional<std::string> version = protocol.GetFwVersion();
        if (version) {
            Require(!device.TransferFailed(), "a firmware version was read over a failed transfer");
            Require(version->size() == 11, "a firmware version is not \"xx.xx.xx.xx\"");
        }
        break;
    }
    case 2: {
        // The answer's first 24 bytes at most, in hex.
        const std::optional<std::string> info = protocol.GetHdmiInfo();
        if (!info) break;
        Require(!device.TransferFailed(), "HDMI information was read over a failed transfer");
        std::string expected;
        for (std::size_t i = 0; i < std::min<std::size_t>(device.LastAnswer().size(), 24); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, i > 0 ? " %02x" : "%02x", device.LastAnswer()[i]);
            expected += hex;
        }
        Require(*info == expected, "the HDMI information is other than the answer");
        break;
    }
    case 3:
        if (protocol.GetUsbInfo()) Require(!device.TransferFailed(), "a USB query succeeded over a failed transfer");
        break;
    case 4: {
        const auto mode = input.ConsumeIntegralInRange<int>(0, 2);  // write, read, no step
        const auto address = input.ConsumeIntegral<ULONG>();
        const auto before = input.ConsumeIntegral<ULONG>();
        ULONG value = before;
        const int result = protocol.RegisterCommand(mode, address, value);
        Require(result == 0 || result == 1, "RegisterCommand answered neither 0 nor 1");
        if (result == 1) Require(!device.TransferFailed(), "a register command succeeded over a failed transfer");
        if (mode == OP_REG_READ && result == 1) {
            Require(device.LastAnswer().size() >= 4, "a register read succeeded on a short answer");
            Require(value == Le32(device.LastAnswer()), "a register read returned other bytes than the answer");
        } else {
            Require(value == before, "a register command changed the value it did not read");
        }
        break;
    }
    case 5: {
        const bool write = input.ConsumeBool();
        const auto address = input.ConsumeIntegral<std::uint8_t>();
        const auto count = input.ConsumeIntegral<std::uint8_t>();
        const auto readCount = input.ConsumeIntegral<std::uint8_t>();
        Guarded data(input.ConsumeIntegralInRange<std::size_t>(0, 300), 0x5A);
        const Bytes before = data.Copy();
        const int result =
            protocol.IicCommand(write ? OP_IIC_WRITE : OP_IIC_READ, address, count, data.Span(), readCount);
        data.CheckGuards();
        Require(result == 0 || result == 1, "IicCommand answered neither 0 nor 1");
        if (result == 0) {
            Require(data.Copy() == before, "a failed IIC command changed its data");
        } else {
            Require(!device.TransferFailed(), "an IIC command succeeded over a failed transfer");
            const std::size_t answered = write ? 1u : readCount + 1u;
            Require(device.LastAnswer().size() >= answered, "an IIC command succeeded on a short answer");
            Require(std::equal(device.LastAnswer().begin(), device.LastAnswer().begin() + static_cast<std::ptrdiff_t>(answered),
                               data.Span().begin()),
                    "an IIC command returned other bytes than the answer");
        }
        break;
    }
    case 6: {
        const auto op = input.ConsumeIntegralInRange<int>(OP_GPIO_SET_DIRECTION, OP_GPIO_READ);
        const auto pin = input.ConsumeIntegral<std::uint8_t>();
        const auto before = input.ConsumeIntegral<std::uint8_t>();
        std::uint8_t value = before;
        const int result = protocol.GpioCommand(op, pin, value);
        Require(result == 0 || result == 1, "GpioCommand answered neither 0 nor 1");
        if (result == 1) Require(!device.TransferFailed(), "a GPIO command succeeded over a failed transfer");
        if (op == OP_GPIO_READ && result == 1) {
            Require(!device.LastAnswer().empty() && value == device.LastAnswer()[0],
                    "a GPIO read returned other than the answer");
        } else {
            Require(value == before, "a GPIO command changed the value it did not read");
        }
        break;
    }
    case 7:
    case 8: {
        const int result = protocol.SwitchHdcpKey(input.ConsumeBool());
        Require(result == 0 || result == 1, "SwitchHdcpKey answered neither 0 nor 1");
        if (result == 1) Require(!device.TransferFailed(), "an HDCP switch succeeded over a failed transfer");
        break;
    }
    case 9: {
        static constexpr int kOps[] = {AP_FLASH_WRITE, AP_FLASH_READ, AP_FLASH_BURST_LATER, OP_REG_READ};
        const int op = kOps[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kOps) - 1)];
        const auto mode = input.ConsumeIntegral<std::uint8_t>();
        const auto address = input.ConsumeIntegral<ULONG>();
        const auto length = input.ConsumeIntegralInRange<ULONG>(0, 600);
        Guarded buffer(input.ConsumeIntegralInRange<std::size_t>(0, 600), 0x3C);
        const Bytes before = buffer.Copy();
        const int result = protocol.FlashAccess(op, mode, address, length, buffer.Span());
        buffer.CheckGuards();
        Require(result == 0 || result == 1, "FlashAccess answered neither 0 nor 1");
        if (result == 1) Require(!device.TransferFailed(), "a flash access succeeded over a failed transfer");
        if (op == AP_FLASH_READ && result == 1) {
            Require(device.LastAnswer().size() >= length, "a flash read succeeded on a short answer");
            Require(std::equal(buffer.Span().begin(), buffer.Span().begin() + static_cast<std::ptrdiff_t>(length),
                               device.LastAnswer().begin()),
                    "a flash read returned other bytes than the answer");
        } else {
            Require(buffer.Copy() == before, "a flash access changed a buffer it did not read into");
        }
        break;
    }
    default: {
        static constexpr int kOps[] = {AP_FLASH_WRITE, AP_FLASH_READ, AP_FLASH_BURST_READ_TO_FILE,
                                       AP_FLASH_BURST_READ_TO_MEMORY, AP_FLASH_BURST_LATER};
        const int op = kOps[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kOps) - 1)];
        // A few reports' worth, so that a burst of one-byte chunks stays short.
        const ULONG chunk =
            std::max<ULONG>(1, op == AP_FLASH_WRITE ? host.device.flashBuffer.length : host.device.flashReadLength);
        const ULONG total = input.ConsumeIntegralInRange<ULONG>(0, 4 * chunk + 3);
        Guarded image(input.ConsumeIntegralInRange<std::size_t>(0, total + 8), 0x96);
        const auto offset = input.ConsumeIntegralInRange<ULONG>(0, 8);
        host.room = input.ConsumeIntegralInRange<ULONG>(0, total + 1);
        host.file.clear();
        const ULONG room = host.room;
        const Bytes before = image.Copy();
        ULONG done = 0xFFFFFFFFu;
        const ULONG remaining = protocol.FlashBurst(op, total, image.Span(), offset, done);
        image.CheckGuards();
        Require(remaining <= total && done == total - remaining, "a burst lost count of its bytes");
        if (remaining == 0 && total > 0) Require(!device.TransferFailed(), "a burst succeeded over a failed transfer");
        if (op != AP_FLASH_BURST_READ_TO_MEMORY)
            Require(image.Copy() == before, "a burst changed an image it only reads");
        if (op == AP_FLASH_BURST_READ_TO_FILE)
            Require(host.file.size() <= room && host.file.size() >= done, "a dump burst lost count of its file");
        break;
    }
    }
}

struct Sandbox {
    std::string root;
    std::unique_ptr<hidtransport::ProviderOverride> hidrawProvider;  // scans the empty tree below root
};

Sandbox& TheSandbox() {
    static Sandbox sandbox;
    return sandbox;
}

}  // namespace

// No other device may take part: the hidraw scan looks at an empty tree and the
// simulators' socket directory is an empty private one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = "/tmp/fuzz-protocol-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("no temporary directory");
    Sandbox& sandbox = TheSandbox();
    sandbox.root = pattern;
    for (const char* sub : {"/sys", "/dev", "/run"})
        if (mkdir((sandbox.root + sub).c_str(), 0700) != 0) Fail("no sandbox directory");
    sandbox.hidrawProvider = std::make_unique<hidtransport::ProviderOverride>(
        hidtransport::kRankHidraw, hidraw::MakeHidrawProvider({.roots = {sandbox.root + "/sys", sandbox.root + "/dev"}}));
    setenv("XDG_RUNTIME_DIR", (sandbox.root + "/run").c_str(), 1);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(TheSandbox().root, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t handlesBefore = LiveHandleCount();
    core::ResetStopRequests();
    {
        auto device = std::make_shared<FuzzedDevice>(input);
        vhid::DeviceInfo info;
        info.path = vhid::MakePath("fuzz");
        info.vendorId = kVendorId;
        // Now and then a device that is not the one looked for (an input that has run out
        // always gets the right one).
        info.productId = input.ConsumeIntegralInRange<int>(0, 15) == 15 ? static_cast<USHORT>(kProductId + 1) : kProductId;
        info.reportDescriptor = PickDescriptor(input);
        const DeviceQuery query{kVendorId, kProductId, info.path};
        auto publication = vhid::Publish(std::move(info), device);

        Host host;
        // A device that cannot serve the commands stays open: every command must fail on it.
        if (host.device.OpenDevice(query).IsOpen()) {
            for (int i = 0; i < kMaxCommands && input.remaining_bytes() > 0; ++i) RunCommand(input, host, *device);
        }
    }
    Require(LiveHandleCount() == handlesBefore, "an iteration left a handle open");
    return 0;
}
#pragma clang attribute pop
