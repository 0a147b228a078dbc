// Whole-file identification on small fixtures, and the final sanity guards.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/identify/identify.h"
#include "core/identify/identify_steps.h"
#include "tests/support/byte_builder.h"
#include "tests/support/samples.h"

using namespace ostel::core;

namespace {

void identify_bytes(DecoderSession& s, std::vector<uint8_t> bytes) {
    s.input = ByteSource(std::move(bytes));
    identify_file(s);
}

// A header-only sensor dump: make, model, data offset and stored size.
std::vector<uint8_t> nokia_file(uint16_t width, uint16_t height, size_t data_bytes) {
    ostel::test::ByteBuilder b(false);
    b.u16(0x0001).u16(0x0001).u16(0x0040);
    b.text("NOKIAxxx").text("X1").zeros(6).zeros(16);
    b.u16(48).u16(0).u16(width).u16(height);
    b.pad_to(48).zeros(data_bytes);
    return b.take();
}

}  // namespace

TEST(IdentifyFile, UnknownFileIsRefused) {
    DecoderSession s;
    identify_bytes(s, std::vector<uint8_t>(1000, 0x5A));
    EXPECT_EQ(s.raw_count, 0);
    EXPECT_EQ(s.orientation, 0);

    DecoderSession tiny;
    identify_bytes(tiny, {});
    EXPECT_EQ(tiny.raw_count, 0);
}

TEST(IdentifyFile, HeaderOnlyDumpIsIdentified) {
    DecoderSession s;
    identify_bytes(s, nokia_file(64, 48, 64 * 48 * 10 / 8));
    EXPECT_STREQ(s.make, "NOKIAxxx");
    EXPECT_STREQ(s.model, "X1");
    EXPECT_EQ(s.raw_offset, 48);
    EXPECT_EQ(s.stored_width, 64);
    EXPECT_EQ(s.stored_height, 48);
    EXPECT_EQ(s.width, 64);
    EXPECT_EQ(s.height, 48);
    EXPECT_EQ(s.loader, LoaderId::nokia_load_raw);
    EXPECT_EQ(s.cfa_pattern, 0xe1e1e1e1u);  // second green split off
    EXPECT_STREQ(s.color_letters, "RGB");
    EXPECT_EQ(s.raw_count, 1);
}

TEST(IdentifyFile, HostileDimensionsAreRefused) {
    for (auto [w, h] : {std::pair<uint16_t, uint16_t>{65535, 65535}, {10, 48}, {64, 0}}) {
        DecoderSession s;
        identify_bytes(s, nokia_file(w, h, 256));
        EXPECT_EQ(s.raw_count, 0) << w << "x" << h;
    }
}

TEST(IdentifyGuards, UnsafeSessionsAreRefused) {
    auto valid = [](DecoderSession& s) {
        s.reset_for_identification();
        s.input = ByteSource(std::vector<uint8_t>(4096, 0));
        s.width = s.stored_width = 64;
        s.height = s.stored_height = 48;
        s.bits_per_sample = 12;
        s.white_level = 4095;
        s.loader = LoaderId::unpacked_load_raw;
        s.raw_offset = 100;
    };
    const std::pair<const char*, std::function<void(DecoderSession&)>> cases[] = {
        {"narrow", [](DecoderSession& s) { s.width = 21; }},
        {"negative height", [](DecoderSession& s) { s.height = -5; }},
        {"huge", [](DecoderSession& s) { s.width = s.height = 40000; }},
        {"huge stored", [](DecoderSession& s) { s.stored_width = s.stored_height = 60000; }},
        {"stored too wide", [](DecoderSession& s) { s.stored_width = 70000; }},
        {"negative margin", [](DecoderSession& s) { s.crop_left = -2; }},
        {"no colours", [](DecoderSession& s) { s.color_count = 0; }},
        {"five colours", [](DecoderSession& s) { s.color_count = 5; }},
        {"wide samples", [](DecoderSession& s) { s.bits_per_sample = 17; }},
        {"zero tile", [](DecoderSession& s) { s.tile_width = 0; }},
        {"black at white", [](DecoderSession& s) { s.black_level = 4095; }},
        {"many shots", [](DecoderSession& s) { s.raw_count = 1000; }},
        {"data past end", [](DecoderSession& s) { s.raw_offset = 4097; }},
        {"negative data offset", [](DecoderSession& s) { s.raw_offset = -1; }},
        {"thumbnail past end", [](DecoderSession& s) { s.thumb_offset = 4000; s.thumb_length = 200; }},
        {"aux past end", [](DecoderSession& s) { s.aux_offset = 10; s.aux_length = 1LL << 40; }},
    };
    DecoderSession ok;
    valid(ok);
    apply_global_guards(ok);
    EXPECT_EQ(ok.raw_count, 1);
    for (const auto& [name, spoil] : cases) {
        DecoderSession s;
        valid(s);
        spoil(s);
        apply_global_guards(s);
        EXPECT_EQ(s.raw_count, 0) << name;
    }
}

namespace {

std::string sample(const std::string& folder, const std::string& name) {
    return ostel::test::samples_dir() + "/" + folder + "/" + name;
}

bool identify_path(DecoderSession& s, const std::string& path) {
    if (!ByteSource::load_file(path, s.input)) return false;
    s.file_name = path;
    identify_file(s);
    return true;
}

}  // namespace

TEST(IdentifySamples, RealFilesAreRecognised) {
    OSTEL_REQUIRE_SAMPLES();
    // Names as the camera wrote them (exiftool), after normalisation.
    const struct {
        const char* file;
        const char* make;
        const char* model;
        bool accepted;
    } cases[] = {
        {"canon_eos30d.cr2", "Canon", "EOS 30D", true},
        {"canon_powershot_s30.crw", "Canon", "PowerShot S30", true},
        {"google_pixel7_crop.dng", "Google", "Pixel 7", true},
        {"nikon_d1.nef", "NIKON", "D1", true},
        // Radial-stream compression has no loader: named, then refused.
        {"kodak_dc50.kdc", "Kodak", "Digital Science DC50 Zoom Camera", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        DecoderSession s;
        ASSERT_TRUE(identify_path(s, sample("real", c.file)));
        EXPECT_STREQ(s.make, c.make);
        EXPECT_STREQ(s.model, c.model);
        if (!c.accepted) {
            EXPECT_EQ(s.raw_count, 0);
            continue;
        }
        EXPECT_NE(s.raw_count, 0);
        EXPECT_NE(s.loader, LoaderId::none);
        EXPECT_GE(s.height, 22);
        EXPECT_GT(s.white_level, s.black_level);
    }
}

TEST(IdentifySamples, DamagedFilesNeverYieldUnsafeResults) {
    OSTEL_REQUIRE_SAMPLES();
    for (const char* folder : {"malformed", "unsupported", "metadata"}) {
        for (const std::string& path : ostel::test::sample_files(folder)) {
            SCOPED_TRACE(path);
            DecoderSession s;
            ASSERT_TRUE(identify_path(s, path));
            if (!s.raw_count) continue;
            EXPECT_GE(s.width, 22);
            EXPECT_GE(s.height, 22);
            EXPECT_LE(s.raw_offset, s.file_size());
            EXPECT_LE(s.thumb_offset + s.thumb_length, s.file_size());
            EXPECT_NE(s.loader, LoaderId::none);
        }
    }
}
