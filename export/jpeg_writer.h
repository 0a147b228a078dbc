#pragma once
// Writes 8-bit RGB JPEG files through libjpeg at a given quality, with an
// Exif block and the embedded ICC profile, written safely (output_file.h).
#include <cstdint>
#include <string>
#include <vector>

#include "export/metadata_items.h"

namespace ostel::exporting {

struct JpegOptions {
    int quality = 95;                   // 1..100
    std::vector<uint8_t> icc_profile;   // embedded when non-empty
    const MetadataItems* exif = nullptr;  // Exif block when set
    std::string software = kSoftware8Bit;
    std::string profile_descriptor = kProfileDescriptor;
    bool replace_existing = true;       // false: an existing file is left alone
};

// The Exif block (starting with its TIFF header, without the "Exif\0\0"
// prefix) for the items; empty when it cannot be built.
std::vector<uint8_t> build_exif_block(const MetadataItems& items, int width, int height, const std::string& software,
                                      const std::string& profile_descriptor);

// rgb: height rows of width * 3 bytes. False with `error` set on failure.
bool write_jpeg(const std::string& path, int width, int height, const uint8_t* rgb, const JpegOptions& options,
                std::string& error);

}  // namespace ostel::exporting
