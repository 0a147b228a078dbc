// Loaders with block or scrambled layouts (second ARW version, Panasonic,
// SRF), the 45-degree Fuji layout and uncompressed DNG; and the behaviour of
// every loader of this family on truncated data.
#include <gtest/gtest.h>

#include <set>
#include <string_view>
#include <vector>

#include "core/loaders/loader_registry.h"
#include "tests/core/loaders_fixture.h"

using ostel::core::LoaderId;
using ostel::test::LoaderSession;
using V = std::vector<uint16_t>;

namespace {

// Sets n bits of a little-endian bit array at bit position pos.
void set_bits(uint8_t* bytes, int pos, int n, uint32_t value) {
    for (int i = 0; i < n; ++i)
        if ((value >> i) & 1) bytes[(pos + i) >> 3] |= static_cast<uint8_t>(1 << ((pos + i) & 7));
}

// One 16-byte group: maximum, minimum, their positions, then 7-bit fields
// for the other fourteen positions in order.
void arw2_group(uint8_t* g, int max, int min, int imax, int imin, const int* fields) {
    set_bits(g, 0, 11, uint32_t(max));
    set_bits(g, 11, 11, uint32_t(min));
    set_bits(g, 22, 4, uint32_t(imax));
    set_bits(g, 26, 4, uint32_t(imin));
    for (int k = 0; k < 14; ++k) set_bits(g, 30 + 7 * k, 7, uint32_t(fields[k]));
}

}  // namespace

TEST(SonyArw2Loader, GroupsFillAlternateColumnsThroughTheCurve) {
    std::vector<uint8_t> row(48, 0);
    int f1[14], f2[14];
    for (int k = 0; k < 14; ++k) {
        f1[k] = 9 * k;  // scale 3 (range 900): values 72k + 100
        f2[k] = k;      // scale 0 (range 10): values 50 + k
    }
    arw2_group(row.data(), 1000, 100, 3, 5, f1);
    arw2_group(row.data() + 16, 60, 50, 15, 14, f2);
    std::fill(row.begin() + 32, row.end(), 0xFF);  // a third group the width does not reach

    // Width 40 is not a multiple of 32: columns 32..39 stay empty.
    LoaderSession t(48, 1, 40, 1);
    for (int i = 0; i < 4096; ++i) t.s.lin_table[i] = static_cast<uint16_t>(3 * i);
    t.file(row);
    ostel::core::sony_arw2_load_raw(t.s);
    V even, odd;
    for (int i = 0, k = 0; i < 16; ++i) even.push_back(static_cast<uint16_t>(3 * (i == 3 ? 1000 : i == 5 ? 100 : 72 * k++ + 100)));
    for (int i = 0; i < 16; ++i) odd.push_back(static_cast<uint16_t>(3 * (i == 15 ? 60 : i == 14 ? 50 : 50 + i)));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(t.at(0, 2 * i), even[i]) << i;
        EXPECT_EQ(t.at(0, 2 * i + 1), odd[i]) << i;
    }
    for (int col = 32; col < 40; ++col) EXPECT_EQ(t.at(0, col), 0) << col;
}

TEST(SonyArw2Loader, LastGroupOfARowReadsNoFurtherThanItsRow) {
    // The last 7-bit field reaches one byte past its group; with all-ones
    // fields and a minimum of 0x7F0 every value clamps to 0x7FF.
    std::vector<uint8_t> row(32, 0xFF);
    LoaderSession t(32, 1, 32, 1);
    t.file(row);
    ostel::core::sony_arw2_load_raw(t.s);
    EXPECT_EQ(t.at(0, 31), 0x7FF);
    EXPECT_EQ(t.s.short_read_count, 0);
}

namespace {

// Writes values the way the Panasonic bit source reads them: a 17-bit
// counter running down through 16 KiB blocks.
class PanasonicWriter {
public:
    void put(uint32_t value, int n) {
        if (counter_ == 0) blocks_.emplace_back(0x4002, 0);
        counter_ = (counter_ - unsigned(n)) & 0x1FFFF;
        const unsigned byte = (counter_ >> 3) ^ 0x3FF0;
        const uint32_t shifted = value << (counter_ & 7);
        auto& b = blocks_.back();
        b[byte] |= static_cast<uint8_t>(shifted);
        b[byte + 1] |= static_cast<uint8_t>(shifted >> 8);
    }
    // The file bytes: each block stored rotated so that it starts at split.
    std::vector<uint8_t> file(int split) const {
        std::vector<uint8_t> out;
        for (const auto& b : blocks_) {
            out.insert(out.end(), b.begin() + split, b.begin() + 0x4000);
            out.insert(out.end(), b.begin(), b.begin() + split);
        }
        return out;
    }

private:
    unsigned counter_ = 0;
    std::vector<std::vector<uint8_t>> blocks_;
};

}  // namespace

TEST(PanasonicBlockLoader, FourteenSampleBlockWithScaledSteps) {
    PanasonicWriter w;
    w.put(0x12, 8), w.put(0x5, 4);  // col 0: start 0x125
    w.put(0, 8);                    // col 1: parity 1 not started
    w.put(3, 2), w.put(3, 8);       // col 2: scale 4; (0x125 - 0x800) keeps low 4 bits: 5 + 3 << 4
    w.put(0x20, 8), w.put(1, 4);    // col 3: start 0x201
    w.put(1, 8);                    // col 4: scale 4 masks again: 5 + 16
    w.put(1, 2), w.put(0, 8);       // col 5: scale 1, no step
    w.put(0x90, 8);                 // col 6: 21 - 0x100 < 0 keeps bit 0: 1 + 0x120
    w.put(0x85, 8);                 // col 7: 0x201 - 0x100 + 0x10A
    for (int col = 8; col < 14; ++col) {
        if (col % 3 == 2) w.put(1, 2);
        w.put(0, 8);
    }
    for (const int split : {0, 0x2008}) {
        SCOPED_TRACE(split);
        LoaderSession t(14, 1, 14, 1);
        t.s.packing_flags = split;
        t.file(w.file(split));
        ostel::core::panasonic_block_load_raw(t.s);
        EXPECT_EQ(t.row(0), (V{0x125, 0, 53, 0x201, 21, 0x201, 289, 523, 289, 523, 289, 523, 289, 523}));
        EXPECT_EQ(t.s.short_read_count, 0);
    }

    LoaderSession bad(14, 1, 14, 1);
    bad.s.packing_flags = 0x4000;
    bad.file(w.file(0));
    ostel::core::panasonic_block_load_raw(bad.s);
    EXPECT_TRUE(bad.image_is_zero());
    EXPECT_EQ(bad.s.short_read_count, 1);
}

TEST(FujiLoader, RowsRunAlongDiagonalsInBothLayouts) {
    {
        // Layout flag set: Fuji width 2 words per row, one more word skipped.
        LoaderSession t(3, 2, 3, 2);
        t.s.diagonal_width = 2;
        t.s.diagonal_layout = 1;
        t.file({10, 0, 20, 0, 99, 0, 30, 0, 40, 0, 99, 0});
        ostel::core::fuji_load_raw(t.s);
        EXPECT_EQ(t.row(0), (V{0, 20, 40}));
        EXPECT_EQ(t.row(1), (V{10, 30, 0}));
    }
    {
        // Layout flag clear: twice the Fuji width per row.
        LoaderSession t(4, 2, 4, 3);
        t.s.diagonal_width = 2;
        t.file({1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0});
        ostel::core::fuji_load_raw(t.s);
        EXPECT_EQ(t.row(0), (V{0, 3, 4, 0}));
        EXPECT_EQ(t.row(1), (V{1, 2, 7, 8}));
        EXPECT_EQ(t.row(2), (V{0, 5, 6, 0}));
    }
    {
        // A visible area too small for the rotated positions drops them.
        LoaderSession t(4, 2, 2, 1);
        t.s.diagonal_width = 2;
        t.file({1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0});
        ostel::core::fuji_load_raw(t.s);
        EXPECT_EQ(t.row(0), (V{0, 3}));
    }
}

namespace {

// The SRF key stream, from the format description.
struct SrfStream {
    uint32_t pad[128] = {};
    unsigned p = 0;
    explicit SrfStream(uint32_t key) {
        for (int i = 0; i < 4; ++i) pad[i] = key = key * 48828125u + 1u;
        pad[3] = pad[3] << 1 | (pad[0] ^ pad[2]) >> 31;
        for (int i = 4; i < 127; ++i) pad[i] = (pad[i - 4] ^ pad[i - 2]) << 1 | (pad[i - 3] ^ pad[i - 1]) >> 31;
        p = 127;
    }
    // XORs big-endian 32-bit words in place.
    void scramble(uint8_t* b, size_t words) {
        for (size_t i = 0; i < words; ++i, b += 4) {
            const uint32_t v = pad[p & 127] = pad[(p + 1) & 127] ^ pad[(p + 65) & 127];
            ++p;
            for (int k = 0; k < 4; ++k) b[k] ^= static_cast<uint8_t>(v >> (24 - 8 * k));
        }
    }
};

}  // namespace

TEST(SonySrfLoader, DescramblesKeyAndRowsAndTakesBlackFromColumnNine) {
    const uint32_t file_key = 0x01234567, data_key = 0x89ABCDEF;
    std::vector<uint8_t> f(210000, 0);
    f[200896] = 1;  // the key follows 1 x 4 - 1 bytes later
    for (int k = 0; k < 4; ++k) f[200900 + k] = static_cast<uint8_t>(file_key >> (24 - 8 * k));
    uint8_t* head = &f[164600];
    for (int k = 0; k < 4; ++k) head[22 + k] = static_cast<uint8_t>(data_key >> (8 * k));
    SrfStream(file_key).scramble(head, 10);

    // Rows of 12 words: columns 9 (black), 10 and 11 (visible).
    const int64_t data_at = 1000;
    const uint16_t plain[2][12] = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0x1234, 0x0555},
                                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 80, 0x4000, 0x0001}};
    SrfStream rows(data_key);
    for (int r = 0; r < 2; ++r) {
        uint8_t* p = &f[static_cast<size_t>(data_at) + 24 * r];
        for (int c = 0; c < 12; ++c) p[2 * c] = static_cast<uint8_t>(plain[r][c] >> 8), p[2 * c + 1] = static_cast<uint8_t>(plain[r][c]);
        rows.scramble(p, 6);
    }

    LoaderSession t(12, 2, 2, 2, 0, 10);
    t.file(f, data_at);
    ostel::core::sony_load_raw(t.s);
    EXPECT_EQ(t.row(0), (V{0x1234, 0x0555}));
    EXPECT_EQ(t.row(1), (V{0x4000, 0x0001}));
    EXPECT_EQ(t.s.black_level, 70);
    EXPECT_EQ(t.s.white_level, 0x3FF0);
    EXPECT_EQ(t.s.short_read_count, 1);  // 0x4000 is wider than 14 bits
}

TEST(AdobeDngUncompressedLoader, PackedRowsStartOnByteBoundaries) {
    LoaderSession t(3, 2, 3, 2);
    t.s.bits_per_sample = 12;
    t.s.samples_per_pixel = 1;
    for (int i = 0; i < 4096; ++i) t.s.lin_table[i] = static_cast<uint16_t>(2 * i);
    // 36 bits per row, padded to 5 bytes.
    t.file({0x00, 0x10, 0x02, 0xFF, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x90});
    ostel::core::adobe_dng_load_raw_nc(t.s);
    EXPECT_EQ(t.row(0), (V{2, 4, 8190}));
    EXPECT_EQ(t.row(1), (V{0x246, 0x8AC, 0xF12}));

    LoaderSession deep(3, 1, 3, 1);
    deep.s.bits_per_sample = 32;
    deep.file(std::vector<uint8_t>(64, 0x11));
    ostel::core::adobe_dng_load_raw_nc(deep.s);
    EXPECT_TRUE(deep.image_is_zero());
    EXPECT_EQ(deep.s.short_read_count, 1);  // samples it cannot hold are not a decoded image
}

TEST(RawLoaders, RegistryNamesEachLoaderOnce) {
    std::set<std::string_view> names;
    for (const ostel::core::LoaderEntry& entry : ostel::core::kLoaderRegistry) {
        EXPECT_EQ(ostel::core::loader_name(entry.id), entry.name);
        EXPECT_EQ(ostel::core::loader_by_name(entry.name), entry.id) << entry.name;
        if (entry.id == LoaderId::none) continue;
        EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
    }
    EXPECT_EQ(ostel::core::loader_by_name("no_such_load_raw"), LoaderId::none);
}

TEST(RawLoaders, TruncatedDataIsCountedAndEndsCleanly) {
    // Every registered loader, handed a few bytes of junk in place of its data.
    for (const ostel::core::LoaderEntry& entry : ostel::core::kLoaderRegistry) {
        if (!entry.load) continue;
        LoaderSession t(64, 64, 60, 60, 2, 2);
        t.s.bits_per_sample = 12;
        t.s.samples_per_pixel = 1;
        t.s.diagonal_width = 30;
        t.file({0x5A, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5});
        ostel::core::run_loader(t.s, entry.id);
        EXPECT_GE(t.s.short_read_count, 1) << entry.name;
    }
    // Without its key header the SRF loader leaves the image alone and says so.
    LoaderSession t(64, 64, 60, 60);
    t.file(std::vector<uint8_t>(1000, 0x5A));
    ostel::core::sony_load_raw(t.s);
    EXPECT_TRUE(t.image_is_zero());
    EXPECT_EQ(t.s.short_read_count, 1);
}
