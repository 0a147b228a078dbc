#pragma once
// Helpers shared by the colour-management tests.
#include <lcms2.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "develop/notifier.h"

namespace ostel::develop::test {

// CIELab of linear sRGB, relative to D65 so that neutral stays neutral.
inline cmsCIELab lab_of_linear_srgb(const std::array<double, 3>& rgb) {
    const cmsCIEXYZ xyz{0.4124564 * rgb[0] + 0.3575761 * rgb[1] + 0.1804375 * rgb[2],
                        0.2126729 * rgb[0] + 0.7151522 * rgb[1] + 0.0721750 * rgb[2],
                        0.0193339 * rgb[0] + 0.1191920 * rgb[1] + 0.9503041 * rgb[2]};
    const cmsCIEXYZ d65{0.95047, 1.0, 1.08883};
    cmsCIELab lab;
    cmsXYZ2Lab(&d65, &lab, &xyz);
    return lab;
}

class RecordingNotifier : public Notifier {
public:
    void message(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

// A fresh folder under the test temp dir, removed at scope end.
class TempDir {
public:
    explicit TempDir(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / ("ostel_colour_" + name + "_" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> save(cmsHPROFILE h) {
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(h, nullptr, &n);
    std::vector<uint8_t> bytes(n);
    cmsSaveProfileToMem(h, bytes.data(), &n);
    return bytes;
}

inline std::string info(cmsHPROFILE h, cmsInfoType type) {
    char buf[256] = {};
    cmsGetProfileInfoASCII(h, type, "en", "US", buf, sizeof buf);
    return buf;
}

}  // namespace ostel::develop::test
