// Timed runs of `ostelraw convert` on one raw file (default: the bundled
// CR2) to a 16-bit TIFF: the wall time and peak memory of the command, then
// the time of each pipeline stage, taken from the document's progress
// reports (the stages report in a fixed order), then the time of the filter
// level for each noise-reduction and sharpening filter on its own.
//
//   ostel_convert_bench [FILE] [--runs N] [--peak plain|filters|diffusion]
//
// Peak memory is the process's maximum resident size after the first
// conversion, so it is measured before anything else has grown the heap.
// --peak picks that conversion: the command with default controls (plain),
// the command with every filter on (filters: LNR 50, L-Thr. 50, CNR 5 by the
// median, Sharpness 25 with radius 3), or the same controls with the
// diffusion method of chroma noise reduction, through the document as the
// command drives it (diffusion).
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "export/image_export.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Records when each progress value and status text arrives.
struct StageClock : ostel::develop::Notifier {
    std::vector<std::pair<std::string, Clock::time_point>> marks;
    void status(const std::string& text) override { marks.emplace_back(text, Clock::now()); }
    void progress(int percent) override { marks.emplace_back(std::to_string(percent), Clock::now()); }
    // Time of the first mark with this label at or after index `from`.
    Clock::time_point at(const std::string& label, size_t& from) const {
        for (size_t i = from; i < marks.size(); ++i)
            if (marks[i].first == label) {
                from = i + 1;
                return marks[i].second;
            }
        return marks.empty() ? Clock::now() : marks.back().second;
    }
};

double span(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

namespace tag = ostel::develop::tag;

// Every filter of the filters bar on.
const std::vector<std::pair<int, double>> kAllFilters = {{tag::kLumaNr, 50},    {tag::kLumaThreshold, 50},
                                                         {tag::kChromaNr, 5},   {tag::kSharpness, 25},
                                                         {tag::kSharpRadius, 3}};

// The stages of one conversion, as convert runs them.
std::map<std::string, double> staged_run(const std::string& input, const std::string& output,
                                         const std::vector<std::pair<int, double>>& settings = {},
                                         int chroma_method = 0) {
    std::map<std::string, double> t;
    StageClock clock;
    ostel::develop::MapControlSource controls;
    for (const auto& [k, v] : settings) controls.set(k, v);
    auto owned = std::make_unique<ostel::develop::RawDocument>(
        ostel::develop::DocumentOptions::from_settings(0, 0, 0, chroma_method));
    ostel::develop::RawDocument& doc = *owned;
    doc.set_controls(&controls);
    doc.set_notifier(&clock);
    doc.set_screen_develop(false);  // as convert does
    const Clock::time_point start = Clock::now();
    if (doc.open(input) != ostel::develop::kLoadOk) {
        std::fprintf(stderr, "%s: cannot load\n", input.c_str());
        std::exit(1);
    }
    const Clock::time_point opened = Clock::now();
    size_t i = 0;
    const auto processing = clock.at("Processing", i);
    const auto scaled = clock.at("15", i);
    const auto demosaiced = clock.at("40", i);
    t["1 decode"] = span(start, processing);
    t["2 scale"] = span(processing, scaled);
    t["3 AHD + highlights"] = span(scaled, demosaiced);
    t["4 refine + filters + hand-over"] = span(demosaiced, opened);

    // The develop for saving: tone stages up to the curve table, then colour
    // and the final pass.
    clock.marks.clear();
    const Clock::time_point develop_start = Clock::now();
    doc.Develop(false);
    i = 0;
    const auto curves = clock.at("Processing curves", i);
    const auto updating = clock.at("Updating", i);
    t["5 develop (exposure, levels)"] = span(develop_start, curves);
    t["6 colour + final pass"] = span(curves, updating);

    ostel::exporting::ExportRequest rq;
    rq.width = doc.width();
    rq.height = doc.height();
    rq.mode = ostel::exporting::SaveMode::tiff16;
    const auto size = ostel::exporting::default_output_size(rq.width, rq.height, rq.rotation, false, rq.crop);
    rq.output_width = size.width;
    rq.output_height = size.height;
    rq.icc_profile = doc.output_profile();
    const ostel::develop::Picture16 pixels = doc.take_output();
    owned.reset();  // as convert does: the planes go before the file is written
    rq.rgb = pixels.data();
    const Clock::time_point write_start = Clock::now();
    if (!ostel::exporting::export_image(output, rq).written) {
        std::fprintf(stderr, "%s: cannot write\n", output.c_str());
        std::exit(1);
    }
    t["7 write"] = seconds_since(write_start);
    t["total"] = seconds_since(start);
    return t;
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct FilterTime {
    double wall = 0, cpu = 0;  // seconds; cpu summed over all threads
};

// Time of the filter level alone (screen develop off) for one filter
// setting, the run with the median wall time of `runs`. On a machine shared
// with other work the wall time grows with the load; the processor time
// much less.
FilterTime filter_time(ostel::develop::RawDocument& doc, ostel::develop::MapControlSource& controls,
                       const std::vector<std::pair<int, double>>& settings, int chroma_method, int runs) {
    for (int t : {tag::kLumaNr, tag::kLumaThreshold, tag::kChromaNr, tag::kSharpness}) controls.set(t, 0);
    controls.set(tag::kSharpRadius, 1);
    for (const auto& [k, v] : settings) controls.set(k, v);
    doc.set_options(ostel::develop::DocumentOptions::from_settings(0, 0, 0, chroma_method));
    std::vector<FilterTime> times;
    for (int r = 0; r < runs; ++r) {
        const Clock::time_point t = Clock::now();
        const double c = cpu_seconds();
        doc.PostProcess();
        times.push_back({seconds_since(t), cpu_seconds() - c});
    }
    std::sort(times.begin(), times.end(), [](const FilterTime& a, const FilterTime& b) { return a.wall < b.wall; });
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::string input = std::string(OSTEL_SOURCE_DIR) + "/testdata/canon_eos30d.cr2";
    int runs = 3;
    std::string peak_mode = "plain";
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--runs" && a + 1 < argc) runs = std::max(1, std::atoi(argv[++a]));
        else if (arg == "--peak" && a + 1 < argc) peak_mode = argv[++a];
        else input = arg;
    }
    const std::string output =
        (std::filesystem::temp_directory_path() / ("ostel_convert_bench_" + std::to_string(::getpid()) + ".tif"))
            .string();

    // The real command first, alone in a fresh process, for its peak memory.
    std::ostringstream out, err;
    const Clock::time_point start = Clock::now();
    if (peak_mode == "diffusion") {
        staged_run(input, output, kAllFilters, 1);
    } else {
        std::vector<std::string> args = {input, "-o", output, "--format", "tiff16", "-y"};
        if (peak_mode == "filters")
            for (const auto& [k, v] : kAllFilters) {
                args.push_back("--set");
                args.push_back(std::to_string(k) + "=" + std::to_string(int(v)));
            }
        const int code = ostel::cli::command_convert(args, out, err);
        if (code != 0) {
            std::fprintf(stderr, "convert failed: %s", err.str().c_str());
            return 1;
        }
    }
    const double wall = seconds_since(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peak = double(usage.ru_maxrss) * 1024.0;

    ostel::develop::RawDocument probe;
    probe.open(input);
    const double pixels = double(probe.width()) * probe.height();

    std::map<std::string, std::vector<double>> stages;
    std::vector<double> walls{wall};
    for (int r = 0; r < runs; ++r) {
        for (const auto& [name, seconds] : staged_run(input, output)) stages[name].push_back(seconds);
        const Clock::time_point t = Clock::now();
        std::ostringstream o, e;
        ostel::cli::command_convert({input, "-o", output, "--format", "tiff16", "-y"}, o, e);
        walls.push_back(seconds_since(t));
    }
    std::filesystem::remove(output);

    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const char* threads = std::getenv("OMP_NUM_THREADS");
    std::printf("%s: %.0f x %.0f = %.2f MP, OMP_NUM_THREADS=%s\n", input.c_str(), double(probe.width()),
                double(probe.height()), pixels / 1e6, threads ? threads : "(unset: all cores)");
    std::printf("convert to 16-bit TIFF: %.3f s wall (median of %zu)\n", median(walls), walls.size());
    std::printf("peak memory (%s): %.0f MB = %.1f bytes per pixel\n", peak_mode.c_str(), peak / 1e6, peak / pixels);
    std::printf("stages (median of %d runs):\n", runs);
    for (const auto& [name, v] : stages) std::printf("  %-30s %7.3f s\n", name.c_str(), median(v));

    // The filter level alone, each filter by itself (the time includes the
    // copy of the source planes and the YIQ split and rebuild).
    {
        ostel::develop::MapControlSource controls;
        ostel::develop::RawDocument doc;
        doc.set_controls(&controls);
        doc.set_screen_develop(false);
        if (doc.open(input) != ostel::develop::kLoadOk) return 1;
        const struct {
            const char* name;
            std::vector<std::pair<int, double>> settings;
            int chroma_method;
        } filters[] = {
            {"LNR 50 / L-Thr. 50", {{tag::kLumaNr, 50}, {tag::kLumaThreshold, 50}}, 0},
            {"CNR 5, median (#1)", {{tag::kChromaNr, 5}}, 0},
            {"CNR 5, diffusion (#2)", {{tag::kChromaNr, 5}}, 1},
            {"Sharpness 25, radius 0 (median)", {{tag::kSharpness, 25}, {tag::kSharpRadius, 0}}, 0},
            {"Sharpness 25, radius 3 (smooth)", {{tag::kSharpness, 25}, {tag::kSharpRadius, 3}}, 0},
            {"Sharpness 25, radius 10 (smooth)", {{tag::kSharpness, 25}, {tag::kSharpRadius, 10}}, 0},
        };
        const int filter_runs = std::max(3, runs);
        std::printf("filter level alone (median of %d runs):\n", filter_runs);
        for (const auto& f : filters) {
            const FilterTime t = filter_time(doc, controls, f.settings, f.chroma_method, filter_runs);
            std::printf("  %-34s %7.3f s  %6.1f MP/s   %6.3f processor s  %6.1f MP per processor s\n", f.name,
                        t.wall, pixels / 1e6 / t.wall, t.cpu, pixels / 1e6 / t.cpu);
        }
    }
    return 0;
}
