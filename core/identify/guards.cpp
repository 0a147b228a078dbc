// Last line of defence before a loader runs: whatever the parsers and the
// camera rules left must describe a file that can be decoded safely.
#include "core/identify/identify_steps.h"
#include "core/identify/limits.h"

namespace ostel::core {
namespace {

bool dimension_ok(int value) { return value >= limits::kMinDimension && value <= limits::kMaxDimension; }

bool sane(const DecoderSession& s) {
    if (!dimension_ok(s.width) || !dimension_ok(s.height)) return false;
    if (s.stored_width < 0 || s.stored_width > limits::kMaxDimension) return false;
    if (s.stored_height < 0 || s.stored_height > limits::kMaxDimension) return false;
    // Both the visible image (four 16-bit samples, maybe twice for the
    // working copies) and the stored array must stay within the cap.
    if (int64_t(s.height) * s.width * 8 > limits::kMaxImageBytes) return false;
    if (int64_t(s.stored_height) * s.stored_width * 8 > limits::kMaxImageBytes) return false;
    if (s.crop_top < 0 || s.crop_left < 0) return false;
    if (s.color_count < 1 || s.color_count > 4) return false;
    // Deeper samples only where the DNG tile loader maps them onto 16 bits.
    const int max_bits = s.loader == LoaderId::dng_tiled_load_raw ? 32 : 16;
    if (s.bits_per_sample < 1 || s.bits_per_sample > max_bits) return false;
    if (s.tile_width < 1 || s.tile_length < 1) return false;
    if (s.white_level <= s.black_level) return false;
    if (s.raw_count < 0 || s.raw_count > limits::kMaxRawCount) return false;
    if (!limits::within_file(s, s.raw_offset, 0)) return false;
    if (!limits::within_file(s, s.thumb_offset, s.thumb_length)) return false;
    if (!limits::within_file(s, s.aux_offset, s.aux_length)) return false;
    return true;
}

}  // namespace

void apply_global_guards(DecoderSession& s) {
    if (s.raw_count != 0 && !sane(s)) s.raw_count = 0;
}

}  // namespace ostel::core
