// Identification of the real camera samples, checked against the records an
// independent metadata reader made of the same files.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/identify/identify.h"
#include "core/session/core_failure.h"
#include "core/thumb/entries.h"
#include "tests/support/samples.h"

namespace fs = std::filesystem;
using ostel::core::DecoderSession;

namespace {

struct Expected {
    const char* file;       // folder/name below the samples folder
    const char* make;       // after name normalisation
    const char* model;
    // Record keys to compare against ("" = not compared); alternatives separated by '|'.
    const char* iso_key;
    const char* exposure_key;
    const char* f_number_key;
    const char* focal_key;
    const char* date_key;
    const char* orientation_key;
};

// The reader's keys differ by container; the core reads the same tags the
// camera wrote, so each file names the record entry that holds that tag. The
// first date in the file wins, which for TIFF trees is the main directory's.
const Expected kFiles[] = {
    {"real/canon_eos30d.cr2", "Canon", "EOS 30D", "ExifIFD:ISO", "ExifIFD:ExposureTime", "ExifIFD:FNumber",
     "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"real/canon_powershot_s30.crw", "Canon", "PowerShot S30", "", "", "", "", "CanonRaw:DateTimeOriginal", ""},
    {"real/google_pixel7_crop.dng", "Google", "Pixel 7", "ExifIFD:ISO", "ExifIFD:ExposureTime", "ExifIFD:FNumber",
     "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"real/kodak_dc50.kdc", "Kodak", "Digital Science DC50 Zoom Camera", "", "IFD0:ExposureTime", "IFD0:FNumber",
     "IFD0:FocalLength", "", "IFD0:Orientation"},
    {"real/nikon_d1.nef", "NIKON", "D1", "", "ExifIFD:ExposureTime", "ExifIFD:FNumber", "ExifIFD:FocalLength",
     "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", ""},
    {"metadata/exiftool_CanonRaw.cr2", "Canon", "EOS 350D DIGITAL", "ExifIFD:ISO", "ExifIFD:ExposureTime",
     "ExifIFD:FNumber", "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"metadata/exiftool_CanonRaw.crw", "Canon", "EOS DIGITAL REBEL", "", "", "", "", "CanonRaw:DateTimeOriginal", ""},
    {"metadata/exiftool_DNG.dng", "Canon", "EOS 350D DIGITAL", "ExifIFD:ISO", "ExifIFD:ExposureTime",
     "ExifIFD:FNumber", "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"metadata/exiftool_FujiFilm.raf", "FUJIFILM", "FinePix S5Pro", "ExifIFD:ISO", "ExifIFD:ExposureTime",
     "ExifIFD:FNumber", "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"metadata/exiftool_KyoceraRaw.raw", "Contax", "N Digital", "", "", "", "", "KyoceraRaw:DateTimeOriginal", ""},
    {"metadata/exiftool_Minolta.mrw", "Minolta", "DiMAGE A2", "ExifIFD:ISO", "ExifIFD:ExposureTime",
     "ExifIFD:FNumber", "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"metadata/exiftool_Nikon.nef", "NIKON", "D70", "ExifIFD:ISO", "ExifIFD:ExposureTime", "ExifIFD:FNumber",
     "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"metadata/exiftool_Panasonic.rw2", "Panasonic", "DMC-LX3", "ExifIFD:ISO", "ExifIFD:ExposureTime",
     "ExifIFD:FNumber", "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
    {"metadata/exiftool_PhaseOne.iiq", "Leaf", "Credo 40", "ExifIFD:ISO", "ExifIFD:ExposureTime", "ExifIFD:FNumber",
     "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", ""},
    {"metadata/leica_m10_head100k.dng", "Leica Camera AG", "LEICA M10", "", "", "", "", "", "IFD0:Orientation"},
    {"metadata/sony_zve10_head100k.arw", "SONY", "ZV-E10", "ExifIFD:ISO", "ExifIFD:ExposureTime", "ExifIFD:FNumber",
     "ExifIFD:FocalLength", "IFD0:ModifyDate|ExifIFD:DateTimeOriginal", "IFD0:Orientation"},
};

// Files the core must refuse: other generations of containers and formats it
// does not decode.
const char* const kRefused[] = {
    "metadata/exiftool_CanonRaw.cr3",
    "metadata/exiftool_Sigma.x3f",
    "metadata/exiftool_SigmaDP2.x3f",
    "unsupported/nikon_coolscan_scanner.nef",
};

// Lossy linear DNGs: three samples per pixel in DCT JPEG tiles.
const struct {
    const char* name;
    double baseline_exposure;  // as exiftool reads it
} kLinearDngs[] = {{"canon_eos6d_lossy_linear.dng", 0.25}, {"nikon_d500_lossy_linear.dng", 0.35}};

nlohmann::json record_for(const std::string& relative) {
    std::string name = relative;
    name.replace(name.find('/'), 1, "__");
    std::ifstream in(fs::path(ostel::test::samples_dir()) / "exiftool" / (name + ".json"));
    if (!in) return {};
    const nlohmann::json all = nlohmann::json::parse(in, nullptr, false);
    return all.is_array() && !all.empty() ? all[0] : nlohmann::json{};
}

const nlohmann::json* find_key(const nlohmann::json& record, const std::string& keys) {
    size_t start = 0;
    while (start <= keys.size()) {
        const size_t bar = keys.find('|', start);
        const std::string key = keys.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (record.contains(key)) return &record[key];
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return nullptr;
}

// The orientation tag's values 1..8 as the core's 0..7 flip codes.
int flip_code_of_tag(int tag_value) {
    static constexpr char kDigits[] = "50132467";
    return kDigits[tag_value & 7] - '0';
}

std::string clock_text(int64_t seconds) {
    if (seconds <= 0) return "";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y:%m:%d %H:%M:%S", &local);
    return buf;
}

bool identify(const std::string& path, DecoderSession& s) {
    if (!ostel::core::ByteSource::load_file(path, s.input)) return false;
    try {
        ostel::core::identify_file(s);
    } catch (const ostel::core::CoreFailure&) {
        return false;
    }
    return true;
}

}  // namespace

TEST(SampleIdentification, ShootingDataAgreesWithTheMetadataRecords) {
    OSTEL_REQUIRE_SAMPLES();
    for (const Expected& e : kFiles) {
        SCOPED_TRACE(e.file);
        const std::string path = (fs::path(ostel::test::samples_dir()) / e.file).string();
        if (!fs::exists(path)) continue;
        DecoderSession s;
        ASSERT_TRUE(identify(path, s));
        EXPECT_STREQ(s.make, e.make);
        EXPECT_STREQ(s.model, e.model);
        const nlohmann::json record = record_for(e.file);
        ASSERT_FALSE(record.is_null()) << "no metadata record";
        auto expect_near = [&](const char* keys, float actual, const char* what) {
            if (!*keys) return;
            const nlohmann::json* v = find_key(record, keys);
            ASSERT_TRUE(v && v->is_number()) << what;
            const double expected = v->get<double>();
            // Exposure times may come from the APEX shutter value (1/256 for 1/250).
            EXPECT_NEAR(actual, expected, std::abs(expected) * 0.03 + 1e-6) << what;
        };
        expect_near(e.iso_key, s.iso, "iso");
        expect_near(e.exposure_key, s.exposure_time, "exposure time");
        expect_near(e.f_number_key, s.f_number, "f-number");
        expect_near(e.focal_key, s.focal_length, "focal length");
        if (*e.date_key) {
            const nlohmann::json* v = find_key(record, e.date_key);
            ASSERT_TRUE(v && v->is_string());
            EXPECT_EQ(clock_text(s.capture_time), v->get<std::string>().substr(0, 19)) << "capture time";
        }
        if (*e.orientation_key) {
            const nlohmann::json* v = find_key(record, e.orientation_key);
            ASSERT_TRUE(v && v->is_number());
            EXPECT_EQ(s.orientation, flip_code_of_tag(v->get<int>())) << "orientation";
        }
    }
}

TEST(SampleIdentification, CompleteFilesAreAccepted) {
    OSTEL_REQUIRE_SAMPLES();
    for (const std::string& path : ostel::test::sample_files("real")) {
        SCOPED_TRACE(path);
        // The DC50 stores its data in the RADC stream format, which this
        // converter does not decode: it is refused like other unknown data.
        if (fs::path(path).filename() == "kodak_dc50.kdc") continue;
        DecoderSession s;
        ASSERT_TRUE(identify(path, s));
        EXPECT_NE(s.raw_count, 0);
        EXPECT_NE(s.loader, ostel::core::LoaderId::none);
        EXPECT_GE(s.height, 22);
        EXPECT_GE(s.width, 22);
    }
}

TEST(SampleIdentification, LossyLinearDngsDecodeInFull) {
    OSTEL_REQUIRE_SAMPLES();
    for (const auto& dng : kLinearDngs) {
        const char* name = dng.name;
        SCOPED_TRACE(name);
        std::string path;
        for (const char* folder : {"real", "unsupported"})
            if (fs::exists(fs::path(ostel::test::samples_dir()) / folder / name))
                path = (fs::path(ostel::test::samples_dir()) / folder / name).string();
        if (path.empty()) continue;
        DecoderSession s;
        ASSERT_TRUE(ostel::core::ByteSource::load_file(path, s.input));
        ostel::core::decode(s);
        ASSERT_NE(s.raw_count, 0);
        EXPECT_EQ(s.loader, ostel::core::LoaderId::dng_tiled_load_raw);
        EXPECT_EQ(s.short_read_count, 0);
        EXPECT_EQ(s.cfa_pattern, 0u);
        EXPECT_EQ(s.color_count, 3);
        // Levels leave the loader normalised: the file's own black (51 in the
        // Nikon's raw and preview directories alike) is already taken off.
        EXPECT_EQ(s.black_level, 0);
        EXPECT_EQ(s.white_level, 65535);
        EXPECT_NEAR(s.baseline_exposure, dng.baseline_exposure, 1e-6);
        ASSERT_EQ(s.image.size(), size_t(s.width) * size_t(s.height));
    }
}

TEST(SampleIdentification, UnsupportedFormatsAreRefused) {
    OSTEL_REQUIRE_SAMPLES();
    for (const char* file : kRefused) {
        SCOPED_TRACE(file);
        const std::string path = (fs::path(ostel::test::samples_dir()) / file).string();
        if (!fs::exists(path)) continue;
        DecoderSession s;
        identify(path, s);
        EXPECT_EQ(s.raw_count, 0);
    }
    {
        DecoderSession s;
        const std::string dc50 = (fs::path(ostel::test::samples_dir()) / "real/kodak_dc50.kdc").string();
        if (fs::exists(dc50)) {
            identify(dc50, s);
            EXPECT_EQ(s.raw_count, 0);
        }
    }
}
