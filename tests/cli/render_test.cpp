// The timing `rkv info`, `render --loops` and `play --loops` share, and what `rkv render` writes,
// checked against the engine itself, driven by hand with its own operations: which step each tick
// plays, where passes wrap, when the last voice falls silent, and every sample written.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
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
#include "cli/session.hpp"
#include "cli/wav_header.hpp"
#include "render/song_timing.hpp"
#include "resources/builtin_resources.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"
#include "tests/common/song_writer.hpp"

namespace {

using namespace rkv;
using namespace rkv::cli;
using namespace rkv::render;
namespace fs = std::filesystem;

// A file in a folder of this process's own (other checkouts on the machine run these tests at the
// same time), removed when the tests end.
std::string tempFile(const std::string& name) {
    static const struct Folder {
        fs::path path = fs::path(testing::TempDir()) / ("rkv_cli_" + std::to_string(::getpid()));
        Folder() { fs::create_directories(path); }
        ~Folder() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } folder;
    return (folder.path / name).string();
}

int runRkv(const std::string& args) {
    const std::string command = std::string(RKV_BIN) + " " + args + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Eight 20 ms steps looping over the whole song; each instrument a triangle, loud enough to hear
// in the mix, with notes of 2000 samples.
rkv::test::SongSpec audibleSong() {
    rkv::test::SongSpec s;
    s.stepTime = 20;
    s.loopEnd = s.stepCount = 8;
    s.drumVolume = 250;
    const std::uint8_t octaves[3] = {2, 3, 1};
    for (int k = 0; k < 3; ++k) {
        auto& in = s.instruments[k];
        in.octave = octaves[k];
        in.noteLength = 2000;
        in.volume = 250;
        for (int i = 0; i < 256; ++i)
            in.wave[i] = static_cast<std::int8_t>(i < 128 ? i - 64 : 191 - i);
        for (auto& e : in.envelope)
            e = 100;
    }
    return s;
}

std::string songFile(const rkv::test::SongSpec& fields) {
    const std::string path = tempFile("song.rkv");
    rkv::test::writeFile(path, rkv::test::songBytes(fields));
    return path;
}

std::unique_ptr<Player> loadedPlayer(const std::string& path) {
    auto player = std::make_unique<Player>();
    // The bank keeps a pointer to its device (play wakes it), so the device must outlive the call.
    static OfflineDevice device;
    initSoundDevice(player->bank, &device);
    player->resources = builtinResources();
    loadDrumKit(player->bank, player->state, player->resources);
    LoadOutcome outcome;
    transportCommand(*player, TRANSPORT_LOAD, path.c_str(), &outcome);
    EXPECT_EQ(outcome.status, LoadStatus::Loaded) << outcome.reason;
    return player;
}

// Mixes on to `frame` in the device's 256-frame calls, into `out` (from frame 0) when given.
void mixTo(Player& player, std::uint64_t frame, float* out = nullptr) {
    float discard[2 * 256];
    while (player.bank.frame < frame) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(256, frame - player.bank.frame));
        mixFrames(player.bank, out ? out + 2 * player.bank.frame : discard, n);
    }
}

bool anyVoiceSounding(const Player& player) {
    for (const Voice& v : player.bank.voices)
        if (v.playing && v.data) return true;
    return false;
}

// The engine played from frame 0 and stopped at `stopFrame`, in 16 bits as the device gets them.
std::vector<std::int16_t> engineRender(const std::string& path, std::uint64_t frames,
                                       std::uint64_t stopFrame) {
    auto player = loadedPlayer(path);
    playFromNextFrame(*player);
    std::vector<float> mixed(2 * frames);
    mixTo(*player, std::min(stopFrame, frames), mixed.data());
    transportCommand(*player, TRANSPORT_STOP);
    mixTo(*player, frames, mixed.data());
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

TEST(SongTiming, PredictsEveryStepAndWrapTheSequencerPlays) {
    // (step count, loop start, loop end): ends past the song, at 0, below it, starts before and
    // past the song and after the end, one-step loops and songs.
    const std::int32_t cases[][3] = {{8, 2, 8},         {8, 2, 100}, {8, 3, 0},  {8, 3, -5},
                                     {8, 2, INT32_MIN}, {8, -4, 8},  {8, 50, 8}, {8, 6, 4},
                                     {1, 0, 1},         {8, 0, 1},   {5, 0, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c[0]) + " " + std::to_string(c[1]) + " " +
                     std::to_string(c[2]));
        rkv::test::SongSpec fields = audibleSong();
        fields.stepCount = c[0];
        fields.loopStart = c[1];
        fields.loopEnd = c[2];
        const auto player = loadedPlayer(songFile(fields));
        const SongTiming timing = songTiming(player->song.header);
        ASSERT_TRUE(timing.ticks);
        ASSERT_GE(timing.firstPassSteps, 1u);
        ASSERT_GE(timing.loopPassSteps, 1u);

        playFromNextFrame(*player);
        std::int32_t previous = -1;
        std::uint64_t wraps = 0;
        for (std::uint64_t k = 0; k < 40; ++k) {
            mixTo(*player, tickFrame(fields.stepTime, k) + 1); // tick k has run
            const std::int32_t position = player->state.position.load();
            ASSERT_EQ(positionAtTick(timing, k), position) << "tick " << k;
            // A wrap is any step that is not the one after the previous; tick 0 starts, not wraps.
            if (k > 0 && position != previous + 1) {
                EXPECT_EQ(k, timing.firstPassSteps + wraps * timing.loopPassSteps) << "tick " << k;
                ++wraps;
            }
            EXPECT_EQ(passAtTick(timing, k), k < timing.firstPassSteps ? 0 : wraps) << "tick " << k;
            previous = position;
        }
        EXPECT_GT(wraps, 0u);
    }
}

TEST(SongTiming, CountsTheIntroAndKnowsWhenTheClockRuns) {
    SongHeader h;
    h.stepCount = 96;
    h.loopStart = 50; // past the last step: the first pass is all intro, the loop one step
    h.loopEnd = 40;
    h.stepTime = MAX_STEP_TIME_MS;
    const SongTiming t = songTiming(h);
    EXPECT_TRUE(t.ticks);
    EXPECT_EQ(t.introSteps, 40u);
    EXPECT_EQ(t.loopPassSteps, 1u);
    h.stepTime = MAX_STEP_TIME_MS + 1;
    EXPECT_FALSE(songTiming(h).ticks);
    h.stepTime = 0; // no clock: step 0 alone, ending where it starts
    const SongTiming still = songTiming(h);
    EXPECT_FALSE(still.ticks);
    EXPECT_EQ(ticksForLoops(still, 5), 1u);
    EXPECT_EQ(endFrameForTicks(still, 1), 0u);
}

TEST(SongTiming, TickFramesRoundDownAndNeverOverflow) {
    EXPECT_EQ(tickFrame(20, 1), 441u);
    EXPECT_EQ(tickFrame(1, 1), 22u); // 22.05 frames
    EXPECT_EQ(tickFrame(1, 20), 441u);
    EXPECT_EQ(tickFrame(7, 3), 463u); // 463.05
    EXPECT_EQ(tickFrame(MAX_STEP_TIME_MS, UINT64_MAX), UINT64_MAX);
}

TEST(RingOut, LastsUntilTheLastVoiceStopsOrTheCap) {
    // (note length, loops): short and long notes, looped, and one still sounding at the cap.
    const std::uint32_t cases[][2] = {{300, 0}, {5000, 0}, {5000, 3}, {200000, 1}};
    for (const auto& [noteLength, loops] : cases) {
        SCOPED_TRACE(std::to_string(noteLength) + " " + std::to_string(loops));
        rkv::test::SongSpec fields = audibleSong();
        fields.stepCount = 6;
        fields.loopStart = 2;
        fields.loopEnd = 6;
        fields.instruments[0].noteLength = noteLength;
        fields.tracks[0] = {1, 0, 0, 2, 0, 0};        // a note in the intro and one in the loop
        fields.tracks[3] = {0, 1u << 12, 0, 0, 0, 1}; // cymbal in the intro, kick on the last step
        const auto player = loadedPlayer(songFile(fields));
        const SongTiming timing = songTiming(player->song.header);
        const DrumKitVoices kit = drumKitVoices(player->bank);
        const PlayLength length =
            playLength(player->song, timing, loops,
                       trackVoiceLengths(player->song.header, kit.lengths, kit.bytes));
        ASSERT_EQ(length.ticks, 6 + 4 * loops);
        ASSERT_EQ(length.endFrame, tickFrame(fields.stepTime, length.ticks));

        playFromNextFrame(*player);
        mixTo(*player, length.endFrame);
        transportCommand(*player, TRANSPORT_STOP);
        if (length.ringOutFrames < MAX_RING_OUT_FRAMES) {
            ASSERT_GT(length.ringOutFrames, 0u);
            mixTo(*player, length.frames() - 1);
            EXPECT_TRUE(anyVoiceSounding(*player)) << "one frame before the end";
            mixTo(*player, length.frames());
            EXPECT_FALSE(anyVoiceSounding(*player)) << "at the end";
        } else {
            mixTo(*player, length.frames());
            EXPECT_TRUE(anyVoiceSounding(*player)) << "cut while still sounding";
        }
    }
}

TEST(TrackVoiceLengths, MatchTheVoicesTheEngineMakes) {
    rkv::test::SongSpec fields = audibleSong();
    fields.instruments[0].noteLength = 3;          // too short: cannot be made
    fields.instruments[1].noteLength = 0x0FFFFFFF; // the fourth voice passes 1 GiB: silent
    fields.instruments[2].noteLength = 1234;       // fine
    const auto player = loadedPlayer(songFile(fields));
    const DrumKitVoices kit = drumKitVoices(player->bank);
    const TrackVoiceLengths lengths =
        trackVoiceLengths(player->song.header, kit.lengths, kit.bytes);
    for (int slot = 0; slot < TRACK_COUNT * NOTES_PER_TRACK; ++slot) {
        const Voice& v = player->bank.voices[static_cast<std::size_t>(FIRST_TRACK_SLOT + slot)];
        EXPECT_EQ(lengths[static_cast<std::size_t>(slot)], v.exists && v.data ? v.length : 0u)
            << "slot " << FIRST_TRACK_SLOT + slot;
    }
    const auto voices = instrumentVoices(player->song.header, kit.bytes);
    EXPECT_EQ(voices[0], InstrumentVoices::LengthOutOfRange);
    EXPECT_EQ(voices[1], InstrumentVoices::PastBankLimit);
    EXPECT_EQ(voices[2], InstrumentVoices::Sounding);
    EXPECT_GT(kit.lengths[0], 0u);
    EXPECT_EQ(kit.lengths[6], 0u) << "drum key 6 has no sound";
    // A drum voice made but never filled (its memory ran out) plays silence.
    ASSERT_EQ(createVoice(player->bank, FIRST_DRUM_SLOT + 6, VOICE_FORMAT, 100), 1);
    EXPECT_EQ(drumKitVoices(player->bank).lengths[6], 0u);
}

// As the model corpus's two boundary songs: voices ending exactly at 1 GiB are all made; one
// byte more and the last instrument's last voice is not, which silences that instrument.
TEST(TrackVoiceLengths, TheBankLimitIsExact) {
    const DrumKitVoices kit = builtinDrumKitVoices();
    for (std::uint32_t extra : {0u, 1u}) {
        SongHeader h;
        h.instruments[0].noteLength = MAX_VOICE_BYTES; // three voices fit beside the drums
        h.instruments[1].noteLength = static_cast<std::uint32_t>( // one voice fits
            MAX_BANK_BYTES - kit.bytes - 3 * std::uint64_t{MAX_VOICE_BYTES} - 24 * 2000 + extra);
        h.instruments[2].noteLength = 2000;
        const auto voices = instrumentVoices(h, kit.bytes);
        EXPECT_EQ(voices[1], InstrumentVoices::PastBankLimit) << extra;
        EXPECT_EQ(voices[2], extra ? InstrumentVoices::PastBankLimit : InstrumentVoices::Sounding)
            << extra;
    }
}

TEST(TickLimit, StopsTheSequencerOnTheFrameOfTheFirstTickPastIt) {
    rkv::test::SongSpec fields = audibleSong();
    fields.tracks[2] = {1, 1, 1, 1, 1, 1, 1, 1};
    const auto player = loadedPlayer(songFile(fields));
    {
        TickLimit limit(*player, 5);
        limit.start();
        mixTo(*player, tickFrame(fields.stepTime, 5));
        EXPECT_EQ(limit.ticksPlayed(), 5u);
        EXPECT_EQ(player->state.playing.load(), 1);
        mixTo(*player, tickFrame(fields.stepTime, 5) + 1);
        EXPECT_EQ(player->state.playing.load(), 0) << "stopped by the sixth tick";
        EXPECT_EQ(player->state.position.load(), 4);
        mixTo(*player, tickFrame(fields.stepTime, 9) + 1);
        EXPECT_EQ(limit.ticksPlayed(), 5u);
    }
    // Gone, it hands the clock back to the sequencer.
    transportCommand(*player, TRANSPORT_PLAY);
    mixTo(*player, tickFrame(fields.stepTime, 10) + 1);
    EXPECT_EQ(player->state.position.load(), 5);
}

TEST(RenderOutput, EqualsTheEngineSampleForSample) {
    const std::string out = tempFile("loops.wav");
    for (const char* name : {"daybreak", "lantern", "orbit"}) {
        SCOPED_TRACE(name);
        const std::string song = std::string(RKV_SOURCE_DIR) + "/demo/" + name + ".rkv";
        ASSERT_EQ(runRkv("render " + song + " -o " + out + " --loops 1"), 0);
        std::vector<std::int16_t> written = wavSamples(out);
        // The expected length comes from the engine, not from the tool's own arithmetic.
        const SongTiming t = songTiming(loadedPlayer(song)->song.header);
        const std::uint64_t stop = tickFrame(t.stepTime, t.firstPassSteps + t.loopPassSteps);
        const std::uint64_t frames = written.size() / 2;
        ASSERT_GE(frames, stop);
        ASSERT_LE(frames, stop + MAX_RING_OUT_FRAMES);
        // And 64 silent frames after: the last written frame is the last one with sound in it.
        written.resize(written.size() + 2 * 64);
        const std::vector<std::int16_t> expected = engineRender(song, frames + 64, stop);
        const auto diff = std::mismatch(written.begin(), written.end(), expected.begin());
        EXPECT_TRUE(diff.first == written.end())
            << "first difference at frame " << (diff.first - written.begin()) / 2 << " of "
            << frames;
    }
}

TEST(RenderOutput, SecondsGiveExactlyThatManyFramesOfTheLoopingSong) {
    rkv::test::SongSpec fields = audibleSong();
    fields.stepCount = 4;
    fields.loopStart = 1;
    fields.tracks[0] = {1, 2, 4, 8};
    fields.tracks[3] = {1, 0, 1u << 10, 0};
    const std::string song = songFile(fields);
    ASSERT_EQ(runRkv("render " + song + " -o " + tempFile("s.wav") + " --seconds 1.2345"), 0);
    const std::vector<std::int16_t> written = wavSamples(tempFile("s.wav"));
    ASSERT_EQ(written.size(), 2u * 27221); // round(1.2345 * 22050) = round(27220.7)
    EXPECT_TRUE(written == engineRender(song, 27221, UINT64_MAX));
}

TEST(AudioWriter, FadesTheLastFramesLinearlyToSilence) {
    const std::string path = tempFile("fade.wav");
    {
        AudioWriter writer(path, outputFormatFor(path, true, 22050), 1000, 100);
        std::vector<float> ones(2 * 1000, 0.5f);
        writer.write(ones.data(), 600); // the fade spans three writes, the last of one frame
        writer.write(ones.data() + 1200, 399);
        writer.write(ones.data() + 1998, 1);
        writer.finish();
    }
    SF_INFO info;
    const std::vector<float> data = samples<float>(path, info);
    ASSERT_EQ(info.frames, 1000);
    EXPECT_EQ(info.samplerate, 22050);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_NEAR(data[2 * i], i < 900 ? 0.5f : 0.5f * (999 - i) / 100.0f, 1e-6) << i;
        ASSERT_EQ(data[2 * i], data[2 * i + 1]) << i;
    }
    EXPECT_EQ(data[2 * 999], 0.0f);
}

TEST(AudioWriter, ResamplesToTheRequestedRate) {
    const std::string path = tempFile("tone.flac");
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
    const std::string path = tempFile("library.wav");
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
