// What happens to a DNG's stored values before they are mapped between black
// and white: opcode list 1, which works on the values as the file holds
// them, and a black level measured in the masked areas when the file
// states none. The tile loader does both itself, between reading its tiles
// and mapping them; for the row and lossless-JPEG loaders, which map
// nothing and pass the linearisation table while placing the samples, the
// table is held back while they run so that list 1 sees the stored values.
#include <algorithm>
#include <cmath>
#include <new>

#include "core/loaders/dng_levels.h"
#include "core/loaders/dng_opcodes.h"
#include "core/loaders/loaders.h"

namespace ostel::core {

namespace {

// More masked rectangles than this are not a sensor's border.
constexpr size_t kMaxMaskedAreas = 16;

bool row_loader(LoaderId id) {
    return id == LoaderId::adobe_dng_load_raw_nc || id == LoaderId::dng_lossless_tiles_load_raw;
}

// The part of the linearisation table the row loaders pass samples through.
constexpr size_t kCurveEntries = 4096;

}  // namespace

void start_dng_masked_black(DecoderSession& s) {
    s.masked_sums = DecoderSession::MaskedSums{};
    const TiffIfd& d = s.raw_directory;
    const TagRef& ref = d.ref(DngRef::masked_areas);
    if (!s.dng_version || s.diagonal_width || !ref.present() || d.ref(DngRef::black).present()) return;
    const std::vector<double> v = read_entry_numbers(s, ref, 4 * kMaxMaskedAreas);
    if (ref.count % 4 || ref.count > 4 * kMaxMaskedAreas || v.size() != ref.count) {
        warn_dng(s, "DNG masked areas ignored: not a list of rectangles");
        return;
    }
    const int64_t active_bottom = int64_t(s.crop_top) + s.height, active_right = int64_t(s.crop_left) + s.width;
    std::vector<std::array<int, 4>> areas;
    for (size_t i = 0; i < v.size(); i += 4) {
        const double top = v[i], left = v[i + 1], bottom = v[i + 2], right = v[i + 3];
        const bool inside = top >= 0 && left >= 0 && top < bottom && left < right && bottom <= s.stored_height &&
                            right <= s.stored_width;
        // An area reaching into the picture would measure the scene, not black.
        const bool overlaps = inside && top < active_bottom && bottom > s.crop_top && left < active_right &&
                              right > s.crop_left;
        if (!inside || overlaps) {
            warn_dng(s, "DNG masked areas ignored: an area lies outside the sensor or over the picture");
            return;
        }
        areas.push_back({int(top), int(left), int(bottom), int(right)});
    }
    try {
        s.masked_sums.counts.assign(size_t(4) << 16, 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    s.masked_sums.areas = std::move(areas);
}

void run_loader_and_dng_stored_stage(DecoderSession& s) {
    const int64_t data_at = s.tell();  // the loaders start where the caller left the file
    s.dng_frame = {0, 0, s.height, s.width};
    start_dng_masked_black(s);
    s.seek(data_at);
    const TiffIfd& d = s.raw_directory;
    if (!s.dng_version || !row_loader(s.loader)) {
        run_loader(s, s.loader);  // the tile loader runs the stage itself
        s.masked_sums = DecoderSession::MaskedSums{};
        return;
    }
    const bool list1 = d.ref(DngRef::opcodes1).present();
    std::vector<uint16_t> curve;
    if (list1 && d.ref(DngRef::linearisation).present() && s.lin_table.size() >= kCurveEntries) {
        curve.assign(s.lin_table.begin(), s.lin_table.begin() + kCurveEntries);
        for (size_t i = 0; i < kCurveEntries; ++i) s.lin_table[i] = uint16_t(i);
    }
    run_loader(s, s.loader);
    if (list1 && !s.image.empty()) {
        apply_dng_opcode_list(s, 1);
        if (!curve.empty()) {
            // The loaders' rule: samples below the table's end go through it.
            for_each_stored_sample(s, s.samples_per_pixel, [&](int, int, int, uint16_t& v) {
                if (v < kCurveEntries) v = curve[v];
            });
        }
    }
    if (!curve.empty()) std::copy(curve.begin(), curve.end(), s.lin_table.begin());

    DngLevels levels;
    levels.samples = std::clamp(s.samples_per_pixel, 1, 4);
    // The loaders pass the table's first entries (or the stored value
    // itself) to the image; the masked samples were counted before it.
    const std::vector<uint16_t> table(s.lin_table.begin(), s.lin_table.begin() + std::min(s.lin_table.size(), kCurveEntries));
    const auto linear = [&table](unsigned v) { return double(v < table.size() ? table[v] : v); };
    if (!s.image.empty() && take_masked_black(s, levels, linear)) {
        // One level for the session, each colour moved onto it.
        double sum = 0;
        for (double b : levels.black) sum += b;
        s.black_level = int(std::lround(sum / double(levels.black.size())));
        move_to_single_black(s, levels);
    }
    s.masked_sums = DecoderSession::MaskedSums{};
}

}  // namespace ostel::core
