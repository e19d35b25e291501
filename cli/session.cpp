#include "cli/session.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "resources/builtin_resources.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/transport.hpp"
#include "song/song_file.hpp"
#include "sound/drum_kit.hpp"

namespace rkv::cli {

SongFile readSongFile(const std::string& path) {
    SongFile file;
    file.path = path;
    std::string reason;
    bool openFailed = false;
    if (!readFileBytes(path.c_str(), UINT64_MAX, file.bytes, reason, openFailed))
        throw CliError(EXIT_CANNOT_READ,
                       path + (openFailed ? ": cannot open: " : ": cannot read: ") + reason);
    file.hasMagic = hasSongMagic(file.bytes);
    file.parsed = parseSong(file.bytes);
    return file;
}

void requirePlayable(const SongFile& file) {
    if (!file.hasMagic)
        throw CliError(EXIT_REFUSED, file.path + ": not a song file (no RKV magic)");
    if (file.parsed.status != ParseStatus::Ok)
        throw CliError(EXIT_REFUSED, file.path + ": refused: " + file.parsed.reason);
}

BuiltinDemoFile::BuiltinDemoFile() {
    const auto bytes = findResource(builtinResources(), "DEMO", "SONG");
    if (bytes.empty()) throw CliError(EXIT_CANNOT_READ, "no demo song is built into this program");
#ifdef _WIN32
    const char* dir = std::getenv("TEMP");
#else
    const char* dir = std::getenv("TMPDIR");
#endif
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/rkv-demo-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) throw CliError(EXIT_CANNOT_WRITE, name + ": cannot write: " + std::strerror(errno));
    path_ = name;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = std::strerror(errno);
            ::close(fd);
            std::remove(path_.c_str());
            throw CliError(EXIT_CANNOT_WRITE, path_ + ": cannot write: " + why);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

BuiltinDemoFile::~BuiltinDemoFile() {
    std::remove(path_.c_str());
}

void startPlayer(Player& player, SoundDevice& device, const std::string& songPath) {
    // Checked before the device opens, so a bad file is reported as such with or without sound.
    requirePlayable(readSongFile(songPath));
    player.resources = builtinResources();
    if (!initSoundDevice(player.bank, &device)) throw CliError(EXIT_NO_DEVICE, "no sound device");
    loadDrumKit(player.bank, player.state, player.resources);
    LoadOutcome outcome;
    transportCommand(player, TRANSPORT_LOAD, songPath.c_str(), &outcome);
    // The file was read a moment ago; it can still change or vanish in between.
    if (outcome.status == LoadStatus::CannotOpen)
        throw CliError(EXIT_CANNOT_READ, songPath + ": " + outcome.reason);
    if (outcome.status == LoadStatus::Refused)
        throw CliError(EXIT_REFUSED, songPath + ": refused: " + outcome.reason);
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
