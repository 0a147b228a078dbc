#include "core/tiff/jpeg_frame.h"

#include <vector>

namespace ostel::core::tiff {

bool read_jpeg_frame(DecoderSession& s, JpegFrame& frame) {
    frame = JpegFrame{};
    uint8_t start[2];
    if (s.read(start, 1, 2) != 2 || start[1] != 0xD8) return false;
    std::vector<uint8_t> data(65536, 0);
    int sraw = 0;
    for (;;) {
        uint8_t head[4];
        if (s.read(head, 1, 4) != 4) return false;
        const unsigned tag = (head[0] << 8) | head[1];
        const int length = ((head[2] << 8) | head[3]) - 2;
        // A marker that is not one, or a length that would not move the
        // stream forward, ends the header: nothing valid follows.
        if (tag <= 0xFF00 || length < 0) return false;
        std::fill(data.begin(), data.end(), 0);
        if (s.read(data.data(), 1, static_cast<size_t>(length)) != static_cast<size_t>(length)) return false;
        const uint8_t* d = data.data();
        switch (tag) {
            case 0xFFC3:
                sraw = ((d[7] >> 4) * (d[7] & 15) - 1) & 3;
                [[fallthrough]];
            case 0xFFC0:
                frame.bits = d[0];
                frame.high = (d[1] << 8) | d[2];
                frame.wide = (d[3] << 8) | d[4];
                frame.components = d[5] + sraw;
                if (length == 9 && s.dng_version == 0) s.getc();
                break;
            case 0xFFDA: {
                const int n = d[0];
                frame.bits -= d[3 + 2 * n] & 15;
                return true;
            }
            default: break;
        }
    }
}

}  // namespace ostel::core::tiff
