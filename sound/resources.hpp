// Resources carried inside the binaries (drum sounds, picture, icon), looked up by name and type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace rkv {

struct ResourceEntry {
    const char* name;
    const char* type;
    const std::uint8_t* data;
    std::size_t size;
};

// A table of resources; the binaries embed one, tests hand in their own.
struct ResourceTable {
    const ResourceEntry* entries = nullptr;
    std::size_t count = 0;
};

// The bytes of the named resource, or an empty span when the table has no such entry.
std::span<const std::uint8_t> findResource(const ResourceTable& table, std::string_view name,
                                           std::string_view type);

} // namespace rkv
