// The flash programmer's checks before a run and its set-up with the protocol.
#include "flash/flash_programmer.h"

FlashProgrammer::FlashProgrammer(CommandProtocol& p, core::Reporter& r) : protocol(p), reporter(r) {
    protocol.SetFileWriter([this](const std::uint8_t* buffer, ULONG count) { return WriteFlashFile(buffer, count); });
}

FlashProgrammer::~FlashProgrammer() {
    protocol.SetFileWriter(nullptr);
    ReleaseFlashFile();
}

// A start needs a file of its kind in the slot and an identified flash.
namespace {
std::optional<core::Box> SlotRefusal(const FlashFile& file, bool burn, const CommandProtocol& protocol) {
    if (!file.IsOpen() || file.forRead != burn)
        return core::ErrorBox(burn ? "Please select the burn file !" : "Please select the dump file !");
    if (protocol.IdentifiedPartIndex() == kNoIdentifiedPart) return core::ErrorBox("Please execute Get ID function !");
    return std::nullopt;
}
}  // namespace

std::optional<core::Box> FlashProgrammer::DumpRefusal() const { return SlotRefusal(flashFile, false, protocol); }

std::optional<core::Box> FlashProgrammer::BurnRefusal(const BurnRequest& request) const {
    if (auto refusal = SlotRefusal(flashFile, true, protocol)) return refusal;
    if (const char* problem = ImageProblem(request)) return core::ErrorBox(problem);
    return std::nullopt;
}
