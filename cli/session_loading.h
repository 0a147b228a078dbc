#pragma once
// Loads a file into a session and runs one core entry, turning every way it
// can fail into the message the user sees.
#include <functional>
#include <string>

#include "core/session/decoder_session.h"

namespace ostel::cli {

// Returns an empty string on success, else the system's reason why the file
// cannot be read ("No such file or directory", ...), "Memory allocation
// error", or "Wrong file header" followed by what the file is when known.
std::string run_core_entry(const std::string& path, core::DecoderSession& session,
                           const std::function<void(core::DecoderSession&)>& entry);

}  // namespace ostel::cli
