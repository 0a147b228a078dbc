#pragma once
// Writes 8- or 16-bit RGB PNG files through libpng, with the ICC profile
// (iCCP chunk) and the Exif block (eXIf chunk), written safely
// (output_file.h).
#include <cstdint>
#include <string>
#include <vector>

namespace ostel::exporting {

struct PngOptions {
    std::vector<uint8_t> icc_profile;  // embedded when non-empty
    std::vector<uint8_t> exif;         // Exif block from its TIFF header on; left out when empty
    bool replace_existing = true;      // false: an existing file is left alone
};

// samples: height rows of width * 3 values, uint8_t for 8 bits, uint16_t for
// 16. False with `error` set on failure.
bool write_png(const std::string& path, int width, int height, int bits, const void* samples,
               const PngOptions& options, std::string& error);

}  // namespace ostel::exporting
