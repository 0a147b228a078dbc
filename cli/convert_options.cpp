#include "cli/convert_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "cli/input_files.h"
#include "develop/control_tags.h"

namespace ostel::cli {

namespace {

namespace tag = develop::tag;
using exporting::SaveMode;

// Slider, check-box and list ranges of the numeric controls.
struct ControlRange {
    int tag, low, high;
};
constexpr ControlRange kControlRanges[] = {
    {tag::kExposure, -10, 25},     {tag::kWarnings, 0, 1},        {tag::kHistCorrection, 0, 1},
    {tag::kShadows, -15, 15},      {tag::kHighlights, -30, 5},    {tag::kWbMode, 0, 2},
    {tag::kWbRed, -30, 30},        {tag::kWbBlue, -30, 30},       {tag::kSharpness, 0, 50},
    {tag::kSharpRadius, 0, 35},    {tag::kSharpThreshold, 0, 100}, {tag::kLumaNr, 0, 100},
    {tag::kLumaThreshold, 0, 100}, {tag::kChromaNr, 0, 10},       {tag::kWaveletNr, 0, 100},
    {tag::kCaRed, -50, 50},        {tag::kCaBlue, -50, 50},       {tag::kRecovery, 0, 1},
    {tag::kFillLight, 0, 50},      {tag::kContrast, -30, 50},     {tag::kSaturation, -10, 10},
    {tag::kBwMode, 0, 5},          {tag::kMixerRed, 0, 100},      {tag::kMixerGreen, 0, 100},
    {tag::kMixerBlue, 0, 100},     {tag::kScale, 5, 200},
};
constexpr int kTextTags[] = {tag::kInputProfile, tag::kOutputProfile, tag::kDisplayProfile, tag::kCurvePoints};

// Named numeric options, the control each one sets and what its number means.
struct NamedControl {
    const char* option;
    int tag;
    const char* meaning;
};
constexpr NamedControl kNamedControls[] = {
    {"--exposure", tag::kExposure, "brightness: x (1 + 0.2 V) above 0, / (1 - 0.2 V) below; 5 doubles"},
    {"--wb-red", tag::kWbRed, "custom white balance: red x (1 + 0.03 V); implies --wb custom"},
    {"--wb-blue", tag::kWbBlue, "custom white balance: blue x (1 + 0.03 V); implies --wb custom"},
    {"--shadows", tag::kShadows, "levels: black point shift (with --levels on)"},
    {"--highlights", tag::kHighlights, "levels: white point shift (with --levels on)"},
    {"--fill-light", tag::kFillLight, "lifts the shadows, strength 0.007 V; 0 off"},
    {"--contrast", tag::kContrast, "tone slope 1 + 0.02 V"},
    {"--saturation", tag::kSaturation, "colour saturation; -10 is grey"},
    {"--sharpen", tag::kSharpness, "sharpening amount; 0 off"},
    {"--sharpen-radius", tag::kSharpRadius, "sharpening radius (default 1)"},
    {"--sharpen-threshold", tag::kSharpThreshold, "smallest contrast that is sharpened"},
    {"--nr-luma", tag::kLumaNr, "brightness noise reduction; 0 off"},
    {"--nr-luma-threshold", tag::kLumaThreshold, "brightness noise reduction threshold"},
    {"--nr-chroma", tag::kChromaNr, "colour noise reduction; 0 off"},
    {"--wavelet-nr", tag::kWaveletNr, "wavelet noise reduction before demosaicing, threshold 10 V; 0 off"},
    {"--ca-red", tag::kCaRed, "chromatic aberration: red scale 1 + 0.0001 V"},
    {"--ca-blue", tag::kCaBlue, "chromatic aberration: blue scale 1 + 0.0001 V"},
};

struct Choice {
    const char* word;
    int value;
};
constexpr Choice kWbModes[] = {{"camera", 0}, {"auto", 1}, {"custom", 2}};
constexpr Choice kBwModes[] = {{"off", 0}, {"mixer", 1}, {"lum", 2}, {"r", 3}, {"g", 4}, {"b", 5}};
constexpr Choice kSwitch[] = {{"off", 0}, {"on", 1}};
constexpr Choice kFormats[] = {{"jpeg", int(SaveMode::jpeg)},   {"jpg", int(SaveMode::jpeg)},
                               {"tiff16", int(SaveMode::tiff16)}, {"tiff", int(SaveMode::tiff16)},
                               {"tiff8", int(SaveMode::tiff8)},   {"png8", int(SaveMode::png8)},
                               {"png", int(SaveMode::png8)},      {"png16", int(SaveMode::png16)}};
constexpr Choice kCompressions[] = {{"none", int(exporting::TiffCompression::none)},
                                    {"deflate", int(exporting::TiffCompression::deflate)},
                                    {"lzw", int(exporting::TiffCompression::lzw)}};
constexpr Choice kRotations[] = {{"cw", int(exporting::Rotation::clockwise)},
                                 {"90", int(exporting::Rotation::clockwise)},
                                 {"ccw", int(exporting::Rotation::counter_clockwise)},
                                 {"270", int(exporting::Rotation::counter_clockwise)},
                                 {"180", int(exporting::Rotation::half_turn)},
                                 {"0", int(exporting::Rotation::none)}};

// Curve editor geometry: the fixed ends sit at (-2, 118) and (118, -2).
constexpr int kCurveOrigin = -2;
constexpr int kCurveSpan = 120;
// Equal shares of red, green and blue for the black-and-white mixer.
constexpr int kEqualMixerShare = 50;

bool parse_int(const std::string& text, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || v < -1000000000L || v > 1000000000L) return false;
    out = int(v);
    return true;
}

// "A<sep>B<sep>..." into exactly `count` integers; with `allow_empty`, an
// empty part is -1.
bool parse_ints(const std::string& text, char sep, size_t count, std::vector<int>& out, bool allow_empty = false) {
    out.clear();
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, sep)) {
        int v = -1;
        if (!(allow_empty && part.empty()) && !parse_int(part, v)) return false;
        out.push_back(v);
    }
    if (allow_empty && !text.empty() && text.back() == sep) out.push_back(-1);
    return out.size() == count && (allow_empty || text.empty() || text.back() != sep);
}

const ControlRange* range_of(int t) {
    for (const ControlRange& r : kControlRanges)
        if (r.tag == t) return &r;
    return nullptr;
}

bool is_text_tag(int t) { return std::find(std::begin(kTextTags), std::end(kTextTags), t) != std::end(kTextTags); }

template <size_t N>
bool pick(const Choice (&choices)[N], const std::string& word, int& value) {
    for (const Choice& c : choices)
        if (word == c.word) {
            value = c.value;
            return true;
        }
    return false;
}

bool set_numeric(develop::MapControlSource& controls, int t, const std::string& text, std::ostream& err,
                 const std::string& what) {
    const ControlRange* range = range_of(t);
    int v;
    if (!parse_int(text, v) || !range || v < range->low || v > range->high) {
        err << "ostelraw convert: " << what << " needs a whole number";
        if (range) err << " from " << range->low << " to " << range->high;
        err << ", not '" << text << "'\n";
        return false;
    }
    controls.set(t, v);
    return true;
}

// The kind of file a format writes; --format and the output name must agree
// on it.
int format_family(SaveMode mode) {
    switch (mode) {
        case SaveMode::jpeg: return 0;
        case SaveMode::tiff8:
        case SaveMode::tiff16: return 1;
        case SaveMode::png8:
        case SaveMode::png16: return 2;
    }
    return -1;
}

bool names_folder(const std::string& output) {
    std::error_code ec;
    return output.empty() || output.back() == '/' || std::filesystem::is_directory(output, ec);
}

void help_line(std::ostream& out, const std::string& option, const std::string& text) {
    out << "  " << std::left << std::setw(30) << option << ' ' << text << "\n";
}

}  // namespace

std::string mode_extension(SaveMode mode) {
    switch (format_family(mode)) {
        case 0: return ".jpg";
        case 2: return ".png";
        default: return ".tif";
    }
}

std::optional<SaveMode> mode_for_name(const std::string& path) {
    const std::string ext = lower_extension(path);
    if (ext == "jpg" || ext == "jpeg") return SaveMode::jpeg;
    if (ext == "tif" || ext == "tiff") return SaveMode::tiff16;
    if (ext == "png") return SaveMode::png8;
    return std::nullopt;
}

const std::map<int, double>& convert_default_positions() {
    static const std::map<int, double> positions = {
        {tag::kMixerRed, kEqualMixerShare}, {tag::kMixerGreen, kEqualMixerShare}, {tag::kMixerBlue, kEqualMixerShare}};
    return positions;
}

exporting::ExportSize fitted_size(exporting::ExportSize natural, const ConvertOptions& o) {
    exporting::ExportSize size = natural;
    if (natural.width <= 0 || natural.height <= 0) return size;
    auto scaled = [](int side, double factor) { return std::max(1, int(std::lround(side * factor))); };
    if (o.size) {
        const double fx = o.size->width > 0 ? double(o.size->width) / natural.width : 1e9;
        const double fy = o.size->height > 0 ? double(o.size->height) / natural.height : 1e9;
        const double f = std::min(fx, fy);
        // The fixed side keeps its exact value; the other follows the ratio.
        size.width = f == fx ? o.size->width : scaled(natural.width, f);
        size.height = f == fy ? o.size->height : scaled(natural.height, f);
    } else if (o.scale_percent) {
        size.width = std::max(1, int((int64_t(natural.width) * o.scale_percent + 50) / 100));
        size.height = std::max(1, int((int64_t(natural.height) * o.scale_percent + 50) / 100));
    }
    return size;
}

bool curve_text_from_levels(const std::string& levels, std::string& curve_text) {
    std::vector<std::pair<int, int>> points;
    std::stringstream in(levels);
    std::string pair;
    while (std::getline(in, pair, ';')) {
        std::vector<int> xy;
        // The ends are fixed at 0,0 and 255,255; inner points lie between.
        if (!parse_ints(pair, ',', 2, xy) || xy[0] < 1 || xy[0] > 254 || xy[1] < 0 || xy[1] > 255) return false;
        points.emplace_back(xy[0], xy[1]);
    }
    if (points.empty() || levels.back() == ';') return false;
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    auto to_editor = [](int level) { return (level * kCurveSpan + 127) / 255; };
    std::ostringstream text;
    text << kCurveOrigin << ',' << kCurveOrigin + kCurveSpan;
    for (const auto& [x, y] : points)
        text << ' ' << kCurveOrigin + to_editor(x) << ',' << kCurveOrigin + kCurveSpan - to_editor(y);
    text << ' ' << kCurveOrigin + kCurveSpan << ',' << kCurveOrigin;
    curve_text = text.str();
    return true;
}

void print_convert_help(std::ostream& out) {
    out << "usage: ostelraw convert FILE|FOLDER|-... [options]\n"
           "Develops raw files and writes JPEG, TIFF or PNG images. A folder stands for the raw files in it.\n"
           "\nOutput:\n";
    help_line(out, "-o FILE|FOLDER|-", "output file (one input), folder (created if needed), or - for standard "
                                       "output; default: the current folder");
    help_line(out, "--format F", "jpeg, tiff16, tiff8, png8 or png16; default: from the output name "
                                 "(.jpg .tif .png: jpeg, tiff16, png8), else jpeg");
    help_line(out, "--quality Q", "JPEG quality 1..100 (default 95)");
    help_line(out, "--compression C", "TIFF compression: none (default), deflate or lzw");
    help_line(out, "-y, --overwrite", "replace existing output files (default: skip them)");
    help_line(out, "-r, --recursive", "folders: take raw files in subfolders too");
    help_line(out, "--jobs N", "files converted side by side, 1..256 (default 1)");
    out << "\nGeometry:\n";
    help_line(out, "--no-auto-orient", "keep the stored layout instead of the camera's orientation");
    help_line(out, "--rotate R", "turn the picture: cw (90), ccw (270) or 180");
    help_line(out, "--crop X,Y,W,H", "pixels of the upright picture, before turning");
    help_line(out, "--size WxH", "fit inside W x H pixels keeping the aspect ratio; 1600x or x1200 fix one side");
    help_line(out, "--scale PCT", "scale to 1..400 percent");
    out << "\nDevelop controls (whole numbers):\n";
    for (const NamedControl& n : kNamedControls) {
        const ControlRange* r = range_of(n.tag);
        help_line(out, std::string(n.option) + " V",
                  std::to_string(r->low) + ".." + std::to_string(r->high) + ": " + n.meaning);
    }
    help_line(out, "--wb MODE", "white balance: camera (default), auto or custom");
    help_line(out, "--levels on|off", "automatic levels from the histogram (default off)");
    help_line(out, "--recovery on|off", "highlight recovery (default on)");
    help_line(out, "--bw MODE", "black and white: off (default), mixer, lum, r, g or b");
    help_line(out, "--mixer R,G,B", "black-and-white mixer shares 0..100 each (default 50,50,50)");
    help_line(out, "--curve X,Y;X,Y...", "tone curve points on the 0..255 scale, X 1..254, Y 0..255");
    help_line(out, "--input-profile P", "camera (default) or an ICC file (input class)");
    help_line(out, "--output-profile P", "srgb (default), romm or an ICC file (output class)");
    help_line(out, "--set TAG=VALUE", "any develop control by its number");
    help_line(out, "--use-settings", "start from the positions stored for each image (ostelraw settings); "
                                     "options given here win");
    out << "\nMetadata and messages:\n";
    help_line(out, "--artist TEXT", "author written into the file");
    help_line(out, "--copyright TEXT", "copyright written into the file");
    help_line(out, "-q, --quiet", "print only problems");
    help_line(out, "-v, --verbose", "print what is done for each file");
    help_line(out, "-h, --help", "this help");
}

bool parse_convert_options(const std::vector<std::string>& args, ConvertOptions& o, std::ostream& err) {
    bool wb_given = false, wb_slider_given = false;
    std::optional<SaveMode> format;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.empty() || a[0] != '-' || a == "-") {
            o.inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            o.inputs.insert(o.inputs.end(), args.begin() + long(i) + 1, args.end());
            break;
        }
        // Switches without a value.
        if (a == "-y" || a == "--overwrite") { o.overwrite = true; continue; }
        if (a == "-r" || a == "--recursive") { o.recursive = true; continue; }
        if (a == "-q" || a == "--quiet") { o.verbosity = Verbosity::quiet; continue; }
        if (a == "-v" || a == "--verbose") { o.verbosity = Verbosity::verbose; continue; }
        if (a == "--no-auto-orient") { o.auto_orient = false; continue; }
        if (i + 1 >= args.size()) {
            err << "ostelraw convert: option " << a << " needs a value\n";
            return false;
        }
        const std::string& v = args[++i];
        auto bad = [&](const char* expected) {
            err << "ostelraw convert: " << a << " expects " << expected << ", not '" << v << "'\n";
            return false;
        };
        const NamedControl* named = nullptr;
        for (const NamedControl& n : kNamedControls)
            if (a == n.option) named = &n;
        std::vector<int> ints;
        int n = 0;
        if (named) {
            if (!set_numeric(o.controls, named->tag, v, err, a)) return false;
            if (named->tag == tag::kWbRed || named->tag == tag::kWbBlue) wb_slider_given = true;
        } else if (a == "-o") {
            o.output = v;
        } else if (a == "--format") {
            if (!pick(kFormats, v, n)) return bad("jpeg, tiff16, tiff8, png8 or png16");
            format = SaveMode(n);
        } else if (a == "--quality") {
            if (!parse_int(v, o.quality) || o.quality < 1 || o.quality > 100) return bad("1..100");
        } else if (a == "--compression") {
            if (!pick(kCompressions, v, n)) return bad("none, deflate or lzw");
            o.compression = exporting::TiffCompression(n);
        } else if (a == "--set") {
            const size_t eq = v.find('=');
            int t;
            if (eq == std::string::npos || !parse_int(v.substr(0, eq), t)) return bad("TAG=VALUE");
            if (is_text_tag(t)) o.controls.set_text(t, v.substr(eq + 1));
            else if (!range_of(t)) return bad("a known control tag");
            else if (!set_numeric(o.controls, t, v.substr(eq + 1), err, "tag " + std::to_string(t))) return false;
            if (t == tag::kWbMode) wb_given = true;
        } else if (a == "--wb") {
            if (!pick(kWbModes, v, n)) return bad("camera, auto or custom");
            o.controls.set(tag::kWbMode, n);
            wb_given = true;
        } else if (a == "--levels") {
            if (!pick(kSwitch, v, n)) return bad("on or off");
            o.controls.set(tag::kHistCorrection, n);
        } else if (a == "--recovery") {
            if (!pick(kSwitch, v, n)) return bad("on or off");
            o.controls.set(tag::kRecovery, n);
        } else if (a == "--bw") {
            if (!pick(kBwModes, v, n)) return bad("off, mixer, lum, r, g or b");
            o.controls.set(tag::kBwMode, n);
        } else if (a == "--mixer") {
            if (!parse_ints(v, ',', 3, ints) || std::any_of(ints.begin(), ints.end(), [](int s) { return s < 0 || s > 100; }))
                return bad("R,G,B shares from 0 to 100");
            o.controls.set(tag::kMixerRed, ints[0]);
            o.controls.set(tag::kMixerGreen, ints[1]);
            o.controls.set(tag::kMixerBlue, ints[2]);
        } else if (a == "--curve") {
            std::string text;
            if (!curve_text_from_levels(v, text)) return bad("points x,y;x,y with x 1..254 and y 0..255");
            o.controls.set_text(tag::kCurvePoints, text);
        } else if (a == "--input-profile") {
            if (v == "srgb" || v == "romm") return bad("camera or an ICC file");
            o.controls.set_text(tag::kInputProfile, v == "camera" ? "Ostel RAW" : v);
        } else if (a == "--output-profile") {
            if (v == "camera") return bad("srgb, romm or an ICC file");
            o.controls.set_text(tag::kOutputProfile, v == "srgb" ? "Ostel sRGB" : v == "romm" ? "Ostel ROMM" : v);
        } else if (a == "--rotate") {
            if (!pick(kRotations, v, n)) return bad("cw, ccw or 180");
            o.rotation = exporting::Rotation(n);
        } else if (a == "--crop") {
            if (!parse_ints(v, ',', 4, ints) || ints[0] < 0 || ints[1] < 0 || ints[2] < 1 || ints[3] < 1)
                return bad("X,Y,W,H with a positive width and height");
            o.crop = exporting::CropRect{ints[0], ints[1], ints[2], ints[3]};
        } else if (a == "--size") {
            // A missing side (-1) is free; a given one is at least 1.
            if (!parse_ints(v, 'x', 2, ints, true) || ints[0] == 0 || ints[1] == 0 || ints[0] < -1 ||
                ints[1] < -1 || (ints[0] < 0 && ints[1] < 0) || ints[0] > exporting::kMaxOutputSide ||
                ints[1] > exporting::kMaxOutputSide)
                return bad("WIDTHxHEIGHT, WIDTHx or xHEIGHT");
            o.size = exporting::ExportSize{std::max(ints[0], 0), std::max(ints[1], 0)};
        } else if (a == "--scale") {
            if (!parse_int(v, o.scale_percent) || o.scale_percent < 1 || o.scale_percent > 400)
                return bad("a percentage 1..400");
        } else if (a == "--artist") {
            o.artist = v;
        } else if (a == "--copyright") {
            o.copyright = v;
        } else if (a == "--jobs") {
            if (!parse_int(v, o.jobs) || o.jobs < 1 || o.jobs > 256) return bad("1..256");
        } else {
            err << "ostelraw convert: unknown option '" << a << "'\n";
            return false;
        }
    }
    if (o.size && o.scale_percent) {
        err << "ostelraw convert: --size and --scale exclude each other\n";
        return false;
    }
    if (o.inputs.empty()) {
        err << "ostelraw convert: no input file\n";
        return false;
    }
    if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1) {
        err << "ostelraw convert: standard input can be read only once\n";
        return false;
    }
    // The output name decides the format unless --format does; they must
    // not disagree. A name is a file for a single input file, else a folder.
    std::error_code ec;
    const bool single_input = o.inputs.size() == 1 && !std::filesystem::is_directory(o.inputs[0], ec);
    const bool to_file = !names_folder(o.output) && o.output != "-";
    const std::optional<SaveMode> by_name = to_file ? mode_for_name(o.output) : std::nullopt;
    if (format && by_name && format_family(*format) != format_family(*by_name)) {
        err << "ostelraw convert: --format " << (format_family(*format) == 0 ? "jpeg" : format_family(*format) == 1 ? "tiff" : "png")
            << " does not match the output name " << o.output << "\n";
        return false;
    }
    // An output that is the input itself is refused later with that reason,
    // whatever its name says about the format.
    InputGuard guard;
    if (single_input) guard.add(o.inputs[0]);
    if (to_file && !format && !by_name && single_input && !guard.is_input(o.output)) {
        err << "ostelraw convert: cannot tell the format from the name " << o.output
            << " (use .jpg, .tif or .png, or --format)\n";
        return false;
    }
    if (to_file && by_name && !single_input) {
        err << "ostelraw convert: -o " << o.output << " names one file, but the input is several files"
            << " (give a folder)\n";
        return false;
    }
    o.output_is_file = o.output == "-" || (to_file && single_input);
    o.mode = format.value_or(by_name.value_or(SaveMode::jpeg));
    // Custom white-balance sliders mean custom white balance unless a mode
    // was chosen explicitly.
    if (wb_slider_given && !wb_given) o.controls.set(tag::kWbMode, 2);
    return true;
}

}  // namespace ostel::cli
