// The decode and thumbnail entries and the in-memory thumbnail writers.
#include <gtest/gtest.h>

#include "core/thumb/entries.h"
#include "core/thumb/thumb_writers.h"
#include "tests/support/samples.h"

using namespace ostel::core;

namespace {

std::vector<uint8_t> patterned(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

std::string real_sample(const std::string& name) {
    for (const auto& path : ostel::test::sample_files("real"))
        if (path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0) return path;
    return {};
}

void open_file(DecoderSession& s, const std::string& path) {
    const auto bytes = ostel::test::read_file(path);
    s.input = ByteSource(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(EntriesThumb, JpegWriterDeliversTheBytesWithALeadingFf) {
    const std::vector<uint8_t> file = patterned(20000);
    DecoderSession s;
    s.input = ByteSource(file);
    s.thumb_to_memory = 1;
    s.thumb_length = 12345;
    s.seek(100);
    ASSERT_NE(file[100], 0xFF);
    run_thumb_writer(s, ThumbWriterId::jpeg);
    EXPECT_EQ(s.thumb_kind, 1);
    EXPECT_EQ(s.thumb_data_length, 12345);
    ASSERT_EQ(s.thumb_data.size(), 12345u);
    EXPECT_EQ(s.thumb_data[0], 0xFF);
    EXPECT_TRUE(std::equal(s.thumb_data.begin() + 1, s.thumb_data.end(), file.begin() + 101));
    EXPECT_EQ(s.thumb_to_memory, 0);
}

TEST(EntriesThumb, PpmWriterDeliversABgr0Bitmap) {
    const std::vector<uint8_t> file = patterned(60000);
    DecoderSession s;
    s.input = ByteSource(file);
    s.thumb_to_memory = 1;
    s.thumb_width = 160;
    s.thumb_height = 120;
    s.seek(10);
    run_thumb_writer(s, ThumbWriterId::ppm);
    EXPECT_EQ(s.thumb_kind, 2);
    EXPECT_EQ(s.thumb_bitmap_width, 160);
    EXPECT_EQ(s.thumb_bitmap_height, 120);
    ASSERT_EQ(s.thumb_data.size(), 76800u);
    EXPECT_EQ(s.thumb_data_length, 76800);
    const size_t last = 160 * 120 - 1;
    for (size_t p : {size_t(0), size_t(1), last}) {
        EXPECT_EQ(s.thumb_data[4 * p + 0], file[10 + 3 * p + 2]);
        EXPECT_EQ(s.thumb_data[4 * p + 1], file[10 + 3 * p + 1]);
        EXPECT_EQ(s.thumb_data[4 * p + 2], file[10 + 3 * p + 0]);
        EXPECT_EQ(s.thumb_data[4 * p + 3], 0);
    }
}

TEST(EntriesThumb, WritersDeliverNothingForUnusableThumbnails) {
    struct Case {
        const char* what;
        ThumbWriterId writer;
        int64_t offset, length;
        int width, height, to_memory;
    };
    const Case cases[] = {
        {"empty JPEG", ThumbWriterId::jpeg, 10, 0, 0, 0, 1},
        {"JPEG past the end", ThumbWriterId::jpeg, 900, 200, 0, 0, 1},
        {"negative JPEG length", ThumbWriterId::jpeg, 10, -5, 0, 0, 1},
        {"bitmap past the end", ThumbWriterId::ppm, 10, 0, 20, 20, 1},
        {"zero-sized bitmap", ThumbWriterId::ppm, 10, 0, 0, 20, 1},
        {"absurd bitmap", ThumbWriterId::ppm, 10, 0, 70000, 70000, 1},
        {"not to memory", ThumbWriterId::jpeg, 10, 100, 0, 0, 0},
        {"planar layout", ThumbWriterId::layered_planes, 10, 100, 8, 8, 1},
        {"Rollei layout", ThumbWriterId::rollei, 10, 100, 8, 8, 1},
    };
    for (const Case& c : cases) {
        DecoderSession s;
        s.input = ByteSource(patterned(1000));
        s.thumb_to_memory = c.to_memory;
        s.thumb_length = c.length;
        s.thumb_width = c.width;
        s.thumb_height = c.height;
        s.seek(c.offset);
        run_thumb_writer(s, c.writer);
        EXPECT_EQ(s.thumb_kind, 0) << c.what;
        EXPECT_TRUE(s.thumb_data.empty()) << c.what;
    }
}

TEST(EntriesThumb, MissingOrRefusedInputGivesNothing) {
    DecoderSession none;
    EXPECT_EQ(decode(none), 0);
    EXPECT_EQ(none.raw_count, 0);
    EXPECT_TRUE(none.image.empty());
    EXPECT_EQ(extract_thumbnail(none), 0);
    EXPECT_EQ(none.thumb_kind, 0);

    DecoderSession junk;
    junk.input = ByteSource(patterned(4096));
    EXPECT_EQ(extract_thumbnail(junk), 0);
    EXPECT_EQ(junk.thumb_kind, 0);
    EXPECT_EQ(decode(junk), 0);
    EXPECT_EQ(junk.raw_count, 0);
    EXPECT_TRUE(junk.image.empty());
}

TEST(EntriesThumb, RealFileThumbnailAndDecode) {
    OSTEL_REQUIRE_SAMPLES();
    const std::string path = real_sample("canon_eos30d.cr2");
    if (path.empty()) GTEST_SKIP() << "sample missing";

    DecoderSession thumb;
    open_file(thumb, path);
    EXPECT_EQ(extract_thumbnail(thumb), 0);
    ASSERT_EQ(thumb.thumb_kind, 1);
    ASSERT_GT(thumb.thumb_data.size(), 2u);
    EXPECT_EQ(thumb.thumb_data[0], 0xFF);
    EXPECT_EQ(thumb.thumb_data[1], 0xD8);
    EXPECT_EQ(thumb.thumb_data_length, static_cast<int64_t>(thumb.thumb_data.size()));
    EXPECT_STREQ(thumb.make, "Canon");

    // A chromatic-aberration scale other than 1 stores the mosaic at half size.
    for (const double ca : {1.0, 1.001}) {
        DecoderSession s;
        s.ca_scale[0] = ca;
        open_file(s, path);
        EXPECT_EQ(decode(s), 0);
        ASSERT_NE(s.raw_count, 0);
        EXPECT_EQ(s.half_grid, ca != 1.0 ? 1 : 0);
        EXPECT_EQ(s.image_width, (s.width + s.half_grid) >> s.half_grid);
        EXPECT_EQ(s.image_height, (s.height + s.half_grid) >> s.half_grid);
        EXPECT_EQ(s.image.size(), size_t(s.image_width) * size_t(s.image_height));
        EXPECT_EQ(s.short_read_count, 0);
        const Pixel4& mid = s.image[s.image.size() / 2 + size_t(s.image_width) / 2];
        EXPECT_GT(int(mid[0]) + mid[1] + mid[2] + mid[3], 0);
    }
}
