// The player's artwork: the title picture with its four button faces, and the window icon.
#pragma once

#include <cstdint>
#include <vector>

#include "indexed_image.hpp"

namespace artgen {

constexpr int kTitleWidth = 192;
constexpr int kTitleHeight = 80;
constexpr int kBannerHeight = 48; // rows above the button strip
constexpr int kFaceWidth = 48;
constexpr int kFaceHeight = 32;
constexpr int kIconSize = 32;

// Palette slots the faces are built from.
namespace colour {
constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kNight = 1;
constexpr std::uint8_t kNavy = 2;
constexpr std::uint8_t kIndigo = 3;
constexpr std::uint8_t kViolet = 4;
constexpr std::uint8_t kBlue = 5;
constexpr std::uint8_t kSky = 6;
constexpr std::uint8_t kWhite = 7;
constexpr std::uint8_t kFace = 8;
constexpr std::uint8_t kShade = 9;
constexpr std::uint8_t kDark = 10;
constexpr std::uint8_t kGold = 11;
constexpr std::uint8_t kYellow = 12;
constexpr std::uint8_t kRed = 13;
constexpr std::uint8_t kGreen = 14;
constexpr std::uint8_t kPink = 15;
} // namespace colour

const Palette& artPalette();

// 192x80: banner with the player's name in rows 0-47, button faces in rows 48-79.
IndexedImage drawTitle();

// 32x32 icon picture, and which of its pixels are see-through (one entry per pixel).
IndexedImage drawIcon();
std::vector<std::uint8_t> iconTransparency();

} // namespace artgen
