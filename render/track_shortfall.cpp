#include "render/track_shortfall.hpp"

#include <algorithm>

#include "song/song.hpp"

namespace rkv::render {

std::array<std::uint64_t, 4> missingTrackWords(std::size_t fileSize, std::uint32_t stepCount) {
    const std::uint64_t words = fileSize > SONG_HEADER_SIZE ? (fileSize - SONG_HEADER_SIZE) / 4 : 0;
    std::array<std::uint64_t, 4> missing{};
    for (std::size_t t = 0; t < missing.size(); ++t) {
        const std::uint64_t first = std::uint64_t{stepCount} * t;
        const std::uint64_t held =
            words > first ? std::min<std::uint64_t>(words - first, stepCount) : 0;
        missing[t] = stepCount - held;
    }
    return missing;
}

std::string truncationWarning(std::size_t fileSize, std::uint32_t stepCount) {
    const std::array<std::uint64_t, 4> missing = missingTrackWords(fileSize, stepCount);
    if (missing[3] == 0) return {};
    std::string text = "the file is cut off inside its tracks; step words missing (played as empty "
                       "steps):";
    for (std::size_t t = 0; t < missing.size(); ++t)
        text += (t ? ", track " : " track ") + std::to_string(t) + " lacks " +
                std::to_string(missing[t]);
    return text;
}

} // namespace rkv::render
