#include "audio/paced_output.hpp"

#include "audio/pause_control.hpp"

namespace rkv {

namespace {

using Clock = std::chrono::steady_clock;

// The time `frames` frames take at the mixer's rate, without overflow for any realistic run.
Clock::duration framesToDuration(std::uint64_t frames) {
    const std::uint64_t seconds = frames / SAMPLE_RATE;
    const std::uint64_t rest = frames % SAMPLE_RATE;
    const auto ns = std::chrono::seconds(seconds) +
                    std::chrono::nanoseconds(rest * 1'000'000'000ULL / SAMPLE_RATE);
    return std::chrono::duration_cast<Clock::duration>(ns);
}

} // namespace

PacedSilentOutput::~PacedSilentOutput() {
    stop();
}

bool PacedSilentOutput::start(VoiceBank& bank) {
    stop();
    bank_ = &bank;
    buffer_ = std::make_unique<float[]>(2 * BLOCK_FRAMES);
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = false;
        frames_ = 0;
    }
    thread_ = std::thread(&PacedSilentOutput::run, this);
    return true;
}

void PacedSilentOutput::stop() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    bank_ = nullptr;
}

std::uint64_t PacedSilentOutput::framesMixed() const {
    const std::lock_guard<std::mutex> guard(mutex_);
    return frames_;
}

void PacedSilentOutput::run() {
    // Every block is due at a fixed offset from the start, so waking late never shifts the
    // blocks after it: the clock does not drift.
    Clock::time_point origin = Clock::now();
    std::uint64_t scheduled = 0; // frames since `origin`
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        mixFrames(*bank_, buffer_.get(), BLOCK_FRAMES);
        if (control_) control_->afterMix(*bank_);
        lock.lock();
        frames_ += BLOCK_FRAMES;
        scheduled += BLOCK_FRAMES;
        const Clock::time_point due = origin + framesToDuration(scheduled);
        const Clock::time_point now = Clock::now();
        if (now - due > MAX_LAG) {
            origin = now;
            scheduled = 0;
            continue;
        }
        wake_.wait_until(lock, due, [this] { return stopping_; });
    }
}

} // namespace rkv
