#pragma once
// Where the settings database lives: $OSTELRAW_DATA_DIR when set, else
// $XDG_DATA_HOME/OstelRAW/data, else ~/.local/share/OstelRAW/data.
#include <string>

namespace ostel::persistence {

// The folder path; empty when neither variable nor a home folder is known.
std::string data_folder();

}  // namespace ostel::persistence
