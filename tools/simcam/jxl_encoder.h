#pragma once
// JPEG XL encoder for the simulated files: one image of 1 to 4 channels
// (grey or RGB, the rest as extra channels), integer codes of up to 16 bits
// or floating point, lossless or lossy at a given distance.
#include <cstdint>
#include <vector>

namespace ostel::simcam {

struct JxlImage {
    int width = 0, height = 0;
    int channels = 1;            // 1 grey, 3 RGB; 2 and 4 add an extra channel
    int bits = 16;               // integer depth, or 16 / 32 for floating point
    bool floating_point = false;
    float distance = 0;          // 0: lossless; otherwise the codec's distance (1 is about visually lossless)
    int effort = 3;
    bool container = false;      // the boxed file form instead of a bare codestream
};

// values holds height rows of width x channels values, channels interleaved:
// integer codes (0 to 2^bits - 1) or the floating-point values themselves.
// Throws on any encoder error.
std::vector<uint8_t> encode_jxl(const JxlImage& image, const std::vector<float>& values);

}  // namespace ostel::simcam
