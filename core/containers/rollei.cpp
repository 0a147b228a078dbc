// Rollei text header: "KEY=value" lines up to an "EOHD" line.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

constexpr size_t kLineBytes = 128;
// A header is a few hundred bytes; this many lines without "EOHD" is not one.
constexpr int kMaxLines = 4096;

// Reads one line (newline included) of at most kLineBytes - 1 characters;
// false at the end of the file.
bool read_line(DecoderSession& s, char (&line)[kLineBytes]) {
    size_t n = 0;
    while (n + 1 < kLineBytes) {
        const int c = s.getc();
        if (c < 0) break;
        line[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    line[n] = 0;
    return n > 0;
}

int to_int(const char* text) {
    errno = 0;
    const long v = std::strtol(text, nullptr, 10);
    return static_cast<int>(std::clamp<long>(v, 0, 0x7fffffff));
}

}  // namespace

void read_rollei_header(DecoderSession& s) {
    s.seek(0);
    std::tm t{};
    char line[kLineBytes];
    for (int i = 0; i < kMaxLines && read_line(s, line); ++i) {
        if (std::strncmp(line, "EOHD", 4) == 0) break;
        char* value = std::strchr(line, '=');
        if (value)
            *value++ = 0;
        else
            value = line + std::strlen(line);
        if (std::strcmp(line, "DAT") == 0) std::sscanf(value, "%4d.%4d.%6d", &t.tm_mday, &t.tm_mon, &t.tm_year);
        if (std::strcmp(line, "TIM") == 0) std::sscanf(value, "%4d:%4d:%4d", &t.tm_hour, &t.tm_min, &t.tm_sec);
        if (std::strcmp(line, "HDR") == 0) s.thumb_offset = to_int(value);
        if (std::strcmp(line, "X  ") == 0) s.stored_width = to_int(value);
        if (std::strcmp(line, "Y  ") == 0) s.stored_height = to_int(value);
        if (std::strcmp(line, "TX ") == 0) s.thumb_width = to_int(value);
        if (std::strcmp(line, "TY ") == 0) s.thumb_height = to_int(value);
    }
    s.raw_offset = s.thumb_offset + int64_t(s.thumb_width) * s.thumb_height * 2;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    if (when > 0) s.capture_time = static_cast<int64_t>(when);
    set_text(s.make, "Rollei");
    set_text(s.model, "d530flex");
    s.thumb_writer = ThumbWriterId::rollei;
}

}  // namespace ostel::core
