#pragma once
// The simulated camera: a sensor with a colour filter, a colour response,
// levels and optional noise. render_mosaic() gives the exact values that a
// loader must hand back for a file written from the mosaic.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/simcam/scene.h"

namespace ostel::simcam {

// Common filter layouts as 32-bit pattern words (two bits per site, eight
// rows by two columns, colour 0 red, 1 green, 2 blue; on four-colour sensors
// index 3 is a filter of its own).
inline constexpr uint32_t kRggb = 0x94949494;
inline constexpr uint32_t kBggr = 0x16161616;
inline constexpr uint32_t kGrbg = 0x61616161;
inline constexpr uint32_t kGbrg = 0x49494949;

struct Camera {
    std::string make = "Canon";
    std::string model = "Canon EOS 30D";
    int width = 256;   // sensor sites per row
    int height = 192;  // sensor rows
    uint32_t cfa_pattern = kRggb;
    int bits = 12;
    int black = 128;
    // Added to the black level of each site of a 2x2 cell (row-major); DNG
    // writers store the four levels as a repeating pattern.
    std::array<int, 4> black_cells{};
    int white = 4095;  // brightest value the sensor delivers (at most 2^bits - 1)
    // 3: index 3 of the pattern is a second green; 4: it is a fourth filter
    // with its own row of xyz_to_cam.
    int colours = 3;
    // XYZ to camera colour, one row per filter index (red, green, blue, and
    // the fourth filter of four-colour sensors).
    double xyz_to_cam[4][3] = {
        {0.6939, -0.1104, -0.0634}, {-0.5776, 1.3565, 0.2451}, {-0.1284, 0.2187, 0.7028}, {0, 0, 0}};
    // Covered columns at the right end of every row: they read black plus
    // noise, and some formats take their black level from them.
    int masked_columns = 0;
    // Camera white balance written into formats that store one: the
    // multiplier of each filter index (0 = none stored).
    double as_shot[4] = {0, 0, 0, 0};
    // XYZ to camera colour under standard light A: the second calibration of
    // a dual-illuminant profile, deliberately unlike the daylight one.
    double xyz_to_cam_a[3][3] = {{0.80, -0.20, -0.05}, {-0.50, 1.40, 0.15}, {-0.05, 0.12, 0.60}};
    // XYZ to camera colour under D50: the third calibration of a
    // triple-illuminant profile, unlike both the others and their blend.
    double xyz_to_cam_d50[3][3] = {{0.62, 0.02, -0.16}, {-0.42, 1.30, 0.30}, {-0.02, 0.30, 0.52}};
    bool lit_by_a = false;          // the scene is lit by standard light A instead of D65
    bool lit_by_d50 = false;        // the scene is lit by D50 instead of D65
    bool dual_profile = false;      // DNG: both calibrations and the as-shot neutral
    bool triple_profile = false;    // DNG, with dual_profile: the D50 calibration as a third
    bool forward_matrices = false;  // DNG: forward matrices beside the colour matrices
    // Lens falloff: light at relative distance r from the centre (1 at the
    // corners) is scaled by 1 - vignetting x r^2. DNG writers then store the
    // gain map that undoes it.
    double vignetting = 0;
    // DNG: how many stops brighter than its data the picture is meant to be
    // shown (0 writes no BaselineExposure).
    double baseline_exposure = 0;
    // DNG: the frame to show, {top, left, height, width} in sensor sites;
    // a height of 0 writes no crop.
    std::array<int, 4> default_crop{};
    // Defective sites that read `stuck_value` whatever the light: single
    // sites {row, col} and rectangles {top, left, bottom, right} (bottom and
    // right excluded). DNG writers list them in opcode list 1 for repair.
    std::vector<std::array<int, 2>> bad_sites;
    std::vector<std::array<int, 4>> bad_rects;
    int stuck_value = 4095;
    // DNG: a trim in opcode list 1 to {top, left, bottom, right} of the
    // stored sites; a bottom of 0 writes none.
    std::array<int, 4> trim{};
    // Dead sites that read 0; DNG writers mark 0 as a defect in list 1.
    std::vector<std::array<int, 2>> dead_sites;
    // DNG with masked columns: the picture is given as the active area and
    // the covered columns as masked areas; with this set, no black level is
    // stored, so a reader must measure it there.
    bool black_only_in_masked_area = false;
    // Radial lens distortion: the scene point at normalised distance u from
    // the picture's centre (1 at the corners) lands at u (1 + distortion u^2)
    // on the sensor. DNG writers store the warp (opcode list 3) that undoes it.
    double distortion = 0;
    double noise_sigma = 0;  // standard deviation in raw units; 0 = noiseless
    uint64_t seed = 1;       // noise is deterministic per seed

    int visible_width() const { return width - masked_columns; }
    // Multipliers that make a neutral of the scene equal in every filter
    // colour (the reciprocal of each filter's response to white).
    void set_daylight_balance();

    // Colour of a sensor site by the pattern word.
    int color_at(int row, int col) const {
        return (cfa_pattern >> ((((row << 1) & 14) | (col & 1)) << 1)) & 3;
    }
};

// One sensor readout: height x width values, row-major. A camera without a
// colour filter (pattern 0) reads three samples per site, interleaved.
struct Mosaic {
    int width = 0;
    int height = 0;
    int samples = 1;
    std::vector<uint16_t> values;

    uint16_t sample(int row, int col, int k) const {
        return values[(static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)) *
                          static_cast<size_t>(samples) +
                      static_cast<size_t>(k)];
    }

    uint16_t at(int row, int col) const {
        return values[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)];
    }
    uint16_t& at(int row, int col) {
        return values[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)];
    }
};

Mosaic render_mosaic(const Scene& scene, const Camera& camera);

// Where the scene point seen by the sensor site (row, col) lies in the
// picture, through the camera's lens distortion (the site itself without).
std::array<double, 2> undistorted(const Camera& camera, double row, double col);

// Share of the light left by the lens falloff at (row, col).
double falloff(const Camera& camera, double row, double col);

using Matrix3 = std::array<std::array<double, 3>, 3>;

// The light sources the simulated camera is calibrated for.
enum class Light : uint8_t { d65, a, d50 };
// The light the camera's scene is lit by.
Light shot_light(const Camera& camera);

// Camera colour of white under the light given, green scaled to 1.
std::array<double, 3> camera_neutral(const Camera& camera, Light light);
// White-balanced camera colour to XYZ relative to D50 under the light given.
Matrix3 forward_matrix(const Camera& camera, Light light);

// Small deterministic generator (the standard distributions differ between
// library implementations, so tests could not pin their output).
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next();
    double uniform();   // [0, 1)
    double gaussian();  // mean 0, deviation 1

private:
    uint64_t state_;
};

}  // namespace ostel::simcam
