#pragma once
// One row of the built-in camera colour table.
#include <cstdint>

namespace ostel::core {

struct CameraColourRow {
    const char* prefix;  // compared with the leading characters of "make model"
    int16_t black;       // black level; 0 leaves the file's level alone
    uint16_t maximum;    // saturation level; 0 leaves the file's level alone
    int16_t trans[12];   // XYZ-to-camera x 10000, four rows of three; trans[0] == 0: no matrix
};

}  // namespace ostel::core
