// Loaders whose raw data is one or more lossless JPEG streams: whole images
// (with the column slices of the Canon layout), subsampled luma/chroma images
// and tiled DNG.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include <vector>

#include "core/ljpeg/ljpeg.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

constexpr int kNotTiled = 0x7FFFFFFF;

// The linearisation curve; the identity when the table is missing or short.
inline unsigned through_curve(const DecoderSession& s, unsigned v) {
    return v < s.lin_table.size() ? s.lin_table[v] : v;
}

inline uint16_t clamp16(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535)); }

// Pixel of a visible position in an unshrunken image, or null outside it.
inline Pixel4* pixel_at(DecoderSession& s, int row, int col) {
    if (row < 0 || col < 0 || row >= s.image_height || col >= s.image_width) return nullptr;
    const size_t index = size_t(row) * size_t(s.image_width) + size_t(col);
    return index < s.image.size() ? &s.image[index] : nullptr;
}

}  // namespace

void apply_masked_column_black(DecoderSession& s, const double dark_sum[2], int64_t dark_count) {
    // A single dark sample cannot be split into two column phases.
    if (dark_count < 2) return;
    const double half = static_cast<double>(dark_count >> 1);
    const double dark0 = dark_sum[0] / half;
    double dark1 = dark_sum[1] / half;
    const int diff = static_cast<int>(std::clamp(dark0 - dark1, -65535.0, 65535.0));
    if (diff) {
        for (int row = 0; row < s.height; ++row) {
            for (int col = 1; col < s.width; col += 2) {
                const size_t index = size_t(row >> s.half_grid) * size_t(s.image_width) + size_t(col >> s.half_grid);
                if (index >= s.image.size()) continue;
                uint16_t& v = s.image[index][s.filter_color(row, col)];
                v = clamp16(int64_t(v) + diff);
            }
        }
    }
    dark1 += diff;
    s.black_level = static_cast<int>((dark0 + dark1 + 1) * 0.5);
}

namespace {

// Puts runs of decoded samples into the image: samples that land in the
// visible area go to their pixel's plane, samples of the masked columns
// beside it are summed per column phase for the black level.
class RawPlacer {
public:
    RawPlacer(DecoderSession& s, int64_t vis_h, int64_t vis_w)
        : image_(s.image.data()), image_width_(static_cast<size_t>(s.image_width)), cfa_(s.cfa_pattern),
          top_(s.crop_top), left_(s.crop_left), hg_(s.half_grid), vis_h_(vis_h), vis_w_(vis_w) {}

    // n samples of raw row r, raw columns c, c + 1, ... c + n - 1.
    void place(int64_t r, int64_t c, const uint16_t* v, int64_t n) {
        const int64_t vrow = r - top_;
        if (vrow < 0 || vrow >= vis_h_ || n <= 0) return;
        const int64_t icol = c - left_;
        const int64_t lo = std::clamp<int64_t>(-icol, 0, n);
        const int64_t hi = std::clamp<int64_t>(vis_w_ - icol, lo, n);
        for (int64_t k = 0; k < lo; ++k) masked(c + k, icol + k, v[k]);
        for (int64_t k = hi; k < n; ++k) masked(c + k, icol + k, v[k]);
        if (hi > lo) visible(vrow, icol + lo, v + lo, hi - lo);
    }

    int min = INT_MAX;
    double dark[2] = {0, 0};
    int64_t dark_count = 0;
    int64_t placed = 0;  // visible positions the stream reached

private:
    void masked(int64_t c, int64_t icol, unsigned val) {
        if (c > 1 && static_cast<uint64_t>(icol + 2) > static_cast<uint64_t>(vis_w_) + 3) {
            dark[icol & 1] += val;
            ++dark_count;
        }
    }

    void visible(int64_t vrow, int64_t icol, const uint16_t* v, int64_t n) {
        const unsigned shift = static_cast<unsigned>(((vrow << 1) & 14) << 1);
        const unsigned plane[2] = {(cfa_ >> shift) & 3, (cfa_ >> (shift + 2)) & 3};
        Pixel4* row = image_ + size_t(vrow >> hg_) * image_width_;
        unsigned low = 0xFFFF;
        if (hg_ == 0) {
            Pixel4* px = row + icol;
            int64_t k = 0;
            if (icol & 1) {
                px[0][plane[1]] = v[0];
                low = v[0];
                k = 1;
            }
            const unsigned even = plane[0], odd = plane[1];
            for (; k + 1 < n; k += 2) {
                px[k][even] = v[k];
                px[k + 1][odd] = v[k + 1];
                low = std::min<unsigned>(low, std::min(v[k], v[k + 1]));
            }
            if (k < n) {
                px[k][plane[(icol + k) & 1]] = v[k];
                low = std::min<unsigned>(low, v[k]);
            }
        } else {
            for (int64_t k = 0; k < n; ++k) {
                const int64_t x = icol + k;
                row[size_t(x >> hg_)][plane[x & 1]] = v[k];
                low = std::min<unsigned>(low, v[k]);
            }
        }
        min = std::min(min, static_cast<int>(low));
        placed += n;
    }

    Pixel4* const image_;
    const size_t image_width_;
    const uint32_t cfa_;
    const int64_t top_, left_;
    const int hg_;
    const int64_t vis_h_, vis_w_;
};

}  // namespace

void lossless_image_load_raw(DecoderSession& s) {
    LjpegHeader jh;
    if (!parse_ljpeg_header(s, jh, false)) {
        count_undecodable(s);
        return;
    }
    const int raw_width = s.stored_width;
    if (raw_width < 1) {
        release_ljpeg(jh);
        count_undecodable(s);
        return;
    }
    reset_bits(s);

    const int64_t jwide = int64_t(jh.wide) * jh.clrs;
    const int64_t s0 = s.ljpeg_slices[0], s1 = s.ljpeg_slices[1], s2 = s.ljpeg_slices[2];
    const bool sliced = s0 != 0 && s1 > 0 && s2 > 0;
    // A valid stream holds exactly the raw array; never decode far past it.
    const int64_t max_lines = (int64_t(raw_width) * (int64_t(s.stored_height) + 1) + jwide - 1) / jwide + 1;
    const int lines = static_cast<int>(std::min<int64_t>(jh.high, max_lines));
    // Curve for samples of up to 12 bits (the identity unless identification loaded one).
    const uint16_t* curve = jh.bits <= 12 && s.lin_table.size() >= 4096 ? s.lin_table.data() : nullptr;
    bool identity_curve = curve != nullptr;
    for (unsigned v = 0; identity_curve && v < 4096; ++v) identity_curve = curve[v] == v;
    const int hg = s.half_grid;
    // Visible rows and columns that have a place in the (possibly shrunken) image.
    const int64_t vis_h = std::min<int64_t>(s.height, int64_t(s.image_height) << hg);
    const int64_t vis_w = std::min<int64_t>(s.width, int64_t(s.image_width) << hg);
    if (s.image.size() < size_t(s.image_height) * size_t(s.image_width)) {
        release_ljpeg(jh);
        count_undecodable(s);
        return;
    }
    RawPlacer placer(s, vis_h, vis_w);
    std::vector<uint16_t> curved(curve ? static_cast<size_t>(jwide) : 0);

    // Position in the raw array: a running row and column, or, with slices,
    // the slice and the position inside it (slices are stored one after the
    // other, each top to bottom).
    int64_t row = 0, col = 0;
    int64_t slice = 0, slice_row = 0, slice_col = 0;
    int64_t slice_width = s0 > 0 ? s1 : s2;

    // A run of samples that the stream stores next to each other in one raw
    // row. This sensor width stores every line two samples late; the shift is
    // applied to the target only, so the running position stays put.
    auto place_run = [&](int64_t r, int64_t c, const uint16_t* v, int64_t n) {
        if (raw_width != 3984) {
            placer.place(r, c, v, n);
            return;
        }
        const int64_t wrapped = std::clamp<int64_t>(2 - c, 0, n);  // columns 0 and 1: the previous row's end
        placer.place(r - 1, c + 3982, v, wrapped);
        placer.place(r, c + wrapped - 2, v + wrapped, n - wrapped);
    };

    for (int jrow = 0; jrow < lines; ++jrow) {
        const uint16_t* rp = decode_ljpeg_row(s, jrow, jh);
        if (!rp) break;
        if (curve) {
            uint16_t* out = curved.data();
            if (identity_curve) {
                for (int64_t i = 0; i < jwide; ++i) out[i] = rp[i] & 0xFFF;
            } else {
                for (int64_t i = 0; i < jwide; ++i) out[i] = curve[rp[i] & 0xFFF];
            }
            rp = out;
        }
        for (int64_t jcol = 0; jcol < jwide;) {
            if (sliced) {
                const int64_t n = std::min(jwide - jcol, slice_width - slice_col);
                place_run(slice_row, slice_col + slice * s1, rp + jcol, n);
                jcol += n;
                slice_col += n;
                if (slice_col == slice_width) {
                    slice_col = 0;
                    if (++slice_row == jh.high && slice < s0) {
                        slice_row = 0;
                        slice_width = ++slice < s0 ? s1 : s2;
                    }
                }
            } else {
                const int64_t n = std::min(jwide - jcol, raw_width - col);
                place_run(row, col, rp + jcol, n);
                jcol += n;
                col += n;
                if (col >= raw_width) {
                    col = 0;
                    ++row;
                }
            }
        }
    }
    release_ljpeg(jh);
    // A stream with fewer samples than the visible area leaves the rest of
    // the image empty. (The shifted layout has no samples for the last two
    // positions of its last line.)
    const int64_t unreachable = raw_width == 3984 ? 2 : 0;
    if (placer.placed + unreachable < vis_h * vis_w) count_undecodable(s);
    apply_masked_column_black(s, placer.dark, placer.dark_count);
    if (strcasecmp(s.make, "KODAK") == 0 && placer.min != INT_MAX) s.black_level = placer.min;
}

void sraw_ycc_load_raw(DecoderSession& s) {
    LjpegHeader jh;
    if (!parse_ljpeg_header(s, jh, false)) {
        count_undecodable(s);
        return;
    }
    // Only subsampled streams carry luma groups; the records are written
    // directly, so the image must be unshrunken.
    jh.wide >>= 1;
    if (jh.sraw == 0 || jh.clrs < 4 || jh.wide < 1 || s.half_grid || s.image.empty()) {
        release_ljpeg(jh);
        count_undecodable(s);
        return;
    }
    reset_bits(s);

    const int clrs = jh.clrs;
    const int64_t jwide = int64_t(jh.wide) * clrs;
    const int raw_width = s.stored_width;
    const int vis_h = std::min(s.height, s.image_height), vis_w = std::min(s.width, s.image_width);
    const int row_step = (clrs >> 1) - 1;
    const int s0 = s.ljpeg_slices[0], s1 = s.ljpeg_slices[1];

    // Scatter the decoded groups: luma into plane 0 of the pixels a group
    // covers, chroma (offset by 16384) into planes 1 and 2 of its first pixel.
    const uint16_t* rp = nullptr;
    int jrow = 0;
    int64_t jcol = 0;
    bool exhausted = false;
    int end_col = 0;
    for (int slice = 0; slice <= s0 && !exhausted; ++slice) {
        const int start_col = end_col;
        end_col += s1 * 2 / clrs;
        if (!s0 || end_col > raw_width - 1) end_col = raw_width & -2;
        if (start_col >= end_col) continue;
        for (int row = 0; row < vis_h && !exhausted; row += row_step) {
            for (int col = start_col; col < end_col; col += 2, jcol += clrs) {
                if (jcol >= jwide) jcol = 0;
                if (jcol == 0) {
                    if (jrow >= jh.high || !(rp = decode_ljpeg_row(s, jrow++, jh))) {
                        exhausted = true;
                        break;
                    }
                }
                if (col >= vis_w) continue;
                for (int c = 0; c < clrs - 2; ++c)
                    if (Pixel4* p = pixel_at(s, row + (c >> 1), col + (c & 1))) (*p)[0] = rp[jcol + c];
                Pixel4& p = s.image[size_t(row) * size_t(s.image_width) + size_t(col)];
                p[1] = static_cast<uint16_t>(rp[jcol + clrs - 2] - 16384);
                p[2] = static_cast<uint16_t>(rp[jcol + clrs - 1] - 16384);
            }
        }
    }
    const int sraw = jh.sraw;
    release_ljpeg(jh);
    if (exhausted) count_undecodable(s);  // the stream ended before the image did

    // Firmware version decides the chroma offset of one camera generation.
    int major = 0, minor = 0, patch = 0;
    const char* fw = s.model_extra;
    const char* fw_end = s.model_extra + sizeof(s.model_extra);
    while (fw < fw_end && *fw && (*fw < '0' || *fw > '9')) ++fw;
    if (fw < fw_end && *fw) std::sscanf(fw, "%d.%d.%d", &major, &minor, &patch);
    const int64_t ver = (int64_t(major) * 1000 + minor) * 1000 + patch;
    int hue = (sraw + 1) << 2;
    if (s.model_id == 0x80000218u && ver > 1000006 && ver < 3000000) hue = sraw << 1;

    auto chroma = [](const Pixel4& p, int c) { return static_cast<int>(static_cast<int16_t>(p[c])); };
    auto row_of = [&](int row) { return s.image.data() + size_t(row) * size_t(s.image_width); };

    // Chroma of the positions that had none: vertical means on the skipped
    // rows, then horizontal means on the odd columns.
    for (int row = 0; row < vis_h; ++row) {
        Pixel4* ip = row_of(row);
        if (row & (sraw >> 1)) {
            const Pixel4* above = row_of(row - 1);
            const Pixel4* below = row + 1 < vis_h ? row_of(row + 1) : nullptr;
            for (int col = 0; col < vis_w; col += 2)
                for (int c = 1; c < 3; ++c)
                    ip[col][c] = static_cast<uint16_t>(
                        below ? (chroma(above[col], c) + chroma(below[col], c) + 1) >> 1 : chroma(above[col], c));
        }
        for (int col = 1; col < vis_w; col += 2)
            for (int c = 1; c < 3; ++c)
                ip[col][c] = static_cast<uint16_t>(
                    col + 1 < vis_w ? (chroma(ip[col - 1], c) + chroma(ip[col + 1], c) + 1) >> 1
                                    : chroma(ip[col - 1], c));
    }

    const bool early_model = s.model_id < 0x80000218u;
    for (int row = 0; row < vis_h; ++row) {
        Pixel4* ip = row_of(row);
        for (int col = 0; col < vis_w; ++col) {
            Pixel4& p = ip[col];
            const int y = static_cast<int16_t>(p[0]);
            const int cb = chroma(p, 1), cr = chroma(p, 2);
            int rgb[3];
            if (early_model) {
                rgb[0] = y + cr - 512;
                rgb[2] = y + cb - 512;
                rgb[1] = y + ((-778 * cb - cr * 2048) >> 12) - 512;
            } else {
                const int cb2 = cb * 4 + hue, cr2 = cr * 4 + hue;
                rgb[0] = y + ((200 * cb2 + 22929 * cr2) >> 14);
                rgb[1] = y + ((-5640 * cb2 - 11751 * cr2) >> 14);
                rgb[2] = y + ((29040 * cb2 - 101 * cr2) >> 14);
            }
            for (int c = 0; c < 3; ++c) p[c] = clamp16((int64_t(rgb[c]) * s.sraw_scale[c]) >> 10);
        }
    }
    s.white_level = 0x3FFF;
}

void dng_place_pixel(DecoderSession& s, int row, int col, const uint16_t*& cursor) {
    row -= s.crop_top;
    col -= s.crop_left;
    if (s.cfa_pattern) {
        if (s.diagonal_width) {
            const int r = s.diagonal_width + row - (col >> 1) - 1;
            const int c = row + ((col + 1) >> 1);
            row = r;
            col = c;
        }
        if (row >= 0 && col >= 0 && row < s.height && col < s.width) {
            unsigned v = *cursor;
            if (v < 4096) v = through_curve(s, v);
            s.bayer_store(row, col, static_cast<uint16_t>(v));
        } else if (!s.masked_sums.areas.empty()) {
            s.masked_sums.add(row + s.crop_top, col + s.crop_left, s.filter_color(row & 15, col & 15), *cursor);
        }
        cursor += s.raw_count;
    } else {
        if (row >= 0 && col >= 0 && row < s.height && col < s.width) {
            if (Pixel4* p = pixel_at(s, row, col)) {
                const int planes = std::min(s.samples_per_pixel, 4);
                for (int c = 0; c < planes; ++c) {
                    unsigned v = cursor[c];
                    if (v < 4096) v = through_curve(s, v);
                    (*p)[c] = static_cast<uint16_t>(v);
                }
            }
        } else if (!s.masked_sums.areas.empty()) {
            for (int c = 0; c < std::min(s.samples_per_pixel, 4); ++c)
                s.masked_sums.add(row + s.crop_top, col + s.crop_left, c, cursor[c]);
        }
        cursor += s.samples_per_pixel;
    }
}

namespace {

// n mosaic samples, raw_count apart, for raw row row and raw columns col,
// col + 1, ...: what dng_place_pixel does for each, a run at a time.
void place_cfa_run(DecoderSession& s, int64_t row, int64_t col, const uint16_t* cursor, int64_t n,
                   size_t curve_size) {
    const int64_t vrow = row - s.crop_top, vcol = col - s.crop_left;
    if (vrow < 0 || vrow >= s.height || n <= 0) return;
    const int64_t lo = std::clamp<int64_t>(-vcol, 0, n);
    const int64_t hi = std::clamp<int64_t>(s.width - vcol, lo, n);
    if (hi <= lo) return;
    const int hg = s.half_grid;
    const size_t first = size_t(vrow >> hg) * size_t(s.image_width);
    if (first + size_t((vcol + hi - 1) >> hg) >= s.image.size()) {
        // An image smaller than its sizes say: the checked store.
        for (int64_t i = lo; i < hi; ++i) {
            unsigned v = cursor[i * s.raw_count];
            if (v < 4096) v = through_curve(s, v);
            s.bayer_store(static_cast<int>(vrow), static_cast<int>(vcol + i), static_cast<uint16_t>(v));
        }
        return;
    }
    const unsigned shift = static_cast<unsigned>(((vrow << 1) & 14) << 1);
    const unsigned plane[2] = {(s.cfa_pattern >> shift) & 3, (s.cfa_pattern >> (shift + 2)) & 3};
    const uint16_t* curve = s.lin_table.data();
    Pixel4* const dst = s.image.data() + first;
    const int64_t step = s.raw_count;
    for (int64_t i = lo; i < hi; ++i) {
        unsigned v = cursor[i * step];
        if (v < curve_size) v = curve[v];
        const int64_t x = vcol + i;
        dst[size_t(x >> hg)][plane[x & 1]] = static_cast<uint16_t>(v);
    }
}

}  // namespace

namespace {

// One tile's stream, read from the file on its own so that tiles can be
// decoded side by side.
struct TileJob {
    LjpegHeader jh;
    LjpegSource in;
    int64_t trow = 0, tcol = 0;
    bool short_stream = false;  // the stream ended before the tile was full
};

// How the samples of a tiled DNG go into the image.
struct TileLayout {
    bool cfa = false;
    int per_pixel = 1;           // samples per placed pixel
    bool run_placeable = false;  // mosaic data without the diagonal layout: by runs along a row
    size_t curve_size = 0;       // samples below this go through the curve
};

// Tiles decoded together: enough to keep the threads busy, few enough that
// their headers and line buffers stay small.
constexpr size_t kTileBatch = 16;

void decode_tile(DecoderSession& s, const TileLayout& L, TileJob& t) {
    LjpegHeader& jh = t.jh;
    // Pixels per decoded line, never more than the line's samples can feed.
    const int64_t samples = int64_t(jh.wide) * jh.clrs;
    const int64_t pixels =
        std::min<int64_t>(int64_t(jh.wide) * (L.cfa ? jh.clrs : 1) / s.raw_count, samples / L.per_pixel);
    const int64_t tile_rows = std::min<int64_t>(s.tile_length, s.stored_height - t.trow);
    // Columns of a tile row: the tile's width, never more than the image's,
    // and at least one.
    const int64_t tile_cols = std::max(1, std::min(s.tile_width, s.stored_width));
    int64_t r = 0, c = 0;
    for (int jrow = 0; jrow < jh.high && r < tile_rows; ++jrow) {
        const uint16_t* cursor = decode_ljpeg_row(t.in, jrow, jh);
        if (!cursor) break;
        for (int64_t k = 0; k < pixels;) {
            const int64_t n = std::min(pixels - k, tile_cols - c);
            if (L.run_placeable) {
                place_cfa_run(s, t.trow + r, t.tcol + c, cursor, n, L.curve_size);
                cursor += n * s.raw_count;
            } else {
                for (int64_t i = 0; i < n; ++i)
                    dng_place_pixel(s, static_cast<int>(t.trow + r), static_cast<int>(t.tcol + c + i), cursor);
            }
            k += n;
            c += n;
            if (c >= tile_cols) {
                c = 0;
                if (++r >= tile_rows) break;
            }
        }
    }
    // A stream smaller than its tile leaves the tile's last rows empty.
    t.short_stream = r < tile_rows;
    release_ljpeg(jh);
}

}  // namespace

void dng_lossless_tiles_load_raw(DecoderSession& s) {
    if (s.tile_width < 1 || s.tile_length < 1 || s.raw_count < 1 || s.image.empty()) {
        count_undecodable(s);
        return;
    }
    TileLayout L;
    L.cfa = s.cfa_pattern != 0;
    L.per_pixel = L.cfa ? s.raw_count : s.samples_per_pixel;
    if (L.per_pixel < 1) {
        count_undecodable(s);
        return;
    }
    // Samples of masked areas being counted for a black level go through
    // the one-at-a-time placement, one tile after the other.
    const bool counting_masked = !s.masked_sums.areas.empty();
    L.run_placeable = L.cfa && !s.diagonal_width && !counting_masked;
    L.curve_size = std::min<size_t>(s.lin_table.size(), 4096);
    // Tiles write disjoint pixels, so they can be decoded side by side, unless
    // the diagonal layout moves samples about, or the half-size image folds
    // 2 x 2 blocks that could straddle two tiles into one pixel.
    const bool even_tiles = s.tile_width % 2 == 0 && s.tile_length % 2 == 0 && s.crop_top % 2 == 0 &&
                            s.crop_left % 2 == 0;
    const bool side_by_side = !s.diagonal_width && !counting_masked && (s.half_grid == 0 || even_tiles);

    std::vector<TileJob> batch;
    int64_t trow = 0, tcol = 0;
    bool ended = false, any = false;
    while (trow < s.stored_height && !ended) {
        // The headers, in file order: the offsets are read one after the
        // other, and a tile without a usable stream ends the image.
        batch.clear();
        while (batch.size() < kTileBatch && trow < s.stored_height) {
            const int64_t save = s.tell();
            if (s.tile_length != kNotTiled) s.seek(static_cast<int64_t>(s.read_u32()));
            TileJob t;
            t.in = ljpeg_source(s);
            if (!parse_ljpeg_header(t.in, t.jh, false)) {
                s.seek(t.in.pos);
                ended = true;
                break;
            }
            s.ff_stuffing = 1;
            any = true;
            t.trow = trow;
            t.tcol = tcol;
            batch.push_back(std::move(t));
            s.seek(save + 4);
            tcol += s.tile_width;
            if (tcol >= s.stored_width) {
                tcol = 0;
                trow += s.tile_length;
            }
        }

        const int64_t jobs = static_cast<int64_t>(batch.size());
#pragma omp parallel for schedule(dynamic) if (side_by_side && jobs > 1)
        for (int64_t i = 0; i < jobs; ++i) decode_tile(s, L, batch[size_t(i)]);

        // Errors in file order, as one tile after the other would count them.
        for (const TileJob& t : batch) {
            s.short_read_count += t.in.errors;
            if (t.short_stream) count_undecodable(s);
        }
        // Not a lossless stream (or no stream at all): the tiles from here on stay empty.
        if (ended) count_undecodable(s);
    }
    if (any) reset_bits(s);
}

}  // namespace ostel::core
