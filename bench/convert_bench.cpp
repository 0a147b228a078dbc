// Timed runs of `ostelraw convert` on one raw file (default: the bundled
// CR2) to a 16-bit TIFF: the wall time and peak memory of the command, then
// the time of each pipeline stage, taken from the document's progress
// reports (the stages report in a fixed order).
//
//   ostel_convert_bench [FILE] [--runs N]
//
// Peak memory is the process's maximum resident size after the first
// command run, so it is measured before anything else has grown the heap.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
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

// The stages of one conversion, as convert runs them.
std::map<std::string, double> staged_run(const std::string& input, const std::string& output) {
    std::map<std::string, double> t;
    StageClock clock;
    ostel::develop::MapControlSource controls;
    ostel::develop::RawDocument doc;
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
    t["4 refine + hand-over"] = span(demosaiced, opened);

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

}  // namespace

int main(int argc, char** argv) {
    std::string input = std::string(OSTEL_SOURCE_DIR) + "/testdata/canon_eos30d.cr2";
    int runs = 3;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--runs" && a + 1 < argc) runs = std::max(1, std::atoi(argv[++a]));
        else input = arg;
    }
    const std::string output =
        (std::filesystem::temp_directory_path() / ("ostel_convert_bench_" + std::to_string(::getpid()) + ".tif"))
            .string();

    // The real command first, alone in a fresh process, for its peak memory.
    std::ostringstream out, err;
    const Clock::time_point start = Clock::now();
    const int code = ostel::cli::command_convert({input, "-o", output, "--format", "tiff16", "-y"}, out, err);
    const double wall = seconds_since(start);
    if (code != 0) {
        std::fprintf(stderr, "convert failed: %s", err.str().c_str());
        return 1;
    }
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
    std::printf("convert to 16-bit TIFF: %.3f s wall (median of %zu), peak memory %.0f MB = %.1f bytes per pixel\n",
                median(walls), walls.size(), peak / 1e6, peak / pixels);
    std::printf("stages (median of %d runs):\n", runs);
    for (const auto& [name, v] : stages) std::printf("  %-30s %7.3f s\n", name.c_str(), median(v));
    return 0;
}
