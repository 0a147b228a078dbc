#pragma once
// Bounds applied to every value taken from a file before it sizes a buffer,
// counts a loop or nests a parser. Valid files never come near them.
#include <cstdint>

#include "core/session/decoder_session.h"

namespace ostel::core::limits {

inline constexpr int kMaxParseDepth = 16;          // nesting shared by all parsers
inline constexpr int kMinDimension = 22;
inline constexpr int kMaxDimension = 65535;
inline constexpr int64_t kMaxImageBytes = int64_t(2) << 30;  // 2 GiB of 4 x 16-bit pixels
inline constexpr unsigned kMaxIfdEntries = 512;
inline constexpr int kMaxRawCount = 16;           // shots in one file

// True when [offset, offset + length) lies inside the file.
inline bool within_file(const DecoderSession& s, int64_t offset, int64_t length) {
    return offset >= 0 && length >= 0 && offset <= s.file_size() && length <= s.file_size() - offset;
}

// Enters one nesting level; false (and nothing entered) when too deep.
class DepthGuard {
public:
    explicit DepthGuard(DecoderSession& s) : s_(s), entered_(s.parse_depth < kMaxParseDepth) {
        if (entered_) ++s_.parse_depth;
    }
    ~DepthGuard() {
        if (entered_) --s_.parse_depth;
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    explicit operator bool() const { return entered_; }

private:
    DecoderSession& s_;
    bool entered_;
};

}  // namespace ostel::core::limits
