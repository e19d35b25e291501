// The audio writer of a build without libsndfile and libsoxr (the Windows build CI tests): 16-bit
// or float WAV at 22050 Hz, with the same bytes as the full writer's. Other formats and rates are
// refused as not in this build.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <io.h>
#include <vector>

#include "cli/audio_writer.hpp"
#include "cli/platform.hpp"
#include "cli/session.hpp"
#include "sound/voice_bank.hpp"

namespace rkv::cli {

OutputFormat outputFormatFor(const std::string& path, bool floatSamples, int rate) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool wav = path == "-" || (lower.size() >= 4 && lower.ends_with(".wav"));
    if (!wav) throw CliError(EXIT_USAGE, path + ": this build writes .wav only");
    if (rate != SAMPLE_RATE) throw CliError(EXIT_USAGE, "this build writes 22050 Hz only");
    OutputFormat format;
    format.floatSamples = floatSamples;
    return format;
}

struct AudioWriter::Impl {
    std::string path, shownPath;
    bool floatSamples = false;
    std::uint64_t totalFrames = 0, fadeFrames = 0, framesIn = 0;
    platform::PendingFile file; // the file being written, put in place by finish()
    bool toFile = false;
    std::vector<std::uint8_t> bytes; // the whole file, for standard output
    std::vector<std::int16_t> pcm;

    [[noreturn]] void fail(const std::string& why) const {
        throw CliError(EXIT_CANNOT_WRITE, shownPath + ": cannot write: " + why);
    }
    void put(const void* data, std::size_t n) {
        if (toFile) {
            if (::_write(file.fd, data, static_cast<unsigned>(n)) != static_cast<int>(n))
                fail(std::strerror(errno));
        } else {
            const auto* p = static_cast<const std::uint8_t*>(data);
            bytes.insert(bytes.end(), p, p + n);
        }
    }
    void put32(std::uint32_t v) {
        const std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                                   std::uint8_t(v >> 24)};
        put(b, 4);
    }
    void put16(std::uint16_t v) {
        const std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
        put(b, 2);
    }
    // The header is complete up front: the frame count is known before the first frame. A float
    // file carries a fact chunk and a padding chunk, as the full writer's library writes them.
    void header() {
        const std::uint32_t sampleBytes = floatSamples ? 4 : 2;
        const auto data = static_cast<std::uint32_t>(totalFrames * 2 * sampleBytes);
        constexpr std::uint32_t PAD_BYTES = 24;
        const std::uint32_t extra = floatSamples ? 12 + 8 + PAD_BYTES : 0;
        put("RIFF", 4);
        put32(4 + 8 + 16 + extra + 8 + data);
        put("WAVEfmt ", 8);
        put32(16);
        put16(floatSamples ? 3 : 1);
        put16(2);
        put32(SAMPLE_RATE);
        put32(SAMPLE_RATE * 2 * sampleBytes);
        put16(static_cast<std::uint16_t>(2 * sampleBytes));
        put16(static_cast<std::uint16_t>(8 * sampleBytes));
        if (floatSamples) {
            put("fact", 4);
            put32(4);
            put32(static_cast<std::uint32_t>(totalFrames));
            put("PAD ", 4);
            put32(PAD_BYTES);
            const std::uint8_t zeros[PAD_BYTES] = {};
            put(zeros, PAD_BYTES);
        }
        put("data", 4);
        put32(data);
    }
    void discard() { platform::discardPending(file); }
    ~Impl() { discard(); }
};

AudioWriter::AudioWriter(const std::string& path, const OutputFormat& format, std::uint64_t frames,
                         std::uint64_t fadeFrames)
    : impl_(std::make_unique<Impl>()) {
    Impl& w = *impl_;
    w.path = path;
    w.shownPath = path == "-" ? "standard output" : path;
    w.floatSamples = format.floatSamples;
    w.totalFrames = frames;
    w.fadeFrames = std::min(fadeFrames, frames);
    w.toFile = path != "-";
    std::string error;
    if (w.toFile && !platform::openPending(path, w.file, error)) w.fail(error);
    w.header();
}

AudioWriter::~AudioWriter() {
    impl_->discard();
}

void AudioWriter::write(float* stereo, std::size_t frames) {
    Impl& w = *impl_;
    const std::uint64_t fadeStart = w.totalFrames - w.fadeFrames;
    for (std::size_t i = 0; w.fadeFrames && i < frames; ++i) {
        const std::uint64_t at = w.framesIn + i;
        if (at < fadeStart) continue;
        const auto gain = static_cast<float>(
            static_cast<double>(w.totalFrames - 1 - std::min(at, w.totalFrames - 1)) /
            static_cast<double>(w.fadeFrames));
        stereo[2 * i] *= gain;
        stereo[2 * i + 1] *= gain;
    }
    w.framesIn += frames;
    if (w.floatSamples) {
        w.put(stereo, 2 * frames * sizeof(float));
        return;
    }
    w.pcm.resize(2 * frames);
    floatToPcm16(stereo, w.pcm.data(), 2 * frames);
    w.put(w.pcm.data(), 2 * frames * sizeof(std::int16_t));
}

void AudioWriter::finish() {
    Impl& w = *impl_;
    if (!w.toFile) {
        if (std::fwrite(w.bytes.data(), 1, w.bytes.size(), stdout) != w.bytes.size() ||
            std::fflush(stdout) != 0)
            w.fail(std::strerror(errno));
        return;
    }
    std::string error;
    if (!platform::commitPending(w.file, error)) w.fail(error);
}

} // namespace rkv::cli
