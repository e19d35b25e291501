// The rkv subcommands. Each returns an exit code or throws CliError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rkv::cli {

struct InfoOptions {
    std::vector<std::string> songs;
    bool json = false;
    std::uint64_t loops = 0; // sizes the "render" figures
};
int runInfo(const InfoOptions& options);

struct RenderOptions {
    std::string song;
    std::string output;
    std::optional<double> seconds;
    std::optional<std::uint64_t> loops;
    double fadeSeconds = 0;
    bool floatSamples = false;
    int rate = 22050;
};
int runRender(const RenderOptions& options);

struct PlayOptions {
    std::vector<std::string> songs;     // the built-in demo when empty
    std::optional<std::uint64_t> loops; // one song: forever when empty; several: 0
    bool shuffle = false;               // play the list in a random order
    bool loopAll = false;               // start the list again after its last song
};
int runPlay(const PlayOptions& options);

// The longest output rkv writes: 12 hours at 22050 Hz.
constexpr std::uint64_t MAX_RENDER_FRAMES = std::uint64_t{12} * 3600 * 22050;

} // namespace rkv::cli
