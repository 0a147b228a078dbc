// Interactive speed of the document, driven the way the view drives it:
// open a file, then drag each control group through a series of positions,
// at fit-to-window and at 100 %, timing each change from the new control
// value to the new screen image. Two files: a simulated 24-megapixel CR2
// and the bundled 8-megapixel CR2. Each file runs in a fresh process of its
// own (this program again, with --child), so its peak memory is its own.
//
//   ostel_preview_bench [--json] [--positions N] [--window WxH]
//                       [--full] [--raw24 FILE] [--only 24mp|8mp]
//
// --full develops the whole image at every change and shows its display
// buffer, as the view did before the screen-sized develop existed.
// Peak memory is the highest resident size of the child from the open to
// the last drag position, divided by the sensor pixels.
//
// The open has two figures: `open` is the time from the start of the open
// to the first full-window picture, the quick one the document develops
// from the sensor's two-by-two cells right after decoding when the file has
// them (a view shows it at once); `open_full` is the time to the
// full-quality screen image that replaces it. Without a quick picture (not
// with --full, nor for full-colour or non-Bayer sensors) both are the time
// to the full-quality picture.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "tools/simcam/formats.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace dv = ostel::develop;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

struct Options {
    bool json = false, full = false;
    int positions = 20;
    int window_w = 1600, window_h = 1000;
    std::string raw24, only;
};

// Median and 95th percentile (nearest rank) of a series in milliseconds.
struct Figures {
    double median = 0, p95 = 0;
};
Figures figures(std::vector<double> v) {
    Figures f;
    if (v.empty()) return f;
    std::sort(v.begin(), v.end());
    f.median = v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
    const size_t rank = size_t(std::max(1.0, std::ceil(0.95 * double(v.size()))));
    f.p95 = v[std::min(rank, v.size()) - 1];
    return f;
}

// Highest resident size since the last reset, in bytes (Linux).
double peak_resident_bytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) * 1024.0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) * 1024.0;
}
void reset_peak_resident() { std::ofstream("/proc/self/clear_refs") << "5"; }

// One group of controls the user drags: the position setter, the trigger
// the view runs for it, and the values that put the group back.
struct Group {
    const char* name;
    std::function<void(dv::MapControlSource&, int step)> set;
    bool white_balance = false;  // the trigger recalculates white balance first
    std::function<void(dv::MapControlSource&)> reset;
};

std::string curve_with_mid(int y) { return "2,257 130," + std::to_string(y) + " 257,2"; }

std::vector<Group> develop_groups() {
    using namespace dv::tag;
    auto zero = [](std::vector<int> tags) {
        return [tags](dv::MapControlSource& c) {
            for (int t : tags) c.set(t, dv::initial_control_value(t));
        };
    };
    return {
        {"exposure", [](auto& c, int i) { c.set(kExposure, -5 + i); }, false, zero({kExposure})},
        {"white balance",
         [](auto& c, int i) {
             c.set(kWbMode, 2);
             c.set(kWbRed, -10 + i);
         },
         true, zero({kWbMode, kWbRed})},
        {"levels",
         [](auto& c, int i) {
             c.set(kHistCorrection, 1);
             c.set(kShadows, -10 + i);
         },
         false, zero({kHistCorrection, kShadows})},
        {"fill light", [](auto& c, int i) { c.set(kFillLight, 2 + 2 * i); }, false, zero({kFillLight})},
        {"contrast", [](auto& c, int i) { c.set(kContrast, -20 + 2 * i); }, false, zero({kContrast})},
        {"saturation", [](auto& c, int i) { c.set(kSaturation, -10 + i); }, false, zero({kSaturation})},
        {"black and white",
         [](auto& c, int i) {
             c.set(kBwMode, 1);
             c.set(kMixerRed, 5 * i);
         },
         false,
         [](auto& c) {
             c.set(kBwMode, 0);
             c.set(kMixerRed, 50);
         }},
        {"curve", [](auto& c, int i) { c.set_text(kCurvePoints, curve_with_mid(100 + 3 * i)); }, false,
         [](auto& c) { c.set_text(kCurvePoints, ""); }},
        {"profiles",
         [](auto& c, int i) { c.set_text(kDisplayProfile, i % 2 ? "Ostel ROMM" : "Ostel sRGB"); }, false,
         [](auto& c) { c.set_text(kDisplayProfile, "Ostel sRGB"); }},
    };
}

// The view's side of the document: how it asks for a new screen image.
class View {
public:
    View(dv::RawDocument& doc, const Options& o) : doc_(doc), o_(o) {
        if (!o_.full) doc_.set_viewport(dv::Viewport::fit(o_.window_w, o_.window_h));
    }
    void fit() {
        if (!o_.full) doc_.set_viewport(dv::Viewport::fit(o_.window_w, o_.window_h));
    }
    // The middle of the image at 100 %.
    void at_100() {
        if (o_.full) return;
        const int w = std::min(o_.window_w, doc_.width()), h = std::min(o_.window_h, doc_.height());
        doc_.set_viewport(dv::Viewport::area(1, (doc_.width() - w) / 2, (doc_.height() - h) / 2, w, h));
    }
    // After a develop-level control change.
    void develop() { doc_.Develop(true); }
    void white_balance() {
        doc_.CalculateWhiteBalance();
        develop();
    }
    // After a filter control change.
    void filters() { doc_.PostProcess(); }
    // When no request waits: the whole-image filter the 100 % view put off.
    void idle() {
        if (!o_.full) doc_.FinishFilters();
    }
    bool shows_something() const { return o_.full ? !doc_.display().empty() : !doc_.screen().pixels.empty(); }

private:
    dv::RawDocument& doc_;
    const Options& o_;
};

struct FileResult {
    Figures open, open_full, develop_fit, develop_100, filters_100, filters_finish;
    Figures embedded;               // preview-only open: the file's own preview
    int embedded_w = 0, embedded_h = 0;
    double peak_bytes_per_pixel = 0;
    int width = 0, height = 0;
    std::map<std::string, Figures> fit_groups, full_groups;
};

// Runs in the child: open, drags, peak memory.
FileResult measure(const std::string& path, const Options& o) {
    FileResult r;
    reset_peak_resident();
    dv::MapControlSource controls;
    dv::RawDocument doc;
    doc.set_controls(&controls);
    View view(doc, o);

    {
        // What a view can show before the decode: the preview the camera
        // stored in the file (a blank 16 x 16 when there is none).
        dv::RawDocument preview;
        preview.set_preview_only(true);
        const Clock::time_point t = Clock::now();
        if (preview.open(path) == dv::kLoadOk) {
            r.embedded = figures({ms_since(t)});
            r.embedded_w = preview.thumbnail().width;
            r.embedded_h = preview.thumbnail().height;
        }
    }
    Clock::time_point t0 = Clock::now();
    double first_picture = -1;
    if (!o.full)
        doc.set_quick_picture_handler([&](const dv::ScreenImage& picture) {
            if (first_picture < 0 && !picture.pixels.empty()) first_picture = ms_since(t0);
        });
    t0 = Clock::now();
    if (doc.open(path) != dv::kLoadOk || !view.shows_something()) {
        std::fprintf(stderr, "%s: cannot load\n", path.c_str());
        std::exit(1);
    }
    r.open_full = figures({ms_since(t0)});
    r.open = first_picture >= 0 ? figures({first_picture}) : r.open_full;
    doc.set_quick_picture_handler(nullptr);
    r.width = doc.width();
    r.height = doc.height();

    auto drag = [&](bool at_100, std::map<std::string, Figures>& per_group) {
        at_100 ? view.at_100() : view.fit();
        view.develop();
        std::vector<double> all;
        for (const Group& g : develop_groups()) {
            std::vector<double> times;
            for (int i = 0; i < o.positions; ++i) {
                const Clock::time_point t = Clock::now();
                g.set(controls, i);
                g.white_balance ? view.white_balance() : view.develop();
                times.push_back(ms_since(t));
            }
            g.reset(controls);
            g.white_balance ? view.white_balance() : view.develop();
            per_group[g.name] = figures(times);
            all.insert(all.end(), times.begin(), times.end());
        }
        return figures(all);
    };
    r.develop_fit = drag(false, r.fit_groups);
    r.develop_100 = drag(true, r.full_groups);

    view.at_100();
    std::vector<double> filter_times;
    for (int i = 0; i < o.positions; ++i) {
        const Clock::time_point t = Clock::now();
        controls.set(dv::tag::kSharpness, 1 + i);
        view.filters();
        filter_times.push_back(ms_since(t));
    }
    r.filters_100 = figures(filter_times);
    const Clock::time_point idle_start = Clock::now();
    view.idle();
    r.filters_finish = figures({ms_since(idle_start)});
    r.peak_bytes_per_pixel = peak_resident_bytes() / (double(r.width) * double(r.height));
    return r;
}

// The numbers a child hands back on its standard output, one per line.
void write_result(std::FILE* out, const FileResult& r) {
    for (const Figures* f :
         {&r.open, &r.open_full, &r.develop_fit, &r.develop_100, &r.filters_100, &r.filters_finish, &r.embedded})
        std::fprintf(out, "%f\n%f\n", f->median, f->p95);
    std::fprintf(out, "%f\n%d\n%d\n%d\n%d\n", r.peak_bytes_per_pixel, r.width, r.height, r.embedded_w, r.embedded_h);
    for (const auto* groups : {&r.fit_groups, &r.full_groups})
        for (const auto& [name, f] : *groups) std::fprintf(out, "%s\t%f\t%f\n", name.c_str(), f.median, f.p95);
}

bool read_result(std::FILE* in, FileResult& r) {
    std::vector<std::string> lines;
    char buf[512];
    while (std::fgets(buf, sizeof buf, in)) {
        std::string l = buf;
        if (!l.empty() && l.back() == '\n') l.pop_back();
        lines.push_back(l);
    }
    if (lines.size() < 19) return false;
    size_t k = 0;
    for (Figures* f :
         {&r.open, &r.open_full, &r.develop_fit, &r.develop_100, &r.filters_100, &r.filters_finish, &r.embedded}) {
        f->median = std::atof(lines[k++].c_str());
        f->p95 = std::atof(lines[k++].c_str());
    }
    r.peak_bytes_per_pixel = std::atof(lines[k++].c_str());
    r.width = std::atoi(lines[k++].c_str());
    r.height = std::atoi(lines[k++].c_str());
    r.embedded_w = std::atoi(lines[k++].c_str());
    r.embedded_h = std::atoi(lines[k++].c_str());
    const size_t groups = develop_groups().size();
    for (size_t g = 0; k < lines.size() && g < 2 * groups; ++g, ++k) {
        const std::string& l = lines[k];
        const size_t t1 = l.find('\t'), t2 = l.rfind('\t');
        if (t1 == std::string::npos || t2 == t1) return false;
        Figures f{std::atof(l.c_str() + t1 + 1), std::atof(l.c_str() + t2 + 1)};
        (g < groups ? r.fit_groups : r.full_groups)[l.substr(0, t1)] = f;
    }
    return true;
}

// Runs this program again on one file, so the measurement starts in a
// fresh process.
bool run_child(const std::string& self, const std::string& path, const Options& o, FileResult& r) {
    const std::string command = "'" + self + "' --child '" + path + "' --positions " + std::to_string(o.positions) +
                                " --window " + std::to_string(o.window_w) + "x" + std::to_string(o.window_h) +
                                (o.full ? " --full" : "");
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return false;
    const bool ok = read_result(pipe, r);
    return ::pclose(pipe) == 0 && ok;
}

std::string simulated_24mp(const std::string& dir) {
    namespace sim = ostel::simcam;
    sim::Camera cam = sim::camera_for(sim::Format::cr2, 6000, 4000);
    cam.noise_sigma = 4;
    const std::string path = dir + "/simulated_24mp.cr2";
    if (!sim::save_file(path, sim::write_raw(sim::Format::cr2, sim::render_mosaic(sim::Scene{}, cam), cam))) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    return path;
}

void print_json(const std::map<std::string, FileResult>& results) {
    std::printf("{");
    bool first = true;
    for (const auto& [key, r] : results) {
        std::printf("%s\"%s\": {", first ? "" : ", ", key.c_str());
        first = false;
        auto fig = [](const char* name, const Figures& f) {
            std::printf("\"%s\": {\"median_ms\": %.1f, \"p95_ms\": %.1f}, ", name, f.median, f.p95);
        };
        fig("open", r.open);
        fig("open_full", r.open_full);
        fig("develop_fit", r.develop_fit);
        fig("develop_100", r.develop_100);
        fig("filters_100", r.filters_100);
        fig("filters_finish", r.filters_finish);
        fig("embedded_preview", r.embedded);
        std::printf("\"peak_bytes_per_pixel\": %.1f}", r.peak_bytes_per_pixel);
    }
    std::printf("}\n");
}

void print_table(const std::map<std::string, FileResult>& results, const Options& o) {
    const FileResult none;
    auto get = [&](const char* k) -> const FileResult& {
        const auto it = results.find(k);
        return it == results.end() ? none : it->second;
    };
    const FileResult &a = get("24mp"), &b = get("8mp");
    std::printf("window %dx%d, %d positions per group, %s, OMP_NUM_THREADS=%s\n", o.window_w, o.window_h, o.positions,
                o.full ? "whole-image develop at every change" : "screen-sized develop",
                std::getenv("OMP_NUM_THREADS") ? std::getenv("OMP_NUM_THREADS") : "(unset: all cores)");
    std::printf("24mp: %dx%d, 8mp: %dx%d\n\n", a.width, a.height, b.width, b.height);
    std::printf("| What the user does | goal | 24 MP median | 24 MP p95 | 8 MP median | 8 MP p95 |\n");
    std::printf("|---|---|---|---|---|---|\n");
    auto row = [](const char* what, const char* goal, const Figures& x, const Figures& y) {
        std::printf("| %s | %s | %.0f ms | %.0f ms | %.0f ms | %.0f ms |\n", what, goal, x.median, x.p95, y.median, y.p95);
    };
    row("opens the file (first full-window image)", "1500 ms", a.open, b.open);
    row("then the full-quality image", "-", a.open_full, b.open_full);
    std::printf("| (the file's own preview, read on its own: %dx%d / %dx%d) | | %.0f ms | | %.0f ms | |\n", a.embedded_w,
                a.embedded_h, b.embedded_w, b.embedded_h, a.embedded.median, b.embedded.median);
    row("develop-level control, fit to window", "100 ms p95", a.develop_fit, b.develop_fit);
    row("develop-level control, 100 %", "150 ms p95", a.develop_100, b.develop_100);
    row("filters control, 100 %", "300 ms p95", a.filters_100, b.filters_100);
    row("then the whole-image filter, once idle", "-", a.filters_finish, b.filters_finish);
    std::printf("| peak memory while editing | 60 B/pixel | %.1f B/pixel | | %.1f B/pixel | |\n\n",
                a.peak_bytes_per_pixel, b.peak_bytes_per_pixel);
    std::printf("By control group (median / p95 ms): fit 24 MP | 100 %% 24 MP | fit 8 MP | 100 %% 8 MP\n");
    for (const Group& g : develop_groups()) {
        auto cell = [&](const std::map<std::string, Figures>& m) {
            const auto it = m.find(g.name);
            return it == m.end() ? Figures{} : it->second;
        };
        const Figures f[4] = {cell(a.fit_groups), cell(a.full_groups), cell(b.fit_groups), cell(b.full_groups)};
        std::printf("  %-16s", g.name);
        for (const Figures& x : f) std::printf(" %6.0f /%6.0f", x.median, x.p95);
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string child;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--json") o.json = true;
        else if (arg == "--full") o.full = true;
        else if (arg == "--positions" && a + 1 < argc) o.positions = std::max(1, std::atoi(argv[++a]));
        else if (arg == "--window" && a + 1 < argc && std::sscanf(argv[++a], "%dx%d", &o.window_w, &o.window_h) == 2) {
        } else if (arg == "--raw24" && a + 1 < argc) o.raw24 = argv[++a];
        else if (arg == "--only" && a + 1 < argc) o.only = argv[++a];
        else if (arg == "--child" && a + 1 < argc) child = argv[++a];
        else {
            std::fprintf(stderr,
                         "usage: ostel_preview_bench [--json] [--positions N] [--window WxH] [--full] [--raw24 FILE] "
                         "[--only 24mp|8mp]\n"
                         "  open: time to the first full-window picture (the quick one from the sensor's\n"
                         "  two-by-two cells when the file has them); open_full: time to the full-quality one\n");
            return 2;
        }
    }
    o.window_w = std::max(o.window_w, 16);
    o.window_h = std::max(o.window_h, 16);
    if (!child.empty()) {
        write_result(stdout, measure(child, o));
        return 0;
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();

    std::map<std::string, FileResult> results;
    std::string temp_dir;
    if (o.only.empty() || o.only == "24mp") {
        std::string path = o.raw24;
        if (path.empty()) {
            temp_dir = (std::filesystem::temp_directory_path() / ("ostel_preview_bench_" + std::to_string(::getpid()))).string();
            std::filesystem::create_directories(temp_dir);
            path = simulated_24mp(temp_dir);
        }
        if (!run_child(self, path, o, results["24mp"])) std::fprintf(stderr, "24mp run failed\n");
    }
    if (o.only.empty() || o.only == "8mp") {
        const std::string path = std::string(OSTEL_SOURCE_DIR) + "/testdata/canon_eos30d.cr2";
        if (!run_child(self, path, o, results["8mp"])) std::fprintf(stderr, "8mp run failed\n");
    }
    if (!temp_dir.empty()) std::filesystem::remove_all(temp_dir);
    o.json ? print_json(results) : print_table(results, o);
    return 0;
}
