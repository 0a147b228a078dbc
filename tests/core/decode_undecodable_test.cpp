// Files whose raw data the selected loader cannot decode, built from
// simulated files by changing one field: the decode must either refuse the
// file or count data errors, never hand back an empty image as a good one.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/session/decoder_session.h"
#include "core/thumb/entries.h"
#include "tools/simcam/formats.h"

namespace {

using ostel::core::DecoderSession;
using namespace ostel::simcam;

std::vector<uint8_t> simulated(Format format) {
    Camera camera = camera_for(format, 64, 48);
    camera.noise_sigma = 4;
    return write_raw(format, render_mosaic(Scene{}, camera), camera);
}

// Replaces every occurrence of a byte sequence; returns how many there were.
int replace_all(std::vector<uint8_t>& bytes, const std::vector<uint8_t>& from, const std::vector<uint8_t>& to) {
    int found = 0;
    for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), from.begin(), from.end())) != bytes.end();) {
        it = std::copy(to.begin(), to.end(), it);
        ++found;
    }
    return found;
}

bool image_is_zero(const DecoderSession& s) {
    return std::all_of(s.image.begin(), s.image.end(), [](const ostel::core::Pixel4& p) {
        return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0;
    });
}

}  // namespace

TEST(UndecodableData, LossyJpegFramesAreRefusedOrCountedNotDecodedToBlack) {
    // Tiles or whole images whose frame header says DCT (8-bit baseline or
    // 12-bit extended) instead of lossless: what lossy DNG tiles look like
    // to the lossless decoder. DNG tiles reach the loader, which counts them;
    // a raw image that identification sizes from its frame header may
    // already be refused there.
    for (const Format format : {Format::dng_ljpeg, Format::cr2})
        for (const uint8_t frame : {uint8_t(0xC0), uint8_t(0xC1)}) {
            std::vector<uint8_t> file = simulated(format);
            ASSERT_GT(replace_all(file, {0xFF, 0xC3}, {0xFF, frame}), 0);
            DecoderSession s;
            s.input = ostel::core::ByteSource(std::move(file));
            ostel::core::decode(s);
            const std::string what = std::string(format_name(format)) + " frame " + std::to_string(frame);
            if (format == Format::dng_ljpeg) ASSERT_NE(s.raw_count, 0) << what;
            if (s.raw_count == 0) continue;
            EXPECT_GT(s.short_read_count, 0) << what;
            EXPECT_TRUE(image_is_zero(s)) << what;
        }
}

TEST(UndecodableData, TiledUncompressedDngWithCompressedTilesIsCounted) {
    // The tile grid relabelled as uncompressed: tiles shorter than their
    // plain size are counted as undecodable rather than read as noise (and
    // the offset list is never read as rows of pixels).
    std::vector<uint8_t> file = simulated(Format::dng_ljpeg);
    // Compression (259), SHORT, count 1, value 7, little-endian.
    ASSERT_EQ(replace_all(file, {0x03, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00},
                          {0x03, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00}),
              1);
    DecoderSession s;
    s.input = ostel::core::ByteSource(std::move(file));
    ostel::core::decode(s);
    ASSERT_NE(s.raw_count, 0);
    EXPECT_GT(s.short_read_count, 0);
}

TEST(UndecodableData, TilesOfAnotherSizeThanTheirStreamsAreCounted) {
    // The directory's tile width or length changed under 64 x 64 streams.
    // Halved, every JPEG XL stream holds an image larger than its tile,
    // which is refused, not cropped or decoded into a buffer sized by the
    // stream. Doubled, every lossy JPEG stream is smaller than its tile,
    // whose rest would stay empty: the decode must not pass for complete.
    const struct {
        Format format;
        int width, height;
        uint8_t tile;  // the new tile width or length
        bool refused;  // every tile refused: nothing placed
    } cases[] = {{Format::dng_jxl, 64, 48, 0x20, true}, {Format::dng_linear_lossy, 192, 160, 0x80, false}};
    for (const auto& c : cases)
        for (const uint8_t tag : {uint8_t(0x42), uint8_t(0x43)}) {  // TileWidth (322), TileLength (323)
            Camera camera = camera_for(c.format, c.width, c.height);
            camera.noise_sigma = 4;
            std::vector<uint8_t> file = write_raw(c.format, render_mosaic(Scene{}, camera), camera);
            // LONG, count 1, value 64, little-endian.
            ASSERT_EQ(replace_all(file, {tag, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00},
                                  {tag, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, c.tile, 0x00, 0x00, 0x00}),
                      1);
            DecoderSession s;
            s.input = ostel::core::ByteSource(std::move(file));
            ostel::core::decode(s);
            ASSERT_NE(s.raw_count, 0);
            EXPECT_GT(s.short_read_count, 0) << int(c.format) << " tag " << int(tag);
            if (c.refused) EXPECT_TRUE(image_is_zero(s));
        }
}

TEST(UndecodableData, JpegXlTilesOfIntegersDeeperThan16BitsAreRefusedWithTheReason) {
    std::vector<uint8_t> file = simulated(Format::dng_jxl);
    // BitsPerSample (258), SHORT, count 1: 16 becomes 24.
    ASSERT_EQ(replace_all(file, {0x02, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00},
                          {0x02, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x18, 0x00}),
              1);
    DecoderSession s;
    s.input = ostel::core::ByteSource(std::move(file));
    ostel::core::decode(s);
    EXPECT_EQ(s.raw_count, 0);
    EXPECT_EQ(s.refusal_reason, "DNG JPEG XL data deeper than 16 bits cannot be decoded");
}

TEST(UndecodableData, UncompressedDataRunningPastTheFileEndIsCounted) {
    // The strip offset moved so close to the end of the file that only 100
    // bytes of the image data could be there.
    for (const Format format : {Format::dng, Format::nef, Format::pef}) {
        std::vector<uint8_t> file = simulated(format);
        const bool little = file[0] == 'I';
        // StripOffsets (273), LONG, count 1, in the file's byte order.
        const std::vector<uint8_t> entry = little ? std::vector<uint8_t>{0x11, 0x01, 0x04, 0x00, 1, 0, 0, 0}
                                                  : std::vector<uint8_t>{0x01, 0x11, 0x00, 0x04, 0, 0, 0, 1};
        const auto at = std::search(file.begin(), file.end(), entry.begin(), entry.end());
        ASSERT_NE(at, file.end()) << format_name(format);
        const uint32_t near_end = static_cast<uint32_t>(file.size()) - 100;
        for (int i = 0; i < 4; ++i)
            at[8 + i] = static_cast<uint8_t>(near_end >> (little ? 8 * i : 8 * (3 - i)));
        DecoderSession s;
        s.input = ostel::core::ByteSource(std::move(file));
        ostel::core::decode(s);
        ASSERT_NE(s.raw_count, 0) << format_name(format);
        EXPECT_GT(s.short_read_count, 0) << format_name(format);
    }
}
