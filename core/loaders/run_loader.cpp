#include <algorithm>

#include "core/loaders/loader_registry.h"

namespace ostel::core {

void count_undecodable(DecoderSession& s) {
    // A model rule may have set the counter below zero to forgive a known
    // shortfall at the end of its data; that must not hide this error.
    s.short_read_count = std::max(s.short_read_count, 0) + 1;
}

std::string_view loader_name(LoaderId id) {
    if (static_cast<size_t>(id) >= std::size(kLoaderRegistry)) return "";
    return loader_entry(id).name;
}

void run_loader(DecoderSession& s, LoaderId id) {
    if (static_cast<size_t>(id) >= std::size(kLoaderRegistry)) return;
    if (const auto load = loader_entry(id).load) load(s);
}

}  // namespace ostel::core
