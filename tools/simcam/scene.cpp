#include "tools/simcam/scene.h"

#include <algorithm>
#include <cmath>

namespace ostel::simcam {

// Published sRGB renderings of the classic 24-patch colour chart.
const std::array<std::array<uint8_t, 3>, 24> kChartSrgb = {{
    {115, 82, 68},  {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44}, {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},  {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
}};

double srgb_to_linear(uint8_t code) {
    const double v = code / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

namespace {

Rgb chart_at(int row, int col, int height, int width) {
    const int pr = std::min(3, row * 4 / std::max(1, height));
    const int pc = std::min(5, col * 6 / std::max(1, width));
    const auto& p = kChartSrgb[static_cast<size_t>(pr * 6 + pc)];
    return {srgb_to_linear(p[0]), srgb_to_linear(p[1]), srgb_to_linear(p[2])};
}

Rgb grey(double v) { return {v, v, v}; }

Rgb ramp_at(int col, int width) { return grey(width > 1 ? double(col) / (width - 1) : 0.0); }

Rgb edges_at(int row, int col, int width) {
    // Left third: one-pixel vertical stripes; middle: two-pixel horizontal
    // stripes; right: a one-pixel checkerboard. All at full contrast.
    const int third = std::max(1, width / 3);
    bool on;
    if (col < third) {
        on = col & 1;
    } else if (col < 2 * third) {
        on = (row >> 1) & 1;
    } else {
        on = (row ^ col) & 1;
    }
    return grey(on ? 0.9 : 0.02);
}

// The edge as a lens would draw it: a step blurred by a Gaussian spread of
// kEdgeBlur pixels, averaged over 4 x 4 points inside the pixel.
Rgb slanted_edge_at(int row, int col, int height, int width) {
    if (col >= width / 2) return row < height / 2 ? kPatchGrey : kPatchColour;
    const double x0 = edge_x(height, width), y0 = height / 2.0;
    const double across = 1.0 / std::sqrt(1.0 + kEdgeSlope * kEdgeSlope);
    double light = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            const double y = row + (sy + 0.5) / 4, x = col + (sx + 0.5) / 4;
            const double distance = (x - (x0 + (y - y0) * kEdgeSlope)) * across;
            light += 0.5 * std::erfc(-distance / (kEdgeBlur * std::sqrt(2.0)));
        }
    return grey(kEdgeDark + (kEdgeLight - kEdgeDark) * light / 16.0);
}

Rgb chart_mean() {
    Rgb mean{0, 0, 0};
    for (const auto& p : kChartSrgb)
        for (size_t c = 0; c < 3; ++c) mean[c] += srgb_to_linear(p[c]) / double(kChartSrgb.size());
    return mean;
}

// The framed chart: a ring around the chart carries, in each channel, a dark
// grey plus what the chart lacks against its strongest channel, so that chart
// and ring together average to neutral; the rest of the frame is that neutral
// level. Any window that holds the whole ring therefore averages to neutral.
struct Frame {
    ChartArea chart, ring;
    Rgb ring_colour;
    double outer_level;
};

Frame framed_chart_layout(int height, int width) {
    static const Rgb mean = chart_mean();
    Frame f;
    f.chart = {height / 4, width / 4, height - height / 4, width - width / 4};
    f.ring = {height / 8, width / 8, height - height / 8, width - width / 8};
    auto area = [](const ChartArea& a) { return double(a.bottom - a.top) * double(a.right - a.left); };
    const double chart = area(f.chart), ring = std::max(1.0, area(f.ring) - chart);
    const double strongest = std::max({mean[0], mean[1], mean[2]});
    const double base = 0.1;
    for (size_t c = 0; c < 3; ++c) f.ring_colour[c] = base + chart * (strongest - mean[c]) / ring;
    f.outer_level = (ring * base + chart * strongest) / (ring + chart);
    return f;
}

bool inside(const ChartArea& a, int row, int col) {
    return row >= a.top && row < a.bottom && col >= a.left && col < a.right;
}

}  // namespace

double edge_x(int height, int width) { return width / 4.0; }

ChartArea Scene::chart_area(int height, int width) const {
    switch (kind) {
        case SceneKind::chart: return {0, 0, height, width};
        case SceneKind::composite: return {0, 0, height * 2 / 3, width};
        case SceneKind::framed_chart: return framed_chart_layout(height, width).chart;
        default: return {};
    }
}

Rgb Scene::sample(int row, int col, int height, int width) const {
    if (kind == SceneKind::framed_chart) {
        const Frame f = framed_chart_layout(height, width);
        const ChartArea& a = f.chart;
        if (inside(a, row, col)) return chart_at(row - a.top, col - a.left, a.bottom - a.top, a.right - a.left);
        return inside(f.ring, row, col) ? f.ring_colour : grey(f.outer_level);
    }
    switch (kind) {
        case SceneKind::chart: return chart_at(row, col, height, width);
        case SceneKind::grey_ramp: return ramp_at(col, width);
        case SceneKind::edges: return edges_at(row, col, width);
        case SceneKind::flat: return grey(flat_level);
        case SceneKind::slanted_edge: return slanted_edge_at(row, col, height, width);
        case SceneKind::composite:
        case SceneKind::framed_chart: break;
    }
    const int chart_rows = height * 2 / 3;
    if (row < chart_rows) return chart_at(row, col, chart_rows, width);
    const int quarter = std::max(1, width / 4);
    if (col < 2 * quarter) return ramp_at(col, 2 * quarter);
    if (col < 3 * quarter) return edges_at(row, col - 2 * quarter, quarter);
    return grey(flat_level);
}

}  // namespace ostel::simcam
