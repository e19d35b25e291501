#include "indexed_image.hpp"

#include <cstdio>
#include <string>

namespace artgen {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kPaletteSize = 16 * 4;

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

void putInfoHeader(std::vector<std::uint8_t>& out, int width, int storedHeight,
                   std::size_t imageSize) {
    put32(out, kInfoHeaderSize);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(storedHeight)); // positive: rows run bottom-up
    put16(out, 1);                                        // planes
    put16(out, 4);                                        // bits per pixel
    put32(out, 0);                                        // no compression
    put32(out, static_cast<std::uint32_t>(imageSize));
    put32(out, 2835); // 72 dpi, in pixels per metre
    put32(out, 2835);
    put32(out, 16); // colours used
    put32(out, 0);  // all colours important
}

void putPalette(std::vector<std::uint8_t>& out, const Palette& palette) {
    for (const Rgb& c : palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
}

} // namespace

std::vector<std::uint8_t> packRows4(const IndexedImage& image) {
    const std::size_t stride = rowStride4(image.width);
    std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(image.height), 0);
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = rows.data() + static_cast<std::size_t>(image.height - 1 - y) * stride;
        for (int x = 0; x < image.width; ++x) {
            const auto colour = static_cast<std::uint8_t>(image.at(x, y) & 0x0F);
            std::uint8_t& byte = row[x / 2];
            // Even columns take the high nibble: the leftmost pixel comes first.
            byte = (x % 2 == 0) ? static_cast<std::uint8_t>((byte & 0x0F) | (colour << 4))
                                : static_cast<std::uint8_t>((byte & 0xF0) | colour);
        }
    }
    return rows;
}

std::vector<std::uint8_t> encodeBmp4(const IndexedImage& image) {
    const std::vector<std::uint8_t> rows = packRows4(image);
    const std::size_t offset = kFileHeaderSize + kInfoHeaderSize + kPaletteSize;
    std::vector<std::uint8_t> out;
    out.reserve(offset + rows.size());
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<std::uint32_t>(offset + rows.size()));
    put16(out, 0);
    put16(out, 0);
    put32(out, static_cast<std::uint32_t>(offset));
    putInfoHeader(out, image.width, image.height, rows.size());
    putPalette(out, image.palette);
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

std::vector<std::uint8_t> encodeIco4(const IndexedImage& image,
                                     const std::vector<std::uint8_t>& transparent) {
    // See-through pixels are black in the colour bitmap, so they vanish when XORed on screen.
    IndexedImage colours = image;
    const std::size_t maskStride = rowStride1(image.width);
    std::vector<std::uint8_t> mask(maskStride * static_cast<std::size_t>(image.height), 0);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * image.width + x;
            if (i >= transparent.size() || !transparent[i]) continue;
            colours.set(x, y, 0);
            const std::size_t row = static_cast<std::size_t>(image.height - 1 - y);
            mask[row * maskStride + static_cast<std::size_t>(x / 8)] |=
                static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    }
    const std::vector<std::uint8_t> rows = packRows4(colours);
    const std::size_t imageBytes = kInfoHeaderSize + kPaletteSize + rows.size() + mask.size();
    constexpr std::size_t kDirSize = 6 + 16;

    std::vector<std::uint8_t> out;
    out.reserve(kDirSize + imageBytes);
    put16(out, 0); // reserved
    put16(out, 1); // icon
    put16(out, 1); // one image
    // A dimension of 256 is stored as 0.
    out.push_back(static_cast<std::uint8_t>(image.width & 0xFF));
    out.push_back(static_cast<std::uint8_t>(image.height & 0xFF));
    out.push_back(16); // colours
    out.push_back(0);  // reserved
    put16(out, 1);     // planes
    put16(out, 4);     // bits per pixel
    put32(out, static_cast<std::uint32_t>(imageBytes));
    put32(out, static_cast<std::uint32_t>(kDirSize));
    // The stored height counts the colour bitmap and the mask together.
    putInfoHeader(out, image.width, image.height * 2, rows.size() + mask.size());
    putPalette(out, image.palette);
    out.insert(out.end(), rows.begin(), rows.end());
    out.insert(out.end(), mask.begin(), mask.end());
    return out;
}

std::vector<std::uint8_t> encodeSvg(const IndexedImage& image,
                                    const std::vector<std::uint8_t>& transparent) {
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(image.width) + "\" height=\"" + std::to_string(image.height) +
                      "\" viewBox=\"0 0 " + std::to_string(image.width) + " " +
                      std::to_string(image.height) + "\" shape-rendering=\"crispEdges\">\n";
    const auto see = [&](int x, int y) {
        return transparent[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                           static_cast<std::size_t>(x)] != 0;
    };
    char colour[8];
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width;) {
            int end = x + 1;
            while (end < image.width && !see(end, y) && image.at(end, y) == image.at(x, y))
                ++end;
            if (!see(x, y)) {
                const Rgb c = image.palette[image.at(x, y)];
                std::snprintf(colour, sizeof colour, "#%02X%02X%02X", c.r, c.g, c.b);
                svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
                       "\" width=\"" + std::to_string(end - x) + "\" height=\"1\" fill=\"" +
                       colour + "\"/>\n";
            }
            x = end;
        }
    }
    svg += "</svg>\n";
    return {svg.begin(), svg.end()};
}

} // namespace artgen
