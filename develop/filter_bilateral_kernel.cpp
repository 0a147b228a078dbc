#include "develop/filter_bilateral_kernel.h"

#include <immintrin.h>

namespace ostel::develop::detail {

bool cpu_has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

void bilateral_blocks_plain(const BilateralWindow& w, const std::vector<BilateralRow>& rows,
                            const float* const centre[3], int blocks, float* out[3]) {
    const int e = w.radius;
    for (int block = 0; block < blocks; ++block) {
        const int x0 = block * 8;
        float sum_w[8] = {}, sum_r[8] = {}, sum_g[8] = {}, sum_b[8] = {};
        for (const BilateralRow& row : rows) {
            for (int dx = -e; dx <= e; ++dx) {
                const float c = row.spatial + w.spatial[dx + e];
                for (int j = 0; j < 8; ++j) {
                    const int x = x0 + j;
                    const float dl = row.lab[0][x + dx] - centre[0][x];
                    const float da = row.lab[1][x + dx] - centre[1][x];
                    const float db = row.lab[2][x + dx] - centre[2][x];
                    float t = w.range_scale * ((dl * dl + da * da) + db * db) + c;
                    t = t < 1024.0f ? t : 1024.0f;
                    const float weight = w.weight[int(t)];
                    sum_w[j] += weight;
                    sum_r[j] += weight * row.rgb[0][x + dx];
                    sum_g[j] += weight * row.rgb[1][x + dx];
                    sum_b[j] += weight * row.rgb[2][x + dx];
                }
            }
        }
        for (int j = 0; j < 8; ++j) {
            out[0][x0 + j] = sum_r[j] / sum_w[j];
            out[1][x0 + j] = sum_g[j] / sum_w[j];
            out[2][x0 + j] = sum_b[j] / sum_w[j];
        }
    }
}

__attribute__((target("avx2"))) void bilateral_blocks_avx2(const BilateralWindow& w,
                                                           const std::vector<BilateralRow>& rows,
                                                           const float* const centre[3], int blocks, float* out[3]) {
    const int e = w.radius;
    const __m256 q = _mm256_set1_ps(w.range_scale);
    const __m256 limit = _mm256_set1_ps(1024.0f);
    for (int block = 0; block < blocks; ++block) {
        const int x0 = block * 8;
        const __m256 cl = _mm256_loadu_ps(centre[0] + x0);
        const __m256 ca = _mm256_loadu_ps(centre[1] + x0);
        const __m256 cb = _mm256_loadu_ps(centre[2] + x0);
        __m256 sum_w = _mm256_setzero_ps(), sum_r = sum_w, sum_g = sum_w, sum_b = sum_w;
        for (const BilateralRow& row : rows) {
            for (int dx = -e; dx <= e; ++dx) {
                const __m256 c = _mm256_set1_ps(row.spatial + w.spatial[dx + e]);
                const int x = x0 + dx;
                const __m256 dl = _mm256_sub_ps(_mm256_loadu_ps(row.lab[0] + x), cl);
                const __m256 da = _mm256_sub_ps(_mm256_loadu_ps(row.lab[1] + x), ca);
                const __m256 db = _mm256_sub_ps(_mm256_loadu_ps(row.lab[2] + x), cb);
                const __m256 d2 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(dl, dl), _mm256_mul_ps(da, da)),
                                                _mm256_mul_ps(db, db));
                // min(t, limit) takes the limit for NaN as well.
                const __m256 t = _mm256_min_ps(_mm256_add_ps(_mm256_mul_ps(q, d2), c), limit);
                const __m256 weight = _mm256_i32gather_ps(w.weight, _mm256_cvttps_epi32(t), 4);
                sum_w = _mm256_add_ps(sum_w, weight);
                sum_r = _mm256_add_ps(sum_r, _mm256_mul_ps(weight, _mm256_loadu_ps(row.rgb[0] + x)));
                sum_g = _mm256_add_ps(sum_g, _mm256_mul_ps(weight, _mm256_loadu_ps(row.rgb[1] + x)));
                sum_b = _mm256_add_ps(sum_b, _mm256_mul_ps(weight, _mm256_loadu_ps(row.rgb[2] + x)));
            }
        }
        _mm256_storeu_ps(out[0] + x0, _mm256_div_ps(sum_r, sum_w));
        _mm256_storeu_ps(out[1] + x0, _mm256_div_ps(sum_g, sum_w));
        _mm256_storeu_ps(out[2] + x0, _mm256_div_ps(sum_b, sum_w));
    }
}

}  // namespace ostel::develop::detail
