// Test-side readers for the resource files. They are written from the file formats alone and
// share no code with the generators, so a fault in a writer cannot hide itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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

inline std::string tagAt(const Bytes& b, std::size_t at) {
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

struct Colour {
    int r, g, b;
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
    const std::uint32_t used = u32At(b, info + 32);
    const std::size_t colours = used == 0 ? 16 : used;
    const std::size_t paletteAt = info + u32At(b, info);
    for (std::size_t i = 0; i < colours; ++i)
        p.palette.push_back(
            {b.at(paletteAt + 4 * i + 2), b.at(paletteAt + 4 * i + 1), b.at(paletteAt + 4 * i)});
    const std::size_t stride = (static_cast<std::size_t>(p.width) * 4 + 31) / 32 * 4;
    p.index.assign(static_cast<std::size_t>(p.width * p.height), 0);
    for (int y = 0; y < p.height; ++y) {
        // Stored bottom-up: the last row of the picture comes first.
        const std::size_t row = pixels + static_cast<std::size_t>(p.height - 1 - y) * stride;
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t byte = b.at(row + static_cast<std::size_t>(x) / 2);
            p.index[static_cast<std::size_t>(y * p.width + x)] =
                (x % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        }
        const std::size_t used = (static_cast<std::size_t>(p.width) + 1) / 2;
        for (std::size_t k = used; k < stride; ++k)
            if (b.at(row + k) != 0) p.padBytesZero = false;
        if (p.width % 2 == 1 && (b.at(row + used - 1) & 0x0F) != 0) p.padNibbleZero = false;
    }
    if (withMask) {
        const std::size_t maskAt = pixels + stride * static_cast<std::size_t>(p.height);
        const std::size_t maskStride = (static_cast<std::size_t>(p.width) + 31) / 32 * 4;
        p.see.assign(static_cast<std::size_t>(p.width * p.height), true);
        for (int y = 0; y < p.height; ++y) {
            const std::size_t row =
                maskAt + static_cast<std::size_t>(p.height - 1 - y) * maskStride;
            for (int x = 0; x < p.width; ++x) {
                const bool hidden =
                    (b.at(row + static_cast<std::size_t>(x) / 8) >> (7 - x % 8)) & 1;
                p.see[static_cast<std::size_t>(y * p.width + x)] = !hidden;
            }
        }
    }
    return p;
}

inline Picture4 decodeBmp4(const Bytes& b) {
    return decodeDib4(b, 14, u32At(b, 10), s32At(b, 22), false);
}

inline Picture4 decodeIco4(const Bytes& b) {
    const std::size_t info = u32At(b, 6 + 12);
    const int rows = s32At(b, info + 8) / 2;
    const std::size_t pixels = info + u32At(b, info) + 16 * 4;
    return decodeDib4(b, info, pixels, rows, true);
}

} // namespace rkvtest
