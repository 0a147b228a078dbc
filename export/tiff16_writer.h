#pragma once
// Writes 16-bit unsigned TIFF images (one or three samples per pixel,
// uncompressed, contiguous) through libtiff.
#include <cstdint>
#include <string>
#include <vector>

namespace ostel::exporting {

struct Tiff16Options {
    std::vector<uint8_t> icc_profile;  // embedded when non-empty
    std::string software = "Ostel RAW";
    std::string make, model, artist, copyright, description, date_time;
    int orientation = 1;               // TIFF orientation tag value
};

// samples: height rows of width * channels values. Returns false and sets
// error when the file cannot be written.
bool write_tiff16(const std::string& path, int width, int height, int channels, const uint16_t* samples,
                  const Tiff16Options& options, std::string& error);

}  // namespace ostel::exporting
