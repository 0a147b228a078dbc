#pragma once
// The shooting data and texts written into exported files, and the values
// they become: text items and rationals with a denominator of 10000.
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
    std::string make, model, artist, copyright, date_time;
    uint16_t colour_space = 1;  // sRGB
    std::optional<Rational> exposure_time, aperture_value, focal_length;
    std::optional<uint16_t> iso;
};

MetadataItems metadata_items(const ShootingData& shot, const std::string& artist, const std::string& copyright);

// The first `max_chars` characters of a UTF-8 text, never splitting one.
std::string limit_utf8(const std::string& text, size_t max_chars);

}  // namespace ostel::exporting
