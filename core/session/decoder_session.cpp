#include "core/session/decoder_session.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace ostel::core {

const uint8_t kColorMap16[16][16] = {
    {2, 1, 1, 3, 2, 3, 2, 0, 3, 2, 3, 0, 1, 2, 1, 0}, {0, 3, 0, 2, 0, 1, 3, 1, 0, 1, 1, 2, 0, 3, 3, 2},
    {2, 3, 3, 2, 3, 1, 1, 3, 3, 1, 2, 1, 2, 0, 0, 3}, {0, 1, 0, 1, 0, 2, 0, 2, 2, 0, 3, 0, 1, 3, 2, 1},
    {3, 1, 1, 2, 0, 1, 0, 2, 1, 3, 1, 3, 0, 1, 3, 0}, {2, 0, 0, 3, 3, 2, 3, 1, 2, 0, 2, 0, 3, 2, 2, 1},
    {2, 3, 3, 1, 2, 1, 2, 1, 2, 1, 1, 2, 3, 0, 0, 1}, {1, 0, 0, 2, 3, 0, 0, 3, 0, 3, 0, 3, 2, 1, 2, 3},
    {2, 3, 3, 1, 1, 2, 1, 0, 3, 2, 3, 0, 2, 3, 1, 3}, {1, 0, 2, 0, 3, 0, 3, 2, 0, 1, 1, 2, 0, 1, 0, 2},
    {0, 1, 1, 3, 3, 2, 2, 1, 1, 3, 3, 0, 2, 1, 3, 2}, {2, 3, 2, 0, 0, 1, 3, 0, 2, 0, 1, 2, 3, 0, 1, 0},
    {1, 3, 1, 2, 3, 2, 3, 2, 0, 2, 0, 1, 1, 0, 3, 0}, {0, 2, 0, 3, 1, 0, 0, 1, 1, 3, 3, 2, 3, 2, 2, 1},
    {2, 1, 3, 2, 3, 1, 2, 1, 0, 3, 0, 2, 0, 2, 0, 2}, {0, 3, 1, 0, 0, 2, 0, 3, 2, 1, 3, 1, 1, 3, 1, 3},
};

DecoderSession::DecoderSession() : lin_table(65536) {
    for (size_t i = 0; i < lin_table.size(); ++i) lin_table[i] = static_cast<uint16_t>(i);
    for (int r = 0; r < 3; ++r) cam_to_out[r][r] = 1.0f;
}

int DecoderSession::sensor_color(int row, int col) const {
    if (cfa_pattern == 1) return kColorMap16[(row + crop_top) & 15][(col + crop_left) & 15];
    return filter_color(row, col);
}

uint16_t DecoderSession::get2(const uint8_t* b) const {
    if (little_endian()) return static_cast<uint16_t>(b[0] | (b[1] << 8));
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t DecoderSession::get4(const uint8_t* b) const {
    if (little_endian())
        return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

uint16_t DecoderSession::read_u16() {
    uint8_t b[2] = {0xFF, 0xFF};
    input.read(b, 1, 2);
    return get2(b);
}

uint32_t DecoderSession::read_u32() {
    uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    input.read(b, 1, 4);
    return get4(b);
}

uint32_t DecoderSession::read_uint(int type) { return type == 3 ? read_u16() : read_u32(); }

double DecoderSession::read_real(int type) {
    switch (type) {
        case 3: return read_u16();
        case 4: return read_u32();
        case 5: {
            const double num = read_u32();
            const double den = read_u32();
            return num / den;
        }
        case 8: return static_cast<int16_t>(read_u16());
        case 9: return static_cast<int32_t>(read_u32());
        case 10: {
            const double num = static_cast<int32_t>(read_u32());
            const double den = static_cast<int32_t>(read_u32());
            return num / den;
        }
        case 11: {
            const uint32_t bits32 = read_u32();
            float f;
            std::memcpy(&f, &bits32, 4);
            return f;
        }
        case 12: {
            uint8_t b[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
            const bool host_little = [] {
                const uint16_t probe = 1;
                uint8_t first;
                std::memcpy(&first, &probe, 1);
                return first == 1;
            }();
            const bool reverse = host_little != little_endian();
            for (int i = 0; i < 8; ++i) {
                const int c = input.getc();
                b[reverse ? 7 - i : i] = static_cast<uint8_t>(c < 0 ? 0xFF : c);
            }
            double d;
            std::memcpy(&d, b, 8);
            return d;
        }
        default: {
            const int c = input.getc();
            return c < 0 ? 255 : c;
        }
    }
}

void DecoderSession::read_u16_block(uint16_t* buf, size_t count) {
    const size_t got = input.read(buf, 2, count);
    if (got < count) {
        ++short_read_count;
        std::memset(buf + got, 0, (count - got) * 2);
    }
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    const bool host_little = first == 1;
    if (host_little != little_endian())
        for (size_t i = 0; i < got; ++i) buf[i] = static_cast<uint16_t>((buf[i] >> 8) | (buf[i] << 8));
}

void DecoderSession::read_ifd_entry(int64_t base, unsigned& tag, unsigned& type, unsigned& count,
                                    int64_t& save) {
    static constexpr char kSizes[] = "11124811248488";
    tag = read_u16();
    type = read_u16();
    count = read_u32();
    save = tell() + 4;
    const unsigned size_index = type < 14 ? type : 0;
    // 64-bit product: a huge count must not wrap around to an in-entry value.
    const uint64_t bytes = uint64_t(count) * uint64_t(kSizes[size_index] - '0');
    if (bytes > 4) seek(int64_t(read_u32()) + base);
}

void DecoderSession::read_date_text(bool reversed) {
    if (capture_time != 0) return;
    char text[20] = {};
    if (reversed) {
        for (int i = 19; i--;) {
            const int c = input.getc();
            text[i] = static_cast<char>(c < 0 ? 0 : c);
        }
    } else {
        input.read(text, 1, 19);
    }
    text[19] = 0;
    std::tm t{};
    if (std::sscanf(text, "%d:%d:%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec) != 6)
        return;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    const std::time_t converted = std::mktime(&t);
    if (converted > 0) capture_time = static_cast<int64_t>(converted);
}

int DecoderSession::find_4cc(const uint8_t* header, size_t header_len, const char* four) {
    for (size_t i = 0; i + 4 <= header_len && i < 29; ++i)
        if (std::memcmp(header + i, four, 4) == 0) return static_cast<int>(i);
    return -1;
}

void DecoderSession::reset_for_identification() {
    container_orientation = orientation = -1;
    cfa_pattern = 0xFFFFFFFF;
    stored_height = stored_width = diagonal_width = diagonal_layout = 0;
    ljpeg_slices[0] = 0;
    white_level = height = width = crop_top = crop_left = 0;
    color_letters[0] = description[0] = artist[0] = make[0] = model[0] = model_extra[0] = 0;
    iso = exposure_time = f_number = focal_length = 0;
    model_id = 0;
    gps_words.fill(0);
    std::memset(white_patch, 0, sizeof white_patch);
    thumb_offset = thumb_length = 0;
    thumb_width = thumb_height = 0;
    loader = thumb_loader = LoaderId::none;
    thumb_writer = ThumbWriterId::jpeg;
    raw_offset = aux_length = 0;
    raw_directory = TiffIfd{};
    refusal_reason.clear();
    baseline_exposure = 0;
    bits_per_sample = compression = kodak_bits_code = ff_stuffing = 0;
    dng_version = 0;
    packing_flags = 0;
    capture_time = 0;
    frame_number = 0;
    samples_per_pixel = black_level = foveon_file = merge_greens = 0;
    icc_length = 0;
    short_read_count = zero_is_defect = 0;
    pixel_aspect = 1.0;
    raw_count = no_camera_matrix = 1;
    tile_width = tile_length = 0x7FFFFFFF;
    const float shot[4] = {0, 1, 0, 0}, day[4] = {1, 1, 1, 0};
    std::memcpy(as_shot_mul, shot, sizeof shot);
    std::memcpy(daylight_mul, day, sizeof day);
    std::memset(file_matrix, 0, sizeof file_matrix);
    std::memset(cam_to_out, 0, sizeof cam_to_out);
    for (int r = 0; r < 3; ++r) cam_to_out[r][r] = 1.0f;
    color_count = 3;
    for (int i = 0; i < 16384; ++i) lin_table[i] = static_cast<uint16_t>(i);
    bits = BitReaderState{};
    parse_depth = 0;
}

}  // namespace ostel::core
