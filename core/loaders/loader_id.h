#pragma once
// The loader selector: identification stores one of these in the session;
// the decode entry runs the function the loader registry gives for it. An
// enum keeps the selector comparable ("is the loader the Kodak YCC one?")
// without member pointers.
#include <cstdint>
#include <string_view>

namespace ostel::core {

enum class LoaderId : uint8_t {
    none = 0,
    lossless_image_load_raw,
    sraw_ycc_load_raw,
    dng_lossless_tiles_load_raw,
    packed_bits_load_raw,
    unpacked_load_raw,
    eight_bit_load_raw,
    nokia_load_raw,
    canon_compressed_load_raw,
    nikon_huffman_load_raw,
    pentax_table_load_raw,
    olympus_adaptive_load_raw,
    sony_load_raw,
    sony_arw_huffman_load_raw,
    sony_arw2_load_raw,
    panasonic_block_load_raw,
    fuji_load_raw,
    adobe_dng_load_raw_nc,
    phase_one_load_raw,
    phase_one_load_raw_c,
    sinar_4shot_load_raw,
    leaf_planes_load_raw,
    rgb48_load_raw,
    hasselblad_ljpeg_load_raw,
    kodak_yrgb_load_raw,
    kodak_262_load_raw,
    kodak_block_load_raw,
    kodak_ycc_load_raw,
    kodak_rgb16_load_raw,
    kodak_thumb_rgb_load_raw,
    kodak_radc_stream_load_raw,
    minolta_rd175_loader,
    rollei_packed_load_raw,
    smal_v6_loader,
    smal_v9_loader,
    canon_600_loader,
    kodak_jpeg_loader,  // refusal marker only: files selecting it are refused
    dng_tiled_load_raw,
    count_
};

// The loader's name as identification reports it ("" for none); the names
// live with the functions in the loader registry.
std::string_view loader_name(LoaderId id);

// Thumbnail writers (the default is the JPEG writer).
enum class ThumbWriterId : uint8_t { none = 0, jpeg, ppm, layered_planes, rollei, image_ppm_tiff };

constexpr std::string_view thumb_writer_name(ThumbWriterId id) {
    switch (id) {
        case ThumbWriterId::jpeg: return "jpeg";
        case ThumbWriterId::ppm: return "ppm";
        case ThumbWriterId::layered_planes: return "layered_planes";
        case ThumbWriterId::rollei: return "rollei";
        case ThumbWriterId::image_ppm_tiff: return "image_ppm_tiff";
        case ThumbWriterId::none: break;
    }
    return "";
}

}  // namespace ostel::core
