// The header magic table: container recognition from the first 32 bytes.
#include <cstring>

#include "core/identify/identify_steps.h"

namespace ostel::core {
namespace {

bool at(const uint8_t (&h)[kHeaderBytes], size_t pos, const char* text, size_t len) {
    return pos + len <= kHeaderBytes && std::memcmp(h + pos, text, len) == 0;
}

// First position 0..28 holding either Phase One marker, or -1.
int phase_one_position(const uint8_t (&h)[kHeaderBytes]) {
    const int mm = DecoderSession::find_4cc(h, kHeaderBytes, "MMMM");
    const int ii = DecoderSession::find_4cc(h, kHeaderBytes, "IIII");
    if (mm < 0) return ii;
    if (ii < 0) return mm;
    return mm < ii ? mm : ii;
}

}  // namespace

MagicMatch match_header_magic(const uint8_t (&h)[kHeaderBytes]) {
    const int phase_one = phase_one_position(h);
    if (phase_one >= 0) return {Container::phase_one, phase_one};
    const bool tiff_order = at(h, 0, "II", 2) || at(h, 0, "MM", 2);
    if (tiff_order && at(h, 6, "HEAPCCDR", 8)) return {Container::ciff};
    if (tiff_order) return {Container::tiff};
    if (at(h, 0, "\xff\xd8\xff\xe1", 4) && at(h, 6, "Exif", 4)) return {Container::jpeg_exif};
    if (at(h, 25, "ARECOYK", 7)) return {Container::contax};
    // The short texts must end with a zero byte: the header holds them as
    // terminated strings.
    if (at(h, 0, "PXN", 4)) return {Container::logitech};
    if (at(h, 0, "qktk", 5)) return {Container::quicktake_100};
    if (at(h, 0, "qktn", 5)) return {Container::quicktake_150};
    if (at(h, 0, "FUJIFILM", 8)) return {Container::raf};
    if (at(h, 0, "RIFF", 4)) return {Container::riff};
    if (at(h, 0, "\0\1\0\1\0\x40", 6)) return {Container::nokia};
    if (at(h, 0, "DSC-Image", 9)) return {Container::rollei};
    if (at(h, 0, "PWAD", 4)) return {Container::sinar_ia};
    if (at(h, 0, "\0MRM", 4)) return {Container::mrw};
    if (at(h, 0, "FOVb", 4)) return {Container::foveon};
    if (at(h, 0, "CI", 2)) return {Container::cine};
    return {Container::unknown};
}

}  // namespace ostel::core
