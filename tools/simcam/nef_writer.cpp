// Nikon-style TIFF raw (big-endian): IFD0 names the camera and points to a
// sub-directory with the raw strip; the Exif maker note is an embedded TIFF
// tree that, for compressed files, carries the decoder parameters (tag 0x96).
#include <stdexcept>

#include "tools/simcam/bit_writer.h"
#include "tools/simcam/format_common.h"
#include "tools/simcam/formats.h"

namespace ostel::simcam {

namespace {

// The Huffman tables the compressed format uses for 12- and 14-bit
// data (16 counts, then symbols; a symbol is the difference length).
constexpr uint8_t kTable12[] = {0, 1, 4, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                5, 4, 6, 3, 7, 2, 8, 1, 9, 0, 10, 11, 12};
constexpr uint8_t kTable14[] = {0, 1, 4, 2, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0,
                                7, 6, 8, 5, 9, 4, 10, 3, 11, 12, 2, 0, 1, 13, 14};

// The embedded tree: "Nikon" header, then a TIFF header of its own; offsets
// inside are relative to that header.
std::vector<uint8_t> maker_note(const std::vector<uint8_t>& decoder_block) {
    TiffWriter note(false);
    const size_t first = note.header();
    std::vector<TiffEntry> e = {note.shorts(0x0002, {0, 200})};
    if (!decoder_block.empty()) e.push_back(note.bytes_entry(0x0096, kUndefined, decoder_block));
    note.patch_u32(first, note.write_ifd(std::move(e)));
    std::vector<uint8_t> out = {'N', 'i', 'k', 'o', 'n', 0, 0x02, 0x10, 0x00, 0x00};
    out.insert(out.end(), note.bytes().begin(), note.bytes().end());
    return out;
}

std::vector<uint8_t> assemble(const Mosaic& m, const Camera& cam, int bits, int compression,
                              const std::vector<uint8_t>& strip, const std::vector<uint8_t>& decoder_block) {
    const auto note = maker_note(decoder_block);
    const auto build = [&](const std::vector<uint32_t>& data) {
        TiffWriter w(false);
        const size_t first_ifd = w.header();
        auto raw = detail::raw_image_entries(w, m, bits, compression);
        auto cfa = detail::cfa_entries(w, cam);
        raw.insert(raw.end(), cfa.begin(), cfa.end());
        raw.push_back(w.longs(273, {data[0]}));
        raw.push_back(w.longs(278, {static_cast<uint32_t>(m.height)}));
        raw.push_back(w.longs(279, {static_cast<uint32_t>(strip.size())}));
        const uint32_t sub = w.write_ifd(std::move(raw));
        const uint32_t exif = detail::write_exif(w, note);
        const uint32_t ifd0 = w.write_ifd({
            w.longs(254, {1}),
            w.ascii(271, cam.make),
            w.ascii(272, cam.model),
            w.shorts(274, {1}),
            w.ascii(306, "2024:05:17 10:30:00"),
            w.longs(330, {sub}),
            w.longs(34665, {exif}),
        });
        w.patch_u32(first_ifd, ifd0);
        return w;
    };
    return detail::layout(build, {strip});
}

}  // namespace

std::vector<uint8_t> write_nef(const Mosaic& m, const Camera& cam) {
    if (m.width % 2) throw std::invalid_argument("write_nef: width must be even");
    return assemble(m, cam, 12, 1, detail::pack_msb(m, 12), {});
}

std::vector<uint8_t> write_nef_cmyg(const Mosaic& m, const Camera& cam) {
    // These compacts store the even rows first, then the odd ones, and are
    // told apart by the exact size of the file.
    constexpr size_t kFileSize = 7438336;
    if (m.width % 2) throw std::invalid_argument("write_nef_cmyg: width must be even");
    Mosaic fields;
    fields.width = m.width;
    fields.height = m.height;
    fields.values.reserve(m.values.size());
    for (int parity = 0; parity < 2; ++parity)
        for (int r = parity; r < m.height; r += 2)
            for (int c = 0; c < m.width; ++c) fields.values.push_back(m.at(r, c));
    std::vector<uint8_t> file = assemble(m, cam, 12, 1, detail::pack_msb(fields, 12), {});
    if (file.size() > kFileSize) throw std::invalid_argument("write_nef_cmyg: sensor too large for the file size");
    file.resize(kFileSize, 0);
    return file;
}

std::vector<uint8_t> write_nef_compressed(const Mosaic& m, const Camera& cam) {
    const bool fourteen = cam.bits > 12;
    const int bits = fourteen ? 14 : 12;
    const uint8_t* table = fourteen ? kTable14 : kTable12;
    const auto codes = canonical_codes(table);

    // Decoder block: version 0x46 selects the plain table and needs no curve;
    // then four starting predictors and an empty curve.
    const uint16_t start[2][2] = {{0, 0}, {0, 0}};
    std::vector<uint8_t> block = {0x46, 0x30};
    for (const auto& pair : start)
        for (uint16_t v : pair) {
            block.push_back(static_cast<uint8_t>(v >> 8));
            block.push_back(static_cast<uint8_t>(v));
        }
    block.push_back(0);
    block.push_back(0);

    std::vector<uint8_t> strip;
    BitWriter bw(strip);
    int vpred[2][2] = {{start[0][0], start[0][1]}, {start[1][0], start[1][1]}};
    for (int r = 0; r < m.height; ++r) {
        int hpred[2] = {0, 0};
        for (int c = 0; c < m.width; ++c) {
            const int v = m.at(r, c) & ((1 << bits) - 1);
            int& pred = c < 2 ? vpred[r & 1][c] : hpred[c & 1];
            const int diff = v - pred;
            pred = v;
            if (c < 2) hpred[c] = v;
            const int cat = diff_category(diff);
            const HuffCode hc = codes[static_cast<size_t>(cat)];
            if (hc.length == 0) throw std::invalid_argument("write_nef_compressed: value beyond the bit depth");
            bw.put(hc.code, hc.length);
            bw.put(diff_bits(diff, cat), cat);
        }
    }
    bw.flush(false);
    return assemble(m, cam, bits, 34713, strip, block);
}

}  // namespace ostel::simcam
