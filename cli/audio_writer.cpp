#include "cli/audio_writer.hpp"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli/session.hpp"
#include "sound/voice_bank.hpp"

namespace rkv::cli {

namespace {

bool endsWith(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = s[s.size() - suffix.size() + i];
        if (static_cast<char>(std::tolower(static_cast<unsigned char>(c))) != suffix[i])
            return false;
    }
    return true;
}

std::string errnoText() {
    return std::strerror(errno);
}

} // namespace

OutputFormat outputFormatFor(const std::string& path, bool floatSamples, int rate) {
    OutputFormat format;
    format.rate = rate;
    format.floatSamples = floatSamples;
    if (path == "-" || endsWith(path, ".wav"))
        format.container = Container::Wav;
    else if (endsWith(path, ".flac"))
        format.container = Container::Flac;
    else if (endsWith(path, ".ogg") || endsWith(path, ".oga"))
        format.container = Container::Ogg;
    else
        throw CliError(EXIT_USAGE, path + ": unknown output format (use .wav, .flac or .ogg)");
    if (floatSamples && format.container != Container::Wav)
        throw CliError(EXIT_USAGE, path + ": --float needs a .wav output");
    if (rate != 22050 && rate != 44100 && rate != 48000)
        throw CliError(EXIT_USAGE, "--rate must be 22050, 44100 or 48000");
    return format;
}

struct AudioWriter::Impl {
    std::string path;
    std::string shownPath; // for messages
    OutputFormat format;
    std::uint64_t totalFrames = 0;
    std::uint64_t fadeFrames = 0;
    std::uint64_t framesIn = 0;

    bool toStdout = false;
    std::string tempPath;             // the file being written, renamed into place by finish()
    std::vector<std::uint8_t> memory; // standard output's WAV, built here first
    sf_count_t memoryPos = 0;

    SNDFILE* sf = nullptr;
    soxr_t resampler = nullptr;
    std::vector<float> resampled;
    std::vector<std::int16_t> pcm;
    std::vector<float> clamped;
    bool finished = false;

    [[noreturn]] void fail(const std::string& why) const {
        throw CliError(EXIT_CANNOT_WRITE, shownPath + ": cannot write: " + why);
    }

    static int sndfileFormat(const OutputFormat& f) {
        switch (f.container) {
        case Container::Flac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case Container::Ogg:
            return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case Container::Wav:
            break;
        }
        return SF_FORMAT_WAV | (f.floatSamples ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    }

    // Virtual file over `memory`, for standard output.
    static sf_count_t vLength(void* user) {
        return static_cast<sf_count_t>(static_cast<Impl*>(user)->memory.size());
    }
    static sf_count_t vSeek(sf_count_t offset, int whence, void* user) {
        auto* self = static_cast<Impl*>(user);
        sf_count_t base = 0;
        if (whence == SEEK_CUR) base = self->memoryPos;
        if (whence == SEEK_END) base = static_cast<sf_count_t>(self->memory.size());
        self->memoryPos = std::max<sf_count_t>(0, base + offset);
        return self->memoryPos;
    }
    static sf_count_t vRead(void* ptr, sf_count_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const auto size = static_cast<sf_count_t>(self->memory.size());
        const sf_count_t n = std::clamp<sf_count_t>(size - self->memoryPos, 0, count);
        std::memcpy(ptr, self->memory.data() + self->memoryPos, static_cast<std::size_t>(n));
        self->memoryPos += n;
        return n;
    }
    static sf_count_t vWrite(const void* ptr, sf_count_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const auto end = static_cast<std::size_t>(self->memoryPos + count);
        if (end > self->memory.size()) self->memory.resize(end);
        std::memcpy(self->memory.data() + self->memoryPos, ptr, static_cast<std::size_t>(count));
        self->memoryPos += count;
        return count;
    }
    static sf_count_t vTell(void* user) { return static_cast<Impl*>(user)->memoryPos; }

    void open() {
        SF_INFO info{};
        info.samplerate = format.rate;
        info.channels = 2;
        info.format = sndfileFormat(format);
        if (toStdout) {
            if (isatty(STDOUT_FILENO)) fail("refusing to write audio to a terminal");
            static SF_VIRTUAL_IO io{&vLength, &vSeek, &vRead, &vWrite, &vTell};
            sf = sf_open_virtual(&io, SFM_WRITE, &info, this);
        } else {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fail("Is a directory");
            // A hidden sibling, renamed over the target only once complete: no partial file ever
            // carries the output's name, and a failed render leaves nothing behind.
            const std::size_t slash = path.rfind('/');
            const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
            const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
            tempPath = (slash == std::string::npos ? "./" : dir) + "." + base + ".XXXXXX";
            const int fd = mkstemp(tempPath.data());
            if (fd < 0) {
                tempPath.clear();
                fail(errnoText());
            }
            sf = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
            if (!sf) ::close(fd);
        }
        if (!sf) fail(sf_strerror(nullptr));
        // The peak chunk of a float file carries a time stamp: leave it out so equal renders give
        // equal files.
        sf_command(sf, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

        if (format.rate != SAMPLE_RATE) {
            soxr_error_t error = nullptr;
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            resampler = soxr_create(SAMPLE_RATE, format.rate, 2, &error, &io, &quality, nullptr);
            if (!resampler) fail(std::string("resampler: ") + (error ? error : "cannot start"));
        }
    }

    void encode(const float* stereo, std::size_t frames) {
        if (frames == 0) return;
        sf_count_t written = 0;
        const auto n = static_cast<sf_count_t>(frames);
        if (format.container == Container::Ogg) {
            // The encoder takes floats in [-1, 1], as the 16-bit formats clamp them.
            clamped.assign(stereo, stereo + 2 * frames);
            for (float& x : clamped)
                x = std::clamp(x, -1.0f, 1.0f);
            written = sf_writef_float(sf, clamped.data(), n);
        } else if (format.floatSamples) {
            written = sf_writef_float(sf, stereo, n);
        } else {
            // 16-bit samples made exactly as the sound device gets them, not by the library.
            pcm.resize(2 * frames);
            floatToPcm16(stereo, pcm.data(), 2 * frames);
            if (format.container == Container::Wav && std::endian::native == std::endian::little) {
                // The samples are already the file's bytes: one write, not the library's 16 KB
                // copies.
                const auto bytes = static_cast<sf_count_t>(pcm.size() * sizeof(std::int16_t));
                written = sf_write_raw(sf, pcm.data(), bytes) == bytes ? n : 0;
            } else {
                written = sf_writef_short(sf, pcm.data(), n);
            }
        }
        if (written != n) fail(sf_strerror(sf));
    }

    void resample(const float* stereo, std::size_t frames) {
        // Called with null at the end to drain what the filter still holds.
        std::size_t offered = 0;
        for (;;) {
            const std::size_t room = frames == 0 ? 4096 : frames * 48000 / SAMPLE_RATE + 64;
            resampled.resize(2 * room);
            std::size_t used = 0;
            std::size_t made = 0;
            const soxr_error_t error =
                soxr_process(resampler, stereo ? stereo + 2 * offered : nullptr, frames - offered,
                             &used, resampled.data(), room, &made);
            if (error) fail(std::string("resampler: ") + error);
            encode(resampled.data(), made);
            offered += used;
            if (stereo ? offered >= frames && made < room : made == 0) break;
        }
    }

    void applyFade(float* stereo, std::size_t frames) {
        if (fadeFrames == 0) return;
        const std::uint64_t fadeStart = totalFrames - fadeFrames;
        for (std::size_t i = 0; i < frames; ++i) {
            const std::uint64_t at = framesIn + i;
            if (at < fadeStart) continue;
            // From (almost) full at the first faded frame down to silence on the last frame.
            const auto gain = static_cast<float>(
                static_cast<double>(totalFrames - 1 - std::min(at, totalFrames - 1)) /
                static_cast<double>(fadeFrames));
            stereo[2 * i] *= gain;
            stereo[2 * i + 1] *= gain;
        }
    }

    void writeStdout() {
        std::size_t done = 0;
        while (done < memory.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, memory.data() + done, memory.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail(errnoText());
            done += static_cast<std::size_t>(n);
        }
    }

    void discard() {
        if (sf) sf_close(sf);
        sf = nullptr;
        if (!tempPath.empty()) std::remove(tempPath.c_str());
        tempPath.clear();
    }
};

AudioWriter::AudioWriter(const std::string& path, const OutputFormat& format, std::uint64_t frames,
                         std::uint64_t fadeFrames)
    : impl_(std::make_unique<Impl>()) {
    Impl& w = *impl_;
    w.path = path;
    w.toStdout = path == "-";
    w.shownPath = w.toStdout ? "standard output" : path;
    w.format = format;
    w.totalFrames = frames;
    w.fadeFrames = std::min(fadeFrames, frames);
    try {
        w.open();
    } catch (...) {
        w.discard();
        throw;
    }
}

AudioWriter::~AudioWriter() {
    if (impl_->resampler) soxr_delete(impl_->resampler);
    impl_->discard();
}

void AudioWriter::write(float* stereo, std::size_t frames) {
    Impl& w = *impl_;
    w.applyFade(stereo, frames);
    w.framesIn += frames;
    if (w.resampler)
        w.resample(stereo, frames);
    else
        w.encode(stereo, frames);
}

void AudioWriter::finish() {
    Impl& w = *impl_;
    if (w.resampler) w.resample(nullptr, 0);
    SNDFILE* sf = w.sf;
    w.sf = nullptr;
    if (sf_close(sf) != 0) w.fail("cannot finish the file");
    if (w.toStdout) {
        w.writeStdout();
        return;
    }
    // mkstemp makes the file private; give it the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(w.tempPath.c_str(), 0666 & ~mask);
    if (std::rename(w.tempPath.c_str(), w.path.c_str()) != 0) w.fail(errnoText());
    w.tempPath.clear();
}

} // namespace rkv::cli
