#pragma once
// Median of nine values by a fixed exchange network (19 compare-exchanges),
// so the cost per pixel is constant and there are no branches on data
// at all. The array is reordered.

namespace ostel::develop {

inline float median_of_9(float p[9]) {
    // As min and max rather than a conditional swap: no branches, and a
    // loop over pixels can run it on vectors.
    auto sort2 = [p](int a, int b) {
        const float lo = p[b] < p[a] ? p[b] : p[a], hi = p[b] < p[a] ? p[a] : p[b];
        p[a] = lo;
        p[b] = hi;
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
