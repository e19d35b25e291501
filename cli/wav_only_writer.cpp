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
#include "cli/wav_header.hpp"
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
    const std::vector<std::uint8_t> header = wavHeader(w.floatSamples, SAMPLE_RATE, frames);
    w.put(header.data(), header.size());
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
