// Histogram levels correction ("Hist.Corr.").
#include <algorithm>
#include <cstdint>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

Table16 levels_table(const uint16_t* rgb, size_t pixels, double shadows, double highlights) {
    if (pixels == 0) return identity_table();
    LevelCounts counts;
#pragma omp parallel for schedule(static, 1)
    for (int c = 0; c < 3; ++c) {
        std::vector<uint64_t>& hist = counts[size_t(c)];
        hist.assign(65536, 0);
        for (size_t i = 0; i < pixels; ++i) ++hist[rgb[3 * i + size_t(c)]];
    }
    return levels_table_from_counts(counts, pixels, shadows, highlights);
}

Table16 levels_table_from_counts(const LevelCounts& counts, size_t pixels, double shadows, double highlights) {
    if (pixels == 0) return identity_table();
    const double lo = 0.015 + 0.001 * shadows;
    // The highlights slider reaches shares above 1, which no cumulative
    // share can reach; the whole histogram is the most it can ask for.
    const double hi = std::min(1.0, 0.9985 + 0.0005 * highlights);

    int black[3] = {0, 0, 0}, white[3] = {65535, 65535, 65535};
    for (int c = 0; c < 3; ++c) {
        const std::vector<uint64_t>& hist = counts[size_t(c)];
        if (hist.size() != 65536) return identity_table();
        const double total = double(pixels);
        uint64_t running = 0;
        bool have_black = false, have_white = false;
        for (int level = 0; level < 65536 && !(have_black && have_white); ++level) {
            running += hist[size_t(level)];
            const double share = double(running) / total;
            if (!have_black && share > lo) {
                black[c] = level;
                have_black = true;
            }
            if (!have_white && share >= hi) {
                white[c] = level;
                have_white = true;
            }
        }
    }
    const int b = std::min({black[0], black[1], black[2]});
    const int w = std::max({white[0], white[1], white[2]});
    if (w <= b) return identity_table();

    Table16 table(65536);
    const double scale = 65535.0 / double(w - b);
    for (int i = 0; i < 65536; ++i) table[size_t(i)] = detail::to_sample(double(i - b) * scale);
    return table;
}

}  // namespace ostel::develop
