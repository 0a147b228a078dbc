// ostelraw info: what identification finds in each file.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "cli/commands.h"
#include "cli/input_files.h"
#include "cli/json_writer.h"
#include "core/identify/identify.h"
#include "cli/session_loading.h"
#include "core/thumb/entries.h"
#include "export/export_geometry.h"

namespace ostel::cli {

namespace {

using core::DecoderSession;

std::string capture_time_text(int64_t seconds) {
    if (seconds <= 0) return "";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return "";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

std::string hex_word(uint32_t word) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", word);
    return buf;
}

struct InfoResult {
    std::string file;
    bool ok = false;
    std::string message;
    // The levels the loader settles on (several measure the black level
    // in the sensor's masked border), as the raw command reports them.
    bool decoded = false;
    int black_level = 0, white_level = 0, data_errors = 0;
};

InfoResult identify_one(const std::string& path, DecoderSession& s) {
    InfoResult r{path, false, ""};
    r.message = run_core_entry(path, s, [](DecoderSession& session) { core::identify_file(session); });
    r.ok = r.message.empty();
    r.black_level = s.black_level;
    r.white_level = s.white_level;
    if (!r.ok) return r;
    auto decoding = std::make_unique<DecoderSession>();
    if (run_core_entry(path, *decoding, [](DecoderSession& session) { core::decode(session); }).empty() &&
        !decoding->image.empty()) {
        r.decoded = true;
        r.black_level = decoding->black_level;
        r.white_level = decoding->white_level;
        r.data_errors = decoding->short_read_count;
    }
    return r;
}

// "1/400 s" below a second when that is what the camera set, else decimals.
std::string exposure_text(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) return "unknown";
    char buf[32];
    if (seconds < 1.0) {
        const double inverse = 1.0 / seconds;
        const double whole = std::round(inverse);
        if (std::fabs(inverse - whole) <= 0.02 * whole || inverse >= 10) {
            std::snprintf(buf, sizeof buf, "1/%.0f s", whole);
            return buf;
        }
    }
    std::snprintf(buf, sizeof buf, "%.3g s", seconds);
    return buf;
}

// "f/5.6", "f/8": one decimal, none when it is a whole number.
std::string aperture_text(double f_number) {
    if (!(f_number > 0) || !std::isfinite(f_number)) return "f/unknown";
    char buf[32];
    const double tenths = std::round(f_number * 10) / 10;
    std::snprintf(buf, sizeof buf, tenths == std::floor(tenths) ? "f/%.0f" : "f/%.1f", tenths);
    return buf;
}

std::string number_text(double v, const char* unit) {
    if (!(v > 0) || !std::isfinite(v)) return "unknown";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g%s", std::round(v * 10) / 10, unit);
    return buf;
}

// What the orientation asks of a viewer, in words.
std::string orientation_text(int orientation) {
    if (orientation < 0) return "unknown";
    switch (exporting::orientation_code(orientation)) {
        case 1: return "mirrored left to right";
        case 2: return "mirrored top to bottom";
        case 3: return "upside down (turn 180 degrees)";
        case 4: return "mirrored along the diagonal";
        case 5: return "turned (turn 90 degrees counter-clockwise)";
        case 6: return "turned (turn 90 degrees clockwise)";
        case 7: return "mirrored along the other diagonal";
        default: return "upright";
    }
}

void write_json(JsonWriter& j, const InfoResult& r, const DecoderSession& s) {
    j.begin_object();
    j.field("file", r.file);
    j.field("status", r.ok ? "ok" : "refused");
    j.field("message", r.message);
    j.field("make", s.make);
    j.field("model", s.model);
    j.field("model_extra", s.model_extra);
    j.field("artist", s.artist);
    j.field("iso", double(s.iso));
    j.field("exposure_time", double(s.exposure_time));
    j.field("f_number", double(s.f_number));
    j.field("focal_length", double(s.focal_length));
    j.field("capture_time", capture_time_text(s.capture_time));
    j.field("orientation", s.orientation);
    j.field("orientation_text", orientation_text(s.orientation));
    j.field("stored_width", s.stored_width);
    j.field("stored_height", s.stored_height);
    j.field("width", s.width);
    j.field("height", s.height);
    j.field("crop_top", s.crop_top);
    j.field("crop_left", s.crop_left);
    j.field("pixel_aspect", s.pixel_aspect);
    j.field("cfa_pattern", hex_word(s.cfa_pattern));
    j.field("color_count", s.color_count);
    j.field("color_letters", s.color_letters);
    j.field("black_level", r.black_level);
    j.field("white_level", r.white_level);
    j.field("data_errors", r.data_errors);
    j.field("bits_per_sample", s.bits_per_sample);
    j.field("compression", s.compression);
    j.field("loader", std::string(core::loader_name(s.loader)));
    j.field("raw_count", s.raw_count);
    j.field("dng_version", s.dng_version);
    j.field("baseline_exposure", s.baseline_exposure);
    auto numbers = [&j](const float* values, int count) {
        j.begin_array();
        for (int i = 0; i < count; ++i) j.value(double(values[i]));
        j.end_array();
    };
    j.key("as_shot_mul");
    numbers(s.as_shot_mul, 4);
    j.key("daylight_mul");
    numbers(s.daylight_mul, 4);
    j.key("cam_to_out");
    j.begin_array();
    for (const auto& row : s.cam_to_out) numbers(row, 4);
    j.end_array();
    j.field("no_camera_matrix", s.no_camera_matrix);
    j.key("thumb");
    j.begin_object();
    j.field("offset", s.thumb_offset);
    j.field("length", s.thumb_length);
    j.field("width", s.thumb_width);
    j.field("height", s.thumb_height);
    j.field("format", s.thumb_format);
    j.end_object();
    j.end_object();
}

void write_text(std::ostream& out, const InfoResult& r, const DecoderSession& s) {
    out << (r.file == "-" ? "standard input" : r.file) << ": " << s.make << ' ' << s.model;
    if (s.model_extra[0]) out << " (" << s.model_extra << ')';
    out << "\n";
    out << "  Shot:        ISO " << number_text(s.iso, "") << ", " << exposure_text(s.exposure_time) << ", "
        << aperture_text(s.f_number) << ", " << number_text(s.focal_length, " mm");
    const std::string when = capture_time_text(s.capture_time);
    if (!when.empty()) out << ", " << when;
    out << "\n";
    out << "  Sensor:      " << s.stored_width << " x " << s.stored_height << ", visible " << s.width << " x "
        << s.height << " at (" << s.crop_left << ", " << s.crop_top << ")\n";
    out << "  Colours:     " << s.color_count << " (" << s.color_letters << "), pattern " << hex_word(s.cfa_pattern)
        << "\n";
    out << "  Levels:      black " << r.black_level << ", white " << r.white_level << ", " << s.bits_per_sample
        << " bits" << (r.decoded ? "" : " (from the header: the data could not be decoded)") << "\n";
    if (r.data_errors) out << "  Data errors: " << r.data_errors << " (the image is incomplete)\n";
    out << "  Loader:      " << core::loader_name(s.loader) << " (compression " << s.compression << ")\n";
    out << "  Orientation: " << orientation_text(s.orientation) << "\n";
    if (s.baseline_exposure != 0) {
        char stops[32];
        std::snprintf(stops, sizeof stops, "%+.2f", s.baseline_exposure);
        out << "  Exposure:    " << stops << " stops (the DNG's baseline exposure, the default exposure)\n";
    }
    if (s.thumb_offset)
        out << "  Thumbnail:   " << s.thumb_length << " bytes at " << s.thumb_offset << ", " << s.thumb_width << " x "
            << s.thumb_height << "\n";
}

void print_info_help(std::ostream& out) {
    out << "usage: ostelraw info [options] FILE|FOLDER|-...\n"
           "Prints the camera, shooting data, levels and layout of raw files.\n"
           "  --json            one JSON record per file (refused files too, with their reason)\n"
           "  -r, --recursive   folders: take raw files in subfolders too\n"
           "  -q, --quiet       print only problems\n"
           "  -h, --help        this help\n";
}

}  // namespace

int command_info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    SimpleOptions o;
    std::vector<std::string> words;
    bool recursive = false;
    for (const std::string& a : args) {
        if (a == "-r" || a == "--recursive") recursive = true;
        else words.push_back(a);
    }
    if (!parse_simple_options("info", words, {"--json"}, o, err)) {
        err << "Try 'ostelraw info --help' for the options.\n";
        return kExitUsage;
    }
    if (o.help) {
        print_info_help(out);
        return kExitOk;
    }
    if (o.inputs.empty()) {
        err << "ostelraw info: no input file\n"
            << "Try 'ostelraw info --help' for the options.\n";
        return kExitUsage;
    }
    StandardInputCopy stdin_copy;
    int status = kExitOk;
    JsonWriter j(out);
    if (o.json) j.begin_array();
    for (const InputFile& f : expand_inputs(o.inputs, recursive)) {
        std::string load = f.path;
        std::string problem = f.problem;
        if (f.path == "-" && problem.empty()) {
            // Standard input can be read once; a second "-" sees the same copy.
            if (stdin_copy.path().empty()) stdin_copy.make(problem);
            load = stdin_copy.path();
        }
        auto session = std::make_unique<DecoderSession>();
        InfoResult r{f.path, false, problem};
        if (problem.empty()) r = identify_one(load, *session);
        r.file = f.path;
        if (!r.ok) {
            // Refusals go to the error stream once; the JSON list keeps a
            // record for every file so that scripts can pair them up.
            status = kExitFailed;
            err << (f.path == "-" ? "standard input" : f.path) << ": " << r.message << "\n";
        }
        if (o.json) write_json(j, r, *session);
        else if (r.ok && !o.quiet) write_text(out, r, *session);
    }
    if (o.json) {
        j.end_array();
        out << "\n";
    }
    return status;
}

}  // namespace ostel::cli
