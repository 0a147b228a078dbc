// ostelraw info: the JSON record of each file, refusals and usage errors.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "tests/support/samples.h"

namespace {

struct InfoRun {
    int status;
    std::string out, err;
};

InfoRun info(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = ostel::cli::command_info(args, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace

TEST(InfoCommand, JsonRecordsForIdentifiedAndRefusedFiles) {
    const std::string junk = testing::TempDir() + "not_a_raw.bin";
    std::ofstream(junk) << "just some text, no camera here";
    const InfoRun r = info({"--json", ostel::test::testdata_path("canon_eos30d.cr2"), junk});
    EXPECT_EQ(r.status, 1);  // one file refused, the other still reported
    const nlohmann::json all = nlohmann::json::parse(r.out);
    ASSERT_EQ(all.size(), 2u);
    const nlohmann::json& cr2 = all[0];
    EXPECT_EQ(cr2["status"], "ok");
    EXPECT_EQ(cr2["make"], "Canon");
    EXPECT_EQ(cr2["model"], "EOS 30D");
    EXPECT_EQ(cr2["loader"], "lossless_image_load_raw");
    EXPECT_EQ(cr2["width"], 3522);
    EXPECT_EQ(cr2["height"], 2348);
    EXPECT_EQ(cr2["capture_time"], "2009-07-21 13:03:20");
    EXPECT_EQ(cr2["cfa_pattern"], "0xb4b4b4b4");
    EXPECT_NEAR(cr2["iso"].get<double>(), 640, 1e-3);
    EXPECT_EQ(cr2["thumb"]["width"], 1728);
    for (const char* key : {"model_extra", "artist", "exposure_time", "f_number", "focal_length", "orientation",
                            "stored_width", "stored_height", "crop_top", "crop_left", "pixel_aspect",
                            "color_count", "color_letters", "black_level", "white_level", "bits_per_sample",
                            "compression", "raw_count", "dng_version", "baseline_exposure", "as_shot_mul", "daylight_mul",
                            "cam_to_out", "no_camera_matrix"})
        EXPECT_TRUE(cr2.contains(key)) << key;
    EXPECT_EQ(all[1]["status"], "refused");
    EXPECT_EQ(all[1]["message"], "Wrong file header: a format this program does not read");
    EXPECT_NE(r.err.find("Wrong file header"), std::string::npos);
}

TEST(InfoCommand, UsageErrorsAndPlainText) {
    EXPECT_EQ(info({}).status, 2);
    EXPECT_EQ(info({"--bogus", "x"}).status, 2);
    const InfoRun missing = info({"/nonexistent/file.cr2"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("/nonexistent/file.cr2: No such file or directory"), std::string::npos);
    const InfoRun text = info({ostel::test::testdata_path("canon_eos30d.cr2")});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Canon EOS 30D"), std::string::npos);
    // People's units, and the black level the loader measures (as `raw` prints it).
    EXPECT_NE(text.out.find("ISO 640, 1/400 s, f/22, 22 mm"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("black 128, white 4095"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Orientation: upright"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("Exposure:"), std::string::npos) << "a file without a suggested exposure";

    const std::string phone = ostel::test::samples_dir() + "/real/google_pixel7_crop.dng";
    if (ostel::test::samples_dir().empty() || !std::ifstream(phone)) GTEST_SKIP() << "real samples absent";
    const InfoRun dng = info({phone});
    EXPECT_NE(dng.out.find("Exposure:    +2.67 stops"), std::string::npos) << dng.out;
}
