// What every rkv command shares: exit codes, error reporting, reading and checking a song file.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/playback.hpp"
#include "render/song_report.hpp"
#include "sequencer/player.hpp"
#include "song/song.hpp"
#include "sound/voice_bank.hpp"

namespace rkv::cli {

enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_USAGE = 1,
    EXIT_CANNOT_READ = 2,
    EXIT_REFUSED = 3,
    EXIT_CANNOT_WRITE = 4,
    EXIT_NO_DEVICE = 5,
    EXIT_OUT_OF_MEMORY = 6,
    EXIT_INTERNAL = 7,
    // A terminating signal N ends rkv with 128 + N (SIGINT 130), as shells report it.
    EXIT_SIGNAL_BASE = 128,
};

// A failure that ends the command: printed as one line "rkv: <message>" and exited with `code`.
class CliError : public std::runtime_error {
  public:
    CliError(ExitCode code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

  private:
    ExitCode code_;
};

using render::SongFile;

// Reads the file ("-": standard input) once, stopping after its first bytes when they are not a
// song's; throws CliError (cannot open or read) only. Magic and parse results are left to the
// caller, who may still want to describe a refused file.
SongFile readSongFile(const std::string& path);

// The song built into the program, read from memory.
SongFile builtinDemoSong();

// Throws CliError (refused) unless the player would load the file.
void requirePlayable(const SongFile& file);

using render::builtinDrumKitVoices;
using render::DrumKitVoices;
using render::drumKitVoices;
using render::OfflineDevice;
using render::TickLimit;

} // namespace rkv::cli
