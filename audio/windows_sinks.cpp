#include <windows.h>

#include <audioclient.h>
#include <cstring>
#include <mmdeviceapi.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "audio/windows_sink.hpp"
#include "sound/voice_bank.hpp"

namespace rkv {

namespace {

WAVEFORMATEX pcm16Stereo() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = SAMPLE_RATE;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = SAMPLE_RATE * 4;
    return format;
}

template <typename T> void release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

// {BCDE0395-E52F-467C-8E3D-C4579291692E}
constexpr CLSID DEVICE_ENUMERATOR = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};

class AudioClientSink final : public WindowsSink {
  public:
    explicit AudioClientSink(std::size_t bufferFrames) : wanted_(bufferFrames) {}
    ~AudioClientSink() override { close(); }

    bool open(void* /*ready*/, std::string& error) override {
        IMMDeviceEnumerator* devices = nullptr;
        HRESULT hr =
            CoCreateInstance(DEVICE_ENUMERATOR, nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                             reinterpret_cast<void**>(&devices));
        if (SUCCEEDED(hr)) {
            hr = devices->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
            devices->Release();
        }
        if (SUCCEEDED(hr))
            hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                   reinterpret_cast<void**>(&client_));
        const WAVEFORMATEX format = pcm16Stereo();
        const auto duration = static_cast<REFERENCE_TIME>(wanted_ * 10'000'000ULL / SAMPLE_RATE);
        // Polled, not event-driven. Under Wine the thread that moves our queued frames on to
        // the sound server also sets the event, through the wine server and holding its own
        // lock; the wine server stops answering while it rewrites its registry files (every 30 s
        // after any change, 50 to 100 ms on a busy machine), and that thread stopped with it
        // until the sound server's short queue ran dry. Without the event it never waits on the
        // wine server, and the frames we queued keep flowing.
        if (SUCCEEDED(hr)) {
            hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, duration, 0, &format, nullptr);
            // A mixer running at another rate or format converts ours when asked to.
            if (FAILED(hr))
                hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                         AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                             AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                                         duration, 0, &format, nullptr);
        }
        // Looked at twice per period of the shared mixer.
        REFERENCE_TIME period = 0;
        if (SUCCEEDED(hr) && SUCCEEDED(client_->GetDevicePeriod(&period, nullptr)))
            pollMs_ = static_cast<unsigned>(std::clamp<REFERENCE_TIME>(period / 20'000, 1, 10));
        if (SUCCEEDED(hr)) hr = client_->GetBufferSize(&size_);
        if (SUCCEEDED(hr))
            hr = client_->GetService(__uuidof(IAudioRenderClient),
                                     reinterpret_cast<void**>(&render_));
        if (SUCCEEDED(hr)) return true;
        char text[64];
        std::snprintf(text, sizeof text, "no audio client (error 0x%08lx)",
                      static_cast<unsigned long>(hr));
        error = text;
        close();
        return false;
    }

    void close() override {
        if (client_) client_->Stop();
        release(render_);
        release(client_);
        release(device_);
    }

    unsigned pollMs() const override { return pollMs_; }

    std::size_t room() override {
        // Never more than asked for ahead of the speaker, even when the buffer came out larger.
        const std::size_t limit = std::min<std::size_t>(size_, wanted_);
        const std::size_t ahead = padding();
        return ahead < limit ? limit - ahead : 0;
    }

    void write(const std::int16_t* frames, std::size_t count) override {
        BYTE* data = nullptr;
        if (FAILED(render_->GetBuffer(static_cast<UINT32>(count), &data))) return;
        std::memcpy(data, frames, 4 * count);
        render_->ReleaseBuffer(static_cast<UINT32>(count), 0);
    }

    void play() override { client_->Start(); }

    std::size_t queued() override { return padding(); }

    bool drained() override { return padding() == 0; }

  private:
    std::size_t padding() {
        UINT32 frames = 0;
        return SUCCEEDED(client_->GetCurrentPadding(&frames)) ? frames : 0;
    }

    std::size_t wanted_;
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioRenderClient* render_ = nullptr;
    UINT32 size_ = 0;
    unsigned pollMs_ = 5;
};

class WaveOutSink final : public WindowsSink {
  public:
    WaveOutSink(std::size_t bufferFrames, std::size_t buffers)
        : frames_(bufferFrames), headers_(buffers),
          pcm_(std::make_unique<std::int16_t[]>(2 * bufferFrames * buffers)) {}
    ~WaveOutSink() override { close(); }

    bool open(void* ready, std::string& error) override {
        const WAVEFORMATEX format = pcm16Stereo();
        const MMRESULT opened = waveOutOpen(&device_, WAVE_MAPPER, &format,
                                            reinterpret_cast<DWORD_PTR>(ready), 0, CALLBACK_EVENT);
        if (opened != MMSYSERR_NOERROR) {
            char text[MAXERRORLENGTH] = {};
            waveOutGetErrorTextA(opened, text, sizeof text);
            error = text;
            device_ = nullptr;
            return false;
        }
        // Held until every buffer is queued: a device that starts on the first one can run dry
        // before the rest arrive.
        waveOutPause(device_);
        for (std::size_t i = 0; i < headers_.size(); ++i) {
            WAVEHDR& h = headers_[i];
            h = WAVEHDR{};
            h.lpData = reinterpret_cast<LPSTR>(pcm_.get() + 2 * frames_ * i);
            h.dwBufferLength = static_cast<DWORD>(4 * frames_);
            waveOutPrepareHeader(device_, &h, sizeof h);
        }
        next_ = 0;
        filled_ = 0;
        return true;
    }

    unsigned pollMs() const override { return 0; }

    void close() override {
        if (!device_) return;
        waveOutReset(device_);
        for (WAVEHDR& h : headers_)
            waveOutUnprepareHeader(device_, &h, sizeof h);
        waveOutClose(device_);
        device_ = nullptr;
    }

    // Buffers are refilled in the order the device gives them back, so the frames stay in order.
    std::size_t room() override {
        return (headers_[next_].dwFlags & WHDR_INQUEUE) ? 0 : frames_ - filled_;
    }

    void write(const std::int16_t* frames, std::size_t count) override {
        WAVEHDR& h = headers_[next_];
        std::memcpy(h.lpData + 4 * filled_, frames, 4 * count);
        filled_ += count;
        if (filled_ == frames_) submit();
    }

    // A part-filled buffer (the last frames before the output goes idle) is sent as it is.
    void play() override {
        if (filled_ > 0) submit();
        waveOutRestart(device_);
    }

    std::size_t queued() override {
        std::size_t frames = filled_;
        for (const WAVEHDR& h : headers_)
            if (h.dwFlags & WHDR_INQUEUE) frames += h.dwBufferLength / 4;
        return frames;
    }

    bool drained() override {
        for (const WAVEHDR& h : headers_)
            if (h.dwFlags & WHDR_INQUEUE) return false;
        return true;
    }

  private:
    void submit() {
        WAVEHDR& h = headers_[next_];
        h.dwBufferLength = static_cast<DWORD>(4 * filled_);
        waveOutWrite(device_, &h, sizeof h);
        next_ = (next_ + 1) % headers_.size();
        filled_ = 0;
    }

    std::size_t frames_;
    std::vector<WAVEHDR> headers_;
    std::unique_ptr<std::int16_t[]> pcm_;
    HWAVEOUT device_ = nullptr;
    std::size_t next_ = 0, filled_ = 0;
};

} // namespace

std::unique_ptr<WindowsSink> makeAudioClientSink(std::size_t bufferFrames) {
    return std::make_unique<AudioClientSink>(bufferFrames);
}

std::unique_ptr<WindowsSink> makeWaveOutSink(std::size_t bufferFrames, std::size_t buffers) {
    return std::make_unique<WaveOutSink>(bufferFrames, buffers);
}

} // namespace rkv
