#pragma once
// The inner loop of the luminance noise filter: weighted sums over the
// window for blocks of eight output pixels. A version with AVX2 and a plain
// one; both do the same operations in the same order, so they give the
// same bits.
#include <vector>

namespace ostel::develop::detail {

// One source row of the window: CIELab and RGB, each `padded` floats long
// and indexed from the image's column 0 (columns -radius .. -1 and past the
// image exist and carry a Lab value no neighbour is close to).
struct BilateralRow {
    const float* lab[3];
    const float* rgb[3];
    float spatial;  // spatial table entry of the row distance
};

struct BilateralWindow {
    int radius = 0;
    const float* spatial = nullptr;  // 2 * radius + 1 entries, centre at [radius]
    float range_scale = 0;           // q: 256 / (2 * range sigma^2)
    const float* weight = nullptr;   // 1025 entries, exp(-n / 256), the last 0
};

// Filters output columns 0 .. blocks * 8 - 1 of the row whose Lab values
// are `centre`; rows lists the window's rows inside the image.
void bilateral_blocks_avx2(const BilateralWindow& w, const std::vector<BilateralRow>& rows, const float* const centre[3],
                           int blocks, float* out[3]);
void bilateral_blocks_plain(const BilateralWindow& w, const std::vector<BilateralRow>& rows,
                            const float* const centre[3], int blocks, float* out[3]);
bool cpu_has_avx2();

}  // namespace ostel::develop::detail
