#pragma once
// Small input helpers shared by the TIFF-family walkers: bounded text reads,
// the work budget of a tree walk and checked reciprocals.
#include <cmath>
#include <cstdint>

#include "core/session/decoder_session.h"

namespace ostel::core::tiff {

// Reads like a line-oriented text read: at most size - 1 bytes, stopping
// after a newline or at the end of the file; always terminated.
void read_line(DecoderSession& s, char* dest, int size);
template <size_t N>
inline void read_line(DecoderSession& s, char (&dest)[N]) {
    read_line(s, dest, static_cast<int>(N));
}

// Reads min(count, size - 1) bytes and terminates them right away, so text
// tests made before identification finishes never run past the array.
void read_text(DecoderSession& s, char* dest, size_t size, size_t count);
template <size_t N>
inline void read_text(DecoderSession& s, char (&dest)[N], size_t count) {
    read_text(s, dest, N, count);
}

// Scans one decimal floating-point number from the stream, skipping leading
// white space; false when none could be read.
bool scan_float(DecoderSession& s, float& value);

// Takes units from the walk's work budget; false once it is spent, after
// which every walker stops early.
bool spend_work(DecoderSession& s, int64_t units);

// The ways one directory walk may start: the entry count, bounded by what
// the rest of the file can hold (12 bytes an entry).
unsigned bounded_entry_count(DecoderSession& s, unsigned claimed);

inline bool usable(double v) { return std::isfinite(v) && v != 0.0; }

// numerator / denominator when the result is finite and the denominator is
// not zero; otherwise the current value stays.
inline void set_ratio(float& dest, double numerator, double denominator) {
    if (!usable(denominator)) return;
    const double r = numerator / denominator;
    if (std::isfinite(r)) dest = static_cast<float>(r);
}

// Clamps a 32-bit unsigned file value into the int range used by the
// geometry fields; the later dimension checks refuse what is too large.
inline int32_t to_int(uint32_t v) { return v > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(v); }
inline int32_t to_int(int64_t v) {
    return v > 0x7FFFFFFF ? 0x7FFFFFFF : v < -0x7FFFFFFF ? -0x7FFFFFFF : static_cast<int32_t>(v);
}

inline bool starts_with(const char* text, const char* prefix) {
    while (*prefix)
        if (*text++ != *prefix++) return false;
    return true;
}

// Byte size of one value of a TIFF type (types 14 and above count as 1).
inline unsigned type_size(unsigned type) {
    static constexpr char kSizes[] = "11124811248488";
    return type < 14 ? unsigned(kSizes[type] - '0') : 1u;
}

// Restores the byte order of the session when the scope ends.
class ByteOrderGuard {
public:
    explicit ByteOrderGuard(DecoderSession& s) : s_(s), saved_(s.byte_order) {}
    ~ByteOrderGuard() { s_.byte_order = saved_; }
    ByteOrderGuard(const ByteOrderGuard&) = delete;
    ByteOrderGuard& operator=(const ByteOrderGuard&) = delete;

private:
    DecoderSession& s_;
    uint16_t saved_;
};

}  // namespace ostel::core::tiff
