#pragma once
// Small reading helpers shared by the container parsers: fixed-size text
// fields, 32-bit words taken as IEEE singles, and file values narrowed to the
// session's int fields without wrapping.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/session/decoder_session.h"

namespace ostel::core::containers {

inline float ieee_single(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// File words beyond INT_MAX would turn negative in an int field; saturate so
// that the later range checks see an absurd size instead of a wrapped one.
inline int saturate_int(uint32_t v) { return v > uint32_t(INT_MAX) ? INT_MAX : static_cast<int>(v); }
inline int saturate_int(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// Reads a text field of field_bytes bytes into dest. The file position moves
// over the whole field; dest keeps what fits and is always terminated.
template <size_t N>
void read_text_field(DecoderSession& s, char (&dest)[N], size_t field_bytes) {
    char buf[N] = {};
    const size_t keep = std::min(field_bytes, N - 1);
    const size_t got = s.read(buf, 1, keep);
    buf[got] = 0;
    if (field_bytes > keep) s.seek(static_cast<int64_t>(field_bytes - keep), SEEK_CUR);
    std::memcpy(dest, buf, N);
    dest[N - 1] = 0;
}

}  // namespace ostel::core::containers
