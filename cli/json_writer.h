#pragma once
// Minimal streaming JSON writer for the command's machine-readable output.
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ostel::cli {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void begin_object() { open('{'); }
    void end_object() { close('}'); }
    void begin_array() { open('['); }
    void end_array() { close(']'); }

    void key(std::string_view name) {
        separator();
        write_string(name);
        out_ << ':';
        after_key_ = true;
    }
    void value(std::string_view text) { separator(); write_string(text); }
    void value(const char* text) { value(std::string_view(text)); }
    void value(bool b) { separator(); out_ << (b ? "true" : "false"); }
    void value(int64_t n) { separator(); out_ << n; }
    void value(int n) { value(static_cast<int64_t>(n)); }
    void value(uint32_t n) { value(static_cast<int64_t>(n)); }
    void value(double d);

    template <typename T>
    void field(std::string_view name, const T& v) { key(name); value(v); }

private:
    void open(char c) { separator(); out_ << c; first_ = true; }
    void close(char c) { out_ << c; first_ = false; }
    void separator() {
        if (after_key_) { after_key_ = false; return; }
        if (!first_) out_ << ',';
        first_ = false;
    }
    void write_string(std::string_view s);

    std::ostream& out_;
    bool first_ = true;
    bool after_key_ = false;
};

}  // namespace ostel::cli
