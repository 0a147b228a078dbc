// Hasselblad: a lossless JPEG header supplies the Huffman table; the data is
// pairs of length codes followed by pairs of differences, read with a 64-bit
// reader of little-endian 32-bit words.
#include <cstdint>

#include "core/ljpeg/ljpeg.h"
#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

class WordReader {
public:
    explicit WordReader(DecoderSession& s) : s_(s) {}

    unsigned bits(int n) {
        if (n <= 0) return 0;
        fill(n);
        valid_ -= n;
        return static_cast<unsigned>((buffer_ >> valid_) & ((uint64_t(1) << n) - 1));
    }
    unsigned huff(const HuffTable& table) {
        const int n = table.empty() ? 0 : table[0];
        if (n <= 0) return 0;
        fill(n);
        const unsigned index = static_cast<unsigned>((buffer_ >> (valid_ - n)) & ((uint64_t(1) << n) - 1));
        const uint16_t entry = table[1 + index];
        valid_ -= entry >> 8;
        return entry & 0xFF;
    }

private:
    void fill(int n) {
        if (valid_ >= n) return;
        uint8_t b[4];
        legacy::read_bytes(s_, b, 4);
        buffer_ = (buffer_ << 32) | s_.get4(b);
        valid_ += 32;
    }

    DecoderSession& s_;
    uint64_t buffer_ = 0;
    int valid_ = 0;
};

}  // namespace

void hasselblad_ljpeg_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s)) {
        count_undecodable(s);
        return;
    }
    LjpegHeader jh;
    if (!parse_ljpeg_header(s, jh, false)) {
        count_undecodable(s);
        return;
    }
    if (jh.huff[0] < 0 || jh.table_for(0).empty()) {
        release_ljpeg(jh);
        count_undecodable(s);
        return;
    }
    const HuffTable& table = jh.table_for(0);
    s.byte_order = 0x4949;
    WordReader reader(s);
    for (int row = -s.crop_top; row < s.stored_height - s.crop_top; ++row) {
        int pred[2] = {0x8000, 0x8000};
        for (int col = -s.crop_left; col < s.stored_width - s.crop_left; col += 2) {
            int len[2];
            for (int& l : len) l = static_cast<int>(reader.huff(table));
            for (int i = 0; i < 2; ++i) {
                int diff = 0;
                if (len[i] > 16) {
                    ++s.short_read_count;
                } else if (len[i] > 0) {
                    diff = static_cast<int>(reader.bits(len[i]));
                    if (!(diff & (1 << (len[i] - 1)))) diff -= (1 << len[i]) - 1;
                    if (diff == 65535) diff = -32768;
                }
                pred[i] += diff;
                if (row >= 0 && row < s.height && col + i >= 0 && col + i < s.width)
                    s.bayer_store(row, col + i, static_cast<uint16_t>(pred[i]));
            }
        }
    }
    release_ljpeg(jh);
    s.white_level = 0xFFFF;
}

}  // namespace ostel::core
