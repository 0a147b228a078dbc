// Canon-style TIFF raw: IFD0 carries the names, a later directory in the
// chain holds the lossless JPEG whose samples fill the sensor in vertical
// slices (all rows of slice 0, then slice 1, ...).
#include <stdexcept>

#include "tools/simcam/format_common.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/ljpeg_encoder.h"

namespace ostel::simcam {

std::vector<uint8_t> write_cr2(const Mosaic& m, const Camera& cam) {
    if (m.width < 4 || m.width % 2 || m.height < 1) throw std::invalid_argument("write_cr2: width must be even");
    // Two full slices and a narrower last one, each an even number of columns.
    const int slice = (m.width / 3 + 1) & ~1;
    const int full = 2;
    const int last = m.width - full * slice;
    if (slice <= 0 || last <= 0) throw std::invalid_argument("write_cr2: image too narrow for slices");

    std::vector<uint16_t> seq;
    seq.reserve(m.values.size());
    for (int s = 0; s <= full; ++s) {
        const int c0 = s * slice;
        const int cw = s < full ? slice : last;
        for (int r = 0; r < m.height; ++r)
            for (int c = 0; c < cw; ++c) seq.push_back(m.at(r, c0 + c));
    }
    LjpegFrame frame;
    frame.wide = m.width / 2;
    frame.high = m.height;
    frame.components = 2;
    frame.bits = cam.bits;
    const auto jpeg = encode_ljpeg(frame, seq);

    const auto build = [&](const std::vector<uint32_t>& data) {
        TiffWriter w(true);
        const size_t first_ifd = w.header();
        w.text("CR");
        w.u8(2);
        w.u8(0);
        const size_t raw_ifd_field = w.size();
        w.u32(0);
        const uint32_t raw_ifd = w.write_ifd({
            w.shorts(259, {6}),
            w.longs(273, {data[0]}),
            w.longs(279, {static_cast<uint32_t>(jpeg.size())}),
            w.shorts(50752,
                     {static_cast<uint32_t>(full), static_cast<uint32_t>(slice), static_cast<uint32_t>(last)}),
        });
        const uint32_t exif = detail::write_exif(w, {});
        const uint32_t ifd0 = w.write_ifd(
            {
                w.ascii(271, cam.make),
                w.ascii(272, cam.model),
                w.shorts(274, {1}),
                w.ascii(306, "2024:05:17 10:30:00"),
                w.longs(34665, {exif}),
            },
            raw_ifd);
        w.patch_u32(first_ifd, ifd0);
        w.patch_u32(raw_ifd_field, raw_ifd);
        return w;
    };
    return detail::layout(build, {jpeg});
}

}  // namespace ostel::simcam
