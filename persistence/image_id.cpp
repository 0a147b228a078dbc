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

namespace {

// Reads sensor samples by visible position, whatever grid the image is
// stored on.
class SampleReader {
public:
    explicit SampleReader(const core::DecoderSession& s) : s_(s), shift_(s.half_grid ? 1 : 0) {}

    // The sample at (row, col) with that position's filter colour; false
    // past the stored image.
    bool read(int row, int col, uint16_t& value, int& colour) const {
        if (row >= s_.height) return false;
        const size_t index = size_t(row >> shift_) * size_t(s_.image_width) + size_t(col >> shift_);
        if (index >= s_.image.size()) return false;
        colour = s_.filter_color(row, col);
        value = s_.image[index][size_t(colour)];
        return true;
    }

private:
    const core::DecoderSession& s_;
    int shift_;
};

void put_sample(uint8_t* bytes, size_t k, uint16_t v) {
    bytes[2 * k] = uint8_t(v & 0xFF);
    bytes[2 * k + 1] = uint8_t(v >> 8);
}

}  // namespace

int32_t image_id(const core::DecoderSession& s) {
    if (s.image.empty() || s.width <= 0 || s.height <= 0 || s.image_width <= 0) return 0;
    const SampleReader reader(s);
    std::array<uint8_t, 4 * kImageIdSamples> bytes{};
    std::array<int, 4> first_of_colour{-1, -1, -1, -1};
    bool flat = true;
    for (int k = 0; k < kImageIdSamples; ++k) {
        uint16_t v = 0;
        int colour = 0;
        if (!reader.read(k / s.width, k % s.width, v, colour)) break;  // the rest stays 0
        put_sample(bytes.data(), size_t(k), v);
        int& first = first_of_colour[size_t(colour & 3)];
        if (first < 0) first = v;
        flat = flat && first == v;
    }
    if (!flat) return static_cast<int32_t>(super_fast_hash(bytes.data(), 2 * kImageIdSamples, 2 * kImageIdSamples));

    // The first samples carry no more than one level per colour: a clipped
    // sky or a black edge, alike in many photos. Samples on a grid over the
    // whole visible image follow them into the hash.
    for (int k = 0; k < kImageIdSamples; ++k) {
        const int grid_row = k / kSpreadColumns, grid_col = k % kSpreadColumns;
        const int row = int((2 * int64_t(grid_row) + 1) * s.height / (2 * int64_t(kSpreadRows)));
        const int col = int((2 * int64_t(grid_col) + 1) * s.width / (2 * int64_t(kSpreadColumns)));
        uint16_t v = 0;
        int colour = 0;
        if (reader.read(row, col, v, colour)) put_sample(bytes.data(), size_t(kImageIdSamples + k), v);
    }
    return static_cast<int32_t>(super_fast_hash(bytes.data(), bytes.size(), uint32_t(bytes.size())));
}

}  // namespace ostel::persistence
