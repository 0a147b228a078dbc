// Digital negatives whose tiles are coded: deflate over floating-point
// samples (with the floating-point predictor), 8-bit DCT JPEG over three
// samples per pixel with a linearisation table, and JPEG XL over the
// stored codes.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>

#include <jpeglib.h>

#include "tools/simcam/format_common.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/jxl_encoder.h"

namespace ostel::simcam {

namespace {

constexpr int kTile = 64;  // tiles of 64 x 64 sites; edge tiles are padded

uint16_t float_to_half(float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    const uint32_t sign = (x >> 16) & 0x8000;
    const int exponent = int((x >> 23) & 0xff) - 127 + 15;
    uint32_t mantissa = x & 0x7fffff;
    if (exponent <= 0) return uint16_t(sign);  // below the half range: zero is close enough here
    if (exponent >= 31) return uint16_t(sign | 0x7c00);
    mantissa += 0x1000;  // round to nearest
    if (mantissa & 0x800000) return uint16_t(sign | ((exponent + 1) << 10));
    return uint16_t(sign | (exponent << 10) | (mantissa >> 13));
}

// Tile (tx, ty) of the mosaic as bytes of `bits`-bit floats, normalised so
// that black is 0 and white 1, laid out for the floating-point predictor
// (byte planes, most significant first, each row differenced bytewise).
std::vector<uint8_t> float_tile(const Mosaic& m, const Camera& cam, int tx, int ty, int bits) {
    const int n = bits / 8;
    const size_t row_bytes = size_t(kTile) * size_t(m.samples) * size_t(n);
    std::vector<uint8_t> out;
    std::vector<uint8_t> row(row_bytes);
    const double range = double(cam.white - cam.black);
    for (int r = 0; r < kTile; ++r) {
        const int y = std::min(ty * kTile + r, m.height - 1);
        size_t i = 0;
        for (int c = 0; c < kTile; ++c) {
            const int x = std::min(tx * kTile + c, m.width - 1);
            for (int k = 0; k < m.samples; ++k, ++i) {
                const float f = float((m.sample(y, x, k) - cam.black) / range);
                uint32_t v;
                if (bits == 16) {
                    v = float_to_half(f);
                } else {
                    std::memcpy(&v, &f, 4);
                    if (bits == 24) {
                        // 1 sign, 7 exponent (bias 63), 16 mantissa bits.
                        const int e = int((v >> 23) & 0xff);
                        v = e == 0 ? 0 : ((v >> 31) << 23) | (uint32_t(e - 127 + 63) << 16) | ((v >> 7) & 0xffff);
                    }
                }
                const size_t per_row = size_t(kTile) * size_t(m.samples);
                for (int b = 0; b < n; ++b) row[size_t(b) * per_row + i] = uint8_t(v >> (8 * (n - 1 - b)));
            }
        }
        // Differenced two samples apart (the predictor's two-sample form).
        const size_t stride = 2 * size_t(m.samples);
        for (size_t j = row_bytes - 1; j >= stride; --j) row[j] = uint8_t(row[j] - row[j - stride]);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<uint8_t> deflate(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, data.data(), uLong(data.size()), 6) != Z_OK)
        throw std::runtime_error("deflate failed");
    out.resize(size);
    return out;
}

// 8-bit code of a linear level: a 2.2 power curve, undone by the table.
uint8_t gamma_code(double linear) { return uint8_t(std::lround(255.0 * std::pow(std::clamp(linear, 0.0, 1.0), 1 / 2.2))); }

std::vector<uint8_t> jpeg_tile(const Mosaic& m, const Camera& cam, int tx, int ty) {
    std::vector<uint8_t> pixels;
    const double range = double(cam.white - cam.black);
    for (int r = 0; r < kTile; ++r)
        for (int c = 0; c < kTile; ++c)
            for (int k = 0; k < 3; ++k) {
                const int y = std::min(ty * kTile + r, m.height - 1), x = std::min(tx * kTile + c, m.width - 1);
                pixels.push_back(gamma_code((m.sample(y, x, k) - cam.black) / range));
            }
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kTile;
    info.image_height = kTile;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = pixels.data() + size_t(info.next_scanline) * kTile * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

// Tile (tx, ty) of the mosaic's stored codes, edges padded, in JPEG XL.
std::vector<uint8_t> jxl_tile(const Mosaic& m, const Camera& cam, int tx, int ty, float distance) {
    std::vector<float> codes;
    codes.reserve(size_t(kTile) * kTile * size_t(m.samples));
    for (int r = 0; r < kTile; ++r)
        for (int c = 0; c < kTile; ++c)
            for (int k = 0; k < m.samples; ++k)
                codes.push_back(
                    float(m.sample(std::min(ty * kTile + r, m.height - 1), std::min(tx * kTile + c, m.width - 1), k)));
    JxlImage image;
    image.width = image.height = kTile;
    image.channels = m.samples;
    image.bits = cam.bits;
    image.distance = distance;
    return encode_jxl(image, codes);
}

std::vector<uint8_t> write_tiled(const Mosaic& m, const Camera& cam, int compression, int bits,
                                 const std::function<std::vector<uint8_t>(int, int)>& tile,
                                 const std::function<void(const TiffWriter&, std::vector<TiffEntry>&)>& extra_entries) {
    const int across = (m.width + kTile - 1) / kTile, down = (m.height + kTile - 1) / kTile;
    std::vector<std::vector<uint8_t>> tiles;
    std::vector<uint32_t> counts;
    for (int ty = 0; ty < down; ++ty)
        for (int tx = 0; tx < across; ++tx) {
            tiles.push_back(tile(tx, ty));
            counts.push_back(uint32_t(tiles.back().size()));
        }
    const auto build = [&](const std::vector<uint32_t>& offsets) {
        TiffWriter w(true);
        const size_t first_ifd = w.header();
        const uint32_t exif = detail::write_exif(w, {});
        auto e = detail::raw_image_entries(w, m, bits, compression);
        auto dng = detail::dng_entries(w, cam);
        e.insert(e.end(), dng.begin(), dng.end());
        extra_entries(w, e);
        e.push_back(w.longs(322, {uint32_t(kTile)}));
        e.push_back(w.longs(323, {uint32_t(kTile)}));
        e.push_back(w.longs(324, offsets));
        e.push_back(w.longs(325, counts));
        e.push_back(w.longs(34665, {exif}));
        // Several samples per pixel and a photometric other than the filter
        // array replace the defaults of the raw entries.
        for (TiffEntry& entry : e) {
            if (entry.tag == 258 && m.samples > 1) entry = w.shorts(258, std::vector<uint32_t>(size_t(m.samples), uint32_t(bits)));
            if (entry.tag == 262 && m.samples > 1) entry = w.shorts(262, {34892});
            if (entry.tag == 277) entry = w.shorts(277, {uint32_t(m.samples)});
        }
        w.patch_u32(first_ifd, w.write_ifd(std::move(e)));
        return w;
    };
    return detail::layout(build, tiles);
}

}  // namespace

std::vector<uint8_t> write_dng_deflate_float(const Mosaic& m, const Camera& cam, int float_bits) {
    if (float_bits != 16 && float_bits != 24 && float_bits != 32)
        throw std::invalid_argument("write_dng_deflate_float: 16, 24 or 32 bits");
    Camera normalised = cam;
    normalised.black = 0;
    normalised.white = 1;  // white level 1.0: the floats already span black to white
    return write_tiled(
        m, normalised, 8, float_bits,
        [&](int tx, int ty) { return deflate(float_tile(m, cam, tx, ty, float_bits)); },
        [&](const TiffWriter& w, std::vector<TiffEntry>& e) {
            e.push_back(w.shorts(317, {34894}));  // floating-point predictor, two-sample stride
            e.push_back(w.shorts(339, std::vector<uint32_t>(size_t(m.samples), 3)));
        });
}

std::vector<uint8_t> write_dng_linear_lossy(const Mosaic& m, const Camera& cam) {
    if (m.samples != 3) throw std::invalid_argument("write_dng_linear_lossy: needs three samples per site");
    Camera coded = cam;
    coded.black = 0;  // the codes go through the table onto 0..65535
    coded.white = 65535;
    return write_tiled(
        m, coded, 34892, 8, [&](int tx, int ty) { return jpeg_tile(m, cam, tx, ty); },
        [&](const TiffWriter& w, std::vector<TiffEntry>& e) {
            std::vector<uint32_t> table;
            for (int i = 0; i < 256; ++i) table.push_back(uint32_t(std::lround(65535.0 * std::pow(i / 255.0, 2.2))));
            e.push_back(w.shorts(50712, table));
        });
}

std::vector<uint8_t> write_dng_jxl(const Mosaic& m, const Camera& cam, float distance) {
    if (m.samples != 1 && m.samples != 3) throw std::invalid_argument("write_dng_jxl: one or three samples per site");
    if (cam.bits < 1 || cam.bits > 16) throw std::invalid_argument("write_dng_jxl: 1 to 16 bits");
    return write_tiled(
        m, cam, 52546, cam.bits, [&](int tx, int ty) { return jxl_tile(m, cam, tx, ty, distance); },
        [](const TiffWriter&, std::vector<TiffEntry>&) {});
}

}  // namespace ostel::simcam
