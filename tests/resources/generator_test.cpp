// The generators' parts that the committed files do not show: the 4-bit BMP and ICO writers
// at awkward sizes, read back by the test's own decoder, and the library-independent maths
// that keep the drum sounds identical everywhere.
#include <gtest/gtest.h>

#include <cmath>

#include "dsp.hpp"
#include "file_bytes.hpp"
#include "indexed_image.hpp"

namespace {

using artgen::IndexedImage;

artgen::Palette testPalette() {
    artgen::Palette pal{};
    for (int i = 0; i < 16; ++i)
        pal[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i * 16),
                                            static_cast<std::uint8_t>(255 - i * 8),
                                            static_cast<std::uint8_t>(i * 3 + 1)};
    return pal;
}

// Every pixel different from its neighbours, so a swapped nibble or row shows.
IndexedImage pattern(int w, int h) {
    IndexedImage img(w, h, testPalette());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.set(x, y, static_cast<std::uint8_t>((x * 7 + y * 3 + x * y) % 16));
    return img;
}

void expectSamePixels(const IndexedImage& img, const rkvtest::Picture4& p) {
    ASSERT_EQ(p.width, img.width);
    ASSERT_EQ(p.height, img.height);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            ASSERT_EQ(p.at(x, y), img.at(x, y)) << "pixel " << x << "," << y;
    ASSERT_EQ(p.palette.size(), 16u);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(p.palette[i].r, img.palette[i].r);
        EXPECT_EQ(p.palette[i].g, img.palette[i].g);
        EXPECT_EQ(p.palette[i].b, img.palette[i].b);
    }
}

class Bmp4RoundTrip : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Bmp4RoundTrip, ReadsBackTheSamePixelsWithZeroPadding) {
    const auto [w, h] = GetParam();
    const IndexedImage img = pattern(w, h);
    const rkvtest::Bytes file = artgen::encodeBmp4(img);
    const std::size_t stride = (static_cast<std::size_t>(w) + 7) / 8 * 4;
    ASSERT_EQ(file.size(), 118 + stride * static_cast<std::size_t>(h));
    EXPECT_EQ(rkvtest::u32At(file, 2), file.size());
    EXPECT_EQ(rkvtest::u32At(file, 34), stride * static_cast<std::size_t>(h));
    const rkvtest::Picture4 p = rkvtest::decodeBmp4(file);
    expectSamePixels(img, p);
    EXPECT_TRUE(p.padBytesZero);
    EXPECT_TRUE(p.padNibbleZero);
}

INSTANTIATE_TEST_SUITE_P(OddAndEvenSizes, Bmp4RoundTrip,
                         ::testing::Values(std::pair{7, 3}, std::pair{13, 41}, std::pair{1, 1},
                                           std::pair{8, 2}, std::pair{9, 5}, std::pair{192, 80}));

TEST(Ico4Writer, OddSizedIconKeepsPixelsAndMask) {
    const IndexedImage img = pattern(13, 41);
    std::vector<std::uint8_t> hidden(13 * 41, 0);
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 13; ++x)
            if ((x + 2 * y) % 5 == 0) hidden[static_cast<std::size_t>(y * 13 + x)] = 1;
    const rkvtest::Bytes f = artgen::encodeIco4(img, hidden);
    const std::size_t xorBytes = 8 * 41;
    const std::size_t andBytes = 4 * 41;
    ASSERT_EQ(f.size(), 22 + 40 + 64 + xorBytes + andBytes);
    EXPECT_EQ(f[6], 13);
    EXPECT_EQ(f[7], 41);
    EXPECT_EQ(rkvtest::u32At(f, 14), f.size() - 22);
    EXPECT_EQ(rkvtest::s32At(f, 22 + 8), 82);
    const rkvtest::Picture4 p = rkvtest::decodeIco4(f);
    ASSERT_EQ(p.width, 13);
    ASSERT_EQ(p.height, 41);
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 13; ++x) {
            const bool isHidden = hidden[static_cast<std::size_t>(y * 13 + x)] != 0;
            ASSERT_EQ(p.see[static_cast<std::size_t>(y * 13 + x)], !isHidden) << x << "," << y;
            ASSERT_EQ(p.at(x, y), isHidden ? 0 : img.at(x, y)) << x << "," << y;
        }
    EXPECT_TRUE(p.padBytesZero);
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

} // namespace
