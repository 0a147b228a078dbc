// Uncompressed mosaic data packed MSB-first into 8-, 16-, 24- or 32-bit
// little-endian units. The per-camera variations (interlaced fields, a
// padding byte after every ten samples, masked columns used for black,
// swapped column pairs) are selected by packing_flags.
#include <cstdint>

#include "core/loaders/loader_support.h"
#include "core/loaders/loaders.h"

namespace ostel::core {
namespace {

using loader_detail::RowStore;

struct PackedLayout {
    int bps = 0;
    int64_t row_bytes = 0;    // bytes per row, including any stuffed bytes
    int64_t row_samples = 0;  // samples per row
    int pad_bits = 0;         // bits skipped at the end of each row
    int unit_bytes = 1;
    int value_shift = 0;
    bool ten_byte_stuffing = false;
    bool black_from_masked = false;
};

// Byte supplier for one row. The checked variant is used only for the rows
// near the end of the file; it yields zeros there and remembers the shortfall.
template <bool Checked>
struct ByteFeed {
    const uint8_t* p;
    const uint8_t* end;
    bool short_read = false;
    uint8_t next() {
        if (Checked && p >= end) {
            short_read = true;
            return 0;
        }
        return *p++;
    }
};

struct RowState {
    uint64_t buffer = 0;
    int valid = 0;
    int64_t black_sum = 0;
};

// ReadAhead: take several units per refill. Not near the end of the file,
// and not when a stuffed byte follows every tenth sample in the stream.
template <int UnitBytes, bool Checked, bool ReadAhead>
void decode_row(DecoderSession& s, const PackedLayout& L, ByteFeed<Checked>& feed, RowState& st,
                RowStore& store) {
    constexpr int kUnitBits = UnitBytes * 8;
    constexpr int kSwap = UnitBytes == 3 ? 1 : 0;
    const int bps = L.bps;
    const uint64_t mask = (uint64_t(1) << bps) - 1;
    const int left = s.crop_left;
    const int width = s.width;
    uint64_t buffer = st.buffer;
    int valid = st.valid;
    for (int64_t col = 0; col < L.row_samples; ++col) {
        if (valid < bps) {
            // Away from the end of the file take whole units for at least
            // 24 bits at once; the bits stay in order, only fewer refills.
            constexpr int kUnitsPerRefill = ReadAhead ? (24 + kUnitBits - 1) / kUnitBits : 1;
            do {
                for (int u = 0; u < kUnitsPerRefill; ++u) {
                    uint64_t unit = 0;
                    for (int i = 0; i < UnitBytes; ++i) unit |= uint64_t(feed.next()) << (8 * i);
                    buffer = (buffer << kUnitBits) | unit;
                    valid += kUnitBits;
                }
            } while (valid < bps);
        }
        valid -= bps;
        const unsigned sample = static_cast<unsigned>((buffer >> valid) & mask);
        const int64_t target = (col ^ kSwap) - left;
        if (target >= 0 && target < width) {
            store.put(static_cast<int>(target), static_cast<uint16_t>(sample << L.value_shift));
        } else if (L.black_from_masked) {
            st.black_sum += sample;
        }
        if (L.ten_byte_stuffing && col % 10 == 9) {
            if (feed.next() != 0 && col < int64_t(width) + left) ++s.short_read_count;
        }
    }
    valid -= L.pad_bits;
    st.buffer = buffer;
    st.valid = valid;
}

template <int UnitBytes>
void decode_row_any(DecoderSession& s, const PackedLayout& L, int64_t& pos, RowState& st, RowStore& store) {
    const uint8_t* data = s.input.data();
    const int64_t size = s.file_size();
    // Upper bound of the bytes one row can consume: its samples, the units
    // read ahead on either side and the stuffed bytes.
    const int64_t need = (L.row_samples * L.bps + 7) / 8 + 8 * UnitBytes +
                         (L.ten_byte_stuffing ? L.row_samples / 10 + 1 : 0);
    if (pos >= 0 && pos <= size && need <= size - pos) {
        ByteFeed<false> feed{data + pos, data + size};
        if (L.ten_byte_stuffing)
            decode_row<UnitBytes, false, false>(s, L, feed, st, store);
        else
            decode_row<UnitBytes, false, true>(s, L, feed, st, store);
        pos = feed.p - data;
    } else {
        const int64_t start = pos < 0 ? size : (pos > size ? size : pos);
        ByteFeed<true> feed{data + start, data + size};
        decode_row<UnitBytes, true, false>(s, L, feed, st, store);
        pos = feed.p - data;
        if (feed.short_read) ++s.short_read_count;
    }
}

}  // namespace

void packed_bits_load_raw(DecoderSession& s) {
    PackedLayout L;
    L.bps = s.bits_per_sample;
    // Samples wider than 16 bits do not fit the image; nothing to do.
    if (L.bps < 1 || L.bps > 16 || s.stored_width <= 0 || s.height <= 0) {
        count_undecodable(s);
        return;
    }
    const uint32_t flags = static_cast<uint32_t>(s.packing_flags);

    const int64_t raw_width = s.stored_width;
    if (raw_width * 8 >= int64_t(s.width) * L.bps) {
        L.row_bytes = raw_width;
        L.row_samples = raw_width * 8 / L.bps;
    } else {
        L.row_samples = raw_width;
        L.row_bytes = raw_width * L.bps / 8;
    }
    // A row of samples that does not fill its bytes leaves no padding to skip.
    const int64_t pad = L.row_bytes * 8 - L.row_samples * L.bps;
    L.pad_bits = pad > 0 ? static_cast<int>(pad) : 0;
    L.ten_byte_stuffing = (flags & 1) != 0;
    if (L.ten_byte_stuffing) L.row_bytes = L.row_bytes * 16 / 15;
    L.unit_bytes = 1 + static_cast<int>((flags & 24) >> 3);
    L.value_shift = static_cast<int>((flags >> 6) & 15);
    L.black_from_masked = (flags & 32) != 0;

    int64_t pos = s.tell() + int64_t(s.crop_top) * L.row_bytes;
    const int half = (s.height + 1) >> 1;
    RowState st;

    for (int irow = 0; irow < s.height; ++irow) {
        int row = irow;
        if (flags & 2) row = (irow % half) * 2 + irow / half;
        if (row == 1 && (flags & 4)) {
            // The odd field is stored apart from the even one.
            if (s.compression)
                pos = s.raw_offset - ((-int64_t(half) * L.row_bytes) & -2048);
            else
                pos = (s.file_size() >> 3) << 2;
            st.valid = 0;
        }
        RowStore store(s, row);
        switch (L.unit_bytes) {
            case 1: decode_row_any<1>(s, L, pos, st, store); break;
            case 2: decode_row_any<2>(s, L, pos, st, store); break;
            case 3: decode_row_any<3>(s, L, pos, st, store); break;
            default: decode_row_any<4>(s, L, pos, st, store); break;
        }
    }
    s.seek(pos);

    if (L.black_from_masked && L.row_samples > s.width)
        s.black_level = static_cast<int>(st.black_sum / ((L.row_samples - s.width) * int64_t(s.height)));
}

}  // namespace ostel::core
