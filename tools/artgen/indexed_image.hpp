// A 16-colour picture and the two file formats we store such pictures in: an uncompressed
// 4-bit bottom-up BMP and a single-image 4-bit ICO.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace artgen {

struct Rgb {
    std::uint8_t r, g, b;
};

using Palette = std::array<Rgb, 16>;

struct IndexedImage {
    IndexedImage(int w, int h, const Palette& pal)
        : width(w), height(h), palette(pal),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0) {}

    int width;
    int height;
    Palette palette;
    std::vector<std::uint8_t> pixels; // palette indices, row-major from the top-left

    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    std::uint8_t at(int x, int y) const { return pixels[index(x, y)]; }
    // Out-of-range writes are dropped, so drawing code can overhang the edges.
    void set(int x, int y, std::uint8_t colour) {
        if (contains(x, y)) pixels[index(x, y)] = colour & 0x0F;
    }
    void fillRect(int x, int y, int w, int h, std::uint8_t colour) {
        for (int yy = y; yy < y + h; ++yy)
            for (int xx = x; xx < x + w; ++xx)
                set(xx, yy, colour);
    }

  private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x);
    }
};

// Bytes per stored row of a 4-bit bitmap: two pixels a byte, padded to a multiple of 4.
constexpr std::size_t rowStride4(int width) {
    return (static_cast<std::size_t>(width) * 4 + 31) / 32 * 4;
}

// Bytes per stored row of a 1-bit mask, padded to a multiple of 4.
constexpr std::size_t rowStride1(int width) {
    return (static_cast<std::size_t>(width) + 31) / 32 * 4;
}

// The pixel rows bottom-up, the left pixel of each pair in the high nibble, pad bytes zero.
std::vector<std::uint8_t> packRows4(const IndexedImage& image);

// A complete .bmp file: file header, BITMAPINFOHEADER, 16-entry palette, packRows4 pixels.
std::vector<std::uint8_t> encodeBmp4(const IndexedImage& image);

// A complete .ico file with one 16-colour image. `transparent` has one entry per pixel
// (row-major from the top-left); non-zero marks a pixel as see-through in the AND mask.
std::vector<std::uint8_t> encodeIco4(const IndexedImage& image,
                                     const std::vector<std::uint8_t>& transparent);

// The same picture as a scalable SVG: one square per pixel (runs of a colour merged), so it
// stays pixel-sharp at any size. `transparent` as for encodeIco4.
std::vector<std::uint8_t> encodeSvg(const IndexedImage& image,
                                    const std::vector<std::uint8_t>& transparent);

} // namespace artgen
