// The command line's arithmetic: the song report (text and JSON) and the timing of a render, for
// any song and any loop count.
#include <cstdint>
#include <cstring>

#include "cli/song_report.hpp"
#include "render/song_timing.hpp"
#include "tests/fuzz/fuzz_support.hpp"

using namespace rkv;
using namespace rkv::cli;
using namespace rkv::render;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const DrumKitVoices kit = builtinDrumKitVoices();
    // The loop count is the song's last 8 bytes, so that any song seeds this harness too.
    std::uint64_t loops = 0;
    if (size >= 8) std::memcpy(&loops, data + size - 8, 8);
    // Small loop counts are the common case; the top bit keeps the huge ones in play.
    if (!(loops >> 63)) loops %= 1000;
    SongFile file;
    file.path = file.name = "fuzz.rkv";
    file.hasMagic = hasSongMagic({data, size});
    file.parsed = parseSong({data, size});
    const nlohmann::json report = songReport(file, kit, loops);
    const std::string text = formatReport(report);
    const std::string json = report.dump(2);
    if (file.parsed.status == ParseStatus::Ok) {
        const SongHeader& h = file.parsed.song.header;
        const SongTiming timing = songTiming(h);
        const PlayLength length = playLength(file.parsed.song, timing, loops,
                                             trackVoiceLengths(h, kit.lengths, kit.bytes));
        fuzz::keep(length.frames() + passAtTick(timing, length.ticks));
    }
    fuzz::keep(text.size() + json.size());
    return 0;
}
