#include "audio/windows_output.hpp"

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "audio/pause_control.hpp"

namespace rkv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t WAVEOUT_FRAMES =
    WindowsOutput::BUFFER_FRAMES * WindowsOutput::CALLS_PER_BUFFER;
// The first moments of a freshly started stream may stutter in the sound system: they get
// silence, and the mixer starts behind it.
constexpr std::size_t PRIMING_FRAMES = 2 * WAVEOUT_FRAMES;

// Told to a debugger once the sound stops, when this thread has nothing left to feed (Wine prints
// it with WINEDEBUG=warn+debugstr): if our queue never ran dry, any gap a listener heard came from
// further down the sound path.
void reportLowestQueue(std::size_t frames) {
    char text[96];
    std::snprintf(text, sizeof text, "TuvimoPlayer2: sound queue never below %lu frames\n",
                  static_cast<unsigned long>(frames));
    OutputDebugStringA(text);
}

} // namespace

WindowsOutput::WindowsOutput(bool startPaused, const PlayState* state)
    : paused_(startPaused), state_(state) {}

WindowsOutput::~WindowsOutput() {
    stop();
}

bool WindowsOutput::start(VoiceBank& bank) {
    return open(&bank, nullptr);
}

bool WindowsOutput::start(FrameSource& source) {
    return open(nullptr, &source);
}

bool WindowsOutput::open(VoiceBank* bank, FrameSource* source) {
    stop();
    error_.clear();
    useDevice_ = true;
    source_ = source;
    sourceFrame_ = 0;
    ended_ = false;
    opened_ = std::promise<bool>();
    std::future<bool> opened = opened_.get_future();
    launch(bank);
    if (opened.get()) return true;
    stop();
    return false;
}

void WindowsOutput::startSilent(VoiceBank& bank) {
    stop();
    useDevice_ = false;
    launch(&bank);
}

void WindowsOutput::launch(VoiceBank* bank) {
    bank_ = bank;
    ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    wakeup_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    stopping_ = false;
    thread_ = std::thread(&WindowsOutput::run, this);
}

void WindowsOutput::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        SetEvent(wakeup_);
        thread_.join();
    }
    for (void** event : {&ready_, &wakeup_}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
    bank_ = nullptr;
    source_ = nullptr;
}

void WindowsOutput::wake() {
    if (wakeup_) SetEvent(wakeup_);
}

void WindowsOutput::resume() {
    paused_ = false;
    wake();
}

bool WindowsOutput::idle() const {
    if (paused_) return true;
    return state_ && outputIsIdle(*bank_, state_->playing);
}

// The audio client first; waveOut where there is none.
bool WindowsOutput::openSink() {
    std::string clientError;
    sink_ = makeAudioClientSink(CLIENT_FRAMES);
    if (sink_->open(ready_, clientError)) return true;
    sink_ = makeWaveOutSink(WAVEOUT_FRAMES, BUFFERS);
    if (sink_->open(ready_, error_)) return true;
    sink_.reset();
    return false;
}

void WindowsOutput::mix(float* stereo, std::size_t frames) {
    if (source_) {
        const std::size_t got = source_->read(stereo, frames);
        std::fill(stereo + 2 * got, stereo + 2 * frames, 0.0f);
        if (got < frames) ended_ = true;
        sourceFrame_ += got;
    } else {
        mixFrames(*bank_, stereo, frames);
    }
    framesMixed_.store(source_ ? sourceFrame_ : bank_->frame);
}

void WindowsOutput::run() {
    // The audio client is a COM object, created and used on this thread only.
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    if (useDevice_) {
        const bool opened = openSink();
        opened_.set_value(opened);
        if (opened) playThroughDevice();
    } else {
        keepTimeSilently();
    }
    sink_.reset();
    if (com) CoUninitialize();
}

void WindowsOutput::playThroughDevice() {
    const HANDLE events[2] = {wakeup_, ready_};
    float stereo[2 * BUFFER_FRAMES];
    std::int16_t pcm[2 * BUFFER_FRAMES];
    std::size_t priming = PRIMING_FRAMES;
    // The fewest frames found queued ahead of the speaker, from the first mixed frame on.
    std::size_t lowest = 0;
    bool playing = false;
    auto endPlaying = [&] {
        if (playing) reportLowestQueue(lowest);
        playing = false;
    };
    while (!stopping_) {
        if (idle()) {
            endPlaying();
            // What is queued plays out; then the device is closed until woken, which also stops
            // the sound system's own timers.
            if (sink_ && sink_->drained()) sink_.reset();
            WaitForMultipleObjects(sink_ ? 2 : 1, events, FALSE, waitMs());
            continue;
        }
        if (!sink_) {
            if (!openSink()) {
                // The device went away: keep time without it.
                keepTimeSilently();
                return;
            }
            priming = PRIMING_FRAMES;
        }
        for (std::size_t room; priming > 0 && (room = sink_->room()) > 0;) {
            const std::size_t n = std::min({room, priming, BUFFER_FRAMES});
            std::fill(pcm, pcm + 2 * n, std::int16_t{0});
            sink_->write(pcm, n);
            priming -= n;
        }
        // Looked at where it is lowest: after the wait, before the refill.
        if (playing) lowest = std::min(lowest, sink_->queued());
        while (priming == 0 && !stopping_ && sink_->room() >= BUFFER_FRAMES && !idle()) {
            mix(stereo, BUFFER_FRAMES);
            floatToPcm16(stereo, pcm, 2 * BUFFER_FRAMES);
            sink_->write(pcm, BUFFER_FRAMES);
        }
        sink_->play();
        if (priming == 0 && !playing) {
            playing = true;
            lowest = sink_->queued();
        }
        WaitForMultipleObjects(2, events, FALSE, waitMs());
    }
    endPlaying();
}

// Until the device signals room, or until it is time to look for room.
unsigned long WindowsOutput::waitMs() const {
    return sink_ && sink_->pollMs() > 0 ? sink_->pollMs() : INFINITE;
}

void WindowsOutput::keepTimeSilently() {
    float stereo[2 * WAVEOUT_FRAMES];
    // Every block is due at a fixed offset from the start, so waking late never shifts the
    // blocks after it.
    Clock::time_point origin = Clock::now();
    std::uint64_t scheduled = 0;
    while (!stopping_) {
        if (idle()) {
            WaitForSingleObject(wakeup_, INFINITE);
            origin = Clock::now();
            scheduled = 0;
            continue;
        }
        for (std::size_t call = 0; call < CALLS_PER_BUFFER; ++call)
            mix(stereo + 2 * BUFFER_FRAMES * call, BUFFER_FRAMES);
        scheduled += WAVEOUT_FRAMES;
        const auto due =
            origin + std::chrono::nanoseconds(scheduled * 1'000'000'000ULL / SAMPLE_RATE);
        const auto now = Clock::now();
        if (now - due > std::chrono::milliseconds(500)) {
            // Far behind (a suspended machine): drop the lag rather than mix it all at once.
            origin = now;
            scheduled = 0;
            continue;
        }
        if (due > now) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
            WaitForSingleObject(wakeup_, static_cast<DWORD>(ms));
        }
    }
}

} // namespace rkv
