// The walker on real camera files, checked against an independent metadata
// reader's records of the same files.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

#include "core/identify/parsers.h"
#include "tests/core/tiff_fixture_test.h"
#include "tests/support/samples.h"

using namespace ostel::core;
using namespace ostel::test;

namespace {

// The value of the first key ending in ":" + name in a flat JSON record, as text.
std::string record_value(const std::string& json, const std::string& name) {
    const std::regex pattern("\"[A-Za-z0-9]+:" + name + "\": *(\"([^\"]*)\"|([-0-9.eE]+))");
    std::smatch m;
    if (!std::regex_search(json, m, pattern)) return "";
    return m[2].matched ? m[2].str() : m[3].str();
}

}  // namespace

TEST(TiffSamples, ShotDataMatchesTheMetadataRecords) {
    OSTEL_REQUIRE_SAMPLES();
    const std::string dir = samples_dir();
    const char* files[] = {"real/canon_eos30d.cr2", "real/nikon_d1.nef", "real/google_pixel7_crop.dng",
                           "real/kodak_dc50.kdc", "metadata/exiftool_Nikon.nef", "metadata/exiftool_DNG.dng",
                           "metadata/exiftool_CanonRaw.cr2", "metadata/leica_m10_head100k.dng",
                           "metadata/sony_zve10_head100k.arw", "metadata/exiftool_Panasonic.rw2"};
    int checked = 0;
    for (const char* name : files) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> bytes = read_file(dir + "/" + name);
        std::string record_name = name;
        record_name.replace(record_name.find('/'), 1, "__");
        std::ifstream in(dir + "/exiftool/" + record_name + ".json");
        if (bytes.empty() || !in) continue;
        std::stringstream json;
        json << in.rdbuf();
        DecoderSession s;
        load(s, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        ASSERT_EQ(parse_tiff_file(s, 0), 1);
        ++checked;
        const std::string make = record_value(json.str(), "Make");
        if (!make.empty()) {
            EXPECT_EQ(std::string(s.make).substr(0, make.size()), make);
        }
        const std::string model = record_value(json.str(), "Model");
        if (!model.empty()) {
            EXPECT_EQ(std::string(s.model).substr(0, model.size()), model);
        }
        const std::string iso = record_value(json.str(), "ISO");
        if (!iso.empty() && iso.find(' ') == std::string::npos) {
            EXPECT_NEAR(s.iso, std::stod(iso), 0.5);
        }
        const std::string fnum = record_value(json.str(), "FNumber");
        if (!fnum.empty()) {
            EXPECT_NEAR(s.f_number, std::stod(fnum), 0.06);
        }
        const std::string exposure = record_value(json.str(), "ExposureTime");
        if (!exposure.empty()) {
            EXPECT_NEAR(s.exposure_time, std::stod(exposure), std::stod(exposure) * 0.02);
        }
        const std::string focal = record_value(json.str(), "FocalLength");
        if (!focal.empty()) {
            EXPECT_NEAR(s.focal_length, std::stod(focal), 0.06);
        }
        // Files cut short or stripped of their image data have no raw image left.
        if (std::string(name).rfind("real/", 0) == 0) {
            EXPECT_GT(s.stored_width, 0);
        }
        EXPECT_EQ(s.parse_depth, 0);
    }
    EXPECT_GT(checked, 0);
}

TEST(TiffSamples, EncipheredPrivateBlockYieldsTheRecordedBalance) {
    OSTEL_REQUIRE_SAMPLES();
    std::vector<unsigned char> bytes = read_file(samples_dir() + "/metadata/sony_zve10_head100k.arw");
    if (bytes.empty()) GTEST_SKIP() << "sample absent";
    DecoderSession s;
    load(s, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    ASSERT_EQ(parse_tiff_file(s, 0), 1);
    // Recorded as RGGB levels 2760 1024 1024 1960 inside the private block.
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 2760);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 1024);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 1960);
    EXPECT_FLOAT_EQ(s.as_shot_mul[3], 1024);
}

TEST(TiffSamples, MalformedAndUnsupportedFilesEndCleanly) {
    OSTEL_REQUIRE_SAMPLES();
    for (const char* folder : {"malformed", "unsupported", "metadata"}) {
        for (const std::string& path : sample_files(folder)) {
            SCOPED_TRACE(path);
            std::vector<unsigned char> bytes = read_file(path);
            DecoderSession s;
            load(s, std::vector<uint8_t>(bytes.begin(), bytes.end()));
            parse_tiff_file(s, 0);
            EXPECT_EQ(s.parse_depth, 0);
            EXPECT_LE(s.tiff.ifd_count, TiffState::kMaxIfds);
        }
    }
}
