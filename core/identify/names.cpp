// Normalisation of the maker and model texts, so that the camera rules and
// the colour table can compare them exactly.
#include <array>
#include <cstring>
#include <strings.h>

#include "core/identify/identify_steps.h"

namespace ostel::core {
namespace {

// Tried in order; a later entry found in the maker text overrides an earlier one.
constexpr std::array<const char*, 16> kMakerNames = {
    "Canon",  "NIKON", "EPSON", "KODAK",     "Kodak",   "OLYMPUS", "PENTAX", "MINOLTA",
    "Minolta", "Konica", "CASIO", "Sinar", "Phase One", "SAMSUNG", "Mamiya", "MOTOROLA",
};

template <size_t N>
void trim_trailing_blanks(char (&text)[N]) {
    size_t len = strnlen(text, N - 1);
    while (len > 0 && text[len - 1] == ' ') text[--len] = 0;
}

template <size_t N>
void drop_prefix(char (&text)[N], size_t count) {
    const size_t len = strnlen(text, N - 1);
    if (count > len) count = len;
    std::memmove(text, text + count, len - count + 1);
}

}  // namespace

void normalise_names(DecoderSession& s) {
    // Parsers fill these from file bytes; make sure they are terminated
    // before any string function runs over them.
    s.make[sizeof s.make - 1] = 0;
    s.model[sizeof s.model - 1] = 0;

    for (const char* name : kMakerNames)
        if (std::strstr(s.make, name)) set_text(s.make, name);

    const bool kodak = std::strncmp(s.make, "KODAK", 5) == 0;
    char* cut = std::strstr(s.model, kodak ? " DIGITAL CAMERA" : " Digital Camera");
    if (!cut) cut = std::strstr(s.model, "FILE VERSION");
    if (cut) *cut = 0;

    trim_trailing_blanks(s.make);
    trim_trailing_blanks(s.model);

    const size_t make_len = std::strlen(s.make);
    if (make_len > 0 && strncasecmp(s.model, s.make, make_len) == 0 && s.model[make_len] == ' ')
        drop_prefix(s.model, make_len + 1);
    if (std::strncmp(s.model, "Digital Camera ", 15) == 0) drop_prefix(s.model, 15);

    s.make[sizeof s.make - 1] = 0;
    s.model[sizeof s.model - 1] = 0;
    s.model_extra[sizeof s.model_extra - 1] = 0;
    s.artist[sizeof s.artist - 1] = 0;
    s.description[sizeof s.description - 1] = 0;
}

}  // namespace ostel::core
