#pragma once
// Builds small TIFF files for the walker tests: directories of typed
// entries, chained or reachable only through a pointer tag, with values laid
// out after each directory exactly as a writer would.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/session/decoder_session.h"
#include "tests/support/byte_builder.h"

namespace ostel::test {

struct TiffTag {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    std::vector<uint32_t> values;  // BYTE, SHORT, LONG; numerator/denominator pairs for RATIONAL
    std::vector<uint8_t> blob;     // ASCII and UNDEFINED
    int dir_ref = -1;              // LONG holding the offset of that directory
    int64_t tail_ref = -1;         // LONG holding the offset of these tail bytes
};

inline TiffTag shorts(uint16_t tag, std::vector<uint32_t> v) {
    TiffTag t{tag, 3, uint32_t(v.size()), std::move(v), {}, -1};
    return t;
}
inline TiffTag longs(uint16_t tag, std::vector<uint32_t> v) {
    TiffTag t{tag, 4, uint32_t(v.size()), std::move(v), {}, -1};
    return t;
}
inline TiffTag bytes_tag(uint16_t tag, std::vector<uint32_t> v, uint16_t type = 1) {
    TiffTag t{tag, type, uint32_t(v.size()), std::move(v), {}, -1};
    return t;
}
// Rationals given as numerator, denominator pairs.
inline TiffTag rationals(uint16_t tag, std::vector<uint32_t> pairs, uint16_t type = 5) {
    TiffTag t{tag, type, uint32_t(pairs.size() / 2), std::move(pairs), {}, -1};
    return t;
}
inline TiffTag ascii(uint16_t tag, const std::string& text) {
    TiffTag t{tag, 2, uint32_t(text.size() + 1), {}, std::vector<uint8_t>(text.begin(), text.end()), -1};
    t.blob.push_back(0);
    return t;
}
inline TiffTag undefined(uint16_t tag, std::vector<uint8_t> data) {
    TiffTag t{tag, 7, uint32_t(data.size()), {}, std::move(data), -1};
    return t;
}
inline TiffTag dir_pointer(uint16_t tag, int dir) {
    TiffTag t{tag, 4, 1, {0}, {}, dir};
    return t;
}
// A LONG (or, with count, the entry of an out-of-line value of the given
// type) pointing at bytes added with TiffFile::tail.
inline TiffTag tail_pointer(uint16_t tag, uint32_t tail_offset, uint16_t type = 4, uint32_t count = 1) {
    TiffTag t{tag, type, count, {0}, {}, -1};
    t.tail_ref = tail_offset;
    return t;
}

class TiffFile {
public:
    explicit TiffFile(bool little = true) : little_(little) {}
    // Adds a directory; chained ones follow each other through next offsets
    // in the order added, the others are reached through dir_pointer tags.
    int dir(std::vector<TiffTag> tags, bool chained = true) {
        dirs_.push_back({std::move(tags), chained});
        return int(dirs_.size()) - 1;
    }
    // Bytes appended after all directories; returns their place in the tail.
    uint32_t tail(const std::vector<uint8_t>& data) {
        tail_.insert(tail_.end(), data.begin(), data.end());
        return uint32_t(tail_.size() - data.size());
    }
    // Absolute offset of tail bytes, known once all directories are added.
    uint32_t tail_position(uint32_t tail_offset) const { return layout().second + tail_offset; }

    std::vector<uint8_t> build() const {
        const auto [at, tail_at] = layout();
        ByteBuilder b(little_);
        b.text(little_ ? "II" : "MM").u16(42);
        int first = -1;
        for (size_t i = 0; i < dirs_.size() && first < 0; ++i)
            if (dirs_[i].chained) first = int(i);
        b.u32(first < 0 ? 0 : at[first]);
        for (size_t i = 0; i < dirs_.size(); ++i) {
            const Dir& d = dirs_[i];
            uint32_t data_at = at[i] + 2 + 12 * uint32_t(d.tags.size()) + 4;
            b.u16(uint32_t(d.tags.size()));
            ByteBuilder data(little_);
            for (const TiffTag& t : d.tags) {
                ByteBuilder v(little_);
                encode(v, t, at, tail_at);
                b.u16(t.tag).u16(t.type).u32(t.count);
                if (v.size() <= 4) {
                    b.raw(v.bytes()).zeros(4 - v.size());
                } else {
                    b.u32(data_at + uint32_t(data.size()));
                    data.raw(v.bytes());
                    if (data.size() & 1) data.u8(0);
                }
            }
            uint32_t next = 0;
            if (d.chained)
                for (size_t j = i + 1; j < dirs_.size(); ++j)
                    if (dirs_[j].chained) {
                        next = at[j];
                        break;
                    }
            b.u32(next).raw(data.bytes());
        }
        b.raw(tail_);
        return b.take();
    }

private:
    std::pair<std::vector<uint32_t>, uint32_t> layout() const {
        std::vector<uint32_t> at(dirs_.size());
        uint32_t pos = 8;
        for (size_t i = 0; i < dirs_.size(); ++i) {
            at[i] = pos;
            pos += 2 + 12 * uint32_t(dirs_[i].tags.size()) + 4;
            for (const TiffTag& t : dirs_[i].tags) {
                const uint32_t n = t.tail_ref >= 0 ? 4 : value_bytes(t);
                if (n > 4) pos += (n + 1) & ~1u;
            }
        }
        return {at, pos};
    }
    struct Dir {
        std::vector<TiffTag> tags;
        bool chained;
    };
    static uint32_t value_bytes(const TiffTag& t) {
        if (!t.blob.empty()) return uint32_t(t.blob.size());
        const uint32_t size = t.type == 3 || t.type == 8 ? 2 : t.type == 4 || t.type == 9 ? 4
                            : t.type == 5 || t.type == 10 ? 8 : 1;
        return size * t.count;
    }
    void encode(ByteBuilder& v, const TiffTag& t, const std::vector<uint32_t>& at, uint32_t tail_at) const {
        if (!t.blob.empty()) {
            v.raw(t.blob);
            return;
        }
        if (t.tail_ref >= 0) {
            v.u32(tail_at + uint32_t(t.tail_ref));
            return;
        }
        for (uint32_t x : t.values) {
            if (t.dir_ref >= 0) x = at[t.dir_ref];
            if (t.type == 3 || t.type == 8) v.u16(x);
            else if (t.type == 1 || t.type == 2 || t.type == 6 || t.type == 7) v.u8(x);
            else v.u32(x);
        }
    }

    bool little_;
    std::vector<Dir> dirs_;
    std::vector<uint8_t> tail_;
};

inline void load(core::DecoderSession& s, std::vector<uint8_t> bytes) {
    s.reset_for_identification();
    s.input = core::ByteSource(std::move(bytes));
}

}  // namespace ostel::test
