// Real camera files develop to pictures that look like the camera's own
// embedded rendering: same scene layout (luminance correlation after
// exposure matching) and the same overall colour (no cast, no swapped
// channels). The camera's preview is framed a little differently and has
// its own tone curve, so the comparison allows a small crop search and
// compares gamma-encoded luminance.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "tests/export/export_test_support.h"
#include "tests/support/samples.h"

namespace ostel::exporting {
namespace {

using develop::RawDocument;

// Linear-light RGB picture.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::array<double, 3>> px;
    const std::array<double, 3>& at(int x, int y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
};

double srgb_decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double luminance(const std::array<double, 3>& c) { return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2]; }

// Area average of the window [x0, x1) x [y0, y1) of `src` onto w x h cells.
Picture bin(const Picture& src, int x0, int y0, int x1, int y1, int w, int h) {
    Picture out;
    out.width = w;
    out.height = h;
    out.px.assign(size_t(w) * size_t(h), {0, 0, 0});
    std::vector<int> count(out.px.size(), 0);
    for (int y = y0; y < y1; ++y) {
        const int oy = int(int64_t(y - y0) * h / (y1 - y0));
        for (int x = x0; x < x1; ++x) {
            const size_t o = size_t(oy) * size_t(w) + size_t(int64_t(x - x0) * w / (x1 - x0));
            for (int c = 0; c < 3; ++c) out.px[o][size_t(c)] += src.at(x, y)[size_t(c)];
            ++count[o];
        }
    }
    for (size_t i = 0; i < out.px.size(); ++i)
        for (double& v : out.px[i]) v /= std::max(1, count[i]);
    return out;
}

// The embedded preview as linear RGB, without the black bars some cameras
// put above and below it.
Picture preview_picture(const std::string& path) {
    RawDocument doc;
    doc.set_preview_only(true);
    if (doc.open(path) != develop::kLoadOk) return {};
    const auto& t = doc.thumbnail();
    Picture full;
    if (t.jpeg) {
        test::TempDir dir;
        const std::string jpg = dir.file("preview.jpg");
        std::ofstream(jpg, std::ios::binary).write(reinterpret_cast<const char*>(t.bytes.data()), std::streamsize(t.bytes.size()));
        const auto img = test::read_jpeg(jpg);
        full.width = img.width;
        full.height = img.height;
        for (size_t i = 0; i + 2 < img.samples.size(); i += 3)
            full.px.push_back({srgb_decode(img.samples[i] / 255.0), srgb_decode(img.samples[i + 1] / 255.0),
                               srgb_decode(img.samples[i + 2] / 255.0)});
    } else {
        full.width = t.width;
        full.height = t.height;
        for (size_t i = 0; i + 3 < t.bytes.size(); i += 4)  // BGR0
            full.px.push_back({srgb_decode(t.bytes[i + 2] / 255.0), srgb_decode(t.bytes[i + 1] / 255.0),
                               srgb_decode(t.bytes[i] / 255.0)});
    }
    if (full.px.size() != size_t(full.width) * size_t(full.height) || full.px.empty()) return {};
    auto dark_row = [&](int y) {
        double s = 0;
        for (int x = 0; x < full.width; ++x) s += luminance(full.at(x, y));
        return s / full.width < 0.001;
    };
    int top = 0, bottom = full.height;
    while (top < bottom && dark_row(top)) ++top;
    while (bottom > top && dark_row(bottom - 1)) --bottom;
    return bin(full, 0, top, full.width, bottom, full.width, bottom - top);
}

Picture developed_picture(const std::string& path) {
    develop::MapControlSource controls;  // initial positions: camera white balance, sRGB
    RawDocument doc;
    doc.set_controls(&controls);
    if (doc.open(path) != develop::kLoadOk) return {};
    doc.Develop(false);
    Picture p;
    p.width = doc.width();
    p.height = doc.height();
    const auto& out = doc.output();
    p.px.resize(size_t(p.width) * size_t(p.height));
    for (size_t i = 0; i < p.px.size(); ++i)
        for (size_t c = 0; c < 3; ++c) p.px[i][c] = srgb_decode(out[i * 3 + c] / 65535.0);
    return p;
}

double median_luminance(const Picture& p) {
    std::vector<double> y;
    for (const auto& c : p.px) y.push_back(luminance(c));
    std::nth_element(y.begin(), y.begin() + std::ptrdiff_t(y.size() / 2), y.end());
    return y[y.size() / 2];
}

// Pearson correlation of gamma-encoded luminance after scaling `ours` so
// that the medians agree (what an exposure slider would do).
double matched_correlation(const Picture& ours, const Picture& theirs) {
    const double gain = median_luminance(theirs) / std::max(1e-9, median_luminance(ours));
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const double n = double(ours.px.size());
    for (size_t i = 0; i < ours.px.size(); ++i) {
        const double a = std::pow(std::min(1.0, gain * luminance(ours.px[i])), 1 / 2.2);
        const double b = std::pow(luminance(theirs.px[i]), 1 / 2.2);
        sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
    }
    const double cov = sab / n - sa / n * sb / n;
    return cov / std::sqrt(std::max(1e-18, (saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n)));
}

// Share of each channel in the picture's total light.
std::array<double, 3> channel_shares(const Picture& p) {
    std::array<double, 3> sum{0, 0, 0};
    for (const auto& c : p.px)
        for (size_t k = 0; k < 3; ++k) sum[k] += c[k];
    const double total = sum[0] + sum[1] + sum[2];
    for (double& v : sum) v /= total;
    return sum;
}

// Complete files are in real/; the linear DNGs may still sit in unsupported/.
std::string sample_path(const std::string& name) {
    for (const char* folder : {"/real/", "/unsupported/"}) {
        const std::string path = ostel::test::samples_dir() + folder + name;
        if (std::ifstream(path).good()) return path;
    }
    return ostel::test::samples_dir() + "/real/" + name;
}

TEST(CameraPreviewResemblanceTest, RealFilesLookLikeTheCamerasOwnRendering) {
    OSTEL_REQUIRE_SAMPLES();
    const struct {
        const char* file;
        double min_correlation;
    } cases[] = {
        {"canon_eos30d.cr2", 0.95},
        {"canon_powershot_s30.crw", 0.95},
        // The only preview is a 160 x 104 letterboxed picture, framed a little
        // tighter than the sensor data: the reference itself limits the match.
        {"nikon_d1.nef", 0.90},
        // Lossy linear DNG: DCT-compressed tiles of three samples per pixel
        // that go through their opcode tone maps.
        {"canon_eos6d_lossy_linear.dng", 0.95},
        // google_pixel7_crop.dng is left out: it is a night shot whose preview
        // is black (mean level below 0.1 of 255), so there is nothing to correlate.
        // nikon_d500_lossy_linear.dng neither: a dark frame (see below).
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = sample_path(c.file);
        const Picture ours = developed_picture(path);
        const Picture theirs_full = preview_picture(path);
        ASSERT_FALSE(ours.px.empty());
        ASSERT_FALSE(theirs_full.px.empty());

        const int w = std::min(256, theirs_full.width);
        const int h = std::max(1, int(std::lround(double(w) * theirs_full.height / theirs_full.width)));
        const Picture theirs = bin(theirs_full, 0, 0, theirs_full.width, theirs_full.height, w, h);

        // Preview and sensor data are cut a little differently: try trimming
        // up to 3% of our picture's width and height, split evenly.
        double best = -1;
        Picture best_ours;
        for (int tx = 0; tx <= 3; ++tx)
            for (int ty = 0; ty <= 3; ++ty) {
                const int dx = ours.width * tx / 200, dy = ours.height * ty / 200;
                const Picture cut = bin(ours, dx, dy, ours.width - dx, ours.height - dy, w, h);
                const double r = matched_correlation(cut, theirs);
                if (r > best) best = r, best_ours = cut;
            }
        EXPECT_GE(best, c.min_correlation);

        // No cast and no swapped channels: each channel carries the same
        // share of the light as in the camera's picture.
        const auto a = channel_shares(best_ours), b = channel_shares(theirs);
        for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 0.04) << "channel " << k;
        RecordProperty(std::string(c.file) + "_correlation", std::to_string(best));
    }
}

// A frame taken with the lens covered: the camera's picture is black and so
// must ours be, with no lifted black level or tone-map offset making it grey.
TEST(CameraPreviewResemblanceTest, DarkLinearFrameStaysDark) {
    OSTEL_REQUIRE_SAMPLES();
    const std::string path = sample_path("nikon_d500_lossy_linear.dng");
    const Picture ours = developed_picture(path);
    ASSERT_FALSE(ours.px.empty());
    // Every row of the camera's picture is below the letterbox threshold, so
    // the trimmed preview comes back empty.
    EXPECT_TRUE(preview_picture(path).px.empty());
    EXPECT_LT(median_luminance(ours), 0.002);
}

}  // namespace
}  // namespace ostel::exporting
