#include "core/loaders/kodak_block_coder.h"

#include <algorithm>

#include "core/loaders/legacy_support.h"

namespace ostel::core {

bool kodak_decode_run(DecoderSession& s, int* out, int n) {
    n = std::min(std::max(n, 0), 768);
    const int count = (n + 3) & ~3;
    uint8_t lengths[kKodakRunCapacity];
    const int64_t start = s.tell();
    bool plain = false;
    for (int i = 0; i < count; i += 2) {
        const unsigned c = legacy::read_byte(s);
        lengths[i] = static_cast<uint8_t>(c & 15);
        lengths[i + 1] = static_cast<uint8_t>(c >> 4);
        if (lengths[i] > 12 || lengths[i + 1] > 12) {
            plain = true;
            break;
        }
    }
    if (plain) {
        s.seek(start);
        // Eight values in six shorts: the top nibbles of the first two, the
        // low twelve bits of all six.
        for (int i = 0; i < count; i += 8) {
            uint16_t w[6];
            s.read_u16_block(w, 6);
            out[i] = (w[0] >> 12) << 8 | (w[2] >> 12) << 4 | (w[4] >> 12);
            out[i + 1] = (w[1] >> 12) << 8 | (w[3] >> 12) << 4 | (w[5] >> 12);
            for (int j = 0; j < 6; ++j) out[i + 2 + j] = w[j] & 0xFFF;
        }
        return true;
    }
    uint64_t buffer = 0;
    int valid = 0;
    if ((count & 7) == 4) {
        buffer = legacy::read_byte(s) << 8;
        buffer |= legacy::read_byte(s);
        valid = 16;
    }
    for (int i = 0; i < count; ++i) {
        const int len = lengths[i];
        if (valid < len) {
            const uint64_t b0 = legacy::read_byte(s), b1 = legacy::read_byte(s);
            const uint64_t b2 = legacy::read_byte(s), b3 = legacy::read_byte(s);
            buffer |= ((b0 << 8) | b1) << valid;
            buffer |= ((b2 << 8) | b3) << (valid + 16);
            valid += 32;
        }
        int diff = static_cast<int>(buffer & ((uint64_t(1) << len) - 1));
        buffer >>= len;
        valid -= len;
        if (len > 0 && !(diff & (1 << (len - 1)))) diff -= (1 << len) - 1;
        out[i] = diff;
    }
    return false;
}

}  // namespace ostel::core
