#include "persistence/image_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/session/decoder_session.h"
#include "core/thumb/entries.h"
#include "tests/support/samples.h"

namespace ostel::persistence {
namespace {

// Reference values come from a separate implementation of the hash.
TEST(ImageId, HashMatchesReferenceValuesForEveryTailLength) {
    std::string block;
    for (int i = 0; i < 4096; ++i) block.push_back(char(i & 0xFF));
    const struct {
        std::string data;
        uint32_t initial;
        uint32_t expected;
    } cases[] = {
        {block, 4096, uint32_t(1812698685)},
        {"abcdefg", 7, 4033987565u},            // three bytes left over
        {"hello world!\x80", 13, 2944397083u},  // one byte left over, above 127
    };
    for (const auto& c : cases)
        EXPECT_EQ(super_fast_hash(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size(), c.initial),
                  c.expected)
            << c.data.size() << " bytes";
}

// A mosaic image of `width` x `height` whose visible pixel (r, c) holds
// value(r, c), stored on the full or the halved grid.
template <class Value>
void fill_session(core::DecoderSession& s, int width, int height, int half_grid, Value value) {
    // Red and green on row 0, the second green (3) and blue on row 1, as the
    // decoder keeps a Bayer image, so a halved record holds the whole block.
    s.cfa_pattern = 0xB4B4B4B4;
    s.width = width;
    s.height = height;
    s.half_grid = half_grid;
    s.image_width = (width + half_grid) >> half_grid;
    s.image_height = (height + half_grid) >> half_grid;
    s.image.assign(size_t(s.image_width) * size_t(s.image_height), core::Pixel4{});
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) s.bayer_store(r, c, value(r, c));
}

TEST(ImageId, FirstRowSamplesOfAWideSensorGiveTheKnownId) {
    core::DecoderSession s;
    // Row 0 sample k = k*31, plus 1000 at the odd (colour 1) sites.
    fill_session(s, 2100, 4, 0, [](int r, int c) { return uint16_t(r * 7 + c * 31 + (c & 1) * 1000); });
    EXPECT_EQ(image_id(s), 715614276);
}

TEST(ImageId, SameForFullAndHalvedGrid) {
    // The halved grid is chosen by the pre-filter controls, not the file;
    // narrow sensors wrap into later rows, where the layouts differ.
    for (int width : {100, 2100}) {
        auto value = [](int r, int c) { return uint16_t(r * 4099 + c * 13); };
        core::DecoderSession full, halved;
        fill_session(full, width, 40, 0, value);
        fill_session(halved, width, 40, 1, value);
        EXPECT_EQ(image_id(full), image_id(halved)) << "width " << width;
        EXPECT_NE(image_id(full), 0);
    }
}

TEST(ImageId, SmallImagesUseOnlyTheirOwnPixels) {
    // 30 x 30 = 900 pixels, fewer than the hashed samples; the rest counts as 0.
    auto value = [](int r, int c) { return uint16_t(1 + r * 30 + c); };
    core::DecoderSession a, b;
    fill_session(a, 30, 30, 0, value);
    fill_session(b, 30, 30, 0, value);
    b.bayer_store(29, 29, 12345);  // the very last pixel still counts
    EXPECT_NE(image_id(a), image_id(b));
    // Leftover records beyond the visible area do not enter the hash.
    a.image.resize(a.image.size() + 500, core::Pixel4{7, 7, 7, 7});
    core::DecoderSession c;
    fill_session(c, 30, 30, 0, value);
    EXPECT_EQ(image_id(a), image_id(c));
}

TEST(ImageId, PhotosAlikeOnlyInFlatFirstRowsGetTheirOwnIds) {
    // The first 30 rows (3000 samples, more than are hashed) hold one level
    // per colour, the rest differs between the photos: a clipped sky, a
    // black edge at per-colour black levels.
    const struct {
        const char* what;
        uint16_t levels[4];
    } cases[] = {{"clipped", {4095, 4095, 4095, 4095}}, {"black edge", {128, 130, 126, 130}}};
    for (const auto& c : cases) {
        int32_t ids[2][2] = {};
        for (int photo = 0; photo < 2; ++photo)
            for (int half = 0; half < 2; ++half) {
                core::DecoderSession s;
                fill_session(s, 100, 80, half, [&](int r, int col) {
                    if (r < 30) return c.levels[r % 2 * 2 + col % 2];
                    return uint16_t(500 + r * 3 + col + photo * (r + col) % 7);
                });
                ids[photo][half] = image_id(s);
            }
        EXPECT_NE(ids[0][0], ids[1][0]) << c.what;
        EXPECT_EQ(ids[0][0], ids[0][1]) << c.what << ": the halved grid gives another id";
        EXPECT_EQ(ids[1][0], ids[1][1]) << c.what << ": the halved grid gives another id";
    }
}

TEST(ImageId, NoDecodedImageGivesZero) {
    core::DecoderSession s;
    s.width = 100;
    s.height = 100;
    EXPECT_EQ(image_id(s), 0);
}

TEST(ImageId, RealFileKeepsItsIdWhenDecodedOnTheHalvedGrid) {
    const std::string path = test::testdata_path("canon_eos30d.cr2");
    if (test::read_file(path).empty()) GTEST_SKIP() << "testdata/canon_eos30d.cr2 missing";
    int32_t ids[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
        core::DecoderSession s;
        ASSERT_TRUE(core::ByteSource::load_file(path, s.input));
        s.denoise_threshold = pass ? 100.0f : 0.0f;
        core::decode(s);
        ASSERT_FALSE(s.image.empty());
        EXPECT_EQ(s.half_grid, pass);
        ids[pass] = image_id(s);
    }
    EXPECT_NE(ids[0], 0);
    EXPECT_EQ(ids[0], ids[1]);
}

}  // namespace
}  // namespace ostel::persistence
