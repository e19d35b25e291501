// Pitches, octaves and whole notes in songs are checked against the reference model over its
// corpus (tests/model). Here: the renderer's walk over spans and periods against the plain index
// formula, notes longer than any song's voice can be, and what a load does to the bank.
#include <vector>

#include <gtest/gtest.h>

#include "sound/synthesizer.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

std::vector<std::int8_t> note(const std::int8_t* wave, const std::int8_t* env, std::int32_t step,
                              std::uint32_t length) {
    std::vector<std::int8_t> out(length);
    renderNote(wave, env, step, length, out.data());
    return out;
}

} // namespace

// Sample i is w * e / 128 in 8 bits (the format's byte less 128), w the wave entry (phase / 256) &
// 0xFF, phase = i * step wrapped to a signed 32-bit value and divided toward zero, e the envelope
// entry (i * 64) / length: the renderer walks spans and periods instead, which must come to the
// same for every step, sign and length.
TEST(RenderNote, WalkingTheWaveAndEnvelopeMatchesTheIndexFormula) {
    std::int8_t wave[256], env[64];
    for (int i = 0; i < 256; ++i)
        wave[i] = static_cast<std::int8_t>(i * 5);
    for (int i = 0; i < 64; ++i)
        env[i] = static_cast<std::int8_t>(i * 4 - 128);
    struct Case {
        std::int32_t step;
        std::uint32_t length;
    };
    std::vector<Case> cases = {{-1, 300}, {32768, 6}, {0x7FFFFF80, 70000}, {-1469, 70000}};
    for (std::uint32_t length : {4u, 5u, 63u, 64u, 65u, 127u, 1000u, 4409u, 99991u})
        cases.push_back({1469, length});
    for (const Case& c : cases) {
        const auto out = note(wave, env, c.step, c.length);
        for (std::uint32_t i = 0; i < c.length; ++i) {
            const auto phase = static_cast<std::int32_t>(static_cast<std::uint32_t>(c.step) * i);
            const std::int32_t w = wave[(phase / 256) & 0xFF];
            const std::int32_t e = env[(i * 64) / c.length];
            ASSERT_EQ(out[i], static_cast<std::int8_t>(w * e / 128))
                << c.step << " " << c.length << " " << i;
        }
    }
}

// Past 2^26 samples i * 64 wraps at 32 bits, and the envelope entry follows the wrapped product.
TEST(RenderNote, LongNotesFollowTheWrappedEnvelopeIndex) {
    std::int8_t wave[256] = {127}, env[64];
    for (int i = 0; i < 64; ++i)
        env[i] = static_cast<std::int8_t>(2 * i);
    const std::uint32_t length = (1u << 26) + 65; // not a multiple of 64: entries start mid-way
    const auto out = note(wave, env, 0, length);
    for (std::uint32_t i = length - 4096; i < length; ++i)
        ASSERT_EQ(out[i], 127 * 2 * ((i * 64u) / length) / 128) << i;
    // The last sample of each entry before the wrap, where an index rounded up would move on.
    for (int k = 1; k < 64; ++k) {
        const auto i = static_cast<std::uint32_t>(std::uint64_t{length} * k / 64);
        ASSERT_EQ(out[i], 127 * 2 * (k - 1) / 128) << i;
    }
}

TEST(Synthesize, ALoadReplacesTheVoicesAndAFailedCreationStopsTheInstrument) {
    OfflinePlayer player;
    VoiceBank& bank = player.bank;
    SongSpec s;
    s.stepCount = 1;
    s.instruments[0].noteLength = 100;
    s.instruments[1].noteLength = 3; // too short: no voices
    s.instruments[2].noteLength = 200;
    prepareSongVoices(bank, parseSong(songBytes(s)).song);
    EXPECT_EQ(bank.voices[400].length, 100u);

    // A second load releases the old voices before creating new ones: the new lengths hold.
    s.instruments[0].noteLength = 150;
    prepareSongVoices(bank, parseSong(songBytes(s)).song);
    EXPECT_EQ(bank.voices[400].length, 150u);
    EXPECT_EQ(bank.reservedBytes, 24u * 350u);

    // A creation that fails leaves the pitches before it silent and those after it empty.
    ASSERT_EQ(createVoice(bank, 434, VOICE_FORMAT, 4), 1); // occupies pitch 10's slot
    const InstrumentSpec& in = s.instruments[2];
    EXPECT_EQ(synthesizeInstrument(bank, in.wave, in.envelope, 1, 64, 424), 0);
    EXPECT_TRUE(bank.voices[433].exists);
    EXPECT_EQ(bank.voices[433].data, nullptr); // created, never written
    EXPECT_FALSE(bank.voices[435].exists);
}
