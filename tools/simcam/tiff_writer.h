#pragma once
// Builds TIFF trees in memory. Data blocks are appended first; directories
// are written afterwards, when the offsets of everything they point to are
// known (write children before parents and the chain from its end).
#include <cstdint>
#include <string>
#include <vector>

namespace ostel::simcam {

enum TiffType : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7,
                           kSrational = 10 };

struct TiffEntry {
    uint16_t tag = 0;
    uint16_t type = kLong;
    uint32_t count = 0;
    std::vector<uint8_t> data;  // values already in the file's byte order
};

class TiffWriter {
public:
    explicit TiffWriter(bool little_endian = true) : little_(little_endian) {}

    bool little_endian() const { return little_; }
    std::vector<uint8_t>& bytes() { return out_; }
    uint32_t size() const { return static_cast<uint32_t>(out_.size()); }

    // Raw output helpers in the writer's byte order.
    void u8(uint32_t v) { out_.push_back(static_cast<uint8_t>(v)); }
    void u16(uint32_t v);
    void u32(uint32_t v);
    void text(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }
    void patch_u32(size_t at, uint32_t v);
    void align(unsigned n);
    // Appends a block at an even offset and returns where it starts.
    uint32_t append(const std::vector<uint8_t>& block);

    // The standard 8-byte header; returns the position of the first-IFD offset.
    size_t header();

    // Entry constructors.
    TiffEntry shorts(uint16_t tag, const std::vector<uint32_t>& values) const;
    TiffEntry longs(uint16_t tag, const std::vector<uint32_t>& values) const;
    TiffEntry ascii(uint16_t tag, const std::string& s) const;
    TiffEntry bytes_entry(uint16_t tag, uint16_t type, const std::vector<uint8_t>& b) const;
    TiffEntry srationals(uint16_t tag, const std::vector<double>& values) const;
    TiffEntry rationals(uint16_t tag, const std::vector<double>& values) const;

    // Writes a directory (entries sorted by tag) with its out-of-line values
    // after it; returns its offset.
    uint32_t write_ifd(std::vector<TiffEntry> entries, uint32_t next_ifd = 0);

private:
    void put(std::vector<uint8_t>& to, uint32_t v, int n) const;
    bool little_;
    std::vector<uint8_t> out_;
};

}  // namespace ostel::simcam
