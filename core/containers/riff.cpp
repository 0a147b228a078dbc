// RIFF chunks: lists nest, "nctg" holds tagged records with the shooting
// dates, "IDIT" a text date.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>

#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void read_text_date(DecoderSession& s, uint32_t size) {
    char text[64] = {};
    s.read(text, 1, sizeof text);
    text[size] = 0;
    char month[64] = {};
    std::tm t{};
    if (std::sscanf(text, "%*s %63s %4d %4d:%4d:%4d %6d", month, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec,
                    &t.tm_year) != 6)
        return;
    int index = 0;
    while (index < 12 && strcasecmp(kMonths[index], month) != 0) ++index;
    t.tm_mon = index;
    t.tm_year -= 1900;
    t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    if (when > 0) s.capture_time = static_cast<int64_t>(when);
}

// Reads one chunk at the current position; false when nothing could be read.
bool read_chunk(DecoderSession& s) {
    limits::DepthGuard depth(s);
    const int64_t start = s.tell();
    if (!depth || !limits::within_file(s, start, 8)) return false;
    char tag[4];
    s.read(tag, 1, 4);
    const uint32_t size = s.read_u32();
    const int64_t end = s.tell() + size;
    // Children cannot reach past the file, whatever the size claims.
    const int64_t child_end = end < s.file_size() ? end : s.file_size();
    if (std::memcmp(tag, "RIFF", 4) == 0 || std::memcmp(tag, "LIST", 4) == 0) {
        s.read_u32();
        while (s.tell() + 7 < child_end) {
            const int64_t before = s.tell();
            if (!read_chunk(s) || s.tell() <= before) break;
        }
    } else if (std::memcmp(tag, "nctg", 4) == 0) {
        while (s.tell() + 7 < child_end) {
            const unsigned record = s.read_u16();
            const unsigned record_size = s.read_u16();
            const int64_t next = s.tell() + record_size;
            if ((record == 19 || record == 20) && record_size == 20) s.read_date_text(false);
            s.seek(next);
        }
    } else if (std::memcmp(tag, "IDIT", 4) == 0 && size < 64) {
        read_text_date(s, size);
        s.seek(end);  // the text read may run past a short chunk
    } else {
        s.seek(size, SEEK_CUR);
    }
    return true;
}

}  // namespace

void read_riff(DecoderSession& s) {
    s.byte_order = 0x4949;
    s.seek(0);
    read_chunk(s);
}

}  // namespace ostel::core
