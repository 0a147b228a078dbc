#pragma once
// Name of the JPEG that some cameras write beside the raw file and that
// carries the raw file's shooting data.
#include <string>

namespace ostel::core {

// The companion name for raw_name, or an empty text when the name does not
// follow the camera's eight-character naming scheme.
std::string companion_jpeg_name(const std::string& raw_name);

}  // namespace ostel::core
