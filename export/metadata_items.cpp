#include "export/metadata_items.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace ostel::exporting {

namespace {

constexpr uint32_t kDenominator = 10000;
constexpr double kMaxNumerator = double(std::numeric_limits<uint32_t>::max());
// Shooting data arrives as single-precision floats: about seven significant
// digits, so a relative difference this small is no difference.
constexpr double kFloatPrecision = 1e-6;

// value x 10000 truncated; absent for values the camera did not record,
// and clamped where a large value would overflow the numerator.
std::optional<Rational> fixed_rational(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) return std::nullopt;
    const double scaled = std::floor(value * kDenominator);
    return Rational{uint32_t(scaled >= kMaxNumerator ? kMaxNumerator : scaled), kDenominator};
}

Rational reduced(uint32_t numerator, uint32_t denominator) {
    const uint32_t divisor = std::gcd(numerator, denominator);
    return divisor > 1 ? Rational{numerator / divisor, denominator / divisor} : Rational{numerator, denominator};
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<Rational> decimal_rational(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) return std::nullopt;
    if (value >= kMaxNumerator) return Rational{uint32_t(kMaxNumerator), 1};
    double numerator = 0;
    uint32_t denominator = 1;
    for (uint32_t d = 1; d <= 1000000; d *= 10) {
        const double scaled = value * d;
        if (scaled > kMaxNumerator) break;  // finer steps no longer fit
        numerator = std::round(scaled);
        denominator = d;
        if (numerator >= 1 && std::abs(scaled - numerator) <= scaled * kFloatPrecision) break;
    }
    if (numerator < 1) return std::nullopt;
    return reduced(uint32_t(std::min(numerator, kMaxNumerator)), denominator);
}

std::optional<Rational> exposure_rational(double seconds) {
    if (!(seconds > 0.0) || !std::isfinite(seconds)) return std::nullopt;
    if (seconds < 1.0) {
        // 0.0025 is 1/400, even when it arrives as 0.00249999994.
        const double reciprocal = 1.0 / seconds;
        const double n = std::round(reciprocal);
        if (n <= kMaxNumerator && std::abs(reciprocal - n) <= n * kFloatPrecision) return Rational{1, uint32_t(n)};
    }
    return decimal_rational(seconds);
}

std::string exif_date(const std::string& text) {
    // Digits at every place but the separators of "YYYY-MM-DD hh:mm:ss".
    if (text.size() != 19) return {};
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool ok = i == 4 || i == 7 ? (c == '-' || c == ':')
                        : i == 10        ? c == ' '
                        : i == 13 || i == 16 ? c == ':'
                                             : is_digit(c);
        if (!ok) return {};
    }
    std::string exif = text;
    exif[4] = exif[7] = ':';
    return exif;
}

MetadataItems metadata_items(const ShootingData& shot, const std::string& artist, const std::string& copyright) {
    MetadataItems items;
    items.make = shot.make;
    items.model = shot.model;
    items.artist = limit_utf8(artist, kMaxPersonText);
    items.copyright = limit_utf8(copyright, kMaxPersonText);
    items.date_time = exif_date(shot.capture_time);
    items.exposure_time = exposure_rational(shot.shutter);
    // The aperture value is the APEX number 2 log2(N); below f/1 it would be
    // negative, which an unsigned rational cannot hold.
    items.f_number = decimal_rational(shot.aperture);
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
