// The lossless JPEG loaders on real camera files. The stream positions are
// found with a minimal directory walk here, so these tests depend on nothing
// but the loaders themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "core/loaders/loaders.h"
#include "tests/support/samples.h"

using namespace ostel::core;

namespace {

struct Entry {
    unsigned type = 0, count = 0;
    uint32_t value = 0;
};
using Ifd = std::map<unsigned, Entry>;

// Little-endian directories only: both samples are "II" files.
struct MiniTiff {
    std::vector<unsigned char> bytes;
    uint32_t u32(size_t at) const {
        return at + 4 <= bytes.size() ? uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 |
                                            uint32_t(bytes[at + 2]) << 16 | uint32_t(bytes[at + 3]) << 24
                                      : 0;
    }
    unsigned u16(size_t at) const { return at + 2 <= bytes.size() ? bytes[at] | bytes[at + 1] << 8 : 0; }
    Ifd ifd(uint32_t offset, uint32_t* next = nullptr) const {
        Ifd out;
        const unsigned n = u16(offset);
        for (unsigned i = 0; i < n; ++i) {
            const size_t e = offset + 2 + 12 * size_t(i);
            Entry entry{u16(e + 2), u32(e + 4), u32(e + 8)};
            if (entry.type == 3 && entry.count == 1) entry.value = u16(e + 8);
            out[u16(e)] = entry;
        }
        if (next) *next = u32(offset + 2 + 12 * size_t(n));
        return out;
    }
};

std::string sample(const std::string& name) {
    for (const auto& path : ostel::test::sample_files("real"))
        if (path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0) return path;
    return {};
}

}  // namespace

TEST(LjpegSamples, CanonSlicedImageDecodesWithoutDataErrors) {
    OSTEL_REQUIRE_SAMPLES();
    const std::string path = sample("canon_eos30d.cr2");
    if (path.empty()) GTEST_SKIP() << "sample missing";
    MiniTiff tiff{ostel::test::read_file(path)};
    uint32_t next = tiff.u32(4);
    Ifd raw_ifd;
    for (int i = 0; i < 4 && next; ++i) raw_ifd = tiff.ifd(next, &next);
    ASSERT_TRUE(raw_ifd.count(0x111) && raw_ifd.count(0xC640));
    const uint32_t slices = raw_ifd[0xC640].value;

    DecoderSession s;
    s.input = ByteSource(std::vector<uint8_t>(tiff.bytes.begin(), tiff.bytes.end()));
    set_text(s.make, "Canon");
    // Sensor 3596 x 2360 with the visible 3504 x 2336 at (19, 84).
    s.stored_width = 3596;
    s.stored_height = 2360;
    s.crop_top = 19;
    s.crop_left = 84;
    s.width = s.image_width = 3504;
    s.height = s.image_height = 2336;
    s.cfa_pattern = 0x94949494;
    s.ljpeg_slices = {static_cast<uint16_t>(tiff.u16(slices)), static_cast<uint16_t>(tiff.u16(slices + 2)),
                      static_cast<uint16_t>(tiff.u16(slices + 4))};
    s.image.assign(size_t(s.width) * size_t(s.height), Pixel4{});
    s.seek(raw_ifd[0x111].value);
    lossless_image_load_raw(s);

    EXPECT_EQ(s.short_read_count, 0);
    // Twelve-bit data, black from the masked columns on the left.
    EXPECT_GT(s.black_level, 64);
    EXPECT_LT(s.black_level, 512);
    uint16_t lo = 65535, hi = 0;
    for (int r = 0; r < s.height; r += 97)
        for (int c = 0; c < s.width; c += 89) {
            const uint16_t v = s.image[size_t(r) * size_t(s.width) + size_t(c)][s.filter_color(r, c)];
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    EXPECT_GT(lo, 0);
    EXPECT_LE(hi, 4095);
    EXPECT_GT(hi, lo);
}

TEST(LjpegSamples, TiledDngFillsTheWholeImage) {
    OSTEL_REQUIRE_SAMPLES();
    const std::string path = sample("google_pixel7_crop.dng");
    if (path.empty()) GTEST_SKIP() << "sample missing";
    MiniTiff tiff{ostel::test::read_file(path)};
    Ifd root = tiff.ifd(tiff.u32(4));
    ASSERT_TRUE(root.count(0x14A));
    Ifd raw_ifd = tiff.ifd(root[0x14A].value);
    ASSERT_EQ(raw_ifd[0x103].value, 7u);

    DecoderSession s;
    s.input = ByteSource(std::vector<uint8_t>(tiff.bytes.begin(), tiff.bytes.end()));
    s.dng_version = 0x01060000;
    s.stored_width = s.width = s.image_width = static_cast<int>(raw_ifd[0x100].value);
    s.stored_height = s.height = s.image_height = static_cast<int>(raw_ifd[0x101].value);
    s.tile_width = static_cast<int>(raw_ifd[0x142].value);
    s.tile_length = static_cast<int>(raw_ifd[0x143].value);
    ASSERT_TRUE(s.width % s.tile_width != 0 || s.height % s.tile_length != 0) << "tiles should overhang";
    s.cfa_pattern = 0x94949494;
    s.raw_count = 1;
    s.samples_per_pixel = 1;
    s.image.assign(size_t(s.width) * size_t(s.height), Pixel4{});
    s.seek(raw_ifd[0x144].value);
    dng_lossless_tiles_load_raw(s);

    EXPECT_EQ(s.short_read_count, 0);
    // Every position, the overhanging right and bottom edges included, got a sample.
    int64_t empty = 0;
    for (int r = 0; r < s.height; ++r)
        for (int c = 0; c < s.width; ++c)
            if (s.image[size_t(r) * size_t(s.width) + size_t(c)][s.filter_color(r, c)] == 0) ++empty;
    EXPECT_LT(empty, int64_t(s.width) * s.height / 1000);
}
