#pragma once
#include "core/session/decoder_session.h"

namespace ostel::core {

// Decode entry: identifies the file in session.input and loads its raw data
// into session.image. Afterwards raw_count tells whether image holds data.
// May throw CoreFailure (allocation failure); the caller drops the session.
int decode(DecoderSession& session);

// Thumbnail entry: identifies the file and delivers its embedded preview in
// thumb_data according to thumb_kind. Returns 1 when a thumbnail stored as
// raw data was decoded into image instead.
int extract_thumbnail(DecoderSession& session);

}  // namespace ostel::core
