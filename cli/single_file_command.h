#pragma once
// The start shared by the commands that read one raw file and write one
// file (raw, thumb): options and help, standard input, and the output
// checked against the input before any work.
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/input_files.h"

namespace ostel::cli {

struct SingleFileStart {
    SimpleOptions options;
    StandardInputCopy stdin_copy;
    std::string load;  // the file to read (standard input's copy for "-")
    std::string name;  // the input as messages name it
};

// Returns -1 when the command goes on with `start` filled, else the exit
// status to end with (help printed, usage error, refused output).
int begin_single_file_command(const std::string& command, const std::vector<std::string>& args,
                              void (*print_help)(std::ostream&), SingleFileStart& start, std::ostream& out,
                              std::ostream& err);

// The warning for a file whose raw data has `count` data errors.
std::string incomplete_data_warning(int count);

}  // namespace ostel::cli
