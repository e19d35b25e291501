// The resources built into the binaries: every entry of resources/resources.rc, bytes as stored.
#pragma once

#include "sound/resources.hpp"

namespace rkv {

// The table lives in read-only data for the life of the program.
const ResourceTable& builtinResources();

} // namespace rkv
