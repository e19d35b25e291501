// The committed title picture and icon: exact file layout, button faces, see-through corners.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "file_bytes.hpp"

namespace {

using rkvtest::Bytes;
using rkvtest::Picture4;
using rkvtest::s32At;
using rkvtest::u16At;
using rkvtest::u32At;

Bytes loadResource(const char* file) {
    return rkvtest::readFile(std::string(RKV_RESOURCE_DIR) + "/" + file);
}

constexpr int kFaceW = 48;
constexpr int kFaceH = 32;
constexpr int kStripTop = 48;

TEST(TitleBitmap, IsAnUncompressedBottomUp4BitBmpOf192By80) {
    const Bytes f = loadResource("title.bmp");
    ASSERT_GE(f.size(), 118u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(u32At(f, 2), f.size());
    EXPECT_EQ(u32At(f, 6), 0u);
    EXPECT_EQ(u32At(f, 10), 14u + 40u + 64u); // pixels right after the 16-entry palette
    EXPECT_EQ(u32At(f, 14), 40u);             // BITMAPINFOHEADER
    EXPECT_EQ(s32At(f, 18), 192);
    EXPECT_EQ(s32At(f, 22), 80); // positive: bottom-up
    EXPECT_EQ(u16At(f, 26), 1u);
    EXPECT_EQ(u16At(f, 28), 4u);
    EXPECT_EQ(u32At(f, 30), 0u); // BI_RGB
    const std::uint32_t used = u32At(f, 46);
    EXPECT_TRUE(used == 0 || used == 16);
    EXPECT_EQ(f.size(), 118u + 96u * 80u);
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_EQ(f[54 + 4 * i + 3], 0) << "palette entry " << i;
}

// One picture decode shared by the face tests.
const Picture4& title() {
    static const Picture4 p = rkvtest::decodeBmp4(loadResource("title.bmp"));
    return p;
}

TEST(TitleBitmap, EachButtonFaceIsRaisedWithLightTopLeftAndDarkBottomRight) {
    const Picture4& p = title();
    ASSERT_EQ(p.width, 192);
    ASSERT_EQ(p.height, 80);
    for (int face = 0; face < 4; ++face) {
        SCOPED_TRACE("face " + std::to_string(face));
        const int x0 = face * kFaceW;
        const int x1 = x0 + kFaceW - 1;
        const int y0 = kStripTop;
        const int y1 = y0 + kFaceH - 1;
        const double body = p.colour(x0 + 3, y0 + 3).brightness();
        // The light edge: top row and left column, short of the dark corners.
        for (int x = x0; x < x1; ++x) {
            EXPECT_GE(p.colour(x, y0).brightness(), 200.0) << "top edge x=" << x;
            EXPECT_GT(p.colour(x, y0).brightness(), body) << "top edge x=" << x;
        }
        for (int y = y0; y < y1; ++y) {
            EXPECT_GE(p.colour(x0, y).brightness(), 200.0) << "left edge y=" << y;
            EXPECT_GT(p.colour(x0, y).brightness(), body) << "left edge y=" << y;
        }
        // The dark edge: right column and bottom row, corners included.
        for (int y = y0; y <= y1; ++y) {
            EXPECT_LE(p.colour(x1, y).brightness(), 100.0) << "right edge y=" << y;
            EXPECT_LT(p.colour(x1, y).brightness(), body) << "right edge y=" << y;
        }
        for (int x = x0; x <= x1; ++x) {
            EXPECT_LE(p.colour(x, y1).brightness(), 100.0) << "bottom edge x=" << x;
            EXPECT_LT(p.colour(x, y1).brightness(), body) << "bottom edge x=" << x;
        }
    }
}

TEST(TitleBitmap, EachFaceCarriesItsOwnCentredPictogram) {
    const Picture4& p = title();
    std::vector<std::set<std::pair<int, int>>> marks(4);
    for (int face = 0; face < 4; ++face) {
        const int x0 = face * kFaceW;
        const int body = p.at(x0 + 3, kStripTop + 3);
        int sumX = 0;
        int sumY = 0;
        for (int y = 3; y < kFaceH - 3; ++y)
            for (int x = 3; x < kFaceW - 3; ++x)
                if (p.at(x0 + x, kStripTop + y) != body) {
                    marks[face].insert({x, y});
                    sumX += x;
                    sumY += y;
                }
        const int count = static_cast<int>(marks[face].size());
        ASSERT_GT(count, 80) << "face " << face << " has no clear pictogram";
        EXPECT_NEAR(sumX / static_cast<double>(count), kFaceW / 2.0, 4.0) << "face " << face;
        EXPECT_NEAR(sumY / static_cast<double>(count), kFaceH / 2.0, 4.0) << "face " << face;
    }
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
            EXPECT_NE(marks[a], marks[b]) << "faces " << a << " and " << b << " look alike";
}

TEST(TitleBitmap, BannerIsColourfulArtworkNotABlankFill) {
    const Picture4& p = title();
    std::set<int> used;
    for (int y = 0; y < kStripTop; ++y)
        for (int x = 0; x < p.width; ++x)
            used.insert(p.at(x, y));
    EXPECT_GE(used.size(), 8u);
}

TEST(WindowIcon, IsOne32By32SixteenColourIconWithAndMask) {
    const Bytes f = loadResource("icon.ico");
    ASSERT_EQ(f.size(), 6u + 16u + 40u + 64u + 16u * 32u + 4u * 32u);
    EXPECT_EQ(u16At(f, 0), 0u);
    EXPECT_EQ(u16At(f, 2), 1u); // icon, not cursor
    EXPECT_EQ(u16At(f, 4), 1u); // one image
    EXPECT_EQ(f[6], 32);
    EXPECT_EQ(f[7], 32);
    EXPECT_EQ(f[8], 16);
    EXPECT_EQ(f[9], 0);
    EXPECT_EQ(u16At(f, 10), 1u);
    EXPECT_EQ(u16At(f, 12), 4u);
    EXPECT_EQ(u32At(f, 14), f.size() - 22);
    EXPECT_EQ(u32At(f, 18), 22u);
    EXPECT_EQ(u32At(f, 22), 40u);
    EXPECT_EQ(s32At(f, 26), 32);
    EXPECT_EQ(s32At(f, 30), 64); // colour bitmap and mask together
    EXPECT_EQ(u16At(f, 34), 1u);
    EXPECT_EQ(u16At(f, 36), 4u);
    EXPECT_EQ(u32At(f, 38), 0u);
}

TEST(WindowIcon, CornersAreSeeThroughAndTheMiddleIsDrawn) {
    const Picture4 p = rkvtest::decodeIco4(loadResource("icon.ico"));
    ASSERT_EQ(p.width, 32);
    ASSERT_EQ(p.height, 32);
    for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}}) {
        EXPECT_FALSE(p.see[static_cast<std::size_t>(y * 32 + x)]) << x << "," << y;
        EXPECT_EQ(p.at(x, y), 0) << "hidden pixels must be black in the colour bitmap";
    }
    int drawn = 0;
    std::set<int> used;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (p.see[static_cast<std::size_t>(y * 32 + x)]) {
                ++drawn;
                used.insert(p.at(x, y));
            }
    EXPECT_GT(drawn, 32 * 32 * 9 / 10);
    EXPECT_GE(used.size(), 5u);
}

TEST(WindowIcon, SharesThePicturesPalette) {
    const Picture4 icon = rkvtest::decodeIco4(loadResource("icon.ico"));
    const Picture4& pic = title();
    ASSERT_EQ(icon.palette.size(), pic.palette.size());
    for (std::size_t i = 0; i < icon.palette.size(); ++i) {
        EXPECT_EQ(icon.palette[i].r, pic.palette[i].r) << i;
        EXPECT_EQ(icon.palette[i].g, pic.palette[i].g) << i;
        EXPECT_EQ(icon.palette[i].b, pic.palette[i].b) << i;
    }
}

} // namespace
