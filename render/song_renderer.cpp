#include "render/song_renderer.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "render/resampler.hpp"

namespace rkv::render {

namespace {

// Frames taken from the engine per round of resampling.
constexpr std::size_t RESAMPLE_CHUNK = 4096;

std::uint64_t scaleFrames(std::uint64_t frames, std::uint64_t to, std::uint64_t from, bool round) {
    const unsigned __int128 scaled =
        (static_cast<unsigned __int128>(frames) * to + (round ? from / 2 : 0)) / from;
    return scaled > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(scaled);
}

} // namespace

PlayLength songLength(const Song& song, const DrumKitVoices& kit, std::uint64_t loops) {
    return playLength(song, songTiming(song.header), loops,
                      trackVoiceLengths(song.header, kit.lengths, kit.bytes));
}

SongRenderer::SongRenderer(Song&& song)
    : timing_(songTiming(song.header)), player_(std::make_unique<Player>()),
      loaded_(std::make_unique<Loaded>()) {
    // The offline device always starts.
    loadPlayer(*player_, device_, std::move(song));
    {
        const std::lock_guard<std::recursive_mutex> guard(player_->bank.lock);
        const VoiceBank& bank = player_->bank;
        *loaded_ = Loaded{bank.voices,
                          bank.playingMask,
                          bank.frame,
                          bank.changes,
                          bank.timer,
                          player_->state.playing.load(),
                          player_->state.position.load()};
    }
    kit_ = drumKitVoices(player_->bank);
    length_ = songLength(this->song(), kit_, 0);
    restart();
}

SongRenderer::~SongRenderer() = default;

void SongRenderer::restart() {
    limit_.reset();
    resampler_.reset();
    {
        const std::lock_guard<std::recursive_mutex> guard(player_->bank.lock);
        VoiceBank& bank = player_->bank;
        bank.voices = loaded_->voices;
        bank.playingMask = loaded_->playingMask;
        bank.frame = loaded_->frame;
        bank.changes = loaded_->changes;
        bank.timer = loaded_->timer;
        player_->state.playing.store(loaded_->playing);
        player_->state.position.store(loaded_->position);
    }
    limit_ = std::make_unique<TickLimit>(*player_, length_.ticks);
    limit_->start();
    if (rate_ != SAMPLE_RATE) resampler_ = std::make_unique<Resampler>(SAMPLE_RATE, rate_);
    nativeFrame_ = frame_ = 0;
    resampled_.clear();
    resampledAt_ = 0;
    drained_ = false;
}

void SongRenderer::setRepeat(std::uint64_t loops) {
    loops_ = loops;
    if (loops == FOREVER) {
        length_ = PlayLength{TickLimit::UNLIMITED, UINT64_MAX, 0};
    } else {
        length_ = songLength(song(), kit_, loops);
    }
    const std::uint64_t at = frame_;
    restart();
    seekFrame(at);
}

void SongRenderer::setRate(int hz) {
    if (hz == rate_) return;
    const int old = rate_;
    const std::uint64_t at =
        scaleFrames(frame_, static_cast<std::uint64_t>(hz), static_cast<std::uint64_t>(old), true);
    rate_ = hz;
    try {
        restart();
    } catch (...) {
        rate_ = old;
        const std::uint64_t back = frame_;
        restart();
        seekFrame(back);
        throw;
    }
    seekFrame(at);
}

std::uint64_t SongRenderer::length() const {
    if (loops_ == FOREVER) return FOREVER;
    return scaleFrames(length_.frames(), static_cast<std::uint64_t>(rate_), SAMPLE_RATE, true);
}

std::size_t SongRenderer::readNative(float* stereo, std::size_t frames) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(
        frames, length_.frames() - std::min(length_.frames(), nativeFrame_)));
    // The mixer's sums do not depend on how the stream is cut into calls, so a render mixed in
    // calls of any size is what the sound device plays in its own.
    mixFrames(player_->bank, stereo, n);
    nativeFrame_ += n;
    return n;
}

std::size_t SongRenderer::readResampled(float* stereo, std::size_t frames) {
    const std::uint64_t end = length();
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(frames, end - std::min(end, frame_)));
    const auto keep = [this](const float* made, std::size_t k) {
        resampled_.insert(resampled_.end(), made, made + 2 * k);
    };
    std::size_t done = 0;
    while (done < n) {
        const std::size_t ready = resampled_.size() / 2 - resampledAt_;
        if (ready > 0) {
            const std::size_t k = std::min(n - done, ready);
            std::memcpy(stereo + 2 * done, resampled_.data() + 2 * resampledAt_,
                        2 * k * sizeof(float));
            resampledAt_ += k;
            done += k;
            continue;
        }
        resampled_.clear();
        resampledAt_ = 0;
        if (scratch_.size() < 2 * RESAMPLE_CHUNK) scratch_.resize(2 * RESAMPLE_CHUNK);
        if (const std::size_t got = readNative(scratch_.data(), RESAMPLE_CHUNK); got > 0) {
            resampler_->process(scratch_.data(), got, keep);
        } else if (!drained_) {
            resampler_->process(nullptr, 0, keep);
            drained_ = true;
        } else {
            // The filter gave a frame or so less than the length promised: silence.
            std::fill(stereo + 2 * done, stereo + 2 * n, 0.0f);
            done = n;
        }
    }
    frame_ += n;
    return n;
}

std::size_t SongRenderer::read(float* stereo, std::size_t frames) {
    if (resampler_) return readResampled(stereo, frames);
    const std::size_t n = readNative(stereo, frames);
    frame_ += n;
    return n;
}

std::size_t SongRenderer::read(std::int16_t* stereo, std::size_t frames) {
    constexpr std::size_t PIECE = 4096;
    std::vector<float> floats(2 * std::min(frames, PIECE));
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t got = read(floats.data(), std::min(frames - done, PIECE));
        if (got == 0) break;
        floatToPcm16(floats.data(), stereo + 2 * done, 2 * got);
        done += got;
    }
    return done;
}

void SongRenderer::seekFrame(std::uint64_t frame) {
    frame = std::min(frame, length());
    if (frame < frame_) restart();
    std::vector<float> skipped(2 * RESAMPLE_CHUNK);
    while (frame_ < frame) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(RESAMPLE_CHUNK, frame - frame_));
        if (read(skipped.data(), n) == 0) break;
    }
}

Position SongRenderer::position() const {
    Position p;
    p.frame = frame_;
    const std::uint64_t native =
        scaleFrames(frame_, SAMPLE_RATE, static_cast<std::uint64_t>(rate_), false);
    const std::uint64_t tick = std::min(tickAtFrame(timing_, native), length_.ticks - 1);
    p.step = positionAtTick(timing_, tick);
    p.pass = passAtTick(timing_, tick);
    p.ringOut = native >= length_.endFrame;
    return p;
}

} // namespace rkv::render
