#pragma once
// Per-image tone stages of a develop run. Each works on the interleaved
// 16-bit output buffer (R, G, B per pixel) or builds a 65536-entry table;
// the document reads the control values and passes them in. Parallel loops
// write disjoint pixels, and every sum is formed in a fixed order, so the
// results do not depend on the number of threads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "develop/rgb_planes.h"

namespace ostel::develop {

using Table16 = std::vector<uint16_t>;  // 65536 entries

// Exposure factor f of the exposure slider: 1 + 0.2 v above 0,
// 1 / (1 - 0.2 v) below. The pipeline multiplies by 1.6 f.
double exposure_factor(double v);
// The exposure slider position (-10..25) whose factor comes nearest to
// 2^stops, for a file's suggested exposure in stops; beyond the slider's
// ends, the end.
int exposure_position_for_stops(double stops);

// out[3 i + c] = trunc(clamp(plane_c[i] * exposure * multiplier_c, 0, 65535))
// for the planes.width * planes.height pixels; `out` must hold three
// samples per pixel.
void apply_exposure_and_balance(const RgbPlanes& planes, double exposure, const std::array<double, 3>& mul,
                                uint16_t* out);
// The same for `count` pixels of three plane rows with the three gains
// (exposure times multiplier), in the calling thread.
void exposure_span(const float* const (&planes)[3], size_t count, const std::array<double, 3>& gain, uint16_t* out);

// Levels correction table from the histograms of the buffer's three
// channels: black at the first level whose cumulative share exceeds
// 0.015 + 0.001 shadows, white at the first that reaches
// 0.9985 + 0.0005 highlights (at most 1); the black point is the lowest of
// the channels' blacks, the white point the highest white. Identity when
// the white point does not lie above the black point.
Table16 levels_table(const uint16_t* rgb, size_t pixels, double shadows, double highlights);
// The same table from the three channels' 65536-level histograms of
// `pixels` pixels.
using LevelCounts = std::array<std::vector<uint64_t>, 3>;
Table16 levels_table_from_counts(const LevelCounts& counts, size_t pixels, double shadows, double highlights);
// Replaces every sample by its table entry.
void apply_table(uint16_t* rgb, size_t pixels, const Table16& table);

// Global photographic tone mapping of the luminance, applied as a ratio to
// the X, Y, Z samples of the buffer (16-bit XYZ encoding, 0..32767).
// `luminance` holds width * height values Y / 32767 and is left unchanged.
// `slider` is the fill-light position (strength 0.007 v); 0 does nothing.
void fill_light(uint16_t* xyz, const float* luminance, int width, int height, double slider);
// Its parts, for callers that visit the image in pieces: the sum of
// ln(Y + 0.00001) over one row, the scale from the row sums of the whole
// image (added in row order), and the ratio step for `count` pixels.
double luminance_log_sum(const float* luminance, size_t count);
double fill_light_scale(const std::vector<double>& row_log_sums, size_t pixels, double slider);
void fill_light_span(uint16_t* xyz, const float* luminance, size_t count, double scale);
// The luminance of the develop is min(Y, 32767) / 32767 of a 16-bit Y, so
// both the log term and the ratio have one value per level 0..32767:
// ln(luminance + 0.00001) of each level, and the ratio fill_light_span
// applies at each level for `scale`.
constexpr size_t kLuminanceLevels = 32768;
const std::vector<double>& luminance_log_table();
std::vector<double> fill_light_ratios(double scale);

// Contrast table: 32767 + (1 + 0.02 v) (i - 32767), clamped to 0..65535.
Table16 contrast_table(double v);

// Identity table (entry i = i).
Table16 identity_table();

// Black-and-white mixer weights: each slider over their sum, all 0 when
// the sum is not positive.
std::array<float, 3> mixer_weights(double red, double green, double blue);

// Settings of the final per-pixel pass.
struct FinalPass {
    const uint16_t* curve = nullptr;     // tone curve, 65536 entries (required)
    const float* transfer = nullptr;     // output encoding, or nullptr when already encoded
    const uint16_t* contrast = nullptr;  // contrast table, or nullptr when contrast is 0
    double saturation = 0;               // saturation slider -10..10
    int bw_mode = 0;                     // 0 off, 1 mixer, 2 luminance, 3 R, 4 G, 5 B
    std::array<float, 3> mixer{};        // weights for mode 1
};
// Curve, encoding, saturation boost or desaturation, black and white and
// contrast on every pixel, stored truncated to 16 bits.
void apply_final_pass(uint16_t* rgb, size_t pixels, const FinalPass& pass);
// When no step of the pass mixes channels (no saturation change, colour
// mode), the whole pass as one table per sample, giving the same values;
// empty otherwise.
Table16 final_pass_table(const FinalPass& pass);
// The pass over `pixels` pixels in the calling thread, through `table`
// when it is given (from final_pass_table of the same pass).
void final_pass_span(uint16_t* rgb, size_t pixels, const FinalPass& pass, const uint16_t* table);

// The tone curve from the curve editor's control points (pixel coordinates,
// y growing downwards, sorted by x): a Catmull-Rom spline through them
// written into `table`. Entries outside the first and last point keep
// their content. Fewer than two points, or end points that span no width or
// height, leave the table as it is.
struct CurvePoint {
    int x = 0, y = 0;
};
void build_curve_table(const std::vector<CurvePoint>& points, Table16& table);
// Parses "x,y x,y ..." (also ';' or newlines between points); false when
// the text is not a list of integer pairs.
bool parse_curve_points(const std::string& text, std::vector<CurvePoint>& points);

}  // namespace ostel::develop
