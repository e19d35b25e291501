// The six committed drum sounds: exact RIFF layout, clean edges, level, and character.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "file_bytes.hpp"

namespace {

using rkvtest::Bytes;
using rkvtest::tagAt;
using rkvtest::u16At;
using rkvtest::u32At;

struct DrumCase {
    const char* name;
    std::uint32_t samples;
};

const DrumCase kDrums[] = {
    {"BASS1", 2016}, {"BASS2", 1897}, {"SNARE1", 3234},
    {"HAT1", 15076}, {"HAT2", 738},   {"SYMBAL1", 15567},
};

constexpr std::size_t kDataOffset = 58;
constexpr double kRate = 22050.0;

Bytes load(const DrumCase& drum) {
    return rkvtest::readFile(std::string(RKV_RESOURCE_DIR) + "/" + drum.name + ".wav");
}

// The samples as signed values around the 128 midpoint.
std::vector<int> samplesOf(const Bytes& file, std::uint32_t n) {
    std::vector<int> s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(static_cast<int>(file.at(kDataOffset + i)) - 128);
    return s;
}

double rms(const std::vector<int>& s, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

std::size_t at(double seconds) {
    return static_cast<std::size_t>(seconds * kRate);
}

double crossingsPerSecond(const std::vector<int>& s) {
    int last = 0;
    int count = 0;
    for (int v : s) {
        if (v == 0) continue;
        const int sign = v > 0 ? 1 : -1;
        if (last != 0 && sign != last) ++count;
        last = sign;
    }
    return count / (static_cast<double>(s.size()) / kRate);
}

class DrumFile : public ::testing::TestWithParam<DrumCase> {};

TEST_P(DrumFile, FollowsTheFixedLayoutByteForByte) {
    const DrumCase drum = GetParam();
    const Bytes f = load(drum);
    const std::uint32_t n = drum.samples;
    const std::size_t pad = n % 2;
    ASSERT_EQ(f.size(), kDataOffset + n + pad);

    EXPECT_EQ(tagAt(f, 0), "RIFF");
    EXPECT_EQ(u32At(f, 4), f.size() - 8);
    EXPECT_EQ(tagAt(f, 8), "WAVE");
    EXPECT_EQ(tagAt(f, 12), "fmt ");
    EXPECT_EQ(u32At(f, 16), 18u);
    EXPECT_EQ(u16At(f, 20), 1u);     // PCM
    EXPECT_EQ(u16At(f, 22), 1u);     // mono
    EXPECT_EQ(u32At(f, 24), 22050u); // rate
    EXPECT_EQ(u32At(f, 28), 22050u); // bytes per second
    EXPECT_EQ(u16At(f, 32), 1u);     // block align
    EXPECT_EQ(u16At(f, 34), 8u);     // bits
    EXPECT_EQ(u16At(f, 36), 0u);     // extra format bytes
    EXPECT_EQ(tagAt(f, 38), "fact");
    EXPECT_EQ(u32At(f, 42), 4u);
    EXPECT_EQ(u32At(f, 46), n);
    EXPECT_EQ(tagAt(f, 50), "data");
    EXPECT_EQ(u32At(f, 54), n);
    if (pad) {
        EXPECT_EQ(f.back(), 0) << "odd sample count needs a zero pad byte";
    }
}

TEST_P(DrumFile, StartsAndEndsWithoutAClick) {
    const DrumCase drum = GetParam();
    const std::vector<int> s = samplesOf(load(drum), drum.samples);
    ASSERT_EQ(s.size(), drum.samples);
    EXPECT_EQ(s.front(), 0) << "first sample must be silence";
    EXPECT_EQ(s.back(), 0) << "last sample must be back at 128";
    for (std::size_t i = s.size() - 8; i < s.size(); ++i)
        EXPECT_LE(std::abs(s[i]), 2) << "sample " << i << " of the fade-out";
}

TEST_P(DrumFile, IsLoudButNeverClippedAndHasNoDcOffset) {
    const DrumCase drum = GetParam();
    const std::vector<int> s = samplesOf(load(drum), drum.samples);
    int peak = 0;
    double sum = 0.0;
    for (int v : s) {
        EXPECT_GT(v, -128) << "sample at 0: clipped";
        EXPECT_LT(v, 127) << "sample at 255: clipped";
        peak = std::max(peak, std::abs(v));
        sum += v;
    }
    EXPECT_GE(peak, 100) << "too quiet";
    EXPECT_LT(std::fabs(sum / static_cast<double>(s.size())), 1.0) << "DC offset";
}

INSTANTIATE_TEST_SUITE_P(AllSix, DrumFile, ::testing::ValuesIn(kDrums),
                         [](const auto& info) { return std::string(info.param.name); });

// Rough character checks without a spectrum: zero crossings tell low from bright sounds,
// short-window levels tell a choked hat from an open one and a ringing cymbal.
TEST(DrumCharacter, EachSoundLivesUpToItsName) {
    std::vector<std::vector<int>> s;
    for (const DrumCase& d : kDrums)
        s.push_back(samplesOf(load(d), d.samples));
    const auto& bass1 = s[0];
    const auto& bass2 = s[1];
    const auto& snare = s[2];
    const auto& hat1 = s[3];
    const auto& hat2 = s[4];
    const auto& cymbal = s[5];

    // Bass drums: a few hundred crossings a second at most; hats and cymbal: thousands.
    EXPECT_LT(crossingsPerSecond(bass1), 400.0);
    EXPECT_LT(crossingsPerSecond(bass2), 400.0);
    EXPECT_GT(crossingsPerSecond(hat1), 8000.0);
    EXPECT_GT(crossingsPerSecond(hat2), 8000.0);
    EXPECT_GT(crossingsPerSecond(cymbal), 8000.0);
    EXPECT_GT(crossingsPerSecond(snare), 1500.0);
    EXPECT_LT(crossingsPerSecond(snare), crossingsPerSecond(hat2));

    // The two bass drums are different sounds, not one copied.
    EXPECT_NE(std::vector<int>(bass1.begin(), bass1.begin() + 1800),
              std::vector<int>(bass2.begin(), bass2.begin() + 1800));

    // Closed hat is choked within 25 ms; open hat still sounds at 200 ms.
    const double hat2Peak = rms(hat2, 0, at(0.005));
    EXPECT_LT(rms(hat2, at(0.025), at(0.030)), 0.1 * hat2Peak);
    const double hat1Peak = rms(hat1, 0, at(0.005));
    EXPECT_GT(rms(hat1, at(0.200), at(0.250)), 0.1 * hat1Peak);

    // Cymbal rings: at three quarters of its length it is within 20 dB of its opening.
    const double cymbalStart = rms(cymbal, 0, at(0.050));
    const std::size_t threeQuarters = cymbal.size() * 3 / 4;
    EXPECT_GT(rms(cymbal, threeQuarters - at(0.050), threeQuarters), 0.1 * cymbalStart);
    // ...and decays rather than holding steady.
    EXPECT_LT(rms(cymbal, threeQuarters - at(0.050), threeQuarters), 0.5 * cymbalStart);
}

} // namespace
