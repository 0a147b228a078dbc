#pragma once
// Median of nine values by a fixed exchange network (19 compare-exchanges),
// so the cost per pixel is constant and there are no branches on data
// beyond the exchanges themselves. The array is reordered.
#include <utility>

namespace ostel::develop {

inline float median_of_9(float p[9]) {
    auto sort2 = [p](int a, int b) {
        if (p[a] > p[b]) std::swap(p[a], p[b]);
    };
    sort2(1, 2); sort2(4, 5); sort2(7, 8);
    sort2(0, 1); sort2(3, 4); sort2(6, 7);
    sort2(1, 2); sort2(4, 5); sort2(7, 8);
    sort2(0, 3); sort2(5, 8); sort2(4, 7);
    sort2(3, 6); sort2(1, 4); sort2(2, 5);
    sort2(4, 7); sort2(4, 2); sort2(6, 4);
    sort2(4, 2);
    return p[4];
}

}  // namespace ostel::develop
