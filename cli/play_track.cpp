#include "cli/play_track.hpp"

#include <algorithm>
#include <vector>

namespace rkv::cli {

std::uint64_t PlayTrack::tickAt(std::uint64_t frame) const {
    if (!timing.ticks) return 0;
    std::uint64_t k = frame * 20 / (std::uint64_t{timing.stepTime} * 441);
    while (tickFrame(timing.stepTime, k + 1) <= frame)
        ++k;
    while (k > 0 && tickFrame(timing.stepTime, k) > frame)
        --k;
    return k;
}

std::unique_ptr<PlayTrack> prepareTrack(SongFile&& song, std::optional<std::uint64_t> loops) {
    auto track = std::make_unique<PlayTrack>();
    track->name = song.name;
    track->loops = loops;
    track->player = std::make_unique<Player>();
    Player& player = *track->player;
    startPlayer(player, track->device, std::move(song));
    track->timing = songTiming(player.song.header);
    if (loops) {
        const DrumKitVoices kit = drumKitVoices(player.bank);
        const PlayLength length =
            playLength(player.song, track->timing, *loops,
                       trackVoiceLengths(player.song.header, kit.lengths, kit.bytes));
        track->ticks = length.ticks;
        track->endFrame = length.frames();
    }
    track->limit = std::make_unique<TickLimit>(player, track->ticks);
    track->limit->start();
    return track;
}

std::unique_ptr<PlayTrack> seekTrack(const PlayTrack& track, std::uint64_t tick) {
    SongFile copy;
    copy.name = track.name;
    copy.hasMagic = true;
    copy.parsed.status = ParseStatus::Ok;
    // The tracks are never written after a load, so the audio thread may go on reading them.
    copy.parsed.song = track.player->song;
    auto fresh = prepareTrack(std::move(copy), track.loops);
    if (!fresh->timing.ticks) return fresh;
    if (fresh->ticks != TickLimit::UNLIMITED && fresh->ticks > 0)
        tick = std::min(tick, fresh->ticks - 1);
    const std::uint64_t target = tickFrame(fresh->timing.stepTime, tick);
    std::vector<float> discard(2 * 4096);
    for (std::uint64_t done = 0; done < target;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(4096, target - done));
        mixFrames(fresh->player->bank, discard.data(), n);
        done += n;
    }
    return fresh;
}

} // namespace rkv::cli
