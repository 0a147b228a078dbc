// Canon heap files of the early four-colour compacts: a 26-byte header, then
// one heap whose data area starts with the sensor rows (10-bit samples packed
// MSB first into little-endian 16-bit units) and whose record table, at the
// end, names the camera and holds its white balance.
#include <cmath>
#include <stdexcept>

#include "tools/simcam/bit_writer.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/tiff_writer.h"

namespace ostel::simcam {

namespace {

constexpr uint32_t kHeaderLength = 26;

struct Record {
    uint16_t type;
    std::vector<uint8_t> data;
};

// Sensor rows as 10-bit samples in 16-bit units, each unit stored low byte first.
std::vector<uint8_t> packed_units(const Mosaic& m) {
    if ((static_cast<int64_t>(m.width) * 10) % 16)
        throw std::invalid_argument("write_crw_packed: a row must fill whole 16-bit units");
    std::vector<uint8_t> msb;
    BitWriter bw(msb);
    for (uint16_t v : m.values) bw.put(v & 0x3FF, 10);
    bw.flush(false);
    for (size_t i = 0; i + 1 < msb.size(); i += 2) std::swap(msb[i], msb[i + 1]);
    return msb;
}

std::vector<uint8_t> name_record(const Camera& cam) {
    std::vector<uint8_t> b(cam.make.begin(), cam.make.end());
    b.push_back(0);
    b.insert(b.end(), cam.model.begin(), cam.model.end());
    b.resize(b.size() + 64, 0);  // the reader takes up to 64 bytes per name
    return b;
}

// Balance record of the older bodies: a small first word, 98 bytes, then the
// four multipliers of filter indices 1, 0, 2, 3 as 16-bit words.
std::vector<uint8_t> balance_record(const Camera& cam) {
    TiffWriter w(true);
    w.u16(0);
    for (int i = 0; i < 49; ++i) w.u16(0);
    double top = 0;
    for (double v : cam.as_shot) top = std::max(top, v);
    for (int c : {1, 0, 2, 3})
        w.u16(top > 0 ? static_cast<uint32_t>(std::lround(cam.as_shot[c] / top * 1024)) : 0);
    return std::move(w.bytes());
}

}  // namespace

std::vector<uint8_t> write_crw_packed(const Mosaic& m, const Camera& cam) {
    const std::vector<uint8_t> rows = packed_units(m);
    std::vector<Record> records = {{0x080a, name_record(cam)}};
    if (cam.as_shot[0] > 0) records.push_back({0x102c, balance_record(cam)});

    TiffWriter w(true);
    w.text("II");
    w.u32(kHeaderLength);
    w.text("HEAPCCDR");
    w.u32(0x00010002);  // version
    w.u32(0);
    w.u32(0);
    if (w.size() != kHeaderLength) throw std::logic_error("write_crw_packed: header size");

    // Heap offsets are relative to its start, just after the header.
    auto heap_offset = [&] { return w.size() - kHeaderLength; };
    w.bytes().insert(w.bytes().end(), rows.begin(), rows.end());
    std::vector<uint32_t> offsets;
    for (const Record& r : records) {
        w.align(2);
        offsets.push_back(heap_offset());
        w.bytes().insert(w.bytes().end(), r.data.begin(), r.data.end());
    }
    w.align(2);
    const uint32_t table = heap_offset();
    w.u16(static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        w.u16(records[i].type);
        w.u32(static_cast<uint32_t>(records[i].data.size()));
        w.u32(offsets[i]);
    }
    w.u32(table);
    return std::move(w.bytes());
}

}  // namespace ostel::simcam
