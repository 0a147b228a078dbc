#include "export/exif_rationals.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace ostel::exporting {

namespace {

constexpr uint16_t kExifIfdTag = 34665;
constexpr uint16_t kRationalType = 5;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class TiffPatcher {
public:
    explicit TiffPatcher(std::FILE* f) : f_(f) {}

    bool read_header(uint32_t& first_ifd) {
        uint8_t h[8];
        if (!read_at(0, h, 8)) return false;
        if (h[0] == 'I' && h[1] == 'I') little_ = true;
        else if (h[0] == 'M' && h[1] == 'M') little_ = false;
        else return false;
        if (get16(h + 2) != 42) return false;  // classic TIFF only
        first_ifd = get32(h + 4);
        return true;
    }

    // Calls visit(tag, type, count, value field offset) for every entry.
    template <typename Visit>
    bool walk(uint32_t ifd, Visit visit) {
        uint8_t n[2];
        if (!read_at(ifd, n, 2)) return false;
        const uint32_t count = get16(n);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t at = ifd + 2 + 12 * i;
            uint8_t e[12];
            if (!read_at(at, e, 12)) return false;
            if (!visit(get16(e), get16(e + 2), get32(e + 4), get32(e + 8))) return false;
        }
        return true;
    }

    bool write_rational(uint32_t offset, const Rational& r) {
        uint8_t b[8];
        put32(b, r.numerator);
        put32(b + 4, r.denominator);
        return std::fseek(f_, long(offset), SEEK_SET) == 0 && std::fwrite(b, 1, 8, f_) == 8;
    }

private:
    bool read_at(uint32_t offset, uint8_t* dest, size_t n) {
        return std::fseek(f_, long(offset), SEEK_SET) == 0 && std::fread(dest, 1, n, f_) == n;
    }
    uint32_t get16(const uint8_t* b) const { return little_ ? b[0] | b[1] << 8 : b[0] << 8 | b[1]; }
    uint32_t get32(const uint8_t* b) const {
        return little_ ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24
                       : uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
    }
    void put32(uint8_t* b, uint32_t v) const {
        for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (little_ ? 8 * i : 8 * (3 - i)));
    }

    std::FILE* f_;
    bool little_ = true;
};

}  // namespace

bool write_exact_exif_rationals(const std::string& path, const MetadataItems& items) {
    const std::array<std::pair<uint16_t, const std::optional<Rational>*>, 4> wanted = {{
        {33434, &items.exposure_time},
        {33437, &items.f_number},
        {37378, &items.aperture_value},
        {37386, &items.focal_length},
    }};
    File file(std::fopen(path.c_str(), "r+b"));
    if (!file) return false;
    TiffPatcher tiff(file.get());
    uint32_t first_ifd = 0;
    if (!tiff.read_header(first_ifd)) return false;
    uint32_t exif_ifd = 0;
    if (!tiff.walk(first_ifd, [&](uint32_t tag, uint32_t, uint32_t, uint32_t value) {
            if (tag == kExifIfdTag) exif_ifd = value;
            return true;
        }))
        return false;
    if (exif_ifd == 0) return false;
    bool ok = tiff.walk(exif_ifd, [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        for (const auto& [wanted_tag, item] : wanted)
            if (tag == wanted_tag && item->has_value())
                return type == kRationalType && count == 1 && tiff.write_rational(value, **item);
        return true;
    });
    // The data must be on disk before the file counts as written.
    ok = std::fflush(file.get()) == 0 && ok;
    return std::fclose(file.release()) == 0 && ok;
}

}  // namespace ostel::exporting
