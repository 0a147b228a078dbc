#pragma once
// Helpers for the raw loader tests: a session with a given geometry and an
// allocated image, an MSB-first bit writer, and canonical Huffman codes for
// a table of 16 counts followed by the symbols.
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "core/session/decoder_session.h"

namespace ostel::test {

// A Bayer word whose four 2x2 positions have four different planes, so a
// value stored in the wrong plane is noticed.
inline constexpr uint32_t kFourColourBayer = 0xE4E4E4E4;

struct LoaderSession {
    core::DecoderSession s;

    LoaderSession(int raw_width, int raw_height, int width, int height, int top = 0, int left = 0) {
        s.stored_width = raw_width;
        s.stored_height = raw_height;
        s.width = width;
        s.height = height;
        s.crop_top = top;
        s.crop_left = left;
        s.cfa_pattern = kFourColourBayer;
        s.image_width = width;
        s.image_height = height;
        s.image.assign(static_cast<size_t>(width) * static_cast<size_t>(height), core::Pixel4{});
    }

    // The file, positioned at the data offset as the decode entry leaves it.
    void file(std::vector<uint8_t> bytes, int64_t raw_offset = 0, bool little = true) {
        s.input = core::ByteSource(std::move(bytes));
        s.byte_order = little ? 0x4949 : 0x4D4D;
        s.raw_offset = raw_offset;
        s.seek(raw_offset);
    }

    uint16_t at(int row, int col) const {
        return s.image[static_cast<size_t>(row) * static_cast<size_t>(s.image_width) + col][s.filter_color(row, col)];
    }
    std::vector<uint16_t> row(int r) const {
        std::vector<uint16_t> out;
        for (int c = 0; c < s.width; ++c) out.push_back(at(r, c));
        return out;
    }
    bool image_is_zero() const {
        for (const auto& p : s.image)
            for (uint16_t v : p)
                if (v) return false;
        return true;
    }
};

// MSB-first bit writer; with stuffing a data byte 0xFF is followed by 0x00.
class BitWriter {
public:
    explicit BitWriter(bool stuffing = false) : stuffing_(stuffing) {}
    BitWriter& put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc_ = (acc_ << 1) | ((value >> i) & 1);
            if (++fill_ == 8) flush_byte();
        }
        return *this;
    }
    BitWriter& code(std::pair<uint32_t, int> c) { return put(c.first, c.second); }
    // Pads the last byte with zeros and appends zero bytes of slack.
    std::vector<uint8_t> finish(size_t slack = 8) {
        while (fill_) put(0, 1);
        bytes_.insert(bytes_.end(), slack, 0);
        return bytes_;
    }

private:
    void flush_byte() {
        bytes_.push_back(static_cast<uint8_t>(acc_));
        if (stuffing_ && acc_ == 0xFF) bytes_.push_back(0);
        acc_ = 0;
        fill_ = 0;
    }
    bool stuffing_;
    uint32_t acc_ = 0;
    int fill_ = 0;
    std::vector<uint8_t> bytes_;
};

// symbol -> (code, length) for a table of 16 counts followed by the symbols;
// codes are assigned in order, shortest first. The first code of a symbol
// wins. The symbol list may stop early; codes past its end are not listed.
template <size_t N>
std::map<int, std::pair<uint32_t, int>> canonical_codes(const uint8_t (&table)[N]) {
    std::map<int, std::pair<uint32_t, int>> out;
    uint32_t code = 0;
    size_t sym = 16;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < table[len - 1]; ++i, ++code)
            if (sym < N) out.emplace(table[sym++], std::make_pair(code, len));
        code <<= 1;
    }
    return out;
}

}  // namespace ostel::test
