#pragma once
// Builds small binary fixtures: integers in either byte order, text, padding,
// and offsets patched in once the target position is known.
#include <cstdint>
#include <string>
#include <vector>

namespace ostel::test {

class ByteBuilder {
public:
    explicit ByteBuilder(bool little_endian = true) : little_(little_endian) {}

    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

    ByteBuilder& u8(uint32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); return *this; }
    ByteBuilder& u16(uint32_t v) { put(v, 2); return *this; }
    ByteBuilder& u32(uint32_t v) { put(v, 4); return *this; }
    ByteBuilder& text(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); return *this; }
    // Text followed by a terminating zero byte.
    ByteBuilder& cstr(const std::string& s) { text(s); return u8(0); }
    ByteBuilder& zeros(size_t n) { bytes_.resize(bytes_.size() + n, 0); return *this; }
    ByteBuilder& pad_to(size_t n) { if (bytes_.size() < n) bytes_.resize(n, 0); return *this; }
    ByteBuilder& raw(const std::vector<uint8_t>& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); return *this; }
    // Switches the order used for the following integers.
    ByteBuilder& order(bool little_endian) { little_ = little_endian; return *this; }

    void patch_u16(size_t at, uint32_t v) { write_at(at, v, 2); }
    void patch_u32(size_t at, uint32_t v) { write_at(at, v, 4); }

    // A 12-byte TIFF directory entry whose value (or offset) is given as is.
    ByteBuilder& ifd_entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value_or_offset) {
        u16(tag).u16(type).u32(count);
        if (type == 3 && count <= 2) {
            // SHORT values sit left-justified in the value field.
            u16(value_or_offset).u16(0);
        } else {
            u32(value_or_offset);
        }
        return *this;
    }

private:
    void put(uint32_t v, int n) {
        const size_t at = bytes_.size();
        bytes_.resize(at + n);
        write_at(at, v, n);
    }
    void write_at(size_t at, uint32_t v, int n) {
        if (at + n > bytes_.size()) bytes_.resize(at + n, 0);
        for (int i = 0; i < n; ++i) {
            const int shift = little_ ? 8 * i : 8 * (n - 1 - i);
            bytes_[at + i] = static_cast<uint8_t>(v >> shift);
        }
    }

    std::vector<uint8_t> bytes_;
    bool little_;
};

}  // namespace ostel::test
