// ostelraw settings and convert --use-settings, run as the program itself
// with its own data folder.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"

namespace ostel::cli {
namespace {

namespace fs = std::filesystem;

class Workspace {
public:
    Workspace() : path_(fs::temp_directory_path() / ("ostel_settings_" + std::to_string(::getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string data() const { return file("data"); }

    // A simulated photo; each seed gives other noise and so another image id.
    std::string photo(const std::string& name, uint64_t seed) const {
        simcam::Camera cam = simcam::camera_for(simcam::Format::cr2, 96, 64);
        cam.noise_sigma = 3;
        cam.seed = seed;
        const std::string path = file(name);
        EXPECT_TRUE(simcam::save_file(
            path, simcam::write_raw(simcam::Format::cr2, simcam::render_mosaic(simcam::Scene{}, cam), cam)));
        return path;
    }

    struct Run {
        int code;
        std::string out;
    };
    // Runs ostelraw with `args` and the data folder `data_folder`.
    Run ostelraw(const std::string& args, const std::string& data_folder) const {
        const std::string command = "OSTELRAW_DATA_DIR='" + data_folder + "' '" OSTEL_OSTELRAW "' " + args +
                                    " 2>'" + file("stderr.txt") + "'";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string out;
        char buf[4096];
        size_t n;
        while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        const int status = pipe ? ::pclose(pipe) : -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }
    Run ostelraw(const std::string& args) const { return ostelraw(args, data()); }

private:
    fs::path path_;
};

// The samples of a 16-bit TIFF, row after row.
std::vector<uint16_t> tiff_samples(const std::string& path) {
    std::unique_ptr<TIFF, void (*)(TIFF*)> t(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!t) return {};
    uint32_t h = 0;
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    const tmsize_t line = TIFFScanlineSize(t.get());
    std::vector<uint16_t> samples(size_t(line / 2) * h);
    for (uint32_t r = 0; r < h; ++r) TIFFReadScanline(t.get(), samples.data() + size_t(line / 2) * r, r);
    return samples;
}

std::string object_of(const std::string& json, const std::string& file) {
    const size_t start = json.find("{\"file\":\"" + file + "\"");
    if (start == std::string::npos) return {};
    return json.substr(start, json.find("\"opened\"", start) - start);
}

TEST(SettingsCommand, SettingsFollowTheImageThroughRenamesAndMoves) {
    Workspace w;
    const std::string a = w.photo("a.cr2", 1), b = w.photo("b.cr2", 2);
    const Workspace::Run before = w.ostelraw("settings --json '" + a + "' --set exposure=5 --set wb=auto --set 302=3");
    ASSERT_EQ(before.code, 0);
    EXPECT_TRUE(fs::exists(fs::path(w.data()) / "ostelraw.odb"));
    EXPECT_FALSE(fs::exists(fs::path(w.data()) / "ostelraw.tmp"));
    const std::string id = before.out.substr(before.out.find("\"image_id\""), 22);

    fs::create_directories(w.file("elsewhere"));
    const std::string moved = w.file("elsewhere/renamed.cr2");
    fs::rename(a, moved);
    const Workspace::Run shown = w.ostelraw("settings --json '" + moved + "' '" + b + "'");
    ASSERT_EQ(shown.code, 0);
    const std::string first = object_of(shown.out, moved), second = object_of(shown.out, b);
    ASSERT_FALSE(first.empty()) << shown.out;
    EXPECT_NE(first.find(id), std::string::npos) << first;
    EXPECT_NE(first.find("\"101\":5,"), std::string::npos) << first;
    EXPECT_NE(first.find("\"201\":1,"), std::string::npos) << first;
    EXPECT_NE(first.find("\"302\":3,"), std::string::npos) << first;
    EXPECT_NE(second.find("\"controls\":{}"), std::string::npos) << second;

    // Forgetting one image leaves the other's rows alone.
    ASSERT_EQ(w.ostelraw("settings '" + b + "' --set contrast=4").code, 0);
    ASSERT_EQ(w.ostelraw("settings --reset '" + moved + "'").code, 0);
    const Workspace::Run after = w.ostelraw("settings --json '" + moved + "' '" + b + "'");
    EXPECT_NE(object_of(after.out, moved).find("\"controls\":{}"), std::string::npos) << after.out;
    EXPECT_NE(object_of(after.out, b).find("\"502\":4,"), std::string::npos) << after.out;
}

TEST(SettingsCommand, ConvertUsesStoredControlsOnlyWhenAsked) {
    Workspace w;
    const std::string a = w.photo("a.cr2", 3);
    // Exposure works in the develop; the wavelet threshold is read before
    // the image is known, so the file has to be decoded again.
    ASSERT_EQ(w.ostelraw("settings '" + a + "' --set exposure=5 --set 401=20").code, 0);
    auto convert = [&](const std::string& name, const std::string& options, const std::string& data) {
        const std::string out = w.file(name);
        EXPECT_EQ(w.ostelraw("convert '" + a + "' --format tiff16 -o '" + out + "' " + options, data).code, 0);
        return tiff_samples(out);
    };
    const auto plain = convert("plain.tif", "", w.file("no-data"));
    EXPECT_FALSE(fs::exists(w.file("no-data"))) << "convert touched the database without --use-settings";
    const auto stored = convert("stored.tif", "--use-settings", w.data());
    const auto explicit_ = convert("explicit.tif", "--exposure 5 --set 401=20", w.file("no-data"));
    const auto overridden = convert("overridden.tif", "--use-settings --exposure 0 --set 401=0", w.data());
    ASSERT_FALSE(plain.empty());
    EXPECT_NE(stored, plain);
    EXPECT_EQ(stored, explicit_);
    EXPECT_EQ(overridden, plain);
    // Converting records the opening but keeps the stored positions.
    const Workspace::Run shown = w.ostelraw("settings --json '" + a + "'");
    EXPECT_NE(shown.out.find("\"101\":5,"), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find("\"opened\":\"\""), std::string::npos) << shown.out;
}

TEST(SettingsCommand, UsageErrorsExitWithTwoBeforeTouchingTheDatabase) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--set", "exposure=1"},               // no file
        {"a.cr2", "--set"},                    // value missing
        {"a.cr2", "--set", "exposure"},        // no value
        {"a.cr2", "--set", "sharpness=3"},     // no such name
        {"a.cr2", "--set", "exposure=26"},     // out of range
        {"a.cr2", "--set", "103=1"},           // no such tag
        {"a.cr2", "--set", "603=/x.icc"},      // not stored per image
        {"a.cr2", "--colour"},
    };
    for (const auto& args : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(command_settings(args, out, err), kExitUsage) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(err.str().empty());
        EXPECT_EQ(err.str().find("convert:"), std::string::npos) << err.str();
    }
}

}  // namespace
}  // namespace ostel::cli
