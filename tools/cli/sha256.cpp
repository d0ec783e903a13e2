#include "tools/cli/sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace cli {

namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void PortableBlock(std::uint32_t* state, const std::uint8_t* p) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{p[4 * i]} << 24 | std::uint32_t{p[4 * i + 1]} << 16 | std::uint32_t{p[4 * i + 2]} << 8 |
               std::uint32_t{p[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5], g = state[6],
                  h = state[7];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::uint32_t next[8] = {a, b, c, d, e, f, g, h};
    for (std::size_t i = 0; i < 8; ++i) state[i] += next[i];
}

#if defined(__x86_64__)
// The same rounds on the processor's SHA extensions, four rounds a step: the state is kept
// as the ABEF and CDGH halves those instructions work on, and the message schedule in four
// registers, each computed two steps before its use.
__attribute__((target("sha,sse4.1"))) void ShaNiBlocks(std::uint32_t* state, const std::uint8_t* data,
                                                       std::size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count > 0; --count, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        for (int i = 0; i < 16; ++i) {
            __m128i message = _mm_add_epi32(w[i & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            if (i >= 3 && i < 15) {  // the schedule's words i+1
                const __m128i shifted = _mm_alignr_epi8(w[i & 3], w[(i - 1) & 3], 4);
                w[(i + 1) & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(w[(i + 1) & 3], shifted), w[i & 3]);
            }
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
            if (i >= 1 && i < 13) w[(i - 1) & 3] = _mm_sha256msg1_epu32(w[(i - 1) & 3], w[i & 3]);  // for words i+3
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

}  // namespace

bool Sha256::HasShaInstructions() {
#if defined(__x86_64__)
    // CPUID leaf 7 EBX bit 29 (SHA), leaf 1 ECX bit 19 (SSE4.1): asked directly, since not
    // every compiler's __builtin_cpu_supports knows "sha".
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & (1u << 19))) return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29)) != 0;
    }();
    return has;
#else
    return false;
#endif
}

Sha256::Sha256(Engine engine)
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      hardware_(engine == Engine::Best && HasShaInstructions()) {}

void Sha256::Blocks(const std::uint8_t* data, std::size_t count) {
#if defined(__x86_64__)
    if (hardware_) return ShaNiBlocks(state_.data(), data, count);
#endif
    for (; count > 0; --count, data += 64) PortableBlock(state_.data(), data);
}

// Whole blocks are hashed where they lie; only a block's start or end waits in pending_.
void Sha256::Update(std::span<const std::uint8_t> bytes) {
    totalBytes_ += bytes.size();
    if (pendingLength_ > 0) {
        const std::size_t take = std::min(bytes.size(), pending_.size() - pendingLength_);
        std::memcpy(pending_.data() + pendingLength_, bytes.data(), take);
        pendingLength_ += take;
        bytes = bytes.subspan(take);
        if (pendingLength_ < pending_.size()) return;
        Blocks(pending_.data(), 1);
        pendingLength_ = 0;
    }
    const std::size_t whole = bytes.size() / pending_.size();
    if (whole > 0) Blocks(bytes.data(), whole);
    bytes = bytes.subspan(whole * pending_.size());
    if (!bytes.empty()) std::memcpy(pending_.data(), bytes.data(), bytes.size());
    pendingLength_ = bytes.size();
}

std::string Sha256::HexDigest() {
    std::uint64_t bits = totalBytes_ * 8;
    const std::uint8_t one = 0x80, zero = 0;
    Update({&one, 1});
    while (pendingLength_ != 56) Update({&zero, 1});
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Update(length);
    std::string out;
    char digits[9];
    for (std::uint32_t word : state_) {
        std::snprintf(digits, sizeof digits, "%08x", word);
        out += digits;
    }
    return out;
}

}  // namespace cli
