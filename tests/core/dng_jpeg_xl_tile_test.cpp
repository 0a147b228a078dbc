// JPEG XL tiles decoded against the layout their directory gives: the
// stored codes come back exactly from lossless streams whatever the channel
// count and depth, and a stream that does not fit its tile is refused with
// the reason before anything is decoded.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/loaders/dng_tile_codecs.h"
#include "tools/simcam/jxl_encoder.h"

namespace {

using ostel::core::DngTile;
using ostel::core::DngTileLayout;
using ostel::simcam::JxlImage;

// Codes spread over the whole range, both ends included, with detail in
// every channel (floating-point images get values around 1 with a sign).
std::vector<float> test_values(const JxlImage& image) {
    std::vector<float> v;
    const double top = image.floating_point ? 4.0 : double((1u << image.bits) - 1);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int k = 0; k < image.channels; ++k) {
                const uint32_t hash = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ (uint32_t(k) * 83492791u);
                const double smooth = 0.5 + 0.45 * std::sin(0.21 * x + 0.13 * y + k);
                double f = (x + y + k) % 17 == 0 ? double(hash % 1000) / 999.0 : smooth;
                if (x == 0 && y == 0) f = 0;
                if (x == 1 && y == 0) f = 1;
                if (image.floating_point) {
                    // Values of the float's own precision, so lossless means equal.
                    const float value = float((f - 0.25) * top);
                    v.push_back(image.bits == 16 ? std::ldexp(std::round(std::ldexp(value, 8)), -8) : value);
                } else {
                    v.push_back(float(std::round(f * top)));
                }
            }
    return v;
}

DngTileLayout layout_of(const JxlImage& image) {
    DngTileLayout l;
    l.width = image.width;
    l.height = image.height;
    l.samples = image.channels;
    l.bits = image.bits;
    l.floating_point = image.floating_point;
    return l;
}

TEST(DngJpegXlTile, LosslessStreamsGiveBackTheStoredValuesExactly) {
    struct Case {
        const char* name;
        int channels, bits;
        bool floating_point;
        bool container;
        int directory_bits;  // 0: the stream's
    };
    const Case cases[] = {
        {"grey 16-bit", 1, 16, false, false, 0},
        {"grey 12-bit in a container", 1, 12, false, true, 0},
        // The stream's codes are the stored values, not fractions of the
        // directory's depth.
        {"grey 12-bit codes in a 16-bit directory", 1, 12, false, false, 16},
        {"RGB 16-bit", 3, 16, false, false, 0},
        {"RGB and an extra channel, 14-bit", 4, 14, false, false, 0},
        {"grey and an extra channel, 8-bit", 2, 8, false, false, 0},
        {"RGB 32-bit floating point", 3, 32, true, false, 0},
        {"grey 16-bit floating point", 1, 16, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JxlImage image;
        image.width = 37;  // neither a power of two nor square
        image.height = 23;
        image.channels = c.channels;
        image.bits = c.bits;
        image.floating_point = c.floating_point;
        image.container = c.container;
        const std::vector<float> values = test_values(image);
        const std::vector<uint8_t> stream = ostel::simcam::encode_jxl(image, values);
        DngTile tile;
        std::string why;
        DngTileLayout layout = layout_of(image);
        if (c.directory_bits) layout.bits = c.directory_bits;
        ASSERT_TRUE(ostel::core::decode_jpeg_xl_tile(stream.data(), stream.size(), layout, tile, why)) << why;
        ASSERT_EQ(tile.width, image.width);
        ASSERT_EQ(tile.height, image.height);
        ASSERT_EQ(tile.samples, image.channels);
        ASSERT_EQ(tile.values.size(), values.size());
        size_t differ = 0;
        for (size_t i = 0; i < values.size(); ++i) differ += tile.values[i] != values[i];
        EXPECT_EQ(differ, 0u);
        EXPECT_FALSE(tile.damaged);
    }
}

TEST(DngJpegXlTile, StreamsThatDoNotFitTheirTileAreRefusedWithTheReason) {
    JxlImage image;
    image.width = 32;
    image.height = 16;
    image.channels = 1;
    const std::vector<uint8_t> stream = ostel::simcam::encode_jxl(image, test_values(image));

    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        DngTileLayout layout;
        const char* reason;  // part of the reason given
    };
    std::vector<Case> cases;
    const DngTileLayout fits = layout_of(image);
    DngTileLayout wider = fits, shorter = fits, three = fits, deep = fits, huge = fits;
    wider.width = 64;
    shorter.height = 8;
    three.samples = 3;
    deep.bits = 24;
    huge.width = huge.height = 1 << 16;
    cases.push_back({"wider tile", stream, wider, "JPEG XL image of 32 x 16 in a tile of 64 x 16"});
    cases.push_back({"shorter tile", stream, shorter, "in a tile of 32 x 8"});
    cases.push_back({"three samples per pixel", stream, three, "1 channels for 3 samples"});
    cases.push_back({"integer samples of 24 bits", stream, deep, "integer samples of 24 bits"});
    cases.push_back({"tile past the size limit", stream, huge, "unusable tile size"});
    cases.push_back({"not JPEG XL", std::vector<uint8_t>(stream.size(), 0x5a), fits, "no JPEG XL data"});
    // Cut after the signature, in the header, and just before the end.
    for (const size_t keep : {size_t(2), size_t(6), stream.size() / 2, stream.size() - 1})
        cases.push_back({"cut short", std::vector<uint8_t>(stream.begin(), stream.begin() + std::ptrdiff_t(keep)),
                         fits, "JPEG XL"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DngTile tile;
        std::string why;
        EXPECT_FALSE(ostel::core::decode_jpeg_xl_tile(c.data.data(), c.data.size(), c.layout, tile, why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_TRUE(tile.values.empty());
    }
}

TEST(DngJpegXlTile, OverwrittenStreamsEndCleanly) {
    // The codec carries no checksum: damage may decode to other values, but
    // never to a tile of another shape, and never past its buffers.
    JxlImage image;
    image.width = image.height = 48;
    image.channels = 3;
    const std::vector<uint8_t> stream = ostel::simcam::encode_jxl(image, test_values(image));
    int refused = 0;
    for (size_t at = 4; at < stream.size(); at += std::max<size_t>(1, stream.size() / 40)) {
        for (const uint8_t fill : {uint8_t(0x00), uint8_t(0xFF)}) {
            std::vector<uint8_t> bad = stream;
            const size_t end = std::min(at + 16, bad.size());
            std::fill(bad.begin() + std::ptrdiff_t(at), bad.begin() + std::ptrdiff_t(end), fill);
            DngTile tile;
            std::string why;
            if (ostel::core::decode_jpeg_xl_tile(bad.data(), bad.size(), layout_of(image), tile, why)) {
                EXPECT_EQ(tile.values.size(), size_t(48 * 48 * 3));
            } else {
                ++refused;
                EXPECT_FALSE(why.empty());
            }
        }
    }
    EXPECT_GT(refused, 0);
}

}  // namespace
