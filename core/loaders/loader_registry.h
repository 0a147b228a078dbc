#pragma once
// The loader registry: one row per loader with its selector, the name that
// identification reports and the function that decodes. Adding a loader is
// its function, its selector and one row here; the checks below refuse to
// compile a registry with a selector missing or out of place.
#include <array>
#include <cstddef>
#include <string_view>

#include "core/loaders/loader_id.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

struct LoaderEntry {
    LoaderId id;
    std::string_view name;
    void (*load)(DecoderSession&);  // nullptr: loads nothing (none, a refusal marker)
};

inline constexpr LoaderEntry kLoaderRegistry[] = {
    {LoaderId::none, "", nullptr},
    {LoaderId::lossless_image_load_raw, "lossless_image_load_raw", lossless_image_load_raw},
    {LoaderId::sraw_ycc_load_raw, "sraw_ycc_load_raw", sraw_ycc_load_raw},
    {LoaderId::dng_lossless_tiles_load_raw, "dng_lossless_tiles_load_raw", dng_lossless_tiles_load_raw},
    {LoaderId::packed_bits_load_raw, "packed_bits_load_raw", packed_bits_load_raw},
    {LoaderId::unpacked_load_raw, "unpacked_load_raw", unpacked_load_raw},
    {LoaderId::eight_bit_load_raw, "eight_bit_load_raw", eight_bit_load_raw},
    {LoaderId::nokia_load_raw, "nokia_load_raw", nokia_load_raw},
    {LoaderId::canon_compressed_load_raw, "canon_compressed_load_raw", canon_compressed_load_raw},
    {LoaderId::nikon_huffman_load_raw, "nikon_huffman_load_raw", nikon_huffman_load_raw},
    {LoaderId::pentax_table_load_raw, "pentax_table_load_raw", pentax_table_load_raw},
    {LoaderId::olympus_adaptive_load_raw, "olympus_adaptive_load_raw", olympus_adaptive_load_raw},
    {LoaderId::sony_load_raw, "sony_load_raw", sony_load_raw},
    {LoaderId::sony_arw_huffman_load_raw, "sony_arw_huffman_load_raw", sony_arw_huffman_load_raw},
    {LoaderId::sony_arw2_load_raw, "sony_arw2_load_raw", sony_arw2_load_raw},
    {LoaderId::panasonic_block_load_raw, "panasonic_block_load_raw", panasonic_block_load_raw},
    {LoaderId::fuji_load_raw, "fuji_load_raw", fuji_load_raw},
    {LoaderId::adobe_dng_load_raw_nc, "adobe_dng_load_raw_nc", adobe_dng_load_raw_nc},
    {LoaderId::phase_one_load_raw, "phase_one_load_raw", phase_one_load_raw},
    {LoaderId::phase_one_load_raw_c, "phase_one_load_raw_c", phase_one_load_raw_c},
    {LoaderId::sinar_4shot_load_raw, "sinar_4shot_load_raw", sinar_4shot_load_raw},
    {LoaderId::leaf_planes_load_raw, "leaf_planes_load_raw", leaf_planes_load_raw},
    {LoaderId::rgb48_load_raw, "rgb48_load_raw", rgb48_load_raw},
    {LoaderId::hasselblad_ljpeg_load_raw, "hasselblad_ljpeg_load_raw", hasselblad_ljpeg_load_raw},
    {LoaderId::kodak_yrgb_load_raw, "kodak_yrgb_load_raw", kodak_yrgb_load_raw},
    {LoaderId::kodak_262_load_raw, "kodak_262_load_raw", kodak_262_load_raw},
    {LoaderId::kodak_block_load_raw, "kodak_block_load_raw", kodak_block_load_raw},
    {LoaderId::kodak_ycc_load_raw, "kodak_ycc_load_raw", kodak_ycc_load_raw},
    {LoaderId::kodak_rgb16_load_raw, "kodak_rgb16_load_raw", kodak_rgb16_load_raw},
    {LoaderId::kodak_thumb_rgb_load_raw, "kodak_thumb_rgb_load_raw", kodak_thumb_rgb_load_raw},
    {LoaderId::kodak_radc_stream_load_raw, "kodak_radc_stream_load_raw", kodak_radc_stream_load_raw},
    {LoaderId::minolta_rd175_loader, "minolta_rd175_loader", minolta_rd175_loader},
    {LoaderId::rollei_packed_load_raw, "rollei_packed_load_raw", rollei_packed_load_raw},
    {LoaderId::smal_v6_loader, "smal_v6_loader", smal_v6_loader},
    {LoaderId::smal_v9_loader, "smal_v9_loader", smal_v9_loader},
    {LoaderId::canon_600_loader, "canon_600_loader", canon_600_loader},
    {LoaderId::kodak_jpeg_loader, "kodak_jpeg_loader", nullptr},  // refusal marker: such files are refused
    {LoaderId::dng_tiled_load_raw, "dng_tiled_load_raw", dng_tiled_load_raw},
};

namespace detail {
constexpr bool registry_in_selector_order() {
    for (size_t i = 0; i < std::size(kLoaderRegistry); ++i)
        if (static_cast<size_t>(kLoaderRegistry[i].id) != i) return false;
    return true;
}
}  // namespace detail

static_assert(std::size(kLoaderRegistry) == static_cast<size_t>(LoaderId::count_),
              "every loader selector needs its row in the registry");
static_assert(detail::registry_in_selector_order(), "registry rows must follow the selector order");

constexpr const LoaderEntry& loader_entry(LoaderId id) {
    return kLoaderRegistry[static_cast<size_t>(id)];
}

// The selector of a loader name; none for a name no loader has.
constexpr LoaderId loader_by_name(std::string_view name) {
    if (name.empty()) return LoaderId::none;
    for (const LoaderEntry& e : kLoaderRegistry)
        if (e.name == name) return e.id;
    return LoaderId::none;
}

}  // namespace ostel::core
