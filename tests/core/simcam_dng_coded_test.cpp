// DNG variants whose data goes through the tile loader: floating-point
// deflate tiles, three-sample DCT JPEG tiles with a linearisation table,
// JPEG XL tiles, and gain maps undoing lens falloff. The loader hands back
// the samples on the 16-bit range between black and white, so the expected
// value of a site is its level scaled there.
#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/session/decoder_session.h"
#include "core/thumb/entries.h"
#include "tools/simcam/formats.h"

namespace {

using ostel::core::DecoderSession;
using ostel::core::LoaderId;
using namespace ostel::simcam;

void decode_bytes(DecoderSession& s, std::vector<uint8_t> bytes) {
    s.input = ostel::core::ByteSource(std::move(bytes));
    ostel::core::decode(s);
}

double expected_level(const Camera& cam, uint16_t v) {
    return std::clamp((double(v) - cam.black) / (cam.white - cam.black), 0.0, 1.0) * 65535.0;
}

// Largest difference between the decoded image and the mosaic's levels
// (mean difference in `mean` when given).
double worst_difference(const DecoderSession& s, const Mosaic& m, const Camera& cam, double* mean = nullptr) {
    double worst = 0, total = 0;
    size_t n = 0;
    for (int r = 0; r < s.height; ++r)
        for (int c = 0; c < s.width; ++c) {
            const auto& px = s.image[size_t(r) * size_t(s.image_width) + size_t(c)];
            for (int k = 0; k < m.samples; ++k) {
                const int plane = m.samples == 1 ? s.filter_color(r, c) : k;
                const double d = std::fabs(px[size_t(plane)] - expected_level(cam, m.sample(r, c, k)));
                worst = std::max(worst, d);
                total += d;
                ++n;
            }
        }
    if (mean) *mean = total / double(std::max<size_t>(n, 1));
    return worst;
}

TEST(SimcamDngCoded, FloatingPointDeflateTilesComeBackWithinTheFloatsPrecision) {
    const struct {
        int bits;
        int mantissa;
    } cases[] = {{32, 23}, {24, 16}, {16, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + "-bit floats");
        Camera cam = camera_for(Format::dng_deflate_float, 200, 136);  // edge tiles padded
        cam.noise_sigma = 40;
        const Mosaic m = render_mosaic(Scene{}, cam);
        DecoderSession s;
        decode_bytes(s, write_dng_deflate_float(m, cam, c.bits));
        ASSERT_NE(s.raw_count, 0);
        EXPECT_EQ(s.loader, LoaderId::dng_tiled_load_raw);
        EXPECT_EQ(s.short_read_count, 0);
        ASSERT_EQ(s.width, m.width);
        ASSERT_EQ(s.height, m.height);
        EXPECT_EQ(s.black_level, 0);
        EXPECT_EQ(s.white_level, 65535);
        // Rounding to the float's mantissa, then to 16 bits.
        EXPECT_LE(worst_difference(s, m, cam), 1.0 + 65535.0 * std::ldexp(1.0, -c.mantissa));
    }
}

TEST(SimcamDngCoded, LossyLinearTilesComeBackWithinTheCodecsError) {
    Camera cam = camera_for(Format::dng_linear_lossy, 192, 128);
    Scene chart;
    chart.kind = SceneKind::chart;
    chart.exposure = 0.8;
    const Mosaic m = render_mosaic(chart, cam);
    DecoderSession s;
    decode_bytes(s, write_raw(Format::dng_linear_lossy, m, cam));
    ASSERT_NE(s.raw_count, 0);
    EXPECT_EQ(s.loader, LoaderId::dng_tiled_load_raw);
    EXPECT_EQ(s.short_read_count, 0);
    EXPECT_EQ(s.cfa_pattern, 0u);
    EXPECT_EQ(s.color_count, 3);
    double mean = 0;
    const double worst = worst_difference(s, m, cam, &mean);
    // 8-bit codes on a 2.2 curve and quality-95 DCT: about 1% on average,
    // more at the patch edges where the chroma is subsampled.
    EXPECT_LT(mean, 0.01 * 65535);
    EXPECT_LT(worst, 0.25 * 65535);
}

TEST(SimcamDngCoded, JpegXlTilesComeBackExactlyOrWithinTheCodecsError) {
    const struct {
        Format format;
        int width, height;
        double noise;
        double worst, mean;  // allowed, in 16-bit levels
    } cases[] = {
        // Lossless: every site is its level, rounded once onto 16 bits.
        {Format::dng_jxl, 200, 136, 40, 0.5, 0.5},
        // Distance 1 on linear codes: about 0.5% on average; up to a sixth
        // of full scale in one channel along the scene's hardest edges.
        {Format::dng_linear_jxl, 192, 128, 0, 0.25 * 65535, 0.01 * 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(format_name(c.format)));
        Camera cam = camera_for(c.format, c.width, c.height);  // edge tiles padded
        cam.noise_sigma = c.noise;
        const Mosaic m = render_mosaic(Scene{}, cam);
        DecoderSession s;
        decode_bytes(s, write_raw(c.format, m, cam));
        ASSERT_NE(s.raw_count, 0) << s.refusal_reason;
        EXPECT_EQ(s.loader, LoaderId::dng_tiled_load_raw);
        EXPECT_EQ(s.short_read_count, 0);
        ASSERT_EQ(s.width, m.width);
        ASSERT_EQ(s.height, m.height);
        EXPECT_EQ(s.cfa_pattern == 0, m.samples == 3);
        double mean = 0;
        const double worst = worst_difference(s, m, cam, &mean);
        EXPECT_LE(worst, c.worst);
        EXPECT_LE(mean, c.mean);
    }
}

TEST(SimcamDngCoded, GainMapUndoesLensFalloff) {
    // The same flat frame shot with and without falloff must decode alike
    // once the file's gain map is applied, whatever loader read the data.
    for (const Format f : {Format::dng, Format::dng_ljpeg, Format::dng_deflate_float}) {
        SCOPED_TRACE(std::string(format_name(f)));
        Camera cam = camera_for(f, 128, 96);
        Scene flat;
        flat.kind = SceneKind::flat;
        flat.flat_level = 0.5;
        const Mosaic plain = render_mosaic(flat, cam);
        cam.vignetting = 0.4;
        const Mosaic dim = render_mosaic(flat, cam);
        DecoderSession a, b;
        Camera plain_cam = cam;
        plain_cam.vignetting = 0;
        decode_bytes(a, write_raw(f, plain, plain_cam));
        decode_bytes(b, write_raw(f, dim, cam));
        ASSERT_NE(a.raw_count, 0);
        ASSERT_NE(b.raw_count, 0);
        ASSERT_EQ(a.image.size(), b.image.size());
        const double a_white = a.white_level - a.black_level, b_white = b.white_level - b.black_level;
        double worst = 0;
        for (size_t i = 0; i < a.image.size(); ++i)
            for (size_t k = 0; k < 4; ++k) {
                const double va = std::max(0, a.image[i][k] - a.black_level) / a_white;
                const double vb = std::max(0, b.image[i][k] - b.black_level) / b_white;
                worst = std::max(worst, std::fabs(va - vb));
            }
        // Falloff reaches 40% in the corners; the 17 x 17 map leaves well under 1%.
        EXPECT_LT(worst, 0.005);
    }
}

TEST(SimcamDngCoded, DamagedTilesEndCleanlyAndAreCounted) {
    Camera cam = camera_for(Format::dng_linear_lossy, 128, 96);
    const std::vector<uint8_t> lossy = write_raw(Format::dng_linear_lossy, render_mosaic(Scene{}, cam), cam);
    Camera cfa = camera_for(Format::dng_deflate_float, 128, 96);
    const std::vector<uint8_t> deflated = write_raw(Format::dng_deflate_float, render_mosaic(Scene{}, cfa), cfa);
    const std::vector<uint8_t> jxl = write_raw(Format::dng_jxl, render_mosaic(Scene{}, cfa), cfa);
    const std::vector<uint8_t> linear_jxl = write_raw(Format::dng_linear_jxl, render_mosaic(Scene{}, cam), cam);
    for (const auto* file : {&lossy, &deflated, &jxl, &linear_jxl}) {
        // Cut into the last tile; then every tile's data overwritten.
        std::vector<uint8_t> cut = *file;
        cut.resize(cut.size() - 200);
        DecoderSession s;
        decode_bytes(s, cut);
        ASSERT_NE(s.raw_count, 0);
        EXPECT_GT(s.short_read_count, 0);

        std::vector<uint8_t> bad = *file;
        std::fill(bad.end() - std::ptrdiff_t(bad.size() / 3), bad.end(), 0xFF);
        DecoderSession t;
        decode_bytes(t, bad);
        ASSERT_NE(t.raw_count, 0);
        EXPECT_GT(t.short_read_count, 0);
    }
}

TEST(SimcamDngCoded, TilesDecodedSideBySideGiveTheSameImageAndCountsAsOneByOne) {
    Camera cam = camera_for(Format::dng_jxl, 320, 200);
    cam.noise_sigma = 40;
    std::vector<uint8_t> file = write_raw(Format::dng_jxl, render_mosaic(Scene{}, cam), cam);
    // Damage in the middle of the tile data: some tiles are refused, some
    // may decode to other values; either way the same for any thread count.
    std::fill(file.end() - std::ptrdiff_t(file.size() / 3), file.end() - std::ptrdiff_t(file.size() / 4), 0x00);
    const int threads = omp_get_max_threads();
    DecoderSession one, many;
    omp_set_num_threads(1);
    decode_bytes(one, file);
    // No more threads than the runtime's default: records of threads added
    // past it are kept until exit, which the leak checker reports.
    omp_set_num_threads(std::max(2, threads));
    decode_bytes(many, file);
    omp_set_num_threads(threads);
    ASSERT_NE(one.raw_count, 0);
    EXPECT_GT(one.short_read_count, 0);
    EXPECT_EQ(one.short_read_count, many.short_read_count);
    EXPECT_TRUE(one.image == many.image);
}

// The default crop leaves exactly its frame, from the plain-strip loader
// and from the tile loader alike; an odd corner moves the filter pattern
// with it, and a crop reaching past the image is not applied.
TEST(SimcamDngCoded, DefaultCropLeavesItsFrameWithThePatternMoved) {
    struct Case {
        const char* name;
        bool tiled;
        std::array<int, 4> crop;  // top, left, height, width
        int want_height, want_width;
    };
    const Case cases[] = {
        {"plain strip, odd corner", false, {3, 5, 101, 150}, 101, 150},
        {"tiles, odd corner", true, {7, 1, 90, 120}, 90, 120},
        {"tiles, even corner", true, {8, 8, 120, 184}, 120, 184},
        {"past the edge", false, {8, 8, 200, 100}, 136, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Camera cam = camera_for(c.tiled ? Format::dng_deflate_float : Format::dng, 200, 136);
        cam.noise_sigma = 40;
        cam.default_crop = c.crop;
        const Mosaic m = render_mosaic(Scene{}, cam);
        DecoderSession s;
        decode_bytes(s, c.tiled ? write_dng_deflate_float(m, cam) : write_dng(m, cam));
        ASSERT_NE(s.raw_count, 0);
        ASSERT_EQ(s.height, c.want_height);
        ASSERT_EQ(s.width, c.want_width);
        ASSERT_EQ(s.image.size(), size_t(s.height) * size_t(s.width));
        const bool applied = c.want_width == c.crop[3];
        const int top = applied ? c.crop[0] : 0, left = applied ? c.crop[1] : 0;
        int wrong_colour = 0, wrong_value = 0;
        for (int r = 0; r < s.height; ++r)
            for (int col = 0; col < s.width; ++col) {
                // The decoder gives the second green a plane of its own.
                const int plane = s.filter_color(r, col);
                if ((plane == 3 ? 1 : plane) != cam.color_at(r + top, col + left)) ++wrong_colour;
                const uint16_t v = m.at(r + top, col + left);
                const double want = c.tiled ? expected_level(cam, v) : double(v);
                if (std::fabs(s.image[size_t(r) * size_t(s.width) + size_t(col)][size_t(plane)] - want) > 1.5)
                    ++wrong_value;
            }
        EXPECT_EQ(wrong_colour, 0);
        EXPECT_EQ(wrong_value, 0);
        for (int i = 0; i < 4; ++i) {
            const int corner = s.corner_colors[size_t(i)];
            EXPECT_EQ(corner == 3 ? 1 : corner, cam.color_at(top + (i >> 1), left + (i & 1)));
        }
    }
}

// A black level that repeats over a 2x2 cell, read by the loaders that keep
// one black level for the image: after subtracting that level every site
// is its signal above its own black.
TEST(SimcamDngCoded, BlackPatternIsTakenPerSite) {
    for (const bool ljpeg : {false, true}) {
        SCOPED_TRACE(ljpeg ? "lossless JPEG tiles" : "plain strip");
        Camera cam = camera_for(ljpeg ? Format::dng_ljpeg : Format::dng, 128, 96);
        cam.black = 256;
        cam.black_cells = {0, 40, -30, 90};
        cam.noise_sigma = 10;
        const Mosaic m = render_mosaic(Scene{}, cam);
        DecoderSession s;
        decode_bytes(s, ljpeg ? write_dng_ljpeg(m, cam) : write_dng(m, cam));
        ASSERT_NE(s.raw_count, 0);
        ASSERT_EQ(s.width, m.width);
        EXPECT_EQ(s.black_level, 256 + 25);  // the mean of the four
        int wrong = 0, clipped = 0;
        for (int r = 0; r < s.height; ++r)
            for (int c = 0; c < s.width; ++c) {
                const uint16_t got = s.image[size_t(r) * size_t(s.width) + size_t(c)][size_t(s.filter_color(r, c))];
                if (m.at(r, c) >= cam.white) {
                    ++clipped;  // white stays white, whatever the site's black
                    if (got < s.white_level) ++wrong;
                    continue;
                }
                const double want = double(m.at(r, c)) - cam.black - cam.black_cells[size_t((r & 1) * 2 + (c & 1))];
                if (std::fabs(double(got) - double(s.black_level) - want) > 0.5) ++wrong;
            }
        EXPECT_GT(clipped, 0);  // the scene's highlights reach white
        EXPECT_EQ(wrong, 0);
    }
}

}  // namespace
