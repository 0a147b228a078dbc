#include "develop/control_source.h"

#include <cmath>

#include "develop/control_tags.h"

namespace ostel::develop {

double initial_control_value(int t) {
    switch (t) {
        case tag::kRecovery: return 1;     // highlight recovery is ticked at start
        case tag::kSharpRadius: return 1;
        default: return 0;                 // sliders at 0, boxes off, first list entry
    }
}

double MapControlSource::value(int tag) const {
    const auto it = values_.find(tag);
    return it != values_.end() ? it->second : initial_control_value(tag);
}

std::string MapControlSource::text(int t) const {
    const auto it = texts_.find(t);
    if (it != texts_.end()) return it->second;
    switch (t) {
        case tag::kInputProfile: return "Ostel RAW";
        case tag::kOutputProfile:
        case tag::kDisplayProfile: return "Ostel sRGB";
        default: return {};
    }
}

namespace {

// Slider position whose multiplier 1 + 0.03 v lies nearest to m.
double wb_slider_position(double m) {
    if (!std::isfinite(m)) return 0;
    return std::floor((m - 1.0) * (100.0 / 3.0) + 0.5);
}

}  // namespace

void MapControlSource::set_white_balance_sliders(double red, double blue) {
    values_[tag::kWbRed] = wb_slider_position(red);
    values_[tag::kWbBlue] = wb_slider_position(blue);
}

}  // namespace ostel::develop
