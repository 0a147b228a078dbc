#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>

#include "core/processing/preprocess.h"

namespace ostel::core {

namespace {

// The first ".badpixels" found walking up from the start folder.
std::string find_bad_pixel_file(const std::string& start) {
    std::error_code ec;
    std::filesystem::path dir = start.empty() ? std::filesystem::current_path(ec) : std::filesystem::absolute(start, ec);
    if (ec) return "";
    while (true) {
        const std::filesystem::path candidate = dir / ".badpixels";
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
        if (!dir.has_parent_path() || dir.parent_path() == dir) return "";
        dir = dir.parent_path();
    }
}

void repair_one(DecoderSession& s, int row, int col) {
    const int colour = s.sensor_color(row, col);
    for (int rad = 1; rad <= 2; ++rad) {
        unsigned sum = 0, count = 0;
        for (int r = row - rad; r <= row + rad; ++r)
            for (int c = col - rad; c <= col + rad; ++c) {
                if (r < 0 || c < 0 || r >= s.height || c >= s.width || (r == row && c == col)) continue;
                if (s.sensor_color(r, c) != colour) continue;
                sum += raw_sample(s, r, c);
                ++count;
            }
        if (count) {
            raw_sample(s, row, col) = static_cast<uint16_t>(sum / count);
            return;
        }
    }
}

}  // namespace

void repair_bad_pixels_from_text(DecoderSession& s, const std::string& text) {
    if (s.cfa_pattern == 0 || s.image.empty()) return;
    std::istringstream in(text);
    std::string line;
    bool reported = false;
    while (std::getline(in, line)) {
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        long long col, row, when;
        if (std::sscanf(line.c_str(), "%lld %lld %lld", &col, &row, &when) != 3) continue;
        if (col < 0 || row < 0 || col >= s.width || row >= s.height || when > s.capture_time) continue;
        repair_one(s, static_cast<int>(row), static_cast<int>(col));
        if (s.verbose) {
            if (!reported) std::cerr << "Fixed bad pixels at:";
            reported = true;
            std::cerr << ' ' << col << ',' << row;
        }
    }
    if (reported) std::cerr << '\n';
}

void repair_bad_pixels(DecoderSession& s) {
    if (s.cfa_pattern == 0) return;
    const std::string path = find_bad_pixel_file(s.bad_pixel_folder);
    if (path.empty()) return;
    std::ifstream f(path);
    std::ostringstream text;
    text << f.rdbuf();
    repair_bad_pixels_from_text(s, text.str());
}

}  // namespace ostel::core
