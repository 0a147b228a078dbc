#include "export/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "export/output_file.h"

namespace ostel::exporting {

namespace {

// The largest side libpng accepts by default.
constexpr int kMaxPngSide = 1000000;

struct PngFailure {
    std::jmp_buf jump;
    char message[256];
};

void on_png_error(png_structp png, png_const_charp text) {
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", text ? text : "PNG error");
    std::longjmp(failure->jump, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Only plain data lives in this frame, so the long jump skips no destructor.
bool encode(std::FILE* file, int width, int height, int bits, const void* samples, const PngOptions& options,
            char* message) {
    PngFailure failure;
    failure.message[0] = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, on_png_error, on_png_warning);
    if (!png) {
        std::strcpy(message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(failure.jump)) {
        png_destroy_write_struct(&png, &info);
        std::strcpy(message, failure.message[0] ? failure.message : "out of memory");
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bits, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!options.icc_profile.empty()) {
        // The profile is ours and valid; skip libpng's check of it against
        // its list of known sRGB profiles.
        png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, options.icc_profile.data(),
                     png_uint_32(options.icc_profile.size()));
    }
    if (!options.exif.empty())
        png_set_eXIf_1(png, info, png_uint_32(options.exif.size()), const_cast<png_bytep>(options.exif.data()));
    png_write_info(png, info);
    // PNG stores 16-bit samples most significant byte first.
    const uint16_t probe = 1;
    if (bits == 16 && *reinterpret_cast<const uint8_t*>(&probe) == 1) png_set_swap(png);
    const size_t stride = size_t(width) * 3 * size_t(bits / 8);
    const auto* bytes = static_cast<const uint8_t*>(samples);
    for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(bytes + size_t(y) * stride));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool write_png(const std::string& path, int width, int height, int bits, const void* samples,
               const PngOptions& options, std::string& error) {
    if (width <= 0 || height <= 0 || width > kMaxPngSide || height > kMaxPngSide || !samples ||
        (bits != 8 && bits != 16)) {
        error = "image size not supported by PNG";
        return false;
    }
    return write_file_through_stream(path, options.replace_existing, error, [&](std::FILE* file, std::string& failure) {
        char message[256] = {};
        const bool ok = encode(file, width, height, bits, samples, options, message);
        failure = message;
        return ok;
    });
}

}  // namespace ostel::exporting
