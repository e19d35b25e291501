// What a song file holds and how the player will treat it, as JSON and as text made from that
// JSON (so both always say the same): `rkv info`, and the song facts of librkv.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "render/playback.hpp"
#include "song/song.hpp"

namespace rkv::render {

// A song file read and checked the way the player will load it.
struct SongFile {
    std::string path; // as given; "-" is standard input
    std::string name; // for messages
    bool hasMagic = false;
    std::uint64_t size = 0; // bytes read: the whole file, or up to the end of its tracks
    ParseResult parsed;     // status Refused when the player would not load it
};

// Name of a pitch of an instrument at `octave` (pitch 0 of octave 0 is C1), e.g. "F#4".
std::string noteName(std::uint32_t octave, int pitch);

// The report of one file. `loops` sizes the "render" figures: the length `rkv render --loops`
// gives. A file the player refuses gets a report with a "refused" warning and no more, or (step
// count below 1) the header fields it has.
nlohmann::json songReport(const SongFile& file, const DrumKitVoices& kit, std::uint64_t loops);

// The same report for people.
std::string formatReport(const nlohmann::json& report);

} // namespace rkv::render
