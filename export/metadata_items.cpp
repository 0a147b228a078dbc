#include "export/metadata_items.h"

#include <cmath>
#include <limits>

namespace ostel::exporting {

namespace {

constexpr uint32_t kDenominator = 10000;

// value x 10000 truncated; absent for values the camera did not record,
// and clamped where a long exposure would overflow the numerator.
std::optional<Rational> fixed_rational(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) return std::nullopt;
    const double scaled = std::floor(value * kDenominator);
    const double limit = double(std::numeric_limits<uint32_t>::max());
    return Rational{uint32_t(scaled >= limit ? limit : scaled), kDenominator};
}

}  // namespace

MetadataItems metadata_items(const ShootingData& shot, const std::string& artist, const std::string& copyright) {
    MetadataItems items;
    items.make = shot.make;
    items.model = shot.model;
    items.artist = limit_utf8(artist, kMaxPersonText);
    items.copyright = limit_utf8(copyright, kMaxPersonText);
    items.date_time = shot.capture_time;
    items.exposure_time = fixed_rational(shot.shutter);
    // The aperture value is the APEX number 2 log2(N); below f/1 it would be
    // negative, which an unsigned rational cannot hold.
    if (shot.aperture >= 1.0 && shot.aperture < 1e6)
        items.aperture_value = Rational{uint32_t(std::floor(2.0 * std::log2(shot.aperture) * kDenominator)), kDenominator};
    items.focal_length = fixed_rational(shot.focal_length);
    if (shot.iso >= 1.0 && std::isfinite(shot.iso))
        items.iso = uint16_t(shot.iso >= 65535.0 ? 65535.0 : shot.iso);
    return items;
}

std::string limit_utf8(const std::string& text, size_t max_chars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // A character starts at every byte that is not a continuation byte.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == max_chars) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

}  // namespace ostel::exporting
