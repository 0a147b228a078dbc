// Colour accuracy of the whole pipeline: the simulated camera photographs a
// colour chart, and the developed patches are compared with the chart's true
// sRGB values in CIELab (distance by CIEDE2000, as Little CMS computes it).
#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "tests/develop/colour_management_test_support.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"

namespace {

using namespace ostel::develop;
namespace sim = ostel::simcam;

using Rgb = std::array<double, 3>;

double srgb_decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

cmsCIELab lab_of_linear_srgb(const Rgb& rgb) {
    // sRGB primaries, D65 white; Lab relative to D65 so that neutral stays neutral.
    const cmsCIEXYZ xyz{0.4124564 * rgb[0] + 0.3575761 * rgb[1] + 0.1804375 * rgb[2],
                        0.2126729 * rgb[0] + 0.7151522 * rgb[1] + 0.0721750 * rgb[2],
                        0.0193339 * rgb[0] + 0.1191920 * rgb[1] + 0.9503041 * rgb[2]};
    const cmsCIEXYZ d65{0.95047, 1.0, 1.08883};
    cmsCIELab lab;
    cmsXYZ2Lab(&d65, &lab, &xyz);
    return lab;
}

double luminance(const Rgb& rgb) { return 0.2126729 * rgb[0] + 0.7151522 * rgb[1] + 0.0721750 * rgb[2]; }

// A digital negative carries its own black and white levels and colour
// matrix, so the converter's idea of the camera is exactly the simulated one.
sim::Camera chart_camera() {
    sim::Camera cam = sim::camera_for(sim::Format::dng, 384, 256);
    cam.noise_sigma = 60;
    return cam;
}

// Mean linear sRGB of the inner half of each of the 24 patches.
std::vector<Rgb> patch_means(const RawDocument& doc, int sensor_width, int sensor_height) {
    const auto& out = doc.output();
    const int w = doc.width(), h = doc.height();
    // The developed frame may lose a few border pixels; patches are located
    // relative to the sensor frame, scaled onto the output.
    const double sx = double(w) / sensor_width, sy = double(h) / sensor_height;
    std::vector<Rgb> means;
    for (int pr = 0; pr < 4; ++pr) {
        for (int pc = 0; pc < 6; ++pc) {
            const double pw = sensor_width / 6.0, ph = sensor_height / 4.0;
            const int x0 = int((pc * pw + pw / 4) * sx), x1 = int((pc * pw + 3 * pw / 4) * sx);
            const int y0 = int((pr * ph + ph / 4) * sy), y1 = int((pr * ph + 3 * ph / 4) * sy);
            Rgb sum{0, 0, 0};
            int n = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x, ++n)
                    for (int c = 0; c < 3; ++c)
                        sum[size_t(c)] += srgb_decode(out[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)] / 65535.0);
            for (double& v : sum) v /= n;
            means.push_back(sum);
        }
    }
    return means;
}

TEST(DevelopAccuracyTest, LittleCmsDistanceMatchesPublishedPairs) {
    // Two pairs of the published CIEDE2000 test data, so that a wrong metric
    // cannot make the chart test pass.
    const struct {
        cmsCIELab a, b;
        double expected;
    } pairs[] = {
        {{50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}, 2.0425},
        {{50.0, 2.5, 0.0}, {73.0, 25.0, -18.0}, 27.1492},
    };
    for (const auto& p : pairs) EXPECT_NEAR(cmsCIE2000DeltaE(&p.a, &p.b, 1, 1, 1), p.expected, 1e-3);
}

// Develops the chart shot by `cam` with camera white balance and returns
// the mean CIEDE2000 of its patches after matching exposure on the greys.
double chart_mean_ciede2000(const sim::Camera& cam, double max_gain = 2.0) {
    sim::Scene scene;
    scene.kind = sim::SceneKind::chart;
    scene.exposure = 0.8;  // the white patch stays below clipping
    test::TempDir dir("chart");
    const std::string path = dir.file("chart.dng");
    test::write_file(path, sim::write_raw(sim::Format::dng, sim::render_mosaic(scene, cam), cam));

    MapControlSource controls;  // camera white balance, built-in sRGB output
    RawDocument doc;
    doc.set_controls(&controls);
    EXPECT_EQ(doc.open(path), kLoadOk);
    doc.Develop(false);
    EXPECT_EQ(doc.output().size(), size_t(doc.width()) * size_t(doc.height()) * 3);
    if (doc.output().size() != size_t(doc.width()) * size_t(doc.height()) * 3) return 1e9;
    const std::vector<Rgb> got = patch_means(doc, cam.width, cam.height);

    std::vector<Rgb> truth;
    for (const auto& p : sim::kChartSrgb)
        truth.push_back({sim::srgb_to_linear(p[0]), sim::srgb_to_linear(p[1]), sim::srgb_to_linear(p[2])});

    // Exposure matched on the four middle grey patches (the white and black
    // ones sit where tone handling may legitimately differ).
    double want = 0, have = 0;
    for (size_t i = 19; i <= 22; ++i) {
        want += luminance(truth[i]);
        have += luminance(got[i]);
    }
    EXPECT_GT(have, 0);
    const double gain = want / std::max(have, 1e-9);
    EXPECT_GT(gain, 0.5);  // the develop itself is near the right exposure
    EXPECT_LT(gain, max_gain);

    double total = 0, worst = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        Rgb matched = got[i];
        for (double& v : matched) v *= gain;
        const cmsCIELab a = lab_of_linear_srgb(truth[i]), b = lab_of_linear_srgb(matched);
        const double d = cmsCIE2000DeltaE(&a, &b, 1, 1, 1);
        total += d;
        worst = std::max(worst, d);
        EXPECT_LT(d, 6.0) << "patch " << i << ": L " << a.L << "/" << b.L << " a " << a.a << "/" << b.a << " b "
                          << a.b << "/" << b.b;
    }
    const double mean = total / double(truth.size());
    EXPECT_LE(mean, 2.0) << "worst patch " << worst;
    return mean;
}

TEST(DevelopAccuracyTest, ChartPatchesComeOutWithinTwoUnitsOfCiede2000) {
    RecordProperty("mean_ciede2000", std::to_string(chart_mean_ciede2000(chart_camera())));
}

// A camera whose colour response differs between tungsten and daylight: the
// DNG carries both calibrations and the matrix must follow the shot's white.
// With forward matrices the light's adaptation comes from the profile too.
TEST(DevelopAccuracyTest, DualIlluminantChartUnderLightAAndDaylight) {
    for (const bool forward : {false, true})
        for (const bool light_a : {true, false}) {
            const std::string what = std::string(light_a ? "light A" : "D65") + (forward ? ", forward matrices" : "");
            SCOPED_TRACE(what);
            sim::Camera cam = chart_camera();
            cam.dual_profile = true;
            cam.forward_matrices = forward;
            cam.lit_by_a = light_a;
            // Under tungsten the blue multiplier is large and the develop's
            // scaling (no channel clips before white) leaves the frame darker.
            RecordProperty("mean_ciede2000 " + what, std::to_string(chart_mean_ciede2000(cam, light_a ? 4.0 : 2.0)));
        }
}

}  // namespace
