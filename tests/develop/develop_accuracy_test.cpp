// Colour accuracy of the whole pipeline: the simulated camera photographs a
// colour chart, and the developed patches are compared with the chart's true
// sRGB values in CIELab (distance by CIEDE2000, as Little CMS computes it).
#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/control_tags.h"
#include "develop/raw_document.h"
#include "tests/develop/colour_management_test_support.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"

namespace {

using namespace ostel::develop;
namespace sim = ostel::simcam;

using Rgb = std::array<double, 3>;

double srgb_decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

double luminance(const Rgb& rgb) { return 0.2126729 * rgb[0] + 0.7151522 * rgb[1] + 0.0721750 * rgb[2]; }

// Mean linear sRGB of the inner half of each of the 24 patches. The chart
// lies at `area` of a sensor frame of the given size; the developed frame may
// lose a few border pixels, so positions are scaled onto the output.
std::vector<Rgb> patch_means(const RawDocument& doc, const sim::ChartArea& area, int sensor_width,
                             int sensor_height) {
    const auto& out = doc.output();
    const int w = doc.width(), h = doc.height();
    const double sx = double(w) / sensor_width, sy = double(h) / sensor_height;
    const double pw = (area.right - area.left) / 6.0, ph = (area.bottom - area.top) / 4.0;
    std::vector<Rgb> means;
    for (int pr = 0; pr < 4; ++pr) {
        for (int pc = 0; pc < 6; ++pc) {
            const int x0 = int((area.left + pc * pw + pw / 4) * sx), x1 = int((area.left + pc * pw + 3 * pw / 4) * sx);
            const int y0 = int((area.top + pr * ph + ph / 4) * sy), y1 = int((area.top + pr * ph + 3 * ph / 4) * sy);
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

// Light and profile of a DNG shot: a dual-illuminant profile (calibrations
// under standard light A and D65), the scene lit by A, forward matrices.
enum Profile : uint8_t { kSingle, kDualD65, kDualA, kDualForwardD65, kDualForwardA };

struct ChartCase {
    const char* name;
    sim::Format format;
    double noise;  // raw units
    int wb_mode;   // 0 camera, 1 automatic
    Profile profile = kSingle;
};

// A digital negative carries its own black and white levels and colour
// matrix, so the converter's idea of the camera is exactly the simulated one.
// The four-colour compacts (green, magenta, cyan, yellow filters) are known
// to the converter by their identification rules and colour-table rows; the
// Canon file stores a camera white balance, the Nikon one does not (the
// daylight multipliers of its matrix stand in; its sensor is large, so it is
// shot once). Automatic balance is
// grey-world, so it is shown a chart on a surround that makes the frame
// average neutral.
const ChartCase kChartCases[] = {
    {"dng_camera_wb", sim::Format::dng, 60, 0},
    {"dng_auto_wb", sim::Format::dng, 60, 1},
    {"four_colour_crw_camera_wb", sim::Format::crw_packed, 1.5, 0},
    {"four_colour_crw_auto_wb", sim::Format::crw_packed, 1.5, 1},
    {"four_colour_nef_camera_wb", sim::Format::nef_cmyg, 6, 0},
    // A camera whose colour response differs between tungsten and daylight:
    // the DNG carries both calibrations and the matrix must follow the
    // shot's white; with forward matrices the adaptation comes from the
    // profile too.
    {"dng_dual_profile_daylight", sim::Format::dng, 60, 0, kDualD65},
    {"dng_dual_profile_light_a", sim::Format::dng, 60, 0, kDualA},
    {"dng_forward_matrices_daylight", sim::Format::dng, 60, 0, kDualForwardD65},
    {"dng_forward_matrices_light_a", sim::Format::dng, 60, 0, kDualForwardA},
};

void PrintTo(const ChartCase& c, std::ostream* os) { *os << c.name; }

class ChartAccuracy : public ::testing::TestWithParam<ChartCase> {};

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

TEST_P(ChartAccuracy, PatchesComeOutWithinTwoUnitsOfCiede2000AndGreysStayNeutral) {
    const ChartCase& c = GetParam();
    sim::Camera cam = sim::camera_for(c.format, 384, 256);
    cam.noise_sigma = c.noise;
    cam.dual_profile = c.profile != kSingle;
    cam.lit_by_a = c.profile == kDualA || c.profile == kDualForwardA;
    cam.forward_matrices = c.profile == kDualForwardD65 || c.profile == kDualForwardA;
    sim::Scene scene;
    scene.kind = c.wb_mode == 1 ? sim::SceneKind::framed_chart : sim::SceneKind::chart;
    scene.exposure = 0.8;  // the white patch stays below clipping
    test::TempDir dir(c.name);
    const std::string path = dir.file(std::string(c.name) + ".raw");
    test::write_file(path, sim::write_raw(c.format, sim::render_mosaic(scene, cam), cam));

    MapControlSource controls;  // built-in sRGB output
    controls.set(tag::kWbMode, c.wb_mode);
    RawDocument doc;
    doc.set_controls(&controls);
    ASSERT_EQ(doc.open(path), kLoadOk);
    doc.Develop(false);
    ASSERT_EQ(doc.output().size(), size_t(doc.width()) * size_t(doc.height()) * 3);
    const int sensor_width = cam.visible_width(), sensor_height = cam.height;
    const std::vector<Rgb> got =
        patch_means(doc, scene.chart_area(sensor_height, sensor_width), sensor_width, sensor_height);

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
    ASSERT_GT(have, 0);
    const double gain = want / have;
    EXPECT_GT(gain, 0.5);  // the develop itself is near the right exposure
    // Under tungsten the blue multiplier is large and the develop's scaling
    // (no channel clips before white) leaves the frame darker.
    EXPECT_LT(gain, cam.lit_by_a ? 4.0 : 2.0);

    double total = 0, worst = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        Rgb matched = got[i];
        for (double& v : matched) v *= gain;
        const cmsCIELab a = test::lab_of_linear_srgb(truth[i]), b = test::lab_of_linear_srgb(matched);
        const double d = cmsCIE2000DeltaE(&a, &b, 1, 1, 1);
        total += d;
        worst = std::max(worst, d);
        EXPECT_LT(d, 6.0) << "patch " << i << ": L " << a.L << "/" << b.L << " a " << a.a << "/" << b.a << " b "
                          << a.b << "/" << b.b;
        if (i >= 18) {  // the grey row: no colour cast
            EXPECT_LE(std::fabs(b.a), 2.0) << "grey patch " << i;
            EXPECT_LE(std::fabs(b.b), 2.0) << "grey patch " << i;
        }
    }
    const double mean = total / double(truth.size());
    EXPECT_LE(mean, 2.0) << "worst patch " << worst;
    RecordProperty("mean_ciede2000", std::to_string(mean));
}

INSTANTIATE_TEST_SUITE_P(Cameras, ChartAccuracy, ::testing::ValuesIn(kChartCases),
                         [](const ::testing::TestParamInfo<ChartCase>& i) { return std::string(i.param.name); });

}  // namespace
