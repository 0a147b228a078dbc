#pragma once
// Entry points of the container parsers that identification calls. Each
// reads the session's input at the position or offset given and fills the
// session; none of them can read outside the file or recurse without bound
// (see core/identify/limits.h).
#include <cstdint>

#include "core/session/decoder_session.h"

namespace ostel::core {

// TIFF family (core/tiff/).
int parse_tiff_file(DecoderSession& s, int64_t base);  // 1 when a TIFF tree was walked
int read_ifd(DecoderSession& s, int64_t base);
void choose_raw_ifd(DecoderSession& s);
void read_exif_ifd(DecoderSession& s, int64_t base);
void read_gps_ifd(DecoderSession& s, int64_t base);
void read_maker_note(DecoderSession& s, int64_t base, int parent_tag);
void read_kodak_ifd(DecoderSession& s, int64_t base);
void read_thumb_note(DecoderSession& s, int64_t base, unsigned offset_tag, unsigned length_tag);

// Other containers (core/containers/).
void read_ciff(DecoderSession& s, int64_t offset, int64_t length);
void read_raf_header(DecoderSession& s, int64_t offset);
void read_mrw(DecoderSession& s, int64_t base);
void read_phase_one(DecoderSession& s, int64_t base);
void read_mos(DecoderSession& s, int64_t offset);
void read_sinar_ia(DecoderSession& s);
void read_rollei_header(DecoderSession& s);
void read_riff(DecoderSession& s);
void read_cine(DecoderSession& s);
void read_smal(DecoderSession& s, int64_t offset, int64_t file_size);
int read_jpeg_markers(DecoderSession& s, int64_t offset);
void read_foveon(DecoderSession& s);
void parse_external_jpeg(DecoderSession& s);

// Per-camera rules (core/camera_rules/): the chain run after the containers
// were parsed. Returns with the session adjusted for the camera.
void apply_camera_rules(DecoderSession& s);

// Colour table and matrices (core/colour/).
void apply_camera_table(DecoderSession& s, const char* make, const char* model);
void set_camera_matrix(DecoderSession& s, const double xyz_to_camera[4][3]);
void pseudo_inverse(const double (*in)[3], double (*out)[3], int size);
void apply_simple_matrix(DecoderSession& s, int index);
void set_romm_matrix(DecoderSession& s, const float romm_matrix[3][3]);

}  // namespace ostel::core
