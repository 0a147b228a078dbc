#include "core/identify/identify.h"

namespace ostel::core {

// Placeholder until the identification rules land: refuses every file.
void identify_file(DecoderSession& s) {
    s.reset_for_identification();
    s.raw_count = 0;
}

}  // namespace ostel::core
