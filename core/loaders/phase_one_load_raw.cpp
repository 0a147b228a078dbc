// Phase One backs: the keyed 16-bit format and the compressed format with
// per-row offsets and per-row black, both followed by the calibration pass.
#include <cstdint>
#include <vector>

#include "core/identify/limits.h"
#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"
#include "core/loaders/phase_one_correct.h"

namespace ostel::core {

using legacy::scratch;

void phase_one_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.stored_width <= 0) {
        count_undecodable(s);
        return;
    }
    // Without its two keys the data cannot be unmasked.
    if (!limits::within_file(s, s.phase_one.key_offset, 4)) {
        count_undecodable(s);
        return;
    }
    s.seek(s.phase_one.key_offset);
    const uint16_t key_a = s.read_u16();
    const uint16_t key_b = s.read_u16();
    const uint16_t mask = s.phase_one.format == 1 ? 0x5555 : 0x1354;
    s.seek(s.raw_offset + int64_t(s.crop_top) * s.stored_width * 2);
    auto pixel = scratch<uint16_t>(static_cast<size_t>(s.stored_width));
    for (int row = 0; row < s.height; ++row) {
        s.read_u16_block(pixel.data(), pixel.size());
        // Pairs only: an odd raw width leaves the last word unmasked.
        for (int col = 0; col + 1 < s.stored_width; col += 2) {
            const uint16_t x = pixel[col] ^ key_a;
            const uint16_t y = pixel[col + 1] ^ key_b;
            pixel[col] = static_cast<uint16_t>((x & mask) | (y & ~mask));
            pixel[col + 1] = static_cast<uint16_t>((y & mask) | (x & ~mask));
        }
        for (int col = 0; col < s.width; ++col) {
            const int raw_col = col + s.crop_left;
            if (raw_col >= 0 && raw_col < s.stored_width) s.bayer_store(row, col, pixel[raw_col]);
        }
    }
    phase_one_correct(s);
}

namespace {

// 64-bit bit reader of the compressed format: 32-bit words in the file's
// byte order, bits taken from the top.
struct WordBits {
    uint64_t buffer = 0;
    int valid = 0;

    unsigned take(DecoderSession& s, int n) {
        if (n <= 0) return 0;
        if (valid < n) {
            uint8_t b[4];
            legacy::read_bytes(s, b, 4);
            buffer = (buffer << 32) | s.get4(b);
            valid += 32;
        }
        valid -= n;
        return static_cast<unsigned>((buffer >> valid) & ((uint64_t(1) << n) - 1));
    }
};

constexpr int kLengthTable[10] = {8, 7, 6, 9, 11, 10, 5, 12, 14, 13};

}  // namespace

void phase_one_load_raw_c(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.stored_width <= 0 || s.stored_height <= 0) {
        count_undecodable(s);
        return;
    }
    const size_t raw_w = static_cast<size_t>(s.stored_width);
    const size_t raw_h = static_cast<size_t>(s.stored_height);
    auto pixel = scratch<uint16_t>(raw_w);
    auto offsets = scratch<uint32_t>(raw_h);
    auto row_black = scratch<int16_t>(raw_h * 2);

    s.seek(s.phase_one.strip_offset);
    for (size_t i = 0; i < raw_h; ++i) offsets[i] = s.read_u32();
    if (s.phase_one.black_offset != 0) {
        s.seek(s.phase_one.black_offset);
        s.read_u16_block(reinterpret_cast<uint16_t*>(row_black.data()), row_black.size());
    }
    uint16_t curve[256];
    for (int i = 0; i < 256; ++i) curve[i] = static_cast<uint16_t>(i * i / 3.969 + 0.5);

    const int coded_width = s.stored_width & ~7;
    for (int row = 0; row < s.stored_height; ++row) {
        s.seek(s.raw_offset + offsets[static_cast<size_t>(row)]);
        WordBits bits;
        int pred[2] = {0, 0};
        // Both lengths start as absolute values so a row never depends on
        // a length left over from the previous one.
        int len[2] = {14, 14};
        for (int col = 0; col < s.stored_width; ++col) {
            if (col >= coded_width) {
                len[0] = len[1] = 14;
            } else if ((col & 7) == 0) {
                for (int& l : len) {
                    int zeros = 0;
                    while (zeros < 5 && bits.take(s, 1) == 0) ++zeros;
                    if (zeros > 0) l = kLengthTable[2 * (zeros - 1) + bits.take(s, 1)];
                }
            }
            const int n = len[col & 1];
            int& p = pred[col & 1];
            if (n == 14)
                p = static_cast<int>(bits.take(s, 16));
            else
                p += static_cast<int>(bits.take(s, n)) + 1 - (1 << (n - 1));
            if (p < 0 || p >= 65536) ++s.short_read_count;
            uint16_t v = static_cast<uint16_t>(p);
            if (s.phase_one.format == 5 && v < 256) v = curve[v];
            pixel[static_cast<size_t>(col)] = v;
        }
        const int vrow = row - s.crop_top;
        if (vrow < 0 || vrow >= s.height) continue;
        for (int col = 0; col < s.width; ++col) {
            const int raw_col = col + s.crop_left;
            if (raw_col < 0 || raw_col >= s.stored_width) continue;
            const int value = pixel[static_cast<size_t>(raw_col)] * 4 - s.phase_one.black +
                              row_black[static_cast<size_t>(row) * 2 + (col >= s.phase_one.split_col ? 1 : 0)];
            if (value > 0) s.bayer_store(vrow, col, legacy::clamp16(value));
        }
    }
    phase_one_correct(s);
    s.white_level = 0xFFFC - s.phase_one.black;
}

}  // namespace ostel::core
