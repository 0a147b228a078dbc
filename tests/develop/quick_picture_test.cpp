// The quick first picture of a load: developed from the two-by-two sensor
// cells, close to the fit-to-window image that follows, absent for sensors
// without such cells, and without any effect on what the load delivers.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "tools/simcam/formats.h"

namespace {

using namespace ostel::develop;
namespace sim = ostel::simcam;

std::string write_file(sim::Format format, int width, int height, const std::string& name) {
    sim::Camera cam = sim::camera_for(format, width, height);
    cam.noise_sigma = 4;
    const std::string p = testing::TempDir() + name;
    const auto bytes = sim::write_raw(format, sim::render_mosaic(sim::Scene{}, cam), cam);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p;
}

const std::string& bayer_file() {
    static const std::string path = write_file(sim::Format::cr2, 240, 160, "quick_picture_sim.cr2");
    return path;
}

struct Opened {
    std::optional<ScreenImage> quick;  // the picture handed over during the load
    ScreenImage screen;                // the screen image the load ends with
    std::vector<uint16_t> saved;       // then the whole image developed for saving
};

Opened open_with(const std::string& path, const MapControlSource& positions, const Viewport& view, bool quick) {
    MapControlSource controls = positions;
    RawDocument doc;
    doc.set_controls(&controls);
    doc.set_viewport(view);
    Opened o;
    int calls = 0;
    if (quick)
        doc.set_quick_picture_handler([&](const ScreenImage& picture) {
            ++calls;
            o.quick = picture;
        });
    EXPECT_EQ(doc.open(path), kLoadOk);
    EXPECT_LE(calls, 1);
    o.screen = doc.screen();
    doc.Develop(false);
    o.saved.assign(doc.output().begin(), doc.output().end());
    return o;
}

// Mean difference and share of 8-bit samples beyond the sample tolerance
// between two pictures of the same size.
void expect_close(const ScreenImage& a, const ScreenImage& b) {
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    ASSERT_EQ(a.pixels.size(), b.pixels.size());
    double total = 0;
    size_t far = 0, samples = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = std::abs(double(a.pixels[i]) - double(b.pixels[i]));
        total += d;
        far += d > kQuickTolerance.sample;
        ++samples;
    }
    EXPECT_LE(total / double(samples), kQuickTolerance.mean);
    EXPECT_LE(double(far) / double(samples), kQuickTolerance.share_beyond);
}

struct Positions {
    const char* name;
    std::vector<std::pair<int, double>> values;
    std::string curve;
};

// With the window a whole number of cells per fit block, the quick picture
// has the fit image's size and lies within the fit tolerance of it, for
// control sets that reach every develop stage and its statistics.
TEST(QuickPictureTest, CloseToTheFitImageThatFollows) {
    const std::vector<Positions> table = {
        {"neutral", {}, ""},
        {"exposure, levels, fill light", {{tag::kExposure, 3}, {tag::kHistCorrection, 1}, {tag::kShadows, 4}, {tag::kFillLight, 25}}, ""},
        {"auto balance, curve, contrast, saturation", {{tag::kWbMode, 1}, {tag::kContrast, 15}, {tag::kSaturation, 6}}, "2,257 100,150 257,2"},
        {"custom balance, black and white", {{tag::kWbMode, 2}, {tag::kWbRed, 8}, {tag::kBwMode, 1}, {tag::kMixerRed, 80}}, ""},
    };
    for (const Positions& p : table) {
        SCOPED_TRACE(p.name);
        MapControlSource controls;
        for (const auto& [t, v] : p.values) controls.set(t, v);
        controls.set_text(tag::kCurvePoints, p.curve);
        const Opened o = open_with(bayer_file(), controls, Viewport::fit(60, 60), true);
        ASSERT_TRUE(o.quick.has_value());
        const ScreenImage& q = *o.quick;
        EXPECT_EQ(q.scale_down, o.screen.scale_down);
        EXPECT_EQ(q.scale_down % 2, 0);
        EXPECT_EQ(q.x, 0);
        EXPECT_EQ(q.y, 0);
        expect_close(q, o.screen);
    }
}

// Handing the quick picture over changes nothing the load delivers: the
// screen image and the saved image are those of a load without it.
TEST(QuickPictureTest, LoadResultsAreUnchanged) {
    MapControlSource controls;
    controls.set(tag::kHistCorrection, 1);
    controls.set(tag::kFillLight, 20);
    controls.set(tag::kWbMode, 1);
    for (const Viewport& v : {Viewport::fit(60, 60), Viewport::fit(80, 80), Viewport::area(1, 20, 20, 100, 80)}) {
        const Opened with = open_with(bayer_file(), controls, v, true);
        const Opened without = open_with(bayer_file(), controls, v, false);
        ASSERT_TRUE(with.quick.has_value());
        EXPECT_FALSE(without.quick.has_value());
        EXPECT_EQ(with.screen.pixels, without.screen.pixels);
        EXPECT_EQ(with.screen.rgb, without.screen.rgb);
        EXPECT_EQ(with.saved, without.saved);
    }
    // An odd fit reduction: the picture covers the image at the next even
    // reduction below, no larger than about twice the window.
    const Opened odd = open_with(bayer_file(), controls, Viewport::fit(80, 80), true);
    ASSERT_TRUE(odd.quick.has_value());
    EXPECT_EQ(odd.screen.scale_down % 2, 1);
    EXPECT_EQ(odd.quick->scale_down, odd.screen.scale_down - 1);
    EXPECT_LE(odd.quick->width, 2 * 80);
    // Without a viewport there is no window to fit.
    RawDocument doc;
    bool called = false;
    doc.set_quick_picture_handler([&](const ScreenImage&) { called = true; });
    ASSERT_EQ(doc.open(bayer_file()), kLoadOk);
    EXPECT_FALSE(called);
}

// Four-colour sensors have all their colours in each cell and get the
// picture; full-colour data has no cells and loads as before.
TEST(QuickPictureTest, SensorsWithAndWithoutCells) {
    struct Case {
        sim::Format format;
        const char* name;
        bool quick;
    };
    for (const Case& c : {Case{sim::Format::crw_packed, "quick_picture_sim.crw", true},
                          Case{sim::Format::nef_cmyg, "quick_picture_cmyg.nef", true},
                          Case{sim::Format::dng_linear_lossy, "quick_picture_linear.dng", false}}) {
        SCOPED_TRACE(c.name);
        const std::string path = write_file(c.format, 240, 160, c.name);
        const Opened o = open_with(path, MapControlSource{}, Viewport::fit(60, 60), true);
        ASSERT_EQ(o.quick.has_value(), c.quick);
        if (c.quick && o.quick->scale_down == o.screen.scale_down) expect_close(*o.quick, o.screen);
    }
}

TEST(QuickPictureTest, DoesNotDependOnTheThreadCount) {
    const int threads = omp_get_max_threads();
    MapControlSource controls;
    controls.set(tag::kHistCorrection, 1);
    controls.set(tag::kFillLight, 20);
    omp_set_num_threads(1);
    const Opened one = open_with(bayer_file(), controls, Viewport::fit(60, 60), true);
    omp_set_num_threads(3);
    const Opened many = open_with(bayer_file(), controls, Viewport::fit(60, 60), true);
    omp_set_num_threads(threads);
    ASSERT_TRUE(one.quick && many.quick);
    EXPECT_EQ(one.quick->rgb, many.quick->rgb);
}

}  // namespace
