// SHA-256 (FIPS 180-4), for the burn summary: what a burn wrote, as a production line
// records it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace cli {

class Sha256 {
public:
    // Portable: the plain C++ rounds only, whatever the processor offers (for tests).
    enum class Engine { Best, Portable };
    explicit Sha256(Engine engine = Engine::Best);
    // Whether this processor has the SHA extensions the Best engine uses.
    static bool HasShaInstructions();
    void Update(std::span<const std::uint8_t> bytes);
    std::string HexDigest();  // lower-case, 64 digits; ends the computation

private:
    void Blocks(const std::uint8_t* data, std::size_t count);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingLength_ = 0;
    std::uint64_t totalBytes_ = 0;
    bool hardware_;
};

}  // namespace cli
