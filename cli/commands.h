#pragma once
#include <iosfwd>
#include <string>
#include <vector>

namespace ostel::cli {

// Exit codes of every sub-command.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// The whole command line; never throws (an unexpected failure is reported
// and ends with kExitFailed).
int run_command_line(int argc, char** argv);
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int command_info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_raw(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_convert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_settings(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_thumb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The option words of the small commands: -o VALUE, switches, inputs.
struct SimpleOptions {
    std::vector<std::string> inputs;
    std::string output;
    bool overwrite = false, json = false, quiet = false, verbose = false, help = false;
};
// False after writing the reason to `err`; `allowed` lists the switches and
// "-o" that the command takes.
bool parse_simple_options(const std::string& command, const std::vector<std::string>& args,
                          const std::vector<std::string>& allowed, SimpleOptions& options, std::ostream& err);

}  // namespace ostel::cli
