#include "audio/waveout_output.hpp"

#include <windows.h>

#include <chrono>
#include <mmsystem.h>

namespace rkv {

namespace {

using Clock = std::chrono::steady_clock;

HWAVEOUT deviceOf(void* device) {
    return static_cast<HWAVEOUT>(device);
}

} // namespace

WaveOutOutput::WaveOutOutput(bool startPaused, const PlayState* state)
    : paused_(startPaused), state_(state) {}

WaveOutOutput::~WaveOutOutput() {
    stop();
}

bool WaveOutOutput::start(VoiceBank& bank) {
    stop();
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = SAMPLE_RATE;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = SAMPLE_RATE * 4;
    done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWAVEOUT device = nullptr;
    const MMRESULT opened = waveOutOpen(&device, WAVE_MAPPER, &format,
                                        reinterpret_cast<DWORD_PTR>(done_), 0, CALLBACK_EVENT);
    error_.clear();
    if (opened != MMSYSERR_NOERROR) {
        char text[MAXERRORLENGTH] = {};
        waveOutGetErrorTextA(opened, text, sizeof text);
        error_ = text;
        CloseHandle(done_);
        done_ = nullptr;
        return false;
    }
    device_ = device;
    pcm_ = std::make_unique<std::int16_t[]>(2 * BUFFER_FRAMES * BUFFERS);
    headers_ = std::make_unique<WAVEHDR[]>(BUFFERS);
    for (std::size_t i = 0; i < BUFFERS; ++i) {
        WAVEHDR& h = headers_[i];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(pcm_.get() + 2 * BUFFER_FRAMES * i);
        h.dwBufferLength = 4 * BUFFER_FRAMES;
        waveOutPrepareHeader(device, &h, sizeof h);
    }
    launch(bank);
    return true;
}

void WaveOutOutput::startSilent(VoiceBank& bank) {
    stop();
    launch(bank);
}

void WaveOutOutput::launch(VoiceBank& bank) {
    bank_ = &bank;
    mix_ = std::make_unique<float[]>(2 * BUFFER_FRAMES);
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
    if (device_) {
        waveOutReset(deviceOf(device_));
        for (std::size_t i = 0; i < BUFFERS; ++i)
            waveOutUnprepareHeader(deviceOf(device_), &headers_[i], sizeof(WAVEHDR));
        waveOutClose(deviceOf(device_));
        device_ = nullptr;
    }
    for (void** event : {&done_, &wakeup_}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
    bank_ = nullptr;
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

void WaveOutOutput::fill(std::size_t index) {
    mixFrames(*bank_, mix_.get(), BUFFER_FRAMES);
    if (!device_) return;
    WAVEHDR& h = headers_[index];
    floatToPcm16(mix_.get(), reinterpret_cast<std::int16_t*>(h.lpData), 2 * BUFFER_FRAMES);
    waveOutWrite(deviceOf(device_), &h, sizeof h);
}

void WaveOutOutput::run() {
    const HANDLE events[2] = {wakeup_, done_};
    // Without a device, every block is due at a fixed offset from the start, so waking late
    // never shifts the blocks after it.
    Clock::time_point origin = Clock::now();
    std::uint64_t scheduled = 0;
    while (!stopping_) {
        if (idle()) {
            // Buffers still queued play out; nothing new goes to the device until woken.
            WaitForMultipleObjects(device_ ? 2 : 1, events, FALSE, INFINITE);
            origin = Clock::now();
            scheduled = 0;
            continue;
        }
        if (device_) {
            for (std::size_t i = 0; i < BUFFERS && !stopping_; ++i)
                if (!(headers_[i].dwFlags & WHDR_INQUEUE) && !idle()) fill(i);
            WaitForMultipleObjects(2, events, FALSE, INFINITE);
            continue;
        }
        fill(0);
        scheduled += BUFFER_FRAMES;
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
