// Heap-structured raw files: a table at the end of each heap lists records,
// some of which are nested heaps. The same walk reads heaps embedded in JPEG
// application segments.
#include <cmath>
#include <cstring>

#include "core/containers/container_io.h"
#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

constexpr unsigned kMaxRecordsPerTable = 100;
// A nested table may point back at its parent; the depth limit alone would
// still allow 100^16 visits, so the whole walk shares one record budget.
constexpr int kMaxRecordsPerWalk = 4096;
constexpr int kRecordBytes = 10;

struct CiffWalk {
    int white_balance_index = 0;  // set by the shot record, used by the balance records
    int records_left = kMaxRecordsPerWalk;
};

float checked_pow2(double exponent, float fallback) {
    const double v = std::pow(2.0, exponent);
    return std::isfinite(v) && v < 3.4e38 ? static_cast<float>(v) : fallback;
}

void read_shot_record(DecoderSession& s, CiffWalk& walk, int64_t data) {
    s.seek(data + 4);
    s.iso = checked_pow2(s.read_u16() / 32.0 - 4, 0) * 50;
    s.read_u16();
    s.f_number = checked_pow2(static_cast<int16_t>(s.read_u16()) / 64.0, 0);
    s.exposure_time = checked_pow2(-static_cast<int16_t>(s.read_u16()) / 32.0, 0);
    s.read_u16();
    const int index = s.read_u16();
    walk.white_balance_index = index > 17 ? 0 : index;
    s.seek(32, SEEK_CUR);
    // Very long exposures overflow the logarithmic field; the camera then
    // stores tenths of a second further on.
    if (s.exposure_time > 1e6f) s.exposure_time = s.read_u16() / 10.0f;
}

void read_balance_768(DecoderSession& s, const CiffWalk& walk, int64_t data) {
    s.seek(data + 72);
    for (int c = 0; c < 4; ++c) {
        const uint16_t v = s.read_u16();
        if (v) s.as_shot_mul[c ^ (c >> 1)] = 1024.0f / v;
    }
    if (walk.white_balance_index == 0) s.as_shot_mul[0] = -1;  // camera used automatic balance
}

void walk_table(DecoderSession& s, CiffWalk& walk, int64_t offset, int64_t length) {
    limits::DepthGuard depth(s);
    if (!depth || length < 4 || !limits::within_file(s, offset, length)) return;
    s.seek(offset + length - 4);
    const int64_t table = int64_t(s.read_u32()) + offset;
    if (!limits::within_file(s, table, 2)) return;
    s.seek(table);
    const unsigned count = s.read_u16();
    if (count > kMaxRecordsPerTable) return;
    for (unsigned i = 0; i < count && walk.records_left > 0; ++i, --walk.records_left) {
        const int64_t record = table + 2 + int64_t(i) * kRecordBytes;
        if (!limits::within_file(s, record, kRecordBytes)) return;
        s.seek(record);
        const unsigned type = s.read_u16();
        const uint32_t len = s.read_u32();
        const int64_t data = offset + s.read_u32();
        const bool data_in_file = limits::within_file(s, data, len);

        if ((((type >> 8) + 8) | 8) == 0x38) {
            walk_table(s, walk, data, len);
            continue;
        }
        // Records whose value is the length word itself.
        switch (type) {
            case 0x5029:
                s.focal_length = static_cast<float>(len >> 16);
                if ((len & 0xffff) == 2) s.focal_length /= 32;
                continue;
            case 0x5813:
            case 0x5814: {
                const float v = containers::ieee_single(len);
                if (!std::isfinite(v)) continue;
                if (type == 0x5813)
                    s.flash_used = v != 0;
                else
                    s.exposure_value = v;
                continue;
            }
            case 0x5817: s.frame_number = len; continue;
            case 0x5834: s.model_id = len; continue;
            case 0x580e: s.capture_time = len; continue;
            default: break;
        }
        if (!data_in_file) continue;
        s.seek(data);
        switch (type) {
            case 0x0810: containers::read_text_field(s, s.artist, 64); break;
            case 0x080a: {
                containers::read_text_field(s, s.make, 64);
                // The model follows the maker's terminating zero.
                s.seek(data + int64_t(std::strlen(s.make)) + 1);
                containers::read_text_field(s, s.model, 64);
                break;
            }
            case 0x1810:
                s.seek(data + 12);
                s.orientation = containers::saturate_int(s.read_u32());
                break;
            case 0x1835: s.compression = containers::saturate_int(s.read_u32()); break;
            case 0x2007:
                s.thumb_offset = data;
                s.thumb_length = len;
                break;
            case 0x1818: {
                s.seek(data + 4);
                const float tv = containers::ieee_single(s.read_u32());
                const float av = containers::ieee_single(s.read_u32());
                if (std::isfinite(tv)) s.exposure_time = checked_pow2(-tv, s.exposure_time);
                if (std::isfinite(av)) s.f_number = checked_pow2(av / 2.0, s.f_number);
                break;
            }
            case 0x102a: read_shot_record(s, walk, data); break;
            case 0x102c: {
                if (s.read_u16() > 512) {
                    s.seek(118, SEEK_CUR);
                    for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ 2] = s.read_u16();
                } else {
                    s.seek(98, SEEK_CUR);
                    for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ (c >> 1) ^ 1] = s.read_u16();
                }
                break;
            }
            // The other layout of 0x0032 and the white-sample record 0x1030 are
            // masked with key words this converter does not have; reading them
            // unmasked would give garbage balance data, so they are left alone.
            case 0x0032:
                if (len == 768) read_balance_768(s, walk, data);
                break;
            case 0x10a9: {
                static constexpr char kRows[] = "0134567028";
                // The index may be up to 17 but the row table has ten entries.
                if (len <= 66 || walk.white_balance_index >= 10) break;
                walk.white_balance_index = kRows[walk.white_balance_index] - '0';
                s.seek(data + 2 + 8 * walk.white_balance_index);
                for (int c = 0; c < 4; ++c) s.as_shot_mul[c ^ (c >> 1)] = s.read_u16();
                break;
            }
            case 0x1031:
                s.read_u16();
                s.stored_width = s.read_u16();
                s.stored_height = s.read_u16();
                break;
            case 0x180e: s.capture_time = s.read_u32(); break;
            default: break;
        }
    }
}

}  // namespace

void read_ciff(DecoderSession& s, int64_t offset, int64_t length) {
    CiffWalk walk;
    walk_table(s, walk, offset, length);
}

}  // namespace ostel::core
