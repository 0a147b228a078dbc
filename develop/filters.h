#pragma once
// Noise reduction and sharpening of the filter level. They work on the
// linear planes (values 0..65535) of a copy of the source image, so a new
// run never sees the result of an earlier one.
//
// Call contract (all filters):
//  - planes are row-major, width * height floats, indexed row * width + col;
//  - images too small for a filter's window are left unchanged;
//  - results do not depend on the number of OpenMP threads, byte for byte.
#include <cstdint>
#include <functional>

#include "develop/rgb_planes.h"

namespace ostel::develop {

// Colour conversion of the luminance noise filter: camera RGB (white
// balanced) to CIELab through linear sRGB and XYZ.
struct LabMatrix {
    float m[3][3];  // camera RGB to X/Xn, Y/Yn, Z/Zn
};
// From the document's camera matrix (XYZ to camera, rows red, green, blue).
// A matrix that cannot be normalised or inverted counts as sRGB primaries.
LabMatrix lab_matrix_for_camera(const float xyz_to_camera[3][3]);

// The positions of the filters bar; clamped() brings each into its
// slider's range.
struct FilterControls {
    double sharpness = 0;        // 0..50
    double radius_position = 1;  // 0..35, see sharpening_radius()
    double sharp_threshold = 0;  // 0..100
    double luma = 0;             // 0..100
    double luma_threshold = 0;   // 0..100
    double chroma = 0;           // 0..10
    int chroma_method = 0;       // 0 median ("CNR #1"), 1 diffusion

    FilterControls clamped() const;
    // False when nothing would change the planes (the working planes are
    // then the source planes themselves).
    bool any() const { return !(sharpness < 1 && luma_threshold <= 0 && luma <= 0 && chroma <= 0); }
};

// The smoothing radius of a slider position: the position itself below 6,
// then int(v * sqrt(v) / 2), which spreads the upper part of the slider.
int sharpening_radius(double position);

// The whole chain on planes that hold a fresh copy of the source: luminance
// noise reduction in RGB, then chroma noise reduction and sharpening in YIQ.
// `status` receives "CNR #1" when the median method runs.
void apply_filters(RgbPlanes& planes, const FilterControls& controls, const LabMatrix& lab,
                   const std::function<void(const char*)>& status);

// Edge-preserving smoothing with weights from the pixel distance (spatial
// sigma) and the CIELab colour distance (range sigma), read from tables.
// The upper and the lower half of the rows are filtered side by side, both
// from unfiltered rows. With either sigma not above 0 the planes stay as
// they are: the weights would be undefined.
void BilateralFilter(RgbPlanes& planes, double spatial_sigma, double range_sigma, const LabMatrix& lab);

// In place: R, G, B become Y, I, Q, and back.
void split_yiq(RgbPlanes& planes);
void rebuild_rgb(RgbPlanes& yiq);

struct PlaneRange {
    float min = 0, max = 0;
};
PlaneRange plane_range(const float* plane, size_t count);

// Running-histogram median of `levels` (0..max_level) over a window x window
// square (window odd), for the positions whose whole window lies inside the image; the
// median level m of such a position becomes out = m / scale - offset there.
// Returns false, writing nothing, when a level is above max_level.
bool ChromaMedianFilter(const uint16_t* levels, int width, int height, int window, int max_level, float* out,
                        double scale, double offset);

// Median chroma noise reduction of one plane at strength C: the plane is
// quantised to 1001 levels over its range, median filtered over a window of
// int(2C + 1) and written back inside the border the window leaves. A
// constant plane is left as it is.
void chroma_median_reduction(float* plane, int width, int height, double strength);

// Non-linear diffusion of one plane in place (semi-implicit additive
// operator splitting, time steps of 5 up to scale^2 / 2), with diffusivity
// 1 - exp(-3.315 / m^2), m = |gradient|^2 / threshold^2 (1 where m is 0).
// `scratch`, when given, holds the plane-sized buffer that later calls on
// planes of the same size reuse.
struct DiffusionScratch {
    Plane next;
};
void ChromaDiffusionFilter(float* plane, int width, int height, double threshold, double scale,
                           DiffusionScratch* scratch = nullptr);

// Y becomes a*Y - k*median3x3 (clamped to 0..65535) where |Y - median|
// exceeds the threshold; border pixels stay.
void MedianSharpen(float* y, int width, int height, double amount, double strength, double threshold);

// Y becomes a*Y - k*smoothed (not clamped) where |Y - smoothed| exceeds the
// threshold; smoothed is the exponential recursive smoothing with
// factor exp(-1/radius) along rows and then columns.
void SmoothSharpen(float* y, int width, int height, int radius, double amount, double strength, double threshold);

// First-order recursive smoothing, causal then anti-causal, with the edge
// sample repeated beyond both ends, on `lanes` independent lines at once:
// sample i of lane j is at data[i * stride + j]. `line` holds n * lanes
// floats of scratch. In place.
void recursive_smooth_lanes(float* data, int n, int lanes, size_t stride, float b, float* line);

}  // namespace ostel::develop
