// The digest of every engine against known answers, and the engines against each other
// across lengths and piece sizes that cut blocks anywhere.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/cli/sha256.h"

namespace {

using cli::Sha256;

std::string Digest(Sha256::Engine engine, std::span<const std::uint8_t> bytes, std::size_t piece) {
    Sha256 sha(engine);
    for (std::size_t at = 0; at < bytes.size(); at += piece) sha.Update(bytes.subspan(at, std::min(piece, bytes.size() - at)));
    return sha.HexDigest();
}

std::string Digest(Sha256::Engine engine, std::string_view text, std::size_t piece) {
    return Digest(engine, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), piece);
}

TEST(Sha256, KnownDigestsOnEveryEngine) {
    for (Sha256::Engine engine : {Sha256::Engine::Best, Sha256::Engine::Portable}) {
        SCOPED_TRACE(engine == Sha256::Engine::Best ? "best" : "portable");
        EXPECT_EQ(Digest(engine, "", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(Digest(engine, "abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        const char* twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
        EXPECT_EQ(Digest(engine, twoBlocks, 7), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(Digest(engine, std::string(1000000, 'a'), 4096),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
}

TEST(Sha256, ProcessorInstructionsAgreeWithThePortableRounds) {
    if (!Sha256::HasShaInstructions()) GTEST_SKIP() << "this processor has no SHA extensions";
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(5000);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    for (std::size_t length : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 128u, 256u, 269u, 4999u})
        for (std::size_t piece : {1u, 13u, 64u, 256u, 5000u}) {
            SCOPED_TRACE(std::to_string(length) + " bytes in pieces of " + std::to_string(piece));
            const auto data = std::span(bytes).first(length);
            EXPECT_EQ(Digest(Sha256::Engine::Best, data, piece), Digest(Sha256::Engine::Portable, data, piece));
        }
}

}  // namespace
