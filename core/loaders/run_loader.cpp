#include "core/loaders/loaders.h"

#include <algorithm>

namespace ostel::core {

void count_undecodable(DecoderSession& s) {
    // A model rule may have set the counter below zero to forgive a known
    // shortfall at the end of its data; that must not hide this error.
    s.short_read_count = std::max(s.short_read_count, 0) + 1;
}

// One case per loader that exists; the refusal marker and none load nothing.
void run_loader(DecoderSession& s, LoaderId id) {
    switch (id) {
        case LoaderId::lossless_image_load_raw: lossless_image_load_raw(s); break;
        case LoaderId::sraw_ycc_load_raw: sraw_ycc_load_raw(s); break;
        case LoaderId::dng_lossless_tiles_load_raw: dng_lossless_tiles_load_raw(s); break;
        case LoaderId::dng_tiled_load_raw: dng_tiled_load_raw(s); break;
        case LoaderId::phase_one_load_raw: phase_one_load_raw(s); break;
        case LoaderId::phase_one_load_raw_c: phase_one_load_raw_c(s); break;
        case LoaderId::sinar_4shot_load_raw: sinar_4shot_load_raw(s); break;
        case LoaderId::leaf_planes_load_raw: leaf_planes_load_raw(s); break;
        case LoaderId::rgb48_load_raw: rgb48_load_raw(s); break;
        case LoaderId::hasselblad_ljpeg_load_raw: hasselblad_ljpeg_load_raw(s); break;
        case LoaderId::kodak_yrgb_load_raw: kodak_yrgb_load_raw(s); break;
        case LoaderId::kodak_262_load_raw: kodak_262_load_raw(s); break;
        case LoaderId::kodak_block_load_raw: kodak_block_load_raw(s); break;
        case LoaderId::kodak_ycc_load_raw: kodak_ycc_load_raw(s); break;
        case LoaderId::kodak_rgb16_load_raw: kodak_rgb16_load_raw(s); break;
        case LoaderId::kodak_thumb_rgb_load_raw: kodak_thumb_rgb_load_raw(s); break;
        case LoaderId::kodak_radc_stream_load_raw: kodak_radc_stream_load_raw(s); break;
        case LoaderId::minolta_rd175_loader: minolta_rd175_loader(s); break;
        case LoaderId::rollei_packed_load_raw: rollei_packed_load_raw(s); break;
        case LoaderId::smal_v6_loader: smal_v6_loader(s); break;
        case LoaderId::smal_v9_loader: smal_v9_loader(s); break;
        case LoaderId::canon_600_loader: canon_600_loader(s); break;
        case LoaderId::packed_bits_load_raw: packed_bits_load_raw(s); break;
        case LoaderId::unpacked_load_raw: unpacked_load_raw(s); break;
        case LoaderId::eight_bit_load_raw: eight_bit_load_raw(s); break;
        case LoaderId::nokia_load_raw: nokia_load_raw(s); break;
        case LoaderId::canon_compressed_load_raw: canon_compressed_load_raw(s); break;
        case LoaderId::nikon_huffman_load_raw: nikon_huffman_load_raw(s); break;
        case LoaderId::pentax_table_load_raw: pentax_table_load_raw(s); break;
        case LoaderId::olympus_adaptive_load_raw: olympus_adaptive_load_raw(s); break;
        case LoaderId::sony_load_raw: sony_load_raw(s); break;
        case LoaderId::sony_arw_huffman_load_raw: sony_arw_huffman_load_raw(s); break;
        case LoaderId::sony_arw2_load_raw: sony_arw2_load_raw(s); break;
        case LoaderId::panasonic_block_load_raw: panasonic_block_load_raw(s); break;
        case LoaderId::fuji_load_raw: fuji_load_raw(s); break;
        case LoaderId::adobe_dng_load_raw_nc: adobe_dng_load_raw_nc(s); break;
        default: break;
    }
}

}  // namespace ostel::core
