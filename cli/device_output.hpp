// The sound device `rkv play` plays through: waveOut on Windows, SDL elsewhere.
#pragma once

#ifdef _WIN32
#include "audio/waveout_output.hpp"
#else
#include "audio/sdl_output.hpp"
#endif

namespace rkv::cli {

#ifdef _WIN32
using DeviceOutput = WaveOutOutput;
#else
using DeviceOutput = SdlOutput;
#endif

} // namespace rkv::cli
