#include "persistence/image_id.h"

#include <array>

#include "core/session/decoder_session.h"

namespace ostel::persistence {

namespace {

uint32_t low_half(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }

}  // namespace

uint32_t super_fast_hash(const uint8_t* data, size_t length, uint32_t initial) {
    uint32_t hash = initial;
    if (!data || length == 0) return 0;
    const size_t remainder = length & 3;
    for (size_t groups = length >> 2; groups > 0; --groups, data += 4) {
        hash += low_half(data);
        const uint32_t tmp = (low_half(data + 2) << 11) ^ hash;
        hash = (hash << 16) ^ tmp;
        hash += hash >> 11;
    }
    switch (remainder) {
        case 3:
            hash += low_half(data);
            hash ^= hash << 16;
            hash ^= uint32_t(static_cast<int8_t>(data[2])) << 18;
            hash += hash >> 11;
            break;
        case 2:
            hash += low_half(data);
            hash ^= hash << 11;
            hash += hash >> 17;
            break;
        case 1:
            hash += static_cast<int8_t>(data[0]);
            hash ^= hash << 10;
            hash += hash >> 1;
            break;
        default:
            break;
    }
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash;
}

int32_t image_id(const core::DecoderSession& s) {
    if (s.image.empty() || s.width <= 0 || s.height <= 0 || s.image_width <= 0) return 0;
    const int shift = s.half_grid ? 1 : 0;
    std::array<uint8_t, 2 * kImageIdSamples> bytes{};
    for (int k = 0; k < kImageIdSamples; ++k) {
        const int row = k / s.width;
        const int col = k % s.width;
        if (row >= s.height) break;  // the rest stays 0
        const size_t index = size_t(row >> shift) * size_t(s.image_width) + size_t(col >> shift);
        if (index >= s.image.size()) break;
        const uint16_t v = s.image[index][s.filter_color(row, col)];
        bytes[size_t(2 * k)] = uint8_t(v & 0xFF);
        bytes[size_t(2 * k + 1)] = uint8_t(v >> 8);
    }
    return static_cast<int32_t>(super_fast_hash(bytes.data(), bytes.size(), uint32_t(bytes.size())));
}

}  // namespace ostel::persistence
