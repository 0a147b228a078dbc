#pragma once
#include "core/session/decoder_session.h"

namespace ostel::core {

// Recognises the camera and file layout of session.input (positioned
// anywhere) and fills the session. raw_count is 0 when the file is refused.
void identify_file(DecoderSession& session);

}  // namespace ostel::core
