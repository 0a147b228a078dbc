// After a tree walk: which directory holds the raw image, which loader reads
// it, whether the file is refused, and which secondary image is the
// thumbnail.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/identify/parsers.h"
#include "core/tiff/jpeg_frame.h"
#include "core/tiff/tiff_io.h"

namespace ostel::core {

namespace {

void select_loader(DecoderSession& s, const TiffIfd& raw) {
    const int64_t area = int64_t(s.stored_width) * s.stored_height;
    switch (s.compression) {
        case 0: case 1:
            switch (s.bits_per_sample) {
                case 8: s.loader = LoaderId::eight_bit_load_raw; break;
                case 12:
                    if (raw.photometric == 2) s.packing_flags = 6;
                    s.loader = tiff::starts_with(s.make, "PENTAX") ? LoaderId::unpacked_load_raw
                                                                   : LoaderId::packed_bits_load_raw;
                    break;
                case 14: case 16: s.loader = LoaderId::unpacked_load_raw; break;
                default: break;
            }
            // Twelve bits packed into a byte count of 1.5 per sample.
            if (raw.bytes * 5 == area * 8) {
                s.bits_per_sample = 12;
                s.white_level = 0xffff;
                s.loader = LoaderId::packed_bits_load_raw;
                s.packing_flags = 273;
            }
            break;
        case 6: case 7: case 99: s.loader = LoaderId::lossless_image_load_raw; break;
        case 262: s.loader = LoaderId::kodak_262_load_raw; break;
        case 32767:
            if (raw.bytes == area) {
                s.bits_per_sample = 12;
                s.loader = LoaderId::sony_arw2_load_raw;
                break;
            }
            if (raw.bytes * 8 != area * s.bits_per_sample) {
                s.stored_height += 8;
                s.loader = LoaderId::sony_arw_huffman_load_raw;
                break;
            }
            s.packing_flags = 79;
            [[fallthrough]];
        case 32769:
            s.packing_flags += 1;
            [[fallthrough]];
        case 32770: case 32773: s.loader = LoaderId::packed_bits_load_raw; break;
        case 34713: s.loader = LoaderId::nikon_huffman_load_raw; break;
        case 65535: s.loader = LoaderId::pentax_table_load_raw; break;
        case 65000:
            switch (raw.photometric) {
                case 2:
                    s.loader = LoaderId::kodak_rgb16_load_raw;
                    s.cfa_pattern = 0;
                    break;
                case 6:
                    s.loader = LoaderId::kodak_ycc_load_raw;
                    s.cfa_pattern = 0;
                    break;
                case 32803: s.loader = LoaderId::kodak_block_load_raw; break;
                default: break;
            }
            break;
        case 32867: break;  // left to the camera rules
        default:
            // DNG data of other kinds is settled by the DNG rules.
            if (!s.dng_version) s.raw_count = 0;
            break;
    }
}

void choose_thumbnail(DecoderSession& s, int raw, int max_samples) {
    const TiffState& t = s.tiff;
    int thumb = -1;
    for (int i = 0; i < t.ifd_count; ++i) {
        const TiffIfd& d = t.ifds[i];
        if (i == raw || d.samples != max_samples) continue;
        const int64_t bits = d.bits < 0 ? 0 : d.bits;
        const int64_t format = s.thumb_format < 0 ? 0 : s.thumb_format;
        const int64_t score = int64_t(d.width) * d.height / ((bits + 1) * (bits + 1));
        const int64_t current = int64_t(s.thumb_width) * s.thumb_height / ((format + 1) * (format + 1));
        if (score <= current) continue;
        s.thumb_width = d.width;
        s.thumb_height = d.height;
        s.thumb_offset = d.offset;
        s.thumb_length = d.bytes;
        s.thumb_format = d.bits;
        thumb = i;
    }
    if (thumb < 0) return;
    const TiffIfd& d = t.ifds[thumb];
    s.thumb_format |= d.samples << 5;
    switch (d.compression) {
        case 0: s.thumb_writer = ThumbWriterId::layered_planes; break;
        case 1:
            if (d.bits <= 8)
                s.thumb_writer = ThumbWriterId::ppm;
            else
                s.thumb_loader = LoaderId::kodak_thumb_rgb_load_raw;
            break;
        case 65000:
            s.thumb_loader = d.photometric == 6 ? LoaderId::kodak_ycc_load_raw : LoaderId::kodak_rgb16_load_raw;
            break;
        default: break;
    }
}

}  // namespace

namespace {

// Photometric codes of colour-filter-array and linear sensor data.
bool holds_sensor_data(const TiffIfd& d) { return d.photometric == 32803 || d.photometric == 34892; }

}  // namespace

void choose_raw_ifd(DecoderSession& s) {
    s.thumb_format = 16;
    if (s.thumb_offset) {
        s.seek(s.thumb_offset);
        tiff::JpegFrame frame;
        if (tiff::read_jpeg_frame(s, frame)) {
            s.thumb_format = frame.bits;
            s.thumb_width = frame.wide;
            s.thumb_height = frame.high;
        }
    }
    const TiffState& t = s.tiff;
    int raw = -1, max_samples = 0;
    for (int i = 0; i < t.ifd_count; ++i) {
        const TiffIfd& d = t.ifds[i];
        if (max_samples < d.samples) max_samples = d.samples < 3 ? d.samples : 3;
        if (d.compression == 6 && d.samples == 3) continue;
        if (d.width <= 0 || d.height <= 0 || d.width >= 65536 || d.height >= 65536) continue;
        const int64_t area = int64_t(d.width) * d.height, current = int64_t(s.stored_width) * s.stored_height;
        // A preview as large as the sensor data (cropped DNGs) must not win
        // over it: on equal size the directory that holds sensor data does.
        const bool sensor_tie = area == current && raw >= 0 && holds_sensor_data(d) && !holds_sensor_data(t.ifds[raw]);
        if (area <= current && !sensor_tie) continue;
        s.stored_width = d.width;
        s.stored_height = d.height;
        s.bits_per_sample = d.bits;
        s.compression = d.compression;
        s.raw_offset = d.offset;
        s.container_orientation = d.orientation;
        s.samples_per_pixel = d.samples;
        raw = i;
    }
    // In 64 bits: a width near the largest int must not overflow here.
    s.diagonal_width = int(std::min<int64_t>(int64_t(s.diagonal_width) * ((int64_t(s.stored_width) + 1) / 2), INT32_MAX));
    if (t.ifd_count > 0 && t.ifds[0].orientation) s.container_orientation = t.ifds[0].orientation;
    if (raw >= 0) s.raw_directory = t.ifds[raw];
    if (raw >= 0 && s.loader == LoaderId::none) select_loader(s, t.ifds[raw]);
    const int64_t raw_bytes = raw >= 0 ? t.ifds[raw].bytes : 0;
    if (s.dng_version == 0 &&
        ((s.samples_per_pixel == 3 && raw_bytes && s.bits_per_sample != 14 && s.bits_per_sample != 2048) ||
         (s.bits_per_sample == 8 && !std::strstr(s.make, "KODAK") && !std::strstr(s.make, "Kodak") &&
          !std::strstr(s.model_extra, "DEBUG RAW"))))
        s.raw_count = 0;
    choose_thumbnail(s, raw, max_samples);
}

}  // namespace ostel::core
