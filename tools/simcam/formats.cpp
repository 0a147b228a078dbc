#include "tools/simcam/formats.h"

#include <array>
#include <fstream>
#include <stdexcept>

namespace ostel::simcam {

namespace {

constexpr std::array<std::string_view, static_cast<size_t>(Format::count_)> kNames = {
    "cr2", "dng", "dng_ljpeg", "nef", "nef_compressed", "pef", "pef_compressed", "crw_packed", "nef_cmyg",
    "dng_deflate_float", "dng_linear_lossy", "dng_jxl", "dng_linear_jxl"};

// XYZ to camera of two four-colour compacts (filters green, magenta, cyan,
// yellow in the order of their pattern indices).
constexpr double kCanonA50[4][3] = {
    {-0.5300, 0.9846, 0.1776}, {0.3436, 0.0684, 0.3939}, {-0.5540, 0.9879, 0.6200}, {-0.1404, 1.1175, 0.0217}};
constexpr double kNikonE5700[4][3] = {
    {-0.6475, 1.2496, 0.2428}, {0.5409, -0.0016, 0.3180}, {-0.5965, 1.0912, 0.5866}, {-0.0177, 0.9918, 0.0248}};

void set_matrix(Camera& cam, const double (&m)[4][3]) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j) cam.xyz_to_cam[i][j] = m[i][j];
}

}  // namespace

std::string_view format_name(Format f) { return kNames[static_cast<size_t>(f)]; }

bool parse_format(std::string_view name, Format& out) {
    for (size_t i = 0; i < kNames.size(); ++i)
        if (kNames[i] == name) {
            out = static_cast<Format>(i);
            return true;
        }
    return false;
}

Camera camera_for(Format f, int width, int height) {
    Camera cam;
    cam.width = width;
    cam.height = height;
    switch (f) {
        case Format::cr2:
            cam.make = "Canon";
            cam.model = "Canon EOS 30D";
            cam.cfa_pattern = kRggb;
            cam.bits = 12;
            cam.black = 128;
            cam.white = 3692;
            break;
        case Format::dng:
        case Format::dng_ljpeg:
        case Format::dng_deflate_float:
        case Format::dng_linear_lossy:
        case Format::dng_jxl:
        case Format::dng_linear_jxl:
            cam.make = "Ostel";
            cam.model = "SimCam 1";
            cam.cfa_pattern = kGrbg;
            cam.bits = 16;
            cam.black = 256;
            cam.white = 65535;
            if (f == Format::dng_linear_lossy || f == Format::dng_linear_jxl)
                cam.cfa_pattern = 0;  // no filter: three samples per site
            break;
        case Format::nef:
        case Format::nef_compressed:
            cam.make = "NIKON CORPORATION";
            cam.model = "NIKON D1";
            cam.cfa_pattern = kBggr;
            cam.bits = 12;
            cam.black = 0;
            cam.white = 4095;
            break;
        case Format::pef:
        case Format::pef_compressed:
            cam.make = "PENTAX Corporation";
            cam.model = "PENTAX K10D";
            cam.cfa_pattern = kBggr;
            cam.bits = 12;
            cam.black = 128;
            cam.white = 4095;
            break;
        case Format::crw_packed:
            cam.make = "Canon";
            cam.model = "Canon PowerShot A50";
            cam.width = 1320;  // 1290 lit columns and 30 covered ones
            cam.height = 968;
            cam.masked_columns = 30;
            cam.cfa_pattern = 0x1b4e4b1e;
            cam.colours = 4;
            cam.bits = 10;
            cam.black = 32;
            cam.white = 1023;
            set_matrix(cam, kCanonA50);
            cam.set_daylight_balance();
            break;
        case Format::nef_cmyg:
            cam.make = "NIKON";
            cam.model = "E5700";
            cam.width = 2576;
            cam.height = 1924;
            cam.cfa_pattern = 0xb4b4b4b4;
            cam.colours = 4;
            cam.bits = 12;
            cam.black = 0;  // the format has no black level of its own
            cam.white = 4095;
            set_matrix(cam, kNikonE5700);
            break;
        case Format::count_: break;
    }
    return cam;
}

std::vector<uint8_t> write_raw(Format f, const Mosaic& m, const Camera& cam) {
    switch (f) {
        case Format::cr2: return write_cr2(m, cam);
        case Format::dng: return write_dng(m, cam);
        case Format::dng_ljpeg: return write_dng_ljpeg(m, cam);
        case Format::dng_deflate_float: return write_dng_deflate_float(m, cam);
        case Format::dng_linear_lossy: return write_dng_linear_lossy(m, cam);
        case Format::dng_jxl: return write_dng_jxl(m, cam);
        case Format::dng_linear_jxl: return write_dng_jxl(m, cam, 1.0f);
        case Format::nef: return write_nef(m, cam);
        case Format::nef_compressed: return write_nef_compressed(m, cam);
        case Format::pef: return write_pef(m, cam);
        case Format::pef_compressed: return write_pef_compressed(m, cam);
        case Format::crw_packed: return write_crw_packed(m, cam);
        case Format::nef_cmyg: return write_nef_cmyg(m, cam);
        case Format::count_: break;
    }
    throw std::invalid_argument("write_raw: unknown format");
}

bool save_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace ostel::simcam
