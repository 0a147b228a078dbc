// The colour transform of the output buffer: matrix stage, sRGB fast path,
// Little CMS transforms and the fallbacks for unusable profiles.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "develop/colour_management.h"
#include "develop/tone.h"
#include "tests/develop/colour_management_test_support.h"

namespace ostel::develop {
namespace {

using test::RecordingNotifier;
using test::TempDir;
using test::write_file;

// Linear sRGB to XYZ (D65), as the document uses without a camera matrix.
constexpr double kSrgbToXyz[3][3] = {{0.412424, 0.357579, 0.180464},
                                     {0.212656, 0.715158, 0.0721856},
                                     {0.0193324, 0.119193, 0.950444}};

const ProfileChoice kCamera{"Ostel RAW", "", kProfileCamera};
const ProfileChoice kSrgb{"Ostel sRGB", "", kProfileSrgb};
const ProfileChoice kRomm{"Ostel ROMM", "", kProfileRomm};

std::vector<uint16_t> greys(std::initializer_list<uint16_t> levels) {
    std::vector<uint16_t> px;
    for (uint16_t v : levels) px.insert(px.end(), {v, v, v});
    return px;
}

// Runs the document's sequence over `pixels`.
std::vector<uint16_t> develop(ColourTransform& ct, std::vector<uint16_t> pixels, std::vector<float>* lum = nullptr) {
    const size_t n = pixels.size() / 3;
    if (lum) lum->assign(n, -1.0f);
    if (ct.runs_matrix_stage()) ct.matrix_stage(pixels.data(), n, kSrgbToXyz, lum ? lum->data() : nullptr);
    ct.apply(pixels.data(), n);
    return pixels;
}

void expect_neutral(const std::vector<uint16_t>& px, int tolerance) {
    for (size_t i = 0; i < px.size(); i += 3) {
        EXPECT_NEAR(px[i], px[i + 1], tolerance) << "pixel " << i / 3;
        EXPECT_NEAR(px[i + 2], px[i + 1], tolerance) << "pixel " << i / 3;
    }
}

TEST(TransferTable, EncodesLinearValues) {
    const std::vector<float>& t = transfer_table();
    ASSERT_EQ(t.size(), 65536u);
    EXPECT_EQ(t[0], 0.0f);
    EXPECT_EQ(t[100], 1292.0f);     // linear segment: 12.92 x
    EXPECT_EQ(t[32768], 48191.0f);  // power segment
    for (size_t i = 1; i < t.size(); ++i) ASSERT_LE(t[i - 1], t[i]) << i;
    EXPECT_GE(t[65535], 65534.0f);
}

TEST(ColourTransform, CameraToBuiltinSrgbTakesTheFastPath) {
    RecordingNotifier note;
    ColourTransform ct(kCamera, kSrgb, note);
    EXPECT_TRUE(ct.uses_srgb_fast_path());
    EXPECT_FALSE(ct.has_transform());
    EXPECT_FALSE(ct.final_pass_applies_transfer());
    EXPECT_EQ(ct.output_profile_bytes(), builtin_profile_bytes(kProfileSrgb));

    std::vector<float> lum;
    const std::vector<uint16_t> out = develop(ct, greys({0, 13107, 65535}), &lum);
    // Linear 0.2 encodes to about 0.4845; white stays white.
    EXPECT_EQ(out[0], 0);
    EXPECT_NEAR(out[3], 31750, 150);
    EXPECT_NEAR(out[6], 65535, 150);
    expect_neutral(out, 60);
    // Fill light reads Y on the 0..1 scale.
    EXPECT_NEAR(lum[1], 0.2f, 0.001f);
    EXPECT_NEAR(lum[2], 1.0f, 0.001f);
    EXPECT_TRUE(note.messages.empty());
}

TEST(ColourTransform, CameraToRommThroughLittleCms) {
    RecordingNotifier note;
    ColourTransform ct(kCamera, kRomm, note);
    EXPECT_FALSE(ct.uses_srgb_fast_path());
    EXPECT_TRUE(ct.has_transform());
    EXPECT_EQ(ct.output_profile_bytes(), builtin_profile_bytes(kProfileRomm));
    const std::vector<uint16_t> out = develop(ct, greys({13107, 65535}));
    // ROMM encodes with gamma 1.8: 0.2 -> about 0.41.
    EXPECT_NEAR(out[0], 26800, 800);
    EXPECT_GT(out[3], 64000);
    expect_neutral(out, 300);
    EXPECT_TRUE(note.messages.empty());
}

TEST(ColourTransform, OutputProfileFileMatchesTheBuiltinItHolds) {
    TempDir dir("out_file");
    const std::vector<uint8_t> romm = builtin_profile_bytes(kProfileRomm);
    write_file(dir.file("romm.icc"), romm);
    RecordingNotifier note;
    ColourTransform from_file(kCamera, {"ROMM file", dir.file("romm.icc"), kProfileFile}, note);
    ColourTransform builtin(kCamera, kRomm, note);
    EXPECT_EQ(from_file.output_kind(), kProfileFile);
    EXPECT_EQ(from_file.output_profile_bytes(), romm);
    const auto pixels = greys({0, 1000, 13107, 40000, 65535});
    EXPECT_EQ(develop(from_file, pixels), develop(builtin, pixels));
    EXPECT_TRUE(note.messages.empty());
}

TEST(ColourTransform, UnusableOutputProfileFallsBackToBuiltinSrgb) {
    TempDir dir("out_bad");
    std::vector<uint8_t> oversized = builtin_profile_bytes(kProfileRomm);
    oversized[0] = 0x7F;  // states a size far beyond the file
    write_file(dir.file("oversized.icc"), oversized);
    {
        cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
        cmsHPROFILE gray = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
        write_file(dir.file("gray.icc"), test::save(gray));
        cmsCloseProfile(gray);
        cmsFreeToneCurve(gamma);
    }
    for (const char* name : {"oversized.icc", "gray.icc", "missing.icc"}) {
        SCOPED_TRACE(name);
        RecordingNotifier note;
        ColourTransform ct(kCamera, {"bad", dir.file(name), kProfileFile}, note);
        EXPECT_EQ(note.messages, std::vector<std::string>{kOutputProfileError});
        EXPECT_EQ(ct.output_kind(), kProfileSrgb);
        EXPECT_TRUE(ct.uses_srgb_fast_path());
        EXPECT_EQ(ct.output_profile_bytes(), builtin_profile_bytes(kProfileSrgb));
    }
    EXPECT_STREQ(kOutputProfileError, "Ostel RAW Color Management error, output profile is wrong.");
}

TEST(ColourTransform, UnusableInputProfileFallsBackToTheCameraSpaceBeforeTheMatrixStage) {
    TempDir dir("in_bad");
    write_file(dir.file("junk.icc"), std::vector<uint8_t>(400, 0x11));
    for (const char* name : {"junk.icc", "missing.icc"}) {
        SCOPED_TRACE(name);
        RecordingNotifier note;
        ColourTransform ct({"bad", dir.file(name), kProfileFile}, kRomm, note);
        EXPECT_EQ(note.messages, std::vector<std::string>{kInputProfileError});
        EXPECT_EQ(ct.input_kind(), kProfileCamera);
        // The image goes through the matrix stage, so the transform that
        // reads XYZ gets XYZ: the result equals a plain camera-space run.
        EXPECT_TRUE(ct.runs_matrix_stage());
        EXPECT_FALSE(ct.final_pass_applies_transfer());
        ColourTransform camera(kCamera, kRomm, note);
        const auto pixels = greys({5000, 30000});
        EXPECT_EQ(develop(ct, pixels), develop(camera, pixels));
    }
    EXPECT_STREQ(kInputProfileError, "Ostel RAW Color Management error, Input profile is wrong.");
}

TEST(ColourTransform, RgbInputProfileSkipsTheMatrixStage) {
    TempDir dir("in_rgb");
    write_file(dir.file("srgb.icc"), builtin_profile_bytes(kProfileSrgb));
    RecordingNotifier note;
    ColourTransform ct({"sRGB", dir.file("srgb.icc"), kProfileFile}, {"sRGB", dir.file("srgb.icc"), kProfileFile}, note);
    EXPECT_TRUE(note.messages.empty());
    EXPECT_FALSE(ct.runs_matrix_stage());
    EXPECT_TRUE(ct.has_transform());
    EXPECT_TRUE(ct.final_pass_applies_transfer());
    // Same profile on both ends: colours pass through.
    const std::vector<uint16_t> in{65535, 0, 0, 1000, 20000, 50000, 30000, 30000, 30000};
    const std::vector<uint16_t> out = develop(ct, in);
    for (size_t i = 0; i < in.size(); ++i) EXPECT_NEAR(out[i], in[i], 150) << i;
}

TEST(ColourTransform, BothHalvesOfTheBufferAreConverted) {
    RecordingNotifier note;
    ColourTransform ct(kCamera, kRomm, note);
    // Five pixels: two in the first half, three in the second. Each must
    // come out as it does on its own.
    std::vector<uint16_t> xyz{1000, 2000, 3000, 30000, 30000, 30000, 5, 32767, 9,
                              20000, 100, 7000, 32767, 32767, 32767};
    std::vector<uint16_t> whole = xyz;
    ct.apply(whole.data(), 5);
    for (size_t p = 0; p < 5; ++p) {
        uint16_t one[3] = {xyz[p * 3], xyz[p * 3 + 1], xyz[p * 3 + 2]};
        ct.apply(one, 1);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(whole[p * 3 + c], one[c]) << "pixel " << p;
        EXPECT_NE(whole[p * 3], xyz[p * 3]) << "pixel " << p << " left unconverted";
    }
}

// The one-pass conversion must give exactly what the matrix stage, fill
// light and conversion give one after another, clamps at both ends included.
TEST(ColourTransform, OnePassEqualsTheStepsOneAfterAnother) {
    std::vector<uint16_t> rgb{0, 0, 0, 65535, 65535, 65535, 65535, 0, 0, 0, 0, 65535, 1, 65535, 2, 40000, 5, 30000};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(0, 65535);
    for (int i = 0; i < 3 * 4000; ++i) rgb.push_back(uint16_t(sample(random)));
    const size_t n = rgb.size() / 3;
    // A camera-like matrix with negative terms reaches below 0 and above the
    // encoding's top.
    const double camera[3][3] = {{1.3, -0.4, 0.3}, {0.2, 1.5, -0.6}, {-0.2, 0.1, 2.1}};
    RecordingNotifier note;
    for (const ProfileChoice& output : {kSrgb, kRomm})
        for (const double scale : {0.0, 0.4, 3.0}) {
            SCOPED_TRACE(output.name + " fill scale " + std::to_string(scale));
            ColourTransform ct(kCamera, output, note);
            const ColourTransform::StageMatrix m = ct.stage_matrix(camera);
            std::vector<uint16_t> steps = rgb;
            std::vector<float> lum(n);
            ct.matrix_span(steps.data(), n, m, lum.data());
            if (scale != 0) fill_light_span(steps.data(), lum.data(), n, scale);
            ct.apply_span(steps.data(), n);

            std::vector<uint16_t> one_pass = rgb;
            const std::vector<double> ratios = fill_light_ratios(scale);
            ct.matrix_and_apply_span(one_pass.data(), n, m, scale != 0 ? ratios.data() : nullptr);
            EXPECT_EQ(one_pass, steps);
        }
    EXPECT_TRUE(note.messages.empty());
}

// The screen transform against the exact one over the XYZ a develop
// produces: a grid of linear RGB through the matrix stage.
TEST(ColourTransform, ScreenPrecisionIsWithinItsTolerance) {
    TempDir dir("screen");
    write_file(dir.file("romm.icc"), builtin_profile_bytes(kProfileRomm));
    RecordingNotifier note;
    std::vector<uint16_t> rgb;
    for (int r = 0; r <= 65535; r += 2048 + 7)
        for (int g = 0; g <= 65535; g += 1024 + 3)
            for (int b = 0; b <= 65535; b += 4096 - 5) rgb.insert(rgb.end(), {uint16_t(r), uint16_t(g), uint16_t(b)});
    for (int v = 0; v < 512; ++v) rgb.insert(rgb.end(), {uint16_t(v), uint16_t(v), uint16_t(v)});  // deep shadows
    for (const ProfileChoice& output : {kRomm, ProfileChoice{"ROMM file", dir.file("romm.icc"), kProfileFile}}) {
        SCOPED_TRACE(output.name);
        ColourTransform exact(kCamera, output, note), screen(kCamera, output, note, ColourTransform::Precision::screen);
        ASSERT_TRUE(screen.has_transform());
        const std::vector<uint16_t> want = develop(exact, rgb), got = develop(screen, rgb);
        int worst = 0;
        double total = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            worst = std::max(worst, std::abs(int(want[i]) - int(got[i])));
            total += std::abs(int(want[i]) - int(got[i]));
        }
        EXPECT_LE(worst, kScreenTransformTolerance.worst);
        EXPECT_LE(total / double(want.size()), kScreenTransformTolerance.mean);
    }
    // The built-in sRGB output takes the exact fast path either way.
    ColourTransform fast(kCamera, kSrgb, note, ColourTransform::Precision::screen);
    EXPECT_TRUE(fast.uses_srgb_fast_path());
    EXPECT_TRUE(note.messages.empty());
}

}  // namespace
}  // namespace ostel::develop
