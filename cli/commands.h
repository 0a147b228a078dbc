#pragma once
#include <iosfwd>
#include <string>
#include <vector>

namespace ostel::cli {

// Exit codes of every sub-command.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

int run_command_line(int argc, char** argv);

int command_info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_raw(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_convert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_settings(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int command_thumb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ostel::cli
