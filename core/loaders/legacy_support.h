#pragma once
// Small helpers shared by the loaders of the older and medium-format cameras:
// counted byte reads, guarded scratch allocation and access to a visible
// sample through the (possibly shrunken) image grid.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "core/session/core_failure.h"
#include "core/session/decoder_session.h"

namespace ostel::core::legacy {

// A scratch vector of n elements; an allocation failure leaves the decode
// through the core's failure exit.
template <typename T>
std::vector<T> scratch(size_t n, T fill = T{}) {
    try {
        return std::vector<T>(n, fill);
    } catch (const std::bad_alloc&) {
        fail_out_of_memory();
    }
}

// Reads n bytes into dest; a short read zero-fills the rest and counts one
// data error. Returns the bytes actually read.
inline size_t read_bytes(DecoderSession& s, uint8_t* dest, size_t n) {
    const size_t got = s.read(dest, 1, n);
    if (got < n) {
        ++s.short_read_count;
        std::memset(dest + got, 0, n - got);
    }
    return got;
}

// One byte, or 0 with a data error at the end of the file.
inline unsigned read_byte(DecoderSession& s) {
    const int c = s.getc();
    if (c < 0) {
        ++s.short_read_count;
        return 0;
    }
    return static_cast<unsigned>(c);
}

inline bool visible(const DecoderSession& s, int row, int col) {
    return row >= 0 && col >= 0 && row < s.height && col < s.width;
}

// The sample of a visible position in the plane of its colour, at the
// shrunken position when the half grid is in use. The caller checks
// visibility first.
inline uint16_t& sample_at(DecoderSession& s, int row, int col) {
    const size_t index = static_cast<size_t>(row >> s.half_grid) * static_cast<size_t>(s.image_width) +
                         static_cast<size_t>(col >> s.half_grid);
    return s.image[index][s.filter_color(row, col)];
}

// A visible sample, or 0 outside the visible area or the buffer.
inline int sample_or_zero(DecoderSession& s, int row, int col) {
    if (!visible(s, row, col)) return 0;
    const size_t index = static_cast<size_t>(row >> s.half_grid) * static_cast<size_t>(s.image_width) +
                         static_cast<size_t>(col >> s.half_grid);
    if (index >= s.image.size()) return 0;
    return s.image[index][s.filter_color(row, col)];
}

// True when the image buffer holds every visible position (the decode entry
// allocates it; a loader called on an unprepared session does nothing).
inline bool image_ready(const DecoderSession& s) {
    if (s.height <= 0 || s.width <= 0 || s.image_width <= 0) return false;
    const size_t rows = static_cast<size_t>((s.height - 1) >> s.half_grid) + 1;
    const size_t cols = static_cast<size_t>((s.width - 1) >> s.half_grid) + 1;
    return cols <= static_cast<size_t>(s.image_width) && rows * static_cast<size_t>(s.image_width) <= s.image.size();
}

// Full-colour pixel of a visible position (full-colour loaders run with the
// half grid off).
inline Pixel4& pixel_at(DecoderSession& s, int row, int col) {
    return s.image[static_cast<size_t>(row) * static_cast<size_t>(s.image_width) + static_cast<size_t>(col)];
}

inline uint16_t clamp16(double v) {
    if (!(v > 0)) return 0;
    if (v >= 65535) return 65535;
    return static_cast<uint16_t>(v);
}

inline int clampi(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

// An IEEE single stored as a 32-bit word in the file's byte order.
inline float read_float(DecoderSession& s) {
    const uint32_t bits = s.read_u32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Makes the image a full-size, full-colour buffer (half grid off).
void make_full_size_image(DecoderSession& s);

}  // namespace ostel::core::legacy
