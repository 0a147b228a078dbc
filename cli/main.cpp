#include <csignal>

#include "cli/commands.h"

int main(int argc, char** argv) {
    // A file-size limit then fails the write (EFBIG), which the writers
    // report and clean up after, instead of killing the program midway.
    std::signal(SIGXFSZ, SIG_IGN);
    return ostel::cli::run_command_line(argc, argv);
}
