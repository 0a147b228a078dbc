#pragma once
// Writes contiguous TIFF images of 8 or 16 bits per sample (one or three
// samples per pixel) through libtiff, uncompressed or with lossless
// compression, with the text tags, the embedded ICC profile and, when asked
// for, an Exif directory. The file is written safely (see output_file.h).
#include <cstdint>
#include <string>
#include <vector>

#include "export/metadata_items.h"

namespace ostel::exporting {

// Messages of the TIFF path, shown to the user as they are.
inline constexpr const char* kFileIoError = "File I/O Error";
inline constexpr const char* kProfileIoError = "Profile I/O Error";

// Lossless compressions a TIFF can be written with.
enum class TiffCompression : int { none, deflate, lzw };

struct TiffOptions {
    std::vector<uint8_t> icc_profile;  // embedded when non-empty
    std::string software = "Ostel RAW";
    std::string make, model, artist, copyright, description, date_time;
    std::string profile_descriptor;    // written when non-empty
    int orientation = 1;               // TIFF orientation tag value
    TiffCompression compression = TiffCompression::none;
    bool replace_existing = true;      // false: an existing file is left alone
    // Exposure, aperture, ISO, focal length and colour space go into an
    // Exif directory when this is set.
    const MetadataItems* exif = nullptr;
};

struct TiffPixels {
    int width = 0, height = 0;
    int channels = 3;     // 1 or 3
    int bits = 16;        // 8 or 16
    const void* samples = nullptr;  // height rows of width * channels samples
};

struct TiffReport {
    bool written = false;  // the file is complete
    bool created = false;  // the file could be created at all
    std::string error;     // why it is not complete ("cannot write PATH: REASON", ...)
    // Items that could not be set; the file is completed without them.
    std::vector<std::string> warnings;
};

TiffReport write_tiff(const std::string& path, const TiffPixels& pixels, const TiffOptions& options);

}  // namespace ostel::exporting
