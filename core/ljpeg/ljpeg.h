#pragma once
// Lossless JPEG (SOF3, predictors 1..7, restart markers): the stream header
// and line-by-line decoding shared by the loaders whose data is such a stream.
#include <array>
#include <cstdint>
#include <vector>

#include "core/ljpeg/bit_reader.h"
#include "core/session/decoder_session.h"

namespace ostel::core {

// Bit cursor used while decoding lines. It reads straight from the in-memory
// file and keeps up to 64 bits buffered, applying the same byte-stuffing and
// marker rule as read_bits. It reads ahead only up to the next marker, so the
// restart search and the callers' explicit seeks see the same positions.
struct LjpegBits {
    const uint8_t* data = nullptr;
    size_t pos = 0, end = 0;
    uint64_t buffer = 0;  // the valid bits from the top down, zeros below them
    int count = 0;        // valid bits; negative once the data ran out
    bool marker = false;
    bool stuffing = true;
};

// One step of the combined lookup: the next kFastBits bits of the stream
// decide a whole difference (length code and difference bits) when both are
// short, or the length code alone when only the code is. used == 0 sends the
// decoder to the bit-by-bit path (long codes, invalid symbols).
struct FastDiff {
    int16_t diff = 0;   // the difference, when extra is 0
    uint8_t used = 0;   // bits taken: the code, plus the difference bits when extra is 0
    uint8_t extra = 0;  // difference bits still to read after the code
};
constexpr int kFastBits = 12;
using FastDiffTable = std::vector<FastDiff>;

struct LjpegHeader {
    int bits = 0;     // precision minus point transform
    int high = 0;     // lines
    int wide = 0;     // samples per line (per component)
    int clrs = 0;     // components plus the subsampling code
    int sraw = 0;     // subsampling code 0..3
    int psv = 0;      // predictor selection value
    int restart = 0x7FFFFFFF;  // MCUs per restart interval
    std::array<int, 6> vpred{};
    std::array<int, 6> huff{};  // index into tables for each component, -1 when none
    std::array<HuffTable, 4> tables;  // the distinct tables read from DHT
    std::array<FastDiffTable, 4> fast;  // combined lookups for tables, built when decoding starts
    std::vector<uint16_t> row;        // two lines of wide x clrs samples, alternating
    LjpegBits reader;

    const HuffTable& table_for(int component) const { return tables[static_cast<size_t>(huff[component])]; }
};

// A stream read straight from memory: all the header reader and the line
// decoder need of a file, so that several streams of one file can be decoded
// side by side.
struct LjpegSource {
    const uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t pos = 0;
    uint32_t dng_version = 0;
    bool stuffing = false;  // 0xFF 0x00 stands for 0xFF; the header reader turns it on
    int errors = 0;         // data errors met
};

// The session's file from its current position.
LjpegSource ljpeg_source(const DecoderSession& s);

// Reads the header at the current file position. Returns 1 for a lossless
// JPEG stream (SOF3) whose sizes are usable, 0 otherwise, including for a
// stream of any other JPEG process. With info_only the Huffman tables are
// skipped and nothing is allocated. Sets the session's zero-after-FF flag
// when it prepares for decoding.
int parse_ljpeg_header(DecoderSession& s, LjpegHeader& jh, bool info_only);
int parse_ljpeg_header(LjpegSource& in, LjpegHeader& jh, bool info_only);

// One signed difference: a Huffman length code and that many bits.
int read_difference(DecoderSession& s, const HuffTable& table);

// Decodes line jrow (lines must be asked for in order 0, 1, 2, ...) and
// returns wide x clrs samples, valid until the next call. Line 0 starts at the
// current file position; the file position follows the data consumed.
const uint16_t* decode_ljpeg_row(DecoderSession& s, int jrow, LjpegHeader& jh);
// The same on a source: errors are added to in.errors, in.pos follows the data.
const uint16_t* decode_ljpeg_row(LjpegSource& in, int jrow, LjpegHeader& jh);

// Frees the tables and the line buffer.
void release_ljpeg(LjpegHeader& jh);

}  // namespace ostel::core
