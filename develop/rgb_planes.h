#pragma once
// Three floating-point colour planes of one image, row-major.
#include <array>
#include <cstddef>

#include "core/session/large_buffer.h"

namespace ostel::develop {

using Plane = core::LargeBuffer<float>;

struct RgbPlanes {
    int width = 0, height = 0;
    std::array<Plane, 3> plane;  // R, G, B

    size_t pixel_count() const { return size_t(width) * size_t(height); }
    void resize(int w, int h, size_t count) {
        width = w;
        height = h;
        for (auto& p : plane) p.assign(count, 0.0f);
    }
    float* operator[](int c) { return plane[size_t(c)].data(); }
    const float* operator[](int c) const { return plane[size_t(c)].data(); }
};

}  // namespace ostel::develop
