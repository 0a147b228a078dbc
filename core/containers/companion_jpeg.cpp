// Companion JPEG: the camera stores the shot data of a raw file in a JPEG
// named after it. The name is derived from the raw file's, the JPEG loaded
// into its own byte source and its TIFF tree read in place of the raw file.
#include "core/containers/companion_jpeg.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <strings.h>
#include <new>
#include <utility>

#include "core/identify/parsers.h"
#include "core/session/core_failure.h"

namespace ostel::core {
namespace {

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Swaps the session's input for another source for the lifetime of the
// object, so that the raw file is back in place even when parsing throws.
class InputSwap {
public:
    InputSwap(DecoderSession& s, ByteSource& other) : s_(s), other_(other) { std::swap(s_.input, other_); }
    ~InputSwap() { std::swap(s_.input, other_); }
    InputSwap(const InputSwap&) = delete;
    InputSwap& operator=(const InputSwap&) = delete;

private:
    DecoderSession& s_;
    ByteSource& other_;
};

}  // namespace

std::string companion_jpeg_name(const std::string& raw_name) {
    const size_t dot = raw_name.rfind('.');
    size_t slash = raw_name.rfind('/');
    if (slash == std::string::npos) slash = raw_name.rfind('\\');
    const size_t file = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || raw_name.size() - dot != 4 || dot < file || dot - file != 8) return {};

    std::string name = raw_name;
    if (strcasecmp(raw_name.c_str() + dot, ".jpg") != 0) {
        name.replace(dot, 4, std::isupper(static_cast<unsigned char>(raw_name[dot + 1])) ? ".JPG" : ".jpg");
        // Such cameras number the raw file with the halves of the JPEG's name swapped.
        if (is_digit(raw_name[file])) name.replace(file, 8, raw_name.substr(file + 4, 4) + raw_name.substr(file, 4));
    } else {
        // Increment the number that ends the file part; the carry stops at
        // the start of the file part.
        for (size_t i = dot; i > file && is_digit(name[i - 1]); --i) {
            if (name[i - 1] != '9') {
                ++name[i - 1];
                break;
            }
            name[i - 1] = '0';
        }
    }
    return name;
}

void parse_external_jpeg(DecoderSession& s) {
    std::string name;
    ByteSource companion;
    bool loaded = false;
    try {
        name = companion_jpeg_name(s.file_name);
        if (name.empty()) return;
        loaded = name != s.file_name && ByteSource::load_file(name, companion);
    } catch (const std::bad_alloc&) {
        fail_out_of_memory();
    }
    if (loaded) {
        if (s.verbose) std::fprintf(stderr, "Reading metadata from %s ...\n", name.c_str());
        InputSwap swap(s, companion);
        parse_tiff_file(s, 12);
        s.thumb_offset = 0;
        s.raw_count = 1;
    }
    if (s.capture_time == 0) std::fprintf(stderr, "Failed to read metadata from %s\n", name.c_str());
}

}  // namespace ostel::core
