#include "cli/single_file_command.h"

#include <ostream>

namespace ostel::cli {

int begin_single_file_command(const std::string& command, const std::vector<std::string>& args,
                              void (*print_help)(std::ostream&), SingleFileStart& start, std::ostream& out,
                              std::ostream& err) {
    SimpleOptions& o = start.options;
    const std::string hint = "Try 'ostelraw " + command + " --help' for the options.\n";
    if (!parse_simple_options(command, args, {"-o", "-y"}, o, err)) {
        err << hint;
        return kExitUsage;
    }
    if (o.help) {
        print_help(out);
        return kExitOk;
    }
    if (o.inputs.size() != 1 || o.output.empty()) {
        err << "ostelraw " << command << ": needs one input file and -o OUT\n" << hint;
        return kExitUsage;
    }
    const std::string& input = o.inputs[0];
    start.name = input == "-" ? "standard input" : input;
    start.load = input;
    if (input == "-") {
        std::string error;
        if (!start.stdin_copy.make(error)) {
            err << "ostelraw " << command << ": " << error << "\n";
            return kExitFailed;
        }
        start.load = start.stdin_copy.path();
    }
    const std::string refusal = output_refusal(start.load, o.output, o.overwrite);
    if (!refusal.empty()) {
        err << start.name << ": " << refusal << "\n";
        return kExitFailed;
    }
    return -1;
}

std::string incomplete_data_warning(int count) {
    return "warning: the image is incomplete: the raw data has " + std::to_string(count) + " data error" +
           (count == 1 ? "" : "s") + " (truncated or corrupt file)";
}

}  // namespace ostel::cli
