#pragma once
// Every raw loader. Each reads from the session's input at the current
// position (the decode entry seeks to raw_offset first) and writes
// session.image; bad data is counted in short_read_count, never fatal, and
// so is data a loader cannot decode at all (count_undecodable).
#include "core/session/decoder_session.h"

namespace ostel::core {

void lossless_image_load_raw(DecoderSession& s);
void sraw_ycc_load_raw(DecoderSession& s);
void dng_lossless_tiles_load_raw(DecoderSession& s);
void dng_tiled_load_raw(DecoderSession& s);
void packed_bits_load_raw(DecoderSession& s);
void unpacked_load_raw(DecoderSession& s);
void eight_bit_load_raw(DecoderSession& s);
void nokia_load_raw(DecoderSession& s);
void canon_compressed_load_raw(DecoderSession& s);
void nikon_huffman_load_raw(DecoderSession& s);
void pentax_table_load_raw(DecoderSession& s);
void olympus_adaptive_load_raw(DecoderSession& s);
void sony_load_raw(DecoderSession& s);
void sony_arw_huffman_load_raw(DecoderSession& s);
void sony_arw2_load_raw(DecoderSession& s);
void panasonic_block_load_raw(DecoderSession& s);
void fuji_load_raw(DecoderSession& s);
void adobe_dng_load_raw_nc(DecoderSession& s);
void phase_one_load_raw(DecoderSession& s);
void phase_one_load_raw_c(DecoderSession& s);
void sinar_4shot_load_raw(DecoderSession& s);
void leaf_planes_load_raw(DecoderSession& s);
void rgb48_load_raw(DecoderSession& s);
void hasselblad_ljpeg_load_raw(DecoderSession& s);
void kodak_yrgb_load_raw(DecoderSession& s);
void kodak_262_load_raw(DecoderSession& s);
void kodak_block_load_raw(DecoderSession& s);
void kodak_ycc_load_raw(DecoderSession& s);
void kodak_rgb16_load_raw(DecoderSession& s);
void kodak_thumb_rgb_load_raw(DecoderSession& s);
void kodak_radc_stream_load_raw(DecoderSession& s);
void minolta_rd175_loader(DecoderSession& s);
void rollei_packed_load_raw(DecoderSession& s);
void smal_v6_loader(DecoderSession& s);
void smal_v9_loader(DecoderSession& s);
void canon_600_loader(DecoderSession& s);

// For a loader that cannot decode what it was handed (a stream of another
// kind, a layout it does not read, sizes or tables missing): the image stays
// as it is, usually empty, and one data error marks the result as
// incomplete so that no caller takes it for a good decode.
void count_undecodable(DecoderSession& s);

// Applies a DNG raw directory's opcode lists 2 and 3 to the loaded image
// (bringing it onto the 0..65535 range between black and white first);
// opcodes it cannot apply are named in a warning. Nothing for other files.
void apply_dng_opcode_lists(DecoderSession& s);

// Runs the file's loader; for a DNG also what belongs to the stored values
// before they are mapped (opcode list 1, the black level measured in the
// masked areas when the file states none).
void run_loader_and_dng_stored_stage(DecoderSession& s);

// Makes ready the count of the masked areas' samples for a DNG that states
// no black level but has valid masked areas; clears it otherwise.
void start_dng_masked_black(DecoderSession& s);

// Cuts the loaded image down to the rectangle given in its own sites (which
// must lie inside it), moving the filter pattern with the new corner;
// DecoderSession::dng_frame follows. With a half-size grid whole cells are
// kept.
void cut_dng_image(DecoderSession& s, int top, int left, int height, int width);

// Cuts the loaded image of a DNG down to the frame its raw directory asks
// to be shown (the default crop, within the active area); the colour filter
// pattern follows the new corner. Nothing for other files, or for a crop
// that does not lie inside the image.
void apply_dng_default_crop(DecoderSession& s);

// Runs the loader the session selected (nothing for none or a refusal marker).
void run_loader(DecoderSession& s, LoaderId id);

// Black level from the masked columns left and right of the visible area:
// evens out the two column phases and sets black_level. dark_sum[0] and
// [1] hold the sums of the even and odd masked columns, dark_count their
// number of samples together. Shared by the lossless JPEG and CRW loaders.
void apply_masked_column_black(DecoderSession& s, const double dark_sum[2], int64_t dark_count);

// Shared DNG pixel placement (uncompressed and tiled lossless DNG).
void dng_place_pixel(DecoderSession& s, int row, int col, const uint16_t*& cursor);

}  // namespace ostel::core
