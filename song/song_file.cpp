#include "song/song_file.hpp"

#include <cerrno>
#include <cstring>
#include <memory>

namespace rkv {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The size of a regular file, measured without reading it; 0 when it cannot be known (a pipe).
std::uint64_t knownSize(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return 0;
    const long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return end > here ? static_cast<std::uint64_t>(end - here) : 0;
}

} // namespace

SongRead readSongFrom(std::FILE* file, bool stopWithoutMagic) {
    const auto fromFile = [file](std::uint8_t* into, std::size_t max) -> std::ptrdiff_t {
        const std::size_t got = std::fread(into, 1, max, file);
        if (got == 0 && std::ferror(file)) return -1;
        return static_cast<std::ptrdiff_t>(got);
    };
    return readSong(fromFile, knownSize(file), stopWithoutMagic);
}

void installSong(Song& song, Song&& fresh, const SongClock& clock) {
    // No tick may read the tracks while they are replaced.
    clock.stop(clock.context);
    song = std::move(fresh);
    clock.start(clock.context, song.header.stepTime);
}

int loadSongFile(Song& song, const char* path, const SongClock& clock, LoadOutcome* outcome) {
    LoadOutcome local;
    LoadOutcome& out = outcome ? *outcome : local;

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        // The clock is stopped as for any load; the old song stays.
        out.reason = "cannot open: " + std::string(std::strerror(errno));
        clock.stop(clock.context);
        out.status = LoadStatus::CannotOpen;
        return 0;
    }
    SongRead read = readSongFrom(file.get(), false);
    if (read.readFailed) {
        out.status = LoadStatus::Refused;
        out.reason = "cannot read: " + read.error;
        return 0;
    }
    if (read.parsed.status != ParseStatus::Ok) {
        // A refused file changes nothing: old song, voices and clock stay as they were.
        out.status = LoadStatus::Refused;
        out.reason = read.parsed.reason;
        return 0;
    }
    installSong(song, std::move(read.parsed.song), clock);
    out.status = LoadStatus::Loaded;
    out.reason.clear();
    return 1;
}

} // namespace rkv
