// The screen develop: what a viewport shows against the image saved with the
// same controls, the stage-by-stage develop it replaces, reduced views,
// coverage of pans, and independence from the thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "develop/region_develop.h"
#include "tools/simcam/formats.h"

namespace {

using namespace ostel::develop;
namespace sim = ostel::simcam;

const std::string& simulated_file() {
    static const std::string path = [] {
        sim::Camera cam = sim::camera_for(sim::Format::cr2, 240, 160);
        cam.noise_sigma = 4;
        const std::string p = testing::TempDir() + "screen_develop_sim.cr2";
        const auto bytes = sim::write_raw(sim::Format::cr2, sim::render_mosaic(sim::Scene{}, cam), cam);
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }();
    return path;
}

// Control sets that reach every stage, the whole-image statistics included.
struct Setting {
    const char* name;
    std::vector<std::pair<int, double>> values;
    std::string curve, display;
};
const std::vector<Setting>& settings() {
    static const std::vector<Setting> s = {
        {"neutral", {}, "", ""},
        {"levels and fill light", {{tag::kHistCorrection, 1}, {tag::kShadows, 4}, {tag::kFillLight, 25}, {tag::kExposure, 3}}, "", ""},
        {"curve, saturation, contrast", {{tag::kSaturation, 6}, {tag::kContrast, 15}, {tag::kWbMode, 1}}, "2,257 100,150 257,2", ""},
        {"mixer, warnings", {{tag::kBwMode, 1}, {tag::kMixerRed, 80}, {tag::kWarnings, 1}, {tag::kFillLight, 10}}, "", ""},
        {"desaturated, ROMM", {{tag::kSaturation, -4}, {tag::kHistCorrection, 1}}, "", "Ostel ROMM"},
    };
    return s;
}

void apply(const Setting& s, MapControlSource& c) {
    for (const auto& [t, v] : s.values) c.set(t, v);
    c.set_text(tag::kCurvePoints, s.curve);
    if (!s.display.empty()) {
        c.set_text(tag::kDisplayProfile, s.display);
        c.set_text(tag::kOutputProfile, s.display);
    }
}

// The saved image of the current controls, then the screen restored.
std::vector<uint16_t> saved(RawDocument& doc) {
    doc.Develop(false);
    std::vector<uint16_t> out(doc.output().begin(), doc.output().end());
    doc.Develop(true);
    return out;
}

TEST(ScreenDevelopTest, HundredPercentEqualsTheSavedImageInTheArea) {
    for (const Setting& s : settings()) {
        SCOPED_TRACE(s.name);
        MapControlSource controls;
        RawDocument doc;
        doc.set_controls(&controls);
        doc.set_viewport(Viewport::fit(100, 100));
        ASSERT_EQ(doc.open(simulated_file()), kLoadOk);
        // The controls change after opening, as on the bars, so the kept
        // statistics have to follow them.
        apply(s, controls);
        doc.set_viewport(Viewport::area(1, 50, 40, 100, 60));
        doc.Develop(true);
        ASSERT_TRUE(doc.ready());
        EXPECT_TRUE(doc.output().empty());  // no full-size buffers while editing
        const ScreenImage& screen = doc.screen();
        const std::vector<uint16_t> screen_rgb = screen.rgb;
        const std::vector<uint8_t> screen_pixels = screen.pixels;
        ASSERT_EQ(screen.scale_down, 1);
        // The margin reaches the image's edges on this small image.
        const int w = doc.width();
        EXPECT_EQ(screen.x, 0);
        EXPECT_EQ(screen.width, std::min(w, 50 + 100 + RawDocument::kScreenMargin));

        const std::vector<uint16_t> out = saved(doc);
        ASSERT_EQ(out.size(), size_t(w) * size_t(doc.height()) * 3);
        const bool warnings = std::any_of(s.values.begin(), s.values.end(), [](auto& v) { return v.first == tag::kWarnings; });
        int mismatches = 0;
        for (int r = 0; r < screen.height; ++r)
            for (int c = 0; c < screen.width; ++c) {
                const uint16_t* want = &out[(size_t(screen.y + r) * size_t(w) + size_t(screen.x + c)) * 3];
                const uint16_t* got = &screen_rgb[(size_t(r) * size_t(screen.width) + size_t(c)) * 3];
                const uint8_t* px = &screen_pixels[(size_t(r) * size_t(screen.width) + size_t(c)) * 4];
                mismatches += !std::equal(want, want + 3, got);
                if (!warnings) mismatches += px[2] != want[0] >> 8 || px[1] != want[1] >> 8 || px[0] != want[2] >> 8;
            }
        EXPECT_EQ(mismatches, 0);
        // Restoring the screen after saving gives the same screen image.
        EXPECT_EQ(doc.screen().rgb, screen_rgb);
    }
}

TEST(ScreenDevelopTest, FitIsCloseToTheReducedSavedImage) {
    for (const Setting& s : settings()) {
        if (std::string(s.name) == "mixer, warnings") continue;  // warnings recolour pixels by design
        SCOPED_TRACE(s.name);
        MapControlSource controls;
        apply(s, controls);
        RawDocument doc;
        doc.set_controls(&controls);
        doc.set_viewport(Viewport::fit(60, 60));
        ASSERT_EQ(doc.open(simulated_file()), kLoadOk);
        const ScreenImage screen = doc.screen();
        const int k = doc.fit_scale_down(60, 60);
        ASSERT_EQ(screen.scale_down, k);
        ASSERT_GT(k, 1);
        EXPECT_LE(screen.width, 60);
        EXPECT_LE(screen.height, 60);
        EXPECT_EQ(screen.width, (doc.width() + k - 1) / k);

        // Mean of each block of the saved image's 8-bit values.
        const std::vector<uint16_t> out = saved(doc);
        const int w = doc.width(), h = doc.height();
        double total = 0;
        int far = 0, samples = 0;
        for (int r = 0; r < screen.height; ++r)
            for (int c = 0; c < screen.width; ++c)
                for (int ch = 0; ch < 3; ++ch) {
                    double sum = 0;
                    int n = 0;
                    for (int y = r * k; y < std::min(h, r * k + k); ++y)
                        for (int x = c * k; x < std::min(w, c * k + k); ++x, ++n)
                            sum += out[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(ch)] >> 8;
                    const uint8_t got = screen.pixels[(size_t(r) * size_t(screen.width) + size_t(c)) * 4 + size_t(2 - ch)];
                    const double d = std::abs(double(got) - sum / n);
                    total += d;
                    far += d > kFitTolerance.sample;
                    ++samples;
                }
        EXPECT_LE(total / samples, kFitTolerance.mean);
        EXPECT_LE(double(far) / samples, kFitTolerance.share_beyond);
    }
}

// The develop stage after stage over whole buffers, as the pipeline ran
// before the stages were fused: the fused develop must match it exactly.
TEST(ScreenDevelopTest, FusedDevelopEqualsTheStagesOneAfterAnother) {
    MapControlSource controls;
    RawDocument doc;
    doc.set_controls(&controls);
    ASSERT_EQ(doc.open(simulated_file()), kLoadOk);
    const RgbPlanes& planes = doc.working_planes();
    const size_t n = planes.pixel_count();
    const std::array<double, 3> mul{1.1, 1.0, 0.9};
    for (const double fill : {0.0, 30.0})
        for (const bool levels : {false, true})
            for (const double saturation : {0.0, 5.0}) {
                SCOPED_TRACE(testing::Message() << "fill " << fill << " levels " << levels << " saturation " << saturation);
                DevelopRecipe rc;
                rc.gain = {2.0 * mul[0], 2.0 * mul[1], 2.0 * mul[2]};
                std::vector<uint16_t> staged(n * 3);
                apply_exposure_and_balance(planes, 2.0, mul, staged.data());
                if (levels) {
                    rc.levels = levels_table(staged.data(), n, 2, -3);
                    EXPECT_EQ(rc.levels, levels_table_from_counts(exposure_histograms(planes, rc.gain), n, 2, -3));
                    apply_table(staged.data(), n, rc.levels);
                }
                Notifier quiet;
                rc.transform = std::make_unique<ColourTransform>(ProfileChoice{"Ostel RAW", "", kProfileCamera},
                                                                 ProfileChoice{"Ostel sRGB", "", kProfileSrgb}, quiet);
                const double m[3][3] = {{0.41, 0.36, 0.18}, {0.21, 0.72, 0.07}, {0.02, 0.12, 0.95}};
                rc.matrix = rc.transform->stage_matrix(m);
                std::vector<float> luminance(n);
                rc.transform->matrix_stage(staged.data(), n, m, luminance.data());
                // The row statistics of fill light, from the plane the stages write.
                const size_t w = size_t(planes.width);
                std::vector<double> row_sums(size_t(planes.height));
                for (size_t r = 0; r < row_sums.size(); ++r) row_sums[r] = luminance_log_sum(&luminance[r * w], w);
                EXPECT_EQ(luminance_row_sums(rc, planes), row_sums);
                if (fill != 0) {
                    fill_light(staged.data(), luminance.data(), planes.width, planes.height, fill);
                    rc.fill_light = true;
                    rc.fill_scale = fill_light_scale(luminance_row_sums(rc, planes), n, fill);
                }
                rc.transform->apply(staged.data(), n);
                rc.curve = identity_table();
                rc.contrast = contrast_table(12);
                rc.pass.curve = rc.curve.data();
                rc.pass.contrast = rc.contrast.data();
                rc.pass.saturation = saturation;
                rc.final_table = final_pass_table(rc.pass);
                EXPECT_EQ(rc.final_table.empty(), saturation != 0);
                apply_final_pass(staged.data(), n, rc.pass);

                std::vector<uint16_t> fused(n * 3);
                develop_area(rc, planes, 0, 0, planes.width, planes.height, fused.data());
                EXPECT_EQ(fused, staged);
            }
}

TEST(ScreenDevelopTest, FilterAreaFirstThenTheWholeImage) {
    MapControlSource controls;
    controls.set(tag::kContrast, 10);
    RawDocument reference;  // filters the whole image at once
    reference.set_controls(&controls);
    ASSERT_EQ(reference.open(simulated_file()), kLoadOk);

    RawDocument doc;
    doc.set_controls(&controls);
    const Viewport view = Viewport::area(1, 60, 40, 80, 60);
    doc.set_viewport(view);
    ASSERT_EQ(doc.open(simulated_file()), kLoadOk);
    EXPECT_FALSE(doc.filters_pending());

    controls.set(tag::kSharpness, 20);
    controls.set(tag::kSharpRadius, 3);
    controls.set(tag::kLumaNr, 30);
    controls.set(tag::kLumaThreshold, 30);
    controls.set(tag::kChromaNr, 3);
    reference.PostProcess();
    reference.Develop(false);
    const std::vector<uint16_t> want(reference.output().begin(), reference.output().end());

    doc.PostProcess();
    ASSERT_TRUE(doc.filters_pending());
    EXPECT_TRUE(doc.screen_covers(view));
    const ScreenImage quick = doc.screen();
    const int w = doc.width();
    // The area preview is close to the finished image on the 8-bit screen
    // (on this small image the halo reaches every edge, so the filters see
    // what the whole-image run sees).
    double total = 0;
    for (int r = 0; r < quick.height; ++r)
        for (int c = 0; c < quick.width; ++c)
            for (int k = 0; k < 3; ++k)
                total += std::abs(int(quick.rgb[(size_t(r) * size_t(quick.width) + size_t(c)) * 3 + size_t(k)] >> 8) -
                                  int(want[(size_t(quick.y + r) * size_t(w) + size_t(quick.x + c)) * 3 + size_t(k)] >> 8));
    EXPECT_LE(total / (3.0 * quick.width * quick.height), 2.0);

    // Once the whole image is filtered, 100 % is the saved image again, and
    // saving gives what filtering the whole image at once gives.
    doc.FinishFilters();
    EXPECT_FALSE(doc.filters_pending());
    doc.Develop(true);
    const ScreenImage done = doc.screen();
    int mismatches = 0;
    for (int r = 0; r < done.height; ++r)
        for (int c = 0; c < done.width; ++c)
            for (int k = 0; k < 3; ++k)
                mismatches += done.rgb[(size_t(r) * size_t(done.width) + size_t(c)) * 3 + size_t(k)] !=
                              want[(size_t(done.y + r) * size_t(w) + size_t(done.x + c)) * 3 + size_t(k)];
    EXPECT_EQ(mismatches, 0);

    controls.set(tag::kSharpness, 30);
    reference.PostProcess();
    reference.Develop(false);
    doc.PostProcess();
    ASSERT_TRUE(doc.filters_pending());
    doc.Develop(false);  // saving finishes the filters first
    EXPECT_FALSE(doc.filters_pending());
    EXPECT_EQ(doc.output(), reference.output());
}

TEST(ScreenDevelopTest, PansWithinTheMarginNeedNoNewDevelop) {
    MapControlSource controls;
    RawDocument doc;
    doc.set_controls(&controls);
    const Viewport view = Viewport::area(1, 70, 50, 40, 30);
    doc.set_viewport(view);
    ASSERT_EQ(doc.open(simulated_file()), kLoadOk);
    EXPECT_TRUE(doc.screen_covers(view));
    EXPECT_TRUE(doc.screen_covers(Viewport::area(1, 70 - 60, 50 + 60, 40, 30)));
    EXPECT_FALSE(doc.screen_covers(Viewport::area(1, 70 + 100, 50, 40, 30)));  // beyond the margin
    EXPECT_FALSE(doc.screen_covers(Viewport::area(2, 70, 50, 40, 30)));        // another reduction
    EXPECT_FALSE(doc.screen_covers(Viewport::fit(60, 60)));

    doc.set_viewport(Viewport::fit(60, 60));
    doc.Develop(true);
    EXPECT_TRUE(doc.screen_covers(Viewport::fit(60, 60)));
    EXPECT_FALSE(doc.screen_covers(Viewport::fit(200, 200)));

    // A view beside the image shows nothing; sizes at the ends of the
    // integer range neither overflow nor allocate without bound.
    doc.set_viewport(Viewport::area(1, 2147483000, -2147483000, 2147483000, 50));
    doc.Develop(true);
    EXPECT_TRUE(doc.ready());
    EXPECT_TRUE(doc.screen().pixels.empty());
    doc.set_viewport(Viewport::area(1, -2147483000, 0, 2147483647, 2147483647));
    doc.Develop(true);
    EXPECT_EQ(doc.screen().width, doc.width());
    doc.set_viewport(Viewport::area(-5, 0, 0, 1, 1));  // no reduction given: fitted into 1 x 1
    doc.Develop(true);
    EXPECT_EQ(doc.screen().width * doc.screen().height, 1);

    // Without a viewport the screen develop is the whole image again.
    doc.clear_viewport();
    doc.Develop(true);
    EXPECT_EQ(doc.display().size(), size_t(doc.display_width()) * size_t(doc.display_height()) * 4);
}

TEST(ScreenDevelopTest, ScreenImageDoesNotDependOnTheThreadCount) {
    const int threads = omp_get_max_threads();
    MapControlSource controls;
    apply(settings()[1], controls);
    auto run = [&](int n, const Viewport& v) {
        omp_set_num_threads(n);
        RawDocument doc;
        doc.set_controls(&controls);
        doc.set_viewport(v);
        EXPECT_EQ(doc.open(simulated_file()), kLoadOk);
        return std::make_pair(doc.screen().pixels, doc.output_histogram().pixels);
    };
    for (const Viewport& v : {Viewport::fit(50, 50), Viewport::area(1, 10, 10, 150, 100)}) {
        const auto one = run(1, v);
        const auto many = run(3, v);
        EXPECT_EQ(one, many);
    }
    omp_set_num_threads(threads);
}

}  // namespace
