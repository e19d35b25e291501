// The sound device `rkv play` plays through: the Windows output, SDL elsewhere.
#pragma once

#ifdef _WIN32
#include "audio/windows_output.hpp"
#else
#include "audio/sdl_output.hpp"
#endif

namespace rkv::cli {

#ifdef _WIN32
using DeviceOutput = WindowsOutput;
#else
using DeviceOutput = SdlOutput;
#endif

} // namespace rkv::cli
