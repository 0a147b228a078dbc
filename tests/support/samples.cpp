#include "tests/support/samples.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace ostel::test {

std::string samples_dir() {
    if (const char* env = std::getenv("OSTELRAW_SAMPLES"); env && *env)
        return fs::is_directory(env) ? std::string(env) : std::string();
    const fs::path fallback = OSTEL_SAMPLES_DEFAULT;
    return fs::is_directory(fallback) ? fallback.lexically_normal().string() : std::string();
}

std::vector<std::string> sample_files(const std::string& sub_folder) {
    std::vector<std::string> files;
    const std::string root = samples_dir();
    if (root.empty()) return files;
    const fs::path dir = fs::path(root) / sub_folder;
    if (!fs::is_directory(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string testdata_path(const std::string& name) {
    return (fs::path(OSTEL_SOURCE_DIR) / "testdata" / name).string();
}

std::vector<unsigned char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace ostel::test
