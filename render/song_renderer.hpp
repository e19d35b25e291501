// A song rendered as a stream of stereo frames: the first pass, the repeats of the loop and the
// ring-out, ending where `rkv info` says it ends, at 22050 Hz or resampled, with sample-exact
// seeking. What `rkv render` writes and what librkv hands out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "render/playback.hpp"
#include "render/song_timing.hpp"

namespace rkv::render {

// The played length of a song, its voices as a fresh player gets them.
PlayLength songLength(const Song& song, const DrumKitVoices& kit, std::uint64_t loops);

struct Position {
    std::uint64_t frame = 0; // at the output rate
    std::int32_t step = 0;   // the step playing there (the last one played during the ring-out)
    bool ringOut = false;    // no step plays any more
    std::uint64_t pass = 0;  // 0 in the first pass, n in the n-th repeat
};

class Resampler;

class SongRenderer {
  public:
    static constexpr std::uint64_t FOREVER = UINT64_MAX;

    // The song must have parsed. Starts at frame 0, 22050 Hz, no repeat. Throws std::bad_alloc.
    explicit SongRenderer(Song&& song);
    ~SongRenderer();
    SongRenderer(const SongRenderer&) = delete;
    SongRenderer& operator=(const SongRenderer&) = delete;

    const Song& song() const { return player_->song; }
    const SongTiming& timing() const { return timing_; }
    const DrumKitVoices& drumKit() const { return kit_; }

    // The first pass, `loops` repeats, then the ring-out; FOREVER never ends. The position keeps
    // its frame (or becomes the end).
    void setRepeat(std::uint64_t loops);
    std::uint64_t repeat() const { return loops_; }
    // At 22050 Hz; for FOREVER the ticks are TickLimit::UNLIMITED and the end frame UINT64_MAX.
    const PlayLength& playLength() const { return length_; }

    // Throws std::runtime_error when it cannot resample to `hz` (the rate stays as it was). The
    // position keeps its time, to the nearest frame.
    void setRate(int hz);
    int rate() const { return rate_; }

    // Frames from frame 0 to the end, at the output rate; FOREVER when it never ends.
    std::uint64_t length() const;

    // Interleaved stereo at the position; fewer frames than asked only at the end.
    std::size_t read(float* stereo, std::size_t frames);
    std::size_t read(std::int16_t* stereo, std::size_t frames);

    // A frame past the end moves to the end. Going back renders again from the start.
    void seekFrame(std::uint64_t frame);
    Position position() const;

  private:
    // The player as the load left it, all but the voices' samples, which playing never changes:
    // going back to the start restores it instead of synthesizing every note again.
    struct Loaded {
        std::array<Voice, VOICE_SLOTS> voices;
        std::array<std::uint64_t, VOICE_SLOTS / 64> playingMask;
        std::uint64_t frame;
        std::uint64_t changes;
        FrameTimer timer;
        std::uint8_t playing;
        std::int32_t position;
    };

    void restart();
    std::size_t readNative(float* stereo, std::size_t frames);
    std::size_t readResampled(float* stereo, std::size_t frames);

    SongTiming timing_;
    DrumKitVoices kit_;
    std::uint64_t loops_ = 0;
    PlayLength length_;
    int rate_ = SAMPLE_RATE;

    OfflineDevice device_;
    // A renderer holds no more than a player does: the song and its voices once.
    std::unique_ptr<Player> player_;
    std::unique_ptr<Loaded> loaded_;
    std::unique_ptr<TickLimit> limit_; // after the player: goes first
    std::uint64_t nativeFrame_ = 0;    // frames mixed

    std::unique_ptr<Resampler> resampler_;
    std::vector<float> resampled_; // made, not yet handed out
    std::size_t resampledAt_ = 0;  // frames of it handed out
    bool drained_ = false;
    std::uint64_t frame_ = 0; // output frames handed out
    std::vector<float> scratch_;
};

} // namespace rkv::render
