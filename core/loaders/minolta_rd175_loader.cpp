// Minolta RD175: three sensors written as 1481 transposed byte rows. Each
// input row fills one image row (the "target"); boxes of 82 input rows
// interleave into the final row order, and the odd boxes of the first twelve
// carry every other sample, the gaps being interpolated.
#include <cstdint>

#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void minolta_rd175_loader(DecoderSession& s) {
    if (!legacy::image_ready(s)) {
        count_undecodable(s);
        return;
    }
    uint8_t bytes[768];
    for (int irow = 0; irow < 1481; ++irow) {
        legacy::read_bytes(s, bytes, sizeof bytes);
        int box = irow / 82;
        int target = irow % 82 * 12 + (box < 12 ? (box | 1) : (box - 12) * 2);
        switch (irow) {
            case 1477:
            case 1479: continue;
            case 1476: target = 984; break;
            case 1480: target = 985; break;
            case 1478: target = 985; box = 1; break;
            default: break;
        }
        // The sample at input position p belongs to image column p of row
        // target (the row and column of the stored data are transposed).
        auto put = [&](int p, int t, int value) { s.bayer_store(t, p, static_cast<uint16_t>(value)); };
        if (box < 12 && (box & 1)) {
            int t = target;
            for (int p = 0; p < 1533; ++p, t ^= 1)
                if (p != 1) put(p, t, (p + 1) & 2 ? bytes[p / 2 - 1] + bytes[p / 2 + 1] : bytes[p / 2] << 1);
            put(1, t, bytes[1] << 1);
            put(1533, t, bytes[765] << 1);
        } else {
            for (int p = target & 1; p < 1534; p += 2) put(p, target, bytes[p / 2] << 1);
        }
    }
    s.white_level = 510;
}

}  // namespace ostel::core
