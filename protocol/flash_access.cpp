// Placeholder until the flash access commands are written.
#include "protocol/command_protocol.h"

ULONG CommandProtocol::WriteFlashFile(const std::uint8_t*, ULONG) { return 0; }
int CommandProtocol::FlashAccess(int, std::uint8_t, ULONG, ULONG, std::span<std::uint8_t>) { return 0; }
ULONG CommandProtocol::FlashBurst(int, ULONG total, std::span<std::uint8_t>, ULONG, ULONG& done) {
    done = 0;
    return total;
}
