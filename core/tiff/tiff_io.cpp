#include "core/tiff/tiff_io.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace ostel::core::tiff {

void read_line(DecoderSession& s, char* dest, int size) {
    if (size <= 0) return;
    int n = 0;
    while (n < size - 1) {
        const int c = s.getc();
        if (c < 0) break;
        dest[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    dest[n] = 0;
}

void read_text(DecoderSession& s, char* dest, size_t size, size_t count) {
    if (size == 0) return;
    const size_t n = count < size - 1 ? count : size - 1;
    const size_t got = s.read(dest, 1, n);
    dest[got] = 0;
}

bool scan_float(DecoderSession& s, float& value) {
    int c = s.getc();
    while (c >= 0 && std::isspace(c)) c = s.getc();
    char text[64];
    int n = 0;
    while (c >= 0 && n < 63 && (std::isdigit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) {
        text[n++] = static_cast<char>(c);
        c = s.getc();
    }
    if (c >= 0) s.seek(-1, SEEK_CUR);  // the character that ended the number is not part of it
    text[n] = 0;
    if (n == 0) return false;
    char* end = nullptr;
    const float v = std::strtof(text, &end);
    if (end == text) return false;
    value = v;
    return true;
}

bool spend_work(DecoderSession& s, int64_t units) {
    if (units < 0) units = 0;
    if (s.tiff.work_left < units) {
        s.tiff.work_left = 0;
        return false;
    }
    s.tiff.work_left -= units;
    return true;
}

unsigned bounded_entry_count(DecoderSession& s, unsigned claimed) {
    const int64_t room = s.file_size() - s.tell();
    const int64_t fit = room > 0 ? room / 12 : 0;
    return static_cast<int64_t>(claimed) > fit ? static_cast<unsigned>(fit) : claimed;
}

}  // namespace ostel::core::tiff
