// The lossless JPEG loaders: whole images (margins, masked columns, column
// slices, the shifted 3984 layout), subsampled luma/chroma and tiled DNG.
#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <chrono>

#include "core/ljpeg/ljpeg.h"
#include "core/loaders/loaders.h"
#include "tests/core/ljpeg_test_stream.h"
#include "tests/support/byte_builder.h"

using namespace ostel::core;
using ostel::test::LjpegParams;
using ostel::test::LjpegWriter;

namespace {

using Lines = std::vector<std::vector<uint16_t>>;
constexpr uint32_t kBayer = 0x94949494;

// Cuts a sample sequence into coded lines of n samples.
Lines chop(const std::vector<uint16_t>& samples, size_t n) {
    Lines lines;
    for (size_t i = 0; i < samples.size(); i += n)
        lines.emplace_back(samples.begin() + static_cast<long>(i), samples.begin() + static_cast<long>(i + n));
    return lines;
}

void prepare(DecoderSession& s, std::vector<uint8_t> file, int raw_w, int raw_h, int top, int left, int w, int h) {
    s.input = ByteSource(std::move(file));
    s.stored_width = raw_w;
    s.stored_height = raw_h;
    s.crop_top = top;
    s.crop_left = left;
    s.width = w;
    s.height = h;
    s.image_width = w;
    s.image_height = h;
    s.image.assign(size_t(w) * size_t(h), Pixel4{});
}

uint16_t at(const DecoderSession& s, int row, int col) {
    return s.image[size_t(row) * size_t(s.image_width) + size_t(col)][s.filter_color(row, col)];
}

}  // namespace

TEST(LjpegLoaders, WholeImageMarginsCurveAndMaskedColumnBlack) {
    // 16 x 6 raw array, visible area 8 x 4 at (1, 6): columns 2 and 3 are
    // masked (0 and 1 and the two next to the image are not counted).
    const int raw_w = 16, raw_h = 6;
    auto raw = [](int r, int c) -> uint16_t {
        if (c == 2) return 100;
        if (c == 3) return 110;
        return static_cast<uint16_t>(1000 + r * 16 + c);
    };
    std::vector<uint16_t> samples;
    for (int r = 0; r < raw_h; ++r)
        for (int c = 0; c < raw_w; ++c) samples.push_back(raw(r, c));
    LjpegParams params;
    params.bits = 12;
    params.wide = 8;
    params.high = raw_h;
    const auto stream = LjpegWriter::encode(params, chop(samples, 16));

    DecoderSession s;
    prepare(s, stream, raw_w, raw_h, 1, 6, 8, 4);
    s.cfa_pattern = kBayer;
    s.black_level = 7;
    for (int i = 0; i < 4096; ++i) s.lin_table[size_t(i)] = static_cast<uint16_t>(2 * i);
    lossless_image_load_raw(s);

    // Dark means 200 and 220 after the curve: odd columns move down by 20
    // and the black level is their common mean.
    EXPECT_EQ(s.black_level, 200);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c) EXPECT_EQ(at(s, r, c), 2 * raw(r + 1, c + 6) - (c & 1 ? 20 : 0)) << r << "," << c;
    EXPECT_EQ(s.short_read_count, 0);

    // Without masked columns neither the samples nor the black level change;
    // a Kodak file takes its black level from the smallest visible sample.
    for (const char* make : {"Canon", "Kodak"}) {
        DecoderSession plain;
        prepare(plain, stream, raw_w, raw_h, 0, 0, raw_w, raw_h);
        plain.cfa_pattern = kBayer;
        plain.black_level = 7;
        set_text(plain.make, make);
        lossless_image_load_raw(plain);
        EXPECT_EQ(plain.black_level, std::string(make) == "Kodak" ? 100 : 7) << make;
        for (int r = 0; r < raw_h; ++r)
            for (int c = 0; c < raw_w; ++c) EXPECT_EQ(at(plain, r, c), raw(r, c));
    }
}

TEST(LjpegLoaders, ColumnSlicesAndTheShifted3984Layout) {
    // Slices of 4, 4 and 6 columns stored one after another, top to bottom.
    {
        const int raw_w = 14, raw_h = 4;
        auto raw = [](int r, int c) { return static_cast<uint16_t>(5000 + 100 * r + c); };
        std::vector<uint16_t> samples;
        for (auto [first, n] : {std::pair{0, 4}, std::pair{4, 4}, std::pair{8, 6}})
            for (int r = 0; r < raw_h; ++r)
                for (int c = first; c < first + n; ++c) samples.push_back(raw(r, c));
        LjpegParams params;
        params.bits = 14;
        params.wide = 7;
        params.high = raw_h;
        DecoderSession s;
        prepare(s, LjpegWriter::encode(params, chop(samples, 14)), raw_w, raw_h, 0, 0, raw_w, raw_h);
        s.cfa_pattern = kBayer;
        s.ljpeg_slices = {2, 4, 6};
        lossless_image_load_raw(s);
        for (int r = 0; r < raw_h; ++r)
            for (int c = 0; c < raw_w; ++c) EXPECT_EQ(at(s, r, c), raw(r, c)) << r << "," << c;

        // Slice words with a zero width are ignored rather than divided by.
        DecoderSession bad;
        prepare(bad, LjpegWriter::encode(params, chop(samples, 14)), raw_w, raw_h, 0, 0, raw_w, raw_h);
        bad.cfa_pattern = kBayer;
        bad.ljpeg_slices = {2, 0, 6};
        lossless_image_load_raw(bad);
        EXPECT_EQ(at(bad, 0, 0), samples[0]);
    }
    // Every sample lands two columns left; the first two of a line wrap to
    // the end of the line above.
    {
        const int raw_w = 3984, raw_h = 2;
        auto raw = [](int r, int c) { return static_cast<uint16_t>(r * 4000 + c + 1); };
        std::vector<uint16_t> samples;
        for (int r = 0; r < raw_h; ++r)
            for (int c = 0; c < raw_w; ++c) samples.push_back(raw(r, c));
        LjpegParams params;
        params.bits = 14;
        params.wide = raw_w / 2;
        params.high = raw_h;
        DecoderSession s;
        prepare(s, LjpegWriter::encode(params, chop(samples, raw_w)), raw_w, raw_h, 0, 0, raw_w, raw_h);
        s.cfa_pattern = kBayer;
        lossless_image_load_raw(s);
        EXPECT_EQ(at(s, 0, 0), raw(0, 2));
        EXPECT_EQ(at(s, 0, 3981), raw(0, 3983));
        EXPECT_EQ(at(s, 0, 3982), raw(1, 0));
        EXPECT_EQ(at(s, 0, 3983), raw(1, 1));
        EXPECT_EQ(at(s, 1, 0), raw(1, 2));
        EXPECT_EQ(at(s, 1, 3981), raw(1, 3983));
        EXPECT_EQ(at(s, 1, 3982), 0);
    }
}

TEST(LjpegLoaders, SubsampledLumaChromaLayouts) {
    // Luma encodes the position; chroma rises by 8 per group across and by
    // 64 per group line down, so the filled-in positions show the means.
    struct Case {
        int sampling, sraw, width, height;
    };
    for (const Case& c : {Case{0x21, 1, 8, 3}, Case{0x22, 3, 8, 4}}) {
        const int group_rows = c.sraw == 3 ? 2 : 1;
        auto luma = [](int r, int col) { return 1000 + 16 * r + col; };
        Lines lines;
        for (int gr = 0; gr < c.height / group_rows; ++gr) {
            std::vector<uint16_t> line;
            for (int k = 0; k < c.width / 2; ++k) {
                const int r = gr * group_rows, col = 2 * k;
                line.push_back(static_cast<uint16_t>(luma(r, col)));
                line.push_back(static_cast<uint16_t>(luma(r, col + 1)));
                if (c.sraw == 3) {
                    line.push_back(static_cast<uint16_t>(luma(r + 1, col)));
                    line.push_back(static_cast<uint16_t>(luma(r + 1, col + 1)));
                }
                line.push_back(static_cast<uint16_t>(16384 + 8 * k + 64 * gr));  // Cb
                line.push_back(static_cast<uint16_t>(16384 + 20));               // Cr
            }
            lines.push_back(line);
        }
        LjpegParams params;
        params.bits = 15;
        params.components = 3;
        params.sampling = c.sampling;
        params.sraw = c.sraw;
        params.wide = c.width;  // the frame counts luma columns
        params.decoded_wide = c.width / 2;
        params.high = static_cast<int>(lines.size());

        DecoderSession s;
        prepare(s, LjpegWriter::encode(params, lines), c.width, c.height, 0, 0, c.width, c.height);
        s.cfa_pattern = 0;
        s.sraw_scale = {1024, 1024, 1024, 0};
        s.model_id = 0x80000100;  // earlier model: the plain conversion
        sraw_ycc_load_raw(s);
        ASSERT_EQ(s.white_level, 0x3FFF);

        const int row_part_3[] = {0, 32, 64, 64};
        for (int r = 0; r < c.height; ++r)
            for (int col = 0; col < c.width; ++col) {
                const int cb = 8 * (col / 2) + ((col & 1) && col + 1 < c.width ? 4 : 0) +
                               (c.sraw == 3 ? row_part_3[r] : 64 * r);
                const int y = luma(r, col);
                const Pixel4& p = s.image[size_t(r) * size_t(c.width) + size_t(col)];
                EXPECT_EQ(p[0], y + 20 - 512) << "sraw " << c.sraw << " at " << r << "," << col;
                EXPECT_EQ(p[2], y + cb - 512) << "sraw " << c.sraw << " at " << r << "," << col;
                EXPECT_EQ(p[1], y + ((-778 * cb - 20 * 2048) >> 12) - 512);
            }
        EXPECT_EQ(s.short_read_count, 0);
    }

    // A stream without subsampling is refused instead of looping forever.
    LjpegParams plain;
    plain.components = 3;
    plain.wide = 4;
    plain.high = 2;
    DecoderSession s;
    prepare(s, LjpegWriter::encode(plain, Lines(2, std::vector<uint16_t>(12, 5))), 4, 2, 0, 0, 4, 2);
    s.cfa_pattern = 0;
    sraw_ycc_load_raw(s);
    EXPECT_EQ(s.white_level, 0);
    EXPECT_EQ(s.short_read_count, 1);
}

TEST(LjpegLoaders, DngTilesOverhangingTheImage) {
    // 10 x 7 raw array in 4 x 4 tiles (3 x 2 tiles, the last ones overhang),
    // visible area at (1, 2). Samples beyond the array are junk.
    const int raw_w = 10, raw_h = 7, tile = 4;
    auto raw = [](int r, int c, int plane) {
        return (r < raw_h && c < raw_w) ? static_cast<uint16_t>(300 + 20 * r + c + 1000 * plane) : uint16_t(60000);
    };
    for (const bool cfa : {true, false}) {
        const int spp = cfa ? 1 : 3;
        LjpegParams params;
        params.bits = 16;
        params.components = cfa ? 2 : 3;
        params.wide = cfa ? tile / 2 : tile;
        params.high = tile;

        ostel::test::ByteBuilder file(true);
        file.zeros(8);
        const size_t list = file.size();
        file.zeros(4 * 6);
        int index = 0;
        for (int tr = 0; tr < raw_h; tr += tile)
            for (int tc = 0; tc < raw_w; tc += tile) {
                Lines lines;
                for (int r = 0; r < tile; ++r) {
                    std::vector<uint16_t> line;
                    for (int c = 0; c < tile; ++c)
                        for (int p = 0; p < spp; ++p) line.push_back(raw(tr + r, tc + c, p));
                    lines.push_back(line);
                }
                file.patch_u32(list + 4 * size_t(index++), static_cast<uint32_t>(file.size()));
                file.raw(LjpegWriter::encode(params, lines));
            }

        DecoderSession s;
        prepare(s, file.take(), raw_w, raw_h, 1, 2, 8, 6);
        s.cfa_pattern = cfa ? kBayer : 0;
        s.samples_per_pixel = spp;
        s.raw_count = 1;
        s.tile_width = tile;
        s.tile_length = tile;
        s.dng_version = 0x01040000;
        s.seek(static_cast<int64_t>(list));
        dng_lossless_tiles_load_raw(s);
        EXPECT_EQ(s.tell(), static_cast<int64_t>(list) + 24);  // back behind the offset list
        for (int r = 0; r < 6; ++r)
            for (int c = 0; c < 8; ++c) {
                if (cfa) {
                    EXPECT_EQ(at(s, r, c), raw(r + 1, c + 2, 0)) << r << "," << c;
                } else {
                    for (int p = 0; p < 3; ++p) EXPECT_EQ(s.image[size_t(r) * 8 + size_t(c)][size_t(p)], raw(r + 1, c + 2, p));
                }
            }
        EXPECT_EQ(s.short_read_count, 0);
    }
}

TEST(LjpegLoaders, HostileSizesEndQuickly) {
    // A frame header claiming 65535 x 65535 samples over two bytes of data.
    std::vector<uint8_t> stream = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x15, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                   0,    0,    0,    0,    0,    0,    0,    0xFF, 0xC3, 0x00, 0x0E, 12, 0xFF,
                                   0xFF, 0xFF, 0xFF, 2,    1,    0x11, 0,    2,    0x11, 0,    0xFF, 0xDA, 0x00,
                                   0x0A, 2,    1,    0,    2,    0,    1,    0,    0,    0x00, 0x00};
    const auto start = std::chrono::steady_clock::now();
    DecoderSession s;
    prepare(s, stream, 64, 64, 0, 0, 64, 64);
    s.cfa_pattern = kBayer;
    lossless_image_load_raw(s);
    EXPECT_GT(s.short_read_count, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // Tile sizes of zero would never advance.
    DecoderSession tiles;
    prepare(tiles, stream, 64, 64, 0, 0, 64, 64);
    tiles.cfa_pattern = kBayer;
    tiles.tile_width = 0;
    dng_lossless_tiles_load_raw(tiles);
    EXPECT_EQ(tiles.tell(), 0);
}

namespace {

// A lossless stream of lines x (2 x wide) samples of 700, its frame header
// optionally relabelled as another JPEG process.
std::vector<uint8_t> flat_stream(int wide, int lines, int frame_marker) {
    LjpegParams params;
    params.wide = wide;
    params.high = lines;
    auto bytes = LjpegWriter::encode(params, Lines(size_t(lines), std::vector<uint16_t>(size_t(2 * wide), 700)));
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC3) bytes[i + 1] = static_cast<uint8_t>(frame_marker);
    return bytes;
}

}  // namespace

TEST(LjpegLoaders, StreamsThatCannotFillTheImageAreCounted) {
    // An 8 x 4 raw array in one stream, or in two 4 x 4 tiles.
    const int raw_w = 8, raw_h = 4;
    struct Case {
        const char* what;
        int lines;
        int frame_marker;
    };
    const Case cases[] = {
        {"complete lossless stream", raw_h, 0xC3},
        {"extended DCT frame", raw_h, 0xC1},
        {"baseline DCT frame", raw_h, 0xC0},
        {"fewer lines than the image", raw_h / 2, 0xC3},
    };
    for (const Case& c : cases) {
        const bool lossless = c.frame_marker == 0xC3;
        const bool complete = lossless && c.lines == raw_h;

        DecoderSession whole;
        prepare(whole, flat_stream(raw_w / 2, c.lines, c.frame_marker), raw_w, raw_h, 0, 0, raw_w, raw_h);
        whole.cfa_pattern = kBayer;
        lossless_image_load_raw(whole);
        EXPECT_EQ(whole.short_read_count > 0, !complete) << "whole image: " << c.what;
        EXPECT_EQ(at(whole, 0, 0), lossless ? 700 : 0) << "whole image: " << c.what;

        ostel::test::ByteBuilder file(true);
        file.zeros(8);
        const size_t list = file.size();
        file.zeros(8);
        for (int t = 0; t < 2; ++t) {
            file.patch_u32(list + 4 * size_t(t), static_cast<uint32_t>(file.size()));
            file.raw(flat_stream(2, c.lines, c.frame_marker));
        }
        DecoderSession tiles;
        prepare(tiles, file.take(), raw_w, raw_h, 0, 0, raw_w, raw_h);
        tiles.cfa_pattern = kBayer;
        tiles.samples_per_pixel = 1;
        tiles.raw_count = 1;
        tiles.tile_width = 4;
        tiles.tile_length = 4;
        tiles.dng_version = 0x01040000;
        tiles.seek(static_cast<int64_t>(list));
        dng_lossless_tiles_load_raw(tiles);
        EXPECT_EQ(tiles.short_read_count > 0, !complete) << "tiles: " << c.what;
        EXPECT_EQ(at(tiles, 0, 5), lossless ? 700 : 0) << "tiles: " << c.what;
    }
}

TEST(LjpegLoaders, TilesDecodedSideBySideGiveTheSameImageAndCounts) {
    // 50 tiles of 4 x 4, each a flat stream of its own value: tile 7 stops
    // after two lines, tile 33 is no lossless stream, so it and the tiles
    // after it stay empty.
    const int raw_w = 40, raw_h = 20, tile = 4;
    ostel::test::ByteBuilder file(true);
    file.zeros(8);
    const size_t list = file.size();
    file.zeros(4 * 50);
    for (int t = 0; t < 50; ++t) {
        LjpegParams params;
        params.wide = tile / 2;
        params.high = t == 7 ? 2 : tile;
        auto stream = LjpegWriter::encode(
            params, Lines(size_t(params.high), std::vector<uint16_t>(size_t(tile), static_cast<uint16_t>(100 + t))));
        if (t == 33) stream[1] = 0;  // no start of image
        file.patch_u32(list + 4 * size_t(t), static_cast<uint32_t>(file.size()));
        file.raw(stream);
    }
    const std::vector<uint8_t> bytes = file.take();

    struct Result {
        std::vector<uint16_t> mosaic;
        int errors;
        int64_t end;
    };
    auto decode_with = [&](int threads) {
        DecoderSession s;
        prepare(s, bytes, raw_w, raw_h, 0, 0, raw_w, raw_h);
        s.cfa_pattern = kBayer;
        s.samples_per_pixel = 1;
        s.raw_count = 1;
        s.tile_width = tile;
        s.tile_length = tile;
        s.dng_version = 0x01040000;
        s.short_read_count = -3;  // a shortfall forgiven by a model rule
        s.seek(static_cast<int64_t>(list));
        const int before = omp_get_max_threads();
        omp_set_num_threads(threads);
        dng_lossless_tiles_load_raw(s);
        omp_set_num_threads(before);
        Result r{{}, s.short_read_count, s.tell()};
        for (int row = 0; row < raw_h; ++row)
            for (int col = 0; col < raw_w; ++col) r.mosaic.push_back(at(s, row, col));
        return r;
    };
    const Result one = decode_with(1);
    // The short tile counts from zero, the refused stream once more.
    EXPECT_EQ(one.errors, 2);
    auto tile_value = [&](int r, int c) { return one.mosaic[size_t(r * raw_w + c)]; };
    EXPECT_EQ(tile_value(0, 4 * 5), 105);
    EXPECT_EQ(tile_value(1, 4 * 7 + 1), 107);
    EXPECT_EQ(tile_value(3, 4 * 7), 0);  // beyond the short stream
    EXPECT_EQ(tile_value(4 * 3 + 3, 4 * 2 + 3), 132);
    EXPECT_EQ(tile_value(4 * 3, 4 * 3), 0);  // the refused tile
    EXPECT_EQ(tile_value(19, 39), 0);
    // No more threads than the runtime's default (at least two): records of
    // threads added past it are kept until exit, which the leak checker reports.
    const int threads = std::max(2, omp_get_max_threads());
    const Result many = decode_with(threads);
    EXPECT_EQ(many.errors, one.errors) << threads;
    EXPECT_EQ(many.end, one.end) << threads;
    EXPECT_EQ(many.mosaic, one.mosaic) << threads;
}
