// SMaL sensors: 8-bit differences coded with an adaptive binary-interval
// range coder in three symbol models, in one segment (version 6) or a table
// of segments (version 9). Version 9 files may skip rows ("holes") that are
// interpolated afterwards.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "core/identify/limits.h"
#include "core/ljpeg/bit_reader.h"
#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

struct Segment {
    int64_t first_pixel;
    int64_t data_pos;
};

bool hole_row(const DecoderSession& s, int64_t raw_row, unsigned holes) {
    return (holes >> ((raw_row - s.stored_height) & 7)) & 1;
}

// Decodes the pixels of seg up to the first pixel of next.
void decode_segment(DecoderSession& s, const Segment& seg, const Segment& next, unsigned holes) {
    uint8_t model[3][13] = {{7, 7, 0, 0, 63, 55, 47, 39, 31, 23, 15, 7, 0},
                            {7, 7, 0, 0, 63, 55, 47, 39, 31, 23, 15, 7, 0},
                            {3, 3, 0, 0, 63, 47, 31, 15, 0, 0, 0, 0, 0}};
    int high = 0xFF, carry = 0, nbits = 8;
    uint16_t data = 0, low_bound = 0;
    uint8_t pred[2] = {0, 0};
    const int64_t raw_w = s.stored_width;
    const int64_t end = std::min(next.first_pixel, raw_w * s.stored_height);

    s.seek(seg.data_pos + 1);
    reset_bits(s);
    for (int64_t pix = std::max<int64_t>(seg.first_pixel, 0); pix < end; ++pix) {
        int sym[3];
        for (int m = 0; m < 3; ++m) {
            uint8_t* M = model[m];
            data = static_cast<uint16_t>((unsigned(data) << nbits) | read_bits(s, nbits));
            if (carry < 0) {
                nbits += carry + 1;
                carry = nbits < 1 ? nbits - 1 : 0;
            }
            while (--nbits >= 0)
                if (((data >> nbits) & 0xFF) == 0xFF) break;
            if (nbits > 0) {
                const unsigned half = 1u << (nbits - 1);
                data = static_cast<uint16_t>(((data & (half - 1)) << 1) |
                                             ((unsigned(data) + ((data & half) << 1)) & (~0u << nbits)));
            }
            if (nbits >= 0) {
                data = static_cast<uint16_t>(data + read_bits(s, 1));
                carry = nbits - 8;
            }
            const int count = ((((data - low_bound + 1) & 0xFFFF) << 2) - 1) / (high >> 4);
            int bin = 0;
            while (bin < 7 && M[bin + 5] > count) ++bin;
            const int lo = M[bin + 5] * (high >> 4) >> 2;
            if (bin > 0) high = M[bin + 4] * (high >> 4) >> 2;
            high -= lo;
            // A corrupt stream can empty the interval, which could never be
            // renormalised; nothing sensible follows, so the segment ends.
            if (high <= 0) {
                ++s.short_read_count;
                return;
            }
            for (nbits = 0; (high << nbits) < 128; ++nbits) {
            }
            low_bound = static_cast<uint16_t>((low_bound + lo) << nbits);
            high <<= nbits;

            int next_index = M[1];
            if (++M[2] > M[3]) {
                next_index = (next_index + 1) & M[0];
                M[3] = static_cast<uint8_t>((M[next_index + 4] - M[next_index + 5]) >> 2);
                M[2] = 1;
            }
            if (M[M[1] + 4] - M[M[1] + 5] > 1) {
                if (bin < M[1]) {
                    for (int i = bin; i < M[1]; ++i) --M[i + 5];
                } else if (next_index <= bin) {
                    for (int i = M[1]; i < bin; ++i) ++M[i + 5];
                }
            }
            M[1] = static_cast<uint8_t>(next_index);
            sym[m] = bin;
        }
        uint8_t diff = static_cast<uint8_t>(sym[2] << 5 | sym[1] << 2 | (sym[0] & 3));
        if (sym[0] & 4) diff = diff ? static_cast<uint8_t>(-diff) : 0x80;
        if (s.tell() + 12 >= next.data_pos) diff = 0;
        pred[pix & 1] = static_cast<uint8_t>(pred[pix & 1] + diff);
        const int64_t raw_row = pix / raw_w;
        s.bayer_store(static_cast<int>(raw_row - s.crop_top), static_cast<int>(pix % raw_w - s.crop_left),
                      pred[pix & 1]);
        if (!(pix & 1) && hole_row(s, raw_row - s.crop_top, holes)) pix += 2;
    }
}

int median4(const int (&v)[4]) {
    int sum = 0, lo = INT_MAX, hi = INT_MIN;
    for (int x : v) {
        sum += x;
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    return (sum - lo - hi) >> 1;
}

void fill_holes(DecoderSession& s, unsigned holes) {
    auto at = [&](int r, int c) { return legacy::sample_or_zero(s, r, c); };
    auto hole = [&](int r) { return hole_row(s, r, holes); };
    for (int row = 2; row < s.height - 2; ++row) {
        if (!hole(row)) continue;
        for (int col = 1; col < s.width - 1; col += 4) {
            const int v[4] = {at(row - 1, col - 1), at(row - 1, col + 1), at(row + 1, col - 1), at(row + 1, col + 1)};
            legacy::sample_at(s, row, col) = static_cast<uint16_t>(median4(v));
        }
        for (int col = 2; col < s.width - 2; col += 4) {
            int value;
            if (hole(row - 2) || hole(row + 2)) {
                value = (at(row, col - 2) + at(row, col + 2)) >> 1;
            } else {
                const int v[4] = {at(row, col - 2), at(row, col + 2), at(row - 2, col), at(row + 2, col)};
                value = median4(v);
            }
            legacy::sample_at(s, row, col) = static_cast<uint16_t>(value);
        }
    }
}

}  // namespace

void smal_v6_loader(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.stored_width <= 0) {
        count_undecodable(s);
        return;
    }
    s.seek(16);
    const Segment seg{0, s.read_u16()};
    const Segment end{int64_t(s.stored_width) * s.stored_height, INT_MAX};
    decode_segment(s, seg, end, 0);
    s.white_level = 255;
}

void smal_v9_loader(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.stored_width <= 0) {
        count_undecodable(s);
        return;
    }
    s.seek(67);
    const uint32_t table_pos = s.read_u32();
    const unsigned count = legacy::read_byte(s);
    // A segment table outside the file leaves nothing to decode; so does an
    // empty one, though the steps after the segments still run.
    if (!limits::within_file(s, table_pos, int64_t(count) * 8)) {
        count_undecodable(s);
        return;
    }
    if (count == 0) count_undecodable(s);
    std::vector<Segment> segs(count + 1);
    s.seek(table_pos);
    for (unsigned i = 0; i < count; ++i) {
        segs[i].first_pixel = s.read_u32();
        segs[i].data_pos = int64_t(s.read_u32()) + s.raw_offset;
    }
    s.seek(78);
    const unsigned holes = legacy::read_byte(s);
    s.seek(88);
    segs[count].first_pixel = int64_t(s.stored_height) * s.stored_width;
    segs[count].data_pos = int64_t(s.read_u32()) + s.raw_offset;
    for (unsigned i = 0; i < count; ++i) decode_segment(s, segs[i], segs[i + 1], holes);
    if (holes) fill_holes(s, holes);
    s.white_level = 255;
}

}  // namespace ostel::core
