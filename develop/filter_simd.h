#pragma once
// Vector helpers of the filters.
//
// Hot loops are compiled twice, for AVX2 and for the x86-64 baseline, and
// the processor picks one when the program loads. Both give the same bits:
// the loops do per-element arithmetic only, with no fused multiply-add.
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define OSTEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define OSTEL_VECTOR_CLONES
#endif

namespace ostel::develop::detail {

// e^x for x <= 0, to a couple of units in the last place, written so that a
// loop over it vectorises (the library's expf is a call per element).
inline float exp_of_negative(float x) {
    x = x > -87.0f ? x : -87.0f;  // below, e^x is under the smallest normal float
    // x = k ln2 + r with k an integer and |r| <= ln2 / 2, ln2 in two parts.
    const int k = int(x * 1.44269504f - 0.5f);
    const float kf = float(k);
    float r = x - kf * 0.693359375f;
    r = r - kf * -2.12194440e-4f;
    float p = 1.9875691500e-4f;
    p = p * r + 1.3981999507e-3f;
    p = p * r + 8.3334519073e-3f;
    p = p * r + 4.1665795894e-2f;
    p = p * r + 1.6666665459e-1f;
    p = p * r + 5.0000001201e-1f;
    const float e = p * r * r + r + 1.0f;
    const int32_t bits = (k + 127) << 23;  // 2^k, k in -126..0
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return e * scale;
}

}  // namespace ostel::develop::detail
