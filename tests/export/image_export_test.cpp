#include "export/image_export.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>

#include "export/export_geometry.h"
#include "export/metadata_items.h"
#include "tests/export/export_test_support.h"

namespace ostel::exporting {
namespace {

using test::coordinate_image;
using test::read_jpeg;
using test::read_tiff;
using test::TempDir;

// A developed image of 14 x 12 pixels: an exported area of 6 x 4.
constexpr int kW = 14, kH = 12;

ExportRequest request_for(const std::vector<uint16_t>& rgb, SaveMode mode) {
    ExportRequest rq;
    rq.rgb = rgb.data();
    rq.width = kW;
    rq.height = kH;
    rq.mode = mode;
    return rq;
}

// Expected samples of the 16-bit export, derived the other way round: turn
// each output pixel back into the unrotated crop and add the margin.
std::array<uint16_t, 3> expected_pixel(int u, int v, Rotation rotation, const CropRect& crop) {
    int x = u, y = v;  // position inside the unrotated crop
    if (rotation == Rotation::clockwise) {
        x = v;
        y = crop.height - 1 - u;
    } else if (rotation == Rotation::counter_clockwise) {
        x = crop.width - 1 - v;
        y = u;
    }
    x += crop.x + kExportMargin;
    y += crop.y + kExportMargin;
    return {uint16_t(x), uint16_t(y), uint16_t(1000 + x + y)};
}

TEST(ImageExport, QuarterTurnsAndCropGiveTheTurnedPixelLayout) {
    TempDir dir;
    const auto rgb = coordinate_image(kW, kH);
    const CropRect whole{0, 0, kW - 8, kH - 8};
    const struct {
        Rotation rotation;
        bool crop_mode;
        CropRect crop;      // as the view gives it
        CropRect effective; // what must be exported (unrotated)
    } cases[] = {
        {Rotation::none, false, {}, whole},
        {Rotation::clockwise, false, {}, whole},
        {Rotation::counter_clockwise, false, {}, whole},
        {Rotation::none, true, {1, 1, 3, 2}, {1, 1, 3, 2}},
        {Rotation::clockwise, true, {1, 1, 3, 2}, {1, 1, 3, 2}},
        {Rotation::counter_clockwise, true, {2, 0, 4, 3}, {2, 0, 4, 3}},
        // Crop mode without a rectangle exports everything.
        {Rotation::clockwise, true, {}, whole},
        // A rectangle dragged from outside the picture is clamped to it.
        {Rotation::none, true, {-3, -2, 6, 4}, {0, 0, 3, 2}},
        {Rotation::counter_clockwise, true, {4, 2, 50, 50}, {4, 2, 2, 2}},
        // Crop mode off ignores a drawn rectangle.
        {Rotation::clockwise, false, {1, 1, 3, 2}, whole},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "rotation " << int(c.rotation) << " crop " << c.crop.x << ","
                                        << c.crop.y << "," << c.crop.width << "," << c.crop.height);
        ExportRequest rq = request_for(rgb, SaveMode::tiff16);
        rq.rotation = c.rotation;
        rq.crop_mode = c.crop_mode;
        rq.crop = c.crop;
        const ExportSize size = default_output_size(kW, kH, c.rotation, c.crop_mode, c.crop);
        rq.output_width = size.width;
        rq.output_height = size.height;
        const std::string path = dir.file("turn.tif");
        const ExportResult result = export_image(path, rq);
        ASSERT_TRUE(result.written) << result.detail;
        const auto image = read_tiff(path);
        const bool turned = c.rotation != Rotation::none;
        ASSERT_EQ(image.width, turned ? c.effective.height : c.effective.width);
        ASSERT_EQ(image.height, turned ? c.effective.width : c.effective.height);
        for (int v = 0; v < image.height; ++v)
            for (int u = 0; u < image.width; ++u) {
                const auto want = expected_pixel(u, v, c.rotation, c.effective);
                const uint16_t* got = &image.samples[(size_t(v) * size_t(image.width) + size_t(u)) * 3];
                ASSERT_EQ(got[0], want[0]) << "at " << u << "," << v;
                ASSERT_EQ(got[1], want[1]) << "at " << u << "," << v;
                ASSERT_EQ(got[2], want[2]) << "at " << u << "," << v;
            }
    }
}

TEST(ImageExport, SixteenBitTiffDeclaresUnsignedSamplesAndKeepsFullRange) {
    TempDir dir;
    std::vector<uint16_t> rgb(size_t(kW) * kH * 3, 65535);
    rgb[(size_t(5) * kW + 5) * 3] = 40000;  // above the signed range
    ExportRequest rq = request_for(rgb, SaveMode::tiff16);
    rq.icc_profile = test::srgb_profile();
    ASSERT_TRUE(export_image(dir.file("a.tif"), rq).written);
    const auto image = read_tiff(dir.file("a.tif"));
    EXPECT_EQ(image.bits, 16);
    EXPECT_EQ(image.channels, 3);
    EXPECT_EQ(image.sample_format, 1);  // unsigned integer
    EXPECT_EQ(image.samples[(size_t(1) * image.width + 1) * 3], 40000);
    EXPECT_EQ(image.samples[0], 65535);
    EXPECT_EQ(image.icc, rq.icc_profile);
    EXPECT_TRUE(test::lcms_opens(image.icc));
}

TEST(ImageExport, ResamplesToTheChosenSize) {
    TempDir dir;
    // A flat image stays flat when enlarged or reduced.
    std::vector<uint16_t> rgb(size_t(40) * 30 * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = 30000;
        rgb[i + 1] = 20000;
        rgb[i + 2] = 10000;
    }
    for (ExportSize size : {ExportSize{128, 88}, ExportSize{16, 11}, ExportSize{1, 1}}) {
        ExportRequest rq;
        rq.rgb = rgb.data();
        rq.width = 40;
        rq.height = 30;
        rq.mode = SaveMode::tiff16;
        rq.output_width = size.width;
        rq.output_height = size.height;
        ASSERT_TRUE(export_image(dir.file("s.tif"), rq).written) << size.width;
        const auto image = read_tiff(dir.file("s.tif"));
        ASSERT_EQ(image.width, size.width);
        ASSERT_EQ(image.height, size.height);
        for (size_t i = 0; i < image.samples.size(); i += 3) {
            ASSERT_NEAR(image.samples[i], 30000, 2);
            ASSERT_NEAR(image.samples[i + 1], 20000, 2);
            ASSERT_NEAR(image.samples[i + 2], 10000, 2);
        }
    }
}

TEST(ImageExport, FailuresReportTheFormatsMessage) {
    TempDir dir;
    const auto rgb = coordinate_image(kW, kH);
    const struct {
        SaveMode mode;
        std::string path;
        int out_w, out_h;
        const char* message;
    } cases[] = {
        {SaveMode::tiff16, dir.file("missing/dir/a.tif"), 0, 0, "File I/O Error"},
        {SaveMode::jpeg, dir.file("missing/dir/a.jpg"), 0, 0, "Image save error"},
        {SaveMode::tiff8, dir.file("missing/dir/a.tif"), 0, 0, "Image save error"},
        // More than four times the source, or a negative size.
        {SaveMode::jpeg, dir.file("big.jpg"), 25, 16, "Image save error"},
        {SaveMode::tiff16, dir.file("neg.tif"), -6, 4, "File I/O Error"},
    };
    for (const auto& c : cases) {
        ExportRequest rq = request_for(rgb, c.mode);
        rq.output_width = c.out_w;
        rq.output_height = c.out_h;
        const ExportResult result = export_image(c.path, rq);
        EXPECT_FALSE(result.written) << c.path;
        ASSERT_EQ(result.messages.size(), 1u) << c.path;
        EXPECT_EQ(result.messages[0], c.message) << c.path;
        EXPECT_FALSE(std::filesystem::exists(c.path)) << c.path;
    }
    // An image no larger than its margins has nothing to export.
    ExportRequest tiny = request_for(rgb, SaveMode::jpeg);
    tiny.width = 8;
    tiny.height = 8;
    EXPECT_FALSE(export_image(dir.file("tiny.jpg"), tiny).written);
}

ShootingData sample_shot() {
    ShootingData shot;
    shot.make = "Canon";
    shot.model = "EOS 30D";
    shot.capture_time = "2006-05-04 13:14:15";
    shot.iso = 400;
    shot.shutter = 1.0 / 125;
    shot.aperture = 5.6;
    shot.focal_length = 50;
    return shot;
}

// exiftool reads back every item of the 8-bit formats.
TEST(ImageExport, EightBitFormatsCarryTheExifItemsAndProfile) {
    TempDir dir;
    const auto rgb = coordinate_image(kW, kH, 256);
    for (SaveMode mode : {SaveMode::jpeg, SaveMode::tiff8}) {
        const std::string path = dir.file(mode == SaveMode::jpeg ? "e.jpg" : "e.tif");
        ExportRequest rq = request_for(rgb, mode);
        rq.shot = sample_shot();
        rq.artist = "Jan Nov\xc3\xa1k";
        rq.copyright = "(c) 2006 Jan";
        rq.icc_profile = test::srgb_profile();
        rq.quality = 90;
        const ExportResult written = export_image(path, rq);
        ASSERT_TRUE(written.written) << written.detail;

        const auto image = mode == SaveMode::jpeg ? read_jpeg(path) : read_tiff(path);
        EXPECT_EQ(image.width, 6);
        EXPECT_EQ(image.height, 4);
        EXPECT_EQ(image.icc, rq.icc_profile);
        EXPECT_TRUE(test::lcms_opens(image.icc));
        if (mode == SaveMode::tiff8) {
            // The high byte of each sample: R = x, G = y of the source pixel.
            EXPECT_EQ(image.bits, 8);
            EXPECT_EQ(image.samples[0], 4);
            EXPECT_EQ(image.samples[1], 4);
            EXPECT_EQ(image.samples[(size_t(3) * 6 + 5) * 3 + 1], 7);
        }

        const std::string json = test::exiftool_json(path);
        if (json.empty()) GTEST_SKIP() << "exiftool not installed; Exif items not checked";
        const auto record = nlohmann::json::parse(json).at(0);
        SCOPED_TRACE(path);
        EXPECT_EQ(record.value("Make", ""), "Canon");
        EXPECT_EQ(record.value("Model", ""), "EOS 30D");
        EXPECT_EQ(record.value("Software", ""), "Ostel RAW Pro 0.99");
        EXPECT_EQ(record.value("Artist", ""), "Jan Nov\xc3\xa1k");
        EXPECT_EQ(record.value("Copyright", ""), "(c) 2006 Jan");
        EXPECT_EQ(record.value("ModifyDate", ""), "2006:05:04 13:14:15");
        EXPECT_EQ(record.value("ColorSpace", 0), 1);
        EXPECT_DOUBLE_EQ(record.value("ExposureTime", 0.0), 0.008);
        EXPECT_NEAR(record.value("ApertureValue", 0.0), 5.6, 0.01);  // exiftool shows the f-number
        EXPECT_EQ(record.value("ISO", 0), 400);
        EXPECT_NEAR(record.value("FocalLength", 0.0), 50.0, 1e-3);
        EXPECT_EQ(record.value("ImageWidth", 0), 6);
        EXPECT_TRUE(record.contains("ProfileDescription")) << "embedded ICC profile not seen";
        if (mode == SaveMode::jpeg) {
            EXPECT_EQ(record.value("ExifVersion", ""), "0210");
        }
    }
}

TEST(ImageExport, SixteenBitTiffCarriesItsTextTags) {
    TempDir dir;
    const auto rgb = coordinate_image(kW, kH);
    ExportRequest rq = request_for(rgb, SaveMode::tiff16);
    rq.shot = sample_shot();
    rq.artist = "A";
    rq.copyright = "C";
    ASSERT_TRUE(export_image(dir.file("t.tif"), rq).written);
    const std::string json = test::exiftool_json(dir.file("t.tif"));
    if (json.empty()) GTEST_SKIP() << "exiftool not installed";
    const auto record = nlohmann::json::parse(json).at(0);
    EXPECT_EQ(record.value("Software", ""), "Ostel RAW 0.99 Pro");
    EXPECT_EQ(record.value("Make", ""), "Canon");
    EXPECT_EQ(record.value("Model", ""), "EOS 30D");
    EXPECT_EQ(record.value("Artist", ""), "A");
    EXPECT_EQ(record.value("Copyright", ""), "C");
    EXPECT_EQ(record.value("ModifyDate", ""), "2006:05:04 13:14:15");
    EXPECT_EQ(record.value("BitsPerSample", ""), "16 16 16");
}

// The dates, the exposure time as cameras state it, and the f-number beside
// the aperture value, in every format; nothing for values never recorded.
TEST(ImageExport, EveryFormatCarriesExifDatesAndExactShotValues) {
    TempDir dir;
    const auto rgb = coordinate_image(kW, kH, 256);
    ShootingData shot = sample_shot();
    shot.shutter = double(0.0025f);  // 1/400 s as the decoder's float holds it
    shot.aperture = double(5.6f);
    ShootingData unknown;
    unknown.make = "Canon";
    for (SaveMode mode : {SaveMode::jpeg, SaveMode::tiff8, SaveMode::tiff16}) {
        const std::string path = dir.file(mode == SaveMode::jpeg ? "x.jpg" : mode == SaveMode::tiff8 ? "x8.tif" : "x16.tif");
        ExportRequest rq = request_for(rgb, mode);
        rq.shot = shot;
        ASSERT_TRUE(export_image(path, rq).written);
        SCOPED_TRACE(path);

        if (mode != SaveMode::jpeg) {
            const test::TiffExif exif = test::read_tiff_exif(path);
            ASSERT_TRUE(exif.found);
            // libtiff reads rationals as floats; exiftool below sees the fractions.
            EXPECT_FLOAT_EQ(float(exif.exposure_time), 0.0025f);
            EXPECT_FLOAT_EQ(float(exif.f_number), 5.6f);
            EXPECT_EQ(exif.date_time_original, "2006:05:04 13:14:15");
            EXPECT_EQ(exif.date_time_digitized, "2006:05:04 13:14:15");
        }

        const std::string printed = test::exiftool_json(path, true);
        if (printed.empty()) GTEST_SKIP() << "exiftool not installed; Exif items not checked";
        const auto shown = nlohmann::json::parse(printed).at(0);
        EXPECT_EQ(shown.value("ExposureTime", ""), "1/400");
        EXPECT_EQ(shown.value("ModifyDate", ""), "2006:05:04 13:14:15");
        EXPECT_EQ(shown.value("DateTimeOriginal", ""), "2006:05:04 13:14:15");
        EXPECT_EQ(shown.value("CreateDate", ""), "2006:05:04 13:14:15");
        const auto record = nlohmann::json::parse(test::exiftool_json(path)).at(0);
        EXPECT_DOUBLE_EQ(record.value("ExposureTime", 0.0), 0.0025);  // not 24/10000
        EXPECT_DOUBLE_EQ(record.value("FNumber", 0.0), 5.6);
        EXPECT_NEAR(record.value("ApertureValue", 0.0), 5.6, 0.01);
        EXPECT_EQ(record.value("ISO", 0), 400);

        const std::string bare = dir.file(mode == SaveMode::jpeg ? "u.jpg" : mode == SaveMode::tiff8 ? "u8.tif" : "u16.tif");
        rq.shot = unknown;
        ASSERT_TRUE(export_image(bare, rq).written);
        const auto none = nlohmann::json::parse(test::exiftool_json(bare)).at(0);
        for (const char* key : {"ExposureTime", "FNumber", "ApertureValue", "FocalLength", "ISO", "ModifyDate",
                                "DateTimeOriginal", "CreateDate"})
            EXPECT_FALSE(none.contains(key)) << key;
    }
}

TEST(MetadataItems, UnknownOrExtremeShotValuesStayRepresentable) {
    ShootingData shot;  // nothing recorded
    MetadataItems none = metadata_items(shot, "", "");
    EXPECT_FALSE(none.exposure_time);
    EXPECT_FALSE(none.f_number);
    EXPECT_FALSE(none.aperture_value);
    EXPECT_FALSE(none.focal_length);
    EXPECT_FALSE(none.iso);

    shot.shutter = 1e10;        // beyond a 32-bit numerator
    shot.aperture = 1.0;        // APEX 0
    shot.iso = 102400;          // beyond 16 bits
    shot.focal_length = 24.56789;
    MetadataItems big = metadata_items(shot, "", "");
    ASSERT_TRUE(big.exposure_time && big.aperture_value && big.iso && big.focal_length);
    EXPECT_EQ(big.exposure_time->numerator, 4294967295u);
    EXPECT_EQ(big.exposure_time->denominator, 1u);
    EXPECT_EQ(big.aperture_value->numerator, 0u);
    EXPECT_EQ(*big.iso, 65535);
    EXPECT_EQ(big.focal_length->numerator, 245678u);  // truncated, not rounded
    EXPECT_EQ(big.focal_length->denominator, 10000u);

    shot.aperture = 2.8;
    EXPECT_EQ(metadata_items(shot, "", "").aperture_value->numerator, 29708u);  // 20000 log2 2.8
}

TEST(MetadataItems, ExposureTimesAndFNumbersAreTheStatedFractions) {
    struct Case {
        double value;
        uint32_t numerator, denominator;
    };
    // Float inputs, as the decoder holds them.
    const Case exposures[] = {
        {double(0.0025f), 1, 400},  {double(1.0f / 8), 1, 8},    {double(1.0f / 3), 1, 3},
        {double(1.0f / 8000), 1, 8000}, {double(0.3f), 3, 10}, {double(0.0024f), 3, 1250},
        {1.0, 1, 1},                {double(2.5f), 5, 2},        {double(1.3f), 13, 10},
        {30.0, 30, 1},
    };
    for (const Case& c : exposures) {
        const auto r = exposure_rational(c.value);
        ASSERT_TRUE(r) << c.value;
        EXPECT_EQ(r->numerator, c.numerator) << c.value;
        EXPECT_EQ(r->denominator, c.denominator) << c.value;
    }
    const Case f_numbers[] = {{double(5.6f), 28, 5}, {double(1.4f), 7, 5}, {double(0.95f), 19, 20}, {22.0, 22, 1}};
    for (const Case& c : f_numbers) {
        ShootingData shot;
        shot.aperture = c.value;
        const auto r = metadata_items(shot, "", "").f_number;
        ASSERT_TRUE(r) << c.value;
        EXPECT_EQ(r->numerator, c.numerator) << c.value;
        EXPECT_EQ(r->denominator, c.denominator) << c.value;
    }
    for (const double bad : {0.0, -0.01, std::nan(""), HUGE_VAL}) {
        EXPECT_FALSE(exposure_rational(bad)) << bad;
        EXPECT_FALSE(decimal_rational(bad)) << bad;
    }
}

TEST(MetadataItems, DatesTakeTheExifForm) {
    EXPECT_EQ(exif_date("2006-05-04 13:14:15"), "2006:05:04 13:14:15");
    EXPECT_EQ(exif_date("2006:05:04 13:14:15"), "2006:05:04 13:14:15");
    for (const char* bad : {"", "2006-05-04", "2006-05-04T13:14:15", "2006-05-04 13:14:15Z", "20x6-05-04 13:14:15"})
        EXPECT_EQ(exif_date(bad), "") << bad;
}

TEST(MetadataItems, TextsAreLimitedWholeCharacters) {
    std::string accented;
    for (int i = 0; i < 120; ++i) accented += "\xc3\xa9";  // two bytes each
    const MetadataItems items = metadata_items({}, accented, std::string(150, 'c'));
    EXPECT_EQ(items.artist.size(), 2 * kMaxPersonText);
    EXPECT_EQ(items.copyright.size(), kMaxPersonText);
    EXPECT_EQ(limit_utf8("ab\xe2\x82\xac" "cd", 3), "ab\xe2\x82\xac");
}

TEST(ImageExport, DefaultSizeFollowsRotationAndCrop) {
    EXPECT_EQ(default_output_size(4000, 3000, Rotation::none, false, {}).width, 3992);
    const ExportSize turned = default_output_size(4000, 3000, Rotation::clockwise, false, {});
    EXPECT_EQ(turned.width, 2992);
    EXPECT_EQ(turned.height, 3992);
    const ExportSize cropped = default_output_size(4000, 3000, Rotation::counter_clockwise, true, {10, 20, 300, 200});
    EXPECT_EQ(cropped.width, 200);
    EXPECT_EQ(cropped.height, 300);
    EXPECT_EQ(with_mode_extension("a/b.JPG", SaveMode::jpeg), "a/b.JPG.jpg");
    EXPECT_EQ(with_mode_extension("a/b", SaveMode::tiff8), "a/b.tif");
}

}  // namespace
}  // namespace ostel::exporting
