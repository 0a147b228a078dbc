// Kodak adaptive-Huffman band stream.
//
// Nothing in identification selects this loader, and the band decoding
// rules (how the 4-row bands use the tables and prediction buffers) are not
// known to this implementation. Rather than guess at them and return wrong
// pixels, the loader leaves the image empty and marks the file as not
// decodable.
#include "core/loaders/loaders.h"

namespace ostel::core {

void kodak_radc_stream_load_raw(DecoderSession& s) {
    s.raw_count = 0;
    count_undecodable(s);
}

}  // namespace ostel::core
