#include "core/loaders/dng_levels.h"

#include <algorithm>
#include <cmath>

#include "core/identify/limits.h"
#include "core/tiff/tiff_io.h"

namespace ostel::core {

std::vector<double> read_entry_numbers(DecoderSession& s, const TagRef& ref, size_t limit) {
    std::vector<double> values;
    const size_t n = std::min<size_t>(ref.count, limit);
    const int64_t bytes = int64_t(ref.count) * tiff::type_size(ref.type);
    if (n == 0 || !limits::within_file(s, ref.at, bytes)) return values;
    s.seek(ref.at);
    values.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const double v = s.read_real(static_cast<int>(ref.type));
        values.push_back(std::isfinite(v) ? v : 0.0);
    }
    return values;
}

DngLevels read_dng_levels(DecoderSession& s, const TiffIfd& d, bool floating_point) {
    DngLevels levels;
    levels.samples = std::clamp(d.samples, 1, 4);
    const int active_h = s.height > 0 ? s.height : s.stored_height;
    const int active_w = s.width > 0 ? s.width : s.stored_width;

    if (!floating_point) {
        // Entries past 65536 could never be reached by an integer sample.
        const std::vector<double> table = read_entry_numbers(s, d.ref(DngRef::linearisation), 65536);
        for (double v : table) levels.table.push_back(static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0)));
    }

    const std::vector<double> dims = read_entry_numbers(s, d.ref(DngRef::black_repeat), 2);
    if (dims.size() == 2 && dims[0] >= 1 && dims[1] >= 1 && dims[0] <= 16 && dims[1] <= 16) {
        levels.repeat_rows = int(dims[0]);
        levels.repeat_cols = int(dims[1]);
    }
    const size_t cells = size_t(levels.repeat_rows) * size_t(levels.repeat_cols) * size_t(levels.samples);
    levels.black.assign(cells, 0.0);
    const std::vector<double> black = read_entry_numbers(s, d.ref(DngRef::black), cells);
    if (black.size() == cells) {
        levels.black = black;
    } else if (black.size() == 1 || (!black.empty() && black.size() < cells)) {
        // A single value (or a short list) stands for every cell.
        std::fill(levels.black.begin(), levels.black.end(), black[0]);
    }
    levels.delta_h = read_entry_numbers(s, d.ref(DngRef::black_delta_h), size_t(std::max(active_w, 0)));
    levels.delta_v = read_entry_numbers(s, d.ref(DngRef::black_delta_v), size_t(std::max(active_h, 0)));

    double default_white = 1.0;
    if (!floating_point) {
        const int bits = std::clamp(d.bits, 1, 16);
        default_white = levels.table.empty() ? double((1u << bits) - 1) : 65535.0;
        if (!levels.table.empty())
            default_white = *std::max_element(levels.table.begin(), levels.table.end());
    }
    const std::vector<double> white = read_entry_numbers(s, d.ref(DngRef::white), size_t(levels.samples));
    for (int c = 0; c < 4; ++c) {
        const size_t i = std::min(size_t(c), white.empty() ? 0 : white.size() - 1);
        levels.white[c] = white.empty() || !(white[i] > 0) ? default_white : white[i];
    }
    return levels;
}

bool DngLevels::uniform_black() const {
    const auto differs = [](const std::vector<double>& v, double from) {
        return std::any_of(v.begin(), v.end(), [from](double x) { return x != from; });
    };
    return !black.empty() && !differs(black, black[0]) && !differs(delta_h, 0.0) && !differs(delta_v, 0.0);
}

void move_to_single_black(DecoderSession& s, const DngLevels& levels) {
    for_each_stored_sample(s, levels.samples, [&](int row, int col, int k, uint16_t& v) {
        if (s.white_level > 0 && v >= s.white_level) return;  // clipped: stays white
        const double moved =
            double(v) + double(s.black_level) - levels.black_at(row + s.dng_frame.top, col + s.dng_frame.left, k);
        v = static_cast<uint16_t>(std::clamp(std::lround(moved), 0L, 65535L));
    });
}

void apply_dng_black_pattern(DecoderSession& s) {
    const TiffIfd& d = s.raw_directory;
    if (!s.dng_version || s.image.empty() || s.loader == LoaderId::dng_tiled_load_raw || s.diagonal_width) return;
    if (!d.ref(DngRef::black).present()) return;
    const DngLevels levels = read_dng_levels(s, d, false);
    if (levels.uniform_black()) return;
    move_to_single_black(s, levels);
}

bool take_masked_black(const DecoderSession& s, DngLevels& levels, const std::function<double(unsigned)>& linear) {
    const DecoderSession::MaskedSums& m = s.masked_sums;
    if (m.areas.empty() || m.counts.size() != size_t(4) << 16) return false;
    double sum[4] = {}, total = 0;
    int64_t number[4] = {}, count = 0;
    for (size_t c = 0; c < 4; ++c)
        for (unsigned v = 0; v < 65536; ++v)
            if (const uint64_t n = m.counts[c << 16 | v]) {
                sum[c] += double(n) * linear(v);
                number[c] += int64_t(n);
            }
    for (int c = 0; c < 4; ++c) {
        total += sum[c];
        count += number[c];
    }
    if (count == 0) return false;
    // A colour the areas hold no site of takes the mean of all of them.
    const auto mean = [&](int c) { return number[c] ? sum[c] / double(number[c]) : total / double(count); };
    if (s.cfa_pattern) {
        // The colour pattern repeats every 8 rows and 2 columns.
        levels.repeat_rows = 8;
        levels.repeat_cols = 2;
        levels.samples = 1;
        levels.black.assign(16, 0.0);
        // Indexed in the active area, whose corner the image may have lost.
        for (int row = 0; row < 8; ++row)
            for (int col = 0; col < 2; ++col)
                levels.black[size_t(row * 2 + col)] =
                    mean(s.filter_color((row - s.dng_frame.top) & 15, (col - s.dng_frame.left) & 15));
    } else {
        levels.repeat_rows = levels.repeat_cols = 1;
        levels.black.assign(size_t(levels.samples), 0.0);
        for (int k = 0; k < levels.samples; ++k) levels.black[size_t(k)] = mean(std::min(k, 3));
    }
    levels.delta_h.clear();
    levels.delta_v.clear();
    return true;
}

}  // namespace ostel::core
