#pragma once
// The 16-bit unsigned TIFF of the raw data command; see tiff_writer.h for
// the general writer it builds on.
#include <cstdint>
#include <string>

#include "export/tiff_writer.h"

namespace ostel::exporting {

using Tiff16Options = TiffOptions;

// samples: height rows of width * channels values. Returns false and sets
// error when the file cannot be written.
inline bool write_tiff16(const std::string& path, int width, int height, int channels, const uint16_t* samples,
                         const Tiff16Options& options, std::string& error) {
    const TiffReport report = write_tiff(path, {width, height, channels, 16, samples}, options);
    if (!report.written) error = report.error;
    return report.written;
}

}  // namespace ostel::exporting
