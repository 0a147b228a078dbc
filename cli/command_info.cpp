// ostelraw info: what identification finds in each file.
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "core/identify/identify.h"
#include "cli/session_loading.h"

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
};

InfoResult identify_one(const std::string& path, DecoderSession& s) {
    InfoResult r{path, false, ""};
    r.message = run_core_entry(path, s, [](DecoderSession& session) { core::identify_file(session); });
    r.ok = r.message.empty();
    return r;
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
    j.field("black_level", s.black_level);
    j.field("white_level", s.white_level);
    j.field("bits_per_sample", s.bits_per_sample);
    j.field("compression", s.compression);
    j.field("loader", std::string(core::loader_name(s.loader)));
    j.field("raw_count", s.raw_count);
    j.field("dng_version", s.dng_version);
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
    out << r.file << ": ";
    if (!r.ok) {
        out << r.message << "\n";
        return;
    }
    out << s.make << ' ' << s.model;
    if (s.model_extra[0]) out << " (" << s.model_extra << ')';
    out << "\n";
    out << "  Shot:        ISO " << s.iso << ", " << s.exposure_time << " s, f/" << s.f_number << ", "
        << s.focal_length << " mm";
    const std::string when = capture_time_text(s.capture_time);
    if (!when.empty()) out << ", " << when;
    out << "\n";
    out << "  Sensor:      " << s.stored_width << " x " << s.stored_height << ", visible " << s.width << " x "
        << s.height << " at (" << s.crop_left << ", " << s.crop_top << ")\n";
    out << "  Colours:     " << s.color_count << " (" << s.color_letters << "), pattern " << hex_word(s.cfa_pattern)
        << "\n";
    out << "  Levels:      black " << s.black_level << ", white " << s.white_level << ", " << s.bits_per_sample
        << " bits\n";
    out << "  Loader:      " << core::loader_name(s.loader) << " (compression " << s.compression << ")\n";
    out << "  Orientation: " << s.orientation << "\n";
    if (s.thumb_offset)
        out << "  Thumbnail:   " << s.thumb_length << " bytes at " << s.thumb_offset << ", " << s.thumb_width << " x "
            << s.thumb_height << "\n";
}

}  // namespace

int command_info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::vector<std::string> files;
    for (const std::string& a : args) {
        if (a == "--json") json = true;
        else if (!a.empty() && a[0] == '-') {
            err << "ostelraw info: unknown option '" << a << "'\n";
            return kExitUsage;
        } else files.push_back(a);
    }
    if (files.empty()) {
        err << "usage: ostelraw info [--json] FILE...\n";
        return kExitUsage;
    }
    int status = kExitOk;
    JsonWriter j(out);
    if (json) j.begin_array();
    for (const std::string& f : files) {
        DecoderSession session;
        const InfoResult r = identify_one(f, session);
        if (!r.ok) {
            status = kExitFailed;
            err << f << ": " << r.message << "\n";
        }
        if (json) write_json(j, r, session);
        else write_text(out, r, session);
    }
    if (json) {
        j.end_array();
        out << "\n";
    }
    return status;
}

}  // namespace ostel::cli
