// ostelraw convert: develops raw files with the given controls and exports
// them, several files at a time when asked.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "cli/commands.h"
#include "cli/convert_options.h"
#include "cli/stored_settings.h"
#include "develop/raw_document.h"

namespace ostel::cli {

namespace {

namespace fs = std::filesystem;

void print_convert_usage(std::ostream& err) {
    err << "usage: ostelraw convert FILE... [-o OUT] [--format tiff16|tiff8|jpeg] [--quality 1..100]\n"
           "         [--exposure V] [--wb camera|auto|custom] [--wb-red V] [--wb-blue V]\n"
           "         [--contrast V] [--saturation V] [--bw off|mixer|lum|r|g|b] [--curve x,y;...]\n"
           "         [--input-profile camera|srgb|romm|FILE] [--output-profile srgb|romm|FILE]\n"
           "         [--rotate cw|ccw] [--crop X,Y,W,H] [--size WxH | --scale PCT]\n"
           "         [--artist TEXT] [--copyright TEXT] [--set TAG=VALUE]... [--jobs N]\n"
           "         [--use-settings]   (stored controls of each image; options given here win)\n";
}

// Collects what the document reports for one file.
class FileNotifier : public develop::Notifier {
public:
    void message(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

struct Job {
    std::string input, output;
    std::string problem;  // set before the run: the file is not converted
};

// Where each input goes: -o names the file for a single input, else the
// folder; without -o the current folder.
bool plan_outputs(const ConvertOptions& o, std::vector<Job>& jobs, std::ostream& err) {
    const std::string ext = mode_extension(o.mode);
    std::error_code ec;
    const bool single_file = o.inputs.size() == 1 && !o.output.empty() && !fs::is_directory(o.output, ec);
    fs::path folder = o.output.empty() ? fs::path(".") : fs::path(o.output);
    if (!single_file && !o.output.empty() && !fs::is_directory(folder, ec)) {
        if (!fs::create_directories(folder, ec)) {
            err << "ostelraw convert: cannot create the folder " << o.output << "\n";
            return false;
        }
    }
    std::map<std::string, std::string> taken;  // output -> input
    for (const std::string& input : o.inputs) {
        Job job{input, single_file ? o.output : (folder / fs::path(input).stem()).string() + ext, {}};
        const std::string key = fs::weakly_canonical(job.output, ec).string();
        const auto [it, fresh] = taken.emplace(ec ? job.output : key, input);
        if (!fresh) job.problem = "output " + job.output + " is already written for " + it->second;
        jobs.push_back(std::move(job));
    }
    return true;
}

// Develops and exports one file; returns the problems (empty on success).
std::vector<std::string> convert_one(const Job& job, const ConvertOptions& o, persistence::SettingsDatabase* database,
                                     std::vector<std::string>& warnings, exporting::ExportSize& written) {
    if (!job.problem.empty()) return {job.problem};
    FileNotifier notifier;
    exporting::ExportRequest rq;
    develop::Picture16 pixels;
    {
        // The document goes before the file is written: only the developed
        // pixels, the shooting data and the profile are needed for that.
        StoredControls controls(o.controls);
        develop::RawDocument doc;
        doc.set_controls(&controls);
        doc.set_notifier(&notifier);
        doc.set_screen_develop(false);
        if (database) doc.use_database(database, &controls, develop::DatabaseUse::record_restore);
        int status = doc.open(job.input);
        if (status == develop::kLoadOk && controls.decode_controls_changed()) status = doc.LoadRaw();
        if (status != develop::kLoadOk) {
            std::vector<std::string> problems{develop::load_status_message(status)};
            problems.insert(problems.end(), notifier.messages.begin(), notifier.messages.end());
            return problems;
        }
        doc.Develop(false);
        if (!doc.ready() || doc.output().size() < size_t(doc.width()) * size_t(doc.height()) * 3 ||
            doc.output().empty()) {
            std::vector<std::string> problems = notifier.messages;
            if (problems.empty()) problems.push_back("the image could not be developed");
            return problems;
        }
        warnings = notifier.messages;
        rq.width = doc.width();
        rq.height = doc.height();
        const develop::ShootingData& shot = doc.shooting();
        rq.shot.make = shot.make;
        rq.shot.model = shot.model;
        rq.shot.capture_time = shot.capture_text;
        rq.shot.iso = shot.iso;
        rq.shot.shutter = shot.shutter;
        rq.shot.aperture = shot.aperture;
        rq.shot.focal_length = shot.focal_length;
        rq.icc_profile = doc.output_profile();
        pixels = doc.take_output();
    }
    rq.rgb = pixels.data();
    rq.rotation = o.rotation;
    rq.crop_mode = o.crop.has_value();
    if (o.crop) rq.crop = *o.crop;
    const exporting::ExportSize natural =
        exporting::default_output_size(rq.width, rq.height, rq.rotation, rq.crop_mode, rq.crop);
    exporting::ExportSize size = natural;
    if (o.size) size = *o.size;
    if (o.scale_percent) {
        size.width = std::max(1, int((int64_t(natural.width) * o.scale_percent + 50) / 100));
        size.height = std::max(1, int((int64_t(natural.height) * o.scale_percent + 50) / 100));
    }
    rq.output_width = size.width;
    rq.output_height = size.height;
    rq.mode = o.mode;
    rq.quality = o.quality;
    rq.artist = o.artist;
    rq.copyright = o.copyright;
    const exporting::ExportResult result = exporting::export_image(job.output, rq);
    if (!result.written) {
        std::vector<std::string> problems = result.messages;
        if (!result.detail.empty()) problems.push_back(result.detail);
        return problems;
    }
    warnings.insert(warnings.end(), result.messages.begin(), result.messages.end());
    written = {result.width, result.height};
    return {};
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ": ") + p;
    return text;
}

}  // namespace

int command_convert(const std::vector<std::string>& given, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args = given;
    const bool use_settings = take_flag(args, "--use-settings");
    ConvertOptions options;
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        print_convert_usage(args.empty() ? err : out);
        return args.empty() ? kExitUsage : kExitOk;
    }
    if (!parse_convert_options(args, options, err)) {
        print_convert_usage(err);
        return kExitUsage;
    }
    std::vector<Job> jobs;
    if (!plan_outputs(options, jobs, err)) return kExitFailed;
    // Only when asked: without the flag a batch never touches the database.
    const auto database = use_settings ? open_settings_database(err) : nullptr;

    const bool show_progress = &err == &std::cerr && isatty(STDERR_FILENO);
    const int workers = std::min<int>(options.jobs, int(jobs.size()));
    std::mutex report_lock;
    std::atomic<size_t> next{0};
    size_t done = 0, failed = 0;
    auto progress_line = [&] {
        if (show_progress)
            err << "\r\033[Kconverting: " << done << " of " << jobs.size() << " done"
                << (failed ? ", " + std::to_string(failed) + " failed" : std::string()) << std::flush;
    };
#ifdef _OPENMP
    // The thread budget as OMP_NUM_THREADS (or the core count) sets it,
    // shared between the files converted side by side.
    const int thread_budget = omp_get_max_threads();
#endif
    auto worker = [&] {
#ifdef _OPENMP
        if (workers > 1) omp_set_num_threads(std::max(1, thread_budget / workers));
#endif
        for (size_t i = next++; i < jobs.size(); i = next++) {
            std::vector<std::string> warnings;
            exporting::ExportSize size;
            const std::vector<std::string> problems = convert_one(jobs[i], options, database.get(), warnings, size);
            std::lock_guard<std::mutex> lock(report_lock);
            if (show_progress) err << "\r\033[K";
            for (const std::string& w : warnings) err << jobs[i].input << ": warning: " << w << "\n";
            ++done;
            if (problems.empty()) {
                out << jobs[i].input << " -> " << jobs[i].output << " (" << size.width << "x" << size.height
                    << ")\n";
            } else {
                ++failed;
                err << jobs[i].input << ": " << joined(problems) << "\n";
            }
            progress_line();
        }
    };
    progress_line();
    if (workers <= 1) {
        worker();
    } else {
        std::vector<std::thread> threads;
        for (int t = 0; t < workers; ++t) threads.emplace_back(worker);
        for (std::thread& t : threads) t.join();
    }
    if (show_progress) err << "\r\033[K";
    out << std::flush;
    return failed ? kExitFailed : kExitOk;
}

}  // namespace ostel::cli
