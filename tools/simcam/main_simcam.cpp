// Command-line generator: writes one simulated raw file.
//   simcam FORMAT OUTPUT [WIDTH HEIGHT [NOISE [SEED]]]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/simcam/formats.h"

int main(int argc, char** argv) {
    using namespace ostel::simcam;
    Format format;
    if (argc < 3 || !parse_format(argv[1], format)) {
        std::fprintf(stderr, "usage: simcam FORMAT OUTPUT [WIDTH HEIGHT [NOISE [SEED]]]\nformats:");
        for (int i = 0; i < static_cast<int>(Format::count_); ++i)
            std::fprintf(stderr, " %s", std::string(format_name(static_cast<Format>(i))).c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    const int width = argc > 4 ? std::atoi(argv[3]) : 256;
    const int height = argc > 4 ? std::atoi(argv[4]) : 192;
    if (width < 8 || height < 8 || width > 20000 || height > 20000) {
        std::fprintf(stderr, "simcam: size out of range\n");
        return 2;
    }
    Camera cam = camera_for(format, width, height);
    if (argc > 5) cam.noise_sigma = std::atof(argv[5]);
    if (argc > 6) cam.seed = std::strtoull(argv[6], nullptr, 10);
    try {
        const Mosaic mosaic = render_mosaic(Scene{}, cam);
        if (!save_file(argv[2], write_raw(format, mosaic, cam))) {
            std::fprintf(stderr, "simcam: cannot write %s\n", argv[2]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simcam: %s\n", e.what());
        return 1;
    }
    return 0;
}
