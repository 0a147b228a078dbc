#pragma once
// Synthetic scenes for the simulated camera: what the lens would project onto
// the sensor, as linear-light RGB in [0, 1] (sRGB primaries, D65 white).
#include <array>
#include <cstdint>

namespace ostel::simcam {

using Rgb = std::array<double, 3>;

enum class SceneKind : uint8_t {
    chart,      // 6 x 4 colour chart over the whole frame
    grey_ramp,  // horizontal ramp from black to white
    edges,      // fine stripes and a checkerboard at pixel scale
    flat,       // one uniform grey level
    composite,  // chart on top, ramp, edges and flat field in a strip below
    slanted_edge,  // left half: dark and light grey meeting at a slightly tilted
                   // edge; right half: a grey patch above a colour patch
    // Chart in the middle of the frame, in a ring coloured so that chart and
    // ring average to neutral grey, on a neutral surround: grey-world balance
    // holds for any window that contains the ring.
    framed_chart,
};

// Where the chart lies in a frame: rows [top, bottom), columns [left, right).
struct ChartArea {
    int top = 0, left = 0, bottom = 0, right = 0;
};

struct Scene {
    SceneKind kind = SceneKind::composite;
    double flat_level = 0.18;  // linear level of the flat field
    double exposure = 1.0;     // multiplies every value before clipping in the camera

    // Linear RGB at sensor position (row, col) of a frame of the given size.
    Rgb sample(int row, int col, int height, int width) const;
    // The chart's place in a frame of the given size.
    ChartArea chart_area(int height, int width) const;
};

// Geometry of the slanted-edge scene, in sensor pixels: the edge passes
// through (edge_x(height, width), height / 2), leans right by kEdgeSlope
// pixels per row going down and is blurred as by a lens.
inline constexpr double kEdgeSlope = 0.1;
inline constexpr double kEdgeBlur = 0.7;  // deviation of the lens blur, pixels
inline constexpr double kEdgeDark = 0.05, kEdgeLight = 0.4;
inline constexpr Rgb kPatchGrey = {0.18, 0.18, 0.18};
inline constexpr Rgb kPatchColour = {0.30, 0.12, 0.06};
double edge_x(int height, int width);

// The 24 chart patches as 8-bit sRGB values, row by row (4 rows of 6).
extern const std::array<std::array<uint8_t, 3>, 24> kChartSrgb;

// The sRGB transfer function undone: 8-bit code value to linear light.
double srgb_to_linear(uint8_t code);

}  // namespace ostel::simcam
