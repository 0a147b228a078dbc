#pragma once
// Arguments of `ostelraw convert`, parsed into the develop controls and the
// export settings that every file of the batch shares.
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "export/image_export.h"

namespace ostel::cli {

// How much the commands print besides errors.
enum class Verbosity { quiet, normal, verbose };

struct ConvertOptions {
    std::vector<std::string> inputs;
    std::string output;  // file (one input), folder, or "-"; empty: current folder
    bool output_is_file = false;  // -o names the one output file (or "-")
    exporting::SaveMode mode = exporting::SaveMode::jpeg;  // from --format or the output name
    int quality = 95;
    exporting::TiffCompression compression = exporting::TiffCompression::none;
    develop::MapControlSource controls;
    bool auto_orient = true;  // set the picture upright as the camera recorded it
    exporting::Rotation rotation = exporting::Rotation::none;
    std::optional<exporting::CropRect> crop;
    // The box the picture is fitted into; a side of 0 is free.
    std::optional<exporting::ExportSize> size;
    int scale_percent = 0;  // 0: no scaling asked for
    std::string artist, copyright;
    int jobs = 1;
    bool overwrite = false;
    bool recursive = false;
    Verbosity verbosity = Verbosity::normal;
};

// False after writing the reason to `err` (a usage error).
bool parse_convert_options(const std::vector<std::string>& args, ConvertOptions& options, std::ostream& err);

// Positions convert develops with where neither the command line nor the
// stored settings give one: equal shares for the black-and-white mixer, so
// that "--bw mixer" alone is not black.
const std::map<int, double>& convert_default_positions();

// The help of `ostelraw convert`: one line per option, with units and ranges.
void print_convert_help(std::ostream& out);

// The curve text of the develop controls for "x,y;x,y..." points on the
// 0..255 level scale; false when the text is not such a list.
bool curve_text_from_levels(const std::string& levels, std::string& curve_text);

// The extension the format's files get (".jpg", ".tif" or ".png").
std::string mode_extension(exporting::SaveMode mode);

// The format an output name asks for by its extension; empty when the
// extension is none of .jpg/.jpeg, .tif/.tiff, .png.
std::optional<exporting::SaveMode> mode_for_name(const std::string& path);

// The output size for a picture of `natural` size: fitted inside the --size
// box keeping its aspect ratio, or scaled by --scale.
exporting::ExportSize fitted_size(exporting::ExportSize natural, const ConvertOptions& options);

}  // namespace ostel::cli
