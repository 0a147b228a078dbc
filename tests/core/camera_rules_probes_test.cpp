#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/camera_rules/camera_rules.h"
#include "core/identify/parsers.h"
#include "tests/core/camera_rules_fixture.h"

namespace {

using namespace ostel::core;
using ostel::test::camera;

// Packs samples MSB first into words of refill_bits, each word stored least
// significant byte first: the layout the green test reads.
std::vector<uint8_t> pack(const std::vector<int>& samples, int bits, int refill_bits) {
    std::vector<uint8_t> out;
    uint64_t acc = 0;
    int held = 0;
    auto flush_word = [&] {
        const uint64_t word = (acc >> (held - refill_bits)) & ((uint64_t(1) << refill_bits) - 1);
        held -= refill_bits;
        for (int shift = 0; shift < refill_bits; shift += 8) out.push_back(static_cast<uint8_t>(word >> shift));
    };
    for (int v : samples) {
        acc = (acc << bits) | static_cast<uint64_t>(v);
        held += bits;
        while (held >= refill_bits) flush_word();
    }
    if (held > 0) {
        acc <<= refill_bits - held;
        held = refill_bits;
        flush_word();
    }
    return out;
}

TEST(CameraProbes, GreenBalanceComparesTheTwoGreenPairings) {
    // Even samples of row 0 match odd samples of row 1 closely; the other
    // pairing differs by 20: the result is 100 ln(2 / 20).
    const int width = 64;
    std::vector<int> row0, row1;
    for (int c = 0; c < width; ++c) {
        row0.push_back(c % 2 ? 1050 : 1010);
        row1.push_back(c % 2 ? 1012 : 1030);
    }
    for (int refill : {16, 32}) {
        std::vector<uint8_t> file = pack(row0, 12, refill);
        const size_t second = 4096;
        file.resize(second);
        const std::vector<uint8_t> packed1 = pack(row1, 12, refill);
        file.insert(file.end(), packed1.begin(), packed1.end());
        auto s = camera({"", "", 10, width}, file);
        EXPECT_NEAR(green_balance_test(*s, 12, refill, 0, second), 100 * std::log(0.1), 1e-9) << refill;
        EXPECT_NEAR(green_balance_test(*s, 12, refill, second, 0), 100 * std::log(10.0), 1e-9) << refill;
    }
}

TEST(CameraProbes, GreenBalanceOfFlatOrMissingDataIsZero) {
    auto flat = camera({"", "", 10, 64}, std::vector<uint8_t>(1000, 0x40));
    EXPECT_EQ(green_balance_test(*flat, 16, 16, 0, 200), 0.0);
    auto beyond = camera({"", "", 10, 64}, std::vector<uint8_t>(10));
    EXPECT_EQ(green_balance_test(*beyond, 12, 32, 5000, 9000), 0.0);
    auto no_width = camera({"", "", 10, 0}, std::vector<uint8_t>(100, 1));
    EXPECT_EQ(green_balance_test(*no_width, 12, 32, 0, 50), 0.0);
}

TEST(CameraProbes, GammaCurveJoinsToeAndUpperPartAndSaturates) {
    for (double toe : {3.875, 7.0}) {
        auto s = camera({});
        build_gamma_curve(*s, toe);
        ASSERT_EQ(s->lin_table.size(), 65536u);
        EXPECT_EQ(s->lin_table[0], 0);
        EXPECT_EQ(s->lin_table[1], static_cast<uint16_t>(65536 / 255.0 / toe)) << toe;
        for (int i = 255; i < 65536; i += 997) EXPECT_EQ(s->lin_table[i], 0xffff) << i;
        // The two parts meet with the same slope: the steps never shrink
        // (beyond rounding) and never jump where the toe ends.
        for (int i = 2; i < 255; ++i) {
            const int before = s->lin_table[i - 1] - s->lin_table[i - 2];
            const int step = s->lin_table[i] - s->lin_table[i - 1];
            ASSERT_GE(step, before - 1) << toe << " at " << i;
            ASSERT_LE(step, before + 40) << toe << " at " << i;
        }
        EXPECT_GT(s->lin_table[254], 60000);
    }
}

TEST(CameraProbes, E2100PackingPatternHoldsOverTheFirstGroups) {
    auto ones = camera({}, std::vector<uint8_t>(12288, 0xFF));
    EXPECT_TRUE(nikon_e2100_test(*ones));
    std::vector<uint8_t> broken(12288, 0xFF);
    broken[12 * 1000 + 6] = 0xFE;  // low bit of byte 6 in group 1000
    auto s = camera({}, broken);
    EXPECT_FALSE(nikon_e2100_test(*s));
    broken[12 * 1000 + 6] = 0xFF;
    broken[12 * 5 + 4] = 0xEF;  // one high-nibble bit of byte 4
    auto t = camera({}, broken);
    EXPECT_FALSE(nikon_e2100_test(*t));
}

TEST(CameraProbes, E2100WithoutTheOldPackingBecomesE2500) {
    auto s = camera({"NIKON", "E2100"}, std::vector<uint8_t>(2940928, 0));
    apply_camera_rules(*s);
    EXPECT_STREQ(s->model, "E2500");
    EXPECT_EQ(s->height, 1204);
    EXPECT_EQ(s->color_count, 4);

    auto old = camera({"NIKON", "E2100"}, std::vector<uint8_t>(2940928, 0xFF));
    apply_camera_rules(*old);
    EXPECT_STREQ(old->model, "E2100");
    EXPECT_EQ(old->height, 1206);
    EXPECT_EQ(old->packing_flags, 30);
}

}  // namespace
