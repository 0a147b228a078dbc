#pragma once
// Label texts of the bars after a change, formed from control positions.
// Labels hold at most 19 characters, whatever the numbers.
#include <array>
#include <string>

#include "ui/controls/control_table.h"

namespace ostel::ui {

inline constexpr std::size_t kLabelLimit = 19;

// Sharpening radius of slider position v: v below 6, else v sqrt(v) / 2.
int sharpening_radius(int position);
// A white-balance correction 0.03 v as text: two decimals, or three
// significant digits in general notation for very large values.
std::string correction_text(double value);
// Per-cent share of each mixer slider, 0 when the sum is 0.
std::array<int, 3> mixer_shares(int red, int green, int blue);

// Inputs of a label that are not the control's own position.
struct LabelContext {
    double iso = 0;                       // document ISO (exposure label)
    std::array<int, 3> mixer{0, 0, 0};    // the three mixer positions
};

// The text of `row`'s label at `position`; empty when the row has none.
std::string label_text(const ControlRow& row, int position, const LabelContext& context);

}  // namespace ostel::ui
