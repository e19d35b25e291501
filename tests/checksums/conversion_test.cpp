// The float-to-16-bit conversion gives, on every float in [-128, 128] and on the infinities, what
// the first, plainly written conversion gave. Optimised builds try every float; unoptimised and
// sanitizer builds, where that takes minutes, a spread of one in 4099.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "sound/voice_bank.hpp"

namespace {

std::int16_t firstConversion(float in) {
    const float x = std::clamp(in, -1.0f, 1.0f) * 32767.0f;
    const double half = x >= 0.0f ? 0.5 : -0.5;
    return static_cast<std::int16_t>(static_cast<double>(x) + half);
}

#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr std::uint32_t STRIDE = 1;
#else
constexpr std::uint32_t STRIDE = 4099;
#endif

TEST(Conversion, MatchesTheFirstConversionOnEveryFloatUpTo128AndTheInfinities) {
    constexpr std::uint32_t TOP = 0x43000000; // 128.0f
    std::vector<float> in(1 << 16);
    std::vector<std::int16_t> out(in.size());
    std::uint64_t checked = 0;
    for (const std::uint32_t sign : {0u, 0x80000000u}) {
        for (std::uint64_t next = 0; next <= TOP;) {
            std::size_t n = 0;
            for (; n < in.size() && next <= TOP; ++n, next += STRIDE) {
                const std::uint32_t bits = static_cast<std::uint32_t>(next) | sign;
                std::memcpy(&in[n], &bits, 4);
            }
            if (next > TOP && n < in.size()) in[n++] = sign ? -128.0f : 128.0f;
            rkv::floatToPcm16(in.data(), out.data(), n);
            for (std::size_t i = 0; i < n; ++i)
                if (out[i] != firstConversion(in[i]))
                    FAIL() << in[i] << " gave " << out[i] << ", was " << firstConversion(in[i]);
            checked += n;
        }
    }
    const float inf[] = {std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    std::int16_t got[2];
    rkv::floatToPcm16(inf, got, 2);
    EXPECT_EQ(got[0], 32767);
    EXPECT_EQ(got[1], -32767);
    EXPECT_GE(checked, 2 * (TOP / STRIDE));
}

} // namespace
