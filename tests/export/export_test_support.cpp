#include "tests/export/export_test_support.h"

#include <lcms2.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <random>

#include <jpeglib.h>
#include <png.h>

namespace ostel::exporting::test {

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("ostel_export_" + std::to_string(getpid()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<uint16_t> coordinate_image(int width, int height, int scale) {
    std::vector<uint16_t> rgb(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint16_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[0] = uint16_t(x * scale);
            p[1] = uint16_t(y * scale);
            p[2] = uint16_t((1000 + x + y) * scale);
        }
    return rgb;
}

ReadImage read_tiff(const std::string& path) {
    ReadImage out;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!tif) return out;
    uint32_t w = 0, h = 0;
    uint16_t bits = 0, spp = 0, format = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    uint16_t compression = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    out.compression = compression;
    out.width = int(w);
    out.height = int(h);
    out.bits = bits;
    out.channels = spp;
    out.sample_format = format;
    uint32_t icc_size = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &icc_size, &icc) && icc)
        out.icc.assign(static_cast<uint8_t*>(icc), static_cast<uint8_t*>(icc) + icc_size);
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif.get())));
    const size_t values = size_t(w) * spp;
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0) return {};
        for (size_t i = 0; i < values; ++i)
            out.samples.push_back(bits == 16 ? reinterpret_cast<const uint16_t*>(row.data())[i] : row[i]);
    }
    return out;
}

TiffExif read_tiff_exif(const std::string& path) {
    TiffExif out;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    uint64_t offset = 0;
    if (!tif || !TIFFGetField(tif.get(), TIFFTAG_EXIFIFD, &offset) || !TIFFReadEXIFDirectory(tif.get(), offset))
        return out;
    out.found = true;
    // libtiff hands a rational back as a float or a double, as its field
    // table says.
    auto rational = [&](ttag_t tag) -> double {
        const TIFFField* field = TIFFFindField(tif.get(), tag, TIFF_ANY);
        if (!field) return 0;
        if (TIFFFieldSetGetSize(field) == 8) {
            double d = 0;
            return TIFFGetField(tif.get(), tag, &d) ? d : 0;
        }
        float f = 0;
        return TIFFGetField(tif.get(), tag, &f) ? f : 0;
    };
    out.exposure_time = rational(EXIFTAG_EXPOSURETIME);
    out.f_number = rational(EXIFTAG_FNUMBER);
    const char* text = nullptr;
    if (TIFFGetField(tif.get(), EXIFTAG_DATETIMEORIGINAL, &text) && text) out.date_time_original = text;
    if (TIFFGetField(tif.get(), EXIFTAG_DATETIMEDIGITIZED, &text) && text) out.date_time_digitized = text;
    return out;
}

ReadImage read_jpeg(const std::string& path) {
    ReadImage out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);  // test files are well formed
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    JOCTET* icc = nullptr;
    unsigned icc_size = 0;
    if (jpeg_read_icc_profile(&cinfo, &icc, &icc_size)) {
        out.icc.assign(icc, icc + icc_size);
        std::free(icc);
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = int(cinfo.output_width);
    out.height = int(cinfo.output_height);
    out.bits = 8;
    out.channels = 3;
    std::vector<uint8_t> row(size_t(out.width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&cinfo, &r, 1);
        out.samples.insert(out.samples.end(), row.begin(), row.end());
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return out;
}

std::vector<uint8_t> srgb_profile() {
    cmsHPROFILE p = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
}

bool lcms_opens(const std::vector<uint8_t>& profile) {
    if (profile.empty()) return false;
    cmsHPROFILE p = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    if (!p) return false;
    const bool rgb = cmsGetColorSpace(p) == cmsSigRgbData;
    cmsCloseProfile(p);
    return rgb;
}

ReadImage read_png(const std::string& path) {
    ReadImage out;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return {};
    }
    png_init_io(png, f.get());
    png_read_info(png, info);
    out.width = int(png_get_image_width(png, info));
    out.height = int(png_get_image_height(png, info));
    out.bits = png_get_bit_depth(png, info);
    out.channels = png_get_channels(png, info);
    png_charp name = nullptr;
    int kind = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &kind, &profile, &length)) out.icc.assign(profile, profile + length);
    png_bytep exif = nullptr;
    png_uint_32 exif_length = 0;
    if (png_get_eXIf_1(png, info, &exif_length, &exif)) out.exif.assign(exif, exif + exif_length);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    for (int y = 0; y < out.height; ++y) {
        png_read_row(png, row.data(), nullptr);
        for (size_t i = 0; i < size_t(out.width) * size_t(out.channels); ++i)
            out.samples.push_back(out.bits == 16 ? uint16_t(row[2 * i] << 8 | row[2 * i + 1]) : row[i]);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return out;
}

ReadImage read_image(const std::string& path) {
    unsigned char head[4] = {};
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f || std::fread(head, 1, 4, f.get()) != 4) return {};
    if (head[0] == 0xFF && head[1] == 0xD8) return read_jpeg(path);
    if (head[0] == 0x89 && head[1] == 'P') return read_png(path);
    return read_tiff(path);
}

std::string exiftool_json(const std::string& path, bool printed) {
    if (std::system("exiftool -ver >/dev/null 2>&1") != 0) return {};
    const std::string command = std::string("exiftool -j ") + (printed ? "" : "-n ") + "'" + path + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return {};
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) text.append(buffer, n);
    return text;
}

}  // namespace ostel::exporting::test
