#pragma once
// Candidate images collected by one TIFF tree walk.
#include <array>
#include <cstdint>

namespace ostel::core {

struct TiffIfd {
    int32_t width = 0, height = 0, bits = 0, compression = 0, photometric = 0;
    int64_t offset = 0;
    int32_t orientation = 0, samples = 0;
    int64_t bytes = 0;
};

struct TiffState {
    static constexpr int kMaxIfds = 10;
    std::array<TiffIfd, kMaxIfds> ifds{};
    int ifd_count = 0;
};

}  // namespace ostel::core
