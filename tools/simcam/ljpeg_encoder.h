#pragma once
// Lossless JPEG (SOF3) encoder for the simulated files: any predictor 1-7,
// 1 to 4 interleaved components, an optional restart interval.
#include <cstdint>
#include <vector>

namespace ostel::simcam {

struct LjpegFrame {
    int wide = 0;        // samples per line per component
    int high = 0;        // lines
    int components = 1;  // interleaved in each line
    int bits = 12;       // sample precision
    int predictor = 1;
    int restart_interval = 0;  // in MCUs (one per column); 0 = none
};

// samples holds high lines of wide x components values, components interleaved.
std::vector<uint8_t> encode_ljpeg(const LjpegFrame& frame, const std::vector<uint16_t>& samples);

// The difference Huffman table used by the encoder (16 counts, then symbols).
const std::vector<uint8_t>& ljpeg_huffman_table();

}  // namespace ostel::simcam
