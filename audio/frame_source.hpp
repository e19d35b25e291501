// A stream of stereo frames an output can play instead of a voice bank: a song rendered as it
// goes, with its own end.
#pragma once

#include <cstddef>

namespace rkv {

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // Fills up to `frames` interleaved stereo frames; fewer only at the end. Called on the audio
    // thread: it must not wait on anything slow.
    virtual std::size_t read(float* stereo, std::size_t frames) = 0;
};

} // namespace rkv
