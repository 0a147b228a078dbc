// Fill light: the global form of the photographic tone operator on the
// luminance, applied to X, Y and Z as one ratio per pixel.
#include <cmath>
#include <cstdint>
#include <vector>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

void fill_light(uint16_t* xyz, const float* luminance, int width, int height, double slider) {
    if (slider == 0 || width < 1 || height < 1) return;
    const double key = 0.007 * slider;
    const double white2 = 1e40;  // white 10^20, squared

    // Log average. Each row is summed on its own and the rows are added in
    // order, so the result is the same for any number of threads.
    std::vector<double> row_sum(size_t(height), 0.0);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < height; ++r) {
        const float* y = luminance + size_t(r) * size_t(width);
        double s = 0;
        for (int c = 0; c < width; ++c) s += std::log(double(y[c]) + 0.00001);
        row_sum[size_t(r)] = s;
    }
    double total = 0;
    for (double s : row_sum) total += s;
    const double log_average = std::exp(total / (double(width) * double(height)));
    const double scale = key / log_average;

#pragma omp parallel for schedule(static)
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const size_t i = size_t(r) * size_t(width) + size_t(c);
            const double y = luminance[i];
            const double l = scale * y;
            const double mapped = l * (1.0 + l / white2) / (1.0 + l);
            const double ratio = mapped / (y < 1.0e-5 ? 1.0e-5 : y);
            for (int k = 0; k < 3; ++k)
                xyz[3 * i + size_t(k)] =
                    static_cast<uint16_t>(detail::clamp_value(ratio * xyz[3 * i + size_t(k)], 0.0, 32767.0));
        }
}

}  // namespace ostel::develop
