// The real camera samples decode without data errors, and their embedded
// JPEG thumbnails come out exactly as an independent metadata reader
// extracts them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "core/session/core_failure.h"
#include "core/thumb/entries.h"
#include "tests/support/samples.h"

namespace fs = std::filesystem;
using ostel::core::DecoderSession;

namespace {

bool have_exiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

// Every embedded JPEG the reader can extract from the file, by tag name.
std::vector<std::vector<unsigned char>> reader_jpegs(const std::string& path) {
    std::vector<std::vector<unsigned char>> found;
    const fs::path out = fs::temp_directory_path() / ("ostel_thumb_" + std::to_string(::getpid()));
    for (const char* tag : {"PreviewImage", "JpgFromRaw", "ThumbnailImage", "OtherImage"}) {
        const std::string cmd = "exiftool -q -q -b -" + std::string(tag) + " '" + path + "' > '" + out.string() + "'";
        if (std::system(cmd.c_str()) != 0) continue;
        std::vector<unsigned char> bytes = ostel::test::read_file(out.string());
        if (!bytes.empty()) found.push_back(std::move(bytes));
    }
    fs::remove(out);
    return found;
}

}  // namespace

TEST(SampleDecoding, RealFilesDecodeWithoutDataErrors) {
    OSTEL_REQUIRE_SAMPLES();
    for (const std::string& path : ostel::test::sample_files("real")) {
        if (fs::path(path).filename() == "kodak_dc50.kdc") continue;  // refused: stream format
        SCOPED_TRACE(path);
        DecoderSession s;
        ASSERT_TRUE(ostel::core::ByteSource::load_file(path, s.input));
        ostel::core::decode(s);
        ASSERT_NE(s.raw_count, 0);
        EXPECT_EQ(s.short_read_count, 0);
        ASSERT_EQ(s.image.size(), size_t(s.image_width) * size_t(s.image_height));
        // No colour plane is empty or constant (the DNG crop is a dark night
        // shot whose samples barely leave the black level).
        for (int c = 0; c < 3; ++c) {
            uint16_t lo = 65535, hi = 0;
            for (int y = 0; y < s.image_height; y += 7)
                for (int x = 0; x < s.image_width; x += 7) {
                    if (s.cfa_pattern && s.sensor_color(y, x) != c) continue;
                    const uint16_t v = s.image[size_t(y) * size_t(s.image_width) + size_t(x)][c];
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            EXPECT_GT(hi, lo) << "colour " << c;
        }
    }
}

TEST(SampleDecoding, JpegThumbnailsEqualTheReaderExtraction) {
    OSTEL_REQUIRE_SAMPLES();
    if (!have_exiftool()) GTEST_SKIP() << "exiftool not installed";
    std::vector<std::string> files = ostel::test::sample_files("real");
    for (const std::string& f : ostel::test::sample_files("metadata")) files.push_back(f);
    int compared = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        DecoderSession s;
        ASSERT_TRUE(ostel::core::ByteSource::load_file(path, s.input));
        try {
            ostel::core::extract_thumbnail(s);
        } catch (const ostel::core::CoreFailure&) {
            ADD_FAILURE() << "failure exit";
            continue;
        }
        // A stripped file may hold a text placeholder where the JPEG was.
        if (s.thumb_kind != 1 || s.thumb_data.size() < 2 || s.thumb_data[1] != 0xD8) continue;
        const auto candidates = reader_jpegs(path);
        ASSERT_FALSE(candidates.empty()) << "the reader finds no JPEG where the core delivered one";
        const bool equal = std::any_of(candidates.begin(), candidates.end(), [&](const auto& c) {
            return c.size() == s.thumb_data.size() && std::equal(c.begin() + 1, c.end(), s.thumb_data.begin() + 1);
        });
        EXPECT_TRUE(equal) << "delivered " << s.thumb_data.size() << " bytes";
        EXPECT_EQ(s.thumb_data[0], 0xFF);
        ++compared;
    }
    EXPECT_GT(compared, 3);
}
