#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <unistd.h>

#include "cli/commands.hpp"
#include "cli/device_output.hpp"
#include "cli/platform.hpp"
#include "cli/session.hpp"
#include "cli/terminal.hpp"
#include "render/song_renderer.hpp"

namespace rkv::cli {

namespace {

#ifdef _WIN32
constexpr const char* NULL_DEVICE = "NUL";
#else
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

// Runs `start` with standard error silenced: sound libraries print their own diagnostics there,
// several lines each, while the reason is reported once, in rkv's one error line.
template <typename F> bool quietly(F start) {
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int null = ::open(NULL_DEVICE, O_WRONLY);
    if (saved >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
    const bool ok = start();
    std::fflush(stderr);
    if (saved >= 0) {
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    return ok;
}

std::string clock(std::uint64_t frames) {
    const std::uint64_t tenths = frames * 10 / SAMPLE_RATE;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu:%02llu.%llu",
                  static_cast<unsigned long long>(tenths / 600),
                  static_cast<unsigned long long>(tenths / 10 % 60),
                  static_cast<unsigned long long>(tenths % 10));
    return buf;
}

// The one live line on standard error: song number, step, pass, time. Only drawn on a terminal.
class StatusLine {
  public:
    StatusLine() : shown_(isatty(STDERR_FILENO) != 0) {}
    ~StatusLine() {
        // Leave the cursor on a fresh line, the terminal as it was found.
        if (shown_ && drawn_) std::fputc('\n', stderr);
    }
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    bool shown() const { return shown_; }
    void draw(const std::string& text) {
        if (!shown_ || (drawn_ && text == text_)) return;
        drawn_ = true;
        text_ = text;
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
    }
    // A line of its own above the live one (a skipped song, the keys).
    void note(const std::string& line) {
        if (shown_ && drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

  private:
    bool shown_;
    std::string text_; // on the line now, when drawn_
    bool drawn_ = false;
};

// One song as the device plays it, rendered as it goes: from its first frame, or from a seek.
class Track final : public FrameSource {
  public:
    Track(std::string songName, Song&& song, std::uint64_t loops)
        : name(std::move(songName)), renderer(std::move(song)) {
        if (loops != renderer.repeat()) renderer.setRepeat(loops);
    }
    std::size_t read(float* stereo, std::size_t frames) override {
        return renderer.read(stereo, frames);
    }

    const std::string name;
    render::SongRenderer renderer; // read by the audio thread once attached
};

std::string statusText(const Track& track, std::size_t number, std::size_t count,
                       std::uint64_t frame, bool paused, int volume) {
    const render::SongTiming& timing = track.renderer.timing();
    const std::uint64_t tick =
        std::min(render::tickAtFrame(timing, frame), track.renderer.playLength().ticks - 1);
    const std::uint64_t pass = render::passAtTick(timing, tick);
    std::string text =
        "[" + std::to_string(number) + "/" + std::to_string(count) + "] playing " + track.name +
        "  step " + std::to_string(render::positionAtTick(timing, tick) + 1) + " of " +
        std::to_string(track.renderer.song().header.stepCount) + "  " +
        (pass == 0 ? "first pass" : "loop pass " + std::to_string(pass)) + "  " + clock(frame);
    if (track.renderer.length() != render::SongRenderer::FOREVER)
        text += " / " + clock(track.renderer.length());
    if (volume != 100) text += "  volume " + std::to_string(volume) + "%";
    if (paused) text += "  (paused)";
    return text;
}

// The sound device, opened once for the whole list and handed each song in turn.
class Device {
  public:
    ~Device() { stop(); }

    // Opens the device paused, pulling from `track`.
    void open(Track& track) {
        if (!quietly([&] { return output_.start(track); }))
            throw CliError(EXIT_NO_DEVICE,
                           "no sound device" +
                               (output_.error().empty() ? "" : ": " + output_.error()));
    }
    // From the next frame on the device plays `track`, which stands at `frame`.
    void attach(Track& track, std::uint64_t frame) {
#ifdef _WIN32
        // waveOut plays one source from start to stop: another song opens it again.
        (void)frame;
        output_.stop();
        open(track);
        output_.resume();
#else
        output_.attach(track, frame);
#endif
    }
#ifdef _WIN32
    // The console gives no keys: nothing pauses or changes the volume there.
    void pause() {}
    void setGain(float) {}
#else
    void pause() {
        output_.pause();
    }
    void setGain(float gain) {
        output_.setGain(gain);
    }
#endif
    void resume() {
        output_.resume();
    }
    std::uint64_t frame() const {
        return output_.framesMixed();
    }
    bool ended() const {
        return output_.ended();
    }
    bool lost() const {
        return output_.lost();
    }
    // When it returns, no song is read any more.
    void stop() {
        output_.stop();
    }

  private:
    DeviceOutput output_{true};
};

} // namespace

int runPlay(const PlayOptions& options) {
    // From here a terminating signal ends playing through the normal path, which closes the
    // device and gives the terminal back as it was.
    DeferredSignals signals;
    std::vector<std::optional<std::string>> songs(options.songs.begin(), options.songs.end());
    if (songs.empty()) songs.emplace_back(); // the built-in demo song
    const std::size_t count = songs.size();
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (options.shuffle)
        std::shuffle(order.begin(), order.end(), std::mt19937(std::random_device{}()));
    // One song loops until stopped; in a list each plays once unless --loops says otherwise.
    const std::uint64_t loops =
        options.loops.value_or(count > 1 ? 0 : render::SongRenderer::FOREVER);

    StatusLine status;
    ExitCode firstSkipped = EXIT_OK;
    std::vector<bool> dropped(count, false);
    std::size_t at = 0;
    // The first song from `from` on, in `step` direction, that loads; the others are reported
    // once and dropped. Null at the end of the list, or when a signal came.
    const auto find = [&](std::ptrdiff_t from, std::ptrdiff_t step) -> std::unique_ptr<Track> {
        for (std::size_t tried = 0; tried < count && platform::caughtSignal() == 0; ++tried) {
            if (from < 0) from = 0, step = 1; // before the first: the first again
            if (static_cast<std::size_t>(from) >= count) {
                if (!options.loopAll) return nullptr;
                from = 0;
            }
            const auto i = static_cast<std::size_t>(from);
            from += step;
            if (dropped[i]) continue;
            try {
                const auto& path = songs[order[i]];
                SongFile song = path ? readSongFile(*path) : builtinDemoSong();
                requirePlayable(song);
                auto track = std::make_unique<Track>(song.name, std::move(song.parsed.song), loops);
                at = i;
                return track;
            } catch (const CliError& e) {
                if (e.code() != EXIT_CANNOT_READ && e.code() != EXIT_REFUSED) throw;
                dropped[i] = true;
                if (firstSkipped == EXIT_OK) firstSkipped = e.code();
                if (platform::caughtSignal() == 0) status.note(std::string("rkv: ") + e.what());
            }
        }
        return nullptr;
    };
    const auto finish = [&] {
        const int signal = platform::caughtSignal();
        return signal ? EXIT_SIGNAL_BASE + signal : firstSkipped;
    };

    // Declared before the device, so the device is closed before any song it plays goes.
    std::unique_ptr<Track> track = find(0, 1);
    if (!track) return finish();
    Device device;
    device.open(*track);
    // The song read from standard input leaves no keys to read there.
    KeyInput keys(std::find(songs.begin(), songs.end(), "-") == songs.end());
    bool paused = false;
    int volume = 100;
    // To the start of a step: the song again in a fresh renderer, moved there while the device
    // plays on, then handed over.
    const auto seek = [&](bool byPass, bool forward) {
        const render::SongTiming& timing = track->renderer.timing();
        const std::uint64_t distance = byPass ? timing.loopPassSteps : 1;
        if (!timing.ticks || distance == 0) return;
        const std::uint64_t now = render::tickAtFrame(timing, device.frame());
        std::uint64_t target = forward ? now + distance : now - std::min(now, distance);
        target = std::min(target, track->renderer.playLength().ticks - 1);
        auto fresh = std::make_unique<Track>(track->name, Song(track->renderer.song()), loops);
        fresh->renderer.seekFrame(render::tickFrame(timing.stepTime, target));
        device.attach(*fresh, fresh->renderer.position().frame);
        track = std::move(fresh);
    };
    // A status line is kept up to date; without one, the loop wakes only when the song is due to
    // end, or twice a second to notice a lost device: a signal or a key wakes it at once anyway.
    const auto waitMs = [&](const Track& playing) {
        if (status.shown()) return 40;
        const std::uint64_t length = playing.renderer.length();
        if (length == render::SongRenderer::FOREVER) return 500;
        const std::uint64_t left = length - std::min(length, device.frame());
        return static_cast<int>(std::clamp<std::uint64_t>(
            left * 1000 / static_cast<std::uint64_t>(playing.renderer.rate()) + 1, 1, 500));
    };
    device.resume();
    for (;;) {
        if (platform::caughtSignal() != 0) break;
        if (device.lost()) {
            device.stop();
            throw CliError(EXIT_NO_DEVICE, "lost the sound device");
        }
        std::ptrdiff_t change = 0;
        bool quit = false;
        if (device.ended()) change = 1;
        for (const Key key : change ? std::vector<Key>{} : keys.wait(waitMs(*track))) {
            switch (key) {
            case Key::Pause:
                paused = !paused;
                if (paused)
                    device.pause();
                else
                    device.resume();
                break;
            case Key::StepBack:
                seek(false, false);
                break;
            case Key::StepForward:
                seek(false, true);
                break;
            case Key::PassBack:
                seek(true, false);
                break;
            case Key::PassForward:
                seek(true, true);
                break;
            case Key::Previous:
                change = -1;
                break;
            case Key::Next:
                change = 1;
                break;
            case Key::VolumeDown:
                volume = std::max(0, volume - 10);
                break;
            case Key::VolumeUp:
                volume = std::min(100, volume + 10);
                break;
            case Key::Quit:
                quit = true;
                break;
            case Key::Help:
                status.note(PLAY_KEYS_LINE);
                break;
            }
            device.setGain(static_cast<float>(volume) / 100.0f);
        }
        if (quit) break;
        if (change != 0) {
            auto next = find(static_cast<std::ptrdiff_t>(at) + change, change);
            if (!next) break;
            device.attach(*next, 0);
            track = std::move(next);
            if (paused) device.resume();
            paused = false;
            continue;
        }
        status.draw(statusText(*track, at + 1, count, device.frame(), paused, volume));
    }
    device.stop();
    return finish();
}

} // namespace rkv::cli
