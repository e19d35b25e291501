// The keys of `rkv play`: the terminal in raw mode while a song plays, and put back exactly as it
// was found however play ends (q, the end of the list, a signal, an error).
#pragma once

#include <vector>

namespace rkv::cli {

enum class Key {
    Pause,       // space
    StepBack,    // left
    StepForward, // right
    PassBack,    // down
    PassForward, // up
    Previous,    // p
    Next,        // n
    VolumeDown,  // -
    VolumeUp,    // +
    Quit,        // q
    Help,        // h or ?
};

// The keys as `rkv play --help` lists them, and as the help key shows them in one line.
// Laid out in the columns of the option list above it.
constexpr const char* PLAY_KEYS = R"(Keys, when standard input is a terminal:
  space                           pause / resume
  left, right                     back / forward one step
  down, up                        back / forward one loop pass
  p, n                            previous / next song
  -, +                            volume down / up (in steps of 10 %)
  q                               quit
  h, ?                            show the keys)";
constexpr const char* PLAY_KEYS_LINE = "keys: space pause  left/right step  down/up loop pass  "
                                       "p/n previous/next song  -/+ volume  q quit";

// What a byte sequence read from the terminal means; unknown bytes are dropped.
std::vector<Key> parseKeys(const char* bytes, int count);

class KeyInput {
  public:
    // Takes the keys only when `wanted` and standard input is a terminal; otherwise waiting
    // is all it does.
    explicit KeyInput(bool wanted);
    ~KeyInput();
    KeyInput(const KeyInput&) = delete;
    KeyInput& operator=(const KeyInput&) = delete;

    bool active() const { return active_; }
    // Waits up to `ms` milliseconds for keys and returns those pressed (none on a timeout).
    std::vector<Key> wait(int ms);

  private:
    bool active_ = false; // keys are read
    bool taken_ = false;  // the terminal is in raw mode, to be put back
};

} // namespace rkv::cli
