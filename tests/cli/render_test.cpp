// `rkv render` writes exactly what the engine renders; its writer fades and resamples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sndfile.h>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "cli/audio_writer.hpp"
#include "cli/wav_header.hpp"
#include "engine_player.hpp"
#include "render/song_timing.hpp"

namespace {

using namespace rkv;
using namespace rkv::cli;
using namespace rkv::render;
namespace fs = std::filesystem;

// One folder per process (other checkouts on the machine run these tests at the same time),
// removed when the tests end.
const fs::path& scratch() {
    static const struct Folder {
        fs::path path = fs::path(testing::TempDir()) / ("rkv_render_" + std::to_string(::getpid()));
        ~Folder() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

std::string tempDir(const std::string& name) {
    const fs::path dir = scratch() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

int runRkv(const std::string& args) {
    const std::string command = std::string(RKV_BIN) + " " + args + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The engine driven by hand: load, play from frame 0, stop after `stopFrame` (if any), and
// convert to 16 bits as the sound device gets them.
std::vector<std::int16_t> engineRender(const std::string& path, std::uint64_t frames,
                                       std::uint64_t stopFrame) {
    auto player = rkvtest::loadedPlayer(path);
    playFromNextFrame(*player);
    // Mixed in the device's 256-frame calls from frame 0, split at the stop frame.
    std::vector<float> mixed(2 * frames);
    for (std::uint64_t done = 0; done < frames;) {
        std::uint64_t n = std::min<std::uint64_t>(256 - done % 256, frames - done);
        if (done < stopFrame) n = std::min(n, stopFrame - done);
        mixFrames(player->bank, mixed.data() + 2 * done, n);
        done += n;
        if (done == stopFrame) transportCommand(*player, TRANSPORT_STOP);
    }
    std::vector<std::int16_t> pcm(mixed.size());
    floatToPcm16(mixed.data(), pcm.data(), mixed.size());
    return pcm;
}

// The samples of a sound file, read as T (float or 16 bits); `info` gets its format.
template <typename T> std::vector<T> samples(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (!f) return {};
    std::vector<T> data(static_cast<std::size_t>(info.frames * info.channels));
    if constexpr (std::is_same_v<T, float>)
        sf_readf_float(f, data.data(), info.frames);
    else
        sf_readf_short(f, data.data(), info.frames);
    sf_close(f);
    return data;
}

// The PCM of a plain 16-bit stereo 22050 Hz WAV.
std::vector<std::int16_t> wavSamples(const std::string& path) {
    SF_INFO info;
    std::vector<std::int16_t> pcm = samples<std::int16_t>(path, info);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 22050);
    return pcm;
}

std::string demoSong(const char* name) {
    return std::string(RKV_SOURCE_DIR) + "/demo/" + name + ".rkv";
}

TEST(RenderOutput, EqualsTheEngineSampleForSample) {
    const std::string dir = tempDir("exact");
    for (const char* name : {"daybreak", "lantern", "orbit"}) {
        SCOPED_TRACE(name);
        const std::string song = demoSong(name);
        ASSERT_EQ(runRkv("render " + song + " -o " + dir + "/loops.wav --loops 1"), 0);
        const std::vector<std::int16_t> written = wavSamples(dir + "/loops.wav");

        // The expected length comes from the engine, not from the tool's own arithmetic.
        const SongTiming t = songTiming(rkvtest::loadedPlayer(song)->song.header);
        const std::uint64_t stop = tickFrame(t.stepTime, t.firstPassSteps + t.loopPassSteps);
        const std::uint64_t frames = written.size() / 2;
        ASSERT_GE(frames, stop);
        ASSERT_LE(frames, stop + MAX_RING_OUT_FRAMES);
        const std::vector<std::int16_t> expected = engineRender(song, frames, stop);
        ASSERT_EQ(written.size(), expected.size());
        const auto diff = std::mismatch(written.begin(), written.end(), expected.begin());
        EXPECT_TRUE(diff.first == written.end())
            << "first difference at frame " << (diff.first - written.begin()) / 2 << " of "
            << frames << ": " << (diff.first != written.end() ? *diff.first : 0) << " vs "
            << (diff.first != written.end() ? *diff.second : 0);
        // The last written frame is the last one with sound in it.
        const auto tail = engineRender(song, frames + 64, stop);
        for (std::size_t i = 2 * frames; i < tail.size(); ++i)
            ASSERT_EQ(tail[i], 0) << i;
    }
}

TEST(RenderOutput, SecondsGiveExactlyThatManyFramesOfTheLoopingSong) {
    const std::string dir = tempDir("seconds");
    rkv::test::SongSpec fields = rkvtest::audibleSong();
    fields.stepCount = 4;
    fields.loopStart = 1;
    fields.tracks[0] = {1, 2, 4, 8};
    fields.tracks[3] = {1, 0, 1u << 10, 0};
    const std::string song = dir + "/short.rkv";
    rkvtest::writeFile(song, rkvtest::songBytes(fields));
    ASSERT_EQ(runRkv("render " + song + " -o " + dir + "/s.wav --seconds 1.2345"), 0);
    const std::vector<std::int16_t> written = wavSamples(dir + "/s.wav");
    ASSERT_EQ(written.size(), 2u * 27221); // round(1.2345 * 22050) = round(27220.7)
    EXPECT_TRUE(written == engineRender(song, 27221, UINT64_MAX));
}

TEST(AudioWriter, FadesTheLastFramesLinearlyToSilence) {
    const std::string dir = tempDir("fade");
    const std::string path = dir + "/fade.wav";
    {
        AudioWriter writer(path, outputFormatFor(path, true, 22050), 1000, 100);
        std::vector<float> ones(2 * 1000, 0.5f);
        writer.write(ones.data(), 600); // the fade spans two writes
        writer.write(ones.data() + 1200, 400);
        writer.finish();
    }
    SF_INFO info;
    const std::vector<float> data = samples<float>(path, info);
    ASSERT_EQ(info.frames, 1000);
    EXPECT_EQ(info.samplerate, 22050);
    for (int i = 0; i < 900; ++i)
        ASSERT_FLOAT_EQ(data[2 * i], 0.5f) << i;
    for (int i = 900; i < 1000; ++i) {
        EXPECT_NEAR(data[2 * i], 0.5f * (999 - i) / 100.0f, 1e-6) << i;
        EXPECT_EQ(data[2 * i], data[2 * i + 1]);
    }
    EXPECT_EQ(data[2 * 999], 0.0f);
}

TEST(AudioWriter, ResamplesToTheRequestedRate) {
    const std::string dir = tempDir("rate");
    const std::string path = dir + "/tone.flac";
    constexpr int FRAMES = 22050;
    {
        AudioWriter writer(path, outputFormatFor(path, false, 48000), FRAMES, 0);
        std::vector<float> tone(2 * FRAMES);
        for (int i = 0; i < FRAMES; ++i)
            tone[2 * i] = tone[2 * i + 1] = 0.5f * std::sin(2 * M_PI * 1000.0 * i / 22050.0);
        writer.write(tone.data(), FRAMES);
        writer.finish();
    }
    SF_INFO info;
    const std::vector<float> data = samples<float>(path, info);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_NEAR(static_cast<double>(info.frames), 48000.0, 2.0);
    // Still a 1 kHz tone at the new rate: about 2000 zero crossings a second, amplitude kept.
    int crossings = 0;
    float peak = 0;
    for (std::size_t i = 2 * 1000; i + 2 < data.size() - 2000; i += 2) {
        crossings += (data[i] < 0) != (data[i + 2] < 0);
        peak = std::max(peak, std::abs(data[i]));
    }
    EXPECT_NEAR(crossings, 2000.0 * (static_cast<double>(info.frames) - 2000) / 48000.0, 4.0);
    EXPECT_NEAR(peak, 0.5f, 0.01f);
}

// rkv writes WAV headers itself; they must stay the sound-file library's, byte for byte.
TEST(AudioWriter, WavHeadersAreTheSoundFileLibrarysOwn) {
    const std::string path = tempDir("header") + "/library.wav";
    for (const bool floatSamples : {false, true})
        for (const int rate : {22050, 48000})
            for (const sf_count_t frames : {0, 1001}) {
                SF_INFO info{};
                info.samplerate = rate;
                info.channels = 2;
                info.format = SF_FORMAT_WAV | (floatSamples ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
                SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
                ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
                sf_command(f, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
                const std::vector<float> silence(2 * static_cast<std::size_t>(frames));
                sf_writef_float(f, silence.data(), frames);
                sf_close(f);
                const auto header =
                    wavHeader(floatSamples, rate, static_cast<std::uint64_t>(frames));
                const std::vector<std::uint8_t> file = rkv::test::readFile(path);
                ASSERT_GE(file.size(), header.size());
                EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()))
                    << (floatSamples ? "float" : "16-bit") << ", " << rate << " Hz, " << frames;
                EXPECT_EQ(file.size(), header.size() + static_cast<std::size_t>(frames) *
                                                           (floatSamples ? 8 : 4));
            }
}

} // namespace
