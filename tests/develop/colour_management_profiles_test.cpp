// Built-in profiles, ICC files and the profile lists.
#include <gtest/gtest.h>

#include <cstdlib>

#include "develop/colour_management.h"
#include "tests/develop/colour_management_test_support.h"

namespace ostel::develop {
namespace {

using test::info;
using test::save;
using test::TempDir;
using test::write_file;

struct Opened {
    cmsHPROFILE h;
    explicit Opened(const std::vector<uint8_t>& bytes)
        : h(cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()))) {}
    ~Opened() {
        if (h) cmsCloseProfile(h);
    }
};

TEST(BuiltinProfiles, CarryTheirTexts) {
    struct Case {
        int kind;
        const char* description;
        const char* model;
    } cases[] = {{kProfileSrgb, "Ostel RAW sRGB profile", "Ostel RAW sRGB"},
                 {kProfileRomm, "Ostel RAW ROMM profile", "Ostel RAW ROMM"}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = builtin_profile_bytes(c.kind);
        ASSERT_GE(bytes.size(), 132u);
        Opened p(bytes);
        ASSERT_NE(p.h, nullptr);
        EXPECT_EQ(info(p.h, cmsInfoDescription), c.description);
        EXPECT_EQ(info(p.h, cmsInfoModel), c.model);
        EXPECT_EQ(info(p.h, cmsInfoManufacturer), "Ostel RAW");
        EXPECT_FALSE(info(p.h, cmsInfoCopyright).empty());
        EXPECT_EQ(cmsGetColorSpace(p.h), cmsSigRgbData);
        EXPECT_LT(cmsGetProfileVersion(p.h), 3.0);
        // A fixed creation date keeps exports byte-for-byte reproducible.
        EXPECT_EQ((bytes[24] << 8) | bytes[25], 2000);
    }
    EXPECT_TRUE(builtin_profile_bytes(kProfileCamera).empty());
    EXPECT_TRUE(builtin_profile_bytes(kProfileFile).empty());
}

// Primaries and white of a built-in profile through Little CMS to XYZ (D50
// connection space) and back.
void expect_round_trip(int kind, const double (&expected_xyz)[4][3], double tolerance) {
    Opened rgb(builtin_profile_bytes(kind));
    ASSERT_NE(rgb.h, nullptr);
    cmsHPROFILE xyz = cmsCreateXYZProfile();
    cmsHTRANSFORM to_xyz = cmsCreateTransform(rgb.h, TYPE_RGB_16, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHTRANSFORM back = cmsCreateTransform(xyz, TYPE_XYZ_DBL, rgb.h, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    ASSERT_NE(to_xyz, nullptr);
    ASSERT_NE(back, nullptr);
    const uint16_t colours[4][3] = {{65535, 0, 0}, {0, 65535, 0}, {0, 0, 65535}, {65535, 65535, 65535}};
    for (int i = 0; i < 4; ++i) {
        cmsCIEXYZ got;
        cmsDoTransform(to_xyz, colours[i], &got, 1);
        EXPECT_NEAR(got.X, expected_xyz[i][0], tolerance) << "colour " << i;
        EXPECT_NEAR(got.Y, expected_xyz[i][1], tolerance) << "colour " << i;
        EXPECT_NEAR(got.Z, expected_xyz[i][2], tolerance) << "colour " << i;
        uint16_t again[3];
        cmsDoTransform(back, &got, again, 1);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(again[c], colours[i][c], 200) << "colour " << i;
    }
    cmsDeleteTransform(to_xyz);
    cmsDeleteTransform(back);
    cmsCloseProfile(xyz);
}

TEST(BuiltinProfiles, SrgbPrimariesRoundTripThroughXyz) {
    // sRGB primaries adapted to D50.
    const double xyz[4][3] = {{0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971},
                              {0.1431, 0.0606, 0.7141}, {0.9642, 1.0, 0.8249}};
    expect_round_trip(kProfileSrgb, xyz, 0.003);
}

TEST(BuiltinProfiles, RommPrimariesRoundTripThroughXyz) {
    // ROMM primaries at their stated luminances; white is the 5000 K
    // daylight point, which lies within a few thousandths of D50.
    const double xyz[4][3] = {{0.7977, 0.2880, 0.0}, {0.1352, 0.7119, 0.0},
                              {0.0313, 0.0001, 0.8249}, {0.9642, 1.0, 0.8249}};
    expect_round_trip(kProfileRomm, xyz, 0.01);
}

TEST(IccFile, WrittenAndReadBack) {
    TempDir dir("icc");
    const std::vector<uint8_t> romm = builtin_profile_bytes(kProfileRomm);
    std::vector<uint8_t> with_tail = romm;
    with_tail.insert(with_tail.end(), 100, 0xAB);  // bytes after the stated size are not part of it
    write_file(dir.file("romm.icc"), with_tail);

    std::vector<uint8_t> read;
    ASSERT_TRUE(read_icc_file(dir.file("romm.icc"), read));
    EXPECT_EQ(read, romm);

    const ProfileDescription d = describe_profile_file(dir.file("romm.icc"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.device_class, uint32_t(cmsSigDisplayClass));
    EXPECT_EQ(d.colour_space, uint32_t(cmsSigRgbData));
    EXPECT_EQ(d.description, "Ostel RAW ROMM profile");
}

TEST(IccFile, RejectsImpossibleSizes) {
    TempDir dir("icc_bad");
    const std::vector<uint8_t> srgb = builtin_profile_bytes(kProfileSrgb);
    auto with_size = [&](uint32_t size) {
        std::vector<uint8_t> b = srgb;
        b[0] = uint8_t(size >> 24);
        b[1] = uint8_t(size >> 16);
        b[2] = uint8_t(size >> 8);
        b[3] = uint8_t(size);
        return b;
    };
    write_file(dir.file("too_big.icc"), with_size(uint32_t(srgb.size() + 1)));
    write_file(dir.file("huge.icc"), with_size(0xFFFFFFF0u));
    write_file(dir.file("too_small.icc"), with_size(100));
    write_file(dir.file("short.icc"), std::vector<uint8_t>(srgb.begin(), srgb.begin() + 64));
    for (const char* name : {"too_big.icc", "huge.icc", "too_small.icc", "short.icc", "missing.icc"}) {
        std::vector<uint8_t> bytes{1, 2, 3};
        EXPECT_FALSE(read_icc_file(dir.file(name), bytes)) << name;
        EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3})) << name;
        EXPECT_FALSE(describe_profile_file(dir.file(name)).ok) << name;
    }
}

TEST(ProfileLists, SortsRgbProfilesByClassAfterTheBuiltins) {
    TempDir dir("lists");
    write_file(dir.file("b_romm.icc"), builtin_profile_bytes(kProfileRomm));  // display class
    {
        cmsHPROFILE scanner = cmsCreate_sRGBProfile();
        cmsSetDeviceClass(scanner, cmsSigInputClass);
        cmsWriteTag(scanner, cmsSigProfileDescriptionTag, nullptr);  // no description
        write_file(dir.file("scanner.ICM"), save(scanner));
        cmsCloseProfile(scanner);
        cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
        cmsHPROFILE gray = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
        write_file(dir.file("a_gray.icc"), save(gray));
        cmsCloseProfile(gray);
        cmsFreeToneCurve(gamma);
    }
    write_file(dir.file("c_romm.txt"), builtin_profile_bytes(kProfileRomm));  // wrong name pattern
    write_file(dir.file("d_broken.icc"), std::vector<uint8_t>(300, 0));

    const ProfileLists lists = gather_profile_lists({dir.path(), dir.file("no_such_dir")});
    ASSERT_EQ(lists.input.size(), 2u);
    EXPECT_EQ(lists.input[0].name, "Ostel RAW");
    EXPECT_EQ(lists.input[0].kind, kProfileCamera);
    EXPECT_EQ(lists.input[1].name, "scanner");
    EXPECT_EQ(lists.input[1].path, dir.file("scanner.ICM"));

    ASSERT_EQ(lists.output.size(), 3u);
    EXPECT_EQ(lists.output[0].kind, kProfileSrgb);
    EXPECT_EQ(lists.output[1].kind, kProfileRomm);
    EXPECT_EQ(lists.output[2].name, "Ostel RAW ROMM profile");
    EXPECT_EQ(lists.output[2].kind, kProfileFile);

    ASSERT_EQ(lists.display.size(), 2u);
    EXPECT_EQ(lists.display[0].name, "Ostel sRGB");
    EXPECT_EQ(lists.display[1].path, dir.file("b_romm.icc"));
}

TEST(ProfileLists, DirectoriesFromTheEnvironment) {
    const char* old = std::getenv("OSTELRAW_ICC_DIR");
    const std::string saved = old ? old : "";
    setenv("OSTELRAW_ICC_DIR", "/one:/two::/three", 1);
    EXPECT_EQ(profile_directories(), (std::vector<std::string>{"/one", "/two", "/three"}));
    unsetenv("OSTELRAW_ICC_DIR");
    const std::vector<std::string> defaults = profile_directories();
    EXPECT_EQ(defaults.back(), "/usr/share/color/icc");
    if (old) setenv("OSTELRAW_ICC_DIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace ostel::develop
