#include "tools/simcam/tiff_writer.h"

#include <algorithm>
#include <cmath>

namespace ostel::simcam {

void TiffWriter::put(std::vector<uint8_t>& to, uint32_t v, int n) const {
    for (int i = 0; i < n; ++i) {
        const int shift = little_ ? 8 * i : 8 * (n - 1 - i);
        to.push_back(static_cast<uint8_t>(v >> shift));
    }
}

void TiffWriter::u16(uint32_t v) { put(out_, v, 2); }
void TiffWriter::u32(uint32_t v) { put(out_, v, 4); }

void TiffWriter::patch_u32(size_t at, uint32_t v) {
    std::vector<uint8_t> b;
    put(b, v, 4);
    std::copy(b.begin(), b.end(), out_.begin() + static_cast<long>(at));
}

void TiffWriter::align(unsigned n) {
    while (out_.size() % n) out_.push_back(0);
}

uint32_t TiffWriter::append(const std::vector<uint8_t>& block) {
    align(2);
    const uint32_t at = size();
    out_.insert(out_.end(), block.begin(), block.end());
    return at;
}

size_t TiffWriter::header() {
    text(little_ ? "II" : "MM");
    u16(42);
    const size_t at = out_.size();
    u32(0);
    return at;
}

TiffEntry TiffWriter::shorts(uint16_t tag, const std::vector<uint32_t>& values) const {
    TiffEntry e{tag, kShort, static_cast<uint32_t>(values.size()), {}};
    for (uint32_t v : values) put(e.data, v, 2);
    return e;
}

TiffEntry TiffWriter::longs(uint16_t tag, const std::vector<uint32_t>& values) const {
    TiffEntry e{tag, kLong, static_cast<uint32_t>(values.size()), {}};
    for (uint32_t v : values) put(e.data, v, 4);
    return e;
}

TiffEntry TiffWriter::ascii(uint16_t tag, const std::string& s) const {
    TiffEntry e{tag, kAscii, static_cast<uint32_t>(s.size() + 1), {}};
    e.data.assign(s.begin(), s.end());
    e.data.push_back(0);
    return e;
}

TiffEntry TiffWriter::bytes_entry(uint16_t tag, uint16_t type, const std::vector<uint8_t>& b) const {
    return TiffEntry{tag, type, static_cast<uint32_t>(b.size()), b};
}

TiffEntry TiffWriter::srationals(uint16_t tag, const std::vector<double>& values) const {
    TiffEntry e{tag, kSrational, static_cast<uint32_t>(values.size()), {}};
    for (double v : values) {
        put(e.data, static_cast<uint32_t>(static_cast<int32_t>(std::lround(v * 10000))), 4);
        put(e.data, 10000, 4);
    }
    return e;
}

TiffEntry TiffWriter::rationals(uint16_t tag, const std::vector<double>& values) const {
    TiffEntry e{tag, kRational, static_cast<uint32_t>(values.size()), {}};
    for (double v : values) {
        put(e.data, static_cast<uint32_t>(std::lround(std::max(0.0, v) * 10000)), 4);
        put(e.data, 10000, 4);
    }
    return e;
}

uint32_t TiffWriter::write_ifd(std::vector<TiffEntry> entries, uint32_t next_ifd) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    align(2);
    const uint32_t at = size();
    uint32_t extra = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    std::vector<uint8_t> tail;
    u16(static_cast<uint32_t>(entries.size()));
    for (const auto& e : entries) {
        u16(e.tag);
        u16(e.type);
        u32(e.count);
        if (e.data.size() <= 4) {
            std::vector<uint8_t> v = e.data;
            v.resize(4, 0);
            out_.insert(out_.end(), v.begin(), v.end());
        } else {
            u32(extra + static_cast<uint32_t>(tail.size()));
            tail.insert(tail.end(), e.data.begin(), e.data.end());
            if (tail.size() & 1) tail.push_back(0);
        }
    }
    u32(next_ifd);
    out_.insert(out_.end(), tail.begin(), tail.end());
    return at;
}

}  // namespace ostel::simcam
