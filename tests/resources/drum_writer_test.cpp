// The drum generator's building blocks: the wave layout writer, the finishing stage and the
// library-independent maths that keep its output identical everywhere.
#include <gtest/gtest.h>

#include <cmath>

#include "drum_sounds.hpp"
#include "dsp.hpp"
#include "file_bytes.hpp"
#include "wave_file.hpp"

namespace {

TEST(DrumWaveWriter, PadsOddLengthsAndCopiesSamples) {
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{4}, std::size_t{7}}) {
        SCOPED_TRACE(n);
        std::vector<std::uint8_t> samples(n);
        for (std::size_t i = 0; i < n; ++i)
            samples[i] = static_cast<std::uint8_t>(100 + i * 9);
        const rkvtest::Bytes f = drumgen::encodeDrumWave(samples);
        ASSERT_EQ(f.size(), 58 + n + n % 2);
        EXPECT_EQ(rkvtest::tagAt(f, 0), "RIFF");
        EXPECT_EQ(rkvtest::u32At(f, 4), f.size() - 8);
        EXPECT_EQ(rkvtest::tagAt(f, 38), "fact");
        EXPECT_EQ(rkvtest::u32At(f, 46), n);
        EXPECT_EQ(rkvtest::tagAt(f, 50), "data");
        EXPECT_EQ(rkvtest::u32At(f, 54), n);
        for (std::size_t i = 0; i < n; ++i)
            EXPECT_EQ(f[58 + i], samples[i]);
        if (n % 2) {
            EXPECT_EQ(f.back(), 0);
        }
    }
}

TEST(DrumFinish, FadesRemovesDcAndScalesToThePeak) {
    // A lopsided signal: a large DC offset under a tone, full level right to the end.
    std::vector<double> raw(1001);
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = 0.6 + 0.4 * std::sin(static_cast<double>(i) * 0.3);
    const auto out = drumgen::finishDrum(raw, 2, 100, 0.9);
    ASSERT_EQ(out.size(), raw.size());
    EXPECT_EQ(out.front(), 128);
    EXPECT_EQ(out.back(), 128);
    double sum = 0.0;
    int peak = 0;
    for (std::uint8_t v : out) {
        sum += v - 128.0;
        peak = std::max(peak, std::abs(v - 128));
    }
    EXPECT_LT(std::fabs(sum / static_cast<double>(out.size())), 0.5);
    EXPECT_NEAR(peak, 0.9 * 127, 1.0);
}

TEST(DrumFinish, SilenceStaysSilent) {
    const auto out = drumgen::finishDrum(std::vector<double>(50, 0.0), 2, 10, 0.9);
    for (std::uint8_t v : out)
        EXPECT_EQ(v, 128);
}

TEST(DrumMaths, MatchesTheLibraryClosely) {
    for (double x = -40.0; x <= 40.0; x += 0.37) {
        EXPECT_NEAR(drumgen::detSin(x), std::sin(x), 1e-12) << x;
        EXPECT_NEAR(drumgen::detCos(x), std::cos(x), 1e-12) << x;
        EXPECT_NEAR(drumgen::detTanh(x / 8), std::tanh(x / 8), 1e-12) << x;
    }
    for (double x = -30.0; x <= 5.0; x += 0.23)
        EXPECT_NEAR(drumgen::detExp(x) / std::exp(x), 1.0, 1e-13) << x;
}

TEST(DrumSynth, RendersEveryNamedSoundAtItsLength) {
    for (const drumgen::DrumSound& sound : drumgen::kDrumSounds) {
        const auto a = drumgen::renderDrum(sound);
        EXPECT_EQ(a.size(), sound.length) << sound.name;
        EXPECT_EQ(a, drumgen::renderDrum(sound)) << sound.name << " differs between runs";
    }
    EXPECT_TRUE(drumgen::synthesizeDrum("GONG1", 100).empty());
}

} // namespace
