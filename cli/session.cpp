#include "cli/session.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unistd.h>

#include "resources/builtin_resources.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"
#include "song/song_file.hpp"
#include "sound/drum_kit.hpp"

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

void startPlayer(Player& player, SoundDevice& device, SongFile&& song) {
    // Checked before the device opens, so a bad file is reported as such with or without sound.
    requirePlayable(song);
    player.resources = builtinResources();
    if (!initSoundDevice(player.bank, &device)) throw CliError(EXIT_NO_DEVICE, "no sound device");
    loadDrumKit(player.bank, player.state, player.resources);
    transportLoadSong(player, std::move(song.parsed.song));
}

DrumKitVoices drumKitVoices(const VoiceBank& bank) {
    const std::lock_guard<std::recursive_mutex> guard(bank.lock);
    DrumKitVoices kit;
    for (int i = 0; i < NOTES_PER_TRACK; ++i) {
        const Voice& v = bank.voices[static_cast<std::size_t>(FIRST_DRUM_SLOT + i)];
        // A voice that exists but was never filled plays silence.
        kit.lengths[static_cast<std::size_t>(i)] = v.exists && v.data ? v.length : 0;
        if (v.exists) kit.bytes += v.length;
    }
    return kit;
}

DrumKitVoices builtinDrumKitVoices() {
    Player player;
    OfflineDevice device;
    initSoundDevice(player.bank, &device);
    loadDrumKit(player.bank, player.state, builtinResources());
    return drumKitVoices(player.bank);
}

TickLimit::TickLimit(Player& player, std::uint64_t ticks) : player_(player), limit_(ticks) {
    // The clock the load started calls the sequencer; route its ticks through the limit.
    const std::lock_guard<std::recursive_mutex> guard(player_.bank.lock);
    player_.bank.timer.callback = &TickLimit::onTick;
    player_.bank.timer.context = this;
}

TickLimit::~TickLimit() {
    const std::lock_guard<std::recursive_mutex> guard(player_.bank.lock);
    if (player_.bank.timer.context == this) {
        player_.bank.timer.callback = &clockCallback;
        player_.bank.timer.context = &player_;
    }
}

void TickLimit::start() {
    const std::lock_guard<std::recursive_mutex> guard(player_.bank.lock);
    if (limit_ == 0) return;
    playFromNextFrame(player_);
    played_.store(1);
}

void TickLimit::onTick(void* self) {
    auto* limit = static_cast<TickLimit*>(self);
    if (limit->played_.load() >= limit->limit_) {
        // The first tick past the limit: no step is played from here on; voices ring out.
        transportCommand(limit->player_, TRANSPORT_STOP);
        return;
    }
    clockCallback(&limit->player_);
    limit->played_.fetch_add(1);
}

} // namespace rkv::cli
