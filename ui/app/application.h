#pragma once
// Start-up and shutdown of the desktop program, in this order: the settings
// database, the splash with its progress, the single document with its
// main window, the file named on the command line; at the end the worker
// stops and the settings database is closed.
namespace ostel::ui {

int run_application(int argc, char** argv);

}  // namespace ostel::ui
