#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "cli/convert_options.h"
#include "cli/stored_settings.h"
#include "develop/control_tags.h"
#include "tests/support/samples.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"

namespace ostel::cli {
namespace {

namespace fs = std::filesystem;
namespace tag = develop::tag;

class TempFolder {
public:
    TempFolder() : path_(fs::temp_directory_path() / ("ostel_convert_" + std::to_string(::getpid()) + "_" +
                                                      std::to_string(counter_++))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

std::string simulated(const TempFolder& dir, simcam::Format format, const std::string& name) {
    const simcam::Camera cam = simcam::camera_for(format, 96, 64);
    const std::string path = dir.file(name);
    EXPECT_TRUE(simcam::save_file(path, simcam::write_raw(format, simcam::render_mosaic(simcam::Scene{}, cam), cam)));
    return path;
}

struct Outcome {
    int code;
    std::string out, err;
};
Outcome convert(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = command_convert(args, out, err);
    return {code, out.str(), err.str()};
}

std::pair<int, int> tiff_size(const std::string& path) {
    std::unique_ptr<TIFF, void (*)(TIFF*)> t(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!t) return {0, 0};
    uint32_t w = 0, h = 0;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    return {int(w), int(h)};
}

TEST(ConvertOptions, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--format", "jpeg"},  // no input
        {"a.cr2", "--colour"},
        {"a.cr2", "--quality"},  // value missing
        {"a.cr2", "--quality", "0"},
        {"a.cr2", "--quality", "101"},
        {"a.cr2", "--format", "gif"},
        {"a.cr2", "--format", "jpeg", "-o", "a.tif"},  // the name says otherwise
        {"a.cr2", "-o", "a.xyz"},                     // no format to be told
        {"a.cr2", "b.cr2", "-o", "one.jpg"},           // one file for two inputs
        {"a.cr2", "--compression", "zip"},
        {"a.cr2", "--mixer", "10,20"},
        {"a.cr2", "--input-profile", "srgb"},
        {"a.cr2", "--exposure", "26"},
        {"a.cr2", "--exposure", "1.5"},
        {"a.cr2", "--set", "103=1"},  // no such control
        {"a.cr2", "--set", "101=x"},
        {"a.cr2", "--set", "101"},
        {"a.cr2", "--wb", "daylight"},
        {"a.cr2", "--bw", "sepia"},
        {"a.cr2", "--curve", "0,0"},  // the ends are fixed
        {"a.cr2", "--curve", "64,300"},
        {"a.cr2", "--curve", "64,96;"},
        {"a.cr2", "--rotate", "45"},
        {"a.cr2", "--crop", "1,2,3"},
        {"a.cr2", "--crop", "0,0,0,5"},
        {"a.cr2", "--size", "0x10"},
        {"a.cr2", "--size", "x"},
        {"a.cr2", "--size", "10x10", "--scale", "50"},
        {"a.cr2", "--scale", "401"},
        {"a.cr2", "--jobs", "0"},
        {"a.cr2", "--output-profile", "camera"},
    };
    for (const auto& args : cases) {
        const Outcome r = convert(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.code, kExitUsage) << joined;
        // The reason and a pointer to the help, not the whole usage again.
        EXPECT_NE(r.err.find("Try 'ostelraw convert --help'"), std::string::npos) << joined;
        EXPECT_EQ(r.err.find("usage:"), std::string::npos) << joined;
    }
}

TEST(ConvertOptions, NamedOptionsSetTheirControls) {
    ConvertOptions o;
    std::ostringstream err;
    ASSERT_TRUE(parse_convert_options({"a.cr2", "b.nef", "--exposure", "-3", "--wb-red", "4", "--bw", "lum",
                                       "--contrast", "12", "--saturation", "-10", "--set", "301=20", "--set",
                                       "603=/icc/x.icc", "--input-profile", "camera", "--format", "tiff8",
                                       "--rotate", "ccw", "--crop", "1,2,30,40", "--jobs", "3", "--levels", "on",
                                       "--shadows", "-4", "--fill-light", "7", "--nr-chroma", "3", "--wavelet-nr",
                                       "12", "--ca-blue", "-5", "--recovery", "off", "--sharpen-radius", "2"},
                                      o, err))
        << err.str();
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.cr2", "b.nef"}));
    const struct {
        int tag;
        double value;
    } expected[] = {{tag::kExposure, -3}, {tag::kWbRed, 4},       {tag::kWbMode, 2},      {tag::kBwMode, 2},
                    {tag::kContrast, 12}, {tag::kSaturation, -10}, {tag::kSharpness, 20}, {tag::kWbBlue, 0},
                    {tag::kHistCorrection, 1}, {tag::kShadows, -4}, {tag::kFillLight, 7}, {tag::kChromaNr, 3},
                    {tag::kWaveletNr, 12}, {tag::kCaBlue, -5}, {tag::kRecovery, 0}, {tag::kSharpRadius, 2}};
    for (const auto& e : expected) EXPECT_EQ(o.controls.value(e.tag), e.value) << "tag " << e.tag;
    EXPECT_EQ(o.controls.text(tag::kOutputProfile), "/icc/x.icc");
    EXPECT_EQ(o.controls.text(tag::kInputProfile), "Ostel RAW");
    EXPECT_EQ(o.mode, exporting::SaveMode::tiff8);
    EXPECT_EQ(o.rotation, exporting::Rotation::counter_clockwise);
    ASSERT_TRUE(o.crop);
    EXPECT_EQ(o.crop->height, 40);
    EXPECT_EQ(o.jobs, 3);

    // The mixer develops with equal shares unless given ("--bw mixer" alone
    // is not black); the shares given win.
    const StoredControls plain(o.controls, convert_default_positions());
    for (int t : {tag::kMixerRed, tag::kMixerGreen, tag::kMixerBlue}) EXPECT_EQ(plain.value(t), 50) << t;
    ConvertOptions mixed;
    ASSERT_TRUE(parse_convert_options({"a.cr2", "--bw", "mixer", "--mixer", "10,0,90"}, mixed, err));
    const StoredControls shares(mixed.controls, convert_default_positions());
    EXPECT_EQ(shares.value(tag::kMixerRed), 10);
    EXPECT_EQ(shares.value(tag::kMixerGreen), 0);
    EXPECT_EQ(shares.value(tag::kMixerBlue), 90);

    // An explicit white-balance mode wins over the implied custom mode.
    ConvertOptions auto_wb;
    ASSERT_TRUE(parse_convert_options({"a.cr2", "--wb", "auto", "--wb-blue", "3"}, auto_wb, err));
    EXPECT_EQ(auto_wb.controls.value(tag::kWbMode), 1);
}

TEST(ConvertOptions, SizeFitsInsideTheBoxKeepingTheAspectRatio) {
    const struct {
        std::string size;
        int width, height;
    } cases[] = {
        {"40x", 40, 25},      // one side fixed, the other follows
        {"x28", 44, 28},
        {"100x100", 100, 64},  // the width limits
        {"10x100", 10, 6},
        {"1000x7", 11, 7},     // the height limits
    };
    for (const auto& c : cases) {
        ConvertOptions o;
        std::ostringstream err;
        ASSERT_TRUE(parse_convert_options({"a.cr2", "--size", c.size}, o, err)) << err.str();
        const exporting::ExportSize size = fitted_size({88, 56}, o);
        EXPECT_EQ(size.width, c.width) << c.size;
        EXPECT_EQ(size.height, c.height) << c.size;
    }
}

TEST(ConvertOptions, CurveLevelsBecomeEditorPoints) {
    std::string text;
    ASSERT_TRUE(curve_text_from_levels("192,160;64,96", text));
    // Sorted by input level, between the editor's fixed ends.
    EXPECT_EQ(text, "-2,118 28,73 88,43 118,-2");
    ASSERT_TRUE(curve_text_from_levels("128,128", text));
    EXPECT_EQ(text, "-2,118 58,58 118,-2");
}

TEST(Convert, FailedFilesAreReportedAndTheBatchGoesOn) {
    TempFolder dir;
    const std::string cr2 = simulated(dir, simcam::Format::cr2, "one.cr2");
    const std::string dng = simulated(dir, simcam::Format::dng, "two.dng");
    const std::string junk = dir.file("junk.cr2");
    std::ofstream(junk) << "not a raw file at all";
    const std::string missing = dir.file("missing.nef");
    const std::string out = dir.file("out");

    const Outcome r = convert({missing, cr2, junk, dng, "-o", out, "--format", "tiff16", "--rotate", "cw", "--jobs",
                           "2"});
    EXPECT_EQ(r.code, kExitFailed) << r.err;
    EXPECT_NE(r.err.find(missing + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(junk + ": Wrong file header"), std::string::npos) << r.err;
    // The turned exported area: 64 - 8 wide, 96 - 8 high.
    for (const char* name : {"one.tif", "two.tif"}) {
        EXPECT_EQ(tiff_size(out + "/" + name), std::make_pair(56, 88)) << name;
        EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
    }
    EXPECT_FALSE(fs::exists(out + "/junk.tif"));
    EXPECT_FALSE(fs::exists(out + "/missing.tif"));

    // Every file converted: exit 0.
    EXPECT_EQ(convert({cr2, dng, "-o", out, "--format", "tiff8", "--scale", "50", "-y"}).code, kExitOk);
    EXPECT_EQ(tiff_size(out + "/one.tif"), std::make_pair(44, 28));
}

TEST(Convert, OutputNamesAndSizes) {
    TempFolder dir;
    fs::create_directories(dir.file("a"));
    fs::create_directories(dir.file("b"));
    const std::string first = simulated(dir, simcam::Format::pef, "a/same.pef");
    const std::string second = simulated(dir, simcam::Format::nef, "b/same.nef");
    // Two inputs with one name: the second must not overwrite the first.
    const Outcome clash = convert({first, second, "-o", dir.file("out"), "--format", "tiff16"});
    EXPECT_EQ(clash.code, kExitFailed);
    EXPECT_NE(clash.err.find(second + ": output"), std::string::npos) << clash.err;

    // A single input with -o names the file itself; --size and --crop apply.
    const std::string named = dir.file("picked.tif");
    const Outcome one = convert({first, "-o", named, "--format", "tiff16", "--crop", "10,10,40,20", "--size", "80x40"});
    EXPECT_EQ(one.code, kExitOk) << one.err;
    EXPECT_EQ(tiff_size(named), std::make_pair(80, 40));
    // Enlarging past four times the source is refused for that file.
    const Outcome big = convert({first, "-o", named, "--format", "tiff16", "--scale", "401", "-y"});
    EXPECT_EQ(big.code, kExitUsage);
    const Outcome huge = convert({first, "-o", named, "--format", "tiff16", "--size", "1000x", "-y"});
    EXPECT_EQ(huge.code, kExitFailed);
    EXPECT_NE(huge.err.find("out of range"), std::string::npos) << huge.err;
    EXPECT_EQ(tiff_size(named), std::make_pair(80, 40));  // the earlier file stays
}

std::vector<uint8_t> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Convert, DngBaselineExposureIsTheDefaultExposure) {
    // A DNG meant to be shown one stop brighter than its data develops at
    // exposure 5 (twice as bright) unless --exposure says otherwise.
    TempFolder dir;
    simcam::Camera cam = simcam::camera_for(simcam::Format::dng, 96, 64);
    cam.baseline_exposure = 1.0;
    const std::string dng = dir.file("bright.dng");
    ASSERT_TRUE(simcam::save_file(dng, simcam::write_raw(simcam::Format::dng, simcam::render_mosaic(simcam::Scene{}, cam), cam)));
    const struct {
        std::vector<std::string> options;
        std::string name;
    } runs[] = {{{}, "default.tif"}, {{"--exposure", "5"}, "five.tif"}, {{"--exposure", "0"}, "zero.tif"}};
    for (const auto& run : runs) {
        std::vector<std::string> args = {dng, "-o", dir.file(run.name), "--format", "tiff16"};
        args.insert(args.end(), run.options.begin(), run.options.end());
        const Outcome o = convert(args);
        ASSERT_EQ(o.code, kExitOk) << o.err;
    }
    EXPECT_EQ(file_bytes(dir.file("default.tif")), file_bytes(dir.file("five.tif")));
    EXPECT_NE(file_bytes(dir.file("default.tif")), file_bytes(dir.file("zero.tif")));
}

TEST(Convert, CameraFileToJpegWithShootingData) {
    const std::string cr2 = test::testdata_path("canon_eos30d.cr2");
    if (!fs::exists(cr2)) GTEST_SKIP() << "testdata/canon_eos30d.cr2 missing";
    TempFolder dir;
    const std::string jpg = dir.file("30d.jpg");
    const Outcome r = convert({cr2, "-o", jpg, "--scale", "10", "--artist", "Someone", "--quality", "80"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("(351x234)"), std::string::npos) << r.out;
    if (std::system("exiftool -ver >/dev/null 2>&1") != 0) GTEST_SKIP() << "exiftool not installed";
    const std::string command = "exiftool -s3 -Make -Model -Artist -ImageWidth '" + jpg + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::string text;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) text.append(buf, n);
    EXPECT_EQ(text, "Canon\nEOS 30D\nSomeone\n351\n");
}

}  // namespace
}  // namespace ostel::cli
