// Test-side readers for the resource files. They are written from the file formats alone and
// share no code with the generators, so a fault in a writer cannot hide itself.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rkvtest {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t u16At(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8;
}

inline std::uint32_t u32At(const Bytes& b, std::size_t at) {
    return u16At(b, at) | u16At(b, at + 2) << 16;
}

inline std::int32_t s32At(const Bytes& b, std::size_t at) {
    return static_cast<std::int32_t>(u32At(b, at));
}

struct Colour {
    int r, g, b;
    bool operator==(const Colour&) const = default;
    double brightness() const { return 0.299 * r + 0.587 * g + 0.114 * b; }
};

// A decoded 4-bit DIB: palette indices top-down, as the picture is seen.
struct Picture4 {
    int width = 0;
    int height = 0;
    std::vector<Colour> palette;
    std::vector<int> index;    // width * height, row-major from the top-left
    std::vector<bool> see;     // ICO only: false where the AND mask hides the pixel
    bool padBytesZero = true;  // every byte past the last pixel of each row is zero
    bool padNibbleZero = true; // an odd width leaves the low nibble of the last byte zero

    int at(int x, int y) const { return index.at(static_cast<std::size_t>(y * width + x)); }
    Colour colour(int x, int y) const { return palette.at(static_cast<std::size_t>(at(x, y))); }
};

// Decodes a BITMAPINFOHEADER-based 4-bit DIB that starts at `info`, with its pixels at
// `pixels`. `rows` is the number of colour rows (for an icon: half the stored height), and
// `withMask` reads the 1-bit AND mask that follows an icon's colour rows.
inline Picture4 decodeDib4(const Bytes& b, std::size_t info, std::size_t pixels, int rows,
                           bool withMask) {
    Picture4 p;
    p.width = s32At(b, info + 4);
    p.height = rows;
    const auto w = static_cast<std::size_t>(p.width);
    const auto h = static_cast<std::size_t>(rows);
    const std::uint32_t used = u32At(b, info + 32);
    const std::size_t paletteAt = info + u32At(b, info);
    for (std::size_t i = 0; i < (used == 0 ? 16 : used); ++i)
        p.palette.push_back(
            {b.at(paletteAt + 4 * i + 2), b.at(paletteAt + 4 * i + 1), b.at(paletteAt + 4 * i)});
    // Rows are padded to 4 bytes and stored bottom-up: the last row of the picture comes first.
    const std::size_t stride = (w * 4 + 31) / 32 * 4;
    const std::size_t maskStride = (w + 31) / 32 * 4;
    for (std::size_t y = 0; y < h; ++y) {
        const std::size_t row = pixels + (h - 1 - y) * stride;
        const std::size_t maskRow = pixels + h * stride + (h - 1 - y) * maskStride;
        for (std::size_t x = 0; x < w; ++x) {
            const int byte = b.at(row + x / 2);
            p.index.push_back(x % 2 == 0 ? byte >> 4 : byte & 0x0F);
            if (withMask) p.see.push_back(((b.at(maskRow + x / 8) >> (7 - x % 8)) & 1) == 0);
        }
        for (std::size_t k = (w + 1) / 2; k < stride; ++k)
            p.padBytesZero = p.padBytesZero && b.at(row + k) == 0;
        if (w % 2 == 1 && (b.at(row + w / 2) & 0x0F) != 0) p.padNibbleZero = false;
    }
    return p;
}

inline Picture4 decodeBmp4(const Bytes& b) {
    return decodeDib4(b, 14, u32At(b, 10), s32At(b, 22), false);
}

inline Picture4 decodeIco4(const Bytes& b) {
    const std::size_t info = u32At(b, 6 + 12);
    const std::size_t pixels = info + u32At(b, info) + 16 * 4;
    return decodeDib4(b, info, pixels, s32At(b, info + 8) / 2, true);
}

// The headers of an uncompressed bottom-up 4-bit BMP of w x h, its 16 colours before the pixels.
inline void expectBmp4Header(const Bytes& f, int w, int h) {
    const std::size_t pixelBytes =
        (static_cast<std::size_t>(w) + 7) / 8 * 4 * static_cast<std::size_t>(h);
    ASSERT_EQ(f.size(), 118 + pixelBytes);
    EXPECT_TRUE(f[0] == 'B' && f[1] == 'M');
    EXPECT_EQ(u32At(f, 2), f.size());
    EXPECT_EQ(u32At(f, 10), 118u); // pixels right after the 16-entry palette
    EXPECT_EQ(u32At(f, 14), 40u);
    EXPECT_EQ(s32At(f, 18), w);
    EXPECT_EQ(s32At(f, 22), h); // positive: bottom-up
    EXPECT_EQ(u16At(f, 28), 4u);
    EXPECT_EQ(u32At(f, 30), 0u); // uncompressed
    EXPECT_EQ(u32At(f, 34), pixelBytes);
}

// The headers of an icon file holding one 4-bit w x h image: colour rows, then the 1-bit mask.
inline void expectIco4Header(const Bytes& f, int w, int h) {
    const auto width = static_cast<std::size_t>(w);
    const std::size_t rowBytes = (width + 7) / 8 * 4 + (width + 31) / 32 * 4;
    ASSERT_EQ(f.size(), 6 + 16 + 40 + 64 + rowBytes * static_cast<std::size_t>(h));
    EXPECT_EQ(u16At(f, 2), 1u); // icon, not cursor
    EXPECT_EQ(u16At(f, 4), 1u); // one image
    EXPECT_EQ(f[6], w);
    EXPECT_EQ(f[7], h);
    EXPECT_EQ(f[8], 16);
    EXPECT_EQ(u32At(f, 14), f.size() - 22);
    EXPECT_EQ(u32At(f, 18), 22u);
    EXPECT_EQ(s32At(f, 30), 2 * h); // colour bitmap and mask together
}

} // namespace rkvtest
