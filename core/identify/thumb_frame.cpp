// Frame size of an embedded JPEG, read from its start-of-frame segment.
#include "core/identify/identify_steps.h"
#include "core/identify/limits.h"

namespace ostel::core {
namespace {

int read_be16(DecoderSession& s) {
    const int hi = s.getc();
    const int lo = s.getc();
    return hi < 0 || lo < 0 ? -1 : (hi << 8) | lo;
}

}  // namespace

bool read_jpeg_frame_size(DecoderSession& s, int64_t offset, int& width, int& height) {
    if (!limits::within_file(s, offset, 4)) return false;
    s.seek(offset);
    if (read_be16(s) != 0xFFD8) return false;
    // Every segment advances by at least its four header bytes, so the walk
    // ends at the end of the file.
    for (;;) {
        const int tag = read_be16(s);
        const int length = read_be16(s);
        if (tag <= 0xFF00 || length < 2) return false;
        const int64_t next = s.tell() + length - 2;
        if (tag >= 0xFFC0 && tag <= 0xFFC3) {
            if (length < 7) return false;
            s.getc();  // precision
            const int h = read_be16(s);
            const int w = read_be16(s);
            if (h <= 0 || w <= 0) return false;
            height = h;
            width = w;
            return true;
        }
        if (tag == 0xFFDA || !limits::within_file(s, next, 0)) return false;
        s.seek(next);
    }
}

}  // namespace ostel::core
