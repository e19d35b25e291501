// rkv: the command-line face of the player: describe, render and play .rkv songs.
#include <CLI/CLI.hpp>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <new>
#include <string>

#include "cli/commands.hpp"
#include "cli/platform.hpp"
#include "cli/session.hpp"
#include "cli/terminal.hpp"
#include "sound/voice_bank.hpp"

namespace {

constexpr const char* EXIT_CODES = R"(Exit codes:
  0  success
  1  usage error (unknown option, bad value)
  2  a file cannot be opened or read
  3  a file is refused (not a song, or values the player cannot play)
  4  the output cannot be written (a full disk, a file-size limit, a closed pipe)
  5  no sound device
  6  out of memory
  7  internal error
  128+N  ended by signal N (130 for Ctrl-C); an unfinished output file is removed)";

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n') c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// Help in two clean columns: the option and its value type on the left, everything said about it
// (also what it cannot be combined with) on the right.
class HelpFormatter final : public CLI::Formatter {
  public:
    HelpFormatter() { column_width(34); }
    std::string make_option_opts(const CLI::Option* opt) const override {
        std::string opts = CLI::Formatter::make_option_opts(opt);
        const std::size_t cut = opts.find(" Excludes:");
        if (cut != std::string::npos) opts.erase(cut);
        return opts;
    }
    std::string make_option_desc(const CLI::Option* opt) const override {
        std::string desc = CLI::Formatter::make_option_desc(opt);
        for (const CLI::Option* other : opt->get_excludes())
            desc += " (not with " + other->get_name() + ")";
        return desc;
    }
};

// A range check whose message says the limit in words (CLI11's own prints the largest double).
CLI::Validator between(double low, double high, const std::string& what) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            double value = 0;
            if (CLI::detail::lexical_cast(text, value) && value >= low && value <= high) return {};
            return "must be " + what + ", not " + text;
        },
        "", "");
}

int run(int argc, char** argv) {
    using namespace rkv::cli;
#ifdef _WIN32
    // The WAV that `-o -` writes is binary: no newline translation.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const CLI::Validator LOOP_COUNT =
        between(0, 18446744073709551615.0, "a whole number, 0 or more");
    CLI::App app{"rkv: describe, render and play .rkv step-sequenced songs.", "rkv"};
    app.formatter(std::make_shared<HelpFormatter>());
    app.footer(EXIT_CODES);
    app.require_subcommand(1);
    // With the mixer's vector path: a speed report needs it as much as the version.
    app.set_version_flag("--version", std::function<std::string()>([] {
                             return std::string("rkv " RKV_VERSION "\nmixer: ") +
                                    rkv::mixerVectors();
                         }));
    app.fallthrough(false);

    InfoOptions info;
    CLI::App* infoCmd = app.add_subcommand(
        "info", "Show timing, instruments, drums and what the player treats specially");
    infoCmd->add_option("songs", info.songs, "Song files (.rkv)")->required()->expected(-1);
    infoCmd->add_flag("--json", info.json, "Print JSON: an object per file, an array for several");
    infoCmd
        ->add_option("--loops", info.loops,
                     "Size the render figures for this many loop repeats (default 0)")
        ->check(LOOP_COUNT);

    RenderOptions render;
    CLI::App* renderCmd = app.add_subcommand(
        "render", "Render a song to an audio file (.wav, .flac, .ogg; '-o -' is WAV on stdout)");
    renderCmd->add_option("song", render.song, "Song file (.rkv)")->required();
    renderCmd->add_option("-o,--output", render.output, "Output file, or - for standard output")
        ->required();
    CLI::Option* seconds =
        renderCmd
            ->add_option("--seconds", render.seconds,
                         "Render exactly this many seconds, looping as the player does")
            ->check(between(0, 43200, "between 0 and 43200 seconds"));
    CLI::Option* loops =
        renderCmd
            ->add_option("--loops", render.loops,
                         "Play the first pass, N repeats of the loop, then let voices ring out "
                         "(default 0)")
            ->check(LOOP_COUNT);
    seconds->excludes(loops);
    renderCmd->add_option("--fade", render.fadeSeconds, "Fade out linearly over the last SECONDS")
        ->check(between(0, 43200, "between 0 and 43200 seconds"));
    renderCmd->add_flag("--float", render.floatSamples, "Write 32-bit float samples (WAV only)");
    renderCmd->add_option("--rate", render.rate, "Output sample rate (resampled when not 22050)")
        ->check(CLI::IsMember({22050, 44100, 48000}));

    PlayOptions play;
    CLI::App* playCmd = app.add_subcommand(
        "play", "Play a song on the sound device (the built-in demo song when none is given)");
    playCmd->add_option("songs", play.songs, "Song files (.rkv), played in order; - is stdin")
        ->expected(0, -1);
    playCmd
        ->add_option("--loops", play.loops,
                     "Each song plays its first pass and N loop repeats (default: one song loops "
                     "until stopped; in a list, 0)")
        ->check(LOOP_COUNT);
    playCmd->add_flag("--shuffle", play.shuffle, "Play the songs in a random order");
    playCmd->add_flag("--loop-all", play.loopAll, "Start the list again after its last song");
    playCmd->footer(std::string(PLAY_KEYS) +
                    "\n\nA song that cannot be read or is refused is reported in one line and "
                    "skipped;\nrkv then exits with that song's code (the first such song's).\n\n" +
                    EXIT_CODES);

    // Said plainly, rather than as a missing subcommand.
    const auto known = [&](const std::string& name) {
        for (const CLI::App* sub : app.get_subcommands({}))
            if (sub->check_name(name)) return true;
        return false;
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
        std::fprintf(stderr, "rkv: unknown command '%s' (see rkv --help)\n", argv[1]);
        return EXIT_USAGE;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "rkv: %s (see rkv --help)\n", oneLine(e.what()).c_str());
        return EXIT_USAGE;
    }
    if (infoCmd->parsed()) return runInfo(info);
    if (renderCmd->parsed()) return runRender(render);
    if (playCmd->parsed()) return runPlay(play);
    return EXIT_USAGE;
}

} // namespace

int main(int argc, char** argv) {
    using namespace rkv::cli;
    // Terminating signals remove what is unfinished; a closed pipe or a file-size limit is
    // reported as a write error, not a silent death.
    platform::installSignalHandlers();
    int code = EXIT_USAGE;
    try {
        code = run(argc, argv);
    } catch (const CliError& e) {
        std::fprintf(stderr, "rkv: %s\n", oneLine(e.what()).c_str());
        code = e.code();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "rkv: out of memory\n");
        code = EXIT_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rkv: internal error: %s\n", oneLine(e.what()).c_str());
        code = EXIT_INTERNAL;
    }
    // Every command's output counts: a report that did not reach its reader is a failure.
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "rkv: standard output: cannot write: %s\n", std::strerror(errno));
        if (code == EXIT_OK) code = EXIT_CANNOT_WRITE;
    }
    return code;
}
