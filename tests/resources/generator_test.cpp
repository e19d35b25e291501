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

// Every pixel different from its neighbours, so a swapped nibble or row shows; every palette
// entry different in each channel, so swapped channels or entries show.
IndexedImage pattern(int w, int h) {
    artgen::Palette pal{};
    for (int i = 0; i < 16; ++i)
        pal[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i * 16),
                                            static_cast<std::uint8_t>(255 - i * 8),
                                            static_cast<std::uint8_t>(i * 3 + 1)};
    IndexedImage img(w, h, pal);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.set(x, y, static_cast<std::uint8_t>((x * 7 + y * 3 + x * y) % 16));
    return img;
}

// The picture read back, with zero padding; `hidden` (an icon's mask, empty for a bitmap)
// marks the pixels that must be masked and black.
void expectSamePicture(const IndexedImage& img, const rkvtest::Picture4& p,
                       const std::vector<std::uint8_t>& hidden) {
    EXPECT_EQ(p.width, img.width);
    EXPECT_EQ(p.height, img.height);
    std::vector<int> index;
    std::vector<bool> see;
    for (std::size_t i = 0; i < img.pixels.size(); ++i) {
        const bool isHidden = !hidden.empty() && hidden[i] != 0;
        index.push_back(isHidden ? 0 : img.pixels[i]);
        if (!hidden.empty()) see.push_back(!isHidden);
    }
    EXPECT_EQ(p.index, index);
    EXPECT_EQ(p.see, see);
    std::vector<rkvtest::Colour> palette;
    for (const artgen::Rgb c : img.palette)
        palette.push_back({c.r, c.g, c.b});
    EXPECT_EQ(p.palette, palette);
    EXPECT_TRUE(p.padBytesZero);
    EXPECT_TRUE(p.padNibbleZero);
}

class Writers4 : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Writers4, BmpAndIcoReadBackTheSamePicture) {
    const auto [w, h] = GetParam();
    const IndexedImage img = pattern(w, h);
    const rkvtest::Bytes bmp = artgen::encodeBmp4(img);
    ASSERT_NO_FATAL_FAILURE(rkvtest::expectBmp4Header(bmp, w, h));
    expectSamePicture(img, rkvtest::decodeBmp4(bmp), {});

    std::vector<std::uint8_t> hidden;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            hidden.push_back((x + 2 * y) % 5 == 0);
    const rkvtest::Bytes ico = artgen::encodeIco4(img, hidden);
    ASSERT_NO_FATAL_FAILURE(rkvtest::expectIco4Header(ico, w, h));
    expectSamePicture(img, rkvtest::decodeIco4(ico), hidden);
}

INSTANTIATE_TEST_SUITE_P(OddAndEvenSizes, Writers4,
                         ::testing::Values(std::pair{7, 3}, std::pair{13, 41}, std::pair{1, 1},
                                           std::pair{8, 2}, std::pair{9, 5}, std::pair{192, 80}));

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
