// The playing flag and the play position, shared by the UI thread and the audio thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace rkv {

struct PlayState {
    std::atomic<std::uint8_t> playing{0};
    std::atomic<std::int32_t> position{0}; // step played last; -1 = before step 0
};

} // namespace rkv
