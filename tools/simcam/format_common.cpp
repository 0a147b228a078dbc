#include "tools/simcam/format_common.h"

#include <stdexcept>

#include "tools/simcam/bit_writer.h"

namespace ostel::simcam::detail {

std::vector<TiffEntry> cfa_entries(const TiffWriter& w, const Camera& cam) {
    std::vector<uint8_t> pattern;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) pattern.push_back(static_cast<uint8_t>(cam.color_at(r, c) & 3));
    return {w.shorts(33421, {2, 2}), w.bytes_entry(33422, kByte, pattern)};
}

uint32_t write_exif(TiffWriter& w, const std::vector<uint8_t>& maker_note) {
    std::vector<TiffEntry> e = {
        w.rationals(33434, {1.0 / 125}),  // exposure time
        w.rationals(33437, {5.6}),        // f-number
        w.shorts(34855, {200}),           // ISO
        w.ascii(36867, "2024:05:17 10:30:00"),
        w.rationals(37386, {50.0}),  // focal length
    };
    if (!maker_note.empty()) e.push_back(w.bytes_entry(37500, kUndefined, maker_note));
    return w.write_ifd(std::move(e));
}

std::vector<TiffEntry> raw_image_entries(const TiffWriter& w, const Mosaic& m, int bits, int compression) {
    return {
        w.longs(254, {0}),
        w.longs(256, {static_cast<uint32_t>(m.width)}),
        w.longs(257, {static_cast<uint32_t>(m.height)}),
        w.shorts(258, {static_cast<uint32_t>(bits)}),
        w.shorts(259, {static_cast<uint32_t>(compression)}),
        w.shorts(262, {32803}),
        w.shorts(277, {1}),
    };
}

std::vector<uint8_t> layout(const std::function<TiffWriter(const std::vector<uint32_t>&)>& build,
                            const std::vector<std::vector<uint8_t>>& blocks) {
    uint32_t start = 0;
    for (int pass = 0; pass < 4; ++pass) {
        std::vector<uint32_t> offsets;
        uint32_t at = start;
        for (const auto& b : blocks) {
            offsets.push_back(at);
            at += static_cast<uint32_t>((b.size() + 1) & ~size_t(1));
        }
        TiffWriter w = build(offsets);
        w.align(16);
        if (w.size() == start) {
            for (const auto& b : blocks) {
                w.bytes().insert(w.bytes().end(), b.begin(), b.end());
                w.align(2);
            }
            return std::move(w.bytes());
        }
        start = w.size();
    }
    throw std::logic_error("layout: metadata size does not settle");
}

std::vector<uint8_t> pack_msb(const Mosaic& m, int bits) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(m.width) * m.height * bits / 8 + m.height);
    BitWriter bw(out);
    for (int r = 0; r < m.height; ++r) {
        for (int c = 0; c < m.width; ++c) bw.put(m.at(r, c), bits);
        bw.flush(false);
    }
    return out;
}

std::vector<uint8_t> words(const TiffWriter& w, const Mosaic& m) {
    std::vector<uint8_t> out;
    out.reserve(m.values.size() * 2);
    for (uint16_t v : m.values) {
        if (w.little_endian()) {
            out.push_back(static_cast<uint8_t>(v));
            out.push_back(static_cast<uint8_t>(v >> 8));
        } else {
            out.push_back(static_cast<uint8_t>(v >> 8));
            out.push_back(static_cast<uint8_t>(v));
        }
    }
    return out;
}

}  // namespace ostel::simcam::detail
