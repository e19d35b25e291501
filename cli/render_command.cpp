#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "cli/audio_writer.hpp"
#include "cli/commands.hpp"
#include "cli/session.hpp"
#include "render/song_renderer.hpp"

namespace rkv::cli {

namespace {

// Written in chunks of 32768 frames (128 KB of 16-bit samples): few system calls, and still in
// the caches.
constexpr std::size_t CHUNK_FRAMES = 32768;

std::uint64_t secondsToFrames(double seconds, const char* option) {
    if (!std::isfinite(seconds) || seconds < 0 ||
        seconds * SAMPLE_RATE > static_cast<double>(MAX_RENDER_FRAMES)) {
        // Appended rather than added: GCC 12 at -O3 warns falsely on string + literal here.
        std::string message(option);
        message += " must be between 0 and 43200 seconds";
        throw CliError(EXIT_USAGE, message);
    }
    return static_cast<std::uint64_t>(std::llround(seconds * SAMPLE_RATE));
}

// A bar on standard error, drawn only when someone is watching it.
class Progress {
  public:
    Progress(const std::string& name, std::uint64_t total)
        : name_(name), total_(total), shown_(isatty(STDERR_FILENO) != 0) {}
    ~Progress() {
        if (shown_ && drawn_) std::fprintf(stderr, "\r\033[K");
    }
    void update(std::uint64_t done) {
        if (!shown_ || total_ == 0) return;
        const int percent = static_cast<int>(done * 100 / total_);
        if (percent == percent_) return;
        percent_ = percent;
        drawn_ = true;
        constexpr int WIDTH = 30;
        const int filled = percent * WIDTH / 100;
        std::fprintf(stderr, "\rrendering %s [%s%s] %3d%%", name_.c_str(),
                     std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(WIDTH - filled), '.').c_str(), percent);
        std::fflush(stderr);
    }

  private:
    std::string name_;
    std::uint64_t total_;
    bool shown_;
    bool drawn_ = false;
    int percent_ = -1;
};

} // namespace

int runRender(const RenderOptions& options) {
    const OutputFormat format = outputFormatFor(options.output, options.floatSamples, options.rate);
    const std::uint64_t fadeFrames = secondsToFrames(options.fadeSeconds, "--fade");
    std::uint64_t frames = options.seconds ? secondsToFrames(*options.seconds, "--seconds") : 0;

    SongFile file = readSongFile(options.song);
    requirePlayable(file);
    render::SongRenderer renderer(std::move(file.parsed.song));
    if (options.seconds) {
        // Exactly that long, looping as the player does.
        renderer.setRepeat(render::SongRenderer::FOREVER);
    } else {
        // The first pass, `loops` repeats, then the ring-out: the figures `rkv info` reports.
        renderer.setRepeat(options.loops.value_or(0));
        frames = renderer.length();
        if (frames > MAX_RENDER_FRAMES)
            throw CliError(EXIT_USAGE, options.song + ": too long to render (" +
                                           std::to_string(frames / SAMPLE_RATE / 3600) +
                                           " hours); give --seconds");
    }

    AudioWriter writer(options.output, format, frames, fadeFrames);
    Progress progress(options.song, frames);
    std::vector<float> buffer(2 * CHUNK_FRAMES);
    for (std::uint64_t done = 0; done < frames;) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(CHUNK_FRAMES, frames - done));
        renderer.read(buffer.data(), n);
        writer.write(buffer.data(), n);
        done += n;
        progress.update(done);
    }
    writer.finish();
    return EXIT_OK;
}

} // namespace rkv::cli
