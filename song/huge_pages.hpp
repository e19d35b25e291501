#pragma once

#include <cstddef>
#include <cstdint>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace rkv {

// Asks for huge pages behind a large buffer not yet touched, where the system offers them: a
// fault per 2 MiB instead of per 4 KiB on first touch, which on a virtual machine was most of the
// cost of filling large buffers. Only the whole pages inside the buffer are advised.
inline void adviseHugePages(void* buffer, std::size_t bytes) {
#if defined(__linux__)
    constexpr std::uintptr_t PAGE = 4096;
    constexpr std::uintptr_t HUGE_PAGE = 2u << 20;
    const auto start = (reinterpret_cast<std::uintptr_t>(buffer) + PAGE - 1) & ~(PAGE - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(buffer) + bytes;
    if (buffer && end > start + HUGE_PAGE)
        madvise(reinterpret_cast<void*>(start), (end - start) & ~(PAGE - 1), MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)bytes;
#endif
}

} // namespace rkv
