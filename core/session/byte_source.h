#pragma once
// Read-only, bounds-checked view of a whole raw file held in memory. All
// file access of the decoder goes through here, so no read can run past the
// end of the data: short reads return fewer items and getc() returns -1.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ostel::core {

class ByteSource {
public:
    ByteSource() = default;
    explicit ByteSource(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}

    // Reads the whole file; returns false when it cannot be opened or read.
    static bool load_file(const std::string& path, ByteSource& out);

    bool empty() const { return data_.empty(); }
    int64_t size() const { return static_cast<int64_t>(data_.size()); }
    int64_t tell() const { return pos_; }
    // Positions outside [0, size] are clamped; SEEK_SET/SEEK_CUR/SEEK_END as stdio.
    void seek(int64_t offset, int whence = SEEK_SET);
    bool at_end() const { return pos_ >= size(); }

    int getc() { return pos_ < static_cast<int64_t>(data_.size()) ? data_[static_cast<size_t>(pos_++)] : -1; }
    // Reads up to count items of item_size bytes; returns whole items read.
    size_t read(void* dest, size_t item_size, size_t count);
    // Bytes available from the current position.
    int64_t remaining() const { return size() - pos_; }
    const uint8_t* data() const { return data_.data(); }
    const std::vector<uint8_t>& bytes() const { return data_; }

private:
    std::vector<uint8_t> data_;
    int64_t pos_ = 0;
};

}  // namespace ostel::core
