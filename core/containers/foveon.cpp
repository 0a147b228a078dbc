// Foveon files are recognised only so that identification can refuse them;
// their directory is not read.
#include "core/identify/parsers.h"

namespace ostel::core {

void read_foveon(DecoderSession& s) { s.foveon_file = 1; }

}  // namespace ostel::core
