#include "tools/simcam/formats.h"

#include <array>
#include <fstream>
#include <stdexcept>

namespace ostel::simcam {

namespace {

constexpr std::array<std::string_view, static_cast<size_t>(Format::count_)> kNames = {
    "cr2", "dng", "dng_ljpeg", "nef", "nef_compressed", "pef", "pef_compressed", "dng_deflate_float",
    "dng_linear_lossy"};

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
            cam.make = "Ostel";
            cam.model = "SimCam 1";
            cam.cfa_pattern = kGrbg;
            cam.bits = 16;
            cam.black = 256;
            cam.white = 65535;
            if (f == Format::dng_linear_lossy) cam.cfa_pattern = 0;  // no filter: three samples per site
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
        case Format::nef: return write_nef(m, cam);
        case Format::nef_compressed: return write_nef_compressed(m, cam);
        case Format::pef: return write_pef(m, cam);
        case Format::pef_compressed: return write_pef_compressed(m, cam);
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
