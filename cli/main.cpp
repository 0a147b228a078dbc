#include "cli/commands.h"

int main(int argc, char** argv) { return ostel::cli::run_command_line(argc, argv); }
