#include "audio/waveout_output.hpp"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mmsystem.h>

namespace rkv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t FRAMES = WaveOutOutput::BUFFER_FRAMES * WaveOutOutput::CALLS_PER_BUFFER;
constexpr std::size_t PRIMING_BUFFERS = 2;

HWAVEOUT deviceOf(void* device) {
    return static_cast<HWAVEOUT>(device);
}

} // namespace

WaveOutOutput::WaveOutOutput(bool startPaused, const PlayState* state)
    : paused_(startPaused), state_(state) {}

WaveOutOutput::~WaveOutOutput() {
    stop();
}

bool WaveOutOutput::openDevice() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = SAMPLE_RATE;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = SAMPLE_RATE * 4;
    HWAVEOUT device = nullptr;
    const MMRESULT opened = waveOutOpen(&device, WAVE_MAPPER, &format,
                                        reinterpret_cast<DWORD_PTR>(done_), 0, CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        char text[MAXERRORLENGTH] = {};
        waveOutGetErrorTextA(opened, text, sizeof text);
        error_ = text;
        return false;
    }
    // Held until every buffer is queued: a device that starts on the first one can run dry
    // before the rest arrive.
    waveOutPause(device);
    device_ = device;
    for (std::size_t i = 0; i < BUFFERS; ++i) {
        WAVEHDR& h = headers_[i];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(pcm_.get() + 2 * FRAMES * i);
        h.dwBufferLength = 4 * FRAMES;
        waveOutPrepareHeader(device, &h, sizeof h);
    }
    return true;
}

void WaveOutOutput::closeDevice() {
    if (!device_) return;
    waveOutReset(deviceOf(device_));
    for (std::size_t i = 0; i < BUFFERS; ++i)
        waveOutUnprepareHeader(deviceOf(device_), &headers_[i], sizeof(WAVEHDR));
    waveOutClose(deviceOf(device_));
    device_ = nullptr;
}

bool WaveOutOutput::start(VoiceBank& bank) {
    return open(&bank, nullptr);
}

bool WaveOutOutput::start(FrameSource& source) {
    return open(nullptr, &source);
}

bool WaveOutOutput::open(VoiceBank* bank, FrameSource* source) {
    stop();
    error_.clear();
    done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    pcm_ = std::make_unique<std::int16_t[]>(2 * FRAMES * BUFFERS);
    headers_ = std::make_unique<WAVEHDR[]>(BUFFERS);
    if (!openDevice()) {
        CloseHandle(done_);
        done_ = nullptr;
        return false;
    }
    useDevice_ = true;
    source_ = source;
    sourceFrame_ = 0;
    ended_ = false;
    launch(bank);
    return true;
}

void WaveOutOutput::startSilent(VoiceBank& bank) {
    stop();
    useDevice_ = false;
    launch(&bank);
}

void WaveOutOutput::launch(VoiceBank* bank) {
    bank_ = bank;
    mix_ = std::make_unique<float[]>(2 * FRAMES);
    wakeup_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    stopping_ = false;
    thread_ = std::thread(&WaveOutOutput::run, this);
}

void WaveOutOutput::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        SetEvent(wakeup_);
        thread_.join();
    }
    closeDevice();
    for (void** event : {&done_, &wakeup_}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
    bank_ = nullptr;
    source_ = nullptr;
}

void WaveOutOutput::wake() {
    if (wakeup_) SetEvent(wakeup_);
}

void WaveOutOutput::resume() {
    paused_ = false;
    wake();
}

bool WaveOutOutput::idle() const {
    if (paused_) return true;
    if (!state_ || state_->playing.load()) return false;
    const std::lock_guard<std::recursive_mutex> guard(bank_->lock);
    for (const Voice& v : bank_->voices)
        if (v.playing) return false;
    return true;
}

bool WaveOutOutput::allReturned() const {
    for (std::size_t i = 0; i < BUFFERS; ++i)
        if (headers_[i].dwFlags & WHDR_INQUEUE) return false;
    return true;
}

void WaveOutOutput::fill(std::size_t index, bool silent) {
    WAVEHDR& h = headers_[index];
    if (silent) {
        std::memset(h.lpData, 0, h.dwBufferLength);
        waveOutWrite(deviceOf(device_), &h, sizeof h);
        return;
    }
    for (std::size_t call = 0; call < CALLS_PER_BUFFER; ++call) {
        float* mix = mix_.get() + 2 * BUFFER_FRAMES * call;
        if (source_) {
            const std::size_t got = source_->read(mix, BUFFER_FRAMES);
            std::fill(mix + 2 * got, mix + 2 * BUFFER_FRAMES, 0.0f);
            if (got < BUFFER_FRAMES) ended_ = true;
            sourceFrame_ += got;
        } else {
            mixFrames(*bank_, mix, BUFFER_FRAMES);
        }
    }
    framesMixed_.store(source_ ? sourceFrame_ : bank_->frame);
    if (!device_) return;
    floatToPcm16(mix_.get(), reinterpret_cast<std::int16_t*>(h.lpData), 2 * FRAMES);
    waveOutWrite(deviceOf(device_), &h, sizeof h);
}

void WaveOutOutput::run() {
    const HANDLE events[2] = {wakeup_, done_};
    // Without a device, every block is due at a fixed offset from the start, so waking late
    // never shifts the blocks after it.
    Clock::time_point origin = Clock::now();
    std::uint64_t scheduled = 0;
    std::size_t next = 0;
    while (!stopping_) {
        if (useDevice_) {
            if (idle()) {
                // Buffers still queued play out; then the device is closed until woken, which
                // also stops the sound system's own timers.
                if (device_ && allReturned()) closeDevice();
                WaitForMultipleObjects(device_ ? 2 : 1, events, FALSE, INFINITE);
                continue;
            }
            if (!device_) {
                if (!openDevice()) {
                    useDevice_ = false; // the device went away: keep time without it
                    continue;
                }
                // The first moments of a freshly started stream may stutter in the sound
                // system: they get silence, and the mixer starts behind it.
                for (next = 0; next < PRIMING_BUFFERS; ++next)
                    fill(next, true);
            }
            // Refilled in the order the device gives them back, so the frames stay in order.
            while (!stopping_ && !(headers_[next].dwFlags & WHDR_INQUEUE) && !idle()) {
                fill(next);
                next = (next + 1) % BUFFERS;
            }
            waveOutRestart(deviceOf(device_));
            WaitForMultipleObjects(2, events, FALSE, INFINITE);
            continue;
        }
        if (idle()) {
            WaitForSingleObject(wakeup_, INFINITE);
            origin = Clock::now();
            scheduled = 0;
            continue;
        }
        fill(0);
        scheduled += FRAMES;
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
