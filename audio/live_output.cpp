#include "audio/live_output.hpp"

#include <optional>

namespace rkv {

LiveOutput::LiveOutput(const std::atomic<std::uint8_t>& playing)
    : control_(playing), device_(false, &control_), paced_(&control_) {}

LiveOutput::~LiveOutput() {
    stop();
}

bool LiveOutput::start(VoiceBank& bank) {
    stop();
    bank_ = &bank;
    if (!device_.start(bank)) {
        paced_.start(bank);
        return false;
    }
    thread_ = std::thread(&LiveOutput::run, this, Mode::Device);
    return true;
}

void LiveOutput::stop() {
    if (thread_.joinable()) {
        control_.requestStop();
        thread_.join();
    }
    device_.stop();
    paced_.stop();
    bank_ = nullptr;
}

void LiveOutput::wake() {
    control_.wake();
}

LiveOutput::Mode LiveOutput::resume() {
    if (device_.start(*bank_)) return Mode::Device;
    paced_.start(*bank_);
    return Mode::Paced;
}

void LiveOutput::halt(Mode mode) {
    if (mode == Mode::Device) device_.stop();
    if (mode == Mode::Paced) paced_.stop();
}

void LiveOutput::run(Mode mode) {
    using Clock = std::chrono::steady_clock;
    for (;;) {
        std::optional<Clock::time_point> retry;
        if (mode == Mode::Paced) retry = Clock::now() + RETRY;
        const PauseControl::Events events = control_.wait(retry);
        if (events.stop) return;
        if (events.lost && mode == Mode::Device) {
            // The frames go on from the same frame count: the clock does not jump.
            device_.stop();
            paced_.start(*bank_);
            mode = Mode::Paced;
        }
        // An idle report followed by a play is stale: the player is no longer idle.
        if (events.idle && !events.wake && mode != Mode::Paused) {
            halt(mode);
            mode = Mode::Paused;
        }
        if (events.wake && mode == Mode::Paused) mode = resume();
        if (mode == Mode::Paced && !events.any()) {
            paced_.stop();
            mode = resume();
        }
    }
}

} // namespace rkv
