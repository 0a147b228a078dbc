// Simulated files of every writer go through the decode entry and must come
// back as the exact mosaic; damaged copies must end cleanly and be counted.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "core/session/decoder_session.h"
#include "core/thumb/entries.h"
#include "tools/simcam/formats.h"

namespace {

using ostel::core::DecoderSession;
using ostel::core::LoaderId;
using namespace ostel::simcam;

struct Case {
    Format format;
    int bits;  // 0: the camera's default
    LoaderId loader;
    const char* make;
    const char* model;
};

const Case kCases[] = {
    {Format::cr2, 0, LoaderId::lossless_image_load_raw, "Canon", "EOS 30D"},
    {Format::cr2, 14, LoaderId::lossless_image_load_raw, "Canon", "EOS 30D"},
    {Format::dng, 0, LoaderId::adobe_dng_load_raw_nc, "Ostel", "SimCam 1"},
    {Format::dng, 12, LoaderId::adobe_dng_load_raw_nc, "Ostel", "SimCam 1"},
    {Format::dng_ljpeg, 0, LoaderId::dng_lossless_tiles_load_raw, "Ostel", "SimCam 1"},
    {Format::nef, 0, LoaderId::packed_bits_load_raw, "NIKON", "D1"},
    {Format::nef_compressed, 0, LoaderId::nikon_huffman_load_raw, "NIKON", "D1"},
    {Format::nef_compressed, 14, LoaderId::nikon_huffman_load_raw, "NIKON", "D1"},
    {Format::pef, 0, LoaderId::unpacked_load_raw, "PENTAX", "K10D"},
    {Format::pef_compressed, 0, LoaderId::pentax_table_load_raw, "PENTAX", "K10D"},
};

std::string case_name(const Case& c) {
    return std::string(format_name(c.format)) + (c.bits ? "_" + std::to_string(c.bits) : "");
}

struct Shot {
    Camera camera;
    Mosaic mosaic;
    std::vector<uint8_t> file;
};

Shot shoot(const Case& c) {
    Shot s;
    s.camera = camera_for(c.format, 128, 96);
    if (c.bits) {
        s.camera.bits = c.bits;
        s.camera.white = (1 << c.bits) - 1;
    }
    s.camera.noise_sigma = 6;  // noise exercises every difference length
    s.mosaic = render_mosaic(Scene{}, s.camera);
    s.file = write_raw(c.format, s.mosaic, s.camera);
    return s;
}

void decode_bytes(DecoderSession& s, std::vector<uint8_t> bytes) {
    s.input = ostel::core::ByteSource(std::move(bytes));
    ostel::core::decode(s);
}

void PrintTo(const Case& c, std::ostream* os) { *os << case_name(c); }

class SimcamRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(SimcamRoundTrip, LoaderReturnsTheMosaicExactly) {
    const Case& c = GetParam();
    const Shot shot = shoot(c);
    DecoderSession s;
    decode_bytes(s, shot.file);

    ASSERT_NE(s.raw_count, 0) << "refused";
    EXPECT_EQ(s.loader, c.loader) << ostel::core::loader_name(s.loader);
    EXPECT_STREQ(s.make, c.make);
    EXPECT_STREQ(s.model, c.model);
    EXPECT_EQ(s.short_read_count, 0);
    ASSERT_EQ(s.width, shot.mosaic.width - s.crop_left);
    ASSERT_EQ(s.height, shot.mosaic.height - s.crop_top);
    ASSERT_EQ(s.image.size(), size_t(s.width) * size_t(s.height));

    int mismatches = 0;
    for (int r = 0; r < s.height && mismatches < 5; ++r) {
        for (int col = 0; col < s.width && mismatches < 5; ++col) {
            const int plane = s.filter_color(r, col);
            // The pattern word keeps the camera's layout (the second green
            // gets its own index, still a green site).
            const int expect_colour = shot.camera.color_at(r + s.crop_top, col + s.crop_left);
            EXPECT_EQ(plane == 3 ? 1 : plane, expect_colour) << "pattern at " << r << "," << col;
            const uint16_t got = s.image[size_t(r) * size_t(s.image_width) + size_t(col)][size_t(plane)];
            const uint16_t want = shot.mosaic.at(r + s.crop_top, col + s.crop_left);
            if (got != want) {
                ++mismatches;
                ADD_FAILURE() << "pixel " << r << "," << col << ": " << got << " != " << want;
            }
        }
    }
}

TEST_P(SimcamRoundTrip, CutShortFileEndsCleanlyAndIsCounted) {
    const Case& c = GetParam();
    const Shot shot = shoot(c);
    // The pixel data is the end of the file. Cut a large part of it, or
    // only its last bytes: four reach into the data behind the lossless
    // JPEG end marker and the padding byte that may follow it.
    const size_t large = shot.mosaic.values.size() / 4;  // well below any format's data size
    for (const size_t cut_bytes : {large, size_t(4)}) {
        std::vector<uint8_t> cut = shot.file;
        cut.resize(cut.size() - cut_bytes);
        DecoderSession s;
        decode_bytes(s, cut);
        ASSERT_NE(s.raw_count, 0);
        EXPECT_GT(s.short_read_count, 0) << "cut by " << cut_bytes;
    }
}

TEST_P(SimcamRoundTrip, OverwrittenDataEndsCleanly) {
    const Case& c = GetParam();
    const Shot shot = shoot(c);
    std::vector<uint8_t> bad = shot.file;
    // All-ones data: markers for lossless JPEG, the longest codes elsewhere.
    const size_t from = bad.size() - shot.mosaic.values.size() / 2;
    std::fill(bad.begin() + static_cast<long>(from), bad.end(), 0xFF);
    DecoderSession s;
    decode_bytes(s, bad);
    ASSERT_NE(s.raw_count, 0);
    if (c.format == Format::cr2 || c.format == Format::dng_ljpeg) EXPECT_GT(s.short_read_count, 0);
}

// The four-colour compacts: their identification rules fix the sensor size
// and the file size, so a cut file is another camera altogether; what must
// hold is the exact mosaic, the four filter colours and the levels.
TEST(SimcamFourColour, CompactsDecodeToTheirMosaicWithFourColoursAndTheirLevels) {
    const struct {
        Format format;
        const char* make;
        const char* model;
        int white;
    } cases[] = {
        {Format::crw_packed, "Canon", "PowerShot A50", 1023},
        {Format::nef_cmyg, "NIKON", "E5700", 4095},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(format_name(c.format));
        Camera cam = camera_for(c.format);
        cam.noise_sigma = 1.5;
        const Mosaic m = render_mosaic(Scene{}, cam);
        DecoderSession s;
        decode_bytes(s, write_raw(c.format, m, cam));
        ASSERT_NE(s.raw_count, 0) << "refused";
        EXPECT_STREQ(s.make, c.make);
        EXPECT_STREQ(s.model, c.model);
        EXPECT_EQ(s.loader, LoaderId::packed_bits_load_raw);
        EXPECT_EQ(s.color_count, 4);
        EXPECT_STREQ(s.color_letters, "GMCY");
        EXPECT_EQ(s.white_level, c.white);
        // The Canon takes its black level from the covered columns.
        EXPECT_NEAR(s.black_level, cam.black, 1);
        EXPECT_EQ(s.short_read_count, 0);
        ASSERT_EQ(s.width, cam.visible_width());
        ASSERT_EQ(s.height, cam.height);
        int mismatches = 0;
        for (int r = 0; r < s.height && mismatches < 5; ++r)
            for (int col = 0; col < s.width && mismatches < 5; ++col) {
                const int plane = s.filter_color(r, col);
                ASSERT_EQ(plane, cam.color_at(r, col)) << "pattern at " << r << "," << col;
                const uint16_t got = s.image[size_t(r) * size_t(s.image_width) + size_t(col)][size_t(plane)];
                if (got != m.at(r, col)) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel " << r << "," << col << ": " << got << " != " << m.at(r, col);
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SimcamRoundTrip, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return case_name(i.param); });

}  // namespace
