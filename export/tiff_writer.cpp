#include "export/tiff_writer.h"

#include "export/exif_rationals.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

#include "export/output_file.h"

namespace ostel::exporting {

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

// libtiff reports through process-wide handlers; the writer reports through
// its return value instead.
void silence_libtiff() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

constexpr ttag_t kProfileDescriptorTag = 770;

// Each text tag with the message shown when it cannot be set.
struct TextTag {
    ttag_t tag;
    const std::string TiffOptions::*text;
    const char* failure;
};
constexpr TextTag kTrailingTextTags[] = {
    {TIFFTAG_ARTIST, &TiffOptions::artist, "Tags ART I/O Error"},
    {TIFFTAG_COPYRIGHT, &TiffOptions::copyright, "Tags CPR I/O Error"},
    {TIFFTAG_SOFTWARE, &TiffOptions::software, "Tags SFT I/O Error"},
    {TIFFTAG_MAKE, &TiffOptions::make, "Tags MKR I/O Error"},
    {TIFFTAG_MODEL, &TiffOptions::model, "Tags CMM I/O Error"},
    {TIFFTAG_DATETIME, &TiffOptions::date_time, "Tags DTT I/O Error"},
    {TIFFTAG_IMAGEDESCRIPTION, &TiffOptions::description, "Tags DSC I/O Error"},
};

bool register_profile_descriptor(TIFF* t) {
    static const TIFFFieldInfo info[] = {{kProfileDescriptorTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII,
                                          FIELD_CUSTOM, 1, 0, const_cast<char*>("ProfileDescriptor")}};
    return TIFFMergeFieldInfo(t, info, 1) == 0;
}

// Writes the Exif directory after the main one and points the main
// directory at it.
bool write_exif_directory(TIFF* t, const MetadataItems& items) {
    if (!TIFFWriteDirectory(t)) return false;
    if (TIFFCreateEXIFDirectory(t) != 0) return false;
    // The version readers expect in every Exif directory.
    static const char version[4] = {'0', '2', '1', '0'};
    static const char flashpix[4] = {'0', '1', '0', '0'};
    TIFFSetField(t, EXIFTAG_EXIFVERSION, version);
    TIFFSetField(t, EXIFTAG_FLASHPIXVERSION, flashpix);
    TIFFSetField(t, EXIFTAG_COLORSPACE, uint16_t(items.colour_space));
    if (!items.date_time.empty()) {
        TIFFSetField(t, EXIFTAG_DATETIMEORIGINAL, items.date_time.c_str());
        TIFFSetField(t, EXIFTAG_DATETIMEDIGITIZED, items.date_time.c_str());
    }
    // Placeholders for the exact fractions written once the file is complete.
    if (items.exposure_time) TIFFSetField(t, EXIFTAG_EXPOSURETIME, items.exposure_time->value());
    if (items.f_number) TIFFSetField(t, EXIFTAG_FNUMBER, items.f_number->value());
    if (items.aperture_value) TIFFSetField(t, EXIFTAG_APERTUREVALUE, items.aperture_value->value());
    if (items.iso) {
        uint16_t iso = *items.iso;
        TIFFSetField(t, EXIFTAG_ISOSPEEDRATINGS, uint16_t(1), &iso);
    }
    if (items.focal_length) TIFFSetField(t, EXIFTAG_FOCALLENGTH, items.focal_length->value());
    uint64_t exif_offset = 0;
    if (!TIFFWriteCustomDirectory(t, &exif_offset)) return false;
    if (!TIFFSetDirectory(t, 0)) return false;
    if (!TIFFSetField(t, TIFFTAG_EXIFIFD, exif_offset)) return false;
    return TIFFRewriteDirectory(t) != 0;
}

}  // namespace

TiffReport write_tiff(const std::string& path, const TiffPixels& px, const TiffOptions& options) {
    TiffReport report;
    if (px.width <= 0 || px.height <= 0 || (px.channels != 1 && px.channels != 3) ||
        (px.bits != 8 && px.bits != 16) || !px.samples) {
        report.error = "nothing to write";
        return report;
    }
    silence_libtiff();
    OutputFile file;
    if (!file.open(path, options.replace_existing, report.error)) return report;
    // libtiff closes the descriptor it is given; the output file keeps its own.
    const int fd = file.duplicate();
    std::unique_ptr<TIFF, TiffCloser> tif(fd < 0 ? nullptr : TIFFFdOpen(fd, path.c_str(), "w"));
    if (!tif) {
        if (fd >= 0) ::close(fd);
        report.error = system_error_text("cannot write", path, errno ? errno : EIO);
        return report;
    }
    report.created = true;
    // libtiff says only that a write failed; the system's reason is in errno.
    auto write_failure = [&] {
        report.error = system_error_text("cannot write", path, errno ? errno : EIO);
        return report;
    };
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(px.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(px.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(px.bits));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(px.channels));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    // The samples are unsigned (0..65535 or 0..255); declaring them so lets
    // every reader take them unchanged.
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_UINT));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(px.channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    const bool compressed = options.compression != TiffCompression::none;
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(options.compression == TiffCompression::deflate ? COMPRESSION_ADOBE_DEFLATE
                                                  : options.compression == TiffCompression::lzw   ? COMPRESSION_LZW
                                                                                                 : COMPRESSION_NONE));
    // Differences between neighbours compress far better than the samples.
    if (compressed) TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t(PREDICTOR_HORIZONTAL));
    if (options.orientation > 0) TIFFSetField(t, TIFFTAG_ORIENTATION, uint16_t(options.orientation));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH));
    if (!options.icc_profile.empty() &&
        !TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(options.icc_profile.size()), options.icc_profile.data()))
        report.warnings.push_back(kProfileIoError);
    if (!options.profile_descriptor.empty() &&
        (!register_profile_descriptor(t) ||
         !TIFFSetField(t, kProfileDescriptorTag, options.profile_descriptor.c_str())))
        report.warnings.push_back("Tags PRD I/O Error");
    if (options.exif) TIFFSetField(t, TIFFTAG_EXIFIFD, uint64_t(0));  // the real offset follows the rows

    const size_t row_bytes = size_t(px.width) * size_t(px.channels) * size_t(px.bits / 8);
    const auto* bytes = static_cast<const uint8_t*>(px.samples);
    // The predictor works in place, so compressed rows go through a copy.
    std::vector<uint8_t> scratch(compressed ? row_bytes : 0);
    errno = 0;
    for (int y = 0; y < px.height; ++y) {
        const uint8_t* source = bytes + size_t(y) * row_bytes;
        uint8_t* row = scratch.data();
        if (compressed) std::copy_n(source, row_bytes, row);
        else row = const_cast<uint8_t*>(source);  // left unchanged without compression
        if (TIFFWriteScanline(t, row, uint32_t(y), 0) < 0) return write_failure();
    }
    for (const TextTag& tag : kTrailingTextTags) {
        const std::string& text = options.*(tag.text);
        if (!text.empty() && !TIFFSetField(t, tag.tag, text.c_str())) report.warnings.push_back(tag.failure);
    }
    if (options.exif && !write_exif_directory(t, *options.exif)) return write_failure();
    if (!TIFFFlush(t)) return write_failure();
    tif.reset();  // complete the file before its Exif fractions are made exact
    if (options.exif && !write_exact_exif_rationals(file.temporary_path(), *options.exif)) return write_failure();
    if (!file.commit(report.error)) return report;
    report.written = true;
    return report;
}

}  // namespace ostel::exporting
