// Pentax-style TIFF raw (big-endian): IFD0 holds the raw strip; the maker
// note ("AOC" header, offsets relative to the file) carries the Huffman
// table of compressed files in tag 0x220.
#include <stdexcept>

#include "tools/simcam/bit_writer.h"
#include "tools/simcam/format_common.h"
#include "tools/simcam/formats.h"

namespace ostel::simcam {

namespace {

// Code lengths of difference lengths 0..12; a prefix code of at most 12 bits.
constexpr uint8_t kLengths[13] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10};

struct Code {
    uint16_t code;
    uint8_t length;
};

// Canonical codes in symbol order (the lengths never decrease).
std::array<Code, 13> pentax_codes() {
    std::array<Code, 13> out{};
    uint32_t code = 0;
    int len = kLengths[0];
    for (int c = 0; c < 13; ++c) {
        code <<= (kLengths[c] - len);
        len = kLengths[c];
        out[static_cast<size_t>(c)] = {static_cast<uint16_t>(code), static_cast<uint8_t>(len)};
        ++code;
    }
    return out;
}

std::vector<uint8_t> assemble(const Mosaic& m, const Camera& cam, int compression, const std::vector<uint8_t>& strip,
                              const std::vector<uint8_t>& table_block) {
    // The table block sits before the strip so that a cut file keeps it.
    std::vector<std::vector<uint8_t>> blocks;
    if (!table_block.empty()) blocks.push_back(table_block);
    blocks.push_back(strip);
    const auto build = [&](const std::vector<uint32_t>& offsets) {
        TiffWriter w(false);
        const size_t first_ifd = w.header();
        std::vector<uint8_t> note;
        if (!table_block.empty()) {
            // "AOC\0" and the byte order, then a one-entry directory.
            TiffWriter n(false);
            n.text("AOC");
            n.u8(0);
            n.text("MM");
            n.u16(1);
            n.u16(0x220);
            n.u16(kUndefined);
            n.u32(static_cast<uint32_t>(table_block.size()));
            n.u32(offsets[0]);
            n.u32(0);
            note = n.bytes();
        } else {
            note = {'A', 'O', 'C', 0, 'M', 'M', 0, 0, 0, 0, 0, 0};
        }
        const uint32_t exif = detail::write_exif(w, note);
        auto e = detail::raw_image_entries(w, m, 12, compression);
        auto cfa = detail::cfa_entries(w, cam);
        e.insert(e.end(), cfa.begin(), cfa.end());
        e.push_back(w.ascii(271, cam.make));
        e.push_back(w.ascii(272, cam.model));
        e.push_back(w.shorts(274, {1}));
        e.push_back(w.longs(273, {offsets.back()}));
        e.push_back(w.longs(278, {static_cast<uint32_t>(m.height)}));
        e.push_back(w.longs(279, {static_cast<uint32_t>(strip.size())}));
        e.push_back(w.longs(34665, {exif}));
        w.patch_u32(first_ifd, w.write_ifd(std::move(e)));
        return w;
    };
    return detail::layout(build, blocks);
}

}  // namespace

std::vector<uint8_t> write_pef(const Mosaic& m, const Camera& cam) {
    TiffWriter order(false);
    return assemble(m, cam, 1, detail::words(order, m), {});
}

std::vector<uint8_t> write_pef_compressed(const Mosaic& m, const Camera& cam) {
    const auto codes = pentax_codes();
    // 14 unused bytes, 13 code starts left-aligned to 12 bits, 13 lengths.
    std::vector<uint8_t> block(14, 0);
    for (const Code& c : codes) {
        const uint32_t start = static_cast<uint32_t>(c.code) << (12 - c.length);
        block.push_back(static_cast<uint8_t>(start >> 8));
        block.push_back(static_cast<uint8_t>(start));
    }
    for (const Code& c : codes) block.push_back(c.length);

    std::vector<uint8_t> strip;
    BitWriter bw(strip);
    int vpred[2][2] = {{0, 0}, {0, 0}};
    for (int r = 0; r < m.height; ++r) {
        int hpred[2] = {0, 0};
        for (int c = 0; c < m.width; ++c) {
            const int v = m.at(r, c);
            if (v > 4095) throw std::invalid_argument("write_pef_compressed: values are 12-bit");
            int& pred = c < 2 ? vpred[r & 1][c] : hpred[c & 1];
            const int diff = v - pred;
            pred = v;
            if (c < 2) hpred[c] = v;
            const int cat = diff_category(diff);
            const Code code = codes[static_cast<size_t>(cat)];
            bw.put(code.code, code.length);
            bw.put(diff_bits(diff, cat), cat);
        }
    }
    bw.flush(false);
    return assemble(m, cam, 65535, strip, block);
}

}  // namespace ostel::simcam
