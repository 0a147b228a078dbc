#pragma once
// Arguments of `ostelraw convert`, parsed into the develop controls and the
// export settings that every file of the batch shares.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "export/image_export.h"

namespace ostel::cli {

struct ConvertOptions {
    std::vector<std::string> inputs;
    std::string output;  // file (one input) or folder; empty: current folder
    exporting::SaveMode mode = exporting::SaveMode::jpeg;
    int quality = 95;
    develop::MapControlSource controls;
    exporting::Rotation rotation = exporting::Rotation::none;
    std::optional<exporting::CropRect> crop;
    std::optional<exporting::ExportSize> size;
    int scale_percent = 0;  // 0: no scaling asked for
    std::string artist, copyright;
    int jobs = 1;
};

// False after writing the reason to `err` (a usage error).
bool parse_convert_options(const std::vector<std::string>& args, ConvertOptions& options, std::ostream& err);

// The curve text of the develop controls for "x,y;x,y..." points on the
// 0..255 level scale; false when the text is not such a list.
bool curve_text_from_levels(const std::string& levels, std::string& curve_text);

// The extension the format's files get (".jpg" or ".tif").
std::string mode_extension(exporting::SaveMode mode);

}  // namespace ostel::cli
