// The committed resource files, read by the test's own decoders (no code shared with the
// generators), and the table built into the binaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "file_bytes.hpp"
#include "resources/builtin_resources.hpp"
#include "tests/common/song_writer.hpp"

namespace {

using rkvtest::Bytes;
using rkvtest::Picture4;

Bytes load(const std::string& file) {
    return rkv::test::readFile(std::string(RKV_RESOURCE_DIR) + "/" + file);
}

struct Drum {
    const char* name;
    std::uint32_t samples;
};

const Drum kDrums[] = {{"BASS1", 2016}, {"BASS2", 1897}, {"SNARE1", 3234},
                       {"HAT1", 15076}, {"HAT2", 738},   {"SYMBAL1", 15567}};

constexpr double kRate = 22050.0;

// A drum file's samples as signed values around the 128 midpoint; all but the samples must be
// as the fixed layout has them, an odd count's zero pad byte included.
std::vector<int> samplesOf(const Drum& d) {
    const Bytes f = load(std::string(d.name) + ".wav");
    Bytes layout = rkv::test::drumResource(d.samples, 0);
    if (f.size() != layout.size()) {
        ADD_FAILURE() << d.name << " has " << f.size() << " bytes, not " << layout.size();
        return std::vector<int>(d.samples);
    }
    std::copy(f.begin() + 58, f.begin() + 58 + d.samples, layout.begin() + 58);
    EXPECT_EQ(f, layout) << d.name;
    std::vector<int> s;
    for (std::size_t i = 0; i < d.samples; ++i)
        s.push_back(static_cast<int>(f[58 + i]) - 128);
    return s;
}

double rms(const std::vector<int>& s, double from, double to) {
    const auto a = static_cast<std::size_t>(from * kRate);
    const auto b = static_cast<std::size_t>(to * kRate);
    double sum = 0.0;
    for (std::size_t i = a; i < b; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(b - a));
}

double crossingsPerSecond(const std::vector<int>& s) {
    int last = 0;
    int count = 0;
    for (int v : s) {
        if (v == 0) continue;
        const int sign = v > 0 ? 1 : -1;
        count += last != 0 && sign != last;
        last = sign;
    }
    return count / (static_cast<double>(s.size()) / kRate);
}

TEST(DrumFiles, FixedLayoutCleanEdgesFullLevelNoDcOffsetAndEachSoundLivesUpToItsName) {
    std::vector<std::vector<int>> all;
    for (const Drum& d : kDrums) {
        SCOPED_TRACE(d.name);
        const std::vector<int>& s = all.emplace_back(samplesOf(d));
        EXPECT_EQ(s.front(), 0) << "starts with a click";
        EXPECT_EQ(s.back(), 0) << "ends with a click";
        for (std::size_t i = s.size() - 8; i < s.size(); ++i)
            EXPECT_LE(std::abs(s[i]), 2) << "sample " << i << " of the fade-out";
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        EXPECT_GT(*lo, -128) << "clipped";
        EXPECT_LT(*hi, 127) << "clipped";
        EXPECT_GE(std::max(-*lo, *hi), 100) << "too quiet";
        const double mean =
            std::accumulate(s.begin(), s.end(), 0.0) / static_cast<double>(s.size());
        EXPECT_LT(std::fabs(mean), 1.0) << "DC offset";
    }
    // Rough character checks without a spectrum: zero crossings tell low from bright sounds,
    // short-window levels tell a choked hat from an open one and a ringing cymbal.
    const auto &bass1 = all[0], &bass2 = all[1], &snare = all[2], &hat1 = all[3], &hat2 = all[4],
               &cymbal = all[5];
    EXPECT_LT(crossingsPerSecond(bass1), 400.0);
    EXPECT_LT(crossingsPerSecond(bass2), 400.0);
    for (const auto* bright : {&hat1, &hat2, &cymbal})
        EXPECT_GT(crossingsPerSecond(*bright), 8000.0);
    EXPECT_GT(crossingsPerSecond(snare), 1500.0);
    EXPECT_LT(crossingsPerSecond(snare), crossingsPerSecond(hat2));
    EXPECT_FALSE(std::equal(bass1.begin(), bass1.begin() + 1800, bass2.begin()))
        << "the two bass drums are one sound copied";
    // Closed hat choked within 25 ms; open hat still sounds at 200 ms.
    EXPECT_LT(rms(hat2, 0.025, 0.030), 0.1 * rms(hat2, 0, 0.005));
    EXPECT_GT(rms(hat1, 0.200, 0.250), 0.1 * rms(hat1, 0, 0.005));
    // The cymbal rings (within 20 dB at three quarters of its length) and decays.
    const double end = static_cast<double>(cymbal.size() * 3 / 4) / kRate;
    const double late = rms(cymbal, end - 0.050, end);
    EXPECT_GT(late, 0.1 * rms(cymbal, 0, 0.050));
    EXPECT_LT(late, 0.5 * rms(cymbal, 0, 0.050));
}

constexpr int kFaceW = 48;
constexpr int kFaceH = 32;
constexpr int kStripTop = 48;

// 192 by 80: a banner above a strip of four button faces.
TEST(TitleBitmap, EachButtonFaceIsRaisedAndCarriesItsOwnCentredPictogram) {
    const Bytes f = load("title.bmp");
    ASSERT_NO_FATAL_FAILURE(rkvtest::expectBmp4Header(f, 192, 80));
    const Picture4 p = rkvtest::decodeBmp4(f);
    std::vector<std::set<std::pair<int, int>>> marks(4);
    for (int face = 0; face < 4; ++face) {
        SCOPED_TRACE("face " + std::to_string(face));
        const int x0 = face * kFaceW, x1 = x0 + kFaceW - 1, y0 = kStripTop, y1 = y0 + kFaceH - 1;
        const double body = p.colour(x0 + 3, y0 + 3).brightness();
        // Light top and left edges short of the dark corners; dark right and bottom edges.
        for (int x = x0; x < x1; ++x)
            EXPECT_GE(p.colour(x, y0).brightness(), std::max(200.0, body + 1)) << x;
        for (int y = y0; y < y1; ++y)
            EXPECT_GE(p.colour(x0, y).brightness(), std::max(200.0, body + 1)) << y;
        for (int y = y0; y <= y1; ++y)
            EXPECT_LE(p.colour(x1, y).brightness(), std::min(100.0, body - 1)) << y;
        for (int x = x0; x <= x1; ++x)
            EXPECT_LE(p.colour(x, y1).brightness(), std::min(100.0, body - 1)) << x;

        int sumX = 0, sumY = 0;
        for (int y = 3; y < kFaceH - 3; ++y)
            for (int x = 3; x < kFaceW - 3; ++x)
                if (p.at(x0 + x, y0 + y) != p.at(x0 + 3, y0 + 3)) {
                    marks[face].insert({x, y});
                    sumX += x;
                    sumY += y;
                }
        const auto count = static_cast<double>(marks[face].size());
        ASSERT_GT(count, 80) << "no clear pictogram";
        EXPECT_NEAR(sumX / count, kFaceW / 2.0, 4.0);
        EXPECT_NEAR(sumY / count, kFaceH / 2.0, 4.0);
    }
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
            EXPECT_NE(marks[a], marks[b]) << "faces " << a << " and " << b << " look alike";
    std::set<int> banner;
    for (int y = 0; y < kStripTop; ++y)
        for (int x = 0; x < p.width; ++x)
            banner.insert(p.at(x, y));
    EXPECT_GE(banner.size(), 8u) << "the banner is a blank fill";
}

TEST(WindowIcon, One32By32IconWithSeeThroughCornersInThePicturesPalette) {
    const Bytes f = load("icon.ico");
    ASSERT_NO_FATAL_FAILURE(rkvtest::expectIco4Header(f, 32, 32));
    const Picture4 p = rkvtest::decodeIco4(f);
    for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}}) {
        EXPECT_FALSE(p.see[static_cast<std::size_t>(y * 32 + x)]) << x << "," << y;
        EXPECT_EQ(p.at(x, y), 0) << "hidden pixels must be black in the colour bitmap";
    }
    std::set<int> used;
    for (int i = 0; i < 32 * 32; ++i)
        if (p.see[static_cast<std::size_t>(i)]) used.insert(p.at(i % 32, i / 32));
    EXPECT_GT(std::count(p.see.begin(), p.see.end(), true), 32 * 32 * 9 / 10);
    EXPECT_GE(used.size(), 5u);
    EXPECT_EQ(p.palette, rkvtest::decodeBmp4(load("title.bmp")).palette);
}

// The built-in table holds exactly what resources.rc lists (NAME TYPE "file"), with the bytes
// of the files on disk, and the lookup finds them by name and type.
TEST(BuiltinResources, HoldEveryScriptEntryWithTheBytesOfItsFile) {
    const rkv::ResourceTable& table = rkv::builtinResources();
    std::ifstream in(std::string(RKV_RESOURCE_DIR) + "/resources.rc");
    std::size_t listed = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name, type, file;
        if (!(words >> name >> type >> file) || name.starts_with("//")) continue;
        SCOPED_TRACE(line);
        ++listed;
        const auto found = rkv::findResource(table, name, type);
        const Bytes onDisk = load(file.substr(1, file.size() - 2));
        ASSERT_FALSE(onDisk.empty());
        EXPECT_EQ(Bytes(found.begin(), found.end()), onDisk);
    }
    EXPECT_EQ(table.count, listed) << "the table must list nothing the script does not";
    EXPECT_GE(listed, 8u);
    EXPECT_TRUE(rkv::findResource(table, "HAT2", "BITMAP").empty());
    EXPECT_TRUE(rkv::findResource(table, "HAT3", "WAVE").empty());
}

} // namespace
