// Opcode lists are applied to the loaded image; a hostile list of many tiny
// opcodes must not turn into one pass over the image per opcode, and a
// damaged one ends in a warning, never a crash or an unbounded allocation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/loaders/dng_opcodes.h"
#include "tests/core/loaders_fixture.h"

namespace ostel::core {
namespace {

void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}

void put_f32(std::vector<uint8_t>& b, float f) {
    uint32_t v;
    static_assert(sizeof v == sizeof f);
    std::memcpy(&v, &f, sizeof v);
    put32(b, v);
}

// `count` DeltaPerRow opcodes over the whole 4 x 4 image, each adding
// `delta` (in units of full scale) to row 0.
std::vector<uint8_t> delta_list(uint32_t count, float delta) {
    std::vector<uint8_t> b;
    put32(b, count);
    for (uint32_t i = 0; i < count; ++i) {
        put32(b, 10);  // DeltaPerRow
        put32(b, 0x01030000);
        put32(b, 0);
        put32(b, 32 + 4 + 4);  // area, count, one delta
        for (uint32_t v : {0u, 0u, 1u, 4u, 0u, 1u, 1u, 1u}) put32(b, v);
        put32(b, 1);
        put_f32(b, delta);
    }
    return b;
}

TEST(DngOpcodes, AppliesEachOpcodeUpToTheCapAndNamesTheRest) {
    struct Case {
        uint32_t opcodes;
        uint16_t expected;  // the first sample after the list
        bool capped;
    };
    const float step = 1.0f / 65535.0f;  // one unit per opcode
    for (const Case c : {Case{3, 103, false}, Case{64, 164, false}, Case{5000, 164, true}}) {
        test::LoaderSession ls(4, 4, 4, 4);
        for (int col = 0; col < 4; ++col) ls.s.image[size_t(col)][ls.s.filter_color(0, col)] = 100;
        const std::vector<std::string> left_out = apply_dng_opcodes(ls.s, delta_list(c.opcodes, step), 2);
        EXPECT_EQ(ls.s.image[0][ls.s.filter_color(0, 0)], c.expected) << c.opcodes;
        EXPECT_EQ(left_out.size(), c.capped ? 1u : 0u) << c.opcodes;
    }
}

// One opcode with the parameters given, in a list that says it holds `count`.
std::vector<uint8_t> one_opcode(uint32_t id, const std::vector<uint32_t>& params, uint32_t count = 1,
                                uint32_t declared_bytes = UINT32_MAX) {
    std::vector<uint8_t> b;
    put32(b, count);
    put32(b, id);
    put32(b, 0x01030000);
    put32(b, 0);
    put32(b, declared_bytes == UINT32_MAX ? uint32_t(params.size() * 4) : declared_bytes);
    for (uint32_t v : params) put32(b, v);
    return b;
}

// A 16 x 16 image whose every site holds 1000 + its column, so a repair
// from same-colour neighbours on both sides gives back the true value.
void fill_ramp(test::LoaderSession& ls) {
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) ls.s.image[size_t(r) * 16 + size_t(c)][ls.s.filter_color(r, c)] = uint16_t(1000 + c);
}

std::vector<uint16_t> ramp_row() {
    std::vector<uint16_t> row;
    for (int c = 0; c < 16; ++c) row.push_back(uint16_t(1000 + c));
    return row;
}

TEST(DngOpcodes, BadPixelsAreRepairedFromTheirOwnColour) {
    struct Case {
        const char* name;
        int list;
        int top, left;  // active area's corner in the stored array
        uint32_t id;
        std::vector<uint32_t> params;
        std::vector<std::pair<int, int>> bad;  // image sites made bad first
    };
    const Case cases[] = {
        {"one point", 1, 0, 0, 5, {0, 1, 0, 5, 6}, {{5, 6}}},
        {"a point in stored coordinates", 1, 2, 4, 5, {0, 1, 0, 7, 10}, {{5, 6}}},
        {"a column segment", 1, 0, 0, 5, {0, 0, 1, 3, 7, 9, 8}, {{3, 7}, {4, 7}, {5, 7}, {6, 7}, {7, 7}, {8, 7}}},
        {"a two-wide block", 2, 0, 0, 5, {0, 0, 1, 6, 6, 8, 8}, {{6, 6}, {6, 7}, {7, 6}, {7, 7}}},
        {"the constant marks them", 1, 0, 0, 4, {7, 0}, {{2, 3}, {9, 12}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LoaderSession ls(16 + c.left, 16 + c.top, 16, 16, c.top, c.left);
        fill_ramp(ls);
        for (const auto& [r, col] : c.bad) ls.s.image[size_t(r) * 16 + size_t(col)][ls.s.filter_color(r, col)] = 7;
        EXPECT_TRUE(apply_dng_opcodes(ls.s, one_opcode(c.id, c.params), c.list).empty());
        for (int r = 0; r < 16; ++r) EXPECT_EQ(ls.row(r), ramp_row()) << "row " << r;
    }
}

TEST(DngOpcodes, ListOneSpeaksOfTheStoredArray) {
    // Row 0 of the stored array lies above the active area: a delta for it
    // touches nothing, the one for stored row 3 lands on image row 1.
    test::LoaderSession ls(16, 18, 16, 16, 2, 0);
    fill_ramp(ls);
    std::vector<uint8_t> list;
    put32(list, 1);
    put32(list, 10);  // DeltaPerRow over stored rows 0 to 3
    put32(list, 0x01030000);
    put32(list, 0);
    put32(list, 32 + 4 + 16);
    for (uint32_t v : {0u, 0u, 4u, 16u, 0u, 1u, 1u, 1u, 4u}) put32(list, v);
    for (float d : {1.0f, 1.0f, 0.0f, 100.0f / 65535.0f}) put_f32(list, d);
    EXPECT_TRUE(apply_dng_opcodes(ls.s, list, 1).empty());
    EXPECT_EQ(ls.at(0, 0), 1000);
    EXPECT_EQ(ls.at(1, 0), 1100);
    EXPECT_EQ(ls.at(2, 0), 1000);
}

TEST(DngOpcodes, DamagedListsEndInAWarningAndLeaveTheImageWhole) {
    struct Case {
        const char* name;
        std::vector<uint8_t> list;
    };
    const uint32_t huge = 0xFFFFFFF0u;
    std::vector<uint8_t> truncated = one_opcode(5, {0, 1, 0, 5, 6});
    truncated.resize(truncated.size() - 3);
    const Case cases[] = {
        {"cut inside an opcode", truncated},
        {"a header only", {0, 0, 0}},
        {"more opcodes than bytes", one_opcode(10, {0, 0, 16, 16, 0, 1, 1, 1, 1, 0}, huge)},
        {"parameters past the end", one_opcode(9, {0, 0, 16, 16}, 1, huge)},
        {"bad points beyond the parameters", one_opcode(5, {0, huge, huge, 1, 1})},
        {"a table of absurd length", one_opcode(7, {0, 0, 16, 16, 0, 1, 1, 1, huge})},
        {"a gain map of absurd size", one_opcode(9, {0, 0, 16, 16, 0, 1, 1, 1, huge, huge, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
        {"a polynomial of absurd degree", one_opcode(8, {0, 0, 16, 16, 0, 1, 1, 1, huge})},
        {"a warp with no planes", one_opcode(1, {0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int list = 1; list <= 3; ++list) {
            test::LoaderSession ls(16, 16, 16, 16);
            fill_ramp(ls);
            EXPECT_FALSE(apply_dng_opcodes(ls.s, c.list, list).empty()) << "list " << list;
            for (int r = 0; r < 16; ++r) EXPECT_EQ(ls.row(r), ramp_row()) << "list " << list << ", row " << r;
        }
    }
}

TEST(DngOpcodes, WholeImageMarkedBadManyTimesStopsAtTheWorkBound) {
    // 64 opcodes each marking the whole of a large image bad: the repair
    // stops once its work bound is spent and says so.
    test::LoaderSession ls(2048, 2048, 2048, 2048);
    std::vector<uint8_t> list;
    put32(list, 64);
    for (int i = 0; i < 64; ++i) {
        put32(list, 5);
        put32(list, 0x01030000);
        put32(list, 0);
        put32(list, 12 + 16 * 4);
        for (uint32_t v : {0u, 0u, 4u}) put32(list, v);
        for (int k = 0; k < 4; ++k)
            for (uint32_t v : {0u, 0u, 2048u, 2048u}) put32(list, v);
    }
    const std::vector<std::string> left_out = apply_dng_opcodes(ls.s, list, 1);
    EXPECT_FALSE(left_out.empty());
}

TEST(DngOpcodes, WarpWhoseLensModelOverflowsLeavesPixelsWhereTheyAre) {
    // A centre so far out that the model gives no number: every pixel of
    // the full-colour image keeps its value (it once read far outside the
    // image instead).
    test::LoaderSession ls(16, 16, 16, 16);
    ls.s.cfa_pattern = 0;
    ls.s.color_count = 3;
    for (size_t i = 0; i < ls.s.image.size(); ++i) ls.s.image[i] = {uint16_t(i), uint16_t(2 * i), uint16_t(3 * i), 0};
    std::vector<uint8_t> params;
    put32(params, 1);
    for (double v : {1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1e308, 0.5}) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        put32(params, uint32_t(bits >> 32));
        put32(params, uint32_t(bits));
    }
    std::vector<uint8_t> list;
    put32(list, 1);
    put32(list, 1);  // WarpRectilinear
    put32(list, 0x01030000);
    put32(list, 0);
    put32(list, uint32_t(params.size()));
    list.insert(list.end(), params.begin(), params.end());
    apply_dng_opcodes(ls.s, list, 3);
    for (size_t i = 0; i < ls.s.image.size(); ++i) EXPECT_EQ(ls.s.image[i][2], uint16_t(3 * i)) << i;
}

}  // namespace
}  // namespace ostel::core
