#include "cli/json_writer.h"

#include <cstdio>

namespace ostel::cli {

void JsonWriter::value(double d) {
    separator();
    if (!std::isfinite(d)) { out_ << "null"; return; }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", d);
    out_ << buf;
}

void JsonWriter::write_string(std::string_view s) {
    out_ << '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': out_ << "\\\""; break;
            case '\\': out_ << "\\\\"; break;
            case '\n': out_ << "\\n"; break;
            case '\r': out_ << "\\r"; break;
            case '\t': out_ << "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Camera texts are 8-bit without a declared encoding: escape
                    // everything outside ASCII so the output is always valid JSON.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out_ << buf;
                } else {
                    out_ << c;
                }
        }
    }
    out_ << '"';
}

}  // namespace ostel::cli
