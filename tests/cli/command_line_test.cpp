// The real ostelraw program against a folder of small simulated raw files:
// exit status, the files it writes, the files it must leave alone, and
// writes that fail for real (full disk, file-size limit, read-only folder).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/export/export_test_support.h"
#include "tests/support/samples.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"

namespace {

namespace fs = std::filesystem;
using ostel::exporting::test::read_image;

std::string program() {
    const char* build = std::getenv("OSTEL_BUILD_DIR");
    return std::string(build ? build : OSTEL_SOURCE_DIR "/build") + "/cli/ostelraw";
}

std::string read_text(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs the program in `folder` with standard input from `input_file` (or
// nothing) and, when `size_limit` is set, a file-size limit in bytes.
RunResult run_in(const std::string& folder, const std::vector<std::string>& args, const std::string& input_file = "",
           rlim_t size_limit = 0) {
    const std::string out_path = folder + "/../stdout.txt", err_path = folder + "/../stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        const int in = open(input_file.empty() ? "/dev/null" : input_file.c_str(), O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (size_limit) {
            const rlimit limit{size_limit, size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        const std::string exe = program();
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_text(out_path);
    r.err = read_text(err_path);
    return r;
}

void save_simulated(const std::string& path, ostel::simcam::Format format) {
    const ostel::simcam::Camera cam = ostel::simcam::camera_for(format, 96, 64);
    ASSERT_TRUE(ostel::simcam::save_file(
        path, ostel::simcam::write_raw(format, ostel::simcam::render_mosaic(ostel::simcam::Scene{}, cam), cam)));
}

// A folder with the files every case starts from:
//   one.dng two.cr2 (simulated raw files, 96 x 64), junk.nef (text),
//   empty.nef, photo.nef (a JPEG), keep.jpg (an existing output), link.jpg -> one.dng,
//   hard.jpg (a hard link of one.dng), sub/three.pef, sub/notes.txt
class Workspace {
public:
    Workspace() {
        root_ = fs::temp_directory_path() / ("ostel_cli_" + std::to_string(getpid()) + "_" + std::to_string(count_++));
        fs::remove_all(root_);
        fs::create_directories(root_ / "w" / "sub");
        save_simulated(file("one.dng"), ostel::simcam::Format::dng);
        save_simulated(file("two.cr2"), ostel::simcam::Format::cr2);
        save_simulated(file("sub/three.pef"), ostel::simcam::Format::pef);
        std::ofstream(file("junk.nef")) << "not a raw file";
        std::ofstream(file("empty.nef"));
        std::ofstream(file("keep.jpg")) << "keep me";
        std::ofstream(file("photo.nef")) << "\xFF\xD8\xFF\xE0" << std::string(200, '\0');
        std::ofstream(file("sub/notes.txt")) << "notes";
        fs::create_symlink("one.dng", file("link.jpg"));
        fs::create_hard_link(file("one.dng"), file("hard.jpg"));
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string folder() const { return (root_ / "w").string(); }
    std::string file(const std::string& name) const { return (root_ / "w" / name).string(); }
    RunResult run(const std::vector<std::string>& args, const std::string& input = "", rlim_t limit = 0) const {
        return run_in(folder(), args, input, limit);
    }
    // Every file below the folder with its content.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(root_ / "w"))
            if (e.is_regular_file() && !e.is_symlink())
                files[fs::relative(e.path(), root_ / "w").string()] = read_text(e.path().string());
        return files;
    }

private:
    static inline int count_ = 0;
    fs::path root_;
};

bool have_program() { return fs::exists(program()); }

#define REQUIRE_PROGRAM()                                                                \
    do {                                                                                 \
        if (!have_program()) GTEST_SKIP() << "ostelraw not built at " << program();      \
    } while (0)

struct Case {
    std::vector<std::string> args;
    int code;
    std::set<std::string> written;  // new or replaced files, read back as images
    std::string message;            // expected in the error stream ("" : none checked)
};

// Every case: the exit status, the files that appear or change (each a
// readable image), and that nothing else in the folder changed.
TEST(CommandLine, CasesAgainstTheRealProgram) {
    REQUIRE_PROGRAM();
    const std::string camera_file = ostel::test::testdata_path("canon_eos30d.cr2");
    const Case cases[] = {
        {{"convert", "one.dng", "-o", "out.jpg"}, 0, {"out.jpg"}, ""},
        {{"convert", "one.dng", "-o", "out.png"}, 0, {"out.png"}, ""},
        {{"convert", "one.dng", "-o", "out.tif", "--compression", "lzw"}, 0, {"out.tif"}, ""},
        {{"convert", "one.dng", "--format", "png16"}, 0, {"one.png"}, ""},
        // The output is the input: itself, through "..", a symbolic or a hard link.
        {{"convert", "one.dng", "-o", "one.dng", "-y"}, 1, {}, "one.dng is one of the inputs"},
        {{"convert", "one.dng", "--format", "jpeg", "-o", "sub/../one.dng", "-y"}, 1, {}, "is one of the inputs"},
        {{"convert", "one.dng", "-o", "link.jpg", "-y"}, 1, {}, "link.jpg is one of the inputs"},
        {{"convert", "one.dng", "-o", "hard.jpg", "-y"}, 1, {}, "hard.jpg is one of the inputs"},
        {{"raw", "one.dng", "-o", "hard.jpg", "-y"}, 1, {}, "is the input file"},
        {{"thumb", "one.dng", "-o", "link.jpg", "-y"}, 1, {}, "is the input file"},
        // An existing file is replaced only when asked.
        {{"convert", "one.dng", "-o", "keep.jpg"}, 1, {}, "keep.jpg exists; not replaced"},
        {{"convert", "one.dng", "-o", "keep.jpg", "-y"}, 0, {"keep.jpg"}, ""},
        {{"raw", "one.dng", "-o", "keep.jpg"}, 1, {}, "exists"},
        // A batch goes on past failed files and existing outputs.
        {{"convert", "junk.nef", "one.dng", "empty.nef", "missing.nef", "two.cr2", "-o", "out"},
         1,
         {"out/one.jpg", "out/two.jpg"},
         "missing.nef: No such file or directory"},
        {{"convert", "junk.nef"}, 1, {}, "junk.nef: Wrong file header: a format this program does not read"},
        {{"convert", "empty.nef"}, 1, {}, "empty.nef: Wrong file header: an empty file"},
        {{"convert", "photo.nef", "-o", "x.tif"}, 1, {}, "photo.nef: Wrong file header: a JPEG image"},
        // Folders: the raw files directly in them, or all below with -r.
        {{"convert", ".", "-o", "out"}, 1, {"out/one.jpg", "out/two.jpg"}, "Wrong file header"},
        {{"convert", "sub", "-o", "out", "--format", "tiff8"}, 0, {"out/three.tif"}, ""},
        {{"convert", "sub", "-r", "-o", "out/"}, 0, {"out/three.jpg"}, ""},
        {{"raw", "sub", "-o", "x.tif"}, 1, {}, "sub: Is a directory"},
        // Usage errors write nothing.
        {{"convert", "one.dng", "-o", "x.tif", "--format", "jpeg"}, 2, {}, "does not match"},
        {{"convert", "one.dng", "-o", "x.out"}, 2, {}, "cannot tell the format"},
        {{"convert", "one.dng", "two.cr2", "-o", "-"}, 2, {}, "writes one image"},
        {{"convert", "one.dng", "--rotate", "45"}, 2, {}, "--rotate expects"},
        {{"frobnicate"}, 2, {}, "unknown command"},
        // A profile that cannot be used fails the file instead of falling back.
        {{"convert", "one.dng", "-o", "p.jpg", "--output-profile", "nowhere.icc"}, 1, {}, "No such file or directory"},
        {{"convert", "one.dng", "-o", "p.jpg", "--output-profile", "sub/notes.txt"}, 1, {}, "output profile is wrong"},
        // Thumbnails in their own format: a JPEG one only under a JPEG name.
        {{"thumb", camera_file, "-o", "t.jpg"}, 0, {"t.jpg"}, ""},
        {{"thumb", camera_file, "-o", "t.png"}, 1, {}, "the thumbnail is a JPEG image; name the output .jpg"},
        {{"thumb", "one.dng", "-o", "t.jpg"}, 1, {}, "one.dng: no thumbnail"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        Workspace ws;
        const auto before = ws.snapshot();
        const RunResult r = ws.run(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        if (!c.message.empty()) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
        const auto after = ws.snapshot();
        for (const auto& [name, content] : after) {
            if (c.written.count(name)) {
                EXPECT_GT(read_image(ws.file(name)).width, 0) << name << " is not a readable image";
            } else if (!before.count(name)) {
                ADD_FAILURE() << "unexpected file " << name;
            } else {
                EXPECT_EQ(content, before.at(name)) << name << " changed";
            }
        }
        for (const std::string& name : c.written) EXPECT_TRUE(after.count(name)) << name << " not written";
    }
}

TEST(CommandLine, HelpVersionAndOneRefusalPerStream) {
    REQUIRE_PROGRAM();
    Workspace ws;
    for (const char* command : {"info", "convert", "raw", "thumb"}) {
        const RunResult help = ws.run({command, "--help"});
        EXPECT_EQ(help.code, 0) << command;
        EXPECT_EQ(help.out.rfind(std::string("usage: ostelraw ") + command, 0), 0u) << help.out;
    }
    // Every develop control by name, with its range.
    const std::string help = ws.run({"convert", "--help"}).out;
    for (const char* line : {"--exposure V", "-10..25", "--wb MODE", "--levels on|off", "--fill-light V",
                             "--contrast V", "--saturation V", "--bw MODE", "--mixer R,G,B", "--curve", "--sharpen V",
                             "--nr-luma V", "--nr-chroma V", "--wavelet-nr V", "--ca-red V", "--recovery on|off",
                             "--input-profile", "--output-profile", "--set TAG=VALUE"})
        EXPECT_NE(help.find(line), std::string::npos) << line;
    const RunResult version = ws.run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("ostelraw ", 0), 0u);
    // A refused file is reported once, on the error stream.
    const RunResult refused = ws.run({"info", "junk.nef"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "junk.nef: Wrong file header: a format this program does not read\n");
    const RunResult quiet = ws.run({"convert", "two.cr2", "-q"});
    EXPECT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err.find(" -> "), std::string::npos) << quiet.err;
    EXPECT_TRUE(fs::exists(ws.file("two.jpg")));
}

TEST(CommandLine, StandardInputAndOutput) {
    REQUIRE_PROGRAM();
    Workspace ws;
    const RunResult r = ws.run({"convert", "-", "-o", "-", "--format", "png"}, ws.file("one.dng"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("\x89PNG", 0), 0u);
    // The report goes to the error stream, away from the image.
    EXPECT_NE(r.err.find("standard input -> standard output"), std::string::npos) << r.err;
}

// Truncated sensor data: the file is still written, the run warns about it
// and ends with status 1.
TEST(CommandLine, IncompleteRawDataIsReported) {
    REQUIRE_PROGRAM();
    Workspace ws;
    std::vector<unsigned char> bytes = ostel::test::read_file(ws.file("two.cr2"));
    bytes.resize(bytes.size() - bytes.size() / 4);
    std::ofstream(ws.file("cut.cr2"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                               std::streamsize(bytes.size()));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"convert", "cut.cr2", "-o", "cut.jpg"}, {"raw", "cut.cr2", "-o", "cut.tif"}}) {
        const RunResult r = ws.run(args);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_NE(r.err.find("cut.cr2: warning: the image is incomplete"), std::string::npos) << r.err;
        EXPECT_GT(read_image(ws.file(args[3])).width, 0) << args[3];
    }
}

// A file-size limit fails the write midway: the same clean failure.
TEST(CommandLine, FileSizeLimitLeavesNothingBehind) {
    REQUIRE_PROGRAM();
    Workspace ws;
    const RunResult limited = ws.run({"convert", "one.dng", "-o", "big.tif", "--size", "300x"}, "", 8192);
    EXPECT_EQ(limited.code, 1);
    EXPECT_NE(limited.err.find("cannot write big.tif: File too large"), std::string::npos) << limited.err;
    EXPECT_FALSE(fs::exists(ws.file("big.tif")));
    for (const auto& e : fs::directory_iterator(ws.folder()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

// Mounts a small file system on `folder`; false (the caller skips) where
// this process may not mount.
bool mount_tmpfs(const std::string& folder, const char* options, unsigned long flags = 0) {
    fs::create_directories(folder);
    return mount("tmpfs", folder.c_str(), "tmpfs", flags, options) == 0;
}

// Writes that fail midway leave the target as it was and no partial or
// temporary file behind, for every writer.
TEST(CommandLine, FailedWritesLeaveNothingBehind) {
    REQUIRE_PROGRAM();
    Workspace ws;
    const std::string full = ws.file("full");
    if (!mount_tmpfs(full, "size=24k")) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    struct Cleanup {
        std::string path;
        ~Cleanup() { umount(path.c_str()); }
    } cleanup{full};
    std::ofstream(full + "/old.tif") << "old";
    std::ofstream(full + "/old.png") << "old";
    const std::vector<std::vector<std::string>> writes = {
        {"convert", "one.dng", "-o", "full/old.tif", "-y", "--size", "300x", "--format", "tiff16"},
        {"convert", "one.dng", "-o", "full/old.png", "-y", "--size", "300x", "--format", "png16"},
        {"convert", "one.dng", "-o", "full/new.jpg", "--size", "340x", "--quality", "100"},
        {"raw", "one.dng", "-o", "full/old.tif", "-y"},
    };
    // Fill the disk so that each of them fails after its first bytes.
    std::ofstream(full + "/filler", std::ios::binary) << std::string(8 * 1024, 'x');
    for (const auto& args : writes) {
        const RunResult r = ws.run(args);
        EXPECT_EQ(r.code, 1) << args[3];
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(full)) names.insert(e.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"filler", "old.png", "old.tif"})) << args[3];
        EXPECT_EQ(read_text(full + "/old.tif"), "old");
        EXPECT_EQ(read_text(full + "/old.png"), "old");
    }

}

// A folder nothing can be written in: a read-only mount (as root, who
// ignores permission bits) or a folder without write permission.
TEST(CommandLine, ReadOnlyFolderIsReportedWithTheSystemsReason) {
    REQUIRE_PROGRAM();
    Workspace ws;
    const std::string locked = ws.file("locked");
    std::string reason = "Read-only file system";
    bool mounted = mount_tmpfs(locked, "size=64k", MS_RDONLY);
    if (!mounted) {
        if (geteuid() == 0) GTEST_SKIP() << "cannot mount a read-only tmpfs here";
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        reason = "Permission denied";
    }
    struct Unlock {
        std::string path;
        bool mounted;
        ~Unlock() {
            if (mounted) umount(path.c_str());
            else fs::permissions(path, fs::perms::owner_all);
        }
    } unlock{locked, mounted};
    const RunResult ro = ws.run({"thumb", ostel::test::testdata_path("canon_eos30d.cr2"), "-o", "locked/t.jpg"});
    EXPECT_EQ(ro.code, 1);
    EXPECT_NE(ro.err.find("cannot write locked/t.jpg: " + reason), std::string::npos) << ro.err;
    EXPECT_TRUE(fs::is_empty(locked));
}

// The Pixel 7 file is stored turned: it comes out upright (portrait), in
// the frame the file asks to show, and the file says nothing that would
// turn it again.
TEST(CommandLine, CameraOrientationIsApplied) {
    REQUIRE_PROGRAM();
    OSTEL_REQUIRE_SAMPLES();
    const std::string pixel = ostel::test::samples_dir() + "/real/google_pixel7_crop.dng";
    if (!fs::exists(pixel)) GTEST_SKIP() << "Pixel 7 sample missing";
    Workspace ws;
    struct Expect {
        std::vector<std::string> options;
        bool portrait;
    };
    const Expect runs[] = {{{}, true}, {{"--no-auto-orient"}, false}};
    int n = 0;
    for (const Expect& e : runs) {
        const std::string out = "p" + std::to_string(n++) + ".tif";
        std::vector<std::string> args = {"convert", pixel, "-o", out, "--format", "tiff8"};
        args.insert(args.end(), e.options.begin(), e.options.end());
        const RunResult r = ws.run(args);
        ASSERT_EQ(r.code, 0) << r.err;
        const auto image = read_image(ws.file(out));
        EXPECT_EQ(image.height > image.width, e.portrait) << out;
        // The file's own default crop, 494 x 366 of the 510 x 382 stored
        // sites, less the 4-pixel edge the develop trims from every raw.
        EXPECT_EQ(std::max(image.width, image.height), 486) << out;
        EXPECT_EQ(std::min(image.width, image.height), 358) << out;
        const std::string json = ostel::exporting::test::exiftool_json(ws.file(out));
        if (!json.empty()) {
            // Absent, or 1: shown as stored.
            const size_t at = json.find("\"Orientation\":");
            if (at != std::string::npos) {
                EXPECT_EQ(json.substr(at, 16), "\"Orientation\": 1") << json;
            }
        }
    }
    // The undeveloped sensor data is exactly that frame.
    const RunResult r = ws.run({"raw", pixel, "-o", "sensor.tif"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto sensor = read_image(ws.file("sensor.tif"));
    EXPECT_EQ(sensor.width, 494);
    EXPECT_EQ(sensor.height, 366);
}

}  // namespace

namespace {

// A thumbnail stored as pixels comes out as PPM, or PNG when the name says
// so, never under a JPEG name.
TEST(CommandLine, PixelThumbnailsAsPpmOrPng) {
    REQUIRE_PROGRAM();
    OSTEL_REQUIRE_SAMPLES();
    const std::string nef = ostel::test::samples_dir() + "/real/nikon_d1.nef";
    if (!fs::exists(nef)) GTEST_SKIP() << "Nikon D1 sample missing";
    Workspace ws;
    EXPECT_EQ(ws.run({"thumb", nef, "-o", "t.ppm"}).code, 0);
    EXPECT_EQ(read_text(ws.file("t.ppm")).rfind("P6\n160 120\n255\n", 0), 0u);
    EXPECT_EQ(ws.run({"thumb", nef, "-o", "t.png"}).code, 0);
    const auto png = read_image(ws.file("t.png"));
    EXPECT_EQ(png.width, 160);
    EXPECT_EQ(png.bits, 8);
    const RunResult jpeg = ws.run({"thumb", nef, "-o", "t.jpg"});
    EXPECT_EQ(jpeg.code, 1);
    EXPECT_NE(jpeg.err.find("name the output .ppm or .png"), std::string::npos) << jpeg.err;
    EXPECT_FALSE(fs::exists(ws.file("t.jpg")));
}

}  // namespace
