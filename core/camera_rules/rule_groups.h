#pragma once
// The per-maker groups of the camera-rule chain. Each returns true when one
// of its rules matched the camera; the chain then ends.
#include <cstdint>
#include <cstring>

#include "core/identify/limits.h"
#include "core/session/decoder_session.h"

namespace ostel::core::rules {

bool canon_rules(DecoderSession& s);
bool nikon_rules(DecoderSession& s);
bool fuji_rules(DecoderSession& s);
bool minolta_rules(DecoderSession& s);
bool panasonic_rules(DecoderSession& s);
bool other_rules(DecoderSession& s);

inline bool model_is(const DecoderSession& s, const char* name) { return std::strcmp(s.model, name) == 0; }
inline bool make_is(const DecoderSession& s, const char* name) { return std::strcmp(s.make, name) == 0; }
inline bool model_starts(const DecoderSession& s, const char* prefix) {
    return std::strncmp(s.model, prefix, std::strlen(prefix)) == 0;
}

// A dimension computed from file values, kept inside int: anything beyond
// the largest valid size is left just above it so that the size checks at
// the end of identification refuse the file.
inline int bounded_dim(int64_t v) {
    if (v < 0) return 0;
    return v > limits::kMaxDimension ? limits::kMaxDimension + 1 : static_cast<int>(v);
}

inline void set_size(DecoderSession& s, int height, int width) {
    s.height = height;
    s.width = width;
}

// Margins that are also taken off the visible size.
inline void trim_margins(DecoderSession& s, int top, int left) {
    s.crop_top = top;
    s.crop_left = left;
    s.height = bounded_dim(int64_t(s.height) - top);
    s.width = bounded_dim(int64_t(s.width) - left);
}

}  // namespace ostel::core::rules
