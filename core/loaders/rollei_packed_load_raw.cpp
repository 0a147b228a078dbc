// Rollei d530flex: each 10 bytes hold eight 10-bit values. The five
// low-order byte pairs go to the front of the image in order; the top six
// bits of their first bytes form three more values stored in a second run
// that starts five eighths of the way through the sensor.
#include <cstdint>

#include "core/loaders/legacy_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

void rollei_packed_load_raw(DecoderSession& s) {
    if (!legacy::image_ready(s) || s.stored_width <= 0) {
        count_undecodable(s);
        return;
    }
    const int64_t raw_w = s.stored_width;
    auto store = [&](int64_t pos, uint32_t value) {
        const int64_t row = pos / raw_w - s.crop_top;
        const int64_t col = pos % raw_w - s.crop_left;
        if (row >= 0 && row < s.height && col >= 0 && col < s.width)
            s.bayer_store(static_cast<int>(row), static_cast<int>(col), static_cast<uint16_t>(value & 0x3FF));
    };
    int64_t front = 0;
    int64_t back = raw_w * s.stored_height * 5 / 8;
    uint32_t buffer = 0;
    // Eight values per group, the whole sensor in all.
    const int64_t groups = (raw_w * s.stored_height + 7) / 8;
    int64_t read = 0;
    uint8_t group[10];
    for (; read < groups && s.read(group, 1, 10) == 10; ++read) {
        for (int i = 0; i < 10; i += 2) {
            store(front++, uint32_t(group[i]) << 8 | group[i + 1]);
            buffer = (buffer << 6) | (group[i] >> 2);
        }
        store(back++, buffer >> 20);
        store(back++, buffer >> 10);
        store(back++, buffer);
    }
    if (read < groups) ++s.short_read_count;  // the data ended early
    s.white_level = 1023;
}

}  // namespace ostel::core
