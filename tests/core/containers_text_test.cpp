// Containers with text values: Leaf packets, the Rollei header, RIFF dates,
// and the companion JPEG whose name is derived from the raw file's.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/containers/companion_jpeg.h"
#include "core/identify/parsers.h"
#include "tests/support/byte_builder.h"

using ostel::core::ByteSource;
using ostel::core::DecoderSession;
using ostel::test::ByteBuilder;

namespace {

void load(DecoderSession& s, std::vector<uint8_t> bytes, uint16_t order = 0x4d4d) {
    s.reset_for_identification();
    s.input = ByteSource(std::move(bytes));
    s.byte_order = order;
}

void load_text(DecoderSession& s, const std::string& text) {
    load(s, std::vector<uint8_t>(text.begin(), text.end()));
}

// A Leaf packet: mark, reserved word, 40-byte name, length, data.
std::vector<uint8_t> packet(const std::string& name, const std::vector<uint8_t>& data) {
    ByteBuilder b(false);
    b.text("PKTS").u32(0).text(name).zeros(40 - name.size()).u32(static_cast<uint32_t>(data.size())).raw(data);
    return b.take();
}

std::vector<uint8_t> packet(const std::string& name, const std::string& text) {
    return packet(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

int64_t local_time(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

}  // namespace

TEST(ContainersLeaf, PacketsNestedAndPlain) {
    const auto nested = concat({packet("ShootObj_back_type", "13 "), packet("NeutObj_neutrals", "1000 500 250 1000 ")});
    const auto bytes = concat({
        packet("JPEG_preview_data", std::vector<uint8_t>(30, 0xff)),
        packet("ShootObj", nested),
        packet("CaptProf_number_of_planes", "1"),
        packet("CaptProf_raw_data_rotation", "90"),
        packet("CaptProf_mosaic_pattern", "0 1 0 0"),
        std::vector<uint8_t>{'E', 'N', 'D', '!'},
    });
    DecoderSession s;
    load(s, bytes);
    ostel::core::read_mos(s, 0);
    EXPECT_EQ(s.thumb_offset, 52);
    EXPECT_EQ(s.thumb_length, 30);
    EXPECT_STREQ(s.model, "Aptus 75");
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 2);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 4);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 1);
    EXPECT_EQ(s.orientation, 90);
    // One plane, rotated 90 degrees, mosaic rotation 1: pattern byte 2.
    EXPECT_EQ(s.cfa_pattern, 0x16161616u);
}

TEST(ContainersLeaf, PlanesAndOrientationSelectThePattern) {
    struct Case {
        const char* planes;
        const char* rotation;
        const char* angle;  // nullptr: no image rotation packet
        uint32_t pattern;
        int orientation;
    };
    const Case cases[] = {
        {"1", "0", nullptr, 0x61616161u, 0},
        {"1", "180", nullptr, 0x49494949u, 180},
        {"1", "90", "360", 0x94949494u, 270},  // angle 360 - 90 = 270: (3 + 1) & 3
        {"3", "0", nullptr, 0u, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotation);
        std::vector<uint8_t> bytes = concat({packet("CaptProf_number_of_planes", c.planes),
                                             packet("CaptProf_raw_data_rotation", c.rotation),
                                             packet("CaptProf_mosaic_pattern", "0 1 0 0")});
        if (c.angle) bytes = concat({bytes, packet("ImgProf_rotation_angle", c.angle)});
        DecoderSession s;
        load(s, bytes);
        ostel::core::read_mos(s, 0);
        EXPECT_EQ(s.cfa_pattern, c.pattern);
        EXPECT_EQ(s.orientation, c.orientation);
    }
}

TEST(ContainersLeaf, HostileValuesAreIgnored) {
    // A negative back index, a zero neutral, and a nested packet claiming
    // more data than its parent holds.
    ByteBuilder overlong(false);
    overlong.text("PKTS").u32(0).text("ShootObj_back_type").zeros(22).u32(0x7fffffff).text("5");
    const auto bytes = concat({
        packet("ShootObj_back_type", "-1"),
        packet("NeutObj_neutrals", "1000 0 250 500"),
        packet("Parent", overlong.take()),
    });
    DecoderSession s;
    load(s, bytes);
    ostel::core::set_text(s.model, "kept");
    ostel::core::read_mos(s, 0);
    EXPECT_STREQ(s.model, "kept");
    EXPECT_FLOAT_EQ(s.as_shot_mul[0], 0);
    EXPECT_FLOAT_EQ(s.as_shot_mul[1], 4);
    EXPECT_FLOAT_EQ(s.as_shot_mul[2], 2);
    EXPECT_EQ(s.parse_depth, 0);
}

TEST(ContainersRollei, HeaderLines) {
    const std::string head = "DSC-Image\r\nHDR=512\r\nX  =1000\r\nY  =800\r\nTX =100\r\nTY =80\r\n";
    DecoderSession s;
    load_text(s, head + "DAT=15.06.2005\r\nTIM=10:20:30\r\nEOHD\r\nX  =5\r\n");
    ostel::core::read_rollei_header(s);
    EXPECT_STREQ(s.make, "Rollei");
    EXPECT_STREQ(s.model, "d530flex");
    EXPECT_EQ(s.thumb_offset, 512);
    EXPECT_EQ(s.stored_width, 1000) << "lines after EOHD are not read";
    EXPECT_EQ(s.stored_height, 800);
    EXPECT_EQ(s.raw_offset, 512 + 100 * 80 * 2);
    EXPECT_EQ(s.capture_time, local_time(2005, 6, 15, 10, 20, 30));
    EXPECT_EQ(s.thumb_writer, ostel::core::ThumbWriterId::rollei);

    // No date: no time stamp. No EOHD: the header ends with the file.
    load_text(s, head + "TIM=10:20:30\r\n");
    ostel::core::read_rollei_header(s);
    EXPECT_EQ(s.capture_time, 0);
    EXPECT_EQ(s.stored_height, 800);
}

TEST(ContainersRiff, NestedChunksAndDates) {
    const std::string date = "SUN JUN 15 10:20:30 2005\n";
    ByteBuilder idit;
    idit.text("IDIT").u32(static_cast<uint32_t>(date.size())).text(date);
    ByteBuilder list;
    list.text("LIST").u32(0).text("INFO").text("junk").u32(2).zeros(2).raw(idit.bytes());
    list.patch_u32(4, static_cast<uint32_t>(list.size() - 8));
    ByteBuilder riff;
    riff.text("RIFF").u32(0).text("AVI ").raw(list.bytes());
    riff.patch_u32(4, static_cast<uint32_t>(riff.size() - 8));
    DecoderSession s;
    load(s, riff.take());
    ostel::core::read_riff(s);
    EXPECT_EQ(s.capture_time, local_time(2005, 6, 15, 10, 20, 30));
    EXPECT_EQ(s.byte_order, 0x4949);

    // Records of an "nctg" chunk: tag 19 of size 20 is a date.
    ByteBuilder nctg;
    nctg.text("nctg").u32(0).u16(5).u16(2).zeros(2).u16(19).u16(20).text("2009:03:04 05:06:07").u8(0);
    nctg.patch_u32(4, static_cast<uint32_t>(nctg.size() - 8));
    ByteBuilder outer;
    outer.text("RIFF").u32(static_cast<uint32_t>(nctg.size() + 4)).text("NCDT").raw(nctg.bytes());
    load(s, outer.take());
    ostel::core::read_riff(s);
    EXPECT_EQ(s.capture_time, local_time(2009, 3, 4, 5, 6, 7));

    // A list that claims four gigabytes, holding a chunk that does the same.
    ByteBuilder hostile;
    hostile.text("RIFF").u32(0xffffffff).text("AVI ").text("LIST").u32(0xfffffff0).text("INFO");
    hostile.text("RIFF").u32(0).text("x");
    load(s, hostile.take());
    ostel::core::read_riff(s);
    EXPECT_EQ(s.capture_time, 0);
    EXPECT_EQ(s.parse_depth, 0);
}

TEST(ContainersCompanionJpeg, NameFromRawName) {
    struct Case {
        const char* raw;
        const char* jpeg;
    };
    const Case cases[] = {
        {"/photos/IMGP0001.RAW", "/photos/IMGP0001.JPG"},
        {"/photos/imgp0001.raw", "/photos/imgp0001.jpg"},
        {"12345678.raw", "56781234.jpg"},
        {"C:\\dcim\\ABCD1234.Raw", "C:\\dcim\\ABCD1234.JPG"},
        {"DSC00099.jpg", "DSC00100.jpg"},
        // The carry stops at the start of the file part.
        {"/a/99999999.JPG", "/a/00000000.JPG"},
        {"/a/ABCDEFG.raw", ""},
        {"/a.b/ABCDEFGH", ""},
        {"ABCDEFGH.tiff", ""},
        {"zrthumbnail.jpg", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ostel::core::companion_jpeg_name(c.raw), c.jpeg) << c.raw;
}

TEST(ContainersCompanionJpeg, ReadsTheCompanionAndRestoresTheRawFile) {
    const auto dir = std::filesystem::temp_directory_path() / ("ostel_companion_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    { std::ofstream(dir / "56781234.jpg", std::ios::binary) << std::string(64, '\0'); }

    const std::vector<uint8_t> raw = {1, 2, 3, 4, 5, 6, 7, 8};
    DecoderSession s;
    load(s, raw);
    s.seek(3);
    s.raw_count = 0;
    s.thumb_offset = 99;
    s.file_name = (dir / "12345678.raw").string();
    ostel::core::parse_external_jpeg(s);
    EXPECT_EQ(s.raw_count, 1);
    EXPECT_EQ(s.thumb_offset, 0);
    EXPECT_EQ(s.input.bytes(), raw);
    EXPECT_EQ(s.tell(), 3);

    // No companion on disk: nothing but the notice happens.
    s.raw_count = 0;
    s.file_name = (dir / "ABCD0001.raw").string();
    ostel::core::parse_external_jpeg(s);
    EXPECT_EQ(s.raw_count, 0);
    EXPECT_EQ(s.input.bytes(), raw);
    std::filesystem::remove_all(dir);
}
