#pragma once
// Small numeric helpers shared by the tone stages.
#include <cstdint>

namespace ostel::develop::detail {

// Clamps to lo..hi; NaN becomes lo, so no undefined conversion follows.
inline double clamp_value(double v, double lo, double hi) {
    if (!(v > lo)) return lo;
    return v < hi ? v : hi;
}

// Truncated 16-bit sample of a value clamped to 0..65535.
inline uint16_t to_sample(double v) { return static_cast<uint16_t>(clamp_value(v, 0.0, 65535.0)); }

}  // namespace ostel::develop::detail
