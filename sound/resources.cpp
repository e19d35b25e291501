#include "sound/resources.hpp"

namespace rkv {

std::span<const std::uint8_t> findResource(const ResourceTable& table, std::string_view name,
                                           std::string_view type) {
    for (std::size_t i = 0; i < table.count; ++i) {
        const ResourceEntry& e = table.entries[i];
        if (name == e.name && type == e.type) return {e.data, e.size};
    }
    return {};
}

} // namespace rkv
