#include "core/thumb/thumb_writers.h"

#include <new>

#include "core/identify/limits.h"
#include "core/session/core_failure.h"

namespace ostel::core {

namespace {

std::vector<uint8_t> allocate_bytes(size_t n) {
    try {
        return std::vector<uint8_t>(n, 0);
    } catch (const std::bad_alloc&) {
        fail_out_of_memory();
    }
}

}  // namespace

void jpeg_thumb_writer(DecoderSession& s) {
    if (!s.thumb_to_memory) return;
    const int64_t offset = s.tell();
    // The length comes from the file: it must be non-empty and lie inside it.
    if (s.thumb_length <= 0 || !limits::within_file(s, offset, s.thumb_length)) return;
    std::vector<uint8_t> bytes = allocate_bytes(static_cast<size_t>(s.thumb_length));
    if (s.read(bytes.data(), 1, bytes.size()) != bytes.size()) return;
    bytes[0] = 0xFF;
    s.thumb_data = std::move(bytes);
    s.thumb_data_length = s.thumb_length;
    s.thumb_kind = 1;
    s.thumb_to_memory = 0;
}

void ppm_thumb_writer(DecoderSession& s) {
    if (!s.thumb_to_memory) return;
    const int w = s.thumb_width, h = s.thumb_height;
    if (w < 1 || h < 1 || w > limits::kMaxDimension || h > limits::kMaxDimension) return;
    const int64_t pixels = int64_t(w) * h;
    const int64_t offset = s.tell();
    if (!limits::within_file(s, offset, pixels * 3)) return;

    const uint8_t* rgb = s.input.data() + offset;
    std::vector<uint8_t> bitmap = allocate_bytes(static_cast<size_t>(pixels * 4));
    for (int64_t i = 0; i < pixels; ++i) {
        bitmap[size_t(i * 4) + 0] = rgb[i * 3 + 2];
        bitmap[size_t(i * 4) + 1] = rgb[i * 3 + 1];
        bitmap[size_t(i * 4) + 2] = rgb[i * 3 + 0];
    }
    s.seek(offset + pixels * 3);
    s.thumb_data = std::move(bitmap);
    s.thumb_data_length = pixels * 4;
    s.thumb_bitmap_width = w;
    s.thumb_bitmap_height = h;
    s.thumb_kind = 2;
    s.thumb_to_memory = 0;
}

void run_thumb_writer(DecoderSession& s, ThumbWriterId id) {
    switch (id) {
        case ThumbWriterId::jpeg: jpeg_thumb_writer(s); break;
        case ThumbWriterId::ppm: ppm_thumb_writer(s); break;
        // Planar and Rollei previews are not delivered in memory.
        case ThumbWriterId::layered_planes:
        case ThumbWriterId::rollei:
        case ThumbWriterId::image_ppm_tiff:
        case ThumbWriterId::none: break;
    }
}

}  // namespace ostel::core
