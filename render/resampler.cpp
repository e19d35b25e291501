#include "render/resampler.hpp"

#include <stdexcept>
#include <string>

#include "sound/voice_bank.hpp"

#ifdef RKV_HAVE_SOXR
#include <soxr.h>
#ifndef _WIN32
#include "system/dynamic_library.hpp"
#endif
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

namespace {

// The converter's calls: linked on Windows, loaded on first use elsewhere (most renders are at the
// engine's rate and never need them).
struct Soxr {
    decltype(&soxr_io_spec) ioSpec = nullptr;
    decltype(&soxr_quality_spec) qualitySpec = nullptr;
    decltype(&soxr_create) create = nullptr;
    decltype(&soxr_process) process = nullptr;
    decltype(&soxr_delete) destroy = nullptr;
    std::string error;
};

const Soxr& soxr() {
    static const Soxr calls = [] {
        Soxr c;
#ifdef _WIN32
        c = Soxr{&soxr_io_spec, &soxr_quality_spec, &soxr_create, &soxr_process, &soxr_delete, {}};
#else
        DynamicLibrary library("libsoxr.so.0");
        if (!(library.find("soxr_io_spec", c.ioSpec) &&
              library.find("soxr_quality_spec", c.qualitySpec) &&
              library.find("soxr_create", c.create) && library.find("soxr_process", c.process) &&
              library.find("soxr_delete", c.destroy)))
            c.error = library.error();
#endif
        return c;
    }();
    return calls;
}

} // namespace

Resampler::Resampler(int fromRate, int toRate) {
    const Soxr& calls = soxr();
    if (!calls.error.empty()) throw std::runtime_error("resampler: " + calls.error);
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = calls.ioSpec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = calls.qualitySpec(SOXR_HQ, 0);
    converter_ = calls.create(fromRate, toRate, 2, &error, &io, &quality, nullptr);
    if (!converter_)
        throw std::runtime_error(std::string("resampler: ") + (error ? error : "cannot start"));
}

Resampler::~Resampler() {
    soxr().destroy(static_cast<soxr_t>(converter_));
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
            soxr().process(static_cast<soxr_t>(converter_), stereo ? stereo + 2 * offered : nullptr,
                           frames - offered, &used, out_.data(), room, &made);
        if (error) throw std::runtime_error(std::string("resampler: ") + error);
        sink(out_.data(), made);
        offered += used;
        if (stereo ? offered >= frames && made < room : made == 0) break;
    }
}

#endif

} // namespace rkv::render
