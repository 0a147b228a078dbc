// Digital negative files: one raw directory in IFD0, either an uncompressed
// strip or a grid of lossless JPEG tiles (two components per tile line).
#include <cstring>
#include <functional>
#include <string>
#include <stdexcept>
#include <utility>

#include "tools/simcam/format_common.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/ljpeg_encoder.h"

namespace ostel::simcam {

namespace {

void put_be(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put_be_double(std::vector<uint8_t>& out, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    put_be(out, bits, 8);
}

// An opcode list (big-endian in every file) of {id, parameters}.
std::vector<uint8_t> opcode_list(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& opcodes) {
    std::vector<uint8_t> list;
    put_be(list, opcodes.size(), 4);
    for (const auto& [id, params] : opcodes) {
        put_be(list, id, 4);
        put_be(list, 0x01030000, 4);  // version 1.3
        put_be(list, 0, 4);           // flags
        put_be(list, params.size(), 4);
        list.insert(list.end(), params.begin(), params.end());
    }
    return list;
}

// Opcode list 2 holding one gain map over the whole frame that undoes the
// camera's lens falloff (lists are big-endian in every file).
std::vector<uint8_t> gain_map_list(const Camera& cam) {
    constexpr uint32_t kPoints = 17;
    std::vector<uint8_t> params;
    for (uint32_t v : {0u, 0u, uint32_t(cam.height), uint32_t(cam.width), 0u, 1u, 1u, 1u, kPoints, kPoints})
        put_be(params, v, 4);
    for (double v : {1.0 / (kPoints - 1), 1.0 / (kPoints - 1), 0.0, 0.0}) put_be_double(params, v);
    put_be(params, 1, 4);  // one map plane for all
    for (uint32_t i = 0; i < kPoints; ++i)
        for (uint32_t j = 0; j < kPoints; ++j) {
            const float gain = float(1.0 / falloff(cam, double(i) / (kPoints - 1) * cam.height,
                                                   double(j) / (kPoints - 1) * cam.width));
            uint32_t bits;
            std::memcpy(&bits, &gain, 4);
            put_be(params, bits, 4);
        }
    return opcode_list({{9, params}});
}

// Phase of the colour pattern as the bad-pixel opcodes give it: 0 when the
// top left site is red, 1 green on a red row, 2 green on a blue row, 3 blue.
uint32_t bayer_phase(const Camera& cam) {
    const int corner = cam.color_at(0, 0);
    if (corner == 0) return 0;
    if (corner == 2) return 3;
    return cam.color_at(0, 1) == 0 ? 1 : 2;
}

// Opcode list 1: the defective sites, repaired from their neighbours, and
// the trim.
std::vector<uint8_t> bad_pixel_list(const Camera& cam) {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> opcodes;
    if (!cam.dead_sites.empty()) {
        std::vector<uint8_t> params;
        put_be(params, 0, 4);  // sites reading 0 are defects
        put_be(params, bayer_phase(cam), 4);
        opcodes.emplace_back(4, params);
    }
    if (!cam.bad_sites.empty() || !cam.bad_rects.empty()) {
        std::vector<uint8_t> params;
        put_be(params, bayer_phase(cam), 4);
        put_be(params, cam.bad_sites.size(), 4);
        put_be(params, cam.bad_rects.size(), 4);
        for (const auto& b : cam.bad_sites)
            for (int v : b) put_be(params, uint32_t(v), 4);
        for (const auto& b : cam.bad_rects)
            for (int v : b) put_be(params, uint32_t(v), 4);
        opcodes.emplace_back(5, params);
    }
    if (cam.trim[2] > 0) {
        std::vector<uint8_t> params;
        for (int v : cam.trim) put_be(params, uint32_t(v), 4);
        opcodes.emplace_back(6, params);
    }
    return opcode_list(opcodes);
}

// Opcode list 3: the rectilinear warp that undoes the lens distortion, one
// set of coefficients for every plane, centred on the picture.
std::vector<uint8_t> warp_list(const Camera& cam) {
    std::vector<uint8_t> params;
    put_be(params, 1, 4);
    for (double v : {1.0, cam.distortion, 0.0, 0.0, 0.0, 0.0}) put_be_double(params, v);
    put_be_double(params, 0.5);
    put_be_double(params, 0.5);
    return opcode_list({{1, params}});
}

}  // namespace

namespace detail {

std::vector<TiffEntry> dng_entries(const TiffWriter& w, const Camera& cam) {
    std::vector<double> matrix;
    for (int i = 0; i < 3; ++i)
        for (double v : cam.xyz_to_cam[i]) matrix.push_back(v);
    auto e = cam.cfa_pattern ? detail::cfa_entries(w, cam) : std::vector<TiffEntry>{};
    e.push_back(w.ascii(271, cam.make));
    e.push_back(w.ascii(272, cam.model));
    e.push_back(w.shorts(274, {1}));
    e.push_back(w.bytes_entry(50706, kByte, {1, 4, 0, 0}));
    e.push_back(w.ascii(50708, cam.make + " " + cam.model));
    if (cam.black_only_in_masked_area && cam.masked_columns > 0) {
        // No black level: the reader measures it in the masked area.
    } else if (cam.black_cells == std::array<int, 4>{}) {
        e.push_back(w.longs(50714, {static_cast<uint32_t>(cam.black)}));
    } else {
        std::vector<uint32_t> cells;
        for (int cell : cam.black_cells) cells.push_back(static_cast<uint32_t>(cam.black + cell));
        e.push_back(w.shorts(50713, {2, 2}));
        e.push_back(w.longs(50714, cells));
    }
    e.push_back(w.longs(50717, {static_cast<uint32_t>(cam.white)}));
    if (cam.baseline_exposure != 0) e.push_back(w.srationals(50730, {cam.baseline_exposure}));
    if (cam.default_crop[2] > 0) {
        const auto& crop = cam.default_crop;
        e.push_back(w.longs(50719, {uint32_t(crop[1]), uint32_t(crop[0])}));  // across, then down
        e.push_back(w.longs(50720, {uint32_t(crop[3]), uint32_t(crop[2])}));
    }
    if (cam.masked_columns > 0) {
        const auto rows = uint32_t(cam.height), visible = uint32_t(cam.visible_width()), all = uint32_t(cam.width);
        e.push_back(w.longs(50829, {0, 0, rows, visible}));
        e.push_back(w.longs(50830, {0, visible, rows, all}));
    }
    if (!cam.bad_sites.empty() || !cam.bad_rects.empty() || !cam.dead_sites.empty() || cam.trim[2] > 0)
        e.push_back(w.bytes_entry(51008, kUndefined, bad_pixel_list(cam)));
    if (cam.vignetting != 0) e.push_back(w.bytes_entry(51009, kUndefined, gain_map_list(cam)));
    if (cam.distortion != 0) e.push_back(w.bytes_entry(51022, kUndefined, warp_list(cam)));
    if (!cam.dual_profile) {
        e.push_back(w.srationals(50721, matrix));
        e.push_back(w.shorts(50778, {21}));  // D65
        return e;
    }
    // Calibration 1 under standard light A, calibration 2 under D65, and the
    // white of the light the scene was shot in.
    std::vector<double> matrix_a;
    for (const auto& row : cam.xyz_to_cam_a)
        for (double v : row) matrix_a.push_back(v);
    e.push_back(w.srationals(50721, matrix_a));
    e.push_back(w.srationals(50722, matrix));
    e.push_back(w.shorts(50778, {17}));
    e.push_back(w.shorts(50779, {21}));
    const auto neutral = camera_neutral(cam, shot_light(cam));
    e.push_back(w.rationals(50728, {neutral[0], neutral[1], neutral[2]}));
    if (cam.triple_profile) {
        std::vector<double> matrix_d50;
        for (const auto& row : cam.xyz_to_cam_d50)
            for (double v : row) matrix_d50.push_back(v);
        e.push_back(w.shorts(52529, {23}));  // D50
        e.push_back(w.srationals(52531, matrix_d50));
    }
    if (cam.forward_matrices) {
        const std::pair<Light, uint16_t> forwards[] = {{Light::a, 50964}, {Light::d65, 50965}, {Light::d50, 52532}};
        for (const auto& [light, tag] : forwards) {
            if (light == Light::d50 && !cam.triple_profile) continue;
            std::vector<double> fm;
            for (const auto& row : forward_matrix(cam, light))
                for (double v : row) fm.push_back(v);
            e.push_back(w.srationals(tag, fm));
        }
    }
    return e;
}

}  // namespace detail

std::vector<uint8_t> write_dng(const Mosaic& m, const Camera& cam) {
    const int bits = cam.bits >= 16 ? 16 : cam.bits;
    const auto strip = bits == 16 ? detail::words(TiffWriter(true), m) : detail::pack_msb(m, bits);
    const auto build = [&](const std::vector<uint32_t>& data) {
        TiffWriter w(true);
        const size_t first_ifd = w.header();
        const uint32_t exif = detail::write_exif(w, {});
        auto e = detail::raw_image_entries(w, m, bits, 1);
        auto extra = detail::dng_entries(w, cam);
        e.insert(e.end(), extra.begin(), extra.end());
        e.push_back(w.longs(273, {data[0]}));
        e.push_back(w.longs(278, {static_cast<uint32_t>(m.height)}));
        e.push_back(w.longs(279, {static_cast<uint32_t>(strip.size())}));
        e.push_back(w.longs(34665, {exif}));
        w.patch_u32(first_ifd, w.write_ifd(std::move(e)));
        return w;
    };
    return detail::layout(build, {strip});
}

namespace {

// A DNG whose data lies in a grid of tiles, each encoded by `encode` from
// its samples (row-major, tile_width x tile_length).
std::vector<uint8_t> write_dng_tiles(const Mosaic& m, const Camera& cam, int tile_width, int tile_length, int bits,
                                     int compression, const char* who,
                                     const std::function<std::vector<uint8_t>(const std::vector<uint16_t>&)>& encode) {
    // Default: a 2 x 2 grid, so there is always more than one tile.
    if (tile_width <= 0) tile_width = m.width / 2;
    if (tile_length <= 0) tile_length = m.height / 2;
    if (tile_width < 2 || tile_width % 2 || tile_length < 1 || m.width % tile_width || m.height % tile_length)
        throw std::invalid_argument(std::string(who) + ": tiles must divide the image, even width");
    const int across = m.width / tile_width;
    const int down = m.height / tile_length;
    if (across * down < 2) throw std::invalid_argument(std::string(who) + ": needs at least two tiles");

    std::vector<std::vector<uint8_t>> tiles;
    std::vector<uint32_t> counts;
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            std::vector<uint16_t> tile;
            tile.reserve(static_cast<size_t>(tile_width) * tile_length);
            for (int r = 0; r < tile_length; ++r)
                for (int c = 0; c < tile_width; ++c) tile.push_back(m.at(ty * tile_length + r, tx * tile_width + c));
            tiles.push_back(encode(tile));
            counts.push_back(static_cast<uint32_t>(tiles.back().size()));
        }
    }
    const auto build = [&](const std::vector<uint32_t>& offsets) {
        TiffWriter w(true);
        const size_t first_ifd = w.header();
        const uint32_t exif = detail::write_exif(w, {});
        auto e = detail::raw_image_entries(w, m, bits, compression);
        auto extra = detail::dng_entries(w, cam);
        e.insert(e.end(), extra.begin(), extra.end());
        e.push_back(w.longs(322, {static_cast<uint32_t>(tile_width)}));
        e.push_back(w.longs(323, {static_cast<uint32_t>(tile_length)}));
        e.push_back(w.longs(324, offsets));
        e.push_back(w.longs(325, counts));
        e.push_back(w.longs(34665, {exif}));
        w.patch_u32(first_ifd, w.write_ifd(std::move(e)));
        return w;
    };
    return detail::layout(build, tiles);
}

}  // namespace

std::vector<uint8_t> write_dng_ljpeg(const Mosaic& m, const Camera& cam, int tile_width, int tile_length) {
    if (tile_width <= 0) tile_width = m.width / 2;
    if (tile_length <= 0) tile_length = m.height / 2;
    return write_dng_tiles(m, cam, tile_width, tile_length, cam.bits, 7, "write_dng_ljpeg",
                           [&](const std::vector<uint16_t>& tile) {
                               LjpegFrame f;
                               f.wide = tile_width / 2;
                               f.high = tile_length;
                               f.components = 2;
                               f.bits = cam.bits;
                               return encode_ljpeg(f, tile);
                           });
}

std::vector<uint8_t> write_dng_plain_tiles(const Mosaic& m, const Camera& cam, int tile_width, int tile_length) {
    return write_dng_tiles(m, cam, tile_width, tile_length, 16, 1, "write_dng_plain_tiles",
                           [](const std::vector<uint16_t>& tile) {
                               std::vector<uint8_t> bytes;
                               for (uint16_t v : tile) {
                                   bytes.push_back(static_cast<uint8_t>(v));  // little-endian, as the file
                                   bytes.push_back(static_cast<uint8_t>(v >> 8));
                               }
                               return bytes;
                           });
}

}  // namespace ostel::simcam
