#include "tools/simcam/ljpeg_encoder.h"

#include <stdexcept>

#include "tools/simcam/bit_writer.h"

namespace ostel::simcam {

namespace {

void put_u16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void marker(std::vector<uint8_t>& out, uint8_t code, unsigned length) {
    out.push_back(0xFF);
    out.push_back(code);
    put_u16(out, length);
}

int predict(int psv, int left, int above, int corner) {
    switch (psv) {
        case 1: return left;
        case 2: return above;
        case 3: return corner;
        case 4: return left + above - corner;
        case 5: return left + ((above - corner) >> 1);
        case 6: return above + ((left - corner) >> 1);
        case 7: return (left + above) >> 1;
        default: return 0;
    }
}

}  // namespace

const std::vector<uint8_t>& ljpeg_huffman_table() {
    // Short codes for small differences, every category up to 16 reachable:
    // lengths 3 for categories 1-5, 4 for 0 and 6, then one longer per category.
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> s = {0, 0, 5, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0};
        const uint8_t symbols[] = {1, 2, 3, 4, 5, 0, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        s.insert(s.end(), std::begin(symbols), std::end(symbols));
        return s;
    }();
    return table;
}

std::vector<uint8_t> encode_ljpeg(const LjpegFrame& f, const std::vector<uint16_t>& samples) {
    const int comps = f.components;
    if (comps < 1 || comps > 4 || f.wide < 1 || f.high < 1 || f.bits < 2 || f.bits > 16 || f.predictor < 1 ||
        f.predictor > 7)
        throw std::invalid_argument("encode_ljpeg: unsupported frame");
    const size_t line = static_cast<size_t>(f.wide) * comps;
    if (f.restart_interval < 0 || (f.restart_interval > 0 && f.restart_interval % f.wide != 0))
        throw std::invalid_argument("encode_ljpeg: restart interval must be whole lines");
    if (samples.size() < line * static_cast<size_t>(f.high)) throw std::invalid_argument("encode_ljpeg: short input");

    std::vector<uint8_t> out = {0xFF, 0xD8};
    const auto& table = ljpeg_huffman_table();
    marker(out, 0xC4, static_cast<unsigned>(2 + 1 + table.size()));
    out.push_back(0x00);  // class 0, table 0: shared by every component
    out.insert(out.end(), table.begin(), table.end());
    if (f.restart_interval > 0) {
        marker(out, 0xDD, 4);
        put_u16(out, static_cast<unsigned>(f.restart_interval));
    }
    marker(out, 0xC3, static_cast<unsigned>(8 + 3 * comps));
    out.push_back(static_cast<uint8_t>(f.bits));
    put_u16(out, static_cast<unsigned>(f.high));
    put_u16(out, static_cast<unsigned>(f.wide));
    out.push_back(static_cast<uint8_t>(comps));
    for (int c = 0; c < comps; ++c) {
        out.push_back(static_cast<uint8_t>(c + 1));
        out.push_back(0x11);
        out.push_back(0x00);
    }
    marker(out, 0xDA, static_cast<unsigned>(6 + 2 * comps));
    out.push_back(static_cast<uint8_t>(comps));
    for (int c = 0; c < comps; ++c) {
        out.push_back(static_cast<uint8_t>(c + 1));
        out.push_back(0x00);
    }
    out.push_back(static_cast<uint8_t>(f.predictor));
    out.push_back(0);  // end of selection
    out.push_back(0);  // no point transform

    const auto codes = canonical_codes(table.data());
    const int initial = 1 << (f.bits - 1);
    // Restarts fall on line starts only, as the core's decoder checks for
    // them there; after one, column 0 starts again from the initial value
    // while later columns keep using the line above.
    const long long restart = f.restart_interval;
    BitWriter bits(out, true);
    int next_rst = 0;
    std::vector<int> column0(static_cast<size_t>(comps), initial);
    for (int row = 0; row < f.high; ++row) {
        const uint16_t* cur = samples.data() + line * row;
        const uint16_t* prev = row > 0 ? cur - line : nullptr;
        const long long mcu = static_cast<long long>(row) * f.wide;
        if (restart > 0 && mcu % restart == 0) {
            if (row > 0) {
                bits.flush();
                out.push_back(0xFF);
                out.push_back(static_cast<uint8_t>(0xD0 + next_rst));
                next_rst = (next_rst + 1) & 7;
            }
            column0.assign(static_cast<size_t>(comps), initial);
        }
        for (int col = 0; col < f.wide; ++col) {
            for (int c = 0; c < comps; ++c) {
                const size_t i = static_cast<size_t>(col) * comps + c;
                int pred;
                if (col == 0) {
                    pred = column0[static_cast<size_t>(c)];
                    column0[static_cast<size_t>(c)] = cur[i];
                } else if (!prev) {
                    pred = cur[i - comps];
                } else {
                    pred = predict(f.predictor, cur[i - comps], prev[i], prev[i - comps]);
                }
                int diff = (static_cast<int>(cur[i]) - pred) & 0xFFFF;
                if (diff >= 0x8000) diff -= 0x10000;
                const int cat = diff == -32768 ? 16 : diff_category(diff);
                const HuffCode hc = codes[static_cast<size_t>(cat)];
                if (hc.length == 0) throw std::logic_error("encode_ljpeg: difference length without a code");
                bits.put(hc.code, hc.length);
                if (cat < 16) bits.put(diff_bits(diff, cat), cat);
            }
        }
    }
    bits.flush();
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

}  // namespace ostel::simcam
