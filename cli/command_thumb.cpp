// ostelraw thumb: the embedded thumbnail in its own format: a JPEG as it is
// stored, a bitmap or raw-stored preview as PPM, or as PNG when the output
// name asks for it.
#include <ostream>
#include <vector>

#include "cli/commands.h"
#include "cli/single_file_command.h"
#include "cli/session_loading.h"
#include "core/thumb/entries.h"
#include "export/output_file.h"
#include "export/png_writer.h"

namespace ostel::cli {

namespace {

void print_thumb_help(std::ostream& out) {
    out << "usage: ostelraw thumb FILE|- -o OUT|- [options]\n"
           "Extracts the embedded thumbnail in its own format: a JPEG thumbnail as it is stored (name it .jpg),\n"
           "a bitmap or raw-stored one as PPM (.ppm) or PNG (.png).\n"
           "  -o OUT|-          output file, or - for standard output\n"
           "  -y, --overwrite   replace an existing output file\n"
           "  -q, --quiet       print only problems\n"
           "  -h, --help        this help\n";
}

// Interleaved RGB pixels of the thumbnail, 8 or 16 bits.
struct ThumbPixels {
    int width = 0, height = 0, bits = 8;
    std::vector<uint8_t> bytes8;
    std::vector<uint16_t> words16;
};

// Bitmaps are blue, green, red, 0 per pixel.
bool bitmap_pixels(const core::DecoderSession& s, ThumbPixels& px) {
    const size_t pixels = size_t(s.thumb_bitmap_width) * size_t(s.thumb_bitmap_height);
    if (pixels == 0 || s.thumb_data.size() < pixels * 4) return false;
    px = {s.thumb_bitmap_width, s.thumb_bitmap_height, 8, std::vector<uint8_t>(pixels * 3), {}};
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c) px.bytes8[3 * i + size_t(c)] = s.thumb_data[4 * i + 2 - size_t(c)];
    return true;
}

// A thumbnail stored as raw data ends up decoded in the session's image.
bool decoded_pixels(const core::DecoderSession& s, ThumbPixels& px) {
    const size_t pixels = size_t(s.image_width) * size_t(s.image_height);
    if (pixels == 0 || s.image.size() < pixels) return false;
    px = {s.image_width, s.image_height, 16, {}, std::vector<uint16_t>(pixels * 3)};
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c) px.words16[3 * i + size_t(c)] = s.image[i][c];
    return true;
}

std::vector<uint8_t> ppm_bytes(const ThumbPixels& px) {
    const std::string header = "P6\n" + std::to_string(px.width) + " " + std::to_string(px.height) + "\n" +
                               (px.bits == 8 ? "255" : "65535") + "\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    if (px.bits == 8) {
        bytes.insert(bytes.end(), px.bytes8.begin(), px.bytes8.end());
    } else {
        // PPM stores 16-bit samples most significant byte first.
        for (uint16_t v : px.words16) {
            bytes.push_back(uint8_t(v >> 8));
            bytes.push_back(uint8_t(v & 0xFF));
        }
    }
    return bytes;
}

}  // namespace

int command_thumb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    SingleFileStart start;
    const int early = begin_single_file_command("thumb", args, print_thumb_help, start, out, err);
    if (early >= 0) return early;
    const SimpleOptions& o = start.options;
    const std::string& name = start.name;
    const std::string& load = start.load;
    core::DecoderSession s;
    int decoded_raw_thumbnail = 0;
    const std::string problem = run_core_entry(
        load, s, [&](core::DecoderSession& session) { decoded_raw_thumbnail = core::extract_thumbnail(session); });
    if (!problem.empty()) {
        err << name << ": " << problem << "\n";
        return kExitFailed;
    }
    const bool to_stdout = exporting::is_standard_output(o.output);
    const std::string ext = to_stdout ? "" : lower_extension(o.output);
    const bool jpeg_name = ext == "jpg" || ext == "jpeg";
    std::string error;
    bool written = false;
    std::string kind;
    if (s.thumb_kind == 1) {
        // Stored JPEG bytes are written unchanged, so only a JPEG name fits.
        if (!to_stdout && !jpeg_name) {
            err << name << ": the thumbnail is a JPEG image; name the output .jpg (not " << o.output << ")\n";
            return kExitFailed;
        }
        written = exporting::write_file_safely(o.output, s.thumb_data.data(), s.thumb_data.size(), o.overwrite, error);
        kind = "JPEG";
    } else {
        ThumbPixels px;
        const bool have = s.thumb_kind == 2 ? bitmap_pixels(s, px) : decoded_raw_thumbnail && decoded_pixels(s, px);
        if (!have) {
            err << name << ": no thumbnail\n";
            return kExitFailed;
        }
        if (jpeg_name || ext == "tif" || ext == "tiff") {
            err << name << ": the thumbnail is stored as pixels, not as a JPEG; name the output .ppm or .png (not "
                << o.output << ")\n";
            return kExitFailed;
        }
        if (ext == "png") {
            exporting::PngOptions options;
            options.replace_existing = o.overwrite;
            const void* samples = px.bits == 8 ? static_cast<const void*>(px.bytes8.data()) : px.words16.data();
            written = exporting::write_png(o.output, px.width, px.height, px.bits, samples, options, error);
            kind = px.bits == 8 ? "PNG" : "16-bit PNG";
        } else {
            const std::vector<uint8_t> bytes = ppm_bytes(px);
            written = exporting::write_file_safely(o.output, bytes.data(), bytes.size(), o.overwrite, error);
            kind = px.bits == 8 ? "PPM" : "16-bit PPM";
        }
    }
    if (!written) {
        err << name << ": " << error << "\n";
        return kExitFailed;
    }
    if (!o.quiet && !to_stdout) out << o.output << ": " << kind << " thumbnail\n";
    return kExitOk;
}

}  // namespace ostel::cli
