#pragma once
// Export of a developed image: the save command of the view and the
// command-line converter both end here. The caller develops the image at
// full size for saving; this turns, crops and scales it, attaches the
// shooting data and the output profile and writes the file.
#include <cstdint>
#include <string>
#include <vector>

#include "export/export_geometry.h"
#include "export/metadata_items.h"
#include "export/tiff_writer.h"

namespace ostel::develop {
struct ShootingData;
}

namespace ostel::exporting {

// The formats in the order of the save dialog's type list; the value is
// what the settings database records as the mode.
enum class SaveMode : int { tiff8 = 1, jpeg = 2, tiff16 = 3, png8 = 4, png16 = 5 };

// Messages shown when an export fails.
inline constexpr const char* kImageSaveError = "Image save error";

struct ExportRequest {
    // The developed 16-bit output: width x height pixels of R, G, B.
    const uint16_t* rgb = nullptr;
    int width = 0, height = 0;
    // The camera's orientation code (export_geometry.h): the picture is set
    // upright before it is turned, cropped and scaled, and the file carries
    // no orientation that would turn it again. 0 keeps the stored layout.
    int orientation = 0;
    Rotation rotation = Rotation::none;
    bool crop_mode = false;
    CropRect crop;              // unrotated exported area; ignored when empty
    int output_width = 0;       // 0 x 0: the default output size
    int output_height = 0;
    SaveMode mode = SaveMode::jpeg;
    int quality = 95;           // JPEG only, 1..100
    TiffCompression compression = TiffCompression::none;  // TIFF only
    bool replace_existing = true;  // false: an existing file is left alone
    ShootingData shot;
    std::string artist, copyright;
    std::vector<uint8_t> icc_profile;  // the output profile
};

struct ExportResult {
    bool written = false;
    // The message to show ("Image save error", "File I/O Error" or the
    // text of an item the 16-bit TIFF could not carry); empty on success.
    std::vector<std::string> messages;
    std::string detail;  // technical reason, for logs and the command line
    int width = 0, height = 0;  // size of the written image
};

// Largest output side: four times the turned and cropped source, as the
// save dialog allows, and never beyond what the formats can hold.
inline constexpr int kMaxOutputSide = 65500;

ExportResult export_image(const std::string& path, const ExportRequest& request);

// The shooting data of a developed document, as the file records it.
ShootingData shooting_items(const develop::ShootingData& shot);

// The path with the format's extension: ".jpg" for JPEG, ".png" for PNG,
// ".tif" otherwise.
std::string with_mode_extension(const std::string& path, SaveMode mode);

}  // namespace ostel::exporting
