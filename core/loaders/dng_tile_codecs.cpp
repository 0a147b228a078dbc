#include "core/loaders/dng_tile_codecs.h"

#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace ostel::core {

namespace {

// The JPEG library reports fatal errors through a callback that must not
// return; it jumps back to the decode call, which owns no object that
// needs destruction between the jump and its landing.
struct JpegErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf landing;
    char message[JMSG_LENGTH_MAX];
    int warnings;
};

void jpeg_fail(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegErrorExit*>(info->err);
    (*info->err->format_message)(info, err->message);
    std::longjmp(err->landing, 1);
}

// Warnings (level -1) mean corrupt or missing data the library papered over.
void jpeg_note(j_common_ptr info, int level) {
    if (level < 0) ++reinterpret_cast<JpegErrorExit*>(info->err)->warnings;
}

}  // namespace

bool decode_dct_jpeg_tile(const uint8_t* data, size_t size, DngTile& out, std::string& why) {
    jpeg_decompress_struct info;
    JpegErrorExit err;
    err.message[0] = 0;
    err.warnings = 0;
    info.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = jpeg_fail;
    err.manager.emit_message = jpeg_note;
    std::vector<uint8_t> row;
    if (setjmp(err.landing)) {
        jpeg_destroy_decompress(&info);
        why = std::string("JPEG data not readable (") + err.message + ")";
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        why = "no JPEG image";
        return false;
    }
    const int components = info.num_components;
    if ((components != 1 && components != 3) ||
        !dng_tile_size_ok(info.image_width, info.image_height, components)) {
        jpeg_destroy_decompress(&info);
        why = "JPEG tile of " + std::to_string(components) + " components or unusable size";
        return false;
    }
    info.out_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    out.width = int(info.output_width);
    out.height = int(info.output_height);
    out.samples = int(info.output_components);
    out.values.assign(size_t(out.width) * size_t(out.height) * size_t(out.samples), 0.0f);
    row.resize(size_t(out.width) * size_t(out.samples));
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        const size_t y = info.output_scanline;
        if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
        std::copy(row.begin(), row.end(), out.values.begin() + std::ptrdiff_t(y * row.size()));
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    out.damaged = err.warnings > 0;
    return true;
}

float half_to_float(uint16_t h) {
    const uint32_t sign = uint32_t(h >> 15) << 31;
    int exponent = (h >> 10) & 0x1f;
    uint32_t mantissa = h & 0x3ff;
    uint32_t bits;
    if (exponent == 0x1f) {
        bits = sign | 0x7f800000u | (mantissa << 13);
    } else if (exponent == 0) {
        if (mantissa == 0) {
            bits = sign;
        } else {
            // Subnormal: normalise it.
            exponent = 1;
            while (!(mantissa & 0x400)) {
                mantissa <<= 1;
                --exponent;
            }
            mantissa &= 0x3ff;
            bits = sign | uint32_t(exponent + 127 - 15) << 23 | (mantissa << 13);
        }
    } else {
        bits = sign | uint32_t(exponent + 127 - 15) << 23 | (mantissa << 13);
    }
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

float fp24_to_float(uint32_t v) {
    // 1 sign bit, 7 exponent bits (bias 63), 16 mantissa bits.
    const uint32_t sign = (v >> 23) & 1;
    int exponent = (v >> 16) & 0x7f;
    uint32_t mantissa = v & 0xffff;
    uint32_t bits;
    if (exponent == 0x7f) {
        bits = sign << 31 | 0x7f800000u | (mantissa << 7);
    } else if (exponent == 0) {
        if (mantissa == 0) {
            bits = sign << 31;
        } else {
            exponent = 1;
            while (!(mantissa & 0x10000)) {
                mantissa <<= 1;
                --exponent;
            }
            mantissa &= 0xffff;
            bits = sign << 31 | uint32_t(exponent + 127 - 63) << 23 | (mantissa << 7);
        }
    } else {
        bits = sign << 31 | uint32_t(exponent + 127 - 63) << 23 | (mantissa << 7);
    }
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

namespace {

bool layout_ok(const DngTileLayout& l, std::string& why) {
    const bool int_depth = !l.floating_point && l.bits >= 1 && l.bits <= 32;
    const bool float_depth = l.floating_point && (l.bits == 16 || l.bits == 24 || l.bits == 32);
    if (!int_depth && !float_depth) {
        why = std::string(l.floating_point ? "floating-point" : "integer") + " samples of " + std::to_string(l.bits) +
              " bits";
        return false;
    }
    if (!dng_tile_size_ok(l.width, l.height, l.samples)) {
        why = "unusable tile size";
        return false;
    }
    return true;
}

uint32_t read_bytes(const uint8_t* p, int n, bool little) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint32_t(p[i]) << (8 * (little ? i : n - 1 - i));
    return v;
}

float float_from_bits(uint32_t v, int bits) {
    if (bits == 16) return half_to_float(uint16_t(v));
    if (bits == 24) return fp24_to_float(v);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

// Unpacks rows of `bytes` (each row starting on a byte boundary) into the
// tile. Byte-aligned depths follow the byte order; others are MSB-first.
bool unpack_rows(const uint8_t* bytes, size_t size, const DngTileLayout& l, bool little, DngTile& out,
                 std::string& why) {
    const int64_t per_row = int64_t(l.width) * l.samples;
    const bool aligned = l.bits % 8 == 0;
    const int64_t row_bytes = aligned ? per_row * (l.bits / 8) : (per_row * l.bits + 7) / 8;
    if (int64_t(size) < row_bytes * l.height) {
        why = "tile data shorter than its size";
        return false;
    }
    out.width = l.width;
    out.height = l.height;
    out.samples = l.samples;
    out.values.assign(size_t(per_row) * size_t(l.height), 0.0f);
    for (int64_t y = 0; y < l.height; ++y) {
        const uint8_t* p = bytes + y * row_bytes;
        float* dst = out.values.data() + y * per_row;
        if (aligned) {
            const int n = l.bits / 8;
            for (int64_t i = 0; i < per_row; ++i) {
                const uint32_t v = read_bytes(p + i * n, n, little);
                dst[i] = l.floating_point ? float_from_bits(v, l.bits) : float(v);
            }
        } else {
            uint64_t acc = 0;
            int have = 0;
            size_t at = 0;
            for (int64_t i = 0; i < per_row; ++i) {
                while (have < l.bits) {
                    acc = (acc << 8) | p[at++];
                    have += 8;
                }
                dst[i] = float((acc >> (have - l.bits)) & ((uint64_t(1) << l.bits) - 1));
                have -= l.bits;
            }
        }
    }
    return true;
}

// Integer horizontal differencing over whole samples, `stride` samples apart.
void undo_integer_prediction(std::vector<float>& v, const DngTileLayout& l, int stride) {
    const int64_t per_row = int64_t(l.width) * l.samples;
    const double modulus = l.bits >= 32 ? 4294967296.0 : double(uint64_t(1) << l.bits);
    for (int64_t y = 0; y < l.height; ++y) {
        float* row = v.data() + y * per_row;
        for (int64_t i = stride; i < per_row; ++i) {
            double sum = double(row[i]) + double(row[i - stride]);
            if (sum >= modulus) sum -= modulus;
            row[i] = float(sum);
        }
    }
}

// Floating-point prediction: each row holds the bytes of its samples split
// into planes, most significant byte first, differenced byte by byte.
void undo_float_prediction(std::vector<uint8_t>& bytes, const DngTileLayout& l, int stride_factor) {
    const size_t per_row = size_t(l.width) * size_t(l.samples);
    const int n = l.bits / 8;
    const size_t row_bytes = per_row * size_t(n);
    const size_t stride = size_t(l.samples) * size_t(stride_factor);
    std::vector<uint8_t> tmp(row_bytes);
    for (int64_t y = 0; y < l.height; ++y) {
        uint8_t* row = bytes.data() + size_t(y) * row_bytes;
        for (size_t i = stride; i < row_bytes; ++i) row[i] = uint8_t(row[i] + row[i - stride]);
        for (size_t i = 0; i < per_row; ++i)
            for (int b = 0; b < n; ++b) tmp[i * size_t(n) + size_t(b)] = row[size_t(b) * per_row + i];
        std::memcpy(row, tmp.data(), row_bytes);
    }
}

}  // namespace

bool decode_plain_tile(const uint8_t* data, size_t size, const DngTileLayout& l, DngTile& out, std::string& why) {
    if (!layout_ok(l, why)) return false;
    return unpack_rows(data, size, l, l.little_endian, out, why);
}

bool decode_deflate_tile(const uint8_t* data, size_t size, const DngTileLayout& l, DngTile& out, std::string& why) {
    if (!layout_ok(l, why)) return false;
    const bool aligned = l.bits % 8 == 0;
    const int64_t per_row = int64_t(l.width) * l.samples;
    const int64_t row_bytes = aligned ? per_row * (l.bits / 8) : (per_row * l.bits + 7) / 8;
    const int64_t expected = row_bytes * l.height;
    std::vector<uint8_t> bytes(static_cast<size_t>(expected));
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        why = "deflate decoder unavailable";
        return false;
    }
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(std::min<size_t>(size, 0xFFFFFFFFu));
    z.next_out = bytes.data();
    z.avail_out = static_cast<uInt>(expected);
    const int rc = inflate(&z, Z_FINISH);
    const int64_t produced = expected - int64_t(z.avail_out);
    inflateEnd(&z);
    if ((rc != Z_STREAM_END && rc != Z_BUF_ERROR && rc != Z_OK) || produced < expected) {
        why = "deflate data broken or short";
        return false;
    }
    const bool float_predictor = l.predictor == 3 || l.predictor == 34894 || l.predictor == 34895;
    if (float_predictor) {
        if (!l.floating_point || !aligned) {
            why = "floating-point predictor on integer samples";
            return false;
        }
        undo_float_prediction(bytes, l, l.predictor == 34894 ? 2 : l.predictor == 34895 ? 4 : 1);
        // The predictor leaves each sample's bytes most significant first.
        return unpack_rows(bytes.data(), bytes.size(), l, false, out, why);
    }
    if (!unpack_rows(bytes.data(), bytes.size(), l, l.little_endian, out, why)) return false;
    const int stride = l.predictor == 2 ? 1 : l.predictor == 34892 ? 2 : l.predictor == 34893 ? 4 : 0;
    if (stride) {
        if (l.floating_point) {
            why = "integer predictor on floating-point samples";
            return false;
        }
        undo_integer_prediction(out.values, l, stride * l.samples);
    } else if (l.predictor != 1) {
        why = "predictor " + std::to_string(l.predictor);
        return false;
    }
    return true;
}

}  // namespace ostel::core
