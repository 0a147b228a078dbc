#include <algorithm>
#include <cstring>
#include <new>

#include "core/ljpeg/ljpeg.h"
#include "core/session/core_failure.h"

namespace ostel::core {

namespace {

constexpr int kNoRestart = 0x7FFFFFFF;

// SOF0..SOF15 except the three codes of the same range that are not frame
// headers (DHT, JPG, DAC).
bool is_frame_marker(int tag) {
    return tag >= 0xFFC0 && tag <= 0xFFCF && tag != 0xFFC4 && tag != 0xFFC8 && tag != 0xFFCC;
}

// Walks a DHT segment: a class/id byte, then one table definition, until
// the segment ends or a class/id of 4 or more (an AC table) is met.
void read_tables(LjpegHeader& jh, const uint8_t* d, const uint8_t* end) {
    while (d < end) {
        const int c = *d++;
        if (c >= 4) break;
        if (end - d < 16) break;
        size_t symbols = 0;
        for (int i = 0; i < 16; ++i) symbols += d[i];
        if (static_cast<size_t>(end - d) < 16 + symbols) break;  // truncated definition
        jh.tables[static_cast<size_t>(c)] = make_decoder(d, end);
        jh.huff[static_cast<size_t>(c)] = c;
    }
}

size_t read_bytes(LjpegSource& in, uint8_t* dest, size_t n) {
    const size_t got = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), in.size - in.pos));
    if (got) std::memcpy(dest, in.data + in.pos, got);
    in.pos += static_cast<int64_t>(got);
    return got;
}

int next_byte(LjpegSource& in) { return in.pos < in.size ? in.data[in.pos++] : -1; }

}  // namespace

LjpegSource ljpeg_source(const DecoderSession& s) {
    LjpegSource in;
    in.data = s.input.data();
    in.size = s.file_size();
    in.pos = s.tell();
    in.dng_version = s.dng_version;
    in.stuffing = s.ff_stuffing != 0;
    return in;
}

int parse_ljpeg_header(DecoderSession& s, LjpegHeader& jh, bool info_only) {
    LjpegSource in = ljpeg_source(s);
    const int ok = parse_ljpeg_header(in, jh, info_only);
    s.seek(in.pos);
    if (in.stuffing) s.ff_stuffing = 1;
    return ok;
}

int parse_ljpeg_header(LjpegSource& in, LjpegHeader& jh, bool info_only) {
    jh = LjpegHeader{};
    jh.huff.fill(-1);
    jh.restart = kNoRestart;

    uint8_t b[4];
    if (read_bytes(in, b, 2) < 2 || b[1] != 0xD8) return 0;

    std::vector<uint8_t> segment(65536);
    for (;;) {
        if (read_bytes(in, b, 4) < 4) return 0;
        const int tag = (b[0] << 8) | b[1];
        const int length = ((b[2] << 8) | b[3]) - 2;
        if (tag <= 0xFF00 || length < 0) return 0;
        uint8_t* d = segment.data();
        if (read_bytes(in, d, static_cast<size_t>(length)) < static_cast<size_t>(length)) return 0;

        // Frame headers of the other JPEG processes (DCT, arithmetic coding,
        // hierarchical) describe data this decoder cannot read: decoding it
        // as lossless differences would only give noise or black.
        if (is_frame_marker(tag) && tag != 0xFFC3) return 0;
        switch (tag) {
            case 0xFFC3:
                if (length < 9) return 0;  // precision, size, count and one component
                jh.sraw = ((d[7] >> 4) * (d[7] & 15) - 1) & 3;
                jh.bits = d[0];
                jh.high = (d[1] << 8) | d[2];
                jh.wide = (d[3] << 8) | d[4];
                jh.clrs = d[5] + jh.sraw;
                // Some writers put one stray byte after a one-component frame.
                if (length == 9 && in.dng_version == 0) next_byte(in);
                break;
            case 0xFFC4:
                if (!info_only) read_tables(jh, d, d + length);
                break;
            case 0xFFDA: {
                const int n = d[0];
                if (length < 2 * n + 4) return 0;
                jh.psv = d[1 + 2 * n];
                jh.bits -= d[3 + 2 * n] & 15;
                break;
            }
            case 0xFFDD:
                if (length < 2) return 0;
                jh.restart = (d[0] << 8) | d[1];
                if (jh.restart == 0) jh.restart = kNoRestart;  // no interval
                break;
            default:
                break;
        }
        if (tag == 0xFFDA) break;
    }

    // Sizes that the line decoder and the loaders can work with.
    const int max_clrs = jh.sraw ? 6 : 4;
    if (jh.bits < 1 || jh.bits > 16 || jh.high < 1 || jh.wide < 1 || jh.clrs < 1 || jh.clrs > max_clrs) return 0;
    if (info_only) return 1;

    for (int c = 0; c < 5; ++c)
        if (jh.huff[c + 1] < 0) jh.huff[c + 1] = jh.huff[c];
    if (jh.sraw) {
        for (int c = 2; c < 6; ++c) jh.huff[c] = jh.huff[1];
        for (int c = 1; c <= jh.sraw; ++c) jh.huff[c] = jh.huff[0];
    }
    for (int c = 0; c < jh.clrs; ++c)
        if (jh.huff[c] < 0) return 0;  // a component without any table cannot be decoded

    try {
        jh.row.assign(size_t(2) * size_t(jh.wide) * size_t(jh.clrs), 0);
    } catch (const std::bad_alloc&) {
        fail_out_of_memory();
    }
    in.stuffing = true;
    return 1;
}

void release_ljpeg(LjpegHeader& jh) {
    for (auto& t : jh.tables) HuffTable().swap(t);
    for (auto& t : jh.fast) FastDiffTable().swap(t);
    std::vector<uint16_t>().swap(jh.row);
    jh.huff.fill(-1);
}

}  // namespace ostel::core
