// Opcode lists are applied to the loaded image; a hostile list of many tiny
// opcodes must not turn into one pass over the image per opcode.
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

}  // namespace
}  // namespace ostel::core
