#include "artwork.hpp"

#include <array>
#include <string_view>

namespace artgen {
namespace {

using namespace colour;

// ---- Pixel font -------------------------------------------------------------------------
// Our own 9-row font: rows 0-6 above the baseline, rows 7-8 for descenders. '#' is ink.
struct Glyph {
    char ch;
    std::array<std::string_view, 9> rows;
};

constexpr std::array<Glyph, 13> kFont{{
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", ".....", "....."}},
    {'u', {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#", ".....", "....."}},
    {'v', {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#..", ".....", "....."}},
    {'i', {".#.", "...", "##.", ".#.", ".#.", ".#.", "###", "...", "..."}},
    {'m', {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#", ".....", "....."}},
    {'o', {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###.", ".....", "....."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#....", ".....", "....."}},
    {'l', {"##.", ".#.", ".#.", ".#.", ".#.", ".#.", "###", "...", "..."}},
    {'a', {".....", ".....", ".###.", "....#", ".####", "#...#", ".####", ".....", "....."}},
    {'y', {".....", ".....", "#...#", "#...#", "#...#", "#...#", ".####", "....#", ".###."}},
    {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###.", ".....", "....."}},
    {'r', {".....", ".....", "#.##.", "##..#", "#....", "#....", "#....", ".....", "....."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####", ".....", "....."}},
}};

const Glyph* findGlyph(char ch) {
    for (const Glyph& g : kFont)
        if (g.ch == ch) return &g;
    return nullptr;
}

// A pair of beamed eighth notes, the banner's musical motif.
constexpr std::array<std::string_view, 10> kNotes{
    "...#######", "...#######", "...#.....#", "...#.....#", "...#.....#",
    "...#.....#", ".###...###", "####..####", "####..####", ".##....##.",
};

// A one-bit mask the size of the picture, for shapes that get an outline.
class Mask {
  public:
    Mask(int w, int h) : w_(w), h_(h), bits_(static_cast<std::size_t>(w) * h, 0) {}
    void set(int x, int y) {
        if (x >= 0 && y >= 0 && x < w_ && y < h_) bits_[static_cast<std::size_t>(y) * w_ + x] = 1;
    }
    bool get(int x, int y) const {
        return x >= 0 && y >= 0 && x < w_ && y < h_ && bits_[static_cast<std::size_t>(y) * w_ + x];
    }
    int width() const { return w_; }
    int height() const { return h_; }

  private:
    int w_, h_;
    std::vector<std::uint8_t> bits_;
};

// Paints the mask's pixels in `fill`, and a one-pixel ring around them (8-neighbourhood).
void paintOutlined(IndexedImage& img, const Mask& m, std::uint8_t fill, std::uint8_t outline) {
    for (int y = 0; y < m.height(); ++y)
        for (int x = 0; x < m.width(); ++x) {
            if (m.get(x, y)) continue;
            bool edge = false;
            for (int dy = -1; dy <= 1 && !edge; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (m.get(x + dx, y + dy)) edge = true;
            if (edge) img.set(x, y, outline);
        }
    for (int y = 0; y < m.height(); ++y)
        for (int x = 0; x < m.width(); ++x)
            if (m.get(x, y)) img.set(x, y, fill);
}

// Fills the triangle (a, b, c) by testing each pixel centre; edges are inclusive.
void maskTriangle(Mask& m, double ax, double ay, double bx, double by, double cx, double cy) {
    auto side = [](double px, double py, double x0, double y0, double x1, double y1) {
        return (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0);
    };
    for (int y = 0; y < m.height(); ++y)
        for (int x = 0; x < m.width(); ++x) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            const double d0 = side(px, py, ax, ay, bx, by);
            const double d1 = side(px, py, bx, by, cx, cy);
            const double d2 = side(px, py, cx, cy, ax, ay);
            const bool neg = d0 < 0 || d1 < 0 || d2 < 0;
            const bool pos = d0 > 0 || d1 > 0 || d2 > 0;
            if (!(neg && pos)) m.set(x, y);
        }
}

void maskRect(Mask& m, int x, int y, int w, int h) {
    for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x + w; ++xx)
            m.set(xx, yy);
}

// 4x4 ordered dither threshold, 0..15.
constexpr std::array<std::array<int, 4>, 4> kBayer{{
    {0, 8, 2, 10},
    {12, 4, 14, 6},
    {3, 11, 1, 9},
    {15, 7, 13, 5},
}};

// Dithered blend along a ramp of palette colours; t runs from 0 (first) to 1 (last).
template <std::size_t N>
std::uint8_t ramp(const std::array<std::uint8_t, N>& steps, double t, int x, int y) {
    if (t <= 0) return steps.front();
    if (t >= 1) return steps.back();
    const double pos = t * static_cast<double>(N - 1);
    const auto i = static_cast<std::size_t>(pos);
    const double frac = pos - static_cast<double>(i);
    const double threshold = (kBayer[y & 3][x & 3] + 0.5) / 16.0;
    return frac > threshold ? steps[i + 1] : steps[i];
}

constexpr std::array<std::uint8_t, 4> kDusk{kNight, kNavy, kIndigo, kViolet};

// ---- Banner -----------------------------------------------------------------------------

int textWidth(std::string_view text, int scale) {
    int w = 0;
    for (char ch : text)
        if (const Glyph* g = findGlyph(ch)) w += static_cast<int>(g->rows[0].size()) + 1;
    return (w - 1) * scale;
}

void drawText(IndexedImage& img, std::string_view text, int x0, int y0, int scale) {
    Mask ink(img.width, img.height);
    Mask upper(img.width, img.height); // the top rows of each letter catch the light
    int x = x0;
    for (char ch : text) {
        const Glyph* g = findGlyph(ch);
        if (!g) continue;
        const int w = static_cast<int>(g->rows[0].size());
        for (int r = 0; r < 9; ++r)
            for (int c = 0; c < w; ++c) {
                if (g->rows[r][c] != '#') continue;
                for (int sy = 0; sy < scale; ++sy)
                    for (int sx = 0; sx < scale; ++sx) {
                        const int px = x + c * scale + sx;
                        const int py = y0 + r * scale + sy;
                        ink.set(px, py);
                        if (py < y0 + 3 * scale) upper.set(px, py);
                    }
            }
        x += (w + 1) * scale;
    }
    // Drop shadow first, then the outlined letters over it.
    for (int y = 0; y < img.height; ++y)
        for (int xx = 0; xx < img.width; ++xx)
            if (ink.get(xx - 2, y - 2)) img.set(xx, y, kBlack);
    paintOutlined(img, ink, kGold, kBlack);
    for (int y = 0; y < img.height; ++y)
        for (int xx = 0; xx < img.width; ++xx)
            if (upper.get(xx, y)) img.set(xx, y, kYellow);
}

void drawSprite(IndexedImage& img, const std::array<std::string_view, 10>& rows, int x0, int y0,
                std::uint8_t fill) {
    Mask m(img.width, img.height);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            if (rows[r][c] == '#') m.set(x0 + static_cast<int>(c), y0 + static_cast<int>(r));
    paintOutlined(img, m, fill, kBlack);
}

// A little step grid: four tracks of 32 steps, lit where a note plays, with the play head.
void drawStepGrid(IndexedImage& img, int x0, int y0) {
    constexpr std::array<std::string_view, 4> kPattern{
        "x...x..x....x.x.x...x..x..x.x...",
        "..x...x...x.....x.x...x...x...x.",
        "x.......x.......x.......x...x.x.",
        "x.x.x.x.x.x.x.x.x.x.x.x.x.x.xxxx",
    };
    constexpr std::array<std::uint8_t, 4> kTrackColour{kSky, kPink, kGreen, kGold};
    constexpr int kPlayHead = 12;
    for (int track = 0; track < 4; ++track)
        for (int step = 0; step < 32; ++step) {
            const bool lit = kPattern[track][step] == 'x';
            std::uint8_t c = lit ? kTrackColour[track] : kNavy;
            if (step == kPlayHead) c = lit ? kWhite : kBlue;
            img.fillRect(x0 + step * 5, y0 + track * 3, 4, 2, c);
        }
}

void drawBanner(IndexedImage& img) {
    for (int y = 0; y < kBannerHeight; ++y)
        for (int x = 0; x < kTitleWidth; ++x)
            img.set(x, y, ramp(kDusk, static_cast<double>(y) / (kBannerHeight - 1), x, y));
    // A scatter of stars from a fixed sequence, so the picture is the same every time.
    std::uint32_t seed = 0x2545F491u;
    for (int i = 0; i < 40; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int x = static_cast<int>((seed >> 8) % kTitleWidth);
        seed = seed * 1664525u + 1013904223u;
        const int y = static_cast<int>((seed >> 8) % 28);
        img.set(x, y, (i % 3 == 0) ? kWhite : kSky);
    }
    constexpr std::string_view kName = "TuvimoPlayer2";
    const int w = textWidth(kName, 2);
    const int textX = (kTitleWidth - w) / 2;
    drawText(img, kName, textX, 4, 2);
    drawSprite(img, kNotes, 5, 9, kSky);
    drawSprite(img, kNotes, kTitleWidth - 15, 9, kSky);
    drawStepGrid(img, (kTitleWidth - (32 * 5 - 1)) / 2, 31);
    // A dark line sets the banner off from the buttons.
    img.fillRect(0, kBannerHeight - 1, kTitleWidth, 1, kNight);
}

// ---- Button faces -----------------------------------------------------------------------

void drawFaceFrame(IndexedImage& img, int x0, int y0) {
    img.fillRect(x0, y0, kFaceWidth, kFaceHeight, kFace);
    // Raised look: light along the top and left, shadow along the right and bottom. The dark
    // edge owns the two corners where they meet.
    img.fillRect(x0, y0, kFaceWidth - 1, 1, kWhite);
    img.fillRect(x0, y0, 1, kFaceHeight - 1, kWhite);
    img.fillRect(x0 + 1, y0 + kFaceHeight - 2, kFaceWidth - 2, 1, kShade);
    img.fillRect(x0 + kFaceWidth - 2, y0 + 1, 1, kFaceHeight - 2, kShade);
    img.fillRect(x0 + kFaceWidth - 1, y0, 1, kFaceHeight, kDark);
    img.fillRect(x0, y0 + kFaceHeight - 1, kFaceWidth, 1, kDark);
}

void drawRewind(IndexedImage& img, int x0, int y0) {
    Mask m(img.width, img.height);
    const int cy = y0 + 15;
    maskRect(m, x0 + 13, cy - 7, 3, 15);
    maskTriangle(m, x0 + 16, cy + 0.5, x0 + 25, cy - 7, x0 + 25, cy + 8);
    maskTriangle(m, x0 + 25, cy + 0.5, x0 + 34, cy - 7, x0 + 34, cy + 8);
    paintOutlined(img, m, kBlue, kDark);
}

void drawPlay(IndexedImage& img, int x0, int y0) {
    Mask m(img.width, img.height);
    const int cy = y0 + 15;
    maskTriangle(m, x0 + 18, cy - 8, x0 + 18, cy + 9, x0 + 32, cy + 0.5);
    paintOutlined(img, m, kGreen, kDark);
}

void drawStop(IndexedImage& img, int x0, int y0) {
    Mask m(img.width, img.height);
    maskRect(m, x0 + 17, y0 + 9, 13, 13);
    paintOutlined(img, m, kRed, kDark);
}

void drawLoad(IndexedImage& img, int x0, int y0) {
    // Eject: an upward arrowhead over a bar.
    Mask m(img.width, img.height);
    maskTriangle(m, x0 + 14, y0 + 18, x0 + 34, y0 + 18, x0 + 24, y0 + 7);
    maskRect(m, x0 + 14, y0 + 21, 20, 3);
    paintOutlined(img, m, kGold, kDark);
}

} // namespace

const Palette& artPalette() {
    static const Palette palette{{
        {0, 0, 0},       // black
        {14, 18, 48},    // night
        {28, 40, 104},   // navy
        {72, 44, 136},   // indigo
        {132, 60, 168},  // violet
        {40, 96, 208},   // blue
        {112, 184, 248}, // sky
        {255, 255, 255}, // white
        {192, 192, 192}, // face
        {128, 128, 128}, // shade
        {56, 56, 64},    // dark
        {240, 160, 24},  // gold
        {255, 232, 112}, // yellow
        {216, 40, 48},   // red
        {40, 176, 72},   // green
        {240, 96, 168},  // pink
    }};
    return palette;
}

IndexedImage drawTitle() {
    IndexedImage img(kTitleWidth, kTitleHeight, artPalette());
    drawBanner(img);
    for (int i = 0; i < 4; ++i)
        drawFaceFrame(img, i * kFaceWidth, kBannerHeight);
    drawRewind(img, 0, kBannerHeight);
    drawPlay(img, kFaceWidth, kBannerHeight);
    drawStop(img, 2 * kFaceWidth, kBannerHeight);
    drawLoad(img, 3 * kFaceWidth, kBannerHeight);
    return img;
}

namespace {

// The icon's rounded square: corners cut on a radius of 5 pixels.
bool insideIcon(int x, int y) {
    constexpr int r = 5;
    const int cx = x < r ? r : (x > kIconSize - 1 - r ? kIconSize - 1 - r : x);
    const int cy = y < r ? r : (y > kIconSize - 1 - r ? kIconSize - 1 - r : y);
    const int dx = x - cx;
    const int dy = y - cy;
    return dx * dx + dy * dy <= r * r;
}

} // namespace

IndexedImage drawIcon() {
    IndexedImage img(kIconSize, kIconSize, artPalette());
    for (int y = 0; y < kIconSize; ++y)
        for (int x = 0; x < kIconSize; ++x)
            if (insideIcon(x, y)) img.set(x, y, ramp(kDusk, y / 31.0, x, y));
    // The banner's beamed notes at twice the size, in gold.
    Mask notes(kIconSize, kIconSize);
    for (std::size_t r = 0; r < kNotes.size(); ++r)
        for (std::size_t c = 0; c < kNotes[r].size(); ++c)
            if (kNotes[r][c] == '#')
                maskRect(notes, 6 + static_cast<int>(c) * 2, 4 + static_cast<int>(r) * 2, 2, 2);
    paintOutlined(img, notes, kGold, kBlack);
    for (int y = 4; y < 8; ++y)
        for (int x = 0; x < kIconSize; ++x)
            if (notes.get(x, y)) img.set(x, y, kYellow);
    // A row of step lights along the bottom.
    constexpr std::string_view kSteps = "x.x.xx.x";
    for (int i = 0; i < 8; ++i)
        img.fillRect(5 + i * 3, 27, 2, 2, kSteps[i] == 'x' ? kPink : kNavy);
    // Keep the corners see-through even where the outline overhangs them.
    for (int y = 0; y < kIconSize; ++y)
        for (int x = 0; x < kIconSize; ++x)
            if (!insideIcon(x, y)) img.set(x, y, kBlack);
    return img;
}

std::vector<std::uint8_t> iconTransparency() {
    std::vector<std::uint8_t> t(static_cast<std::size_t>(kIconSize) * kIconSize, 0);
    for (int y = 0; y < kIconSize; ++y)
        for (int x = 0; x < kIconSize; ++x)
            t[static_cast<std::size_t>(y) * kIconSize + x] = insideIcon(x, y) ? 0 : 1;
    return t;
}

} // namespace artgen
