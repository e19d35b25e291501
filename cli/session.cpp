#include "cli/session.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

#include "resources/builtin_resources.hpp"
#include "song/song_file.hpp"

namespace rkv::cli {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

SongFile readSongFile(const std::string& path) {
    SongFile file;
    file.path = path;
    const bool standardInput = path == "-";
    file.name = standardInput ? "standard input" : path;
    std::unique_ptr<std::FILE, FileCloser> opened;
    if (!standardInput) {
        opened.reset(std::fopen(path.c_str(), "rb"));
        if (!opened)
            throw CliError(EXIT_CANNOT_READ, path + ": cannot open: " + std::strerror(errno));
    }
    SongRead read = readSongFrom(standardInput ? stdin : opened.get(), true);
    if (read.readFailed)
        throw CliError(EXIT_CANNOT_READ, file.name + ": cannot read: " + read.error);
    file.hasMagic = read.hasMagic;
    file.size = read.bytesRead;
    file.parsed = std::move(read.parsed);
    return file;
}

SongFile builtinDemoSong() {
    const auto bytes = findResource(builtinResources(), "DEMO", "SONG");
    if (bytes.empty()) throw CliError(EXIT_CANNOT_READ, "no demo song is built into this program");
    SongFile file;
    file.path = file.name = "the built-in demo song";
    file.hasMagic = hasSongMagic(bytes);
    file.size = bytes.size();
    file.parsed = parseSong(bytes);
    return file;
}

void requirePlayable(const SongFile& file) {
    if (!file.hasMagic)
        throw CliError(EXIT_REFUSED, file.name + ": not a song file (no RKV magic)");
    if (file.parsed.status != ParseStatus::Ok)
        throw CliError(EXIT_REFUSED, file.name + ": refused: " + file.parsed.reason);
}

} // namespace rkv::cli
