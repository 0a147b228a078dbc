#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace ostel::cli {

namespace {

void print_usage(std::ostream& err) {
    err << "usage: ostelraw info [--json] FILE...\n"
           "       ostelraw convert FILE... [-o OUT] [--format tiff16|tiff8|jpeg] [options]\n"
           "       ostelraw raw FILE -o OUT.tif\n"
           "       ostelraw thumb FILE -o OUT\n"
           "       ostelraw settings FILE... [--json] [--set NAME=VALUE]... [--reset]\n";
}

}  // namespace

int run_command_line(int argc, char** argv) {
    if (argc < 2) {
        print_usage(std::cerr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "info") return command_info(args, std::cout, std::cerr);
    if (command == "convert") return command_convert(args, std::cout, std::cerr);
    if (command == "raw") return command_raw(args, std::cout, std::cerr);
    if (command == "thumb") return command_thumb(args, std::cout, std::cerr);
    if (command == "settings") return command_settings(args, std::cout, std::cerr);
    if (command == "--help" || command == "-h") {
        print_usage(std::cout);
        return kExitOk;
    }
    std::cerr << "ostelraw: unknown command '" << command << "'\n";
    print_usage(std::cerr);
    return kExitUsage;
}

}  // namespace ostel::cli
