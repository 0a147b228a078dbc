// ostelraw settings: shows, stores or clears the control positions that the
// settings database holds for each file's image.
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/commands.h"
#include "cli/convert_options.h"
#include "cli/json_writer.h"
#include "cli/session_loading.h"
#include "cli/stored_settings.h"
#include "core/thumb/entries.h"
#include "develop/control_tags.h"
#include "persistence/control_map.h"
#include "persistence/image_id.h"

namespace ostel::cli {

namespace {

namespace tag = develop::tag;

constexpr const char* kSettingsTryHelp = "Try 'ostelraw settings --help' for the options.\n";

void print_settings_usage(std::ostream& out) {
    out << "usage: ostelraw settings FILE... [--json] [--set NAME=VALUE]... [--reset]\n"
           "  NAME is a control tag or the name of a convert option (exposure, wb, wb-red, wb-blue,\n"
           "  contrast, saturation, bw); --reset forgets the stored positions first.\n";
}

// Names of the controls that convert takes by name.
constexpr struct {
    int tag;
    const char* name;
} kControlNames[] = {
    {tag::kExposure, "exposure"}, {tag::kWbMode, "wb"},       {tag::kWbRed, "wb-red"}, {tag::kWbBlue, "wb-blue"},
    {tag::kContrast, "contrast"}, {tag::kSaturation, "saturation"}, {tag::kBwMode, "bw"},
};

const char* control_name(int t) {
    for (const auto& c : kControlNames)
        if (c.tag == t) return c.name;
    return nullptr;
}

bool all_digits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The positions that the --set arguments ask for, checked exactly as the
// convert options are. False after writing the reason to `err`.
bool parse_assignments(const std::vector<std::string>& assignments, std::map<int, int>& positions, std::ostream& err) {
    std::vector<std::string> convert_args;
    for (const std::string& a : assignments) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            err << "ostelraw settings: --set expects NAME=VALUE, not '" << a << "'\n";
            return false;
        }
        const std::string name = a.substr(0, eq), value = a.substr(eq + 1);
        bool known = all_digits(name);
        for (const auto& c : kControlNames) known = known || name == c.name;
        if (!known) {
            err << "ostelraw settings: unknown control '" << name << "'\n";
            return false;
        }
        if (all_digits(name)) convert_args.insert(convert_args.end(), {"--set", a});
        else convert_args.insert(convert_args.end(), {"--" + name, value});
    }
    convert_args.push_back("FILE");
    ConvertOptions options;
    std::ostringstream problem;
    if (!parse_convert_options(convert_args, options, problem)) {
        std::string text = problem.str();
        const std::string prefix = "ostelraw convert:";
        if (text.compare(0, prefix.size(), prefix) == 0) text.replace(0, prefix.size(), "ostelraw settings:");
        err << text;
        return false;
    }
    if (!options.controls.texts().empty()) {
        err << "ostelraw settings: profiles and curves are not stored per image\n";
        return false;
    }
    for (const auto& [t, v] : options.controls.values()) positions[t] = int(v);
    return true;
}

struct FileSettings {
    std::string file;
    int32_t id = 0;
    std::map<int, float> controls;
    std::optional<persistence::RawFileRecord> record;
};

void write_text(std::ostream& out, const FileSettings& f) {
    out << f.file << ": image id " << f.id;
    if (f.record) out << ", last opened " << f.record->open_time << " UTC as " << f.record->filename;
    out << "\n";
    if (f.controls.empty()) out << "  no stored control positions\n";
    for (const auto& [t, v] : f.controls) {
        out << "  " << t;
        if (const char* name = control_name(t)) out << " " << name;
        out << ": " << int(v) << "\n";
    }
}

void write_json(JsonWriter& j, const FileSettings& f) {
    j.begin_object();
    j.field("file", f.file);
    j.field("image_id", int64_t(f.id));
    j.key("controls");
    j.begin_object();
    for (const auto& [t, v] : f.controls) j.field(std::to_string(t), int(v));
    j.end_object();
    j.field("opened", f.record ? f.record->open_time : std::string());
    j.end_object();
}

}  // namespace

int command_settings(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false, reset = false;
    std::vector<std::string> files, assignments;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            print_settings_usage(out);
            return kExitOk;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--reset") {
            reset = true;
        } else if (a == "--set") {
            if (i + 1 >= args.size()) {
                err << "ostelraw settings: --set needs NAME=VALUE\n" << kSettingsTryHelp;
                return kExitUsage;
            }
            assignments.push_back(args[++i]);
        } else if (!a.empty() && a[0] == '-') {
            err << "ostelraw settings: unknown option '" << a << "'\n" << kSettingsTryHelp;
            return kExitUsage;
        } else {
            files.push_back(a);
        }
    }
    std::map<int, int> wanted;
    if (files.empty() || !parse_assignments(assignments, wanted, err)) {
        if (files.empty()) err << "ostelraw settings: no raw file given\n" << kSettingsTryHelp;
        return kExitUsage;
    }
    const auto database = open_settings_database(err);
    if (!database) return kExitFailed;

    int status = kExitOk;
    JsonWriter j(out);
    if (json) j.begin_array();
    for (const std::string& file : files) {
        core::DecoderSession session;
        const std::string problem = run_core_entry(file, session, [](core::DecoderSession& s) { core::decode(s); });
        FileSettings f{file, persistence::image_id(session), {}, {}};
        if (!problem.empty() || f.id == 0) {
            err << file << ": " << (problem.empty() ? "no sensor image" : problem) << "\n";
            status = kExitFailed;
            continue;
        }
        bool written = true;
        if (reset) written = database->clear_controls(f.id);
        if (!wanted.empty()) {
            // A whole set of rows, as the desktop program stores them, so
            // that opening the file there restores every control.
            persistence::ControlMap positions([](int t) { return int(develop::initial_control_value(t)); });
            for (const auto& [t, v] : database->stored_controls(f.id)) positions.set(t, int(v));
            for (const auto& [t, v] : wanted) positions.set(t, v);
            written = database->save_control_rows(f.id, positions) && written;
        }
        if (!written) {
            err << file << ": the settings could not be stored\n";
            status = kExitFailed;
        }
        f.controls = database->stored_controls(f.id);
        f.record = database->raw_file(f.id);
        if (json) write_json(j, f);
        else write_text(out, f);
    }
    if (json) {
        j.end_array();
        out << "\n";
    }
    if (!database->close()) status = kExitFailed;
    return status;
}

}  // namespace ostel::cli
