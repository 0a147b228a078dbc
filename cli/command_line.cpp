#include <algorithm>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace ostel::cli {

namespace {

void print_usage(std::ostream& out) {
    out << "usage: ostelraw COMMAND [options] FILE...\n"
           "  info     print the camera, shooting data and layout of raw files\n"
           "  convert  develop raw files into JPEG, TIFF or PNG images\n"
           "  raw      write the undeveloped sensor data of a raw file as a 16-bit TIFF\n"
           "  thumb    extract the thumbnail embedded in a raw file\n"
           "  settings show or change the control positions stored for raw files\n"
           "'ostelraw COMMAND --help' lists the options of a command; 'ostelraw --version' the version.\n";
}

}  // namespace

bool parse_simple_options(const std::string& command, const std::vector<std::string>& args,
                          const std::vector<std::string>& allowed, SimpleOptions& o, std::ostream& err) {
    const auto takes = [&](const std::string& word) {
        return std::find(allowed.begin(), allowed.end(), word) != allowed.end();
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.empty() || a[0] != '-' || a == "-") {
            o.inputs.push_back(a);
        } else if (a == "--") {
            o.inputs.insert(o.inputs.end(), args.begin() + long(i) + 1, args.end());
            break;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "-o" && takes("-o")) {
            if (i + 1 >= args.size()) {
                err << "ostelraw " << command << ": option -o needs a value\n";
                return false;
            }
            o.output = args[++i];
        } else if ((a == "-y" || a == "--overwrite") && takes("-y")) {
            o.overwrite = true;
        } else if (a == "--json" && takes("--json")) {
            o.json = true;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else {
            err << "ostelraw " << command << ": unknown option '" << a << "'\n";
            return false;
        }
    }
    return true;
}

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty()) {
            print_usage(err);
            return kExitUsage;
        }
        const std::string& command = args[0];
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (command == "info") return command_info(rest, out, err);
        if (command == "convert") return command_convert(rest, out, err);
        if (command == "raw") return command_raw(rest, out, err);
        if (command == "thumb") return command_thumb(rest, out, err);
        if (command == "settings") return command_settings(rest, out, err);
        if (command == "--help" || command == "-h" || command == "help") {
            print_usage(out);
            return kExitOk;
        }
        if (command == "--version" || command == "-V") {
            out << "ostelraw " << OSTEL_VERSION << "\n";
            return kExitOk;
        }
        err << "ostelraw: unknown command '" << command << "'\n"
            << "Try 'ostelraw --help' for the commands.\n";
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        err << "ostelraw: Memory allocation error\n";
    } catch (const std::exception& e) {
        err << "ostelraw: internal error: " << e.what() << "\n";
    } catch (...) {
        err << "ostelraw: internal error\n";
    }
    return kExitFailed;
}

int run_command_line(int argc, char** argv) {
    std::vector<std::string> args;
    try {
        args.assign(argv + 1, argv + argc);
    } catch (...) {
        std::cerr << "ostelraw: Memory allocation error\n";
        return kExitFailed;
    }
    return run_command_line(args, std::cout, std::cerr);
}

}  // namespace ostel::cli
