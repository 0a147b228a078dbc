// Plain JPEG files: walks the marker segments up to the scan for the frame
// size and for Exif trees and heap blocks in the application segments.
#include <cstring>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {

int read_jpeg_markers(DecoderSession& s, int64_t offset) {
    s.seek(offset);
    if (s.getc() != 0xff || s.getc() != 0xd8) return 0;
    for (;;) {
        if (s.getc() != 0xff) break;
        const int marker = s.getc();
        if (marker < 0 || marker == 0xda) break;
        s.byte_order = 0x4d4d;
        const int64_t length = int64_t(s.read_u16()) - 2;
        const int64_t data = s.tell();
        // A length below the field's own size would not move the walk on.
        if (length < 0 || !limits::within_file(s, data, length)) break;
        if (marker == 0xc0 || marker == 0xc3) {
            s.getc();
            s.stored_height = s.read_u16();
            s.stored_width = s.read_u16();
        }
        s.byte_order = s.read_u16();
        const int64_t header_length = s.read_u32();
        char heap[4] = {};
        s.read(heap, 1, 4);
        if (std::memcmp(heap, "HEAP", 4) == 0 && header_length <= length)
            read_ciff(s, data + header_length, length - header_length);
        parse_tiff_file(s, data + 6);
        s.seek(data + length);
    }
    return 1;
}

}  // namespace ostel::core
