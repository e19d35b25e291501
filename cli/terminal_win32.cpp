// The Windows console gets no keys yet: playing waits, and Ctrl-C stops it.
#include <chrono>
#include <thread>

#include "cli/terminal.hpp"

namespace rkv::cli {

KeyInput::KeyInput(bool) {}

KeyInput::~KeyInput() = default;

std::vector<Key> KeyInput::wait(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return {};
}

} // namespace rkv::cli
