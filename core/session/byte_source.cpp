#include "core/session/byte_source.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ostel::core {

bool ByteSource::load_file(const std::string& path, ByteSource& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    out = ByteSource(std::move(bytes));
    return true;
}

void ByteSource::seek(int64_t offset, int whence) {
    int64_t base = 0;
    if (whence == SEEK_CUR) base = pos_;
    else if (whence == SEEK_END) base = size();
    int64_t target = base + offset;
    // Overflow is impossible for realistic offsets but clamp anyway.
    pos_ = std::clamp<int64_t>(target, 0, size());
}

size_t ByteSource::read(void* dest, size_t item_size, size_t count) {
    if (item_size == 0 || count == 0) return 0;
    const uint64_t avail = static_cast<uint64_t>(remaining());
    const uint64_t items = std::min<uint64_t>(count, avail / item_size);
    const uint64_t bytes = items * item_size;
    if (bytes) std::memcpy(dest, data_.data() + pos_, static_cast<size_t>(bytes));
    pos_ += static_cast<int64_t>(bytes);
    // A partial trailing item is consumed like stdio does, but not counted.
    if (items < count) pos_ = size();
    return static_cast<size_t>(items);
}

}  // namespace ostel::core
