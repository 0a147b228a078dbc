// ostelraw raw: the visible sensor data exactly as the loader stored it.
#include <ostream>
#include <vector>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/session_loading.h"
#include "core/thumb/entries.h"
#include "export/tiff16_writer.h"

namespace ostel::cli {

int command_raw(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string input, output;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) output = args[++i];
        else if (!args[i].empty() && args[i][0] == '-') {
            err << "ostelraw raw: unknown option '" << args[i] << "'\n";
            return kExitUsage;
        } else if (input.empty()) input = args[i];
        else {
            err << "usage: ostelraw raw FILE -o OUT.tif\n";
            return kExitUsage;
        }
    }
    if (input.empty() || output.empty()) {
        err << "usage: ostelraw raw FILE -o OUT.tif\n";
        return kExitUsage;
    }
    core::DecoderSession s;
    const std::string problem = run_core_entry(input, s, [](core::DecoderSession& session) { core::decode(session); });
    if (!problem.empty()) {
        err << input << ": " << problem << "\n";
        return kExitFailed;
    }
    const int w = s.image_width, h = s.image_height;
    const bool mosaic = s.cfa_pattern != 0;
    const int channels = mosaic ? 1 : 3;
    std::vector<uint16_t> samples(size_t(w) * size_t(h) * size_t(channels));
    for (int y = 0; y < h; ++y) {
        const core::Pixel4* row = s.image.data() + size_t(y) * size_t(w);
        uint16_t* dest = samples.data() + size_t(y) * size_t(w) * size_t(channels);
        for (int x = 0; x < w; ++x) {
            if (mosaic) {
                // With the half grid a record holds a whole 2x2 block; the
                // command never asks for it, so each record is one site.
                dest[x] = row[x][s.sensor_color(y, x)];
            } else {
                for (int c = 0; c < 3; ++c) dest[size_t(x) * 3 + size_t(c)] = row[x][c];
            }
        }
    }
    std::string error;
    exporting::Tiff16Options options;
    options.make = s.make;
    options.model = s.model;
    if (!exporting::write_tiff16(output, w, h, channels, samples.data(), options, error)) {
        err << output << ": " << error << "\n";
        return kExitFailed;
    }
    JsonWriter j(out);
    j.begin_object();
    j.field("file", input);
    j.field("output", output);
    j.field("make", s.make);
    j.field("model", s.model);
    j.field("loader", std::string(core::loader_name(s.loader)));
    j.field("data_errors", s.short_read_count);
    j.field("width", w);
    j.field("height", h);
    j.field("crop_top", s.crop_top);
    j.field("crop_left", s.crop_left);
    char pattern[16];
    std::snprintf(pattern, sizeof pattern, "0x%08x", s.cfa_pattern);
    j.field("cfa_pattern", pattern);
    j.field("color_count", s.color_count);
    j.field("black_level", s.black_level);
    j.field("white_level", s.white_level);
    j.end_object();
    out << "\n";
    return kExitOk;
}

}  // namespace ostel::cli
