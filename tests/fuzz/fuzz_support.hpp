// What the harnesses share: a player on a device the harness drives itself, and a way to split one
// input into a song and the commands played on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sequencer/player.hpp"
#include "tests/common/offline_device.hpp"

namespace rkv::fuzz {

using test::OfflineDevice;

// The whole input is the song file, so any song seeds every harness; the last byte says how many of
// the last bytes double as commands.
inline std::span<const std::uint8_t> tailCommands(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return {};
    const std::size_t tail = std::min<std::size_t>(data[size - 1], size);
    return {data + size - tail, tail};
}

// Keeps a value alive so the optimiser cannot drop the reads that made it.
template <typename T> void keep(const T& value) {
    static volatile T sink;
    sink = value;
    (void)sink;
}

} // namespace rkv::fuzz
