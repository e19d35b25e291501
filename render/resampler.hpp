// High-quality sample-rate conversion of interleaved stereo floats, for every face that writes
// or hands out another rate than the engine's.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace rkv::render {

class Resampler {
  public:
    // Throws std::runtime_error when the converter cannot start.
    Resampler(int fromRate, int toRate);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Converts `frames` frames and hands each piece the converter makes to `sink`, in order.
    // Null input, 0 frames: the end of the stream; what the filter still holds is drained.
    // Throws std::runtime_error when the converter fails.
    using Sink = std::function<void(const float* stereo, std::size_t frames)>;
    void process(const float* stereo, std::size_t frames, const Sink& sink);

  private:
    void* converter_ = nullptr;
    std::vector<float> out_;
};

} // namespace rkv::render
