#include "persistence/control_map.h"

namespace ostel::persistence {

int ControlMap::position(int tag) const {
    if (const auto found = find(tag)) return *found;
    return fallback_ ? fallback_(tag) : 0;
}

std::optional<int> ControlMap::find(int tag) const {
    const auto it = positions_.find(tag);
    if (it == positions_.end()) return std::nullopt;
    return it->second;
}

}  // namespace ostel::persistence
