#include "song/song_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace rkv {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Appends bytes from `file` until `bytes` holds `limit` bytes or the file ends.
bool appendFromFile(std::FILE* file, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
    constexpr std::size_t CHUNK = 1 << 16;
    while (bytes.size() < limit) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(CHUNK, limit - bytes.size()));
        const std::size_t old = bytes.size();
        bytes.resize(old + want);
        const std::size_t got = std::fread(bytes.data() + old, 1, want, file);
        bytes.resize(old + got);
        if (got < want) break;
    }
    return !std::ferror(file);
}

} // namespace

bool readFileBytes(const char* path, std::uint64_t limit, std::vector<std::uint8_t>& bytes,
                   std::string& reason, bool& openFailed) {
    bytes.clear();
    openFailed = false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        openFailed = true;
        reason = std::strerror(errno);
        return false;
    }
    // The header tells how many bytes the tracks can take; read no more than that, so a file
    // claiming a huge step count costs no more than the bytes it holds.
    if (!appendFromFile(file.get(), std::min<std::uint64_t>(limit, SONG_HEADER_SIZE), bytes))
        return reason = std::strerror(errno), false;
    const auto stepCount = static_cast<std::int32_t>(readU32LE(bytes, 20));
    if (bytes.size() == SONG_HEADER_SIZE && stepCount > 0) {
        const std::uint64_t songSize =
            SONG_HEADER_SIZE + std::uint64_t{16} * static_cast<std::uint64_t>(stepCount);
        if (!appendFromFile(file.get(), std::min(limit, songSize), bytes))
            return reason = std::strerror(errno), false;
    }
    return true;
}

int loadSongFile(Song& song, const char* path, const SongClock& clock, LoadOutcome* outcome) {
    LoadOutcome local;
    LoadOutcome& out = outcome ? *outcome : local;

    std::vector<std::uint8_t> bytes;
    bool openFailed = false;
    const bool ok = readFileBytes(path, UINT64_MAX, bytes, out.reason, openFailed);
    if (openFailed) {
        // The clock is stopped as for any load; the old song stays.
        clock.stop(clock.context);
        out.status = LoadStatus::CannotOpen;
        out.reason = "cannot open: " + out.reason;
        return 0;
    }
    if (!ok) {
        out.status = LoadStatus::Refused;
        out.reason = "cannot read: " + out.reason;
        return 0;
    }

    ParseResult parsed = parseSong(bytes);
    if (parsed.status != ParseStatus::Ok) {
        // A refused file changes nothing: old song, voices and clock stay as they were.
        out.status = LoadStatus::Refused;
        out.reason = parsed.reason;
        return 0;
    }

    // No tick may read the tracks while they are replaced.
    clock.stop(clock.context);
    song = std::move(parsed.song);
    clock.start(clock.context, song.header.stepTime);
    out.status = LoadStatus::Loaded;
    out.reason.clear();
    return 1;
}

} // namespace rkv
