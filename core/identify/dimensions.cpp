// Visible size from what the containers reported.
#include "core/identify/identify_steps.h"
#include "core/identify/limits.h"

namespace ostel::core {
namespace {

// Sensors whose reported size includes masked border that the camera
// rules do not handle.
struct SizeFix {
    int height, width;          // as reported
    int new_height, new_width;  // visible
    int crop_top;               // -1: unchanged
    uint32_t cfa_pattern;       // 0: unchanged
};

constexpr SizeFix kSizeFixes[] = {
    {2624, 3936, 2616, 3896, -1, 0},
    {3136, 4864, 3124, 4688, -1, 0},
    {3136, 4736, 3122, 4684, 2, 0x16161616},
};

}  // namespace

void fix_dimensions(DecoderSession& s) {
    if (s.height == 0) s.height = s.stored_height;
    if (s.width == 0) s.width = s.stored_width;
    if (s.diagonal_width) {
        // Sensors laid out on the diagonal: the visible grid is the sum of
        // both extents, one pixel less high than wide.
        // Both come from the file: an absurd sum leaves a zero width for
        // the final checks to refuse instead of overflowing.
        const int64_t sum = int64_t(s.height) + s.diagonal_width;
        s.width = sum > 0 && sum <= limits::kMaxDimension ? static_cast<int>(sum) : 0;
        s.height = s.width - 1;
        s.pixel_aspect = 1;
    }
    for (const SizeFix& fix : kSizeFixes) {
        if (s.height != fix.height || s.width != fix.width) continue;
        s.height = fix.new_height;
        s.width = fix.new_width;
        if (fix.crop_top >= 0) s.crop_top = fix.crop_top;
        if (fix.cfa_pattern) s.cfa_pattern = fix.cfa_pattern;
        break;
    }
    if (s.width == 4096 && s.height == 3014) s.width = 4014;
}

}  // namespace ostel::core
