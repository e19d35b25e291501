#include "sequencer/sequencer.hpp"

namespace rkv {

namespace {

// position + 1, wrapped to the loop start past the loop end or the song end. The subtractions
// wrap at 32 bits (a loop end of INT32_MIN leaves only the song-end bound).
std::int32_t nextPosition(std::int32_t position, const SongHeader& h) {
    const auto next = static_cast<std::int32_t>(static_cast<std::uint32_t>(position) + 1u);
    const auto lastLooped = static_cast<std::int32_t>(static_cast<std::uint32_t>(h.loopEnd) - 1u);
    const auto lastStep = static_cast<std::int32_t>(static_cast<std::uint32_t>(h.stepCount) - 1u);
    if (next > lastLooped || next > lastStep) return effectiveLoopStart(h);
    return next;
}

} // namespace

void sequencerTick(Player& player) {
    PlayState& state = player.state;
    if (state.playing.load() == 0) return;

    // Read once, compute, store only if no rewind got in between; the step computed here is the
    // one played on all four tracks either way.
    std::int32_t seen = state.position.load();
    const std::int32_t position = nextPosition(seen, player.song.header);
    state.position.compare_exchange_strong(seen, position);

    for (int t = 0; t < TRACK_COUNT; ++t) {
        const StepWord w = player.song.tracks[t].at(position);
        const int base = FIRST_TRACK_SLOT + NOTES_PER_TRACK * t;
        // Pan first, so the notes of this step already sound at the new pan. Codes past the
        // table are ignored; the word's notes still play.
        const std::uint32_t code = panCode(w);
        if (code != 0 && code < PAN_TABLE.size())
            for (int i = 0; i < NOTES_PER_TRACK; ++i)
                setVoicePan(player.bank, base + i, PAN_TABLE[code]);
        for (int i = 0; i < NOTES_PER_TRACK; ++i)
            if (noteBit(w, i)) restartVoice(player.bank, base + i);
    }
}

} // namespace rkv
