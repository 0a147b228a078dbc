// The document end to end on simulated camera files: the order of status
// texts and progress values, the buffers it delivers, white balance, the
// output profile, failures, and independence from the thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "develop/white_balance.h"
#include "tests/support/samples.h"
#include "tools/simcam/formats.h"

namespace {

using namespace ostel::develop;
namespace sim = ostel::simcam;

struct Recorder : Notifier {
    std::vector<std::string> events, messages;
    void status(const std::string& t) override { events.push_back(t); }
    void progress(int p) override { events.push_back(std::to_string(p)); }
    void message(const std::string& t) override { messages.push_back(t); }
};

std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

const std::string& simulated_cr2() {
    static const std::string path = [] {
        sim::Camera cam = sim::camera_for(sim::Format::cr2, 96, 72);
        cam.noise_sigma = 4;
        return write_file("develop_sim.cr2", sim::write_raw(sim::Format::cr2, sim::render_mosaic(sim::Scene{}, cam), cam));
    }();
    return path;
}

TEST(RawDocumentTest, LoadAndDevelopInTheFixedOrder) {
    MapControlSource controls;
    Recorder rec;
    RawDocument doc;
    doc.set_controls(&controls);
    doc.set_notifier(&rec);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);

    const std::vector<std::string> expected = {
        "Loading", "Loading", "Processing", "5", "15", "40", "50", "70", "Calculating WB", "70",
        "Processing curves", "Updating Histogram", "Updating", "Ready", "100"};
    EXPECT_EQ(rec.events, expected);
    EXPECT_TRUE(rec.messages.empty());

    ASSERT_TRUE(doc.ready());
    const int w = doc.width(), h = doc.height();
    ASSERT_GT(w, 20);
    ASSERT_GT(h, 20);
    EXPECT_EQ(doc.output().size(), size_t(w) * size_t(h) * 3);
    EXPECT_EQ(doc.display().size(), size_t(w - 8) * size_t(h - 8) * 4);
    EXPECT_EQ(doc.working_planes().pixel_count(), size_t(w) * size_t(h));
    EXPECT_EQ(doc.shooting().make, "Canon");
    EXPECT_FALSE(doc.output_profile().empty());
    EXPECT_EQ(doc.curve_table(), identity_table());

    // A real picture came out: mid-tones present, histograms drawn.
    const auto& out = doc.output();
    const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
    EXPECT_LT(*lo, 20000);
    EXPECT_GT(*hi, 30000);
    auto drawn = [](const HistogramImage& img) {
        return std::any_of(img.pixels.begin(), img.pixels.end(), [](uint8_t b) { return b != 0; });
    };
    EXPECT_TRUE(drawn(doc.raw_histogram()));
    EXPECT_TRUE(drawn(doc.output_histogram()));
    // Source planes are linear again (0..65535), not square roots.
    const auto& g = doc.source_planes().plane[1];
    EXPECT_GT(*std::max_element(g.begin(), g.end()), 1000.0f);
}

TEST(RawDocumentTest, FailuresReportTheirMessage) {
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
    std::vector<uint8_t> cr2_head(60);
    {
        std::ifstream in(simulated_cr2(), std::ios::binary);
        in.read(reinterpret_cast<char*>(cr2_head.data()), std::streamsize(cr2_head.size()));
    }
    const struct {
        const char* what;
        std::string path;
        int status;
        const char* message;
    } cases[] = {
        {"missing file", testing::TempDir() + "no_such_file.cr2", kOpenFailed, "Error opening file"},
        {"not a raw file", write_file("garbage.raw", garbage), kWrongHeader, "Wrong file header"},
        {"short header", write_file("short.cr2", cr2_head), kWrongHeader, "Wrong file header"},
        {"empty file", write_file("empty.cr2", {}), kWrongHeader, "Wrong file header"},
    };
    for (const auto& c : cases) {
        Recorder rec;
        RawDocument doc;
        doc.set_notifier(&rec);
        EXPECT_TRUE(doc.OnOpenDocument(c.path));
        EXPECT_EQ(rec.messages, std::vector<std::string>{c.message}) << c.what;
        EXPECT_FALSE(doc.ready()) << c.what;
        EXPECT_TRUE(doc.output().empty()) << c.what;
        EXPECT_EQ(doc.open(c.path), c.status) << c.what;
        doc.Develop(true);  // an empty document ignores develop requests
        EXPECT_FALSE(doc.ready());
    }
}

TEST(RawDocumentTest, FailedOpenDropsThePreviousImage) {
    RawDocument doc;
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    EXPECT_EQ(doc.open(testing::TempDir() + "no_such_file.cr2"), kOpenFailed);
    EXPECT_FALSE(doc.ready());
    EXPECT_FALSE(doc.loaded());
    EXPECT_TRUE(doc.display().empty());
}

TEST(RawDocumentTest, WithoutControlsTheValuesAreNeutral) {
    RawDocument doc;
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    EXPECT_EQ(doc.white_balance(), (std::array<double, 3>{1, 1, 1}));
    EXPECT_EQ(doc.curve_table(), identity_table());
    // The same as a control source holding the initial positions with
    // highlight recovery off (the boxes are off without control bars).
    MapControlSource controls;
    controls.set(tag::kRecovery, 0);
    RawDocument with;
    with.set_controls(&controls);
    ASSERT_EQ(with.open(simulated_cr2()), kLoadOk);
    EXPECT_EQ(doc.output(), with.output());
}

TEST(RawDocumentTest, WhiteBalanceModesAndPick) {
    MapControlSource controls;
    RawDocument doc;
    doc.set_controls(&controls);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    EXPECT_EQ(doc.white_balance(), (std::array<double, 3>{1, 1, 1}));

    controls.set(tag::kWbMode, 2);
    controls.set(tag::kWbRed, 10);
    controls.set(tag::kWbBlue, -10);
    doc.CalculateWhiteBalance();
    EXPECT_NEAR(doc.white_balance()[0], 1.3, 1e-12);
    EXPECT_NEAR(doc.white_balance()[2], 0.7, 1e-12);

    // A pick in camera mode changes nothing, and does not linger.
    controls.set(tag::kWbMode, 0);
    doc.PickWhiteBalance(doc.width() / 2, doc.height() / 2);
    EXPECT_EQ(doc.white_balance(), (std::array<double, 3>{1, 1, 1}));
    EXPECT_EQ(controls.value(tag::kWbRed), 10);
    controls.set(tag::kWbMode, 2);
    doc.CalculateWhiteBalance();
    EXPECT_NEAR(doc.white_balance()[0], 1.3, 1e-12);

    // In custom mode the pick sets the sliders, and the multipliers follow them.
    const int col = doc.width() / 2, row = doc.height() / 2;
    const auto measured = measure_white_point(doc.working_planes(), col, row);
    doc.PickWhiteBalance(col, row);
    EXPECT_EQ(controls.value(tag::kWbRed), std::floor((measured[0] - 1) * 100 / 3 + 0.5));
    EXPECT_NEAR(doc.white_balance()[0], 1 + 0.03 * controls.value(tag::kWbRed), 1e-12);
    EXPECT_NEAR(doc.white_balance()[2], 1 + 0.03 * controls.value(tag::kWbBlue), 1e-12);
    EXPECT_TRUE(doc.ready());

    // Automatic balance: grey world over the source planes.
    controls.set(tag::kWbMode, 1);
    doc.CalculateWhiteBalance();
    EXPECT_EQ(doc.white_balance(), automatic_white_balance(doc.source_planes()));
}

TEST(RawDocumentTest, ControlsReachTheStages) {
    MapControlSource controls;
    RawDocument doc;
    doc.set_controls(&controls);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    const auto base = doc.output();
    const auto mean = [](const Picture16& v) {
        double s = 0;
        for (uint16_t x : v) s += x;
        return s / double(v.size());
    };

    controls.set(tag::kExposure, 5);
    doc.Develop(true);
    EXPECT_GT(mean(doc.output()), mean(base) * 1.1);
    controls.set(tag::kExposure, 0);

    controls.set(tag::kFillLight, 40);
    doc.Develop(true);
    EXPECT_NE(doc.output(), base);
    controls.set(tag::kFillLight, 0);

    controls.set(tag::kSaturation, -10);
    doc.Develop(true);
    const auto& grey = doc.output();
    for (size_t i = 0; i < grey.size(); i += 3) {
        ASSERT_NEAR(grey[i], grey[i + 1], 1) << i;
        ASSERT_NEAR(grey[i], grey[i + 2], 1) << i;
    }
    controls.set(tag::kSaturation, 0);

    controls.set_text(tag::kCurvePoints, "-2,118 58,20 118,-2");
    doc.Develop(true);
    EXPECT_GT(doc.curve_table()[32768], 40000);
    EXPECT_GT(mean(doc.output()), mean(base));
    controls.set_text(tag::kCurvePoints, "");

    doc.Develop(true);
    EXPECT_EQ(doc.output(), base);  // nothing accumulates between runs
}

TEST(RawDocumentTest, SavingUsesTheOutputProfile) {
    MapControlSource controls;
    controls.set_text(tag::kOutputProfile, "Ostel ROMM");
    RawDocument doc;
    doc.set_controls(&controls);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    const auto screen = doc.output_profile();
    const auto screen_pixels = doc.output();
    doc.Develop(false);
    const auto saved = doc.output_profile();
    EXPECT_NE(saved, screen);
    const std::string text(saved.begin(), saved.end());
    EXPECT_NE(text.find("ROMM"), std::string::npos);
    EXPECT_NE(doc.output(), screen_pixels);
    doc.Develop(true);
    EXPECT_EQ(doc.output(), screen_pixels);
}

TEST(RawDocumentTest, FilterLevelFiltersAFreshCopyOfTheSourcePlanes) {
    MapControlSource controls;
    Recorder rec;
    RawDocument doc;
    doc.set_controls(&controls);
    doc.set_notifier(&rec);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    const auto base = doc.output();
    const RgbPlanes source = doc.source_planes();
    auto same = [](const RgbPlanes& a, const RgbPlanes& b) {
        for (int c = 0; c < 3; ++c)
            if (!std::equal(a.plane[size_t(c)].begin(), a.plane[size_t(c)].begin() + long(a.pixel_count()),
                            b.plane[size_t(c)].begin()))
                return false;
        return true;
    };

    controls.set(tag::kSharpness, 10);
    controls.set(tag::kLumaNr, 40);
    controls.set(tag::kLumaThreshold, 40);
    controls.set(tag::kChromaNr, 2);
    rec.events.clear();
    doc.PostProcess();
    const std::vector<std::string> expected = {"70", "Post Processing", "CNR #1", "70", "Processing curves",
                                               "Updating Histogram", "Updating", "Ready", "100"};
    EXPECT_EQ(rec.events, expected);
    EXPECT_EQ(doc.working_planes().pixel_count(), doc.working_planes().plane[0].size());
    EXPECT_FALSE(same(doc.working_planes(), source));
    EXPECT_NE(doc.output(), base);
    const RgbPlanes first = doc.working_planes();

    // A second run with the same controls starts again from the source.
    doc.PostProcess();
    EXPECT_TRUE(same(doc.working_planes(), first));
    EXPECT_TRUE(same(doc.source_planes(), source));

    // All filters off again: the develop reads the source planes.
    for (int t : {tag::kSharpness, tag::kLumaNr, tag::kLumaThreshold, tag::kChromaNr}) controls.set(t, 0);
    doc.PostProcess();
    EXPECT_TRUE(same(doc.working_planes(), source));
    EXPECT_EQ(doc.output(), base);
}

TEST(RawDocumentTest, EveryFilterGivesTheSameBytesForAnyThreadCount) {
    const int threads = omp_get_max_threads();
    for (const auto& [method, radius] : {std::pair{0, 0}, std::pair{1, 4}}) {
        SCOPED_TRACE(method);
        MapControlSource controls;
        controls.set(tag::kLumaNr, 50);
        controls.set(tag::kLumaThreshold, 50);
        controls.set(tag::kChromaNr, 5);
        controls.set(tag::kSharpness, 25);
        controls.set(tag::kSharpRadius, radius);
        auto run = [&](int n) {
            omp_set_num_threads(n);
            RawDocument doc(DocumentOptions::from_settings(0, 0, 0, method));
            doc.set_controls(&controls);
            EXPECT_EQ(doc.open(simulated_cr2()), kLoadOk);
            return doc.output();
        };
        const auto one = run(1);
        const auto two = run(2);
        const auto five = run(5);
        EXPECT_EQ(one, two);
        EXPECT_EQ(one, five);
    }
    omp_set_num_threads(threads);
}

TEST(RawDocumentTest, ResultDoesNotDependOnTheThreadCount) {
    const int threads = omp_get_max_threads();
    MapControlSource controls;
    controls.set(tag::kHistCorrection, 1);
    controls.set(tag::kFillLight, 20);
    controls.set(tag::kContrast, 10);
    controls.set(tag::kWbMode, 1);
    auto run = [&](int n) {
        omp_set_num_threads(n);
        RawDocument doc;
        doc.set_controls(&controls);
        doc.set_options(DocumentOptions::from_settings(2, 1, 0, 0));
        EXPECT_EQ(doc.open(simulated_cr2()), kLoadOk);
        return doc.output();
    };
    const auto one = run(1);
    const auto many = run(5);
    omp_set_num_threads(threads);
    EXPECT_EQ(one, many);
}

TEST(RawDocumentTest, PreviewOnlyReadsShootingDataAndThumbnail) {
    RawDocument doc;
    doc.set_preview_only(true);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    EXPECT_EQ(doc.shooting().make, "Canon");
    EXPECT_FALSE(doc.loaded());
    EXPECT_FALSE(doc.thumbnail().bytes.empty());
    EXPECT_GT(doc.thumbnail().width, 0);
}

// Runs out of memory when the given control is read.
struct ExhaustedControls : MapControlSource {
    int failing_tag = 0;
    double value(int t) const override {
        if (t == failing_tag) throw std::bad_alloc();
        return MapControlSource::value(t);
    }
};

TEST(RawDocumentTest, RunningOutOfMemoryLeavesTheDocumentEmpty) {
    for (int failing : {int(tag::kCaRed), int(tag::kRecovery), int(tag::kExposure)}) {
        ExhaustedControls controls;
        controls.failing_tag = failing;
        Recorder rec;
        RawDocument doc;
        doc.set_controls(&controls);
        doc.set_notifier(&rec);
        EXPECT_TRUE(doc.OnOpenDocument(simulated_cr2()));
        EXPECT_EQ(rec.messages, std::vector<std::string>{"Memory allocation error"}) << failing;
        EXPECT_FALSE(doc.ready());
        EXPECT_FALSE(doc.loaded());
        EXPECT_TRUE(doc.output().empty());
    }
    // A later develop run that fails reports it too.
    ExhaustedControls controls;
    Recorder rec;
    RawDocument doc;
    doc.set_controls(&controls);
    doc.set_notifier(&rec);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    controls.failing_tag = tag::kContrast;
    doc.Develop(true);
    EXPECT_EQ(rec.messages, std::vector<std::string>{"Memory allocation error"});
    EXPECT_FALSE(doc.ready());
    EXPECT_TRUE(doc.display().empty());
}

TEST(RawDocumentTest, PreFilterControlsDecodeOnTheHalfGrid) {
    RawDocument plain;
    ASSERT_EQ(plain.open(simulated_cr2()), kLoadOk);
    MapControlSource controls;
    controls.set(tag::kWaveletNr, 20);
    controls.set(tag::kCaRed, 30);
    controls.set(tag::kCaBlue, -30);
    RawDocument doc;
    doc.set_controls(&controls);
    ASSERT_EQ(doc.open(simulated_cr2()), kLoadOk);
    EXPECT_EQ(doc.width(), plain.width());
    EXPECT_EQ(doc.height(), plain.height());
    EXPECT_EQ(doc.output().size(), plain.output().size());
    EXPECT_NE(doc.output(), plain.output());
}

TEST(DocumentSettingsTest, OptionsAndInitialControls) {
    const auto o = DocumentOptions::from_settings(7, 1, 5, 3);
    EXPECT_EQ(o.artifact_level, 3);
    EXPECT_TRUE(o.chroma_prefilter);
    EXPECT_EQ(o.luma_nr_type, 0);
    EXPECT_EQ(o.chroma_nr_type, 0);
    EXPECT_EQ(DocumentOptions::from_settings(-4, 0, 1, 1).artifact_level, 1);

    MapControlSource c;
    EXPECT_EQ(c.value(tag::kRecovery), 1);
    EXPECT_EQ(c.value(tag::kSharpRadius), 1);
    EXPECT_EQ(c.value(tag::kExposure), 0);
    EXPECT_EQ(c.value(tag::kWbMode), 0);
    EXPECT_EQ(c.value(tag::kBwMode), 0);
    EXPECT_EQ(c.text(tag::kInputProfile), "Ostel RAW");
    EXPECT_EQ(c.text(tag::kOutputProfile), "Ostel sRGB");
    c.set_white_balance_sliders(1.3, 0.9);  // positions 10 and -3 (nearest)
    EXPECT_EQ(c.value(tag::kWbRed), 10);
    EXPECT_EQ(c.value(tag::kWbBlue), -3);
}

}  // namespace

namespace {

// A camera held upright and one held turned: the shooting data says how the
// picture is turned for viewing (Exif orientation 8 is the flip code 5).
TEST(RawDocumentShooting, OrientationOfRealFiles) {
    OSTEL_REQUIRE_SAMPLES();
    const std::pair<const char*, int> files[] = {{"real/canon_eos30d.cr2", 0}, {"real/google_pixel7_crop.dng", 5}};
    for (const auto& [name, flip] : files) {
        RawDocument doc;
        doc.set_preview_only(true);
        ASSERT_EQ(doc.open(ostel::test::samples_dir() + "/" + name), kLoadOk) << name;
        EXPECT_EQ(doc.shooting().orientation, flip) << name;
    }
}

}  // namespace
