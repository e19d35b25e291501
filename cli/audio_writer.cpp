#include "cli/audio_writer.hpp"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

#include "cli/platform.hpp"
#include "cli/session.hpp"
#include "cli/wav_header.hpp"
#include "render/resampler.hpp"
#include "sound/voice_bank.hpp"
#ifndef _WIN32
#include "system/dynamic_library.hpp"
#endif

namespace rkv::cli {

namespace {

#ifdef _WIN32
// No pread or pwrite here: seek, then read or write (one thread owns the file).
ssize_t pwrite(int fd, const void* p, std::size_t n, sf_count_t at) {
    if (::_lseeki64(fd, at, SEEK_SET) < 0) return -1;
    return ::_write(fd, p, static_cast<unsigned>(n));
}
ssize_t pread(int fd, void* p, std::size_t n, sf_count_t at) {
    if (::_lseeki64(fd, at, SEEK_SET) < 0) return -1;
    return ::_read(fd, p, static_cast<unsigned>(n));
}
#else
using ::pread;
using ::pwrite;
#endif

// The sound-file library's calls: linked on Windows, loaded elsewhere when the first FLAC, Ogg or
// outsized WAV file is written (most runs never need the library and the codecs it pulls in).
struct Sndfile {
    decltype(&sf_open_virtual) openVirtual = nullptr;
    decltype(&sf_command) command = nullptr;
    decltype(&sf_strerror) errorText = nullptr;
    decltype(&sf_writef_float) writefFloat = nullptr;
    decltype(&sf_writef_short) writefShort = nullptr;
    decltype(&sf_write_raw) writeRaw = nullptr;
    decltype(&sf_close) close = nullptr;
    std::string error;
};

const Sndfile& sndfile() {
    static const Sndfile calls = [] {
        Sndfile c;
#ifdef _WIN32
        c = Sndfile{&sf_open_virtual, &sf_command,   &sf_strerror, &sf_writef_float,
                    &sf_writef_short, &sf_write_raw, &sf_close,    {}};
#else
        DynamicLibrary library("libsndfile.so.1");
        if (!(library.find("sf_open_virtual", c.openVirtual) &&
              library.find("sf_command", c.command) && library.find("sf_strerror", c.errorText) &&
              library.find("sf_writef_float", c.writefFloat) &&
              library.find("sf_writef_short", c.writefShort) &&
              library.find("sf_write_raw", c.writeRaw) && library.find("sf_close", c.close)))
            c.error = library.error();
#endif
        return c;
    }();
    return calls;
}

// WAV samples are little-endian: ours are written as they lie in memory.
static_assert(std::endian::native == std::endian::little);

bool endsWith(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = s[s.size() - suffix.size() + i];
        if (static_cast<char>(std::tolower(static_cast<unsigned char>(c))) != suffix[i])
            return false;
    }
    return true;
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
    std::uint64_t framesOut = 0; // after resampling

    bool toStdout = false;
    platform::PendingFile file; // the file being written, put in place by finish()
    int fd = -1;                // where the bytes go: the pending file or standard output
    // WAV is written here, the header first with the lengths known in advance (standard output
    // cannot seek back): its samples are already the file's bytes, and the library with its
    // codecs is then not loaded at all. A file too large for a WAV header is left to the library.
    bool ownWav = false;
    sf_count_t position = 0; // where the next bytes go
    sf_count_t length = 0;
    int writeErrno = 0; // the system's reason for a failed write, reported over the library's

    SNDFILE* sf = nullptr;
    std::unique_ptr<render::Resampler> resampler;
    // Not a vector: the resampler's pieces vary in size, and resizing would clear each new tail.
    std::unique_ptr<std::int16_t[]> pcm;
    std::size_t pcmRoom = 0;
    std::vector<float> clamped;

    [[noreturn]] void fail(const std::string& why) const {
        throw CliError(EXIT_CANNOT_WRITE, shownPath + ": cannot write: " + why);
    }
    [[noreturn]] void failWrite() const {
        fail(writeErrno ? std::strerror(writeErrno) : sndfile().errorText(sf));
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

    bool writeAll(const void* data, std::size_t n, sf_count_t at) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        while (n > 0) {
            const ssize_t w = toStdout ? ::write(fd, p, n) : pwrite(fd, p, n, at);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                writeErrno = w < 0 ? errno : EIO;
                return false;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
            at += w;
        }
        return true;
    }

    // The library's file, over `fd`: the system's errors are kept to be reported as they are.
    static Impl& self(void* user) { return *static_cast<Impl*>(user); }
    static sf_count_t vLength(void* user) { return self(user).length; }
    static sf_count_t vSeek(sf_count_t offset, int whence, void* user) {
        Impl& w = self(user);
        const sf_count_t base = whence == SEEK_CUR ? w.position : whence == SEEK_END ? w.length : 0;
        w.position = std::max<sf_count_t>(0, base + offset);
        return w.position;
    }
    static sf_count_t vRead(void* ptr, sf_count_t count, void* user) {
        Impl& w = self(user);
        if (count <= 0) return 0;
        const ssize_t n = pread(w.fd, ptr, static_cast<std::size_t>(count), w.position);
        if (n <= 0) return 0;
        w.position += n;
        return n;
    }
    static sf_count_t vWrite(const void* ptr, sf_count_t count, void* user) {
        Impl& w = self(user);
        if (!w.writeAll(ptr, static_cast<std::size_t>(count), w.position)) return 0;
        w.position += count;
        w.length = std::max(w.length, w.position);
        return count;
    }
    static sf_count_t vTell(void* user) { return self(user).position; }

    // The frames the output will hold once resampled.
    std::uint64_t outputFrames() const {
        return (totalFrames * static_cast<std::uint64_t>(format.rate) + SAMPLE_RATE / 2) /
               SAMPLE_RATE;
    }

    void putSamples(const void* data, std::size_t n) {
        if (!writeAll(data, n, position)) failWrite();
        position += static_cast<sf_count_t>(n);
    }

    void putHeader(std::uint64_t frames) {
        const std::vector<std::uint8_t> header =
            wavHeader(format.floatSamples, format.rate, frames);
        if (!writeAll(header.data(), header.size(), 0)) failWrite();
        position = static_cast<sf_count_t>(header.size());
    }

    void open() {
        SF_INFO info{};
        info.samplerate = format.rate;
        info.channels = 2;
        info.format = sndfileFormat(format);
        if (toStdout) {
            if (isatty(STDOUT_FILENO)) fail("refusing to write audio to a terminal");
            fd = STDOUT_FILENO;
        } else {
            std::string error;
            if (!platform::openPending(path, file, error)) fail(error);
            fd = file.fd;
        }
        const std::uint64_t dataBytes = outputFrames() * 2 * (format.floatSamples ? 4 : 2);
        ownWav = format.container == Container::Wav && (toStdout || dataBytes < UINT32_MAX - 4096);
        if (ownWav) {
            putHeader(outputFrames());
        } else {
            static SF_VIRTUAL_IO io{&vLength, &vSeek, &vRead, &vWrite, &vTell};
            if (!sndfile().error.empty()) fail(sndfile().error);
            sf = sndfile().openVirtual(&io, SFM_WRITE, &info, this);
            if (!sf) fail(writeErrno ? std::strerror(writeErrno) : sndfile().errorText(nullptr));
            // The peak chunk of a float file carries a time stamp: leave it out so equal renders
            // give equal files.
            sndfile().command(sf, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
        }

        if (format.rate != SAMPLE_RATE) {
            try {
                resampler = std::make_unique<render::Resampler>(SAMPLE_RATE, format.rate);
            } catch (const std::runtime_error& e) {
                fail(e.what());
            }
        }
    }

    void encode(const float* stereo, std::size_t frames) {
        // The streamed header promised a length: hold to it exactly.
        if (toStdout)
            frames = static_cast<std::size_t>(
                std::min<std::uint64_t>(frames, outputFrames() - framesOut));
        framesOut += frames;
        if (frames == 0) return;
        sf_count_t written = 0;
        const auto n = static_cast<sf_count_t>(frames);
        if (format.container == Container::Ogg) {
            // The encoder takes floats in [-1, 1], as the 16-bit formats clamp them.
            clamped.assign(stereo, stereo + 2 * frames);
            for (float& x : clamped)
                x = std::clamp(x, -1.0f, 1.0f);
            written = sndfile().writefFloat(sf, clamped.data(), n);
        } else if (format.floatSamples) {
            if (ownWav) return putSamples(stereo, 2 * frames * sizeof(float));
            written = sndfile().writefFloat(sf, stereo, n);
        } else {
            // 16-bit samples made exactly as the sound device gets them, not by the library.
            if (pcmRoom < 2 * frames) {
                pcm = std::make_unique_for_overwrite<std::int16_t[]>(2 * frames);
                pcmRoom = 2 * frames;
            }
            floatToPcm16(stereo, pcm.get(), 2 * frames);
            if (ownWav) return putSamples(pcm.get(), 2 * frames * sizeof(std::int16_t));
            if (format.container == Container::Wav) {
                // The samples are already the file's bytes: one write, not the library's 16 KB
                // copies.
                const auto bytes = static_cast<sf_count_t>(2 * frames * sizeof(std::int16_t));
                written = sndfile().writeRaw(sf, pcm.get(), bytes) == bytes ? n : 0;
            } else {
                written = sndfile().writefShort(sf, pcm.get(), n);
            }
        }
        if (written != n) failWrite();
    }

    void resample(const float* stereo, std::size_t frames) {
        // Called with null at the end to drain what the filter still holds.
        try {
            resampler->process(stereo, frames,
                               [this](const float* made, std::size_t n) { encode(made, n); });
        } catch (const CliError&) {
            throw; // the output failed, not the converter
        } catch (const std::runtime_error& e) {
            fail(e.what());
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

    void discard() {
        if (sf) sndfile().close(sf);
        sf = nullptr;
        platform::discardPending(file);
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
    if (w.toStdout && w.framesOut < w.outputFrames()) {
        std::vector<float> silence(2 * (w.outputFrames() - w.framesOut));
        w.encode(silence.data(), silence.size() / 2);
    }
    if (w.ownWav) {
        // The resampler may end a frame off the length foreseen: the file's header says what is
        // there.
        if (!w.toStdout && w.framesOut != w.outputFrames()) w.putHeader(w.framesOut);
    } else {
        SNDFILE* sf = w.sf;
        w.sf = nullptr;
        if (sndfile().close(sf) != 0 || w.writeErrno)
            w.fail(w.writeErrno ? std::strerror(w.writeErrno) : "cannot finish the file");
    }
    if (w.toStdout) return;
    std::string error;
    if (!platform::commitPending(w.file, error)) w.fail(error);
}

} // namespace rkv::cli
