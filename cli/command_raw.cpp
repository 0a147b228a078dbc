// ostelraw raw: the visible sensor data exactly as the loader stored it.
#include <ostream>
#include <vector>

#include "cli/commands.h"
#include "cli/single_file_command.h"
#include "cli/json_writer.h"
#include "cli/session_loading.h"
#include "core/thumb/entries.h"
#include "export/output_file.h"
#include "export/tiff16_writer.h"

namespace ostel::cli {

namespace {

void print_raw_help(std::ostream& out) {
    out << "usage: ostelraw raw FILE|- -o OUT.tif|- [options]\n"
           "Writes the visible sensor data, undeveloped, as a 16-bit TIFF and prints a JSON record of it.\n"
           "  -o OUT.tif|-      output file, or - for standard output (the record then goes to the error stream)\n"
           "  -y, --overwrite   replace an existing output file\n"
           "  -q, --quiet       print no record\n"
           "  -h, --help        this help\n";
}

}  // namespace

int command_raw(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    SingleFileStart start;
    const int early = begin_single_file_command("raw", args, print_raw_help, start, out, err);
    if (early >= 0) return early;
    const SimpleOptions& o = start.options;
    const std::string& input = o.inputs[0];
    const std::string& name = start.name;
    const std::string& load = start.load;
    core::DecoderSession s;
    const std::string problem = run_core_entry(load, s, [](core::DecoderSession& session) { core::decode(session); });
    if (!problem.empty()) {
        err << name << ": " << problem << "\n";
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
    options.replace_existing = o.overwrite;
    if (!exporting::write_tiff16(o.output, w, h, channels, samples.data(), options, error)) {
        err << name << ": " << error << "\n";
        return kExitFailed;
    }
    if (s.short_read_count > 0)
        err << name << ": " << incomplete_data_warning(s.short_read_count) << "\n";
    if (!o.quiet) {
        std::ostream& report = exporting::is_standard_output(o.output) ? err : out;
        JsonWriter j(report);
        j.begin_object();
        j.field("file", input);
        j.field("output", o.output);
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
        report << "\n";
    }
    return s.short_read_count > 0 ? kExitFailed : kExitOk;
}

}  // namespace ostel::cli
