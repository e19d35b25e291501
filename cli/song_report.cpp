#include "cli/song_report.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

#include "cli/track_shortfall.hpp"
#include "render/song_timing.hpp"
#include "sound/synthesizer.hpp"
#include "sound/voice_bank.hpp"

namespace rkv::cli {

using namespace render;

namespace {

using nlohmann::json;

constexpr std::array<const char*, 12> NOTE_NAMES = {"C",  "C#", "D",  "D#", "E",  "F",
                                                    "F#", "G",  "G#", "A",  "A#", "B"};

// Drum key -> sound, as the kit fills its slots (keys 6 and 7 have none).
constexpr std::array<const char*, 12> DRUM_PAIR_SOUNDS = {"BASS1", "BASS2", "SNARE1",  "",
                                                          "HAT1",  "HAT2",  "SYMBAL1", "HAT2",
                                                          "HAT2",  "HAT2",  "HAT2",    "HAT2"};

// Level -> hundredths of a decibel, wrapping at 32 bits as the player computes it.
std::int32_t levelHundredths(std::int32_t level) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(level) * 8u - 2400u);
}

bool volumeApplies(std::int32_t hundredths) {
    return hundredths <= VOLUME_FULL && hundredths >= VOLUME_MIN;
}

std::string fixed(double x, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    return buf;
}

double round3(double x) {
    return std::round(x * 1000.0) / 1000.0;
}

double framesToSeconds(std::uint64_t frames) {
    return round3(static_cast<double>(frames) / SAMPLE_RATE);
}

json volumeJson(std::int32_t level) {
    const std::int32_t h = levelHundredths(level);
    return {{"level", level}, {"db", h / 100.0}, {"applied", volumeApplies(h)}};
}

std::string volumeProblem(std::int32_t level) {
    const std::int32_t h = levelHundredths(level);
    if (h > VOLUME_FULL)
        return "volume " + std::to_string(level) + " is above full (+" + fixed(h / 100.0, 2) +
               " dB)";
    return "volume " + std::to_string(level) + " is below -100 dB";
}

json passJson(const SongTiming& t, std::uint64_t firstTick, std::uint64_t steps) {
    if (!t.ticks) return {{"steps", steps}, {"frames", nullptr}, {"seconds", nullptr}};
    const std::uint64_t frames =
        tickFrame(t.stepTime, firstTick + steps) - tickFrame(t.stepTime, firstTick);
    return {{"steps", steps},
            {"frames", frames},
            {"seconds", round3(static_cast<double>(steps) * t.stepTime / 1000.0)}};
}

// The steps the sequencer ever plays: the first pass and, when it lies past the last step, the
// loop start. Steps past the track's stored words are empty and are skipped.
template <typename Fn> void forEachPlayedStep(const Song& song, const SongTiming& t, Fn fn) {
    std::size_t stored = 0;
    for (const Track& track : song.tracks)
        stored = std::max(stored, track.words.size());
    if (t.lastStep >= 0)
        for (std::int64_t p = 0; p <= t.lastStep && p < static_cast<std::int64_t>(stored); ++p)
            fn(static_cast<std::int32_t>(p));
    if (t.loopStart > t.lastStep) fn(t.loopStart);
}

void warn(json& warnings, const std::string& kind, const std::string& message) {
    warnings.push_back({{"kind", kind}, {"message", message}});
}

std::string joinInts(const json& list, const char* separator = " ") {
    std::string out;
    for (const auto& v : list) {
        if (!out.empty()) out += separator;
        out += v.dump();
    }
    return out;
}

} // namespace

std::string noteName(std::uint32_t octave, int pitch) {
    return std::string(NOTE_NAMES[static_cast<std::size_t>(pitch % 12)]) +
           std::to_string(octave + 1 + static_cast<std::uint32_t>(pitch / 12));
}

json songReport(const SongFile& file, const DrumKitVoices& kit, std::uint64_t loops) {
    json r;
    r["file"] = file.path;
    json warnings = json::array();
    if (!file.hasMagic) {
        r["playable"] = false;
        warn(warnings, "refused", "not a song file (no RKV magic)");
        r["warnings"] = warnings;
        return r;
    }
    const Song& song = file.parsed.song;
    const SongHeader& h = song.header;
    const bool playable = file.parsed.status == ParseStatus::Ok;
    r["playable"] = playable;
    r["step_time_ms"] = h.stepTime;
    r["step_count"] = h.stepCount;
    r["loop"] = {{"start", h.loopStart}, {"end", h.loopEnd}};
    if (!playable) {
        warn(warnings, "refused", file.parsed.reason);
        r["warnings"] = warnings;
        return r;
    }

    const SongTiming t = songTiming(h);
    r["clock_ticks"] = t.ticks;
    r["steps_per_minute"] = t.ticks ? json(round3(60000.0 / t.stepTime)) : json(nullptr);
    r["loop"]["wraps_to"] = t.loopStart;
    r["loop"]["last_step"] = t.lastStep;
    r["intro"] = passJson(t, 0, t.introSteps);
    r["first_pass"] = passJson(t, 0, t.firstPassSteps);
    r["loop_pass"] = passJson(t, t.firstPassSteps, t.loopPassSteps);

    const TrackVoiceLengths lengths = trackVoiceLengths(h, kit.lengths, kit.bytes);
    const PlayLength play = playLength(song, t, loops, lengths);
    r["render"] = {{"loops", loops},
                   {"ticks", play.ticks},
                   {"end_frame", play.endFrame},
                   {"ring_out_frames", play.ringOutFrames},
                   {"frames", play.frames()},
                   {"seconds", framesToSeconds(play.frames())}};

    // What the played steps use.
    // Fixed arrays, one pass over the played steps, one visit per set note bit.
    std::array<std::array<std::uint64_t, NOTES_PER_TRACK>, TRACK_COUNT> notes{};
    std::array<std::uint64_t, 256> panCodes{};
    forEachPlayedStep(song, t, [&](std::int32_t p) {
        for (std::size_t k = 0; k < song.tracks.size(); ++k) {
            const StepWord w = song.tracks[k].at(p);
            for (std::uint32_t bits = w & 0xFFFFFFu; bits != 0; bits &= bits - 1)
                ++notes[k][static_cast<std::size_t>(std::countr_zero(bits))];
            ++panCodes[panCode(w)];
        }
    });
    // The notes a track uses, lowest first, with how often each is played.
    auto used = [&](std::size_t k, auto fn) {
        for (std::size_t i = 0; i < NOTES_PER_TRACK; ++i)
            if (notes[k][i] != 0) fn(static_cast<int>(i), notes[k][i]);
    };

    const auto voices = instrumentVoices(h, kit.bytes);
    json instruments = json::array();
    for (int k = 0; k < INSTRUMENT_COUNT; ++k) {
        const InstrumentRecord& in = h.instruments[static_cast<std::size_t>(k)];
        const std::string name = "instrument " + std::to_string(k);
        json names = json::array();
        std::uint64_t count = 0;
        used(static_cast<std::size_t>(k), [&](int pitch, std::uint64_t n) {
            names.push_back(noteName(in.octave, pitch));
            count += n;
        });
        const char* state = voices[static_cast<std::size_t>(k)] == InstrumentVoices::Sounding
                                ? "sounding"
                                : "silent";
        instruments.push_back(
            {{"index", k},
             {"octave", in.octave},
             {"range", noteName(in.octave, 0) + ".." + noteName(in.octave, 23)},
             {"note_length",
              {{"samples", in.noteLength}, {"ms", round3(in.noteLength * 1000.0 / SAMPLE_RATE)}}},
             {"volume", volumeJson(in.volume)},
             {"voices", state},
             {"notes_used", names},
             {"notes_played", count}});

        if (!volumeApplies(levelHundredths(in.volume)))
            warn(warnings, "ignored",
                 name + ": " + volumeProblem(in.volume) +
                     ": the mixer refuses it and the voices stay at their previous volume");
        if (voices[static_cast<std::size_t>(k)] == InstrumentVoices::LengthOutOfRange)
            warn(warnings, "silent",
                 name + ": note length " + std::to_string(in.noteLength) +
                     " is outside 4..268435455 samples: its voices cannot be made");
        if (voices[static_cast<std::size_t>(k)] == InstrumentVoices::PastBankLimit)
            warn(warnings, "silent",
                 name + ": its 24 voices of " + std::to_string(in.noteLength) +
                     " samples take the voices past 1 GiB: the instrument is silent");
        // The pitch step is multiplier x table entry in 32 bits; compare with the true product.
        const std::uint32_t shift = in.octave % 32u;
        bool wraps = false;
        for (int j = 0; j < NOTES_PER_TRACK; ++j) {
            const std::int64_t exact = (std::int64_t{1} << shift) *
                                       NOTE_STEP_TABLE[static_cast<std::size_t>(j % 12)] /
                                       (j < 12 ? 16 : 8);
            if (noteStep(std::uint32_t{1} << shift, j) != exact) wraps = true;
        }
        if (wraps)
            warn(warnings, "wraps",
                 name + ": octave " + std::to_string(in.octave) +
                     " wraps the 32-bit pitch step: its notes sound at unrelated pitches");
        else if (in.octave >= 32)
            warn(warnings, "wraps",
                 name + ": octave " + std::to_string(in.octave) + " acts as octave " +
                     std::to_string(shift));
    }
    r["instruments"] = instruments;

    // Drums: loud keys at the drum volume, soft keys at 70 % of that level.
    const std::int32_t soft =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(h.drumVolume) * 70u) / 100;
    json keys = json::array();
    used(3, [&](int key, std::uint64_t n) {
        const char* sound = DRUM_PAIR_SOUNDS[static_cast<std::size_t>(key / 2)];
        keys.push_back({{"key", key},
                        {"sound", *sound ? json(sound) : json(nullptr)},
                        {"loudness", key % 2 == 0 ? "loud" : "soft"},
                        {"count", n}});
    });
    r["drums"] = {{"volume",
                   {{"level", h.drumVolume},
                    {"loud_db", levelHundredths(h.drumVolume) / 100.0},
                    {"soft_level", soft},
                    {"soft_db", levelHundredths(soft) / 100.0},
                    {"loud_applied", volumeApplies(levelHundredths(h.drumVolume))},
                    {"soft_applied", volumeApplies(levelHundredths(soft))}}},
                  {"keys_used", keys}};
    if (!volumeApplies(levelHundredths(h.drumVolume)))
        warn(warnings, "ignored",
             "drums: loud " + volumeProblem(h.drumVolume) +
                 ": the mixer refuses it and the voices stay at their previous volume");
    if (!volumeApplies(levelHundredths(soft)))
        warn(warnings, "ignored",
             "drums: soft " + volumeProblem(soft) +
                 ": the mixer refuses it and the voices stay at their previous volume");
    used(3, [&](int key, std::uint64_t n) {
        if (key == 6 || key == 7)
            warn(warnings, "silent",
                 "drums: key " + std::to_string(key) + " has no sound (" + std::to_string(n) +
                     " steps)");
    });

    json tracks = json::array();
    for (int k = 0; k < TRACK_COUNT; ++k)
        if (std::any_of(notes[static_cast<std::size_t>(k)].begin(),
                        notes[static_cast<std::size_t>(k)].end(),
                        [](std::uint64_t n) { return n != 0; }))
            tracks.push_back(k);
    r["tracks_used"] = tracks;
    json pans = json::array();
    json ignoredPans = json::array();
    for (std::uint32_t code = 1; code < panCodes.size(); ++code)
        if (panCodes[code] != 0) (code < PAN_TABLE.size() ? pans : ignoredPans).push_back(code);
    r["pan_codes_used"] = pans;
    if (!ignoredPans.empty())
        warn(warnings, "ignored",
             "pan codes " + joinInts(ignoredPans, ", ") +
                 " are not in the pan table (codes 0..7): the pan stays, the notes still play");

    // The loop settings the player handles in its own way.
    if (h.loopStart != t.loopStart)
        warn(warnings, "clamped",
             "loop start " + std::to_string(h.loopStart) + " is outside the song (0.." +
                 std::to_string(h.stepCount - 1) + "): the loop wraps to step " +
                 std::to_string(t.loopStart));
    if (t.lastStep < 0)
        warn(warnings, "loop",
             "loop end " + std::to_string(h.loopEnd) + " is not above 0: every tick plays step " +
                 std::to_string(t.loopStart));
    else if (t.loopStart > t.lastStep)
        warn(warnings, "loop",
             "the loop starts after its last step " + std::to_string(t.lastStep) +
                 ": after the first pass every tick plays step " + std::to_string(t.loopStart));
    if (!t.ticks)
        warn(warnings, "no ticks",
             "step time " + std::to_string(h.stepTime) +
                 " ms is outside 1..1000000: the clock never ticks, only the first step sounds");
    if (const std::string cut =
            truncationWarning(file.size, static_cast<std::uint32_t>(h.stepCount));
        !cut.empty())
        warn(warnings, "truncated", cut);
    r["warnings"] = warnings;
    return r;
}

std::string formatReport(const json& r) {
    std::ostringstream out;
    out << r["file"].get<std::string>() << "\n";
    auto line = [&](const std::string& label, const std::string& text) {
        out << "  " << label << std::string(label.size() < 14 ? 14 - label.size() : 1, ' ') << text
            << "\n";
    };
    if (r.contains("step_time_ms")) {
        std::string step = r["step_time_ms"].dump() + " ms";
        if (r.value("clock_ticks", false))
            step += ", " + fixed(r["steps_per_minute"].get<double>(), 2) + " steps per minute";
        line("step time", step);
        std::string steps = r["step_count"].dump() + "; loop start " + r["loop"]["start"].dump() +
                            ", loop end " + r["loop"]["end"].dump();
        if (r["loop"].contains("wraps_to"))
            steps += " (wraps to " + r["loop"]["wraps_to"].dump() + ")";
        line("steps", steps);
    }
    if (r.contains("first_pass")) {
        auto pass = [&](const char* label, const json& p) {
            std::string text = p["steps"].dump() + " steps";
            if (!p["seconds"].is_null())
                text += ", " + fixed(p["seconds"].get<double>(), 3) + " s (" + p["frames"].dump() +
                        " frames)";
            line(label, text);
        };
        pass("intro", r["intro"]);
        pass("first pass", r["first_pass"]);
        pass("loop pass", r["loop_pass"]);
        const json& render = r["render"];
        line("render", "--loops " + render["loops"].dump() + ": " + render["frames"].dump() +
                           " frames, " + fixed(render["seconds"].get<double>(), 3) +
                           " s (ring-out " + render["ring_out_frames"].dump() + " frames)");
        for (const json& in : r["instruments"]) {
            const json& v = in["volume"];
            std::string text = "octave " + in["octave"].dump() + " (" +
                               in["range"].get<std::string>() + "), note " +
                               in["note_length"]["samples"].dump() + " samples (" +
                               fixed(in["note_length"]["ms"].get<double>(), 1) + " ms), volume " +
                               v["level"].dump() + " (" + fixed(v["db"].get<double>(), 2) + " dB)";
            if (in["voices"] == "silent") text += ", silent";
            line("instrument " + in["index"].dump(), text);
            std::string used;
            for (const json& n : in["notes_used"])
                used += " " + n.get<std::string>();
            line("", in["notes_played"].dump() + " notes played" +
                         (used.empty() ? std::string() : ":" + used));
        }
        const json& dv = r["drums"]["volume"];
        line("drums", "volume " + dv["level"].dump() + ": loud " +
                          fixed(dv["loud_db"].get<double>(), 2) + " dB, soft (level " +
                          dv["soft_level"].dump() + ") " + fixed(dv["soft_db"].get<double>(), 2) +
                          " dB");
        std::string keys;
        for (const json& k : r["drums"]["keys_used"]) {
            if (!keys.empty()) keys += ", ";
            keys += k["key"].dump() + " " +
                    (k["sound"].is_null() ? std::string("(none)") : k["sound"].get<std::string>()) +
                    " " + k["loudness"].get<std::string>() + " x" + k["count"].dump();
        }
        line("drum keys", keys.empty() ? "none" : keys);
        line("tracks used", r["tracks_used"].empty() ? "none" : joinInts(r["tracks_used"]));
        line("pan codes", r["pan_codes_used"].empty() ? "none" : joinInts(r["pan_codes_used"]));
    }
    for (const json& w : r["warnings"])
        out << "  warning: " << w["kind"].get<std::string>() << ": "
            << w["message"].get<std::string>() << "\n";
    return out.str();
}

} // namespace rkv::cli
