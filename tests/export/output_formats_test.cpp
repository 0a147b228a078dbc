// Orientation, PNG and compressed TIFF exports, and the safe output file
// every writer goes through.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "export/export_geometry.h"
#include "export/image_export.h"
#include "export/output_file.h"
#include "tests/export/export_test_support.h"

namespace ostel::exporting {
namespace {

using test::coordinate_image;
using test::read_image;
using test::TempDir;

namespace fs = std::filesystem;

// A 3 x 2 picture whose red sample is 10 x + y: every pixel tells where it
// came from.
RgbImage16 small_picture() {
    RgbImage16 image;
    image.width = 3;
    image.height = 2;
    image.samples.resize(18);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) image.samples[size_t(y * 3 + x) * 3] = uint16_t(10 * x + y);
    return image;
}

std::vector<int> red_rows(const RgbImage16& image) {
    std::vector<int> values;
    for (size_t i = 0; i < image.samples.size(); i += 3) values.push_back(image.samples[i]);
    return values;
}

TEST(Orientation, EveryCodeSetsThePictureUpright) {
    // Source, row by row:  0 10 20 / 1 11 21.
    const struct {
        int code;
        int width;
        std::vector<int> red;
    } cases[] = {
        {0, 3, {0, 10, 20, 1, 11, 21}},
        {1, 3, {20, 10, 0, 21, 11, 1}},   // mirrored left to right
        {2, 3, {1, 11, 21, 0, 10, 20}},   // mirrored top to bottom
        {3, 3, {21, 11, 1, 20, 10, 0}},   // half turn
        {4, 2, {0, 1, 10, 11, 20, 21}},   // rows become columns
        {5, 2, {20, 21, 10, 11, 0, 1}},   // quarter turn counter-clockwise
        {6, 2, {1, 0, 11, 10, 21, 20}},   // quarter turn clockwise
        {7, 2, {21, 20, 11, 10, 1, 0}},   // the other diagonal
        {90, 2, {1, 0, 11, 10, 21, 20}},  // degrees, as some containers give them
        {270, 2, {20, 21, 10, 11, 0, 1}},
        {45, 3, {0, 10, 20, 1, 11, 21}},  // not an orientation: as stored
    };
    for (const auto& c : cases) {
        const RgbImage16 out = orient_image(small_picture(), c.code);
        EXPECT_EQ(out.width, c.width) << c.code;
        EXPECT_EQ(red_rows(out), c.red) << c.code;
    }
    EXPECT_EQ(red_rows(rotate_image(small_picture(), Rotation::half_turn)), red_rows(orient_image(small_picture(), 3)));
    // The default size follows a quarter-turn orientation.
    const ExportSize upright = default_output_size(4000, 3000, Rotation::none, false, {}, 6);
    EXPECT_EQ(upright.width, 2992);
    EXPECT_EQ(upright.height, 3992);
}

TEST(Orientation, ExportSetsUprightThenTurnsAndCrops) {
    TempDir dir;
    const auto rgb = coordinate_image(14, 12);  // exported area 6 x 4: R = x + 4, G = y + 4
    ExportRequest rq;
    rq.rgb = rgb.data();
    rq.width = 14;
    rq.height = 12;
    rq.mode = SaveMode::tiff16;
    rq.orientation = 6;  // stored turned: upright it is 4 wide, 6 high
    rq.rotation = Rotation::half_turn;
    rq.crop_mode = true;
    rq.crop = {0, 0, 2, 3};  // the upright picture's top-left corner
    ASSERT_TRUE(export_image(dir.file("o.tif"), rq).written);
    const auto image = read_image(dir.file("o.tif"));
    ASSERT_EQ(image.width, 2);
    ASSERT_EQ(image.height, 3);
    // Upright (x, y) is stored (y, 3 - x); after the half turn the output's
    // last pixel is the upright top-left one: stored (0, 3).
    EXPECT_EQ(image.samples[image.samples.size() - 3], 4);
    EXPECT_EQ(image.samples[image.samples.size() - 2], 7);
}

TEST(PngExport, EightAndSixteenBitsWithProfileAndExif) {
    TempDir dir;
    const auto rgb = coordinate_image(14, 12, 256);
    for (SaveMode mode : {SaveMode::png8, SaveMode::png16}) {
        ExportRequest rq;
        rq.rgb = rgb.data();
        rq.width = 14;
        rq.height = 12;
        rq.mode = mode;
        rq.icc_profile = test::srgb_profile();
        rq.shot.make = "Canon";
        rq.shot.model = "EOS 30D";
        const std::string path = dir.file(mode == SaveMode::png8 ? "e8.png" : "e16.png");
        const ExportResult written = export_image(path, rq);
        ASSERT_TRUE(written.written) << written.detail;
        const auto image = read_image(path);
        EXPECT_EQ(image.width, 6);
        EXPECT_EQ(image.height, 4);
        EXPECT_EQ(image.bits, mode == SaveMode::png8 ? 8 : 16);
        // The first pixel is (4, 4) of the source: R = G = 4 * 256.
        EXPECT_EQ(image.samples[0], mode == SaveMode::png8 ? 4 : 1024);
        EXPECT_EQ(image.samples[4], mode == SaveMode::png8 ? 4 : 1024);  // second pixel's G
        EXPECT_EQ(image.icc, rq.icc_profile);
        ASSERT_GE(image.exif.size(), 8u);
        EXPECT_TRUE(image.exif[0] == 'I' || image.exif[0] == 'M');
        const std::string json = test::exiftool_json(path);
        if (!json.empty()) {
            EXPECT_NE(json.find("\"Make\": \"Canon\""), std::string::npos) << json;
        }
    }
}

TEST(TiffExport, LosslessCompressionKeepsEverySample) {
    TempDir dir;
    const auto rgb = coordinate_image(14, 12, 97);
    std::vector<uint16_t> plain;
    for (TiffCompression compression : {TiffCompression::none, TiffCompression::deflate, TiffCompression::lzw}) {
        ExportRequest rq;
        rq.rgb = rgb.data();
        rq.width = 14;
        rq.height = 12;
        rq.mode = SaveMode::tiff16;
        rq.compression = compression;
        const std::string path = dir.file("c" + std::to_string(int(compression)) + ".tif");
        ASSERT_TRUE(export_image(path, rq).written);
        const auto image = read_image(path);
        EXPECT_EQ(image.compression, compression == TiffCompression::none ? 1 : compression == TiffCompression::lzw ? 5 : 8);
        if (plain.empty()) plain = image.samples;
        EXPECT_EQ(image.samples, plain);
    }
    // The source data is left as it was (the predictor works on a copy).
    EXPECT_EQ(rgb, coordinate_image(14, 12, 97));
}

std::string content(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(OutputFile, TheTargetChangesOnlyOnCommit) {
    TempDir dir;
    const std::string target = dir.file("a.bin");
    std::ofstream(target) << "old";
    std::string error;
    {
        OutputFile file;
        ASSERT_TRUE(file.open(target, true, error)) << error;
        // Next to the target, so that the rename stays on one file system.
        EXPECT_EQ(fs::path(file.temporary_path()).parent_path(), fs::path(target).parent_path());
        ASSERT_TRUE(file.write("new", 3, error));
        EXPECT_EQ(content(target), "old");
        // Given up: the temporary file goes, the target stays.
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("")), fs::directory_iterator()), 1);
    EXPECT_EQ(content(target), "old");

    // Without replacing, an existing file is kept and the new one dropped.
    EXPECT_FALSE(write_file_safely(target, "new", 3, false, error));
    EXPECT_NE(error.find("exists"), std::string::npos) << error;
    EXPECT_EQ(content(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("")), fs::directory_iterator()), 1);

    ASSERT_TRUE(write_file_safely(target, "new", 3, true, error)) << error;
    EXPECT_EQ(content(target), "new");
    ASSERT_TRUE(write_file_safely(dir.file("b.bin"), "b", 1, false, error)) << error;
    EXPECT_EQ(content(dir.file("b.bin")), "b");

    // A folder that does not exist: the system's reason.
    EXPECT_FALSE(write_file_safely(dir.file("no/c.bin"), "c", 1, true, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace ostel::exporting
