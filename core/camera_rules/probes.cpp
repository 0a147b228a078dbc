// File probes that tell apart cameras sharing one file size or model text.
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/camera_rules/camera_rules.h"
#include "core/identify/limits.h"

namespace ostel::core {

namespace {

// Reads up to n bytes at offset into buf; bytes beyond the file stay `fill`.
size_t read_at(DecoderSession& s, int64_t offset, uint8_t* buf, size_t n, uint8_t fill) {
    std::memset(buf, fill, n);
    if (offset < 0) offset = 0;
    s.seek(offset);
    return s.read(buf, 1, n);
}

// The last n bytes of the file (fewer when the file is shorter).
std::vector<uint8_t> read_tail(DecoderSession& s, size_t n) {
    const int64_t size = s.file_size();
    const int64_t start = size > static_cast<int64_t>(n) ? size - static_cast<int64_t>(n) : 0;
    std::vector<uint8_t> tail(static_cast<size_t>(size - start));
    s.seek(start);
    tail.resize(s.read(tail.data(), 1, tail.size()));
    return tail;
}

struct ModelCode {
    int code;
    const char* make;
    const char* model;
};

// Model codes stored by the small bodies that share one file size.
constexpr std::array<ModelCode, 4> kModelCodes = {{
    {0x00, "PENTAX", "Optio 33WR"},
    {0x03, "NIKON", "E3200"},
    {0x32, "NIKON", "E3700"},
    {0x33, "OLYMPUS", "C740UZ"},
}};

}  // namespace

bool nikon_compressed_test(DecoderSession& s) {
    uint8_t test[256];
    // Missing bytes count as zero: data that is not there is not compressed.
    read_at(s, s.raw_offset, test, sizeof test, 0);
    for (size_t i = 15; i < sizeof test; i += 16)
        if (test[i]) return true;
    return false;
}

bool nikon_e995_test(DecoderSession& s) {
    std::array<int, 256> histogram{};
    for (uint8_t byte : read_tail(s, 2000)) ++histogram[byte];
    for (int value : {0x00, 0x55, 0xAA, 0xFF})
        if (histogram[value] < 200) return false;
    return true;
}

bool nikon_e2100_test(DecoderSession& s) {
    s.seek(0);
    for (int group = 0; group < 1024; ++group) {
        uint8_t t[12];
        // Past the end the file reads as all-ones bytes.
        std::memset(t, 0xFF, sizeof t);
        s.read(t, 1, sizeof t);
        if (((((t[2] & t[4] & t[7] & t[9]) >> 4) & t[1] & t[6] & t[8] & t[11] & 3)) != 3) return false;
    }
    return true;
}

void nikon_3700_test(DecoderSession& s) {
    uint8_t t[24];
    read_at(s, 3072, t, sizeof t, 0xFF);
    const int code = ((t[8] & 3) << 4) | (t[20] & 3);
    for (const ModelCode& row : kModelCodes) {
        if (row.code != code) continue;
        set_text(s.make, row.make);
        set_text(s.model, row.model);
    }
}

bool minolta_z2_test(DecoderSession& s) {
    int non_zero = 0;
    for (uint8_t byte : read_tail(s, 424)) non_zero += byte != 0;
    return non_zero > 20;
}

bool canon_s2is_test(DecoderSession& s) {
    for (int64_t offset = 3284; offset < 337284; offset += 3340) {
        s.seek(offset);
        if (s.getc() > 15) return true;
    }
    return false;
}

void build_gamma_curve(DecoderSession& s, double toe_slope) {
    // g is where the toe meets the logarithmic part; the two pieces join
    // continuously when g / e^(1 - 1/g) equals the toe slope. Without a toe
    // steeper than 1 there is no such point and the curve is the toe alone.
    double g = 1.0;
    if (toe_slope >= 1) {
        double lo = 0, hi = 1;
        for (int step = 0; step < 48; ++step) {
            g = (lo + hi) / 2;
            if (g / std::exp(1 - 1 / g) < toe_slope)
                hi = g;
            else
                lo = g;
        }
    }
    s.lin_table.assign(65536, 0);
    for (int i = 0; i < 65536; ++i) {
        const double r = i / 255.0;
        if (r >= 1) {
            s.lin_table[i] = 0xffff;
            continue;
        }
        const double v = 65536 * (r < g ? r / toe_slope : std::exp((r - 1) / g));
        s.lin_table[i] = !(v > 0) ? 0 : v >= 65535 ? 0xffff : static_cast<uint16_t>(v);
    }
}

double green_balance_test(DecoderSession& s, int bits, int refill_bits, int64_t first_offset,
                          int64_t second_offset) {
    const int width = s.width;
    if (bits < 1 || bits > 16 || refill_bits < 8 || refill_bits > 32 || refill_bits % 8 != 0) return 0;
    if (width < 2 || width > limits::kMaxDimension) return 0;
    std::vector<uint16_t> rows[2] = {std::vector<uint16_t>(static_cast<size_t>(width)),
                                     std::vector<uint16_t>(static_cast<size_t>(width))};
    const int64_t offsets[2] = {first_offset, second_offset};
    for (int r = 0; r < 2; ++r) {
        s.seek(offsets[r] < 0 ? 0 : offsets[r]);
        uint64_t buffer = 0;
        int valid = 0;
        for (int col = 0; col < width; ++col) {
            for (valid -= bits; valid < 0; valid += refill_bits) {
                uint64_t chunk = 0;
                for (int shift = 0; shift < refill_bits; shift += 8) {
                    const int c = s.getc();
                    chunk |= static_cast<uint64_t>(c < 0 ? 0xFF : c) << shift;
                }
                buffer = (buffer << refill_bits) | chunk;
            }
            rows[r][static_cast<size_t>(col)] = static_cast<uint16_t>((buffer >> valid) & ((1u << bits) - 1));
        }
    }
    double sum[2] = {0, 0};
    for (int c = 0; c < width - 1; ++c) {
        sum[c & 1] += std::abs(rows[0][c] - rows[1][c + 1]);
        sum[(c + 1) & 1] += std::abs(rows[1][c] - rows[0][c + 1]);
    }
    // Flat or missing data gives a zero sum: no evidence either way.
    if (sum[0] <= 0 || sum[1] <= 0) return 0;
    return 100 * std::log(sum[0] / sum[1]);
}

}  // namespace ostel::core
