#pragma once
// Shared helpers of the export tests: developed images, temporary folders,
// reading files back through libtiff, libjpeg and exiftool.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ostel::exporting::test {

// A fresh, empty folder removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A developed image whose pixel (x, y) holds R = x, G = y, B = 1000 + x + y
// (all scaled by `scale`), so every sample tells where it came from.
std::vector<uint16_t> coordinate_image(int width, int height, int scale = 1);

struct ReadImage {
    int width = 0, height = 0, bits = 0, channels = 0, sample_format = 0;
    std::vector<uint16_t> samples;  // interleaved, 8-bit files widened as they are
    std::vector<uint8_t> icc;
    std::vector<uint8_t> exif;  // PNG: the eXIf chunk
    int compression = 0;        // TIFF: the compression tag
};
ReadImage read_tiff(const std::string& path);
ReadImage read_jpeg(const std::string& path);
ReadImage read_png(const std::string& path);
// Any of the three, told apart by the file's first bytes.
ReadImage read_image(const std::string& path);

// A serialised sRGB profile made by Little CMS.
std::vector<uint8_t> srgb_profile();
bool lcms_opens(const std::vector<uint8_t>& profile);

// exiftool's JSON record of the file (-j -n, or -j with values printed as
// exiftool shows them to people when `printed`), or an empty string when
// exiftool is not installed.
std::string exiftool_json(const std::string& path, bool printed = false);

// The shooting items of a TIFF file's Exif directory as libtiff reads them;
// `found` is false when the file has none.
struct TiffExif {
    bool found = false;
    double exposure_time = 0, f_number = 0;
    std::string date_time_original, date_time_digitized;
};
TiffExif read_tiff_exif(const std::string& path);

}  // namespace ostel::exporting::test
