#include <vector>

#include <gtest/gtest.h>

#include "sound/synthesizer.hpp"
#include "test_support.hpp"

using namespace rkv;
using namespace rkv::test;

namespace {

std::vector<std::uint8_t> note(const std::int8_t* wave, const std::int8_t* env, std::int32_t step,
                               std::uint32_t length) {
    std::vector<std::uint8_t> out(length);
    renderNote(wave, env, step, length, out.data());
    return out;
}

struct Tables {
    std::int8_t wave[256] = {};
    std::int8_t env[64] = {};
};

} // namespace

TEST(NoteStep, LowerAndUpperOctavesAndWrapAround) {
    EXPECT_EQ(noteStep(1, 0), 96);   // 1551 / 16
    EXPECT_EQ(noteStep(1, 12), 193); // 1551 / 8, not 2 * 96
    EXPECT_EQ(noteStep(8, 11), 1469);
    EXPECT_EQ(noteStep(8, 23), 2938);
    // Octave 20: 2938 << 20 passes 2^31 and is read as negative; the quotient truncates.
    EXPECT_EQ(noteStep(1u << 20, 11), -75890688);
    // Octave 31 makes the multiplier itself negative: 1551 * 2^31 wraps to -2^31.
    EXPECT_EQ(noteStep(1u << 31, 0), INT32_MIN / 16);
    EXPECT_EQ(noteStep(1u << 31, 1), 0); // 1652 is even: the product wraps to 0
}

// Sample i is w * e / 128 + 128 in 8 bits, w the wave entry (phase / 256) & 0xFF, phase = i * step
// wrapped to a signed 32-bit value and divided toward zero, e the envelope entry (i * 64) / length:
// the renderer walks spans and periods instead, which must come to the same for every step, sign
// and length.
TEST(RenderNote, WalkingTheWaveAndEnvelopeMatchesTheIndexFormula) {
    Tables t;
    for (int i = 0; i < 256; ++i)
        t.wave[i] = static_cast<std::int8_t>(i * 5);
    for (int i = 0; i < 64; ++i)
        t.env[i] = static_cast<std::int8_t>(i * 4 - 128);
    struct Case {
        std::int32_t step;
        std::uint32_t length;
    };
    std::vector<Case> cases = {{-1, 300}, {32768, 6}, {0x7FFFFF80, 70000}, {-1469, 70000}};
    for (std::uint32_t length : {4u, 5u, 63u, 64u, 65u, 127u, 1000u, 4409u, 99991u})
        cases.push_back({1469, length});
    for (const Case& c : cases) {
        const auto out = note(t.wave, t.env, c.step, c.length);
        for (std::uint32_t i = 0; i < c.length; ++i) {
            const auto phase = static_cast<std::int32_t>(static_cast<std::uint32_t>(c.step) * i);
            const std::int32_t w = t.wave[(phase / 256) & 0xFF];
            const std::int32_t e = t.env[(i * 64) / c.length];
            ASSERT_EQ(out[i], static_cast<std::uint8_t>(w * e / 128 + 128))
                << c.step << " " << c.length << " " << i;
        }
    }
}

// Past 2^26 samples i * 64 wraps at 32 bits, and the envelope entry follows the wrapped product.
TEST(RenderNote, LongNotesFollowTheWrappedEnvelopeIndex) {
    Tables t;
    t.wave[0] = 127;
    for (int i = 0; i < 64; ++i)
        t.env[i] = static_cast<std::int8_t>(2 * i);
    const std::uint32_t length = (1u << 26) + 65; // not a multiple of 64: entries start mid-way
    const auto out = note(t.wave, t.env, 0, length);
    for (std::uint32_t i = length - 4096; i < length; ++i)
        ASSERT_EQ(out[i], 128 + 127 * 2 * ((i * 64u) / length) / 128) << i;
    // The last sample of each entry before the wrap, where an index rounded up would move on.
    for (int k = 1; k < 64; ++k) {
        const auto i = static_cast<std::uint32_t>(std::uint64_t{length} * k / 64);
        ASSERT_EQ(out[i], 128 + 127 * 2 * (k - 1) / 128) << i;
    }
}

TEST(Synthesize, FillsTwentyFourPitchesWithVolumeAndCentredPan) {
    OfflinePlayer player;
    VoiceBank& bank = player.bank;
    SongSpec s;
    s.stepCount = 1;
    s.instruments[0].noteLength = 100;
    s.instruments[0].volume = 250;
    s.instruments[1].noteLength = 3; // too short: silent
    s.instruments[2].noteLength = 200;
    s.instruments[2].octave = 33; // used modulo 32: octave 1
    for (int i = 0; i < 256; ++i)
        s.instruments[2].wave[i] = static_cast<std::int8_t>(i);
    for (auto& e : s.instruments[2].envelope)
        e = 127;
    const Song song = parseSong(songBytes(s)).song;
    prepareSongVoices(bank, song);
    for (int j = 0; j < 24; ++j) {
        EXPECT_TRUE(bank.voices[400 + j].exists);
        EXPECT_EQ(bank.voices[400 + j].length, 100u);
        EXPECT_EQ(bank.voices[400 + j].volume, -400);
        EXPECT_EQ(bank.voices[400 + j].pan, 0);
        EXPECT_FALSE(bank.voices[424 + j].exists);
    }
    const auto expected = note(song.header.instruments[2].wave.data(),
                               song.header.instruments[2].envelope.data(), noteStep(2, 13), 200);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bank.voices[448 + 13].data));

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
