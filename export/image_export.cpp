#include "export/image_export.h"

#include "develop/raw_document.h"

#include <algorithm>
#include <new>

#include "export/jpeg_writer.h"
#include "export/png_writer.h"
#include "export/tiff_writer.h"

namespace ostel::exporting {

namespace {

bool is_png(SaveMode mode) { return mode == SaveMode::png8 || mode == SaveMode::png16; }

ExportResult failure(SaveMode mode, std::string detail) {
    ExportResult r;
    r.messages.push_back(mode == SaveMode::tiff16 ? kFileIoError : kImageSaveError);
    r.detail = std::move(detail);
    return r;
}

// The 8-bit formats take the high byte of each sample, as the display
// buffer does.
std::vector<uint8_t> to_8bit(const RgbImage16& image) {
    std::vector<uint8_t> out(image.samples.size());
    std::transform(image.samples.begin(), image.samples.end(), out.begin(),
                   [](uint16_t v) { return uint8_t(v >> 8); });
    return out;
}

bool prepare(const ExportRequest& rq, RgbImage16& out, std::string& detail) {
    const ExportSize area = exported_area(rq.width, rq.height);
    if (!rq.rgb || area.width == 0) {
        detail = "no developed image";
        return false;
    }
    // Each step below makes a new picture only when it changes something:
    // these are full-size 16-bit copies.
    RgbImage16 image = copy_exported_area(rq.rgb, rq.width, rq.height);
    if (orientation_code(rq.orientation) != 0) image = orient_image(image, rq.orientation);
    const ExportSize upright{image.width, image.height};
    if (rq.rotation != Rotation::none) image = rotate_image(image, rq.rotation);
    const CropRect crop = clamp_crop(rq.crop, upright);
    if (rq.crop_mode && !crop.empty()) image = crop_image(image, rotate_crop(crop, upright, rq.rotation));
    int width = rq.output_width, height = rq.output_height;
    if (width == 0 && height == 0) {
        width = image.width;
        height = image.height;
    }
    const int64_t max_w = std::min<int64_t>(kMaxOutputSide, int64_t(image.width) * 4);
    const int64_t max_h = std::min<int64_t>(kMaxOutputSide, int64_t(image.height) * 4);
    if (width < 1 || height < 1 || width > max_w || height > max_h) {
        detail = "output size " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
        return false;
    }
    if (width == image.width && height == image.height) {
        out = std::move(image);
        return true;
    }
    return resample_image(image, width, height, out, detail);
}

}  // namespace

ExportResult export_image(const std::string& path, const ExportRequest& rq) {
    RgbImage16 image;
    try {
        std::string detail;
        if (!prepare(rq, image, detail)) return failure(rq.mode, detail);
    } catch (const std::bad_alloc&) {
        return failure(rq.mode, "out of memory");
    }
    const MetadataItems items = metadata_items(rq.shot, rq.artist, rq.copyright);
    ExportResult result;
    result.width = image.width;
    result.height = image.height;
    if (rq.mode == SaveMode::jpeg) {
        JpegOptions options;
        options.quality = rq.quality;
        options.icc_profile = rq.icc_profile;
        options.exif = &items;
        options.replace_existing = rq.replace_existing;
        std::string error;
        const std::vector<uint8_t> rgb8 = to_8bit(image);
        if (!write_jpeg(path, image.width, image.height, rgb8.data(), options, error)) return failure(rq.mode, error);
        result.written = true;
        return result;
    }
    if (is_png(rq.mode)) {
        PngOptions options;
        options.icc_profile = rq.icc_profile;
        options.exif = build_exif_block(items, image.width, image.height, kSoftware8Bit, kProfileDescriptor);
        options.replace_existing = rq.replace_existing;
        std::string error;
        const bool eight = rq.mode == SaveMode::png8;
        std::vector<uint8_t> rgb8;
        if (eight) rgb8 = to_8bit(image);
        const void* samples = eight ? static_cast<const void*>(rgb8.data()) : image.samples.data();
        if (!write_png(path, image.width, image.height, eight ? 8 : 16, samples, options, error))
            return failure(rq.mode, error);
        result.written = true;
        return result;
    }
    TiffOptions options;
    options.icc_profile = rq.icc_profile;
    options.make = items.make;
    options.model = items.model;
    options.artist = items.artist;
    options.copyright = items.copyright;
    options.date_time = items.date_time;
    options.compression = rq.compression;
    options.replace_existing = rq.replace_existing;
    // Both depths carry the same Exif directory.
    options.exif = &items;
    std::vector<uint8_t> rgb8;
    TiffPixels pixels{image.width, image.height, 3, 16, image.samples.data()};
    if (rq.mode == SaveMode::tiff8) {
        options.software = kSoftware8Bit;
        options.profile_descriptor = kProfileDescriptor;
        rgb8 = to_8bit(image);
        pixels = {image.width, image.height, 3, 8, rgb8.data()};
    } else {
        options.software = kSoftware16Bit;
    }
    const TiffReport report = write_tiff(path, pixels, options);
    if (!report.written) return failure(rq.mode, report.error);
    result.written = true;
    result.messages = report.warnings;
    return result;
}

ShootingData shooting_items(const develop::ShootingData& shot) {
    ShootingData items;
    items.make = shot.make;
    items.model = shot.model;
    items.capture_time = shot.capture_text;
    items.iso = shot.iso;
    items.shutter = shot.shutter;
    items.aperture = shot.aperture;
    items.focal_length = shot.focal_length;
    return items;
}

std::string with_mode_extension(const std::string& path, SaveMode mode) {
    return path + (mode == SaveMode::jpeg ? ".jpg" : is_png(mode) ? ".png" : ".tif");
}

}  // namespace ostel::exporting
