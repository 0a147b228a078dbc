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
#include "cli/input_files.h"
#include "cli/single_file_command.h"
#include "cli/stored_settings.h"
#include "develop/colour_management.h"
#include "develop/control_tags.h"
#include "develop/raw_document.h"
#include "export/output_file.h"

namespace ostel::cli {

namespace {

namespace fs = std::filesystem;

// Collects what the document reports for one file.
class FileNotifier : public develop::Notifier {
public:
    void message(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

struct Job {
    std::string input;    // as the user named it ("-" for standard input)
    std::string load;     // the file the loaders read
    std::string output;
    std::string problem;  // set before the run: the file is not converted
    bool skipped = false;  // the output exists and is not to be replaced
};

// What one conversion ended with.
struct JobResult {
    std::vector<std::string> problems;  // empty: written
    std::vector<std::string> warnings;
    int data_errors = 0;
    exporting::ExportSize size;
    std::string details;  // what -v prints about the file
};

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ": ") + p;
    return text;
}

bool is_builtin_profile(const std::string& text) {
    return text.empty() || text == "Ostel RAW" || text == "Ostel sRGB" || text == "Ostel ROMM";
}

// A profile file that cannot even be read fails every file before any work.
std::string profile_problem(const ConvertOptions& o) {
    for (const auto& [t, what] : {std::pair{develop::tag::kInputProfile, "input"},
                                  std::pair{develop::tag::kOutputProfile, "output"}}) {
        const std::string text = o.controls.text(t);
        if (is_builtin_profile(text)) continue;
        const std::string reason = unreadable_reason(text);
        if (!reason.empty()) return std::string("cannot read the ") + what + " profile " + text + ": " + reason;
    }
    return {};
}

// Where each input goes: -o names the file for a single input, else the
// folder; without -o the current folder. Outputs that would land on an
// input, on an existing file (without --overwrite) or on another input's
// output are refused here.
bool plan_outputs(const ConvertOptions& o, const std::vector<InputFile>& inputs, const std::string& stdin_copy,
                  std::vector<Job>& jobs, std::ostream& err) {
    const std::string ext = mode_extension(o.mode);
    std::error_code ec;
    const bool to_stdout = exporting::is_standard_output(o.output);
    const bool single_file = o.output_is_file;
    const fs::path folder = o.output.empty() ? fs::path(".") : fs::path(o.output);
    if (!single_file && !o.output.empty() && !fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            err << "ostelraw convert: cannot create the folder " << o.output << ": " << ec.message() << "\n";
            return false;
        }
    }
    InputGuard guard;
    for (const InputFile& in : inputs) guard.add(in.path == "-" ? stdin_copy : in.path);
    const std::string profile = profile_problem(o);
    std::map<std::string, std::string> taken;  // output -> input
    for (const InputFile& in : inputs) {
        const std::string stem = in.path == "-" ? "stdin" : fs::path(in.path).stem().string();
        Job job{in.path, in.path == "-" ? stdin_copy : in.path,
                single_file ? o.output : (folder / stem).string() + ext, in.problem};
        if (job.problem.empty()) job.problem = profile;
        if (job.problem.empty() && !to_stdout) {
            const std::string key = fs::weakly_canonical(job.output, ec).string();
            const auto [it, fresh] = taken.emplace(ec ? job.output : key, in.path);
            if (!fresh) job.problem = "output " + job.output + " is already written for " + it->second;
            else if (guard.is_input(job.output)) job.problem = job.output + " is one of the inputs; not written";
            else if (!o.overwrite && fs::symlink_status(job.output, ec).type() != fs::file_type::not_found) {
                job.problem = job.output + " exists; not replaced (-y replaces it)";
                job.skipped = true;
            }
        }
        jobs.push_back(std::move(job));
    }
    return true;
}

bool profile_was_refused(const std::vector<std::string>& messages) {
    return std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m == develop::kInputProfileError || m == develop::kOutputProfileError;
    });
}

// Develops and exports one file, with the positions stored for its image
// when there is a database.
JobResult convert_one(const Job& job, const ConvertOptions& o, persistence::SettingsDatabase* database) {
    JobResult r;
    if (!job.problem.empty()) {
        r.problems.push_back(job.problem);
        return r;
    }
    FileNotifier notifier;
    exporting::ExportRequest rq;
    develop::Picture16 pixels;
    {
        // The document goes before the file is written: only the developed
        // pixels, the shooting data and the profile are needed for that.
        StoredControls controls(o.controls, convert_default_positions());
        develop::RawDocument doc;
        doc.set_controls(&controls);
        doc.set_notifier(&notifier);
        doc.set_screen_develop(false);
        if (database) doc.use_database(database, &controls, develop::DatabaseUse::record_restore);
        int status = doc.open(job.load);
        // Restored positions of the controls read while decoding need a
        // second decode.
        if (status == develop::kLoadOk && controls.decode_controls_changed()) status = doc.LoadRaw();
        if (status != develop::kLoadOk) {
            r.problems.push_back(develop::load_status_message(status));
            if (status == develop::kWrongHeader) {
                const std::string kind = refused_file_kind(job.load);
                if (!kind.empty()) r.problems.push_back(kind);
            }
            r.problems.insert(r.problems.end(), notifier.messages.begin(), notifier.messages.end());
            return r;
        }
        doc.Develop(false);
        if (!doc.ready() || doc.output().size() < size_t(doc.width()) * size_t(doc.height()) * 3 ||
            doc.output().empty()) {
            r.problems = notifier.messages;
            if (r.problems.empty()) r.problems.push_back("the image could not be developed");
            return r;
        }
        // A profile that cannot be used is this file's failure, not a
        // silent change of colours.
        if (profile_was_refused(notifier.messages)) {
            r.problems = notifier.messages;
            return r;
        }
        r.warnings = notifier.messages;
        rq.width = doc.width();
        rq.height = doc.height();
        const develop::ShootingData& shot = doc.shooting();
        r.data_errors = shot.data_errors;
        r.details = shot.make + " " + shot.model + ", developed " + std::to_string(doc.width()) + "x" +
                    std::to_string(doc.height()) + ", orientation " + std::to_string(shot.orientation) +
                    (o.auto_orient ? " applied" : " ignored");
        rq.shot = exporting::shooting_items(shot);
        if (o.auto_orient) rq.orientation = shot.orientation;
        rq.icc_profile = doc.output_profile();
        pixels = doc.take_output();
    }
    rq.rgb = pixels.data();
    rq.rotation = o.rotation;
    rq.crop_mode = o.crop.has_value();
    if (o.crop) rq.crop = *o.crop;
    const exporting::ExportSize size = fitted_size(
        exporting::default_output_size(rq.width, rq.height, rq.rotation, rq.crop_mode, rq.crop, rq.orientation), o);
    rq.output_width = size.width;
    rq.output_height = size.height;
    rq.mode = o.mode;
    rq.quality = o.quality;
    rq.compression = o.compression;
    rq.replace_existing = o.overwrite;
    rq.artist = o.artist;
    rq.copyright = o.copyright;
    const exporting::ExportResult result = exporting::export_image(job.output, rq);
    if (!result.written) {
        // The technical reason says more than the dialog's message.
        r.problems = result.detail.empty() ? result.messages : std::vector<std::string>{result.detail};
        return r;
    }
    r.warnings.insert(r.warnings.end(), result.messages.begin(), result.messages.end());
    r.size = {result.width, result.height};
    return r;
}

JobResult convert_guarded(const Job& job, const ConvertOptions& o, persistence::SettingsDatabase* database) {
    try {
        return convert_one(job, o, database);
    } catch (const std::bad_alloc&) {
        JobResult r;
        r.problems.push_back("Memory allocation error");
        return r;
    } catch (const std::exception& e) {
        JobResult r;
        r.problems.push_back(std::string("internal error: ") + e.what());
        return r;
    }
}

}  // namespace

int command_convert(const std::vector<std::string>& given, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args = given;
    const bool use_settings = take_flag(args, "--use-settings");
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        print_convert_help(out);
        return kExitOk;
    }
    ConvertOptions options;
    if (!parse_convert_options(args, options, err)) {
        err << "Try 'ostelraw convert --help' for the options.\n";
        return kExitUsage;
    }
    const std::vector<InputFile> inputs = expand_inputs(options.inputs, options.recursive);
    const bool to_stdout = exporting::is_standard_output(options.output);
    if (to_stdout && inputs.size() != 1) {
        err << "ostelraw convert: -o - writes one image, but there are " << inputs.size() << " inputs\n";
        return kExitUsage;
    }
    StandardInputCopy stdin_copy;
    if (std::any_of(inputs.begin(), inputs.end(), [](const InputFile& f) { return f.path == "-"; })) {
        std::string error;
        if (!stdin_copy.make(error)) {
            err << "ostelraw convert: " << error << "\n";
            return kExitFailed;
        }
    }
    std::vector<Job> jobs;
    if (!plan_outputs(options, inputs, stdin_copy.path(), jobs, err)) return kExitFailed;
    // Only when asked: without the flag a batch never touches the database.
    const auto database = use_settings ? open_settings_database(err) : nullptr;

    // With the image on standard output, the report goes to the error stream.
    std::ostream& report = to_stdout ? err : out;
    const bool quiet = options.verbosity == Verbosity::quiet;
    const bool show_progress = !quiet && &err == &std::cerr && isatty(STDERR_FILENO);
    const int workers = std::min<int>(options.jobs, int(jobs.size()));
    std::mutex report_lock;
    std::atomic<size_t> next{0};
    size_t done = 0, failed = 0, incomplete = 0;
    const size_t skipped = size_t(std::count_if(jobs.begin(), jobs.end(), [](const Job& j) { return j.skipped; }));
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
            const JobResult r = convert_guarded(jobs[i], options, database.get());
            std::lock_guard<std::mutex> lock(report_lock);
            const std::string& name = jobs[i].input == "-" ? std::string("standard input") : jobs[i].input;
            if (show_progress) err << "\r\033[K";
            for (const std::string& w : r.warnings) err << name << ": warning: " << w << "\n";
            ++done;
            if (!r.problems.empty()) {
                ++failed;
                err << name << ": " << joined(r.problems) << "\n";
            } else {
                if (r.data_errors > 0) {
                    ++incomplete;
                    err << name << ": " << incomplete_data_warning(r.data_errors) << "\n";
                }
                if (options.verbosity == Verbosity::verbose) report << name << ": " << r.details << "\n";
                if (!quiet)
                    report << name << " -> " << (to_stdout ? "standard output" : jobs[i].output) << " ("
                           << r.size.width << "x" << r.size.height << ")\n";
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
    if (options.verbosity == Verbosity::verbose || (jobs.size() > 1 && (failed || incomplete)))
        err << "converted " << jobs.size() - failed << " of " << jobs.size() << " files"
            << (failed > skipped ? ", " + std::to_string(failed - skipped) + " failed" : std::string())
            << (skipped ? ", " + std::to_string(skipped) + " skipped (the output exists)" : std::string())
            << (incomplete ? ", " + std::to_string(incomplete) + " incomplete" : std::string()) << "\n";
    report << std::flush;
    return failed || incomplete ? kExitFailed : kExitOk;
}

}  // namespace ostel::cli
