#pragma once
// The shooting data and texts written into exported files, and the values
// they become: text items, dates in the Exif form and rationals.
#include <cstdint>
#include <optional>
#include <string>

namespace ostel::exporting {

// Software texts: the 8-bit formats and the 16-bit TIFF carry different ones.
inline constexpr const char* kSoftware8Bit = "Ostel RAW Pro 0.99";
inline constexpr const char* kSoftware16Bit = "Ostel RAW 0.99 Pro";
inline constexpr const char* kProfileDescriptor = "Ostel RAW Profile";
// Author and copyright texts are limited to this many characters.
inline constexpr size_t kMaxPersonText = 99;

// Copied from the decoder's shooting data by the document.
struct ShootingData {
    std::string make, model;
    std::string capture_time;  // "YYYY-MM-DD hh:mm:ss"; empty when unknown
    double iso = 0;
    double shutter = 0;        // seconds
    double aperture = 0;       // f-number
    double focal_length = 0;   // millimetres
};

struct Rational {
    uint32_t numerator = 0, denominator = 1;
    double value() const { return double(numerator) / double(denominator); }
};

// Every item an export attaches. Numeric items the camera did not record
// (zero or negative) are absent rather than written as nonsense.
struct MetadataItems {
    std::string make, model, artist, copyright;
    // The capture time as "YYYY:MM:DD hh:mm:ss", the only form Exif readers
    // take; written as the file's date and as the original (and digitized)
    // date of the Exif block. Empty when unknown.
    std::string date_time;
    uint16_t colour_space = 1;  // sRGB
    // Exposure time as cameras state it (1/400, 1/8, 2, 13/10 s); the
    // f-number as a decimal fraction (28/5 for f/5.6); the aperture value in
    // APEX units and the focal length with a denominator of 10000.
    std::optional<Rational> exposure_time, f_number, aperture_value, focal_length;
    std::optional<uint16_t> iso;
};

MetadataItems metadata_items(const ShootingData& shot, const std::string& artist, const std::string& copyright);

// The first `max_chars` characters of a UTF-8 text, never splitting one.
std::string limit_utf8(const std::string& text, size_t max_chars);

// "YYYY-MM-DD hh:mm:ss" (or the Exif form itself) as "YYYY:MM:DD hh:mm:ss";
// empty for any other text.
std::string exif_date(const std::string& text);

// An exposure time in seconds as a rational: 1/n below a second when the
// value is such a reciprocal to float precision, otherwise the shortest
// decimal fraction that holds it, reduced. Absent for values that are not
// positive and finite.
std::optional<Rational> exposure_rational(double seconds);

// A positive value as the shortest decimal fraction (denominator 1, 10, ...
// up to 1000000) that holds it to float precision, reduced; the numerator is
// clamped for values beyond 32 bits. Absent for values that are not positive
// and finite, or that round to 0.
std::optional<Rational> decimal_rational(double value);

}  // namespace ostel::exporting
