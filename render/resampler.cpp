#include "render/resampler.hpp"

#include <stdexcept>
#include <string>

#include "sound/voice_bank.hpp"

#ifdef RKV_HAVE_SOXR
#include <soxr.h>
#endif

namespace rkv::render {

#ifndef RKV_HAVE_SOXR
// A build without the converter library renders at the engine's rate only.
Resampler::Resampler(int, int) {
    throw std::runtime_error("resampler: this build plays at 22050 Hz only");
}
Resampler::~Resampler() = default;
void Resampler::process(const float*, std::size_t, const Sink&) {}
#else

Resampler::Resampler(int fromRate, int toRate) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    converter_ = soxr_create(fromRate, toRate, 2, &error, &io, &quality, nullptr);
    if (!converter_)
        throw std::runtime_error(std::string("resampler: ") + (error ? error : "cannot start"));
}

Resampler::~Resampler() {
    soxr_delete(static_cast<soxr_t>(converter_));
}

void Resampler::process(const float* stereo, std::size_t frames, const Sink& sink) {
    std::size_t offered = 0;
    for (;;) {
        // Room for a block at up to 48 kHz; higher rates take more rounds of the loop.
        const std::size_t room = frames == 0 ? 4096 : frames * 48000 / SAMPLE_RATE + 64;
        out_.resize(2 * room);
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error =
            soxr_process(static_cast<soxr_t>(converter_), stereo ? stereo + 2 * offered : nullptr,
                         frames - offered, &used, out_.data(), room, &made);
        if (error) throw std::runtime_error(std::string("resampler: ") + error);
        sink(out_.data(), made);
        offered += used;
        if (stereo ? offered >= frames && made < room : made == 0) break;
    }
}

#endif

} // namespace rkv::render
