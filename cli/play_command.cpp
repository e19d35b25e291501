#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <thread>
#include <unistd.h>

#ifdef _WIN32
#include "audio/waveout_output.hpp"
#else
#include "audio/sdl_output.hpp"
#endif
#include "cli/commands.hpp"
#include "cli/platform.hpp"
#include "cli/session.hpp"
#include "render/song_renderer.hpp"

namespace rkv::cli {

namespace {

#ifdef _WIN32
using DeviceOutput = WaveOutOutput;
constexpr const char* NULL_DEVICE = "NUL";
#else
using DeviceOutput = SdlOutput;
constexpr const char* NULL_DEVICE = "/dev/null";
#endif

// Ctrl-C and a polite kill end playback through the normal path, which stops the device and
// leaves the terminal on a fresh line.
class DeferredSignals {
  public:
    DeferredSignals() { platform::deferSignals(true); }
    ~DeferredSignals() { platform::deferSignals(false); }
    DeferredSignals(const DeferredSignals&) = delete;
    DeferredSignals& operator=(const DeferredSignals&) = delete;
};

// Opens the device with standard error silenced: sound libraries print their own diagnostics
// there, several lines each, while the reason is reported once, in rkv's one error line.
class QuietStart final : public SoundDevice {
  public:
    explicit QuietStart(SoundDevice& device) : device_(device) {}
    bool start(VoiceBank& bank) override {
        std::fflush(stderr);
        const int saved = ::dup(STDERR_FILENO);
        const int null = ::open(NULL_DEVICE, O_WRONLY);
        if (saved >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
        if (null >= 0) ::close(null);
        const bool ok = device_.start(bank);
        std::fflush(stderr);
        if (saved >= 0) {
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
        }
        return ok;
    }
    void stop() override { device_.stop(); }

  private:
    SoundDevice& device_;
};

std::string clock(std::uint64_t frames) {
    const std::uint64_t tenths = frames * 10 / SAMPLE_RATE;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu:%02llu.%llu",
                  static_cast<unsigned long long>(tenths / 600),
                  static_cast<unsigned long long>(tenths / 10 % 60),
                  static_cast<unsigned long long>(tenths % 10));
    return buf;
}

// The one live line on standard error: step, pass and time. Only drawn on a terminal.
class StatusLine {
  public:
    StatusLine(std::string name, std::optional<std::uint64_t> totalFrames)
        : name_(std::move(name)), total_(totalFrames), shown_(isatty(STDERR_FILENO) != 0) {}
    ~StatusLine() {
        // Leave the cursor on a fresh line, the terminal as it was found.
        if (shown_ && drawn_) std::fputc('\n', stderr);
    }
    void draw(std::int32_t step, std::int32_t steps, std::uint64_t pass, std::uint64_t frames) {
        if (!shown_) return;
        drawn_ = true;
        const std::string where = pass == 0 ? "first pass" : "loop pass " + std::to_string(pass);
        std::string time = clock(frames);
        if (total_) time += " / " + clock(*total_);
        std::fprintf(stderr, "\r\033[Kplaying %s  step %d of %d  %s  %s", name_.c_str(),
                     static_cast<int>(step) + 1, static_cast<int>(steps), where.c_str(),
                     time.c_str());
        std::fflush(stderr);
    }

  private:
    std::string name_;
    std::optional<std::uint64_t> total_;
    bool shown_;
    bool drawn_ = false;
};

} // namespace

int runPlay(const PlayOptions& options) {
    SongFile song = options.song ? readSongFile(*options.song) : builtinDemoSong();
    const std::string name = song.name;

    // The device opens paused, so nothing is mixed (and no frame counted) until the song is
    // loaded and step 0 is set to sound on the first frame: the stream matches `rkv render`.
    auto player = std::make_unique<Player>();
    DeviceOutput output(true);
    QuietStart quietOutput(output);
    try {
        startPlayer(*player, quietOutput, std::move(song));
    } catch (const CliError& e) {
        if (e.code() != EXIT_NO_DEVICE) throw;
        throw CliError(EXIT_NO_DEVICE,
                       "no sound device" + (output.error().empty() ? "" : ": " + output.error()));
    }

    const render::SongTiming timing = render::songTiming(player->song.header);
    std::uint64_t ticks = TickLimit::UNLIMITED;
    std::optional<std::uint64_t> endFrame;
    if (options.loops) {
        const render::PlayLength length =
            render::songLength(player->song, drumKitVoices(player->bank), *options.loops);
        ticks = length.ticks;
        endFrame = length.frames();
    }

    DeferredSignals signals;
    {
        TickLimit limit(*player, ticks);
        StatusLine status(name, endFrame);
        limit.start();
        output.resume();
        for (;;) {
            const std::uint64_t frame = output.framesMixed();
            if (platform::caughtSignal() != 0 || (endFrame && frame >= *endFrame)) break;
            if (output.lost()) {
                output.stop();
                throw CliError(EXIT_NO_DEVICE, "lost the sound device");
            }
            const std::uint64_t played = limit.ticksPlayed();
            const std::uint64_t tick = played == 0 ? 0 : played - 1;
            status.draw(player->state.position.load(), player->song.header.stepCount,
                        render::passAtTick(timing, tick), frame);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        // Closed before the limit and the player go: the audio thread uses both.
        output.stop();
    }
    const int signal = platform::caughtSignal();
    return signal ? EXIT_SIGNAL_BASE + signal : EXIT_OK;
}

} // namespace rkv::cli
