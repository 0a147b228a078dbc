#include "core/loaders/legacy_support.h"

#include "core/identify/limits.h"

namespace ostel::core::legacy {

void make_full_size_image(DecoderSession& s) {
    s.half_grid = 0;
    s.image_height = std::max(s.height, 0);
    s.image_width = std::max(s.width, 0);
    const int64_t pixels = int64_t(s.image_height) * s.image_width;
    if (pixels * 8 > limits::kMaxImageBytes) fail_out_of_memory();
    try {
        s.image.assign(static_cast<size_t>(pixels), Pixel4{});
    } catch (const std::bad_alloc&) {
        fail_out_of_memory();
    }
}

}  // namespace ostel::core::legacy
