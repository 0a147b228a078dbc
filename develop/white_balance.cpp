#include "develop/white_balance.h"

#include <algorithm>
#include <vector>

namespace ostel::develop {

namespace {

// Sums of the three planes over a rectangle; rows are summed on their own
// and added in order, so the result does not depend on the thread count.
std::array<double, 3> plane_sums(const RgbPlanes& planes, int row0, int row1, int col0, int col1) {
    std::array<double, 3> total{};
    if (row1 <= row0 || col1 <= col0) return total;
    const int rows = row1 - row0;
    std::vector<std::array<double, 3>> per_row(static_cast<size_t>(rows));
    const size_t w = size_t(planes.width);
#pragma omp parallel for schedule(static)
    for (int i = 0; i < rows; ++i) {
        std::array<double, 3> s{};
        const size_t base = size_t(row0 + i) * w;
        for (int c = 0; c < 3; ++c)
            for (int col = col0; col < col1; ++col) s[size_t(c)] += planes[c][base + size_t(col)];
        per_row[size_t(i)] = s;
    }
    for (const auto& s : per_row)
        for (int c = 0; c < 3; ++c) total[size_t(c)] += s[size_t(c)];
    return total;
}

double ratio_or_one(double num, double den) {
    const double r = num / den;
    return (den != 0 && r > 0 && r < 1e30) ? r : 1.0;
}

}  // namespace

std::array<double, 3> automatic_white_balance(const RgbPlanes& planes, int margin) {
    const auto s = plane_sums(planes, margin, planes.height - margin, margin, planes.width - margin);
    return {ratio_or_one(s[1], s[0]), 1.0, ratio_or_one(s[1], s[2])};
}

std::array<double, 2> measure_white_point(const RgbPlanes& planes, int col, int row) {
    const int r0 = std::max(row - 5, 0), r1 = std::min(row + 5, planes.height);
    const int c0 = std::max(col - 5, 0), c1 = std::min(col + 5, planes.width);
    const auto s = plane_sums(planes, r0, r1, c0, c1);
    return {ratio_or_one(s[1], s[0]), ratio_or_one(s[1], s[2])};
}

}  // namespace ostel::develop
