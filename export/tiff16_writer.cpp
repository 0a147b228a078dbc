#include "export/tiff16_writer.h"

#include <tiffio.h>

#include <memory>

namespace ostel::exporting {

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

void set_text_tag(TIFF* tif, ttag_t tag, const std::string& text) {
    if (!text.empty()) TIFFSetField(tif, tag, text.c_str());
}

}  // namespace

bool write_tiff16(const std::string& path, int width, int height, int channels, const uint16_t* samples,
                  const Tiff16Options& options, std::string& error) {
    if (width <= 0 || height <= 0 || (channels != 1 && channels != 3) || !samples) {
        error = "nothing to write";
        return false;
    }
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "w"));
    if (!tif) {
        error = "cannot create " + path;
        return false;
    }
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(16));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_UINT));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
    TIFFSetField(t, TIFFTAG_ORIENTATION, uint16_t(options.orientation));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    set_text_tag(t, TIFFTAG_SOFTWARE, options.software);
    set_text_tag(t, TIFFTAG_MAKE, options.make);
    set_text_tag(t, TIFFTAG_MODEL, options.model);
    set_text_tag(t, TIFFTAG_ARTIST, options.artist);
    set_text_tag(t, TIFFTAG_COPYRIGHT, options.copyright);
    set_text_tag(t, TIFFTAG_IMAGEDESCRIPTION, options.description);
    set_text_tag(t, TIFFTAG_DATETIME, options.date_time);
    if (!options.icc_profile.empty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(options.icc_profile.size()), options.icc_profile.data());
    const size_t row_values = size_t(width) * size_t(channels);
    for (int y = 0; y < height; ++y) {
        // libtiff takes a non-const buffer but does not modify it for uncompressed data.
        auto* row = const_cast<uint16_t*>(samples + size_t(y) * row_values);
        if (TIFFWriteScanline(t, row, uint32_t(y), 0) < 0) {
            error = "write error in " + path;
            return false;
        }
    }
    if (!TIFFFlush(t)) {
        error = "write error in " + path;
        return false;
    }
    return true;
}

}  // namespace ostel::exporting
