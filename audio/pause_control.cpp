#include "audio/pause_control.hpp"

#include <algorithm>

namespace rkv {

bool outputIsIdle(const VoiceBank& bank, const std::atomic<std::uint8_t>& playing) {
    if (playing.load() != 0) return false;
    const std::lock_guard<std::recursive_mutex> guard(bank.lock);
    return std::none_of(bank.voices.begin(), bank.voices.end(),
                        [](const Voice& v) { return v.playing; });
}

void PauseControl::afterMix(const VoiceBank& bank) {
    if (idleReported_.load() || !outputIsIdle(bank, playing_)) return;
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        // A play that took the lock before us has set the flag already.
        if (playing_.load() != 0) return;
        pending_.idle = true;
        idleReported_.store(true);
    }
    changed_.notify_one();
}

void PauseControl::post(bool Events::*what) {
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        pending_.*what = true;
    }
    changed_.notify_one();
}

void PauseControl::reportLost() {
    post(&Events::lost);
}

void PauseControl::wake() {
    post(&Events::wake);
}

void PauseControl::requestStop() {
    post(&Events::stop);
}

PauseControl::Events
PauseControl::wait(std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto ready = [this] { return pending_.any(); };
    if (deadline)
        changed_.wait_until(lock, *deadline, ready);
    else
        changed_.wait(lock, ready);
    const Events taken = pending_;
    pending_ = Events{};
    idleReported_.store(false);
    return taken;
}

} // namespace rkv
