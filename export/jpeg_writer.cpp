#include "export/jpeg_writer.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <jpeglib.h>

#include "export/output_file.h"

namespace ostel::exporting {

namespace {

// An APP1 segment holds at most 65533 bytes after its length field.
constexpr size_t kMaxApp1Payload = 65533;
constexpr uint8_t kExifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kProfileDescriptorTag = 0x0302;

std::mutex& exiv2_mutex() {
    static std::mutex m;
    return m;
}

void set_text(Exiv2::ExifData& exif, const char* key, const std::string& text) {
    if (!text.empty()) exif[key] = text;
}

void set_rational(Exiv2::ExifData& exif, const char* key, const std::optional<Rational>& r) {
    if (r) exif[key] = Exiv2::URational(r->numerator, r->denominator);
}

// libjpeg leaves through error_exit; it must not return, so it jumps back
// to the point where the compression was set up.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void on_jpeg_error(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, err->message);
    std::longjmp(err->jump, 1);
}

// Only plain data lives in this frame, so the long jump skips no destructor.
bool compress(std::FILE* file, int width, int height, const uint8_t* rgb, int quality, const uint8_t* app1,
              size_t app1_size, const uint8_t* icc, size_t icc_size, char* message) {
    jpeg_compress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = on_jpeg_error;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::strcpy(message, err.message);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    if (quality >= 90) {
        // Full-resolution colour at high qualities: subsampling would be the
        // largest loss left.
        for (int c = 0; c < cinfo.num_components; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    cinfo.write_JFIF_header = app1_size == 0;
    jpeg_start_compress(&cinfo, TRUE);
    if (app1_size) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1, unsigned(app1_size));
    if (icc_size) jpeg_write_icc_profile(&cinfo, icc, unsigned(icc_size));
    const size_t stride = size_t(width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + size_t(cinfo.next_scanline) * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> build_exif_block(const MetadataItems& items, int width, int height, const std::string& software,
                                      const std::string& profile_descriptor) {
    std::lock_guard<std::mutex> lock(exiv2_mutex());
    try {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::ExifData exif;
        set_text(exif, "Exif.Image.Software", software);
        set_text(exif, "Exif.Image.Make", items.make);
        set_text(exif, "Exif.Image.Model", items.model);
        if (!profile_descriptor.empty()) {
            Exiv2::AsciiValue value(profile_descriptor);
            exif.add(Exiv2::ExifKey(kProfileDescriptorTag, "Image"), &value);
        }
        set_text(exif, "Exif.Image.Artist", items.artist);
        set_text(exif, "Exif.Image.Copyright", items.copyright);
        set_text(exif, "Exif.Image.DateTime", items.date_time);
        // The items every Exif reader expects besides the shooting data.
        exif["Exif.Image.XResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        exif["Exif.Image.YCbCrPositioning"] = uint16_t(1);
        exif["Exif.Photo.PixelXDimension"] = uint32_t(width);
        exif["Exif.Photo.PixelYDimension"] = uint32_t(height);
        Exiv2::DataValue components(Exiv2::undefined);
        static const Exiv2::byte ycbcr[4] = {1, 2, 3, 0};
        components.read(ycbcr, 4);
        exif.add(Exiv2::ExifKey("Exif.Photo.ComponentsConfiguration"), &components);
        Exiv2::DataValue flashpix(Exiv2::undefined);
        flashpix.read(reinterpret_cast<const Exiv2::byte*>("0100"), 4);
        exif.add(Exiv2::ExifKey("Exif.Photo.FlashpixVersion"), &flashpix);
        // The capture time is when the picture was taken (and digitized), the
        // date photo managers sort by.
        set_text(exif, "Exif.Photo.DateTimeOriginal", items.date_time);
        set_text(exif, "Exif.Photo.DateTimeDigitized", items.date_time);
        exif["Exif.Photo.ColorSpace"] = uint16_t(items.colour_space);
        set_rational(exif, "Exif.Photo.ExposureTime", items.exposure_time);
        set_rational(exif, "Exif.Photo.FNumber", items.f_number);
        set_rational(exif, "Exif.Photo.ApertureValue", items.aperture_value);
        if (items.iso) exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(*items.iso);
        set_rational(exif, "Exif.Photo.FocalLength", items.focal_length);
        Exiv2::DataValue version(Exiv2::undefined);
        version.read(reinterpret_cast<const Exiv2::byte*>("0210"), 4);
        exif.add(Exiv2::ExifKey("Exif.Photo.ExifVersion"), &version);
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
        return std::vector<uint8_t>(blob.begin(), blob.end());
    } catch (const std::exception&) {
        return {};
    }
}

bool write_jpeg(const std::string& path, int width, int height, const uint8_t* rgb, const JpegOptions& options,
                std::string& error) {
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION || !rgb) {
        error = "image size not supported by JPEG";
        return false;
    }
    std::vector<uint8_t> app1;
    if (options.exif) {
        const std::vector<uint8_t> block = build_exif_block(*options.exif, width, height, options.software, options.profile_descriptor);
        // Texts are bounded, so only an unusable block is left out here.
        if (!block.empty() && block.size() + sizeof kExifPrefix <= kMaxApp1Payload) {
            app1.assign(std::begin(kExifPrefix), std::end(kExifPrefix));
            app1.insert(app1.end(), block.begin(), block.end());
        }
    }
    return write_file_through_stream(path, options.replace_existing, error, [&](std::FILE* file, std::string& failure) {
        char message[JMSG_LENGTH_MAX] = {};
        const bool ok = compress(file, width, height, rgb, std::clamp(options.quality, 1, 100), app1.data(),
                                 app1.size(), options.icc_profile.data(), options.icc_profile.size(), message);
        failure = message;
        return ok;
    });
}

}  // namespace ostel::exporting
