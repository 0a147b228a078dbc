#include "cli/convert_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include "develop/control_tags.h"

namespace ostel::cli {

namespace {

namespace tag = develop::tag;

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

// Named numeric options and the control each one sets.
struct NamedControl {
    const char* option;
    int tag;
};
constexpr NamedControl kNamedControls[] = {
    {"--exposure", tag::kExposure}, {"--wb-red", tag::kWbRed},          {"--wb-blue", tag::kWbBlue},
    {"--contrast", tag::kContrast}, {"--saturation", tag::kSaturation},
};

struct Choice {
    const char* word;
    int value;
};
constexpr Choice kWbModes[] = {{"camera", 0}, {"auto", 1}, {"custom", 2}};
constexpr Choice kBwModes[] = {{"off", 0}, {"mixer", 1}, {"lum", 2}, {"r", 3}, {"g", 4}, {"b", 5}};

// Curve editor geometry: the fixed ends sit at (-2, 118) and (118, -2).
constexpr int kCurveOrigin = -2;
constexpr int kCurveSpan = 120;

bool parse_int(const std::string& text, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || v < -1000000000L || v > 1000000000L) return false;
    out = int(v);
    return true;
}

// "A<sep>B<sep>..." into exactly `count` integers.
bool parse_ints(const std::string& text, char sep, size_t count, std::vector<int>& out) {
    out.clear();
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, sep)) {
        int v;
        if (!parse_int(part, v)) return false;
        out.push_back(v);
    }
    return out.size() == count && (text.empty() || text.back() != sep);
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

std::string profile_text(const std::string& word, bool input) {
    if (input && word == "camera") return "Ostel RAW";
    if (word == "srgb") return "Ostel sRGB";
    if (word == "romm") return "Ostel ROMM";
    return word;  // an ICC file
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

}  // namespace

std::string mode_extension(exporting::SaveMode mode) { return mode == exporting::SaveMode::jpeg ? ".jpg" : ".tif"; }

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

bool parse_convert_options(const std::vector<std::string>& args, ConvertOptions& o, std::ostream& err) {
    bool wb_given = false, wb_slider_given = false;
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
            if (v == "tiff16") o.mode = exporting::SaveMode::tiff16;
            else if (v == "tiff8") o.mode = exporting::SaveMode::tiff8;
            else if (v == "jpeg") o.mode = exporting::SaveMode::jpeg;
            else return bad("tiff16, tiff8 or jpeg");
        } else if (a == "--quality") {
            if (!parse_int(v, o.quality) || o.quality < 1 || o.quality > 100) return bad("1..100");
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
        } else if (a == "--bw") {
            if (!pick(kBwModes, v, n)) return bad("off, mixer, lum, r, g or b");
            o.controls.set(tag::kBwMode, n);
        } else if (a == "--curve") {
            std::string text;
            if (!curve_text_from_levels(v, text)) return bad("points x,y;x,y with x 1..254 and y 0..255");
            o.controls.set_text(tag::kCurvePoints, text);
        } else if (a == "--input-profile") {
            o.controls.set_text(tag::kInputProfile, profile_text(v, true));
        } else if (a == "--output-profile") {
            if (v == "camera") return bad("srgb, romm or an ICC file");
            o.controls.set_text(tag::kOutputProfile, profile_text(v, false));
        } else if (a == "--rotate") {
            if (v == "cw") o.rotation = exporting::Rotation::clockwise;
            else if (v == "ccw") o.rotation = exporting::Rotation::counter_clockwise;
            else return bad("cw or ccw");
        } else if (a == "--crop") {
            if (!parse_ints(v, ',', 4, ints) || ints[0] < 0 || ints[1] < 0 || ints[2] < 1 || ints[3] < 1)
                return bad("X,Y,W,H with a positive width and height");
            o.crop = exporting::CropRect{ints[0], ints[1], ints[2], ints[3]};
        } else if (a == "--size") {
            if (!parse_ints(v, 'x', 2, ints) || ints[0] < 1 || ints[1] < 1 || ints[0] > exporting::kMaxOutputSide ||
                ints[1] > exporting::kMaxOutputSide)
                return bad("WIDTHxHEIGHT");
            o.size = exporting::ExportSize{ints[0], ints[1]};
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
    // Custom white-balance sliders mean custom white balance unless a mode
    // was chosen explicitly.
    if (wb_slider_given && !wb_given) o.controls.set(tag::kWbMode, 2);
    return true;
}

}  // namespace ostel::cli
