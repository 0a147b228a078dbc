// What a DNG asks of the stored values and of the demosaiced picture, read
// through each loader that can meet it: defects listed in opcode list 1
// come back repaired, a black level given only by the masked areas is
// measured there, and lens distortion undone by a warp of list 3 leaves
// straight lines straight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "core/loaders/dng_opcodes.h"
#include "core/processing/demosaic.h"
#include "core/processing/output_profile.h"
#include "core/processing/preprocess.h"
#include "core/session/decoder_session.h"
#include "core/thumb/entries.h"
#include "tools/simcam/formats.h"

namespace {

using ostel::core::DecoderSession;
using namespace ostel::simcam;

void decode_bytes(DecoderSession& s, std::vector<uint8_t> bytes) {
    s.input = ostel::core::ByteSource(std::move(bytes));
    ostel::core::decode(s);
}

struct Writer {
    const char* name;
    std::function<std::vector<uint8_t>(const Mosaic&, const Camera&)> write;
};

// The three ways DNG data reaches the image: plain rows, lossless JPEG
// tiles (both through the loaders that keep the stored scale) and plain
// tiles (through the loader that maps onto 0..65535 itself).
const Writer kWriters[] = {
    {"plain rows", [](const Mosaic& m, const Camera& c) { return write_dng(m, c); }},
    {"lossless JPEG tiles", [](const Mosaic& m, const Camera& c) { return write_dng_ljpeg(m, c); }},
    {"plain tiles", [](const Mosaic& m, const Camera& c) { return write_dng_plain_tiles(m, c); }},
};

// A decoded site as a share of the range from black to white.
double level(const DecoderSession& s, int row, int col) {
    const double v = s.image[size_t(row) * size_t(s.image_width) + size_t(col)][size_t(s.filter_color(row, col))];
    return (v - s.black_level) / double(s.white_level - s.black_level);
}

TEST(SimcamDngStages, DefectsOfListOneComeBackRepaired) {
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        Camera cam = camera_for(Format::dng, 128, 96);
        Scene ramp;
        ramp.kind = SceneKind::grey_ramp;
        ramp.exposure = 0.8;
        DecoderSession clean;
        decode_bytes(clean, w.write(render_mosaic(ramp, cam), cam));
        ASSERT_NE(clean.raw_count, 0);

        cam.stuck_value = 65535;
        cam.bad_sites = {{10, 10}, {0, 5}, {50, 77}};
        cam.bad_rects = {{30, 40, 60, 41}, {70, 90, 73, 93}};  // a column segment, a 3 x 3 block
        cam.dead_sites = {{20, 100}, {95, 127}};
        DecoderSession s;
        decode_bytes(s, w.write(render_mosaic(ramp, cam), cam));
        ASSERT_NE(s.raw_count, 0);
        ASSERT_EQ(s.image.size(), clean.image.size());

        const auto defective = [&](int r, int c) {
            for (const auto& b : cam.bad_sites)
                if (b[0] == r && b[1] == c) return true;
            for (const auto& b : cam.dead_sites)
                if (b[0] == r && b[1] == c) return true;
            for (const auto& b : cam.bad_rects)
                if (r >= b[0] && r < b[2] && c >= b[1] && c < b[3]) return true;
            return false;
        };
        int repaired = 0, moved = 0;
        double worst = 0;
        for (int r = 0; r < s.height; ++r)
            for (int c = 0; c < s.width; ++c) {
                const double d = std::fabs(level(s, r, c) - level(clean, r, c));
                if (!defective(r, c)) {
                    if (d > 1e-9) ++moved;  // nothing else is touched
                    continue;
                }
                ++repaired;
                worst = std::max(worst, d);
            }
        EXPECT_EQ(repaired, 3 + 30 + 9 + 2);
        EXPECT_EQ(moved, 0);
        // The ramp rises by under 1% of the range per column; a site
        // repaired from neighbours two or three columns off stays close.
        EXPECT_LT(worst, 0.02);
    }
}

TEST(SimcamDngStages, TrimOfListOneKeepsTheDefaultCropOnItsSites) {
    // The default crop is placed in the active area: a trim taking the
    // image's first rows and columns must not move it. Black varies by
    // site, so the levels must stay placed in the active area too.
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        Camera cam = camera_for(Format::dng, 128, 96);
        cam.default_crop = {9, 11, 70, 90};
        cam.black_cells = {0, 40, -30, 90};
        cam.noise_sigma = 20;
        const Mosaic m = render_mosaic(Scene{}, cam);
        DecoderSession whole;
        decode_bytes(whole, w.write(m, cam));
        cam.trim = {3, 5, 90, 120};
        DecoderSession trimmed;
        decode_bytes(trimmed, w.write(m, cam));
        ASSERT_NE(trimmed.raw_count, 0);
        ASSERT_EQ(trimmed.width, 90);
        ASSERT_EQ(trimmed.height, 70);
        EXPECT_EQ(trimmed.cfa_pattern, whole.cfa_pattern);
        double worst = 0;
        for (int r = 0; r < whole.height; ++r)
            for (int c = 0; c < whole.width; ++c)
                worst = std::max(worst, std::fabs(level(trimmed, r, c) - level(whole, r, c)));
        EXPECT_LT(worst, 1e-9);

        // A trim that leaves nothing is not applied.
        cam.trim = {200, 0, 300, 128};
        DecoderSession empty;
        decode_bytes(empty, w.write(m, cam));
        ASSERT_NE(empty.raw_count, 0);
        EXPECT_EQ(empty.width, 90);
    }
}

// Finds the little-endian 32-bit values given in the file and replaces them.
bool patch_longs(std::vector<uint8_t>& file, const std::vector<uint32_t>& from, const std::vector<uint32_t>& to) {
    std::vector<uint8_t> a, b;
    for (uint32_t v : from)
        for (int i = 0; i < 4; ++i) a.push_back(uint8_t(v >> (8 * i)));
    for (uint32_t v : to)
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    const auto at = std::search(file.begin(), file.end(), a.begin(), a.end());
    if (at == file.end()) return false;
    std::copy(b.begin(), b.end(), at);
    return true;
}

TEST(SimcamDngStages, MaskedAreasCarryTheBlackLevel) {
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        Camera cam = camera_for(Format::dng, 128, 96);
        cam.masked_columns = 16;
        cam.black = 512;
        cam.black_cells = {0, 40, -30, 90};  // each colour its own black
        cam.noise_sigma = 4;
        const Mosaic m = render_mosaic(Scene{}, cam);
        DecoderSession stated;
        decode_bytes(stated, w.write(m, cam));
        ASSERT_NE(stated.raw_count, 0);
        ASSERT_EQ(stated.width, 112);  // the active area alone

        cam.black_only_in_masked_area = true;
        std::vector<uint8_t> file = w.write(m, cam);
        DecoderSession measured;
        decode_bytes(measured, file);
        ASSERT_NE(measured.raw_count, 0);
        ASSERT_EQ(measured.image.size(), stated.image.size());
        double worst = 0;
        for (int r = 0; r < stated.height; ++r)
            for (int c = 0; c < stated.width; ++c)
                worst = std::max(worst, std::fabs(level(measured, r, c) - level(stated, r, c)));
        // The means of 384 noisy samples per colour, rounded once.
        EXPECT_LT(worst, 3.0 / 65535);

        // An area reaching over the picture is not taken: black stays 0.
        ASSERT_TRUE(patch_longs(file, {0, 112, 96, 128}, {0, 100, 96, 128}));
        DecoderSession refused;
        decode_bytes(refused, file);
        ASSERT_NE(refused.raw_count, 0);
        EXPECT_GT(std::fabs(level(refused, 40, 40) - level(stated, 40, 40)), 0.005);
    }
}

// Column where the dark-to-light edge of the left half crosses the middle
// of its two levels in row `row` of the green plane, to a fraction of a
// pixel.
double edge_column(const DecoderSession& s, int row) {
    const auto g = [&](int c) { return double(s.image[size_t(row) * size_t(s.width) + size_t(c)][1]); };
    const int half = s.width / 2;
    double lo = g(2), hi = g(2);
    for (int c = 2; c < half - 2; ++c) {
        lo = std::min(lo, g(c));
        hi = std::max(hi, g(c));
    }
    const double mid = (lo + hi) / 2;
    for (int c = 2; c < half - 3; ++c)
        if (g(c) < mid && g(c + 1) >= mid) return c + (mid - g(c)) / (g(c + 1) - g(c));
    return -1;
}

// The develop's path from decode to full colour.
void develop_to_full_colour(DecoderSession& s, bool warp) {
    ostel::core::convert_to_output(s);
    s.apply_scaling = 1;
    ostel::core::balance_and_scale(s);
    ostel::core::prepare_for_interpolation(s);
    ostel::core::ahd_demosaic(s);
    if (warp) ostel::core::apply_dng_warps_after_demosaic(s);
}

TEST(SimcamDngStages, WarpAfterDemosaicStraightensTheLensDistortion) {
    Scene edge;
    edge.kind = SceneKind::slanted_edge;
    Camera straight_cam = camera_for(Format::dng, 160, 120);
    Camera bent_cam = straight_cam;
    bent_cam.distortion = -0.15;  // barrel
    DecoderSession straight, bent, left_bent;
    decode_bytes(straight, write_dng(render_mosaic(edge, straight_cam), straight_cam));
    const std::vector<uint8_t> file = write_dng(render_mosaic(edge, bent_cam), bent_cam);
    decode_bytes(bent, file);
    decode_bytes(left_bent, file);
    ASSERT_NE(bent.raw_count, 0);
    develop_to_full_colour(straight, true);  // no warp in this file: nothing done
    develop_to_full_colour(bent, true);
    develop_to_full_colour(left_bent, false);

    double worst = 0, worst_left = 0;
    for (int row = 4; row < straight.height - 4; ++row) {
        const double want = edge_column(straight, row);
        ASSERT_GT(want, 0) << row;
        worst = std::max(worst, std::fabs(edge_column(bent, row) - want));
        worst_left = std::max(worst_left, std::fabs(edge_column(left_bent, row) - want));
    }
    EXPECT_GT(worst_left, 1.5);  // the distortion is plain to see (3.6 pixels)
    EXPECT_LT(worst, 0.25);      // and undone to a fraction of a pixel (0.04)
}

}  // namespace
