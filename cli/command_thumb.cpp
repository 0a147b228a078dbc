// ostelraw thumb: the embedded thumbnail as the thumbnail entry delivers it.
#include <cstdio>
#include <fstream>
#include <ostream>
#include <vector>

#include "cli/commands.h"
#include "cli/session_loading.h"
#include "core/thumb/entries.h"

namespace ostel::cli {

namespace {

bool write_bytes(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return bool(f);
}

// Kind-2 bitmaps are blue, green, red, 0 per pixel; PPM wants RGB.
bool write_bitmap_ppm(const std::string& path, const core::DecoderSession& s) {
    const size_t pixels = size_t(s.thumb_bitmap_width) * size_t(s.thumb_bitmap_height);
    if (s.thumb_data.size() < pixels * 4) return false;
    std::string bytes = "P6\n" + std::to_string(s.thumb_bitmap_width) + " " + std::to_string(s.thumb_bitmap_height) +
                        "\n255\n";
    const size_t header = bytes.size();
    bytes.resize(header + pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        bytes[header + 3 * i + 0] = char(s.thumb_data[4 * i + 2]);
        bytes[header + 3 * i + 1] = char(s.thumb_data[4 * i + 1]);
        bytes[header + 3 * i + 2] = char(s.thumb_data[4 * i + 0]);
    }
    return write_bytes(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A thumbnail stored as raw data ends up decoded in the session's image:
// written as a 16-bit PPM.
bool write_image_ppm16(const std::string& path, const core::DecoderSession& s) {
    const size_t pixels = size_t(s.image_width) * size_t(s.image_height);
    if (pixels == 0 || s.image.size() < pixels) return false;
    std::string bytes = "P6\n" + std::to_string(s.image_width) + " " + std::to_string(s.image_height) + "\n65535\n";
    const size_t header = bytes.size();
    bytes.resize(header + pixels * 6);
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c) {
            bytes[header + 6 * i + 2 * c] = char(s.image[i][c] >> 8);
            bytes[header + 6 * i + 2 * c + 1] = char(s.image[i][c] & 0xFF);
        }
    return write_bytes(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int command_thumb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string input, output;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) output = args[++i];
        else if (!args[i].empty() && args[i][0] == '-') {
            err << "ostelraw thumb: unknown option '" << args[i] << "'\n";
            return kExitUsage;
        } else if (input.empty()) input = args[i];
        else input.clear(), output.clear(), i = args.size();
    }
    if (input.empty() || output.empty()) {
        err << "usage: ostelraw thumb FILE -o OUT\n";
        return kExitUsage;
    }
    core::DecoderSession s;
    int decoded_raw_thumbnail = 0;
    const std::string problem = run_core_entry(
        input, s, [&](core::DecoderSession& session) { decoded_raw_thumbnail = core::extract_thumbnail(session); });
    if (!problem.empty()) {
        err << input << ": " << problem << "\n";
        return kExitFailed;
    }
    bool written = false;
    const char* kind = "";
    if (s.thumb_kind == 1) {
        written = write_bytes(output, s.thumb_data.data(), s.thumb_data.size());
        kind = "jpeg";
    } else if (s.thumb_kind == 2) {
        written = write_bitmap_ppm(output, s);
        kind = "ppm";
    } else if (decoded_raw_thumbnail) {
        written = write_image_ppm16(output, s);
        kind = "ppm16";
    } else {
        err << input << ": no thumbnail\n";
        return kExitFailed;
    }
    if (!written) {
        err << output << ": cannot write the thumbnail\n";
        return kExitFailed;
    }
    out << output << ": " << kind << " thumbnail\n";
    return kExitOk;
}

}  // namespace ostel::cli
