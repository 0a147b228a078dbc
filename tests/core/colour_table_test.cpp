// Camera colour table lookup and its row-order rules.
#include <gtest/gtest.h>

#include <cstring>

#include "core/colour/camera_colour_table.h"
#include "core/identify/parsers.h"

using ostel::core::DecoderSession;

namespace {

struct LookupCase {
    const char* make;
    const char* model;
    bool matrix;        // a matrix is set
    float xyz00;        // expected xyz_to_cam[0][0] when set
    int black, white;   // expected levels (the session starts at 7 / 1000)
};

}  // namespace

TEST(ColourTable, LookupTakesFirstPrefixInTableOrder) {
    const LookupCase cases[] = {
        // Own row, not the shorter "Canon EOS 5D" below it.
        {"Canon", "EOS 5D Mark II", true, 0.4716f, 7, 15600},
        {"Canon", "EOS 5D", true, 0.6347f, 7, 1000},
        // Any other EOS body falls back to the generic row.
        {"Canon", "EOS 9000X", true, 0.8197f, 7, 1000},
        // An all-zero row shields its camera from the shorter prefixes.
        {"Canon", "PowerShot A530", false, 0, 7, 1000},
        {"Canon", "EOS D6000", false, 0, 7, 1000},
        {"Canon", "PowerShot A50", true, -0.53f, 7, 1000},
        {"Panasonic", "DMC-FZ35", true, 0.9938f, 147, 4095},
        // Without the ordering fix the shorter "DMC-G1" key would catch it.
        {"Panasonic", "DMC-G10", true, 1.0113f, 7, 1000},
        {"Panasonic", "DMC-G1", true, 0.8199f, 7, 1000},
        {"OLYMPUS", "E-1", true, 1.1846f, 7, 65520},
        {"Nobody", "Camera", false, 0, 7, 1000},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(std::string(c.make) + " " + c.model);
        DecoderSession s;
        s.black_level = 7;
        s.white_level = 1000;
        if (std::strstr(c.model, "A50")) s.color_count = 4;
        ostel::core::apply_camera_table(s, c.make, c.model);
        EXPECT_EQ(s.no_camera_matrix, c.matrix ? 0 : 1);
        EXPECT_EQ(s.black_level, c.black);
        EXPECT_EQ(s.white_level, c.white);
        if (c.matrix) EXPECT_NEAR(s.xyz_to_cam[0][0], c.xyz00, 1e-6);
        else EXPECT_EQ(s.daylight_mul[0], 1.0f);
    }
}

TEST(ColourTable, NoKeyStandsBehindItsOwnPrefix) {
    const auto& table = ostel::core::kCameraColourTable;
    for (size_t i = 0; i < table.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(std::strncmp(table[i].prefix, table[j].prefix, std::strlen(table[j].prefix)), 0)
                << table[i].prefix << " can never match behind " << table[j].prefix;
}

TEST(ColourTable, LongTextsAreNotTruncated) {
    // Both names at their full field length: the match text is longer than
    // any fixed buffer of the old layout.
    DecoderSession s;
    const std::string model = "EOS 5D Mark II" + std::string(49, 'x');
    ostel::core::apply_camera_table(s, "Canon", model.c_str());
    EXPECT_EQ(s.white_level, 15600);
}
